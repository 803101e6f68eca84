// The main dialog's field repairs.
#include "frontend/field_checks.h"

#include <cstdint>

#include "engine/generation_job.h"

namespace quillet {

namespace {

std::int64_t bytesOf(const std::string& text, int unit) { return toBytes(text, unit); }

void capAt(std::string& text, std::int32_t cap) {
  repairZero(text);
  if (readNumber32(text) > cap) text = std::to_string(cap);
}

// Pulls the size range below a total: both ends when even the minimum exceeds it, else the maximum.
void pullRangeBelow(SettingsValues& f, const std::string& totalText, int totalUnit) {
  const std::int64_t total = bytesOf(totalText, totalUnit);
  if (bytesOf(f.minSizeText, f.minSizeUnit) > total) {
    f.minSizeText = f.maxSizeText = totalText;
    f.minSizeUnit = f.maxSizeUnit = totalUnit;
  } else if (bytesOf(f.maxSizeText, f.maxSizeUnit) > total) {
    f.maxSizeText = totalText;
    f.maxSizeUnit = totalUnit;
  }
}

}  // namespace

void repairZero(std::string& text) {
  if (text.empty() || readNumber32(text) <= 0) text.assign(1, '0');
}

void checkMaxSize(SettingsValues& fields) { repairZero(fields.maxSizeText); }

void checkMaxFiles(SettingsValues& fields) { repairZero(fields.maxFilesText); }

void checkMinFiles(SettingsValues& fields) {
  repairZero(fields.minFilesText);
  const std::int32_t minimum = readNumber32(fields.minFilesText);
  if (readNumber32(fields.maxFilesText) < minimum) fields.maxFilesText = std::to_string(minimum);
}

void checkMinSize(SettingsValues& fields) {
  repairZero(fields.minSizeText);
  if (bytesOf(fields.minSizeText, fields.minSizeUnit) > bytesOf(fields.maxSizeText, fields.maxSizeUnit)) {
    fields.maxSizeText = fields.minSizeText;
    fields.maxSizeUnit = fields.minSizeUnit;
  }
}

void checkAllSize(SettingsValues& fields) {
  repairZero(fields.allSizeText);
  if (fields.byAllSize) pullRangeBelow(fields, fields.allSizeText, fields.allSizeUnit);
}

void checkLimitSize(SettingsValues& fields) {
  repairZero(fields.limitSizeText);
  if (!fields.byAllSize && fields.useLimitSize)
    pullRangeBelow(fields, fields.limitSizeText, fields.limitSizeUnit);
}

void checkTreeDeep(SettingsValues& fields) { capAt(fields.treeDeepText, 255); }

void checkRootSize(SettingsValues& fields) { capAt(fields.rootSizeText, 30000); }

void checkDirsLimit(SettingsValues& fields) { capAt(fields.dirsLimitText, 30000); }

void runGenerateChecks(SettingsValues& fields) {
  if (!fields.allPartition) checkAllSize(fields);
  if (fields.useLimitSize) checkLimitSize(fields);
  checkMinFiles(fields);
  checkMaxFiles(fields);
  checkMinSize(fields);
  checkMaxSize(fields);
  checkRootSize(fields);
  checkTreeDeep(fields);
  checkDirsLimit(fields);
}

}  // namespace quillet
