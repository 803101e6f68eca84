#include "engine/content_ahead.h"

namespace quillet {

ContentAhead::ContentAhead(std::size_t bufferBytes) : buffer_(bufferBytes), thread_([this] { serve(); }) {}

ContentAhead::~ContentAhead() {
  {
    std::lock_guard guard(lock_);
    quit_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void ContentAhead::start(std::function<void()> make) {
  {
    std::lock_guard guard(lock_);
    task_ = std::move(make);
    busy_ = true;
  }
  changed_.notify_all();
}

void ContentAhead::settle() {
  std::unique_lock guard(lock_);
  changed_.wait(guard, [this] { return !busy_; });
}

bool ContentAhead::worthIt(int writers) {
  // Asked once: the system may read a file to tell, and this is asked for every large file.
  static const unsigned cores = std::thread::hardware_concurrency();
  return cores > 1 && static_cast<unsigned>(writers) < cores;
}

void ContentAhead::serve() {
  std::unique_lock guard(lock_);
  for (;;) {
    changed_.wait(guard, [this] { return quit_ || (busy_ && task_); });
    if (quit_) return;
    std::function<void()> make = std::move(task_);
    task_ = nullptr;
    guard.unlock();
    make();
    guard.lock();
    busy_ = false;
    changed_.notify_all();
  }
}

}  // namespace quillet
