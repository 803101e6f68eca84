#include "mpi/rank_exchange.h"

#include <algorithm>
#include <thread>

namespace quillet {

RankExchange::RankExchange(MPI_Comm comm) : comm_(comm) {
  MPI_Comm_rank(comm_, &rank_);
  MPI_Comm_size(comm_, &ranks_);
  send_.resize(RankState::kWords);
  receive_.resize(static_cast<std::size_t>(RankState::kWords) * static_cast<std::size_t>(ranks_));
  all_.resize(static_cast<std::size_t>(ranks_));
}

bool RankExchange::poll(const RankState& mine, bool start) {
  if (!pending_) {
    if (!start) return false;
    const auto words = mine.pack();
    std::copy(words.begin(), words.end(), send_.begin());
    MPI_Iallgather(send_.data(), RankState::kWords, MPI_INT64_T, receive_.data(), RankState::kWords,
                   MPI_INT64_T, comm_, &request_);
    pending_ = true;
    roundStarted_ = std::chrono::steady_clock::now();
  }
  int done = 0;
  MPI_Test(&request_, &done, MPI_STATUS_IGNORE);
  if (done == 0) return false;
  pending_ = false;
  for (int r = 0; r < ranks_; ++r) {
    all_[static_cast<std::size_t>(r)] =
        RankState::unpack(receive_.data() + static_cast<std::ptrdiff_t>(r) * RankState::kWords);
  }
  return true;
}

double RankExchange::waitingSeconds() const {
  if (!pending_) return 0;
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - roundStarted_).count();
}

bool RankExchange::allConcluded() const {
  return std::all_of(all_.begin(), all_.end(),
                     [](const RankState& s) { return s.phase == RankState::Concluded; });
}

bool RankExchange::barrier(double seconds) {
  MPI_Request request = MPI_REQUEST_NULL;
  MPI_Ibarrier(comm_, &request);
  const auto started = std::chrono::steady_clock::now();
  for (;;) {
    int done = 0;
    MPI_Test(&request, &done, MPI_STATUS_IGNORE);
    if (done != 0) return true;
    if (std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count() > seconds)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

bool RankExchange::gatherWords(const std::vector<std::int64_t>& mine, double seconds,
                               std::vector<std::int64_t>& all) {
  all.assign(mine.size() * static_cast<std::size_t>(ranks_), 0);
  MPI_Request request = MPI_REQUEST_NULL;
  MPI_Iallgather(mine.data(), static_cast<int>(mine.size()), MPI_INT64_T, all.data(),
                 static_cast<int>(mine.size()), MPI_INT64_T, comm_, &request);
  const auto started = std::chrono::steady_clock::now();
  for (;;) {
    int done = 0;
    MPI_Test(&request, &done, MPI_STATUS_IGNORE);
    if (done != 0) return true;
    if (std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count() > seconds) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

bool RankExchange::gatherTexts(const std::string& mine, double seconds, std::vector<std::string>& texts) {
  texts.clear();
  std::vector<int> counts(static_cast<std::size_t>(ranks_));
  std::vector<int> offsets(static_cast<std::size_t>(ranks_));
  int total = 0;
  // Each rank's text is cut alike on every rank, so that the whole fits one message.
  const std::int64_t limit = std::min<std::int64_t>(std::int64_t{1} << 24, (std::int64_t{1} << 30) / ranks_);
  for (int r = 0; r < ranks_; ++r) {
    const auto i = static_cast<std::size_t>(r);
    counts[i] = static_cast<int>(std::clamp<std::int64_t>(all_[i].logLines, 0, limit));
    offsets[i] = total;
    total += counts[i];
  }
  // What this rank sends is what it announced, which the round fixed.
  std::string sent = mine.substr(0, static_cast<std::size_t>(counts[static_cast<std::size_t>(rank_)]));
  std::vector<char> received(static_cast<std::size_t>(std::max(total, 1)));
  MPI_Request request = MPI_REQUEST_NULL;
  MPI_Igatherv(sent.data(), static_cast<int>(sent.size()), MPI_CHAR, received.data(), counts.data(),
               offsets.data(), MPI_CHAR, 0, comm_, &request);
  const auto started = std::chrono::steady_clock::now();
  for (;;) {
    int done = 0;
    MPI_Test(&request, &done, MPI_STATUS_IGNORE);
    if (done != 0) break;
    if (std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count() > seconds)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (rank_ != 0) return true;
  for (int r = 0; r < ranks_; ++r) {
    const auto i = static_cast<std::size_t>(r);
    texts.emplace_back(received.data() + offsets[i], static_cast<std::size_t>(counts[i]));
  }
  return true;
}

}  // namespace quillet
