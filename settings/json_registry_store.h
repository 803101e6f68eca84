// The per-user store as one JSON file, registry.json: an object whose members are key paths, each an
// object of values (a string is REG_SZ, an integer in 0..4294967295 is REG_DWORD, anything else has
// the wrong type). Key paths and value names compare case-insensitively (ASCII letters), as the
// registry's do. Every call reads the file afresh, so several accessors and processes see one
// another's writes; every write replaces the whole file atomically. Not thread-safe.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "settings/registry_store.h"

namespace quillet {

class JsonRegistryStore final : public RegistryStore {
 public:
  // The store lives in folder/registry.json; the folder is created at the first write.
  explicit JsonRegistryStore(std::string folder);

  int openKey(const std::string& path, KeyAccess access, std::unique_ptr<RegistryKey>& key) override;
  int createKey(const std::string& path, std::unique_ptr<RegistryKey>& key) override;

  const std::string& filePath() const { return filePath_; }

  // Test seam: called with the temporary file's path after the new contents are written and
  // flushed and before it is renamed over the store, where a crash must leave the old store whole.
  void setBeforeReplaceHook(std::function<void(const std::string& tempPath)> hook) {
    beforeReplace_ = std::move(hook);
  }

 private:
  class Document;
  class Key;

  // Reads and parses the store into doc; a missing file is an empty store. A file that cannot be
  // parsed is renamed to registry.json.corrupt and read as empty. Returns 0 or an errno.
  int load(Document& doc);
  // Writes doc to a temporary file in the folder, flushes it and renames it over the store.
  // Returns 0 or an errno; on failure the previous store is untouched and no temporary is left.
  int save(const Document& doc);

  std::string folder_;
  std::string filePath_;
  std::function<void(const std::string&)> beforeReplace_;
};

}  // namespace quillet
