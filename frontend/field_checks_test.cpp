// The field repairs as values: step Z, the caps, and the size and files ranges pushed into order.
#include "frontend/field_checks.h"

#include <gtest/gtest.h>

using namespace quillet;

namespace {
SettingsValues sizes(const char* minText, int minUnit, const char* maxText, int maxUnit) {
  SettingsValues v;
  v.minSizeText = minText;
  v.minSizeUnit = minUnit;
  v.maxSizeText = maxText;
  v.maxSizeUnit = maxUnit;
  return v;
}
constexpr int kB = 0, kKb = 1, kMb = 2, kGb = 3;
}  // namespace

TEST(FieldChecks, StepZeroRepairsEmptyAndNonPositive) {
  const struct {
    const char* text;
    const char* expected;
  } cases[] = {
      {"", "0"},    {"0", "0"}, {"000", "0"},   {"-3", "0"},     // empty, zero, zeros, negative
      {"abc", "0"}, {"5", "5"}, {"12x", "12x"}, {"  7", "  7"},  // trailing and leading kept
  };
  for (const auto& c : cases) {
    std::string value = c.text;
    repairZero(value);
    EXPECT_EQ(value, c.expected) << "text '" << c.text << "'";
  }
}

// Sizes compare as bytes across units; the all size and limit size bound only in their own mode.
TEST(FieldChecks, SizeRangesCompareInBytesWithinTheirMode) {
  SettingsValues v = sizes("2048", kB, "1", kKb);
  checkMinSize(v);
  EXPECT_EQ(v.maxSizeText, std::string("2048"));
  EXPECT_EQ(v.maxSizeUnit, kB);
  SettingsValues equal = sizes("1", kGb, "1024", kMb);
  checkMinSize(equal);
  EXPECT_EQ(equal.maxSizeText, std::string("1024"));

  SettingsValues byNumber = sizes("1", kGb, "2", kGb);
  byNumber.byAllSize = false;
  byNumber.allSizeText = "";
  byNumber.allSizeUnit = kMb;
  checkAllSize(byNumber);
  EXPECT_EQ(byNumber.allSizeText, std::string("0"));
  EXPECT_EQ(byNumber.minSizeText, std::string("1"));
  byNumber.byAllSize = true;
  byNumber.useLimitSize = true;
  byNumber.limitSizeText = "1";
  checkLimitSize(byNumber);
  EXPECT_EQ(byNumber.maxSizeText, std::string("2"));
}

TEST(FieldChecks, GenerateChecksSkipAllSizeToAllPartitionAndAnUnmarkedLimit) {
  SettingsValues v = sizes("10", kMb, "20", kMb);
  v.byAllSize = true;
  v.allPartition = true;
  v.allSizeText = "1";
  v.allSizeUnit = kMb;
  v.useLimitSize = false;
  v.limitSizeText = "";
  v.minFilesText = "";
  v.maxFilesText = "";
  v.treeDeepText = "999";
  v.rootSizeText = "-1";
  v.dirsLimitText = "40000x";
  runGenerateChecks(v);
  EXPECT_EQ(v.minSizeText, std::string("10"));
  EXPECT_EQ(v.maxSizeText, std::string("20"));
  EXPECT_EQ(v.limitSizeText, std::string(""));
  EXPECT_EQ(v.minFilesText, std::string("0"));
  EXPECT_EQ(v.maxFilesText, std::string("0"));
  EXPECT_EQ(v.treeDeepText, std::string("255"));
  EXPECT_EQ(v.rootSizeText, std::string("0"));
  EXPECT_EQ(v.dirsLimitText, std::string("30000"));  // the cap replaces the whole text

  v.allPartition = false;
  runGenerateChecks(v);
  EXPECT_EQ(v.minSizeText, std::string("1"));
  EXPECT_EQ(v.maxSizeText, std::string("1"));
}
