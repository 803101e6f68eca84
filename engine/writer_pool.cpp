#include "engine/writer_pool.h"

#include <algorithm>
#include <system_error>
#include <thread>
#include <vector>

namespace quillet {

int automaticWriterCount() {
  const unsigned cores = std::thread::hardware_concurrency();
  return std::clamp(cores == 0 ? 1 : static_cast<int>(std::min(cores, 4096u)), 1, kMaxWriters);
}

void runWriters(int writers, const std::function<void(int writer)>& task) {
  if (writers <= 1) {
    task(0);
    return;
  }
  std::vector<std::thread> threads;
  threads.reserve(static_cast<std::size_t>(writers));
  // The tasks share their work out among themselves, so a system that refuses more threads only
  // leaves fewer writers to do it.
  for (int i = 0; i < writers; ++i) {
    try {
      threads.emplace_back(task, i);
    } catch (const std::system_error&) {
      break;
    }
  }
  if (threads.empty()) task(0);
  for (auto& t : threads) t.join();
}

}  // namespace quillet
