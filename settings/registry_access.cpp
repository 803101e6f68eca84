// Registry access: the open/create/close discipline and the typed reads and writes on a store.
#include "settings/registry_access.h"

#include <cstring>

namespace quillet {

RegistryAccess::RegistryAccess(RegistryStore& store) : store_(store) {}

RegistryAccess::~RegistryAccess() { closeKey(); }

void RegistryAccess::closeKey() { openKey_.reset(); }

void RegistryAccess::fail(std::int32_t code, const std::string& name, int systemError) {
  closeKey();
  throw CErrException(code, name, systemError, systemError != 0 ? store_.failureDetail() : std::string());
}

void RegistryAccess::beginPass() { store_.beginPass(); }

void RegistryAccess::endPass() {
  if (const int err = store_.endPass()) throw CErrException(errSetValue, "", err, store_.failureDetail());
}

RegistryPass::~RegistryPass() {
  if (!open_) return;
  try {
    access_.endPass();
  } catch (const CErrException&) {
    // Whoever needed to know ended the pass with end().
  }
}

void RegistryPass::end() {
  open_ = false;
  access_.endPass();
}

void RegistryAccess::keyExists(const std::string& keyPath) {
  closeKey();
  if (const int err = store_.openKey(keyPath, KeyAccess::Read, openKey_)) fail(errOpenKey, keyPath, err);
  closeKey();
}

void RegistryAccess::createKey(const std::string& keyPath) {
  closeKey();
  if (const int err = store_.createKey(keyPath, openKey_)) fail(errCreateKey, keyPath, err);
}

void RegistryAccess::openForWriting(const std::string& keyPath) {
  closeKey();
  if (const int err = store_.createKey(keyPath, openKey_)) fail(errCreateKey, keyPath, err);
}

void RegistryAccess::setValue(const std::string& valueName, RegistryType type, const void* data,
                              std::uint32_t size) {
  if (const int err = openKey_->setValue(valueName, type, data, size)) fail(errSetValue, valueName, err);
}

void RegistryAccess::readDword(const std::string& keyPath, const std::string& valueName,
                               std::uint32_t& value) {
  openForWriting(keyPath);
  RegistryType type = RegistryType::None;
  std::uint32_t number = 0;
  std::uint32_t size = sizeof number;
  if (const int err = openKey_->queryValue(valueName, type, &number, size))
    fail(errQueryValue, valueName, err);
  if (type != RegistryType::Dword || size != sizeof number) fail(errQueryValue, valueName, 0);
  value = number;
}

void RegistryAccess::writeDword(const std::string& keyPath, const std::string& valueName,
                                std::uint32_t value) {
  openForWriting(keyPath);
  setValue(valueName, RegistryType::Dword, &value, sizeof value);
}

void RegistryAccess::readString(const std::string& keyPath, const std::string& valueName, std::string& text) {
  try {
    closeKey();
    if (const int err = store_.openKey(keyPath, KeyAccess::AllAccess, openKey_)) {
      fail(errOpenKey, keyPath, err);
    }
    RegistryType type = RegistryType::None;
    std::uint32_t size = bufferCapacity_;
    if (const int err = openKey_->queryValue(valueName, type, valueBuffer_.data(), size)) {
      fail(errQueryValue, valueName, err);
    }
    if (type != RegistryType::String) fail(errQueryValue, valueName, 0);
    // The stored text ends at its first NUL, or at the end of the data when the NUL is missing.
    text.assign(valueBuffer_.data(), ::strnlen(valueBuffer_.data(), size));
  } catch (const CErrException&) {
    text.clear();
    throw;
  }
}

void RegistryAccess::writeString(const std::string& keyPath, const std::string& valueName,
                                 const std::string& text) {
  openForWriting(keyPath);
  // The size includes the terminator; an embedded NUL ends the stored text, as the registry reads it.
  setValue(valueName, RegistryType::String, text.c_str(), static_cast<std::uint32_t>(text.size() + 1));
}

}  // namespace quillet
