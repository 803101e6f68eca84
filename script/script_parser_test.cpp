// The parser's messages, their precedence and the values it reads.
#include "script/script_parser.h"

#include <gtest/gtest.h>

#include "platform/ascii.h"
#include "platform/path.h"
#include "script/measure_run.h"
#include "script/probe_run.h"
#include "script/verify_request.h"

namespace quillet {
namespace {

struct Row {
  std::vector<std::string> params;  // after the mode switch
  const char* mode;
  const char* message;  // empty: accepted
  bool unrecognised = false;
};

void PrintTo(const Row& row, std::ostream* os) {
  *os << row.mode;
  for (const auto& p : row.params) *os << ' ' << p;
}

ParseOutcome parse(const char* mode, const std::vector<std::string>& params, GenerationJob& job) {
  std::vector<std::string> args = {"quillet", mode};
  args.insert(args.end(), params.begin(), params.end());
  return parseScript(readScriptArgs(mode, args), job);
}

// The modes with keys of their own read the line through the same key table: their outcome as the
// log line gives it (empty when accepted).
std::string otherModeRejection(const std::string& mode, const std::vector<std::string>& params) {
  std::vector<std::string> args = {"quillet", mode};
  args.insert(args.end(), params.begin(), params.end());
  if (mode == "/V") {
    GenerationJob job;
    ParseOutcome parsed;
    return parseVerify(readScriptArgs(mode, args), job, parsed).rejection;
  }
  if (mode == "/M") return parseMeasure(readScriptArgs(mode, args)).rejection;
  return parseProbe(readScriptArgs(mode, args)).rejection;
}

class ParserMessageTest : public ::testing::TestWithParam<Row> {};

TEST_P(ParserMessageTest, RejectsWithTheFirstFailingCheckOrAccepts) {
  GenerationJob job;
  const Row& row = GetParam();
  if (std::string(row.mode) != "/S" && std::string(row.mode) != "/F") {
    const std::string expected =
        std::string(row.message).empty() ? std::string() : readingFailureText(row.message, row.unrecognised);
    EXPECT_EQ(otherModeRejection(row.mode, row.params), expected);
    return;
  }
  const ParseOutcome out = parse(row.mode, row.params, job);
  EXPECT_EQ(out.accepted, std::string(row.message).empty()) << out.message;
  if (!out.accepted) {
    EXPECT_EQ(out.message, row.message);
    EXPECT_EQ(out.unrecognisedKey, row.unrecognised);
  }
}

const std::string root = "/root:'/tmp/t'";

INSTANTIATE_TEST_SUITE_P(
    Rows, ParserMessageTest,
    ::testing::Values(
        Row{{}, "/S", "Parameters too low."}, Row{{}, "/F", "Parameters too low."},
        Row{{"/root:/tmp/t"}, "/S", "Root parameter must be in ' symbols."},
        Row{{"/root"}, "/S", "Root can't be empty."}, Row{{"/root:"}, "/S", "Root can't be empty."},
        Row{{"/minsize:10"}, "/S", "Incorrect minimum file size modification."},
        Row{{"/minsize:"}, "/S", "Minimum file size can't be empty."},
        Row{{"/maxsize"}, "/S", "Incorrect maximum file size modification."},
        Row{{"/allsize:allpartitions"}, "/S", "Incorrect all size modification."},
        // An early bad parameter hides later ones; repetition comes before the form check.
        Row{{"/root:'x'", "/root:y", "/bogus"}, "/S", "Repitition /root parameter."},
        Row{{"/minsize:1m", "/maxsize:2m", root}, "/S", "/allsize parameter is absent."},
        Row{{"/allsize:1m", "/minsize:1m"}, "/S", "/root parameter is absent."},
        Row{{"/allsize:1m", root}, "/S", "/minsize parameter is absent."},
        Row{{"/foo:bar"}, "/S", "/foo", true}, Row{{"/MinFiles:3"}, "/S", "/MinFiles", true},
        Row{{"/allsize:1m"}, "/F", "/allsize", true},
        Row{{"/minfiles:1", "/minsize:1k"}, "/F", "/root parameter is absent."},
        Row{{root, "/minsize:1k"}, "/F", "/minfiles parameter is absent."},
        Row{{root, "/minfiles:1", "/treedeep:2", "/minsize:1k"},
            "/F",
            "/treedeep parameter can't be used without /recurse parameter."},
        Row{{root, "/minfiles:1", "/dirmask:'?'", "/rootsize:2", "/minsize:1k"},
            "/F",
            "/rootsize parameter can't be used without /recurse parameter."},
        Row{{root, "/minfiles:1", "/dirmask:'?'"},
            "/F",
            "/dirmask parameter can't be used without /recurse parameter."},
        Row{{root, "/minfiles:1"}, "/F", "/minsize parameter is absent."},
        Row{{root, "/minfiles:1", "/minsize:1k", "/dirlimit:5"}, "/F", ""},
        Row{{root, "/minfiles:1", "/minsize:1k", "/dirlimit:5", "/treedeep:2", "/recurse"}, "/F", ""},
        Row{{root, "/minfiles:1", "/dirlimit:5", "/dirlimit:6"}, "/F", "Repitition /dirlimit parameter."},
        Row{{root, "/minfiles:"}, "/F", "Minimum files number can't be empty."},
        Row{{"/dirmask:?"}, "/F", "Directory mask parameter must be in ' symbols."},
        // The extensions: in both modes, with the checks and messages of the keys before them.
        Row{{"/report:r.json"}, "/S", "Report parameter must be in ' symbols."},
        Row{{"/report:''"}, "/F", "Report can't be empty."}, Row{{"/report"}, "/S", "Report can't be empty."},
        Row{{"/report:'a'", "/REPORT:'b'"}, "/F", "Repitition /report parameter."},
        Row{{"/progress:fast"}, "/S", "Incorrect progress form, json or off expected."},
        Row{{"/progress:"}, "/F", "Progress can't be empty."},
        Row{{"/progress:off", "/progress:json"}, "/S", "Repitition /progress parameter."},
        Row{{"/progress:Json", "/allsize:1m", root, "/minsize:1k", "/Report:'r'"}, "/S", ""},
        Row{{"/progress:OFF", root, "/minfiles:1", "/minsize:1k", "/report:'r'"}, "/F", ""},
        Row{{"/seed"}, "/S", "Seed can't be empty."}, Row{{"/seed:"}, "/F", "Seed can't be empty."},
        Row{{"/seed:-1"}, "/S", "Incorrect seed, a whole number from 0 to 18446744073709551615 expected."},
        Row{{"/seed:12a"}, "/F", "Incorrect seed, a whole number from 0 to 18446744073709551615 expected."},
        Row{{"/seed:'5'"}, "/S", "Incorrect seed, a whole number from 0 to 18446744073709551615 expected."},
        Row{{"/seed:18446744073709551616"},
            "/F",
            "Incorrect seed, a whole number from 0 to 18446744073709551615 expected."},
        Row{{"/seed:1", "/Seed:1"}, "/S", "Repitition /seed parameter."},
        Row{{"/sync"}, "/S", "Sync can't be empty."},
        Row{{"/sync:always"}, "/F", "Incorrect sync mode, none, file or end expected."},
        Row{{"/sync:end", "/SYNC:end"}, "/F", "Repitition /sync parameter."},
        Row{{"/SEED:18446744073709551615", "/Sync:End", "/allsize:1m", root, "/minsize:1k"}, "/S", ""},
        Row{{"/sync:FILE", root, "/minfiles:1", "/minsize:1k", "/seed:0"}, "/F", ""},
        // The absence checks come first as before: a script lacking parameters stays rejected.
        Row{{"/report:'r'", "/progress:json", root}, "/S", "/allsize parameter is absent."},
        // Verify, measure and probe read the same keys with the same texts. A file they name is
        // one character at least: a lone apostrophe is a bad form there, an empty path in a run.
        Row{{"/report:'"}, "/S", "Report can't be empty."},
        Row{{"/root:'"}, "/V", "Root parameter must be in ' symbols."},
        Row{{"/root:''"}, "/V", "Root can't be empty."},
        Row{{root, "/html:'"}, "/V", "Html parameter must be in ' symbols."},
        Row{{root, "/seed:"}, "/V", "Seed can't be empty."},
        Row{{root, "/seed:18446744073709551616"},
            "/V",
            "Incorrect seed, a whole number from 0 to 18446744073709551615 expected."},
        Row{{root, "/seed:18446744073709551615", "/threads:auto", "/journal:'j'", "/progress:json"},
            "/V",
            ""},
        Row{{root, "/threads:0"},
            "/V",
            "Incorrect threads number, a whole number from 1 to 256 or auto expected."},
        Row{{root, "/Report:'a'", "/report:'b'"}, "/V", "Repitition /report parameter."},
        Row{{root, "/minsize:1k"}, "/V", "/minsize", true},
        Row{{"/seed:1"}, "/V", "/root parameter is absent."},
        // The measure reads its block size in plain digits; a run reads sizes as it always has.
        Row{{root, "/dedupeblock:4.5k"},
            "/M",
            "Incorrect dedupe block size, a power of two from 1K to 1M expected."},
        Row{{"/allsize:1m", root, "/minsize:1k", "/dedupeblock:4.5k"}, "/S", ""},
        Row{{root, "/dedupeblock:"}, "/M", "Dedupe block size can't be empty."},
        Row{{root, "/saveprofile:''"}, "/M", "Profile file can't be empty."},
        Row{{root, "/saveprofile:p"}, "/M", "Saveprofile parameter must be in ' symbols."},
        Row{{root, "/threads:2"}, "/M", "/threads", true},
        Row{{root, "/dedupeblock:64K", "/report:'r'", "/progress:off"}, "/M", ""},
        // The probe's /destroy takes no value: given one, it is no key of the probe.
        Row{{"/device:'/dev/x'", "/destroy:yes"}, "/PROBE", "/destroy", true},
        Row{{"/device:'/dev/x'", "/destroy", "/DESTROY"}, "/PROBE", "Repitition /destroy parameter."},
        Row{{"/device:''"}, "/PROBE", "Device can't be empty."},
        Row{{"/destroy"}, "/PROBE", "/device parameter is absent."},
        Row{{"/device:'/dev/x'", "/destroy", "/report:'r'"}, "/PROBE", ""}));

TEST(ScriptParserTest, ExtensionsAreReadAndTheReportFoundBeforeParsing) {
  GenerationJob job;
  ParseOutcome out =
      parse("/F", {root, "/minfiles:1", "/minsize:1k", "/report:'my report.json'", "/progress:json"}, job);
  ASSERT_TRUE(out.accepted) << out.message;
  EXPECT_EQ(out.extensions.reportPath, "my report.json");
  EXPECT_EQ(out.extensions.progress, ProgressFormat::Json);
  out = parse("/S", {root, "/allsize:1m", "/minsize:1k"}, job);
  EXPECT_EQ(out.extensions.reportPath, "");
  EXPECT_EQ(out.extensions.progress, ProgressFormat::Human);
}

// What the line gives before it is parsed: the first /report, /html and /progress, each only when
// well formed, whatever else is wrong; a line without some parameters reads as if never given them.
struct EarlyRow {
  std::vector<std::string> args;
  const char* report;
  const char* html;
  ProgressFormat progress;
};

TEST(ScriptArgsTest, EarlyKeysComeFromTheFirstParameterNamingThemWhenWellFormed) {
  const std::vector<EarlyRow> rows = {
      {{"q", "/s", "/bogus", "/Report:'a:b'", "/report:'c'"}, "a:b", "", ProgressFormat::Human},
      {{"q", "/s", "/report:a", "/report:'c'"}, "", "", ProgressFormat::Human},
      {{"q", "/s", "/report:''"}, "", "", ProgressFormat::Human},
      {{"q", "/s", "/reporter:'x'", "/HTML:'p.html'"}, "", "p.html", ProgressFormat::Human},
      {{"q", "/report:'x'"}, "", "", ProgressFormat::Human},
      {{"q", "/v", "/progress:Json", "/progress:off", "/html:'", "/html:'late'"},
       "",
       "",
       ProgressFormat::Json},
      {{"q", "/m", "/progress:human", "/progress:off"}, "", "", ProgressFormat::Human},
      {{"q", "/f", "/progress", "/root:x", "/progress:OFF"}, "", "", ProgressFormat::Human},
      {{"q", "/probe", "/minfiles:0", "/progress:off", "/report:'r'"}, "r", "", ProgressFormat::Off},
  };
  for (const EarlyRow& row : rows) {
    const ScriptArgs line = readScriptArgs("/S", row.args);
    std::string shown;
    for (const auto& a : row.args) shown += a + " ";
    EXPECT_EQ(line.reportPath, row.report) << shown;
    EXPECT_EQ(line.htmlPath, row.html) << shown;
    EXPECT_EQ(line.progress, row.progress) << shown;
    EXPECT_EQ(line.args, row.args) << shown;
    EXPECT_EQ(line.parameters.size(), row.args.size() < 2 ? 0 : row.args.size() - 2) << shown;
  }
  const ScriptArgs line = readScriptArgs("/S", {"q", "/s", "/v", "/report:'a'", "/V:x", "/report:'b'"});
  const ScriptArgs kept = line.without([](const ScriptParameter& p) { return p.keyUpper == "/REPORT"; });
  EXPECT_EQ(kept.args, (std::vector<std::string>{"q", "/s", "/v", "/V:x"}));
  EXPECT_EQ(kept.reportPath, "");
  EXPECT_EQ(kept.mode, "/S");
  // A run's line asks for a verify by /v alone, in any case; /v with a value is no verify.
  EXPECT_TRUE(isVerifyRequest(readScriptArgs("/F", {"q", "/f", "/minfiles:1", "/V"})));
  EXPECT_FALSE(isVerifyRequest(readScriptArgs("/S", {"q", "/s", "/v:x"})));
  EXPECT_FALSE(isVerifyRequest(readScriptArgs("/M", {"q", "/m", "/v"})));
  EXPECT_TRUE(readScriptArgs("/S", {"q", "/s", "/Device:'d'"}).hasKey("/DEVICE"));
}

// Each word a line gives reads as its value in any case, and a report writes the value as that same
// word; the default's word is written only, and a line giving it is told what is expected.
TEST(ScriptParserTest, ProgressAndSyncWordsReadAndWriteAlike) {
  GenerationJob job;
  const auto withRun = [](const std::string& parameter) {
    return std::vector<std::string>{root, "/allsize:1m", "/minsize:1k", parameter};
  };
  const std::pair<const char*, ProgressFormat> progress[] = {{"json", ProgressFormat::Json},
                                                             {"off", ProgressFormat::Off}};
  for (const auto& [word, format] : progress) {
    EXPECT_STREQ(progressWord(format), word);
    for (const std::string& given : {std::string(word), asciiUpper(word)}) {
      const ParseOutcome out = parse("/S", withRun("/progress:" + given), job);
      ASSERT_TRUE(out.accepted) << given << ": " << out.message;
      EXPECT_EQ(out.extensions.progress, format) << given;
    }
  }
  EXPECT_STREQ(progressWord(ProgressFormat::Human), "human");
  EXPECT_EQ(parse("/S", withRun("/progress:human"), job).message,
            "Incorrect progress form, json or off expected.");
  const std::pair<const char*, SyncMode> sync[] = {
      {"none", SyncMode::None}, {"file", SyncMode::File}, {"end", SyncMode::End}};
  for (const auto& [word, mode] : sync) {
    EXPECT_STREQ(syncWord(mode), word);
    for (const std::string& given : {std::string(word), asciiUpper(word)}) {
      const ParseOutcome out = parse("/S", withRun("/sync:" + given), job);
      ASSERT_TRUE(out.accepted) << given << ": " << out.message;
      EXPECT_EQ(job.sync, mode) << given;
    }
  }
  EXPECT_EQ(parse("/S", withRun("/sync:always"), job).message,
            "Incorrect sync mode, none, file or end expected.");
}

TEST(ScriptParserTest, SeedAndSyncReachTheJobAndAreClearedWithoutThem) {
  GenerationJob job;
  auto out =
      parse("/F", {root, "/minfiles:1", "/minsize:1k", "/seed:18446744073709551615", "/sync:file"}, job);
  ASSERT_TRUE(out.accepted) << out.message;
  EXPECT_TRUE(job.seedGiven);
  EXPECT_EQ(job.runSeed, 18446744073709551615ull);
  EXPECT_EQ(job.sync, SyncMode::File);
  out = parse("/S", {root, "/allsize:1m", "/minsize:1k", "/seed:000042", "/sync:none"}, job);
  ASSERT_TRUE(out.accepted) << out.message;
  EXPECT_EQ(job.runSeed, 42u);
  EXPECT_EQ(job.sync, SyncMode::None);
  out = parse("/S", {root, "/allsize:1m", "/minsize:1k", "/sync:end"}, job);
  ASSERT_TRUE(out.accepted) << out.message;
  EXPECT_FALSE(job.seedGiven);
  EXPECT_EQ(job.sync, SyncMode::End);
}

TEST(ScriptParserTest, ValuesAreReadAsTypedWithTheirModifiers) {
  GenerationJob job;
  auto out = parse("/S",
                   {"/ROOT:'/tmp/Test'", "/minsize:10kb", "/maxsize:1.5m", "/allsize:AllPartition",
                    "/nofill:yes", "/noclose", "/filemask:'a'b'"},
                   job);
  ASSERT_TRUE(out.accepted) << out.message;
  EXPECT_TRUE(out.maxSizeGiven);
  // The root gets the native separator ("\\" on Windows, where "/" is accepted as well).
  EXPECT_EQ(job.rootFolder, std::string("/tmp/Test") + kSeparator);
  EXPECT_EQ(job.minFileSize, 10);  // the modifier is the last character, B
  EXPECT_EQ(job.maxFileSize, 1 << 20);
  EXPECT_TRUE(job.allPartition);
  EXPECT_FALSE(job.fillRandom);
  EXPECT_FALSE(job.autoClose);
  EXPECT_TRUE(job.scriptMode);
  EXPECT_EQ(job.fileMask, "a'b");
  EXPECT_TRUE(job.useFileMask);

  GenerationJob job2;
  out = parse("/S", {"/root:'/tmp/x/'", "/minsize:10K", "/allsize:-5k"}, job2);
  ASSERT_TRUE(out.accepted);
  EXPECT_FALSE(out.maxSizeGiven);
  EXPECT_EQ(job2.rootFolder, "/tmp/x/");
  EXPECT_EQ(job2.minFileSize, 10240);
  EXPECT_EQ(job2.allSize, 0);
  EXPECT_TRUE(job2.fillRandom);

  GenerationJob job3;
  out = parse("/F",
              {"/root:'''", "/minfiles:99999999999", "/maxfiles:abc", "/treedeep:1000", "/rootsize:40000",
               "/dirlimit:30001", "/recurse", "/minsize:1g", "/limsize:2G"},
              job3);
  ASSERT_TRUE(out.accepted) << out.message;
  EXPECT_EQ(job3.rootFolder, std::string("'") + kSeparator);
  EXPECT_EQ(job3.minFiles, 2147483647);
  EXPECT_EQ(job3.maxFiles, 0);
  EXPECT_EQ(job3.treeDeep, 255);
  EXPECT_EQ(job3.rootSize, 30000);
  EXPECT_EQ(job3.dirsLimit, 30000);
  EXPECT_TRUE(job3.makeUpTree && job3.recurseSubfolders && job3.useLimitSize);
  EXPECT_EQ(job3.limitSize, 2LL << 30);
  EXPECT_FALSE(job3.byAllSize);
}

TEST(ScriptParserTest, ContentShapeKeysAndTheirRejections) {
  GenerationJob plain;
  ASSERT_TRUE(parse("/S", {"/root:'/tmp/x/'", "/minsize:10K", "/allsize:1m"}, plain).accepted);
  EXPECT_TRUE(plain.content.plain());

  GenerationJob job;
  auto out = parse(
      "/F",
      {"/root:'/tmp/x/'", "/minfiles:2", "/minsize:1k", "/Compress:3.5", "/DEDUPE:20", "/dedupeblock:8k"},
      job);
  ASSERT_TRUE(out.accepted) << out.message;
  EXPECT_EQ(job.content.compressHundredths, 350u);
  EXPECT_EQ(job.content.dedupeHundredths, 2000u);
  EXPECT_EQ(job.content.dedupeBlock, 8192u);

  const std::vector<std::pair<std::string, std::string>> bad = {
      {"/compress:0.99", "Incorrect compression ratio, a number from 1 to 100 expected."},
      {"/compress:100.01", "Incorrect compression ratio, a number from 1 to 100 expected."},
      {"/compress:2.", "Incorrect compression ratio, a number from 1 to 100 expected."},
      {"/compress:1.234", "Incorrect compression ratio, a number from 1 to 100 expected."},
      {"/compress:-2", "Incorrect compression ratio, a number from 1 to 100 expected."},
      {"/compress:", "Compression ratio can't be empty."},
      {"/dedupe:2x", "Incorrect dedupe ratio, a number from 1 to 100 expected."},
      {"/dedupe:", "Dedupe ratio can't be empty."},
      {"/dedupeblock:3k", "Incorrect dedupe block size, a power of two from 1K to 1M expected."},
      {"/dedupeblock:512b", "Incorrect dedupe block size, a power of two from 1K to 1M expected."},
      {"/dedupeblock:2m", "Incorrect dedupe block size, a power of two from 1K to 1M expected."},
      {"/dedupeblock:4", "Incorrect dedupe block size, a power of two from 1K to 1M expected."},
  };
  for (const auto& [arg, message] : bad) {
    GenerationJob j;
    out = parse("/S", {"/root:'/tmp/x/'", "/minsize:10K", "/allsize:1m", arg}, j);
    EXPECT_FALSE(out.accepted) << arg;
    EXPECT_EQ(out.message, message) << arg;
  }
  GenerationJob twice;
  out = parse("/S", {"/root:'/tmp/x/'", "/minsize:10K", "/allsize:1m", "/dedupe:2", "/dedupe:3"}, twice);
  EXPECT_EQ(out.message, "Repitition /dedupe parameter.");
}

}  // namespace
}  // namespace quillet
