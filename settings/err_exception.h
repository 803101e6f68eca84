// The exception every failing registry operation throws (by value; catch it by reference), and its
// codes. Plain value type; safe to copy between threads.
#pragma once

#include <cstdint>
#include <string>

namespace quillet {

// Codes of CErrException::code.
inline constexpr std::int32_t errOpenKey = 0xA10;     // 2576: a key cannot be opened (name: key path)
inline constexpr std::int32_t errCreateKey = 0xA11;   // 2577: a key cannot be created (name: key path)
inline constexpr std::int32_t errQueryValue = 0xA13;  // 2579: a value cannot be read or has another type
inline constexpr std::int32_t errSetValue = 0xA14;    // 2580: a value cannot be written (name: value name)

class CErrException {
 public:
  // The longest name kept; longer ones are cut (never inside a UTF-8 sequence).
  static constexpr std::size_t kMaxNameLength = 259;

  CErrException(std::int32_t code, const std::string& name, std::int32_t systemError,
                std::string detail = {});
  virtual ~CErrException() = default;
  CErrException(const CErrException&) = default;
  CErrException& operator=(const CErrException&) = default;

  std::int32_t code;
  // The key path or value name concerned; empty when none is known.
  std::string name;
  // The code of the failing store call: errno on POSIX, the registry function's result on Windows;
  // 0 when the call succeeded but the value had another type.
  std::int32_t systemError;
  // The store's file and the system's reason when a file operation failed ("<path>: <reason>");
  // empty otherwise, and always on the registry.
  std::string detail;
};

}  // namespace quillet
