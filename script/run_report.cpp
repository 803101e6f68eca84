#include "script/run_report.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "engine/block_identity.h"
#include "engine/run_context.h"
#include "platform/atomic_file.h"
#include "platform/system.h"
#include "script/console_progress.h"
#include "script/program_version.h"
#include "script/report_series.h"

namespace quillet {
namespace {

using nlohmann::ordered_json;

template <typename T>
ordered_json orNull(const std::optional<T>& value) {
  return value ? ordered_json(*value) : ordered_json(nullptr);
}

ordered_json textOrNull(bool used, const std::string& text) {
  return used ? ordered_json(text) : ordered_json(nullptr);
}

ordered_json parameters(const JobParameters& job, const ScriptExtensions& extensions) {
  ordered_json p;
  p["root_folder"] = job.rootFolder;
  p["file_mask"] = textOrNull(job.useFileMask, job.fileMask);
  p["min_file_size_bytes"] = job.minFileSize;
  p["max_file_size_bytes"] = job.maxFileSize;
  p["fill_random"] = job.fillRandom;
  p["auto_close"] = job.autoClose;
  if (job.byAllSize) {
    p["all_partition"] = job.allPartition;
    p["all_size_bytes"] = job.allSize;
  } else {
    p["min_files"] = job.minFiles;
    p["max_files"] = job.maxFiles;
    p["limit_size_bytes"] = job.useLimitSize ? ordered_json(job.limitSize) : ordered_json(nullptr);
    p["recurse_subfolders"] = job.recurseSubfolders;
    p["make_up_tree"] = job.makeUpTree;
    p["root_size_folders"] = job.rootSize;
    p["tree_depth_levels"] = job.treeDeep;
    p["folder_limit_folders"] = job.dirsLimit;
    p["folder_mask"] = textOrNull(job.useDirMask, job.dirMask);
  }
  p["file_size_limit_bytes"] =
      job.fsFileSizeLimit == 0 ? ordered_json(nullptr) : ordered_json(job.fsFileSizeLimit);
  p["report_file"] = extensions.reportPath;
  p["progress"] = progressWord(extensions.progress);
  p["seed"] = job.seedGiven ? ordered_json(std::to_string(job.runSeed)) : ordered_json(nullptr);
  p["sync"] = syncWord(job.sync);
  if (!job.content.plain() || job.content.dedupeBlock != ContentShape{}.dedupeBlock) {
    p["content"] = {{"compress_ratio", job.content.compressHundredths / 100.0},
                    {"dedupe_ratio", job.content.dedupeHundredths / 100.0},
                    {"dedupe_block_bytes", job.content.dedupeBlock}};
  }
  p["threads"] = job.threads;
  if (!extensions.profile.empty()) p["profile"] = extensions.profile;
  return p;
}

double perSecond(double amount, double seconds) { return seconds > 0 ? amount / seconds : 0.0; }

}  // namespace

std::string formatUtcTime(std::chrono::system_clock::time_point when) {
  using namespace std::chrono;
  const auto millis = floor<milliseconds>(when);
  const auto day = floor<days>(millis);
  const year_month_day date{day};
  const hh_mm_ss<milliseconds> time{millis - day};
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                static_cast<int>(time.seconds().count()), static_cast<int>(time.subseconds().count()));
  return text;
}

