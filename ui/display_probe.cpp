#include "ui/display_probe.h"

#include <QDir>
#include <QLibraryInfo>
#include <QString>
#include <QStringList>
#include <cstdlib>

#include "platform/system.h"

#if defined(QUILLET_HAVE_XCB)
#include <xcb/xcb.h>
#endif

namespace quillet {

namespace {
bool isSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] != '\0';
}
}  // namespace

bool xServerAccepts(const std::string& display) {
#if defined(QUILLET_HAVE_XCB)
  if (display.empty()) return false;
  int screen = 0;
  xcb_connection_t* connection = xcb_connect(display.c_str(), &screen);
  // xcb_connect never returns null; a failed connection is an error object that must be freed too.
  const bool accepted = connection != nullptr && xcb_connection_has_error(connection) == 0;
  if (connection != nullptr) xcb_disconnect(connection);
  return accepted;
#else
  (void)display;
  return false;
#endif
}

bool waylandPluginInstalled() {
  QStringList folders;
  const QString extra = qEnvironmentVariable("QT_PLUGIN_PATH");
  if (!extra.isEmpty()) folders = extra.split(QDir::listSeparator(), Qt::SkipEmptyParts);
  folders << QLibraryInfo::path(QLibraryInfo::PluginsPath);
  for (const QString& folder : folders) {
    const QDir platforms(folder + QStringLiteral("/platforms"));
    if (!platforms.entryList({QStringLiteral("*qwayland*")}, QDir::Files).isEmpty()) return true;
  }
  return false;
}

bool windowsCanBeShown() {
  if (desktopAlwaysPresent() || isSet("QT_QPA_PLATFORM")) return true;
  if (isSet("DISPLAY") && xServerAccepts(std::getenv("DISPLAY"))) return true;
  return isSet("WAYLAND_DISPLAY") && waylandPluginInstalled();
}

}  // namespace quillet
