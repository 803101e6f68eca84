// Makes a file's next chunk of content on a thread of its own while its writer writes the current
// one. Making content costs a core about a quarter of what writing it to a fast volume costs, so
// with a core to spare (fewer writers than cores) the writer need not wait for it.
//
// Threads: one writer owns it and calls start/settle; the making runs on the helper's own thread.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace quillet {

class ContentAhead {
 public:
  explicit ContentAhead(std::size_t bufferBytes);
  ~ContentAhead();
  ContentAhead(const ContentAhead&) = delete;
  ContentAhead& operator=(const ContentAhead&) = delete;

  // The helper's own buffer, which a writer alternates with its own.
  std::uint8_t* buffer() { return buffer_.data(); }
  // Runs make on the helper's thread. The one made before must have been settled.
  void start(std::function<void()> make);
  // Returns once the making started last is done (at once when none is under way). Whatever it
  // wrote is then seen by the caller.
  void settle();

  // Whether a writer among `writers` has a core to spare for a helper.
  static bool worthIt(int writers);

 private:
  void serve();

  std::vector<std::uint8_t> buffer_;
  std::mutex lock_;
  std::condition_variable changed_;
  std::function<void()> task_;
  bool busy_ = false;
  bool quit_ = false;
  std::thread thread_;  // last: started once the rest is in place
};

}  // namespace quillet
