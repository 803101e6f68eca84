// The per-user store as one JSON file, registry.json: an object whose members are key paths, each an
// object of values (a string is REG_SZ, an integer in 0..4294967295 is REG_DWORD, anything else has
// the wrong type). Key paths and value names compare case-insensitively (ASCII letters), as the
// registry's do. Outside a pass every call reads the file afresh, so several accessors and
// processes see one another's writes, and every write replaces the whole file atomically; a pass
// reads it once and replaces it at most once. Not thread-safe.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "platform/atomic_file.h"
#include "platform/status.h"
#include "settings/registry_store.h"

namespace quillet {

class JsonRegistryStore final : public RegistryStore {
 public:
  // A store the parser cannot take safely counts as corrupt; a real one is a few KiB and three
  // levels deep.
  static constexpr std::size_t kMaxFileBytes = 4 * 1024 * 1024;
  static constexpr int kMaxDepth = 64;
  // Corrupt stores kept aside: registry.json.corrupt (the latest), .corrupt.1, .corrupt.2.
  static constexpr int kCorruptCopies = 3;

  // The store lives in folder/registry.json; the folder is created at the first write.
  explicit JsonRegistryStore(std::string folder);
  ~JsonRegistryStore() override;

  int openKey(const std::string& path, KeyAccess access, std::unique_ptr<RegistryKey>& key) override;
  int createKey(const std::string& path, std::unique_ptr<RegistryKey>& key) override;
  void beginPass() override;
  int endPass() override;
  std::string failureDetail() const override { return failure_.message(); }

  const std::string& filePath() const { return filePath_; }

  // Test seam: called with the temporary file's path after the new contents are written and
  // flushed and before it is renamed over the store, where a crash must leave the old store whole.
  // Called once per replace of the file.
  void setBeforeReplaceHook(BeforeReplace hook) { beforeReplace_ = std::move(hook); }

 private:
  class Document;
  class Key;

  // The document a call works on: inside a pass the one read at the pass's first call, otherwise
  // a fresh read. Returns 0 or an errno (with failure_ set).
  int current(Document*& doc);
  // To be called after a write to doc (differs: it changed something): writes the document at once
  // outside a pass; inside one, endPass() writes it when anything differs.
  int changed(Document& doc, bool differs);
  // Fails a write that would make the store larger than it may be read back: EFBIG.
  int tooLarge();
  // Reads and parses the store into doc; a missing file is an empty store. A corrupt one is set
  // aside and read as empty. Returns 0 or an errno.
  int load(Document& doc);
  // Replaces the store with doc. Returns 0 or an errno; on failure the previous store is untouched.
  int save(const Document& doc);

  std::string folder_;
  std::string filePath_;
  BeforeReplace beforeReplace_;
  // The document of the running pass, or of the last call outside one.
  std::unique_ptr<Document> document_;
  int passDepth_ = 0;
  bool passRead_ = false;  // document_ holds the pass's read (or passReadError_ its failure)
  int passReadError_ = 0;
  Status passReadFailure_;
  bool passChanged_ = false;  // the pass has something to write back
  // The file operation that failed in the last call; ok when none did.
  Status failure_;
};

}  // namespace quillet
