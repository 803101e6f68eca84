// The verdicts of verify, checked as properties over drawn runs of the built program: each case
// draws a run (by all size or by files number, a tree or not, masks, 1-4 writers, a seed or none, a
// total or a fill to full, stopped at a random moment or not), runs it on a real volume, verifies
// the tree three ways (the run's line plus /v, the seed alone, nothing), then does one random harm
// to it and verifies the three ways again. An intact tree never reads as damaged beyond what README
// allows, and every harm is found with its class and offset wherever the way of verifying can see
// it.
//
// Every case prints its seed. QUILLET_PROPERTY_SEED=<n> replays that one case;
// QUILLET_PROPERTY_CASES=<n> runs n cases per volume (a sweep), from QUILLET_PROPERTY_BASE=<n> (or
// "clock") instead of the fixed first seed.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <thread>
#include <vector>

#include "engine/block_identity.h"
#include "script/verify_property_case.h"
#include "testing/program_runner.h"
#include "testing/volume_fixture.h"

namespace quillet {
namespace {

using namespace property;
namespace stdfs = std::filesystem;

// ---- The property ----

struct Figures {
  int cases = 0, runs = 0, verifies = 0, falseVerdicts = 0, emptyTrees = 0, harms = 0;
};

class VerifyProperty : public ::testing::Test {
 protected:
  void runCases(const char* volumeKind, bool ext4) {
    std::string reason;
    vol_ = ext4 ? test_support::MountedVolume::ext4(kVolumeBytes, reason)
                : test_support::MountedVolume::tmpfs(kVolumeBytes, reason);
    if (!vol_) GTEST_SKIP() << reason;
    volumeKind_ = volumeKind;
    options_ = test_support::privateCopyOfProgram(bin_.path());
    ASSERT_FALSE(options_.program.empty());
    options_.unsetEnvironment = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
    options_.timeoutSeconds = 300;

    std::vector<std::uint64_t> seeds;
    if (std::getenv("QUILLET_PROPERTY_SEED") != nullptr) {
      seeds.push_back(envNumber("QUILLET_PROPERTY_SEED", 0));
    } else {
      const auto count = envNumber("QUILLET_PROPERTY_CASES", kCiCases);
      Random base(envNumber("QUILLET_PROPERTY_BASE", kFirstSeed) + (ext4 ? 1 : 0));
      for (std::uint64_t i = 0; i < count; ++i) seeds.push_back(base());
    }
    const auto started = std::chrono::steady_clock::now();
    for (const auto seed : seeds) {
      runCase(drawCase(seed));
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::cout << "[property] " << volumeKind_ << ": " << figures_.cases << " cases, " << figures_.runs
              << " runs, " << figures_.verifies << " verifies, " << figures_.harms << " harms, "
              << figures_.emptyTrees << " empty trees, " << figures_.falseVerdicts << " false verdicts, "
              << seconds << " s" << std::endl;
  }

  std::string root() const { return vol_->path() + "/run"; }
  std::string reportPath() const { return bin_ / "report.json"; }

  json readReport() {
    std::ifstream in(reportPath());
    return json::parse(in, nullptr, false);
  }

  test_support::ProgramResult runProgram(const std::vector<std::string>& args) {
    std::remove(reportPath().c_str());
    return test_support::runProgram(args, options_);
  }

  Verdict verify(const std::string& how, std::vector<std::string> args) {
    args.push_back("/report:'" + reportPath() + "'");
    Verdict v;
    v.how = how;
    v.args = args;
    v.result = runProgram(args);
    v.report = readReport();
    ++figures_.verifies;
    return v;
  }

  // The three ways: the run's own line plus /v, the seed alone, nothing.
  std::vector<Verdict> verifyThreeWays(const Case& c) {
    std::vector<std::string> line = lineOf(c);
    line.push_back("/v");
    std::vector<std::string> seedOnly = {"/v", "/root:'" + root() + "'", "/seed:" + std::to_string(runSeed_),
                                         "/progress:off"};
    std::vector<std::string> nothing = {"/v", "/root:'" + root() + "'", "/progress:off"};
    if (c.verifyThreadsPlanless > 1) {
      seedOnly.push_back("/threads:" + std::to_string(c.verifyThreadsPlanless));
      nothing.push_back("/threads:" + std::to_string(c.verifyThreadsPlanless));
    }
    std::vector<Verdict> out;
    out.push_back(verify("run's line", line));
    out.push_back(verify("seed only", seedOnly));
    out.push_back(verify("nothing", nothing));
    return out;
  }

  std::vector<std::string> lineOf(const Case& c) const {
    std::vector<std::string> line = {c.keys[0], "/root:'" + root() + "'"};
    line.insert(line.end(), c.keys.begin() + 1, c.keys.end());
    return line;
  }

  void falseVerdict(const Case& c, const std::string& what, const Verdict& v) {
    // One false verdict per verify, however many of its claims are wrong.
    if (flagged_.insert(&v).second) ++figures_.falseVerdicts;
    ADD_FAILURE() << "[property] " << volumeKind_ << " case seed " << c.seed
                  << " (replay: QUILLET_PROPERTY_SEED=" << c.seed << ")\n  run: quillet " << lineOf(c).size()
                  << " args: " << c.text() << "\n  run ended " << runExit_
                  << (stopSent_ ? " (stop sent)" : "") << ", " << files_.size() << " files\n  "
                  << (fault_ ? "harm: " + fault_->text() + "\n  " : std::string()) << v.how << ": " << what
                  << "\n  " << v.describe();
  }

  // Whether a missing file is one the run never made because it ended early: nothing made in
  // its folder comes after it.
  bool afterEverythingInItsFolder(const Case& c, const std::string& path) const {
    const auto folderOf = [](const std::string& p) {
      const auto cut = p.rfind('/');
      return cut == std::string::npos ? std::string() : p.substr(0, cut);
    };
    const auto nameOf = [](const std::string& p) {
      const auto cut = p.rfind('/');
      return cut == std::string::npos ? p : p.substr(cut + 1);
    };
    const std::int64_t order = orderInFolder(nameOf(path), c.fileMask);
    for (const auto& [present, size] : files_) {
      if (folderOf(present) == folderOf(path) && orderInFolder(nameOf(present), c.fileMask) > order)
        return false;
    }
    return true;
  }

  bool ranEarlyOut() const { return runExit_ != 0; }

  // An intact tree: no damage, nothing missing or unexpected, except what README allows.
  void checkIntact(const Case& c, const Verdict& v) {
    const json& rep = v.report;
    if (!rep.is_object() || !rep["verify"].is_object()) return falseVerdict(c, "no verify report", v);
    const json& ver = rep["verify"];
    // Every file any way calls cut short or truncated-intact is a cut file for the harm's checks,
    // whatever else this verdict gets wrong.
    for (const auto& s : v.list("cut_short_files")) cutFiles_.insert(s.substr(0, s.find(" (")));
    for (const auto& f : ver["damaged_files"]) {
      if (f["size"] == "truncated" && !blockDamage(f)) cutFiles_.insert(f["path"].get<std::string>());
    }
    if (rep["result"]["code"] != v.result.exitCode)
      return falseVerdict(c, "the report's code is not the exit code", v);
    if (ver["files_checked"] != static_cast<std::int64_t>(files_.size())) {
      return falseVerdict(
          c, "files checked " + ver["files_checked"].dump() + " of " + std::to_string(files_.size()), v);
    }
    if (u64(ver["seed"]) != runSeed_)
      return falseVerdict(c, "seed " + ver["seed"].dump() + " is not the run's", v);
    const bool withPlan = v.how == "run's line" && c.seeded;
    // Files a stop or a full volume cut short: README lets a verify without the plan call them
    // truncated (a stop leaves room for their rest), up to one per writer.
    int truncatedIntact = 0;
    for (const auto& f : ver["damaged_files"]) {
      const bool cutFile = f["size"] == "truncated" && !blockDamage(f) && f["read_error"].is_null();
      // README: with the plan, a writer still busy with its file while the others finished more
      // than four files each is further back than the walk for files in flight reaches, and its
      // file is reported truncated.
      const bool straggler = c.threads > 1 && laterInFolder(c, f["path"]) > 4 * (c.threads - 1);
      const bool runEndedEarly = runExit_ == 1 || runExit_ == 2;
      if (!cutFile || !runEndedEarly || (withPlan && !straggler)) {
        return falseVerdict(c, "intact tree reads as damaged: " + f.dump(), v);
      }
      ++truncatedIntact;
    }
    if (truncatedIntact > c.threads) return falseVerdict(c, "more cut files than writers", v);
    if (static_cast<int>(v.list("cut_short_files").size()) > c.threads) {
      return falseVerdict(c, "more files cut short than writers", v);
    }
    if (withPlan) {
      if (!v.list("unexpected_files").empty()) return falseVerdict(c, "intact tree has unexpected files", v);
      for (const auto& m : v.list("missing_files")) {
        // A run stopped between two files leaves its unmade tail indistinguishable from lost
        // files (README): allowed only then, and only after everything made in that folder.
        if (runExit_ != 2 || !afterEverythingInItsFolder(c, m)) {
          return falseVerdict(c, "intact tree has missing file '" + m + "'", v);
        }
      }
    } else if (!ver["missing_files"].is_null() || !ver["unexpected_files"].is_null()) {
      return falseVerdict(c, "missing or unexpected told without the plan", v);
    }
    const bool damageAllowed = truncatedIntact > 0 || !v.list("missing_files").empty();
    if (v.result.exitCode != 0 && !(v.result.exitCode == 4 && damageAllowed)) {
      return falseVerdict(c, "intact tree ends with exit " + std::to_string(v.result.exitCode), v);
    }
  }

  // Whether README's allowances for where a run ended can reach this file: within the last
  // n + 4(n - 1) files of its folder, or the last of its folder by files number.
  bool nearTheEnd(const Case& c, const std::string& file) const {
    return laterInFolder(c, file) <= c.threads + 4 * (c.threads - 1);
  }

  // How many files present in file's folder come after it in the order of making.
  int laterInFolder(const Case& c, const std::string& file) const {
    const auto cut = file.rfind('/');
    const std::string folder = cut == std::string::npos ? "" : file.substr(0, cut);
    const std::int64_t order =
        orderInFolder(cut == std::string::npos ? file : file.substr(cut + 1), c.fileMask);
    int later = 0;
    for (const auto& [present, size] : files_) {
      const auto pcut = present.rfind('/');
      const std::string pfolder = pcut == std::string::npos ? "" : present.substr(0, pcut);
      if (pfolder == folder &&
          orderInFolder(pcut == std::string::npos ? present : present.substr(pcut + 1), c.fileMask) > order) {
        ++later;
      }
    }
    return later;
  }

  const json* expectDamaged(const Case& c, const Verdict& v, const Fault& f) {
    const json* d = v.damagedFile(f.file);
    if (d == nullptr) falseVerdict(c, "the harmed file is not reported", v);
    return d;
  }

  // The range of class kind that holds offset, as the report gives it.
  void expectRange(const Case& c, const Verdict& v, const Fault& f, const char* kind, std::int64_t offset,
                   std::int64_t length) {
    const json* d = expectDamaged(c, v, f);
    if (d == nullptr) return;
    for (const auto& range : (*d)["ranges"]) {
      if (range["class"] == kind && range["offset_bytes"] == offset && range["length_bytes"] == length) {
        if (f.harm == Harm::Copy && (u64(range["found"]["file_id"]) != fileIdentity(f.source) ||
                                     range["found"]["offset_bytes"] != f.sourceOffset)) {
          return falseVerdict(c, "misdirected blocks name another source: " + range.dump(), v);
        }
        return;
      }
    }
    falseVerdict(c,
                 std::string("no ") + kind + " range at " + std::to_string(offset) + " of " +
                     std::to_string(length) + " bytes: " + d->dump(),
                 v);
  }

  // Every harm is found with its class and offset where the way of verifying can see it.
  void checkHarmed(const Case& c, const Verdict& v, const Fault& f, const std::vector<Verdict>& intact,
                   std::size_t way) {
    const json& rep = v.report;
    if (!rep.is_object() || !rep["verify"].is_object()) return falseVerdict(c, "no verify report", v);
    const bool withPlan = v.how == "run's line" && c.seeded;
    const std::int64_t block = f.offset / kBlock * kBlock;
    // Without a seed of its own to go by, a verify reads the seed most files carry: with one or
    // two files a harmed file may outvote the rest.
    const bool seedFromData = !(v.how == "seed only" || withPlan);
    const bool fewFiles = files_.size() < 3;
    bool mustFail = true;
    switch (f.harm) {
      case Harm::Flip:
        if (seedFromData && fewFiles)
          mustFail = false;
        else
          expectRange(c, v, f, "corrupted", block, std::min<std::int64_t>(kBlock, f.size - block));
        break;
      case Harm::Zero: {
        // A tree whose every byte now reads zero looks allocated only, without the plan.
        const bool allZero = f.length == f.size && files_.size() == 1;
        if ((allZero && !withPlan) || (seedFromData && fewFiles))
          mustFail = false;
        else
          expectRange(c, v, f, "zeroed", f.offset, f.length);
        break;
      }
      case Harm::Copy:
        if (seedFromData && fewFiles)
          mustFail = false;
        else
          expectRange(c, v, f, "misdirected", f.offset, f.length);
        break;
      case Harm::Truncate: {
        const json* d = v.damagedFile(f.file);
        // With the plan only a file where the run ended may pass as cut short; without it, a file
        // whose missing part the volume has no room for, give or take the one cluster verify
        // leaves for what the file system may need besides.
        // With the plan, a file far from the end passes only as what it is: a writer's file held
        // from far back or one truncated since, which nothing on the volume tells apart.
        const bool untold = v.cutShortLine(f.file).find("can not be told apart") != std::string::npos;
        const bool noRoomForTheRest = f.freeAfter < f.size - f.offset + kCluster;
        const bool allowedCut =
            v.cutShort(f.file) &&
            (withPlan ? nearTheEnd(c, f.file) || (untold && c.threads > 1 && noRoomForTheRest)
                      : noRoomForTheRest);
        if (allowedCut || (seedFromData && fewFiles)) {
          mustFail = false;
        } else if (d == nullptr) {
          falseVerdict(c, "the truncated file is not reported", v);
        } else if (f.offset < kHeader) {
          // Too short to carry its identity: damage of some class, which is all a reader can tell.
        } else if ((*d)["size"] != "truncated" || (*d)["length_bytes"] != f.offset ||
                   (*d)["carried_size_bytes"] != f.size) {
          falseVerdict(c, "the truncated file is reported otherwise: " + d->dump(), v);
        }
        break;
      }
      case Harm::Delete: {
        const auto missing = v.list("missing_files");
        const bool reported = std::find(missing.begin(), missing.end(), f.file) != missing.end();
        if (!withPlan) {
          mustFail = false;
        } else if (!reported && !(nearTheEnd(c, f.file) && v.tailAllowed() > 0)) {
          falseVerdict(c, "the deleted file is not missing", v);
        } else if (!reported && v.tailReason().find("can not be told") != std::string::npos) {
          // A lost last file where a stop left room: the verify says it cannot tell it from the
          // unmade tail, which is all the volume and the run's line tell.
          mustFail = false;
        }
        if (!withPlan && v.tailAllowed() != 0) falseVerdict(c, "a tail told without the plan", v);
        break;
      }
      case Harm::Extend: {
        const json* d = (seedFromData && fewFiles) ? v.damagedFile(f.file) : expectDamaged(c, v, f);
        if (seedFromData && fewFiles)
          mustFail = false;
        else if (d != nullptr && ((*d)["size"] != "extended" || (*d)["length_bytes"] != f.size + f.length)) {
          falseVerdict(c, "the extended file is reported otherwise: " + d->dump(), v);
        }
        break;
      }
      case Harm::Replace:
        if (c.seeded && !withPlan) {
          mustFail = false;  // a whole file of the run's seed: only the plan knows its size
        } else if (!c.seeded) {
          if (fewFiles)
            mustFail = false;
          else if (f.length < kHeader)
            expectDamaged(c, v, f);
          else
            expectRange(c, v, f, "stale", 0,
                        f.length % kBlock < kHeader ? f.length / kBlock * kBlock : f.length);
        } else {
          expectDamaged(c, v, f);
        }
        break;
    }
    if (mustFail && v.result.exitCode != 4)
      falseVerdict(c, "a harmed tree ends with exit " + std::to_string(v.result.exitCode), v);
    // Nothing else gains block damage, and no other file changes its verdict beyond what the harm
    // changed about the room on the volume and where the run ended.
    for (const auto& d : rep["verify"]["damaged_files"]) {
      const std::string path = d["path"];
      if (path == f.file) continue;
      if (blockDamage(d) && !(seedFromData && fewFiles)) {
        return falseVerdict(c, "a file the harm did not touch has damaged blocks: " + d.dump(), v);
      }
      // A whole file the run cut to the room its writer saw passes by the room left. A harm that
      // freed room beside a file where the run ended (a file truncated since passes as cut there)
      // leaves two explanations nothing on the volume tells apart: that file truncated since, or
      // this one replaced by a smaller one. Naming this one still finds the damage.
      const bool freedRoom = f.harm == Harm::Truncate || f.harm == Harm::Delete ||
                             (f.harm == Harm::Replace && f.length < f.size);
      const bool cutToTheRoom =
          d["size"] == "right" && d["carried_size_bytes"].is_number() &&
          d["planned_size_bytes"].is_number() &&
          d["carried_size_bytes"].get<std::int64_t>() < d["planned_size_bytes"].get<std::int64_t>();
      if (cutFiles_.count(path) == 0 && intact[way].damagedFile(path) == nullptr &&
          !(seedFromData && fewFiles) && !(freedRoom && cutToTheRoom && v.result.exitCode == 4)) {
        return falseVerdict(c, "a file the harm did not touch reads as damaged: " + d.dump(), v);
      }
    }
    for (const auto& m : v.list("missing_files")) {
      if (m != f.file && files_.count(m) != 0)
        return falseVerdict(c, "a file still there is missing: " + m, v);
      if (m != f.file && !ranEarlyOut())
        return falseVerdict(c, "a file of a finished run is missing: " + m, v);
    }
    if (!v.list("unexpected_files").empty()) return falseVerdict(c, "unexpected files after the harm", v);
  }

  void runCase(const Case& c) {
    ++figures_.cases;
    flagged_.clear();
    fault_.reset();
    cutFiles_.clear();
    ASSERT_TRUE(test_support::removeTree(root()));
    ::sync();
    // The run, stopped once its first file is there and a drawn moment more has passed.
    stopSent_ = false;
    if (c.stopSignal != 0) {
      // A run of a few megabytes lasts a few milliseconds here, less than the program takes to
      // notice a stop signal (it looks every 10 ms): the run goes in slow motion, held (SIGSTOP,
      // as Ctrl-Z holds it) for half a millisecond at a time and let go for a tenth of that, and
      // the stop goes as soon as the tree holds the drawn share of the entries the run would
      // make. A file counts from its creation, so the stop often comes while one is written.
      options_.whileRunning = [&](int pid) {
        const auto target =
            static_cast<std::int64_t>(c.stopAt * static_cast<double>(c.expectedBytes) /
                                      static_cast<double>(std::max<std::int64_t>(c.avgSize, 1)));
        const auto ended = [pid] {
          siginfo_t info{};
          return ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
                 info.si_pid == pid;
        };
        // The program starts at full speed: nothing is written before the root is there.
        while (!ended() && !stdfs::exists(root())) std::this_thread::sleep_for(std::chrono::microseconds(20));
        for (;;) {
          if (ended()) return;
          ::kill(pid, SIGSTOP);
          std::int64_t entries = 0;
          std::error_code error;
          for (auto it = stdfs::recursive_directory_iterator(root(), error);
               !error && it != stdfs::recursive_directory_iterator(); it.increment(error)) {
            ++entries;
          }
          if (entries > target) {
            stopSent_ = true;
            ::kill(pid, c.stopSignal);
            // Still slowed down until the program has looked for the signal.
            for (int i = 0; i < 40 && !ended(); ++i) {
              ::kill(pid, SIGCONT);
              std::this_thread::sleep_for(std::chrono::microseconds(50));
              ::kill(pid, SIGSTOP);
              std::this_thread::sleep_for(std::chrono::microseconds(500));
            }
            ::kill(pid, SIGCONT);
            return;
          }
          std::this_thread::sleep_for(std::chrono::microseconds(500));
          ::kill(pid, SIGCONT);
          std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
      };
    }
    auto line = lineOf(c);
    line.push_back("/report:'" + reportPath() + "'");
    const auto generated = runProgram(line);
    options_.whileRunning = nullptr;
    ++figures_.runs;
    runExit_ = generated.exitCode;
    const json runReport = readReport();
    std::cout << "[property] " << volumeKind_ << " case seed " << c.seed << ": quillet " << c.text()
              << " -> exit " << runExit_
              << (stopSent_ ? (c.stopSignal == SIGINT ? " (SIGINT sent)" : " (SIGTERM sent)") : "")
              << std::endl;
    if (runExit_ == 8 || runExit_ < 0 || !runReport.is_object() || runReport["run_seed"].is_null()) {
      if (runReport.is_object() && runReport["run_seed"].is_null() && runExit_ == 2) {
        ++figures_.emptyTrees;  // stopped before generating
        return;
      }
      ++figures_.falseVerdicts;
      ADD_FAILURE() << "[property] case seed " << c.seed << ": the run failed: exit " << runExit_ << "\n"
                    << generated.out << generated.err;
      return;
    }
    runSeed_ = u64(runReport["run_seed"]);
    if (c.seeded) {
      EXPECT_EQ(runSeed_, c.runSeedGiven);
    }
    files_ = test_support::filesBelow(root());
    if (files_.empty()) {
      ++figures_.emptyTrees;  // a verify of nothing is a verdict of its own, not this property's
      return;
    }
    const auto intact = verifyThreeWays(c);
    for (const auto& v : intact) checkIntact(c, v);

    Random r(c.seed ^ 0xfa017);
    fault_ = doHarm(c, r, root(), files_, cutFiles_, runSeed_);
    if (!fault_) return;
    ++figures_.harms;
    std::cout << "[property]   harm: " << fault_->text() << std::endl;
    const auto harmed = verifyThreeWays(c);
    for (std::size_t way = 0; way < harmed.size(); ++way) checkHarmed(c, harmed[way], *fault_, intact, way);
  }

  std::unique_ptr<test_support::MountedVolume> vol_;
  test_support::ScratchFolder bin_;
  test_support::ProgramOptions options_;
  std::string volumeKind_;
  Figures figures_;
  std::set<const Verdict*> flagged_;
  int runExit_ = 0;
  bool stopSent_ = false;
  std::uint64_t runSeed_ = 0;
  std::map<std::string, std::int64_t> files_;
  std::set<std::string> cutFiles_;
  std::optional<Fault> fault_;
};

TEST_F(VerifyProperty, Tmpfs) { runCases("tmpfs", false); }
TEST_F(VerifyProperty, Ext4) { runCases("ext4", true); }

}  // namespace
}  // namespace quillet
