// A help window in a process of its own, for the tests of the single help window: opens (or
// activates) the help under the given name and reports on standard output what happened.
// Usage: scripts_help_probe <server name> [--minimise]
//   "shown minimised=N"       the help window of this process is up (minimised first with --minimise)
//   "activated minimised=N"   another request brought it forward; the window then closes
//   "result shown" or "result activated-existing windows=N" (N visible top-level windows)
#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "ui/help/scripts_help_dialog.h"
#include "ui/help/scripts_help_window.h"

using namespace quillet;

namespace {

void say(const QString& line) {
  std::printf("%s\n", line.toUtf8().constData());
  std::fflush(stdout);
}

ScriptsHelpDialog* findHelpWindow() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (auto* dialog = qobject_cast<ScriptsHelpDialog*>(widget); dialog && dialog->isVisible()) {
      return dialog;
    }
  }
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const QStringList args = QApplication::arguments();
  if (args.size() < 2) return 2;
  const QString name = args.at(1);
  const bool minimise = args.contains(QStringLiteral("--minimise"));

  // Watches for this process's help window once its modal loop runs.
  QTimer watch;
  watch.setInterval(20);
  QObject::connect(&watch, &QTimer::timeout, [&] {
    ScriptsHelpDialog* dialog = findHelpWindow();
    if (dialog == nullptr) return;
    watch.stop();
    if (minimise) dialog->showMinimized();
    QObject::connect(dialog, &ScriptsHelpDialog::activated, dialog, [dialog] {
      say(QStringLiteral("activated minimised=%1").arg(dialog->isMinimized() ? 1 : 0));
      QTimer::singleShot(50, dialog, &QDialog::accept);
    });
    say(QStringLiteral("shown minimised=%1").arg(dialog->isMinimized() ? 1 : 0));
  });
  watch.start();
  // Never outlive a test that forgot us.
  QTimer::singleShot(60000, [] { std::_Exit(3); });

  if (openOrActivateScriptsHelp(nullptr, name) == HelpOpenResult::Shown) {
    say(QStringLiteral("result shown"));
  } else {
    int visible = 0;
    for (QWidget* widget : QApplication::topLevelWidgets()) visible += widget->isVisible() ? 1 : 0;
    say(QStringLiteral("result activated-existing windows=%1").arg(visible));
  }
  return 0;
}
