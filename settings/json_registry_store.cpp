// The JSON-file store: a parser that refuses what it cannot take safely, case-insensitive lookup,
// and passes that read and replace the file once.
#include "settings/json_registry_store.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <nlohmann/json.hpp>
#include <optional>
#include <string_view>
#include <utility>

#include "platform/system.h"

namespace quillet {
namespace {

using Json = nlohmann::ordered_json;  // keeps members in the order they were written

constexpr std::uint64_t kDwordMax = 0xFFFFFFFFu;

char asciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool sameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (asciiLower(a[i]) != asciiLower(b[i])) return false;
  }
  return true;
}

Json::iterator findMember(Json& object, std::string_view name) {
  for (auto it = object.begin(); it != object.end(); ++it) {
    if (sameName(it.key(), name)) return it;
  }
  return object.end();
}

bool isDword(const Json& value) {
  if (value.is_number_unsigned()) return value.get<std::uint64_t>() <= kDwordMax;
  if (value.is_number_integer()) {
    const std::int64_t n = value.get<std::int64_t>();
    return n >= 0 && static_cast<std::uint64_t>(n) <= kDwordMax;
  }
  return false;
}

// The shape every store must have: an object of key objects.
bool isWellFormed(const Json& json) {
  if (!json.is_object()) return false;
  for (const auto& member : json.items()) {
    if (!member.value().is_object()) return false;
  }
  return true;
}

// Walks a text as the parser will, without building anything, and stops at the first level deeper
// than the limit: copying or printing a document recurses once per level, so a deep one would
// overflow the stack there.
class DepthCheck final : public nlohmann::json_sax<Json> {
 public:
  explicit DepthCheck(int maxDepth) : maxDepth_(maxDepth) {}

  bool null() override { return true; }
  bool boolean(bool) override { return true; }
  bool number_integer(number_integer_t) override { return true; }
  bool number_unsigned(number_unsigned_t) override { return true; }
  bool number_float(number_float_t, const string_t&) override { return true; }
  bool string(string_t&) override { return true; }
  bool binary(binary_t&) override { return true; }
  bool start_object(std::size_t) override { return enter(); }
  bool key(string_t&) override { return true; }
  bool end_object() override { return leave(); }
  bool start_array(std::size_t) override { return enter(); }
  bool end_array() override { return leave(); }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
    return false;
  }

 private:
  bool enter() { return ++depth_ <= maxDepth_; }
  bool leave() {
    --depth_;
    return true;
  }
  int maxDepth_;
  int depth_ = 0;
};

// The store's text as a document, or nothing when it is not one this store can take safely.
std::optional<Json> parseStore(const std::string& text) {
  DepthCheck check(JsonRegistryStore::kMaxDepth);
  try {
    if (!Json::sax_parse(text, &check)) return std::nullopt;
    Json parsed = Json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (parsed.is_discarded() || !isWellFormed(parsed)) return std::nullopt;
    return parsed;
  } catch (const Json::exception&) {
    return std::nullopt;
  }
}

// The file's text: one member a line, so that a user can read and mend it. Throws type_error for
// a text that is not UTF-8.
std::string storeText(const Json& json) { return json.dump(2) + "\n"; }

Status failureOf(const std::string& path, int err) {
  return Status::failure(ErrorKind::Other, err, path, std::strerror(err));
}

}  // namespace

class JsonRegistryStore::Document {
 public:
  Json json = Json::object();

  Json* findKey(std::string_view path) {
    const auto it = findMember(json, path);
    return it == json.end() ? nullptr : &it.value();
  }

  // A key exists when it has a member of its own or when a deeper key lies below it, as a
  // registry key exists once any of its sub-keys was created.
  bool keyExists(std::string_view path) {
    for (const auto& member : json.items()) {
      const std::string& key = member.key();
      if (sameName(key, path)) return true;
      if (key.size() > path.size() && key[path.size()] == '\\' &&
          sameName(std::string_view(key).substr(0, path.size()), path)) {
        return true;
      }
    }
    return false;
  }

  Json& keyForWriting(const std::string& path) {
    if (Json* key = findKey(path)) return *key;
    return json[path] = Json::object();
  }
};

class JsonRegistryStore::Key final : public RegistryKey {
 public:
  Key(JsonRegistryStore& store, std::string path) : store_(store), path_(std::move(path)) {}

  int queryValue(const std::string& name, RegistryType& type, void* data, std::uint32_t& size) override {
    Document* doc = nullptr;
    if (const int err = store_.current(doc)) return err;
    Json* key = doc->findKey(path_);
    if (key == nullptr) return ENOENT;
    const auto it = findMember(*key, name);
    if (it == key->end()) return ENOENT;
    const Json& value = it.value();
    if (value.is_string()) {
      const auto& text = value.get_ref<const std::string&>();
      type = RegistryType::String;
      if (text.size() + 1 > size) {
        size = static_cast<std::uint32_t>(std::min<std::size_t>(text.size() + 1, kDwordMax));
        return EOVERFLOW;
      }
      std::memcpy(data, text.c_str(), text.size() + 1);
      size = static_cast<std::uint32_t>(text.size() + 1);
      return 0;
    }
    if (isDword(value)) {
      type = RegistryType::Dword;
      const std::uint32_t number = static_cast<std::uint32_t>(value.get<std::uint64_t>());
      if (size < sizeof number) {
        size = sizeof number;
        return EOVERFLOW;
      }
      std::memcpy(data, &number, sizeof number);
      size = sizeof number;
      return 0;
    }
    type = RegistryType::None;
    size = 0;
    return 0;
  }

