#include "ui/help/help_resources.h"

// Q_INIT_RESOURCE declares the registration function at global scope, so it is called from here.
static void registerQuilletResources() { Q_INIT_RESOURCE(quillet); }

namespace quillet {

void registerHelpResources() {
  static const bool registered = [] {
    registerQuilletResources();
    return true;
  }();
  (void)registered;
}

QIcon programIcon() {
  registerHelpResources();
  return QIcon(kProgramIcon);
}

}  // namespace quillet
