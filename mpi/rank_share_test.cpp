#include "mpi/rank_share.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace quillet {
namespace {

TEST(RankShare, PartsAddUpToTheTotalAndDifferByAtMostOne) {
  for (const std::int64_t total : {0LL, 1LL, 7LL, 1000LL, 1048577LL, (1LL << 40) + 3}) {
    for (const int ranks : {1, 2, 3, 4, 7}) {
      std::int64_t sum = 0, low = total, high = 0;
      for (int r = 0; r < ranks; ++r) {
        const std::int64_t part = shareOf(total, r, ranks);
        sum += part;
        low = std::min(low, part);
        high = std::max(high, part);
      }
      EXPECT_EQ(sum, total) << total << " over " << ranks;
      EXPECT_LE(high - low, 1) << total << " over " << ranks;
    }
  }
  // The remainder goes to the first ranks.
  EXPECT_EQ(shareOf(10, 0, 4), 3);
  EXPECT_EQ(shareOf(10, 1, 4), 3);
  EXPECT_EQ(shareOf(10, 2, 4), 2);
}

TEST(RankShare, FoldersShiftAndShiftValues) {
  EXPECT_EQ(rankFolderName(0), "rank-00000");
  EXPECT_EQ(rankFolderName(12345), "rank-12345");
  EXPECT_EQ(verifiedRank(3, 4, 1), 0);
  EXPECT_EQ(verifiedRank(1, 4, 6), 3);
  EXPECT_EQ(verifiedRank(0, 1, 1), 0);
  EXPECT_EQ(verifiedRank(2, 4, 2147483647), static_cast<int>((2LL + 2147483647LL) % 4));
  int shift = -1;
  EXPECT_TRUE(readShift("0", shift));
  EXPECT_EQ(shift, 0);
  EXPECT_TRUE(readShift("2147483647", shift));
  for (const char* bad : {"", "-1", "+1", "1.5", "2147483648", "99999999999", "one", " 1"}) {
    EXPECT_FALSE(readShift(bad, shift)) << bad;
  }
  int seconds = -1;
  EXPECT_TRUE(readSilenceLimit("1", seconds));
  EXPECT_EQ(seconds, 1);
  EXPECT_TRUE(readSilenceLimit("86400", seconds));
  EXPECT_EQ(seconds, 86400);
  for (const char* bad : {"", "0", "86401", "-5", "2.5", "10s", "4294967297"}) {
    EXPECT_FALSE(readSilenceLimit(bad, seconds)) << bad;
  }
}

std::vector<RankState> withResults(std::initializer_list<std::int64_t> results) {
  std::vector<RankState> v;
  for (const auto r : results) {
    RankState s;
    s.phase = RankState::Concluded;
    s.result = r;
    v.push_back(s);
  }
  return v;
}

TEST(RankShare, OneResultFromEveryRanks) {
  int by = 0;
  EXPECT_EQ(agreedResult(withResults({0, 0, 0}), by), 0);
  EXPECT_EQ(by, -1);
  // A full volume stops the others, whose stop is not the run's result.
  EXPECT_EQ(agreedResult(withResults({2, 1, 2, 1}), by), 1);
  EXPECT_EQ(by, 1);
  // A failure beats the full volume and the stops it caused; the lowest failing rank is named.
  EXPECT_EQ(agreedResult(withResults({2, 1, 8, 3}), by), 8);
  EXPECT_EQ(by, 2);
  auto signalled = withResults({2, 0, 1});
  signalled[0].flags = RankState::SignalStop;
  EXPECT_EQ(agreedResult(signalled, by), 2);
  EXPECT_EQ(agreedResult(withResults({0, 4, 0}), by), 4);
  EXPECT_EQ(agreedResult(withResults({0, 6, 0}), by), 6);
  EXPECT_TRUE(endsOthers(1));
  EXPECT_TRUE(endsOthers(8));
  EXPECT_FALSE(endsOthers(6));
  EXPECT_FALSE(endsOthers(2));
}

TEST(RankShare, ReportRowsTimeFromTheEarliestStart) {
  auto ranks = withResults({0, 0});
  ranks[0].generationStartUs = 2'000'000;
  ranks[0].generationEndUs = 4'000'000;
  ranks[0].files = 10;
  ranks[0].bytes = 4000;
  ranks[0].firstDoneUs = 2'500'000;
  ranks[0].lastDoneUs = 3'500'000;
  ranks[1].generationStartUs = 1'000'000;
  ranks[1].generationEndUs = 5'000'000;
  const auto j = nlohmann::json::parse(ranksJson(ranks, -1, false));
  EXPECT_EQ(j["count"], 2);
  EXPECT_TRUE(j["decided_by_rank"].is_null());
  EXPECT_EQ(j["per_rank"][0]["folder"], "rank-00000");
  EXPECT_DOUBLE_EQ(j["per_rank"][0]["first_done_seconds"].get<double>(), 1.5);
  EXPECT_DOUBLE_EQ(j["per_rank"][0]["last_done_seconds"].get<double>(), 2.5);
  EXPECT_DOUBLE_EQ(j["per_rank"][0]["bytes_per_second"].get<double>(), 2000.0);
  EXPECT_TRUE(j["per_rank"][1]["first_done_seconds"].is_null());
  EXPECT_TRUE(j["per_rank"][1]["run_seed"].is_null());
}

// The verify over all ranks: figures summed (the volume's size not), lists joined, paths led by the
// folder each rank checked, and the given seed in the form rank 0's object writes seeds (text for
// one a JSON number cannot carry whole); every word a rank publishes comes back unchanged.
TEST(RankShare, VerifyOverAllRanksAndRankState) {
  std::vector<RankState> ranks(2);
  ranks[0].verifiedRank = 1;
  ranks[1].verifiedRank = 0;
  const std::string a = R"({"root_folder":"/r/rank-00001/","seed":"1","files_checked":3,
    "classes":{"ok":{"bytes":10,"files":2}},"capacity":{"intact_bytes":10,"volume_total_bytes":100},
    "missing_files":["x"],"unexpected_files":[],"cut_short_file":null,"damaged_files":[{"path":"d","length_bytes":5}]})";
  const std::string b = R"({"root_folder":"/r/rank-00000/","seed":"2","files_checked":4,
    "classes":{"ok":{"bytes":7,"files":4}},"capacity":{"intact_bytes":7,"volume_total_bytes":100},
    "missing_files":[],"unexpected_files":["u"],"cut_short_file":"c","damaged_files":[]})";
  const auto j = nlohmann::json::parse(mergedVerifyJson({a, b}, ranks, "/r/", 18446744073709551615ULL));
  EXPECT_EQ(j["files_checked"], 7);
  EXPECT_EQ(j["classes"]["ok"]["files"], 6);
  EXPECT_EQ(j["capacity"]["intact_bytes"], 17);
  EXPECT_EQ(j["capacity"]["volume_total_bytes"], 100);
  EXPECT_EQ(j["missing_files"], nlohmann::json::array({"rank-00001/x"}));
  EXPECT_EQ(j["unexpected_files"], nlohmann::json::array({"rank-00000/u"}));
  EXPECT_EQ(j["damaged_files"][0]["path"], "rank-00001/d");
  EXPECT_EQ(j["cut_short_file"], "rank-00000/c");
  EXPECT_EQ(j["root_folder"], "/r/");
  EXPECT_EQ(j["seed"], "18446744073709551615");
  EXPECT_EQ(nlohmann::json::parse(mergedVerifyJson({a, b}, ranks, "/r/", 9))["seed"], "9");
  // The seed given is written as every report writes seeds, as text, whatever the parts carried.
  const std::string large = R"({"seed":"16856365574281151301","files_checked":1})";
  EXPECT_EQ(nlohmann::json::parse(mergedVerifyJson({large}, ranks, "/r/", 9))["seed"], "9");
  // An unreadable part counts for nothing.
  EXPECT_EQ(nlohmann::json::parse(mergedVerifyJson({a, "{"}, ranks, "/r/", std::nullopt))["files_checked"],
            3);

  RankState s;
  auto words = s.pack();
  for (std::size_t i = 0; i < words.size(); ++i) words[i] = static_cast<std::int64_t>(i) + 100;
  EXPECT_EQ(RankState::unpack(words.data()).pack(), words);
  // A stop no signal asked for, after another rank's failure, is that failure in the rank's row.
  s.result = 2;
  s.endedByRank = 3;
  s.endedByCode = 8;
  EXPECT_EQ(rowResult(s), 8);
  s.flags = RankState::SignalStop;
  EXPECT_EQ(rowResult(s), 2);
  EXPECT_EQ(firstOtherLine({lineDigest({"a", "/s"}), 1, lineDigest({"b", "/s"}), 1}, 2), -1);
  EXPECT_EQ(firstOtherLine({lineDigest({"a", "/s"}), 1, lineDigest({"a", "/s", "/x"}), 1}, 2), 1);
  EXPECT_NE(lineDigest({"a", "/a b"}), lineDigest({"a", "/a", "b"}));
}

}  // namespace
}  // namespace quillet
