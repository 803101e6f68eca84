// The /probe script: how much of a raw device really stores data, on the console, in the script
// log and, with /report, in the run's report.
#pragma once

#include <string>
#include <vector>

#include "engine/capacity_probe.h"
#include "script/script_run.h"

namespace quillet {

struct ProbeParse {
  bool accepted = false;
  std::string rejection;  // the log line of a rejected script
  std::string device;
  std::string reportPath;
  bool destroy = false;
};

// script.args[1] is /probe; keys /device:'<path>' (required), /destroy and /report:'<file>'.
ProbeParse parseProbe(const ScriptArgs& script);

// The console and log lines of a finished probe of device.
std::vector<std::string> formatProbe(const std::string& device, bool destroy, const ProbeResult& r);

// The exit code of a finished probe: 0 real capacity, 4 fake, 2 stopped, 8 failed.
int probeExitCode(const ProbeResult& r);

// Exit codes: 0 real capacity, 4 fake, 8 rejected, refused, busy or failed, 2 stopped.
int runProbeScript(const ScriptArgs& script, const ScriptRunServices& services);

}  // namespace quillet
