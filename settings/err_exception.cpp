// The registry exception: keeps the name within its fixed length.
#include "settings/err_exception.h"

#include <utility>

namespace quillet {

CErrException::CErrException(std::int32_t errorCode, const std::string& errorName, std::int32_t systemCode,
                             std::string failureDetail)
    : code(errorCode), name(errorName), systemError(systemCode), detail(std::move(failureDetail)) {
  if (name.size() > kMaxNameLength) {
    std::size_t cut = kMaxNameLength;
    // A cut in the middle of a multi-byte character would leave a malformed text for the report.
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
    name.resize(cut);
  }
}

}  // namespace quillet
