#include "script/script_args.h"

#include <algorithm>

namespace quillet {
namespace {

// The early reads check their keys as a run (/s, /f) does, whatever the mode.
const KeyRule kReport{keys::kReport, Form::Path};
const KeyRule kHtml{keys::kHtml, Form::Path};
const KeyRule kProgress{keys::kProgress, Form::Progress};

void readEarlyKeys(ScriptArgs& line) {
  if (const auto found = findCheckedKey(line.parameters, kReport)) line.reportPath = found->quotedText;
  if (const auto found = findCheckedKey(line.parameters, kHtml)) line.htmlPath = found->quotedText;
  if (const auto found = findCheckedKey(line.parameters, kProgress)) line.progress = found->progress;
}

}  // namespace

bool ScriptArgs::hasKey(const std::string& key) const {
  for (const ScriptParameter& p : parameters) {
    if (p.keyUpper == key) return true;
  }
  return false;
}

ScriptArgs ScriptArgs::without(const std::function<bool(const ScriptParameter&)>& drop) const {
  ScriptArgs kept;
  kept.mode = mode;
  kept.args.assign(args.begin(),
                   args.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(args.size(), 2)));
  for (const ScriptParameter& p : parameters) {
    if (drop(p)) continue;
    kept.args.push_back(p.text);
    kept.parameters.push_back(p);
  }
  readEarlyKeys(kept);
  return kept;
}

ScriptArgs readScriptArgs(const std::string& mode, std::vector<std::string> args) {
  ScriptArgs line;
  line.mode = mode;
  line.parameters = splitParameters(args);
  line.args = std::move(args);
  readEarlyKeys(line);
  return line;
}

}  // namespace quillet
