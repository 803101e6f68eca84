// Tests of the display decision made before any QApplication exists.
#include "ui/display_probe.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <QThread>
#include <cstdlib>
#include <optional>
#include <string>

using namespace quillet;

namespace {
// Sets (or, with nullopt, removes) an environment variable for one scope.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, std::optional<std::string> value) : name(name) {
    if (const char* old = std::getenv(name)) previous = old;
    if (value) {
      setenv(name, value->c_str(), 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedVariable() {
    if (previous) {
      setenv(name, previous->c_str(), 1);
    } else {
      unsetenv(name);
    }
  }

 private:
  const char* name;
  std::optional<std::string> previous;
};
}  // namespace

class DisplayProbeTest : public QObject {
  Q_OBJECT

 private slots:
  void platformVariableIsTrusted() {
    ScopedVariable platform("QT_QPA_PLATFORM", "offscreen");
    ScopedVariable display("DISPLAY", std::nullopt);
    ScopedVariable wayland("WAYLAND_DISPLAY", std::nullopt);
    QVERIFY(windowsCanBeShown());
  }

  void noDisplayAtAllMeansNoWindows() {
    ScopedVariable platform("QT_QPA_PLATFORM", std::nullopt);
    ScopedVariable display("DISPLAY", std::nullopt);
    ScopedVariable wayland("WAYLAND_DISPLAY", std::nullopt);
    QVERIFY(!windowsCanBeShown());
  }

  void staleDisplayIsCaughtByTheProbe() {
    ScopedVariable platform("QT_QPA_PLATFORM", std::nullopt);
    ScopedVariable display("DISPLAY", ":87");
    ScopedVariable wayland("WAYLAND_DISPLAY", std::nullopt);
    QVERIFY(!xServerAccepts(":87"));
    QVERIFY(!windowsCanBeShown());
  }

  void waylandNeedsItsPlatformPlugin() {
    ScopedVariable platform("QT_QPA_PLATFORM", std::nullopt);
    ScopedVariable display("DISPLAY", std::nullopt);
    ScopedVariable wayland("WAYLAND_DISPLAY", "wayland-0");
    QCOMPARE(windowsCanBeShown(), waylandPluginInstalled());
  }

  void runningXServerAcceptsTheProbe() {
    const QString server = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    if (server.isEmpty()) QSKIP("Xvfb is not installed");
    QProcess xvfb;
    // -noreset: without other clients the server resets after each probe and refuses meanwhile.
    xvfb.start(server, {QStringLiteral(":86"), QStringLiteral("-nolisten"), QStringLiteral("tcp"),
                        QStringLiteral("-noreset")});
    QVERIFY(xvfb.waitForStarted());
    bool accepted = false;
    for (int i = 0; i < 50 && !accepted; ++i) {
      QThread::msleep(100);
      accepted = xServerAccepts(":86");
    }
    {
      ScopedVariable platform("QT_QPA_PLATFORM", std::nullopt);
      ScopedVariable display("DISPLAY", ":86");
      QVERIFY(accepted);
      QVERIFY(windowsCanBeShown());
      releaseProbedDisplay();
    }
    xvfb.terminate();
    xvfb.waitForFinished();
  }
};

QTEST_GUILESS_MAIN(DisplayProbeTest)
#include "display_probe_test.moc"
