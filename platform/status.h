// Outcome of a platform call: success, or a classified failure that keeps where it happened (the
// path) apart from the system's description of the cause. Plain value type; safe to copy between
// threads.
#pragma once

#include <string>
#include <utility>

namespace quillet {

// The causes the engine tells apart; everything else is Other.
enum class ErrorKind {
  None,
  WrongPath,      // a component is missing, not a folder, too long or invalid
  DiskFull,       // no space or quota left
  AlreadyExists,  // the name is taken (by a file, folder or link)
  Unsupported,    // the file system does not offer the operation
  Other,
};

class Status {
 public:
  Status() = default;
  // context names where it happened (usually the path), cause what the system said; either may be
  // empty.
  static Status failure(ErrorKind kind, int systemCode, std::string context, std::string cause) {
    Status s;
    s.kind_ = kind;
    s.systemCode_ = systemCode;
    s.context_ = std::move(context);
    s.cause_ = std::move(cause);
    return s;
  }

  bool ok() const { return kind_ == ErrorKind::None; }
  ErrorKind kind() const { return kind_; }
  // errno on POSIX, GetLastError() on Windows; 0 on success.
  int systemCode() const { return systemCode_; }
  // Where it failed: "<path>", empty on success.
  const std::string& context() const { return context_; }
  // Why, in the system's words: "<system description>", empty on success.
  const std::string& cause() const { return cause_; }
  // "<context>: <cause>" (or whichever of the two there is), empty on success.
  std::string message() const {
    if (context_.empty() || cause_.empty()) return context_ + cause_;
    return context_ + ": " + cause_;
  }

 private:
  ErrorKind kind_ = ErrorKind::None;
  int systemCode_ = 0;
  std::string context_;
  std::string cause_;
};

// A value or the failure that prevented it.
template <typename T>
class Result {
 public:
  Result(T value) : value_(std::move(value)) {}          // NOLINT: implicit by design
  Result(Status status) : status_(std::move(status)) {}  // NOLINT

  bool ok() const { return status_.ok(); }
  const Status& status() const { return status_; }
  const T& value() const { return value_; }
  T& value() { return value_; }

 private:
  T value_{};
  Status status_;
};

}  // namespace quillet
