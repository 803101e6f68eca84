// The per-user store on Windows: the registry's HKEY_CURRENT_USER hive, or a key below it that
// stands in for the hive (so that tests work in a key of their own). Not thread-safe: main thread
// only, as every RegistryStore.
#pragma once

#include <memory>
#include <string>

#include "settings/registry_store.h"

namespace quillet {

// A store whose key paths are relative to HKEY_CURRENT_USER\basePath; that key is created when
// missing. An empty basePath is the hive itself, as makeUserRegistryStore() gives.
std::unique_ptr<RegistryStore> makeUserRegistryStoreBelow(const std::string& basePath);

// Deletes HKEY_CURRENT_USER\path with every key and value below it. Returns 0 or the registry
// function's result (ERROR_FILE_NOT_FOUND when there is no such key).
int deleteUserRegistryTree(const std::string& path);

}  // namespace quillet
