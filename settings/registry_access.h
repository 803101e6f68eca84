// The access class through which every read and write of the per-user registry goes. Short-lived,
// one per use; holds at most one open key. Not thread-safe: main thread only, never shared.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "settings/err_exception.h"
#include "settings/registry_store.h"

namespace quillet {

// Every operation first closes a key a previous one left open. On success the key it opened stays
// open until the next operation, closeKey() or the destructor; on failure the key is closed and a
// CErrException is thrown. The operations are virtual so that tests can stand in for the store.
class RegistryAccess {
 public:
  // Data size passed to every string read: a text of up to 260 characters and its NUL.
  static constexpr std::uint32_t kBufferCapacity = 261;

  // The store must outlive the access object.
  explicit RegistryAccess(RegistryStore& store);
  virtual ~RegistryAccess();
  RegistryAccess(const RegistryAccess&) = delete;
  RegistryAccess& operator=(const RegistryAccess&) = delete;

  // Returns only when the key exists (opened for reading and closed at once); errOpenKey otherwise.
  virtual void keyExists(const std::string& keyPath);
  // Creates the key or opens the existing one; errCreateKey on failure.
  virtual void createKey(const std::string& keyPath);
  // Creates the key when missing, then reads a REG_DWORD value. errCreateKey when the key cannot be
  // made; errQueryValue when the value is missing, unreadable or of another type.
  virtual void readDword(const std::string& keyPath, const std::string& valueName, std::uint32_t& value);
  // Creates the key when missing and writes a REG_DWORD value; errCreateKey or errSetValue.
  virtual void writeDword(const std::string& keyPath, const std::string& valueName, std::uint32_t value);
  // Opens the key with full access but never creates it: errOpenKey when it is missing. Reads a
  // REG_SZ of at most 260 characters; errQueryValue when the value is missing, longer, or of
  // another type. On any failure text is set to "" before the exception is thrown.
  virtual void readString(const std::string& keyPath, const std::string& valueName, std::string& text);
  // Creates the key when missing and writes a REG_SZ value with its NUL; errCreateKey or errSetValue.
  virtual void writeString(const std::string& keyPath, const std::string& valueName, const std::string& text);

  // Starts a pass over the store: the operations up to endPass() read a file-backed store once and
  // write it back once (see RegistryStore::beginPass). Passes nest.
  void beginPass();
  // Ends the pass and writes back what it changed. When that fails none of the pass's changes are
  // kept, and errSetValue is thrown with an empty name and the store's detail.
  void endPass();

  // Closes the open key, if any.
  void closeKey();
  bool hasOpenKey() const { return openKey_ != nullptr; }

 private:
  // Closes what is open and throws the failure.
  [[noreturn]] void fail(std::int32_t code, const std::string& name, int systemError);
  void openForWriting(const std::string& keyPath);
  void setValue(const std::string& valueName, RegistryType type, const void* data, std::uint32_t size);

  RegistryStore& store_;
  const std::uint32_t bufferCapacity_ = kBufferCapacity;
  std::array<char, kBufferCapacity> valueBuffer_{};
  std::unique_ptr<RegistryKey> openKey_;
};

// A pass for the lifetime of a scope. end() ends it and reports a failed write-back; otherwise the
// destructor ends it and ignores one.
class RegistryPass {
 public:
  explicit RegistryPass(RegistryAccess& access) : access_(access) { access_.beginPass(); }
  ~RegistryPass();
  RegistryPass(const RegistryPass&) = delete;
  RegistryPass& operator=(const RegistryPass&) = delete;
  // Ends the pass now; throws as RegistryAccess::endPass does.
  void end();

 private:
  RegistryAccess& access_;
  bool open_ = true;
};

}  // namespace quillet
