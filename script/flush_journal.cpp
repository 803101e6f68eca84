#include "script/flush_journal.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "platform/atomic_file.h"

namespace quillet {
namespace {

using nlohmann::ordered_json;

std::string hex64(std::uint64_t v) {
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(v));
  return text;
}

bool readHex64(const std::string& text, std::uint64_t& v) {
  if (text.size() != 16 || text.find_first_not_of("0123456789abcdef") != std::string::npos) return false;
  v = std::stoull(text, nullptr, 16);
  return true;
}

std::string dump(const ordered_json& j) {
  return j.dump(-1, ' ', false, ordered_json::error_handler_t::replace);
}

// A whole line's object, or null when the line is no journal line.
bool parseLine(const std::string& line, ordered_json& j) {
  j = ordered_json::parse(line, nullptr, false);
  return !j.is_discarded() && j.is_object();
}

}  // namespace

std::string journalHeaderLine(const JournalHeader& h) {
  ordered_json j;
  j["flush_journal"] = kJournalVersion;
  j["line"] = h.line;
  j["seed"] = h.seed;
  j["root"] = h.root;
  j["sync"] = h.sync;
  j["filled"] = h.filled;
  j["compress"] = h.shape.compressHundredths;
  j["dedupe"] = h.shape.dedupeHundredths;
  j["dedupe_block"] = h.shape.dedupeBlock;
  return dump(j);
}

std::string journalRecordLine(const AcknowledgedFile& f) {
  ordered_json j;
  j["file"] = f.path;
  j["size"] = f.size;
  j["id"] = hex64(f.fileId);
  return dump(j);
}

Result<std::unique_ptr<ScriptFlushJournal>> ScriptFlushJournal::open(const std::string& path,
                                                                     const std::string& runLine,
                                                                     const GenerationJob& job) {
  auto opened = openExclusiveAppend(path);
  if (!opened.ok()) return opened.status();
  JournalHeader header;
  header.line = runLine;
  header.root = job.rootFolder;
  header.sync = job.sync == SyncMode::End ? "end" : "file";
  header.filled = job.fillRandom;
  header.shape = job.content;
  return std::unique_ptr<ScriptFlushJournal>(
      new ScriptFlushJournal(std::move(opened.value()), path, std::move(header)));
}

Status ScriptFlushJournal::appendLine(const std::string& line) {
  if (const Status appended = file_->append(line + "\n"); !appended.ok()) return appended;
  return file_->flush();
}

Status ScriptFlushJournal::begin(std::uint64_t seed) {
  std::lock_guard guard(lock_);
  header_.seed = seed;
  // A line an earlier run left cut short is closed first, so the header starts a line of its own.
  const int last = file_->lastByte();
  const std::string start = last >= 0 && last != '\n' ? "\n" : "";
  return appendLine(start + journalHeaderLine(header_));
}

Status ScriptFlushJournal::acknowledge(const AcknowledgedFile& file) {
  std::lock_guard guard(lock_);
  if (!flushError_.ok()) return flushError_;
  if (const Status appended = file_->append(journalRecordLine(file) + "\n"); !appended.ok()) return appended;
  ++appended_;
  if (!flusher_.joinable()) flusher_ = std::thread([this] { flushRecords(); });
  changed_.notify_all();
  return {};
}

void ScriptFlushJournal::flushRecords() {
  std::unique_lock guard(lock_);
  for (;;) {
    changed_.wait(guard, [this] { return closing_ || appended_ > flushed_; });
    if (appended_ == flushed_) return;  // closing, nothing left
    // A flush of the journal costs about what a file's own flush does, often on the same device
    // queue: flushing after every record would double the flushes a /sync:file run pays. Records
    // gather for a moment first, so the journal costs twenty flushes a second at most; a record
    // still gathering when the power goes only leaves its file unchecked. The run's end does not
    // wait for the moment to pass.
    changed_.wait_for(guard, kJournalGathering, [this] { return closing_ || finishing_; });
    const std::int64_t target = appended_;
    guard.unlock();
    const Status flushed = file_->flush();
    guard.lock();
    if (!flushed.ok() && flushError_.ok()) flushError_ = flushed;
    flushed_ = target;
    changed_.notify_all();
  }
}

Status ScriptFlushJournal::finish() {
  std::unique_lock guard(lock_);
  finishing_ = true;
  changed_.notify_all();
  changed_.wait(guard, [this] { return flushed_ == appended_; });
  closing_ = true;
  changed_.notify_all();
  guard.unlock();
  if (flusher_.joinable()) flusher_.join();
  guard.lock();
  return flushError_;
}

ScriptFlushJournal::~ScriptFlushJournal() { (void)finish(); }

bool readJournal(const std::string& path, JournalContents& contents, std::string& why) {
  std::string text;
  if (const Status read = readWholeFile(path, std::size_t{1} << 32, text); !read.ok()) {
    why = read.message();
    return false;
  }
  contents = JournalContents{};
  bool headerSeen = false;
  std::size_t start = 0;
  while (start < text.size()) {
    const auto end = text.find('\n', start);
    if (end == std::string::npos) {
      ++contents.tornLines;  // the last line, cut short while it was written
      break;
    }
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    ordered_json j;
    if (!parseLine(line, j)) {
      if (!line.empty()) ++contents.tornLines;
      continue;
    }
    if (j.contains("flush_journal")) {
      if (!j["flush_journal"].is_number_integer() || j["flush_journal"].get<int>() != kJournalVersion ||
          !j["seed"].is_number_unsigned() || !j["line"].is_string()) {
        ++contents.tornLines;
        continue;
      }
      // A later run's header: only the last run is checked.
      contents.files.clear();
      JournalHeader& h = contents.header;
      h = JournalHeader{};
      h.line = j["line"].get<std::string>();
      h.seed = j["seed"].get<std::uint64_t>();
      h.root = j.value("root", std::string());
      h.sync = j.value("sync", std::string());
      h.filled = j.value("filled", true);
      h.shape.compressHundredths = j.value("compress", 100u);
      h.shape.dedupeHundredths = j.value("dedupe", 100u);
      h.shape.dedupeBlock = j.value("dedupe_block", 4096u);
      headerSeen = true;
      continue;
    }
    AcknowledgedFile f;
    if (!headerSeen || !j["file"].is_string() || !j["size"].is_number_integer() || !j["id"].is_string() ||
        !readHex64(j["id"].get<std::string>(), f.fileId)) {
      ++contents.tornLines;
      continue;
    }
    f.path = j["file"].get<std::string>();
    f.size = j["size"].get<std::int64_t>();
    contents.files.push_back(std::move(f));
  }
  if (!headerSeen) {
    why = "it holds no run's first record";
    return false;
  }
  return true;
}

}  // namespace quillet
