// The many-client program: a script run shared among the ranks of a parallel job, launched as
// `mpirun -np N quillet-mpi /s ...` (or /f, or /v). Each rank works in its own folder under the
// root; rank 0 alone writes the log block and the report, with the figures of all ranks. Started
// without a launcher it is one rank.
//
// The stop signals are held from the first line, before the message-passing library starts any
// thread, so that they reach the run as a stop whichever thread the system picks.
#include <mpi.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "mpi/rank_exchange.h"
#include "mpi/shared_run.h"
#include "platform/ascii.h"
#include "platform/file_system.h"
#include "platform/system.h"
#include "script/script_args.h"
#include "script/script_run.h"
#include "script/scripts_help_text.h"
#include "script/verify_run.h"

namespace {

bool isShift(const quillet::ScriptParameter& parameter) { return parameter.keyUpper == "/SHIFT"; }

// Takes /shift out of a verify's line; its value, or the rejection text of a bad one.
std::string takeShift(quillet::ScriptArgs& script, int& shift) {
  std::string rejection;
  bool seen = false;
  for (const quillet::ScriptParameter& parameter : script.parameters) {
    if (!isShift(parameter)) continue;
    const std::string& value = parameter.value;
    if (rejection.empty()) {
      if (seen) {
        rejection = "Repitition /shift parameter.";
      } else if (value.empty()) {
        rejection = "Shift can't be empty.";
      } else if (!quillet::readShift(value, shift)) {
        rejection = "Incorrect shift, a whole number from 0 to 2147483647 expected.";
      }
    }
    seen = true;
  }
  if (seen) script = script.without(isShift);
  return rejection;
}

}  // namespace

int main(int argc, char** argv) {
  quillet::holdStopSignals();
  // The launcher's warning that it is ending the job (a rank died) is the only one that comes in
  // time: the stop signal follows a moment before the kill.
  quillet::holdContinueSignal();
  int provided = 0;
  MPI_Init_thread(&argc, &argv, MPI_THREAD_FUNNELED, &provided);
  // The library reports its own failures and ends the job rather than hand back a code to check.
  std::vector<std::string> args(argv, argv + argc);
  if (args.empty()) args.emplace_back("quillet-mpi");
  quillet::RankExchange exchange(MPI_COMM_WORLD);
  const bool leader = exchange.rank() == 0;

  const std::string mode = args.size() > 1 ? quillet::asciiUpper(args[1]) : std::string();
  const bool scriptMode = mode == "/S" || mode == "/F" || mode == "/V";
  // Before anything is made, the ranks make sure they were all given one line: ranks that ran
  // different scripts would each do a part of different runs, and the result would count as one.
  std::string otherLine;
  if (exchange.ranks() > 1) {
    constexpr int kWords = 2;
    const std::vector<std::int64_t> mine{quillet::lineDigest(args), scriptMode ? 1 : 0};
    std::vector<std::int64_t> all;
    if (exchange.gatherWords(mine, quillet::SharedRun::kDefaultSilenceLimitSeconds, all)) {
      if (const int other = quillet::firstOtherLine(all, kWords); other > 0) {
        otherLine = "The ranks were given different lines: rank " + std::to_string(other) +
                    "'s is not rank 0's, and every rank must run the same one.";
        bool allScripts = true;
        for (std::size_t i = 1; i < all.size(); i += kWords) allScripts = allScripts && all[i] != 0;
        if (!allScripts) {
          // Not every rank would take part in a run to reject: nothing runs.
          if (leader) std::cerr << "quillet-mpi: " << otherLine << "\n";
          MPI_Finalize();
          return 0;
        }
      }
    }
  }
  if (!scriptMode) {
    if (leader) {
      if (mode == "/?") {
        std::cout << quillet::scriptsHelpText() << "\n";
      } else {
        std::cerr << "quillet-mpi: runs a script on every rank: /s, /f or /v with the script's parameters "
                     "(/? lists them)\n";
      }
    }
    MPI_Finalize();
    return 0;
  }

  int shift = exchange.ranks() > 1 ? 1 : 0;
  std::string rejection;
  // The line is read once here; the run takes it as read, /shift left out.
  quillet::ScriptArgs script = quillet::readScriptArgs(mode, args);
  if (quillet::isVerifyRequest(script)) rejection = takeShift(script, shift);
  if (!otherLine.empty()) rejection = otherLine;

  auto fs = quillet::makeSystemFileSystem();
  // For measuring what the exchange costs only: the ranks say nothing to each other until they end.
  const char* quiet = std::getenv("QUILLET_MPI_NO_EXCHANGE");
  // A launcher passes a variable to every rank alike (mpirun -x), so every rank reads the same limit.
  double silence = quillet::SharedRun::kDefaultSilenceLimitSeconds;
  if (const char* limit = std::getenv("QUILLET_MPI_SILENCE_SECONDS"); limit != nullptr) {
    int seconds = 0;
    if (quillet::readSilenceLimit(limit, seconds)) {
      silence = seconds;
    } else if (leader) {
      std::cerr
          << "quillet-mpi: QUILLET_MPI_SILENCE_SECONDS must be a whole number of seconds from 1 to 86400; "
             "waiting the default "
          << static_cast<int>(silence) << " seconds\n";
    }
  }
  quillet::SharedRun run(exchange, *fs, shift, quiet == nullptr || *quiet == 0, silence);
  const quillet::RunSharing sharing = run.hooks(rejection);
  // A generation's display learns its form from the run; a verify's lines are rank 0's own.
  run.display().setFormat(script.progress);
  const quillet::ScriptRunServices services{*fs,           quillet::systemClock(),     nullptr,
                                            run.display(), quillet::stopSignalArrived, &sharing};
  int code = quillet::runScript(script, services);
  if (!run.concluded()) code = run.concludeUnlogged(code);
  run.awaitLeader();

  if (run.lost() && !run.endedByLauncher()) {
    MPI_Abort(MPI_COMM_WORLD, quillet::toInt(quillet::GenerationResult::RankLost));
  }
  if (run.endedByLauncher() && !leader) {
    // A rank that ends with a failure code makes the launcher end the job at once, rank 0 with it,
    // perhaps before its report is written: the others stay until the launcher ends them (its stop
    // signal comes a second after its warning, or once rank 0 has ended), for no longer than a
    // silent round may last.
    const auto since = std::chrono::steady_clock::now();
    while (!quillet::stopSignalArrived() &&
           std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count() < silence) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  if (run.gaveUp() || run.endedByLauncher()) {
    // A round is still under way with ranks that will not take part: finalising would wait for
    // them, and the launcher is ending the job anyway.
    std::cout << std::flush;
    std::cerr << std::flush;
    std::_Exit(code);
  }
  MPI_Finalize();
  return code;
}
