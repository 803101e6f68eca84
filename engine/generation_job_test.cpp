#include "engine/generation_job.h"

#include <gtest/gtest.h>

namespace quillet {
namespace {

struct BytesRow {
  const char* text;
  int power;
  std::int64_t bytes;
};

class ToBytesTest : public ::testing::TestWithParam<BytesRow> {};

TEST_P(ToBytesTest, ReadsTheNumberWithStrtolRulesAndScalesIt) {
  EXPECT_EQ(toBytes(GetParam().text, GetParam().power), GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(Rows, ToBytesTest,
                         ::testing::Values(BytesRow{"5", 1, 5120}, BytesRow{"999999", 3, 1073740750258176LL},
                                           BytesRow{"", 2, 0}, BytesRow{"abc", 2, 0},
                                           BytesRow{"  12abc", 0, 12}, BytesRow{"-3", 1, -3072},
                                           BytesRow{"99999999999", 3, 2305843008139952128LL},
                                           BytesRow{"2147483647", 3, 2305843008139952128LL}));

TEST(GenerationJobTest, RunsStartFromFreshCountersWhateverThePreviousRunLeft) {
  GenerationJob job;
  EXPECT_EQ(std::string(job.nameAlphabet.begin(), job.nameAlphabet.end()),
            "abcdefghijklmnopqrstuvwxyz0123456789");
  job.filesCreated = 12;
  job.currentSize = 4096;
  job.dirsProcessed = 7;
  job.dirsCalculated = 9;
  job.stopRequested = true;
  job.finished = true;
  job.stage = RunStage::GeneratingFiles;
  job.resetCounters();
  const ProgressSnapshot s = job.snapshot();
  EXPECT_EQ(s.filesCreated, 0);
  EXPECT_EQ(s.currentSize, 0);
  EXPECT_EQ(s.dirsProcessed, 1u);
  EXPECT_EQ(s.dirsCalculated, 1u);
  EXPECT_FALSE(s.stopRequested);
  EXPECT_FALSE(s.finished);
  EXPECT_EQ(s.stage, RunStage::GeneratingFiles);  // kept from the previous run
}

}  // namespace
}  // namespace quillet
