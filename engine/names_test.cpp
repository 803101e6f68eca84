#include "engine/names.h"

#include <gtest/gtest.h>

#include <set>

#include "platform/path.h"

namespace quillet {
namespace {

TEST(NormaliseMaskTest, ExpandsStarsTrimsDotsAndKeepsTwelveDigits) {
  EXPECT_EQ(normaliseMask("*.*").mask, "???.???");
  EXPECT_EQ(normaliseMask("*").nameSpace, 46656);
  EXPECT_EQ(normaliseMask("..a*.").mask, "a???");
  EXPECT_EQ(normaliseMask("data.bin").nameSpace, 1);
  EXPECT_EQ(normaliseMask("....").mask, "");
  const auto fifteen = normaliseMask("???????????????x?");
  EXPECT_EQ(fifteen.mask, "????????????x");
  EXPECT_EQ(fifteen.nameSpace, 4738381338321616896LL);
  EXPECT_EQ(normaliseMask("a?b?c").mask, "a?b?c");
  EXPECT_EQ(normaliseMask("a?b?c").nameSpace, 1296);
}

TEST(NormaliseMaskTest, NoMaskReachesAboveTheFolderItNames) {
  EXPECT_EQ(normaliseMask("../../esc???").mask, "esc???");
  EXPECT_EQ(normaliseMask("/../../../../f?").mask, "f?");
  EXPECT_EQ(normaliseMask("/../../../../f?").nameSpace, 36);
  EXPECT_EQ(normaliseMask("../d*").mask, "d???");
  EXPECT_EQ(normaliseMask("sub//./????").mask, std::string("sub") + kSeparator + "????");
  EXPECT_EQ(normaliseMask("..").mask, "");
  EXPECT_EQ(normaliseMask("x/..").mask, "x");
}

TEST(MakeNameTest, MaskDigitsCountFromTheLeftEveryThirtySixCounters) {
  GenerationJob job;
  job.useFileMask = true;
  job.fileMask = "????????.???";
  EXPECT_EQ(makeName(0, job, NameKind::File), "aaaaaaaa.aaa");
  EXPECT_EQ(job.currentFileName, "aaaaaaaa.aaa");
  EXPECT_EQ(makeName(34, job, NameKind::File), "aaaaaaaa.aaa");
  EXPECT_EQ(makeName(35, job, NameKind::File), "baaaaaaa.aaa");
  EXPECT_EQ(makeName(1295, job, NameKind::File), "abaaaaaa.aaa");
  // The folder kind uses its own mask and leaves currentFileName alone.
  job.useDirMask = true;
  job.dirMask = "d?";
  EXPECT_EQ(makeName(70, job, NameKind::Folder), "db");
  EXPECT_EQ(job.currentFileName, "abaaaaaa.aaa");
}

TEST(MakeNameTest, NamesWithoutAMaskAreBijectiveBase36AndNeverRepeat) {
  GenerationJob job;
  const std::pair<std::int64_t, const char*> rows[] = {
      {0, "a"},   {25, "z"},  {26, "0"},    {35, "9"},     {36, "aa"},     {37, "ab"},
      {71, "a9"}, {72, "ba"}, {1331, "99"}, {1332, "aaa"}, {47988, "aaaa"}};
  for (const auto& [counter, name] : rows)
    EXPECT_EQ(makeName(counter, job, NameKind::Folder), name) << counter;
  std::set<std::string> seen;
  std::size_t lastLength = 0;
  for (std::int64_t c = 0; c < 60000; ++c) {
    const std::string n = makeName(c, job, NameKind::File);
    EXPECT_GE(n.size(), lastLength);
    lastLength = n.size();
    ASSERT_TRUE(seen.insert(n).second) << c;
  }
}

TEST(MakeNameTest, ReservedDeviceNamesAreRefusedOnlyWhole) {
  for (const char* bad : {"con", "CON", "Aux", "prn"}) EXPECT_FALSE(isAllowedName(bad)) << bad;
  for (const char* good : {"con.txt", "conx", "co", "nul", ""}) EXPECT_TRUE(isAllowedName(good)) << good;
}

TEST(DrawTest, SizesCoverTheRangeAndOneBeyondIt) {
  GenerationJob job;
  job.minFileSize = 1024;
  job.maxFileSize = 2048;
  RandomSource random;
  random.srand(7);
  std::int64_t low = INT64_MAX, high = 0;
  for (int i = 0; i < 200000; ++i) {
    const auto size = drawFileSize(job, random);
    low = std::min(low, size);
    high = std::max(high, size);
  }
  EXPECT_EQ(low, 1024);
  EXPECT_EQ(high, 2049);  // a draw of 32,767 lands one past the maximum

  // An empty range draws nothing: the sequence is not advanced.
  job.maxFileSize = 1024;
  RandomSource a, b;
  a.srand(3);
  b.srand(3);
  EXPECT_EQ(drawFileSize(job, a), 1024);
  EXPECT_EQ(a.rand(), b.rand());

  job.minFiles = job.maxFiles = 5;
  EXPECT_EQ(drawFolderFileCount(job, a), 5);
  EXPECT_EQ(a.rand(), b.rand());
  job.maxFiles = 7;
  for (int i = 0; i < 1000; ++i) {
    const auto n = drawFolderFileCount(job, a);
    EXPECT_TRUE(n >= 5 && n <= 7);
  }
}

TEST(RandomSourceTest, GivesFifteenBitValuesOfTheClassicSequence) {
  RandomSource r;
  r.srand(1);
  EXPECT_EQ(r.rand(), 41);
  EXPECT_EQ(r.rand(), 18467);
  EXPECT_EQ(r.rand(), 6334);
  for (int i = 0; i < 10000; ++i) EXPECT_LE(r.rand(), 32767);
}

TEST(ContentGeneratorTest, EvenBytesAreHighAndOddBytesAreLowAtAnyLengthAndAlignment) {
  ContentGenerator content;
  content.seed(42);
  std::vector<std::uint8_t> buffer(70000 + 3);
  for (std::size_t offset : {0u, 1u}) {
    for (std::size_t size : {1024u, 1500u, 31u, 70000u}) {
      std::fill(buffer.begin(), buffer.end(), 0xEE);
      content.fill(buffer.data() + offset, size);
      int evenMin = 255, oddMax = 0;
      std::set<int> distinct;
      for (std::size_t i = 0; i < size; ++i) {
        const int b = buffer[offset + i];
        if (i % 2 == 0) {
          evenMin = std::min(evenMin, b);
        } else {
          oddMax = std::max(oddMax, b);
        }
        distinct.insert(b);
      }
      EXPECT_GE(evenMin, 100) << size;
      if (size > 1) {
        EXPECT_LE(oddMax, 127) << size;
      }
      if (size >= 1024) {
        EXPECT_GT(distinct.size(), 200u);
      }
      EXPECT_EQ(buffer[offset + size], 0xEE);  // nothing written past the end
    }
  }
}

TEST(FreeNameSearchTest, MasksWithoutFreeNamesEndInsteadOfLooping) {
  GenerationJob job;
  job.useFileMask = true;
  std::int64_t counter = 0;
  std::string path;
  // A mask that normalised to nothing names the folder itself.
  job.fileMask = "";
  job.fileNameSpace = 1;
  EXPECT_EQ(FreeNameSearch("/r/", counter, job, 0).next(path), FreeNameSearch::Outcome::NamesUsedUp);
  // A fixed name that is taken stays taken.
  job.fileMask = "data.bin";
  FreeNameSearch taken("/r/", counter, job, 0);
  ASSERT_EQ(taken.next(path), FreeNameSearch::Outcome::Candidate);
  EXPECT_EQ(path, "/r/data.bin");
  int tries = 1;
  while (taken.next(path) == FreeNameSearch::Outcome::Candidate) ++tries;
  EXPECT_LE(tries, 37);
  // One created file uses a one-name space up.
  EXPECT_EQ(FreeNameSearch("/r/", counter, job, 1).next(path), FreeNameSearch::Outcome::NamesUsedUp);
  job.stopRequested = true;
  EXPECT_EQ(FreeNameSearch("/r/", counter, job, 0).next(path), FreeNameSearch::Outcome::Stopped);
}

TEST(FreeNameSearchTest, AMaskOfReservedNamesOnlyIsUsedUp) {
  for (const char* mask : {"con", "CON", "Aux.", "pRn"}) {
    GenerationJob job;
    job.useFileMask = true;
    const NormalisedMask normalised = normaliseMask(mask);
    job.fileMask = normalised.mask;
    job.fileNameSpace = normalised.nameSpace;
    std::int64_t counter = 0;
    std::string path;
    EXPECT_EQ(FreeNameSearch("/r/", counter, job, 0).next(path), FreeNameSearch::Outcome::NamesUsedUp)
        << mask;
  }
  // A mask with other names skips only the reserved ones: "c?n" has 35 allowed names.
  GenerationJob job;
  job.useDirMask = true;
  job.dirMask = "c?n";
  job.dirNameSpace = 36;
  std::int64_t counter = 14 * 36 - 1;  // the counter of "con"
  std::string name;
  EXPECT_EQ(drawAllowedName(counter, job, NameKind::Folder, name), NameDraw::Allowed);
  EXPECT_EQ(name, "cpn");
  job.dirMask = "prn";
  job.dirNameSpace = 1;
  EXPECT_EQ(drawAllowedName(counter, job, NameKind::Folder, name), NameDraw::UsedUp);
}

}  // namespace
}  // namespace quillet
