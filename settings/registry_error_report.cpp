// Texts of the registry failure report.
#include "settings/registry_error_report.h"

namespace quillet {

RegistryErrorMessage registryErrorMessage(const CErrException& error) {
  RegistryErrorMessage message;
  if (error.code == errQueryValue) {
    // "Registry read error!" — the text users of earlier versions know, kept in Russian.
    message = {"Error",
               "\xD0\x9E\xD1\x88\xD0\xB8\xD0\xB1\xD0\xBA\xD0\xB0 \xD1\x87\xD1\x82\xD0\xB5\xD0\xBD\xD0\xB8\xD1"
               "\x8F \xD1\x80\xD0\xB5\xD0\xB5\xD1\x81\xD1\x82\xD1\x80\xD0\xB0!\n\nKey/Value: " +
                   error.name};
  } else {
    message = {"Fatal error", "The description for error is not available."};
  }
  // The known texts stay as users know them; what the file system said follows for whoever has
  // to repair the store.
  if (!error.detail.empty()) message.text += "\n\n" + error.detail;
  return message;
}

void reportRegistryError(const CErrException& error, ErrorPresenter& presenter) {
  const RegistryErrorMessage message = registryErrorMessage(error);
  presenter.show(message.caption, message.text);
}

}  // namespace quillet
