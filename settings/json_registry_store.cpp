// The JSON-file store: parsing, case-insensitive lookup and the atomic replace of the file.
#include "settings/json_registry_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string_view>

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

int readWholeFile(const std::string& path, std::string& text) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  char buffer[8192];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      ::close(fd);
      return err;
    }
    text.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return 0;
}

int writeAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    done += static_cast<std::size_t>(n);
  }
  return 0;
}

// Makes a completed rename durable; a failure here cannot undo the rename, so it is not reported.
void syncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
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
    Document doc;
    if (const int err = store_.load(doc)) return err;
    Json* key = doc.findKey(path_);
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
    Json value;
    if (type == RegistryType::String) {
      const char* text = static_cast<const char*>(data);
      value = std::string(text, ::strnlen(text, size));
    } else if (type == RegistryType::Dword && size == sizeof(std::uint32_t)) {
      std::uint32_t number = 0;
      std::memcpy(&number, data, sizeof number);
      value = number;
    } else {
      return EINVAL;
    }
    Document doc;
    if (const int err = store_.load(doc)) return err;
    Json& key = doc.keyForWriting(path_);
    const auto it = findMember(key, name);
    if (it != key.end()) {
      it.value() = std::move(value);
    } else {
      key[name] = std::move(value);
    }
    return store_.save(doc);
  }

 private:
  JsonRegistryStore& store_;
  std::string path_;
};

JsonRegistryStore::JsonRegistryStore(std::string folder)
    : folder_(std::move(folder)), filePath_(folder_ + "/registry.json") {}

int JsonRegistryStore::openKey(const std::string& path, KeyAccess /*access*/,
                               std::unique_ptr<RegistryKey>& key) {
  // A file has no per-key rights: whether the store may be changed shows at the first write.
  Document doc;
  if (const int err = load(doc)) return err;
  if (!doc.keyExists(path)) return ENOENT;
  key = std::make_unique<Key>(*this, path);
  return 0;
}

int JsonRegistryStore::createKey(const std::string& path, std::unique_ptr<RegistryKey>& key) {
  Document doc;
  if (const int err = load(doc)) return err;
  if (!doc.keyExists(path)) {
    doc.json[path] = Json::object();
    if (const int err = save(doc)) return err;
  }
  key = std::make_unique<Key>(*this, path);
  return 0;
}

int JsonRegistryStore::load(Document& doc) {
  std::string text;
  if (const int err = readWholeFile(filePath_, text)) {
    if (err != ENOENT) return err;
    doc.json = Json::object();
    return 0;
  }
  Json parsed = Json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (!parsed.is_discarded() && isWellFormed(parsed)) {
    doc.json = std::move(parsed);
    return 0;
  }
  // Kept aside rather than overwritten, so that whatever the user had there can still be recovered.
  // When it cannot be moved, nothing may be written over it either: the call fails.
  if (::rename(filePath_.c_str(), (filePath_ + ".corrupt").c_str()) != 0) return errno;
  doc.json = Json::object();
  return 0;
}

int JsonRegistryStore::save(const Document& doc) {
  std::string text;
  try {
    text = doc.json.dump(2) + "\n";
  } catch (const Json::type_error&) {
    return EILSEQ;  // a text that is not UTF-8 has no JSON spelling
  }
  const Status folder = createFolderTree(folder_);
  if (!folder.ok()) return folder.systemCode() != 0 ? folder.systemCode() : EIO;
  // The rename would replace a store the user made read-only; respect the file's own rights.
  if (::access(filePath_.c_str(), W_OK) != 0 && errno != ENOENT) return errno;

  std::string tempPath = filePath_ + ".tmp-XXXXXX";
  const int fd = ::mkostemp(tempPath.data(), O_CLOEXEC);
  if (fd < 0) return errno;
  int err = writeAll(fd, text);
  if (err == 0 && ::fsync(fd) != 0) err = errno;
  if (::close(fd) != 0 && err == 0) err = errno;
  if (err == 0) {
    if (beforeReplace_) beforeReplace_(tempPath);
    if (::rename(tempPath.c_str(), filePath_.c_str()) != 0) err = errno;
  }
  if (err != 0) {
    ::unlink(tempPath.c_str());
    return err;
  }
  syncFolder(folder_);
  return 0;
}

}  // namespace quillet
