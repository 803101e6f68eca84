// Keeps the scripts help window single across the user's processes: the first window listens on a
// per-user local socket name; a later "Scripts help" or "/?" asks it to come forward instead of
// opening a second window. UI thread only.
#pragma once

#include <QString>

class QWidget;

namespace quillet {

enum class HelpOpenResult {
  Shown,              // this call ran the help window until it was closed
  ActivatedExisting,  // a help window was already open (here or in another process) and came forward
};

// The local socket name of the current user's help window; two users never share it.
QString scriptsHelpServerName();

// Asks the help window listening on serverName to restore and raise itself. True when it answered
// within timeoutMs; false when nobody listens (no window, or a name left by a process that died).
bool askOpenHelpToActivate(const QString& serverName, int timeoutMs);

// Brings an open help window forward, or else creates one over parent (may be null), listens on
// serverName while it runs modally, and returns when it is closed. A name that nobody answers on is
// taken over; when the name cannot be had at all the window is still shown, only not single.
HelpOpenResult openOrActivateScriptsHelp(QWidget* parent,
                                         const QString& serverName = scriptsHelpServerName());

}  // namespace quillet
