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

namespace {
#if defined(QUILLET_HAVE_XCB)
// The probe's connection while it is held for the program's own (see releaseProbedDisplay).
xcb_connection_t* heldProbe = nullptr;

// Connects to display; the open connection when the server accepted it, null otherwise.
xcb_connection_t* connectTo(const std::string& display) {
  if (display.empty()) return nullptr;
  int screen = 0;
  xcb_connection_t* connection = xcb_connect(display.c_str(), &screen);
  // xcb_connect never returns null; a failed connection is an error object that must be freed too.
  if (connection != nullptr && xcb_connection_has_error(connection) != 0) {
    xcb_disconnect(connection);
    connection = nullptr;
  }
  return connection;
}
#endif

// Like xServerAccepts, but an accepted connection stays open until releaseProbedDisplay: an X
// server resets when its last client leaves and refuses connections meanwhile, so closing the
// probe at once could turn the program's own connection away a moment later.
bool xServerAcceptsAndHold(const std::string& display) {
#if defined(QUILLET_HAVE_XCB)
  releaseProbedDisplay();
  heldProbe = connectTo(display);
  return heldProbe != nullptr;
#else
  (void)display;
  return false;
#endif
}
}  // namespace

bool xServerAccepts(const std::string& display) {
#if defined(QUILLET_HAVE_XCB)
  xcb_connection_t* connection = connectTo(display);
  if (connection != nullptr) xcb_disconnect(connection);
  return connection != nullptr;
#else
  (void)display;
  return false;
#endif
}

void releaseProbedDisplay() {
#if defined(QUILLET_HAVE_XCB)
  if (heldProbe != nullptr) xcb_disconnect(heldProbe);
  heldProbe = nullptr;
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
  if (isSet("DISPLAY") && xServerAcceptsAndHold(std::getenv("DISPLAY"))) return true;
  return isSet("WAYLAND_DISPLAY") && waylandPluginInstalled();
}

}  // namespace quillet