std::string formatReport(const RunRecord& r) {
  const GenerationJob* job = r.job;
  ordered_json j;
  j["schema"] = kReportSchema;
  j["program"] = {{"name", "Talvane Quillet"}, {"version", programVersion()}, {"build", programBuild()}};
  j["command_line"] = r.commandLine;
  j["mode"] = r.probeMode     ? "probe"
              : r.measureMode ? "measure"
              : r.verifyMode  ? "verify"
              : r.byAllSize   ? "by_all_size"
                              : "by_files_number";
  j["rejection"] = r.rejection.empty() ? ordered_json(nullptr) : ordered_json(r.rejection);
  const ordered_json result = {{"code", r.resultCode},
                               {"text", r.rejection.empty() ? resultText(r.resultCode) : "script rejected"}};
  if (r.measureMode) {
    // A measure generates nothing: the head, the times, the result and its own figures.
    const auto objectOrNull = [](const std::string& text) {
      return text.empty() ? ordered_json(nullptr) : ordered_json::parse(text);
    };
    j["parameters"] = objectOrNull(r.measureParametersJson);
    j["start_time_utc"] = formatUtcTime(r.started);
    j["end_time_utc"] = formatUtcTime(r.ended);
    j["duration_seconds"] = r.durationSeconds;
    j["result"] = result;
    j["measure"] = objectOrNull(r.measureJson);
    if (!r.savedProfileJson.empty()) j["saved_profile"] = ordered_json::parse(r.savedProfileJson);
    return j.dump(2, ' ', false, ordered_json::error_handler_t::replace) + "\n";
  }
  j["parameters"] = job != nullptr ? parameters(*job, r.extensions) : ordered_json(nullptr);
  if (job != nullptr && r.runWide) {
    ordered_json& p = j["parameters"];
    p["root_folder"] = r.runWide->rootFolder;
    if (job->byAllSize && !job->allPartition) p["all_size_bytes"] = r.runWide->allSize;
    if (!job->byAllSize && job->useLimitSize) p["limit_size_bytes"] = r.runWide->limitSize;
    if (job->seedGiven) p["seed"] = std::to_string(r.runWide->seed);
  }
  j["random_seed"] =
      job != nullptr && job->firstSeed >= 0 ? ordered_json(job->firstSeed) : ordered_json(nullptr);
  // A run has its seed once the worker started, or from the start when it was given. As a text:
  // a JSON number loses digits beyond 2^53.
  const bool seeded = job != nullptr && (job->seedGiven || r.generationSeconds > 0);
  j["run_seed"] =
      seeded ? ordered_json(std::to_string(job->seedGiven && r.runWide ? r.runWide->seed : job->runSeed))
             : ordered_json(nullptr);
  j["run_seed_source"] = seeded ? ordered_json(job->seedGiven ? "given" : "drawn") : ordered_json(nullptr);
  // The layout of the identity every block carries, for runs whose blocks carry one (content
  // written, read back by a verify or a probe): a kept report says how its tree is to be read.
  const bool identified = r.verifyMode || r.probeMode || (job != nullptr && job->fillRandom);
  if (identified && r.rejection.empty()) j["identity_format"] = kIdentityFormat;
  if (job != nullptr && job->sync == SyncMode::End && r.generationSeconds > 0) {
    j["volume_sync"] = {{"flushed", job->volumeSynced},
                        {"note", textOrNull(!job->volumeSyncNote.empty(), job->volumeSyncNote)}};
  } else {
    j["volume_sync"] = nullptr;
  }
  j["start_time_utc"] = formatUtcTime(r.started);
  j["end_time_utc"] = formatUtcTime(r.ended);
  j["duration_seconds"] = r.durationSeconds;
  j["generation_seconds"] = r.generationSeconds;
  if (!r.rejection.empty()) {
    // A rejected script ran no thread, and what it asked for may be the rejected value itself.
    j["threads"] = nullptr;
  } else {
    ordered_json threads;
    threads["count"] = r.verifyMode ? r.threads : job != nullptr ? job->threads : 1;
    const std::vector<WriterTimes>* times = nullptr;
    if (r.verifyMode) {
      if (!r.readerTimes.empty()) times = &r.readerTimes;
    } else if (job != nullptr && r.generationSeconds > 0) {
      times = &job->writerTimes;
    }
    if (times != nullptr) {
      ordered_json perThread = ordered_json::array();
      const auto seconds = [](double s) { return s < 0 ? ordered_json(nullptr) : ordered_json(s); };
      for (const WriterTimes& w : *times) {
        perThread.push_back({{"first_done_seconds", seconds(w.firstDone)},
                             {"last_done_seconds", seconds(w.lastDone)},
                             {"files", w.files},
                             {"bytes", w.bytes}});
      }
      threads["per_thread"] = std::move(perThread);
    } else {
      threads["per_thread"] = nullptr;
    }
    j["threads"] = std::move(threads);
  }
  j["result"] = result;

  std::int64_t files = job != nullptr ? job->filesCreated.load() : 0;
  std::int64_t bytes = job != nullptr ? job->currentSize.load() : 0;
  std::int64_t foldersCreated = job != nullptr ? job->dirsCreated.load() : 0;
  std::int64_t foldersVisited = job != nullptr && r.generationSeconds > 0 ? job->dirsProcessed.load() : 0;
  std::int64_t filesPlanned = job != nullptr ? job->filesPlanned.load() : 0;
  if (r.totals) {
    files = r.totals->filesCreated;
    bytes = r.totals->bytesAllocated;
    foldersCreated = r.totals->foldersCreated;
    foldersVisited = r.totals->foldersVisited;
    filesPlanned = r.totals->filesPlanned;
  }
  j["files_created"] = files;
  j["bytes_written"] = job != nullptr && job->fillRandom ? bytes : 0;
  j["bytes_allocated"] = bytes;
  j["folders_created"] = foldersCreated;
  j["folders_visited"] = foldersVisited;
  if (r.verifyMode) {
    j["throughput"] = {
        {"bytes_per_second", perSecond(static_cast<double>(r.verifiedBytes), r.verifySeconds)},
        {"files_per_second", perSecond(static_cast<double>(r.verifiedFiles), r.verifySeconds)}};
  } else {
    j["throughput"] = {{"bytes_per_second", perSecond(static_cast<double>(bytes), r.generationSeconds)},
                       {"files_per_second", perSecond(static_cast<double>(files), r.generationSeconds)}};
  }

  const WriteRates rates = job != nullptr ? job->writeRates : WriteRates{};
  const auto rate = [&](double value) {
    return rates.count > 0 ? ordered_json(value) : ordered_json(nullptr);
  };
  j["file_write_rate"] = {{"files_timed", rates.count},
                          {"min_file_bytes", static_cast<std::int64_t>(kWriteChunk)},
                          {"min_bytes_per_second", rate(rates.minimum)},
                          {"mean_bytes_per_second", rate(rates.mean())},
                          {"max_bytes_per_second", rate(rates.maximum)}};

  if (r.volume) {
    const ReportVolume& v = *r.volume;
    j["volume"] = {{"mount_point", v.mountPoint},
                   {"file_system", v.fileSystem},
                   {"total_bytes", orNull(v.totalBytes)},
                   {"free_bytes_before", orNull(v.freeBytesBefore)},
                   {"free_bytes_after", orNull(v.freeBytesAfter)},
                   {"cluster_size_bytes", orNull(v.clusterBytes)}};
  } else {
    j["volume"] = nullptr;
  }
  if (!r.byAllSize && job != nullptr) {
    j["files_by_number"] = {{"planned_files", filesPlanned}, {"made_files", files}};
  } else {
    j["files_by_number"] = nullptr;
  }
  if (r.verifyMode) {
    j["files_by_number"] = nullptr;
    j["verify"] = r.verifyJson.empty() ? ordered_json(nullptr) : ordered_json::parse(r.verifyJson);
    if (!r.flushJournalJson.empty()) j["flush_journal"] = ordered_json::parse(r.flushJournalJson);
  }
  if (r.probeMode)
    j["probe"] = r.probeJson.empty() ? ordered_json(nullptr) : ordered_json::parse(r.probeJson);
  if (!r.sharedJson.empty()) j["ranks"] = ordered_json::parse(r.sharedJson);
  if (r.series) j["series"] = seriesJson(*r.series, r.verifyMode);
  if (!r.populationJson.empty()) j["population"] = ordered_json::parse(r.populationJson);
  // A path that is no valid UTF-8 gets replacement characters rather than no report.
  return j.dump(2, ' ', false, ordered_json::error_handler_t::replace) + "\n";
}

Status writeReport(const std::string& path, const RunRecord& record) {
  return replaceFileAtomically(path, formatReport(record));
}

std::string reportFailureLine(const std::string& path, const Status& failed) {
  // The report's own path (or its temporary file beside it) is named once, by the line itself.
  const bool aboutTheReport = failed.context().rfind(path, 0) == 0 && !failed.cause().empty();
  return "Can not write report '" + path + "': " + (aboutTheReport ? failed.cause() : failed.message()) + ".";
}

}  // namespace quillet
