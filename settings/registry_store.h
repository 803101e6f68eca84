// The per-user store under RegistryAccess, reduced to the primitives a registry offers: open or
// create a key, query and set a typed value. One implementation per system (a JSON file on POSIX,
// the real registry on Windows), chosen by CMake through makeUserRegistryStore(). Implementations
// are not thread-safe: the store is used from the main thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace quillet {

// Value types, numbered as the registry numbers them.
enum class RegistryType : std::uint32_t {
  None = 0,    // anything the store cannot express as text or 32-bit number
  String = 1,  // REG_SZ: text, stored with its terminating NUL
  Dword = 4,   // REG_DWORD: 32-bit unsigned number
};

// What an open key is wanted for: Read (KEY_READ) or AllAccess (KEY_ALL_ACCESS).
enum class KeyAccess { Read, AllAccess };

// Result codes of the primitives: 0 on success, otherwise the system's code (errno on POSIX).
inline constexpr int kStoreOk = 0;

// An open key; closed when destroyed.
class RegistryKey {
 public:
  virtual ~RegistryKey() = default;
  // Reads a value into data (capacity in size). On success type and size (bytes, a text's NUL
  // included) are set. A value larger than the capacity fails, with size set to
  // what it needs (EOVERFLOW; ERROR_MORE_DATA on Windows); a missing value fails with ENOENT
  // (ERROR_FILE_NOT_FOUND).
  virtual int queryValue(const std::string& name, RegistryType& type, void* data, std::uint32_t& size) = 0;
  // Creates or replaces a value; a String's data ends with its NUL, a Dword's is 4 bytes.
  virtual int setValue(const std::string& name, RegistryType type, const void* data, std::uint32_t size) = 0;
};

class RegistryStore {
 public:
  virtual ~RegistryStore() = default;
  // Opens an existing key; never creates one.
  virtual int openKey(const std::string& path, KeyAccess access, std::unique_ptr<RegistryKey>& key) = 0;
  // Opens the key, creating it (and whatever it needs above it) when missing.
  virtual int createKey(const std::string& path, std::unique_ptr<RegistryKey>& key) = 0;

  // A pass groups the calls up to endPass() so that a store kept in one file reads it once, at the
  // first call, and writes it back once, at endPass(), only when something changed. Writes inside
  // a pass are seen by the pass's own reads at once and by others after endPass(); outside a pass
  // every call stands alone. Passes nest: only the outermost endPass() writes. The registry, which
  // writes value by value, ignores passes.
  virtual void beginPass() {}
  // Ends a pass; returns 0 or the system's code when writing back failed, in which case none of
  // the pass's changes were kept.
  virtual int endPass() { return kStoreOk; }

  // "<file>: <system's reason>" for the file operation that made the last failing call fail; empty
  // when that failure was not about a file (a missing key or value) or the store has no files.
  virtual std::string failureDetail() const { return {}; }
};

// The current user's store: the registry's current-user hive on Windows, the JSON file in the
// per-user configuration folder elsewhere.
std::unique_ptr<RegistryStore> makeUserRegistryStore();

}  // namespace quillet
