// A registry store held in memory, the same on every system: keys by path, values with their type
// and bytes. For suites that need settings without a file or the real registry. Tests only; one
// thread.
#pragma once

#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "settings/registry_store.h"

namespace quillet::test_support {

class MemoryRegistryStore final : public RegistryStore {
 public:
  struct Value {
    RegistryType type = RegistryType::None;
    std::vector<unsigned char> bytes;
  };
  using Key = std::map<std::string, Value>;

  int openKey(const std::string& path, KeyAccess, std::unique_ptr<RegistryKey>& key) override {
    const auto found = keys.find(path);
    if (found == keys.end()) return ENOENT;
    key = std::make_unique<OpenKey>(found->second);
    return kStoreOk;
  }
  int createKey(const std::string& path, std::unique_ptr<RegistryKey>& key) override {
    key = std::make_unique<OpenKey>(keys[path]);
    return kStoreOk;
  }

  std::map<std::string, Key> keys;

 private:
  class OpenKey final : public RegistryKey {
   public:
    explicit OpenKey(Key& values) : values(values) {}
    int queryValue(const std::string& name, RegistryType& type, void* data, std::uint32_t& size) override {
      const auto found = values.find(name);
      if (found == values.end()) return ENOENT;
      const auto needed = static_cast<std::uint32_t>(found->second.bytes.size());
      if (needed > size) {
        size = needed;
        return EOVERFLOW;
      }
      type = found->second.type;
      size = needed;
      if (needed > 0) std::memcpy(data, found->second.bytes.data(), needed);
      return kStoreOk;
    }
    int setValue(const std::string& name, RegistryType type, const void* data, std::uint32_t size) override {
      const auto* bytes = static_cast<const unsigned char*>(data);
      values[name] = Value{type, std::vector<unsigned char>(bytes, bytes + size)};
      return kStoreOk;
    }

   private:
    Key& values;
  };
};

}  // namespace quillet::test_support