  int setValue(const std::string& name, RegistryType type, const void* data, std::uint32_t size) override {
    store_.failure_ = Status();  // the checks below fail before any file is touched
    Json value;
    if (type == RegistryType::String) {
      const char* text = static_cast<const char*>(data);
      value = std::string(text, ::strnlen(text, size));
      try {
        (void)value.dump();
      } catch (const Json::type_error&) {
        return EILSEQ;  // a text that is not UTF-8 has no JSON spelling
      }
    } else if (type == RegistryType::Dword && size == sizeof(std::uint32_t)) {
      std::uint32_t number = 0;
      std::memcpy(&number, data, sizeof number);
      value = number;
    } else {
      return EINVAL;
    }
    Document* doc = nullptr;
    if (const int err = store_.current(doc)) return err;
    const bool keyExisted = doc->findKey(path_) != nullptr;
    Json& key = doc->keyForWriting(path_);
    auto it = findMember(key, name);
    std::optional<Json> previous;
    if (it != key.end()) {
      // Nothing for a pass to write back; a single write still goes to the file, so that it fails
      // where the store cannot be written, as the registry's would.
      if (it.value() == value && it.value().type() == value.type()) return store_.changed(*doc, false);
      previous = std::exchange(it.value(), std::move(value));
    } else {
      key[name] = std::move(value);
    }
    // Refused here rather than when the pass ends, where it would cost every other change too.
    if (storeText(doc->json).size() > kMaxFileBytes) {
      if (previous) {
        findMember(key, name).value() = std::move(*previous);
      } else {
        key.erase(findMember(key, name));
        if (!keyExisted) doc->json.erase(findMember(doc->json, path_));
      }
      return store_.tooLarge();
    }
    return store_.changed(*doc, true);
  }

 private:
  JsonRegistryStore& store_;
  std::string path_;
};

JsonRegistryStore::JsonRegistryStore(std::string folder)
    : folder_(std::move(folder)), filePath_(folder_ + "/registry.json") {}

JsonRegistryStore::~JsonRegistryStore() = default;

int JsonRegistryStore::openKey(const std::string& path, KeyAccess /*access*/,
                               std::unique_ptr<RegistryKey>& key) {
  // A file has no per-key rights: whether the store may be changed shows at the first write.
  Document* doc = nullptr;
  if (const int err = current(doc)) return err;
  if (!doc->keyExists(path)) return ENOENT;
  key = std::make_unique<Key>(*this, path);
  return 0;
}

int JsonRegistryStore::createKey(const std::string& path, std::unique_ptr<RegistryKey>& key) {
  Document* doc = nullptr;
  if (const int err = current(doc)) return err;
  if (!doc->keyExists(path)) {
    doc->json[path] = Json::object();
    if (const int err = changed(*doc, true)) return err;
  }
  key = std::make_unique<Key>(*this, path);
  return 0;
}

void JsonRegistryStore::beginPass() { ++passDepth_; }

int JsonRegistryStore::endPass() {
  if (passDepth_ == 0 || --passDepth_ > 0) return 0;
  failure_ = Status();
  const int err = passChanged_ && document_ ? save(*document_) : 0;
  // The next pass reads afresh, and sees what others wrote meanwhile.
  document_.reset();
  passRead_ = passChanged_ = false;
  passReadError_ = 0;
  passReadFailure_ = Status();
  return err;
}

int JsonRegistryStore::current(Document*& doc) {
  failure_ = Status();
  if (passDepth_ > 0 && passRead_) {
    failure_ = passReadFailure_;
    doc = document_.get();
    return passReadError_;
  }
  document_ = std::make_unique<Document>();
  const int err = load(*document_);
  if (passDepth_ > 0) {
    passRead_ = true;
    passReadError_ = err;
    passReadFailure_ = failure_;
  }
  doc = document_.get();
  return err;
}

int JsonRegistryStore::changed(Document& doc, bool differs) {
  if (passDepth_ == 0) return save(doc);
  passChanged_ = passChanged_ || differs;
  return 0;
}

int JsonRegistryStore::tooLarge() {
  failure_ = failureOf(filePath_, EFBIG);
  return EFBIG;
}

int JsonRegistryStore::load(Document& doc) {
  std::string text;
  const Status read = readWholeFile(filePath_, kMaxFileBytes, text);
  std::optional<Json> parsed;
  if (read.ok()) {
    parsed = parseStore(text);
  } else if (read.systemCode() == ENOENT) {
    doc.json = Json::object();
    return 0;
  } else if (read.systemCode() != EFBIG) {
    failure_ = read;
    return read.systemCode();
  }
  if (parsed) {
    doc.json = std::move(*parsed);
    return 0;
  }
  // Kept aside rather than overwritten, so that whatever the user had there can still be recovered.
  // When it cannot be moved, nothing may be written over it either: the call fails.
  const Status aside = setFileAside(filePath_, filePath_ + ".corrupt", kCorruptCopies);
  // Gone meanwhile: another process set it aside first.
  if (!aside.ok() && aside.systemCode() != ENOENT) {
    failure_ = aside;
    return aside.systemCode();
  }
  doc.json = Json::object();
  return 0;
}

int JsonRegistryStore::save(const Document& doc) {
  std::string text;
  try {
    text = storeText(doc.json);
  } catch (const Json::type_error&) {
    return EILSEQ;  // a text that is not UTF-8 has no JSON spelling
  }
  if (text.size() > kMaxFileBytes) return tooLarge();
  const Status folder = createFolderTree(folder_);
  if (!folder.ok()) {
    failure_ = folder;
    return folder.systemCode() != 0 ? folder.systemCode() : EIO;
  }
  const Status replaced = replaceFileAtomically(filePath_, text, beforeReplace_);
  if (!replaced.ok()) {
    failure_ = replaced;
    return replaced.systemCode() != 0 ? replaced.systemCode() : EIO;
  }
  return 0;
}

}  // namespace quillet
