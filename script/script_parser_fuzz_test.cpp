// Hostile script lines: random mixes of the keys the program knows and of keys it does not, with
// values built to break number readers, quoting and the log's one-line rule. Whatever the line, the
// parsers must end cleanly (the sanitizer builds run this too), decide the same way twice and
// whatever the keys' case, reject with a text the log keeps on one printable line, and accept only jobs whose
// values stay in their ranges.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>

#include "engine/population_sampler.h"
#include "platform/ascii.h"
#include "platform/path.h"
#include "script/measure_run.h"
#include "script/population_profile_read.h"
#include "script/script_log.h"
#include "script/script_parser.h"
#include "script/verify_run.h"

namespace quillet {
namespace {

const char* const kKeys[] = {"/root",     "/allsize", "/minsize",     "/maxsize",  "/minfiles",
                             "/maxfiles", "/recurse", "/rootsize",    "/treedeep", "/dirlimit",
                             "/limsize",  "/nofill",  "/noclose",     "/filemask", "/dirmask",
                             "/seed",     "/sync",    "/threads",     "/report",   "/progress",
                             "/compress", "/dedupe",  "/dedupeblock", "/v",        "/dedupeblk",
                             "/",         "root",     "/ROOT:",       "/s",        "/f",
                             "/m",        "/shift",   "/saveprofile", "/profile"};

const char* const kPieces[] = {
    "0",  "1",   "-1",  "+1",   "4k",   "64K",  "1.5m",     "2g",   "3t",          "kb", ".",
    "e9", "1e3", "max", "auto", "end",  "file", "off",      "json", "yes",         "no", "'",
    "''", "'''", "*",   "?",    "*.*",  "[a]",  "/",        "\\",   "..",          ":",  ",",
    " ",  "\t",  "\n",  "\r",   "\x01", "\x7f", "\xc3\xa9", "\xff", "allpartition"};

std::string randomValue(std::mt19937_64& rng) {
  std::string value;
  const int parts = static_cast<int>(rng() % 4);
  for (int p = 0; p < parts; ++p) {
    switch (rng() % 4) {
      case 0: value += kPieces[rng() % std::size(kPieces)]; break;
      case 1: {
        // Digits from one to forty: past every integer type the readers might use.
        const int digits = 1 + static_cast<int>(rng() % 40);
        for (int d = 0; d < digits; ++d) value += static_cast<char>('0' + rng() % 10);
        break;
      }
      case 2: value += "'/tmp/fuzz" + std::to_string(rng() % 100) + "'"; break;
      default: value += static_cast<char>(1 + rng() % 255); break;
    }
  }
  return value;
}

std::string randomArgument(std::mt19937_64& rng) {
  // Now and then a key of junk, which the rejection names as typed.
  std::string key = rng() % 8 == 0 ? "/" + randomValue(rng) : kKeys[rng() % std::size(kKeys)];
  switch (rng() % 3) {
    case 0: return key;
    case 1: return key + ":" + randomValue(rng);
    default: return key + ":" + randomValue(rng) + ":" + randomValue(rng);
  }
}

// Flips the case of the key part (up to the first colon) of every parameter.
std::vector<std::string> keysInOtherCase(std::vector<std::string> args) {
  for (std::size_t i = 1; i < args.size(); ++i) {
    const auto colon = args[i].find(':');
    for (std::size_t c = 0; c < std::min(colon, args[i].size()); ++c) {
      const char ch = args[i][c];
      args[i][c] = ch >= 'a' && ch <= 'z' ? asciiUpper(ch)
                                          : (ch >= 'A' && ch <= 'Z' ? static_cast<char>(ch + 32) : ch);
    }
  }
  return args;
}

// What the log makes of a text: one line with no control character in it.
bool printableLine(const std::string& rejection) {
  if (rejection.empty()) return false;
  for (const unsigned char c : escapeLogText(rejection)) {
    if (c < 0x20 || c == 0x7f) return false;
  }
  return true;
}

void expectSaneJob(const GenerationJob& job, const std::string& line) {
  EXPECT_FALSE(job.rootFolder.empty()) << line;
  EXPECT_TRUE(isSeparator(job.rootFolder.back())) << line;
  EXPECT_GE(job.minFileSize, 0) << line;
  EXPECT_GE(job.maxFileSize, 0) << line;
  EXPECT_GE(job.allSize, 0) << line;
  EXPECT_GE(job.limitSize, 0) << line;
  EXPECT_GE(job.minFiles, 0) << line;
  EXPECT_GE(job.maxFiles, 0) << line;
  EXPECT_GE(job.treeDeep, 0) << line;
  EXPECT_LE(job.treeDeep, 255) << line;
  EXPECT_GE(job.rootSize, 0) << line;
  EXPECT_LE(job.rootSize, 30000) << line;
  EXPECT_GE(job.dirsLimit, 0) << line;
  EXPECT_LE(job.dirsLimit, 30000) << line;
  EXPECT_GE(job.threads, 1) << line;
  EXPECT_LE(job.threads, 256) << line;
}

std::string shown(const std::vector<std::string>& args) {
  std::string line;
  for (const auto& a : args) {
    for (const unsigned char c : a) {
      if (c < 0x20 || c >= 0x7f) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02X", c);
        line += hex;
      } else {
        line += static_cast<char>(c);
      }
    }
    line += ' ';
  }
  return line;
}

TEST(ScriptParserFuzzTest, AnyLineIsDecidedOnceAlikeAndRejectedInOnePrintableLine) {
  std::mt19937_64 rng(20261208);
  int accepted = 0;
  for (int round = 0; round < 40000 && !::testing::Test::HasFailure(); ++round) {
    const char* mode = round % 3 == 0 ? "/S" : round % 3 == 1 ? "/F" : "/V";
    std::vector<std::string> args = {"quillet", mode};
    const int count = static_cast<int>(rng() % 7);
    for (int i = 0; i < count; ++i) args.push_back(randomArgument(rng));
    // Half the lines get the parameters a run cannot do without, so that acceptance is reached too.
    if (rng() % 2 == 0) {
      const auto sizeValue = [&] { return rng() % 2 == 0 ? std::string("64k") : randomValue(rng); };
      args.push_back("/root:'/tmp/fuzz'");
      if (std::string(mode) == "/S") args.push_back("/allsize:" + sizeValue());
      if (std::string(mode) != "/V") args.push_back("/minsize:" + sizeValue());
    }
    std::shuffle(args.begin() + 2, args.end(), rng);
    const std::string line = shown(args);

    if (std::string(mode) == "/V" || isVerifyRequest(readScriptArgs(mode, args))) {
      GenerationJob job;
      ParseOutcome parsed;
      const VerifyParse first = parseVerify(readScriptArgs(mode, args), job, parsed);
      GenerationJob again;
      ParseOutcome parsedAgain;
      const VerifyParse second = parseVerify(readScriptArgs(mode, keysInOtherCase(args)), again, parsedAgain);
      EXPECT_EQ(first.accepted, second.accepted) << line;
      if (first.accepted) {
        ++accepted;
        EXPECT_FALSE(first.root.empty()) << line;
        EXPECT_GE(first.threads, 1) << line;
        EXPECT_LE(first.threads, 256) << line;
      } else {
        EXPECT_TRUE(printableLine(first.rejection)) << line << "-> " << first.rejection;
        EXPECT_EQ(asciiUpper(first.rejection), asciiUpper(second.rejection)) << line;
      }
      continue;
    }

    GenerationJob job;
    const ParseOutcome first = parseScript(readScriptArgs(mode, args), job);
    GenerationJob again;
    const ParseOutcome second = parseScript(readScriptArgs(mode, keysInOtherCase(args)), again);
    EXPECT_EQ(first.accepted, second.accepted) << line;
    if (first.accepted) {
      ++accepted;
      expectSaneJob(job, line);
      EXPECT_EQ(job.rootFolder, again.rootFolder) << line;
      EXPECT_EQ(job.minFileSize, again.minFileSize) << line;
      EXPECT_EQ(job.maxFileSize, again.maxFileSize) << line;
      EXPECT_EQ(job.allSize, again.allSize) << line;
    } else {
      EXPECT_TRUE(printableLine(rejectionText(first))) << line << "-> " << rejectionText(first);
      EXPECT_EQ(asciiUpper(rejectionText(first)), asciiUpper(rejectionText(second))) << line;
    }
  }
  // The generator reaches both outcomes, or the properties above say little.
  EXPECT_GT(accepted, 800);
  EXPECT_LT(accepted, 38000);
}

TEST(ScriptParserFuzzTest, AnyMeasureLineIsAcceptedWithAPowerOfTwoBlockOrRejectedInOneLine) {
  std::mt19937_64 rng(8122026);
  int accepted = 0;
  for (int round = 0; round < 5000 && !::testing::Test::HasFailure(); ++round) {
    std::vector<std::string> args = {"quillet", "/m"};
    const int count = static_cast<int>(rng() % 5);
    for (int i = 0; i < count; ++i) args.push_back(randomArgument(rng));
    if (rng() % 2 == 0) args.push_back("/root:'/tmp/fuzz'");
    const MeasureParse parsed = parseMeasure(readScriptArgs("/M", args));
    if (parsed.accepted) {
      ++accepted;
      EXPECT_FALSE(parsed.root.empty()) << shown(args);
      EXPECT_GT(parsed.blockSize, 0u) << shown(args);
      EXPECT_EQ(parsed.blockSize & (parsed.blockSize - 1), 0u) << shown(args);
      // A profile target is a quoted text's inside, never empty.
      for (const std::string& a : args) {
        if (a.rfind("/saveprofile:", 0) == 0) {
          EXPECT_EQ("/saveprofile:'" + parsed.profilePath + "'", a) << shown(args);
        }
      }
    } else {
      EXPECT_TRUE(printableLine(parsed.rejection)) << shown(args) << "-> " << parsed.rejection;
    }
  }
  EXPECT_GT(accepted, 250);
}

// A dedupe block of twenty digits once overflowed the measure's number reader before its length
// was looked at.
TEST(ScriptParserFuzzTest, AMeasureBlockOfManyDigitsIsRejectedNotOverflowed) {
  for (const char* value : {"99999999999999999999999k", "12345678b", "-4k", "4q", "k"}) {
    const MeasureParse parsed = parseMeasure(
        readScriptArgs("/M", {"quillet", "/m", "/root:'/tmp/x'", std::string("/dedupeblock:") + value}));
    EXPECT_FALSE(parsed.accepted) << value;
    EXPECT_EQ(parsed.rejection,
              "Invalid script. Incorrect dedupe block size, a power of two from 1K to 1M expected.")
        << value;
  }
  const MeasureParse ok =
      parseMeasure(readScriptArgs("/M", {"quillet", "/m", "/root:'/tmp/x'", "/dedupeblock:64k"}));
  ASSERT_TRUE(ok.accepted) << ok.rejection;
  EXPECT_EQ(ok.blockSize, 65536u);
}

// Hostile profile texts: a good profile cut, spliced, its bytes flipped and its numbers replaced
// by the parser pieces above. The reader must never crash, refuse in one printable line, and what
// it accepts must be drawable: sizes within their bound, counts within their buckets.
TEST(ScriptParserFuzzTest, AnyProfileTextIsReadOrRefusedInOneLine) {
  const std::string good = R"({"schema":"quillet-profile/1","name":"f","files":10,"folders":3,"bytes":100,
    "fileSizes":{"body":{"mu":8.1,"sigma":2.3},"tail":{"share":0.02,"start":1048576,"alpha":1.1},"zeroShare":0.01,
      "quantiles":[[0,0],[0.5,900],[1,5000000]],"count":10,"mean":55.2},
    "filesPerFolder":{"buckets":[[0,0,0.5],[1,4,0.5]],"quantiles":[[0.5,1]],"count":3,"mean":2},
    "subfoldersPerFolder":{"buckets":[[0,0,0.7],[1,2,0.3]]},
    "fileDepth":{"buckets":[[0,0,0.4],[1,1,0.6]]},"folderDepth":{"buckets":[[1,1,1]]},
    "extensions":[{"extension":"txt","share":0.6,"compressionRatio":2.4,"files":6},{"extension":"","share":0.1}],
    "otherExtensionsShare":0.3})";
  std::string error;
  ASSERT_TRUE(readPopulationProfile(good, error)) << error;
  std::mt19937_64 rng(20261208);
  int accepted = 0;
  for (int i = 0; i < 3000; ++i) {
    std::string text = good;
    const int edits = 1 + static_cast<int>(rng() % 4);
    for (int e = 0; e < edits && !text.empty(); ++e) {
      const std::size_t at = rng() % text.size();
      switch (rng() % 5) {
        case 0: text.resize(at); break;
        case 1: text[at] = static_cast<char>(rng() % 256); break;
        case 2: text.insert(at, kPieces[rng() % std::size(kPieces)]); break;
        case 3: {
          // A number replaced by digits past every type, a sign or an exponent.
          const auto digit = text.find_first_of("0123456789", at);
          if (digit != std::string::npos) text.replace(digit, 1, randomValue(rng));
          break;
        }
        default: text.insert(at, text.substr(rng() % text.size(), rng() % 40)); break;
      }
    }
    error.clear();
    const auto profile = readPopulationProfile(text, error);
    if (!profile) {
      EXPECT_TRUE(printableLine(error)) << text << "\n-> " << error;
      continue;
    }
    ++accepted;
    const PopulationSampler sampler(*profile);
    RandomSource random;
    for (int d = 0; d < 50; ++d) {
      const std::int64_t size = sampler.drawSize(random);
      EXPECT_GE(size, 0);
      EXPECT_LE(size, kMaxProfileFileSize);
      const std::int64_t count = PopulationSampler::drawCount(profile->filesPerFolder, random);
      EXPECT_GE(count, profile->filesPerFolder.buckets.front().low);
      EXPECT_LE(count, profile->filesPerFolder.buckets.back().high);
      const int extension = sampler.drawExtension(random);
      EXPECT_LT(extension, static_cast<int>(profile->extensions.size()));
    }
  }
  // Some edits leave a good profile (a changed digit, a flipped byte in the name).
  EXPECT_GT(accepted, 10);
}

}  // namespace
}  // namespace quillet
