// How a registry failure is shown to the user: a pure formatter and the call that hands its result
// to a presenter (a message box in the UI, a recorder in tests). Not thread-safe; main thread only.
#pragma once

#include <string>

#include "settings/err_exception.h"

namespace quillet {

// Shows one message and returns when the user has dismissed it (blocking, OK only, error icon).
class ErrorPresenter {
 public:
  virtual ~ErrorPresenter() = default;
  virtual void show(const std::string& caption, const std::string& text) = 0;
};

struct RegistryErrorMessage {
  std::string caption;
  std::string text;
};

// For errQueryValue: caption "Error", text naming the value; for every other code the generic
// "Fatal error" text. The exception's detail (the store's file and the system's reason), when it
// has one, follows after an empty line. UTF-8.
RegistryErrorMessage registryErrorMessage(const CErrException& error);

// Shows registryErrorMessage(error) through the presenter.
void reportRegistryError(const CErrException& error, ErrorPresenter& presenter);

}  // namespace quillet
