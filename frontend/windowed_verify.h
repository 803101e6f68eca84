// The verify the windowed program runs on a folder the user picked: the job (no seed and no run
// parameters, so the seed is found from the data), its worker thread, and the box that ends it
// with the summary. Both front-ends drive it the same way: start(), their verify progress dialog
// polling job() with refreshVerifyProgress, join(), then resultBox(). Nothing is written to the
// scripts log: the log records script runs, and the box is this verify's record.
// Threads: start(), join() and resultBox() on the UI thread; the worker writes the result and the
// job's counters, which the UI thread reads only through the job's atomics until join() returned.
#pragma once

#include <string>
#include <thread>

#include "engine/verify.h"
#include "frontend/message_boxes.h"
#include "platform/file_system.h"

namespace quillet {

inline constexpr const char* kVerifyStopped = "Verify stopped before every file was checked.";

class WindowedVerify {
 public:
  // folder as the browser returned it (absolute); the job checks it and everything visible below.
  explicit WindowedVerify(const std::string& folder);
  // Stops and joins a worker still running.
  ~WindowedVerify();
  WindowedVerify(const WindowedVerify&) = delete;
  WindowedVerify& operator=(const WindowedVerify&) = delete;

  // Starts the worker; fs must outlive join().
  void start(FileSystem& fs);
  // Waits for the worker to end (at once when it never started). A stop already requested makes
  // the worker end after the file it is reading.
  void join();

  VerifyJob& job() { return verifyJob; }
  const VerifyResult& result() const { return verifyResult; }

 private:
  VerifyJob verifyJob;
  VerifyResult verifyResult;
  std::thread worker;
};

// The box that ends a verify: the product's name as caption, the summary line the console prints
// with the details after it (seed, read method, capacity, the first damaged blocks), and the note
// that it was stopped when it was; the summary's first words give the verdict. Information icon when
// everything checked was intact, warning icon when damage was found, nothing generated was found (an
// empty folder) or the verify was stopped, error icon when the folder could not be read.
MessageBox verifyResultBox(const VerifyResult& result);

}  // namespace quillet
