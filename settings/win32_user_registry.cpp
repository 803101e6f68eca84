// The per-user store on the real registry: RegOpenKeyExA, RegCreateKeyA, RegQueryValueExA and
// RegSetValueExA under HKEY_CURRENT_USER. Results are the registry functions' own codes. Not
// thread-safe: main thread only.
#include "settings/win32_user_registry.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace quillet {
namespace {

RegistryType storeType(DWORD type) {
  switch (type) {
    case REG_SZ: return RegistryType::String;
    case REG_DWORD: return RegistryType::Dword;
    // REG_EXPAND_SZ, REG_BINARY, REG_QWORD, ...: another type than any the settings use.
    default: return RegistryType::None;
  }
}

class Win32RegistryKey final : public RegistryKey {
 public:
  explicit Win32RegistryKey(HKEY key) : key_(key) {}
  ~Win32RegistryKey() override { ::RegCloseKey(key_); }
  Win32RegistryKey(const Win32RegistryKey&) = delete;
  Win32RegistryKey& operator=(const Win32RegistryKey&) = delete;

  int queryValue(const std::string& name, RegistryType& type, void* data, std::uint32_t& size) override {
    DWORD systemType = REG_NONE;
    DWORD bytes = size;
    const LONG err =
        ::RegQueryValueExA(key_, name.c_str(), nullptr, &systemType, static_cast<BYTE*>(data), &bytes);
    // On ERROR_MORE_DATA bytes holds the size the value needs.
    size = bytes;
    if (err != ERROR_SUCCESS) return static_cast<int>(err);
    type = storeType(systemType);
    return kStoreOk;
  }

  int setValue(const std::string& name, RegistryType type, const void* data, std::uint32_t size) override {
    return static_cast<int>(::RegSetValueExA(key_, name.c_str(), 0, static_cast<DWORD>(type),
                                             static_cast<const BYTE*>(data), size));
  }

 private:
  HKEY key_;
};

class Win32RegistryStore final : public RegistryStore {
 public:
  explicit Win32RegistryStore(HKEY base, bool ownsBase) : base_(base), ownsBase_(ownsBase) {}
  ~Win32RegistryStore() override {
    if (ownsBase_) ::RegCloseKey(base_);
  }
  Win32RegistryStore(const Win32RegistryStore&) = delete;
  Win32RegistryStore& operator=(const Win32RegistryStore&) = delete;

  int openKey(const std::string& path, KeyAccess access, std::unique_ptr<RegistryKey>& key) override {
    key.reset();
    HKEY opened = nullptr;
    const REGSAM rights = access == KeyAccess::Read ? KEY_READ : KEY_ALL_ACCESS;
    const LONG err = ::RegOpenKeyExA(base_, path.c_str(), 0, rights, &opened);
    if (err != ERROR_SUCCESS) return static_cast<int>(err);
    key = std::make_unique<Win32RegistryKey>(opened);
    return kStoreOk;
  }

  int createKey(const std::string& path, std::unique_ptr<RegistryKey>& key) override {
    key.reset();
    HKEY created = nullptr;
    const LONG err = ::RegCreateKeyA(base_, path.c_str(), &created);
    if (err != ERROR_SUCCESS) return static_cast<int>(err);
    key = std::make_unique<Win32RegistryKey>(created);
    return kStoreOk;
  }

 private:
  HKEY base_;
  bool ownsBase_;
};

// A store whose every operation fails with the code that kept its base key from opening, so that a
// registry refusing access behaves as one: each read falls back to its default, each write is
// reported.
class UnavailableRegistryStore final : public RegistryStore {
 public:
  explicit UnavailableRegistryStore(int err) : err_(err) {}
  int openKey(const std::string&, KeyAccess, std::unique_ptr<RegistryKey>& key) override {
    key.reset();
    return err_;
  }
  int createKey(const std::string&, std::unique_ptr<RegistryKey>& key) override {
    key.reset();
    return err_;
  }

 private:
  int err_;
};

}  // namespace

std::unique_ptr<RegistryStore> makeUserRegistryStoreBelow(const std::string& basePath) {
  if (basePath.empty()) return std::make_unique<Win32RegistryStore>(HKEY_CURRENT_USER, false);
  HKEY base = nullptr;
  const LONG err = ::RegCreateKeyA(HKEY_CURRENT_USER, basePath.c_str(), &base);
  if (err != ERROR_SUCCESS) return std::make_unique<UnavailableRegistryStore>(static_cast<int>(err));
  return std::make_unique<Win32RegistryStore>(base, true);
}

std::unique_ptr<RegistryStore> makeUserRegistryStore() { return makeUserRegistryStoreBelow(""); }

int deleteUserRegistryTree(const std::string& path) {
  return static_cast<int>(::RegDeleteTreeA(HKEY_CURRENT_USER, path.c_str()));
}

}  // namespace quillet
