// Whether the program can show windows at all, decided before any QApplication exists (Qt aborts
// the process when it cannot reach a display). Reads the environment; main thread only.
#pragma once

#include <string>

namespace quillet {

// True when windows can be shown: QT_QPA_PLATFORM set (trusted as it stands), or DISPLAY naming an
// X server that accepts a connection, or WAYLAND_DISPLAY set with a Wayland platform plugin
// installed. Always true on Windows. The X connection that answered stays open until
// releaseProbedDisplay(), so the server does not reset before the program connects itself.
bool windowsCanBeShown();

// Closes the connection windowsCanBeShown() left open; call it once the QApplication exists.
// Harmless when there is none.
void releaseProbedDisplay();

// True when an X server accepts a connection on display (":0", "host:1.0", ...); the connection is
// closed again at once. Catches a stale DISPLAY as well as a missing server.
bool xServerAccepts(const std::string& display);

// True when a Wayland platform plugin of the Qt the program runs with is installed.
bool waylandPluginInstalled();

}  // namespace quillet
