// Tests of the single scripts help window: a second request, from another process or from this
// one, brings the open window forward instead of opening another; a name left behind by a killed
// process is taken over.
#include "ui/help/scripts_help_window.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTest>
#include <QTimer>
#include <memory>

#include "ui/help/scripts_help_dialog.h"

using namespace quillet;

namespace {

// A probe process and everything it has printed so far.
class Probe {
 public:
  explicit Probe(const QString& serverName, const QStringList& extra = {}) {
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QStringLiteral(QUILLET_HELP_PROBE), QStringList{serverName} + extra);
  }
  ~Probe() {
    if (process.state() != QProcess::NotRunning) {
      process.kill();
      process.waitForFinished(5000);
    }
  }

  // Waits until a printed line starts with prefix; returns that line or "" on timeout or exit.
  QString waitForLine(const QString& prefix, int timeoutMs = 15000) {
    QElapsedTimer clock;
    clock.start();
    while (true) {
      const bool running = process.state() != QProcess::NotRunning;
      output += QString::fromUtf8(process.readAllStandardOutput());
      for (const QString& line : output.split(QLatin1Char('\n'))) {
        if (line.startsWith(prefix)) return line;
      }
      if (!running || clock.elapsed() > timeoutMs) return {};
      process.waitForReadyRead(100);
    }
  }

  bool finishedCleanly(int timeoutMs = 15000) {
    return process.waitForFinished(timeoutMs) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
  }

  QProcess process;
  QString output;
};

// A name of this test run's own, so that a real help window of the user is never touched.
QString testServerName(const char* test) {
  return scriptsHelpServerName() +
         QStringLiteral("-test-%1-%2").arg(QCoreApplication::applicationPid()).arg(test);
}

}  // namespace

class ScriptsHelpWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void secondProcessActivatesTheMinimisedFirstAndShowsNothing() {
    const QString name = testServerName("two");
    Probe first(name, {QStringLiteral("--minimise")});
    QCOMPARE(first.waitForLine(QStringLiteral("shown")), QStringLiteral("shown minimised=1"));

    QElapsedTimer clock;
    clock.start();
    Probe second(name);
    QVERIFY(second.finishedCleanly());
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QStringLiteral("took %1 ms").arg(clock.elapsed())));
    second.waitForLine(QStringLiteral("result"));
    QVERIFY2(!second.output.contains(QStringLiteral("shown")), qPrintable(second.output));
    QVERIFY2(second.output.contains(QStringLiteral("result activated-existing windows=0")),
             qPrintable(second.output));

    QCOMPARE(first.waitForLine(QStringLiteral("activated")), QStringLiteral("activated minimised=0"));
    QVERIFY(first.finishedCleanly());
    QCOMPARE(first.waitForLine(QStringLiteral("result")), QStringLiteral("result shown"));
  }

  void nameLeftByAKilledProcessIsTakenOver() {
    const QString name = testServerName("stale");
    {
      Probe crashed(name);
      QVERIFY(!crashed.waitForLine(QStringLiteral("shown")).isEmpty());
      crashed.process.kill();
      QVERIFY(crashed.process.waitForFinished(5000));
    }
#ifndef Q_OS_WIN
    QVERIFY2(QFile::exists(QDir::tempPath() + QLatin1Char('/') + name),
             "a killed process leaves its socket behind");
#endif
    QVERIFY(!askOpenHelpToActivate(name, 1000));

    Probe next(name);
    QCOMPARE(next.waitForLine(QStringLiteral("shown")), QStringLiteral("shown minimised=0"));
    Probe third(name);
    QVERIFY(third.finishedCleanly());
    QVERIFY(!third.waitForLine(QStringLiteral("result activated-existing")).isEmpty());
    QVERIFY(!next.waitForLine(QStringLiteral("activated")).isEmpty());
    QVERIFY(next.finishedCleanly());
  }

  void secondRequestInTheSameProcessActivatesTheOpenWindow() {
    const QString name = testServerName("same");
    HelpOpenResult inner = HelpOpenResult::Shown;
    int activationsSeen = -1;
    QTimer::singleShot(0, [&] {
      auto* dialog = qobject_cast<ScriptsHelpDialog*>(QApplication::activeModalWidget());
      if (dialog == nullptr) return;
      inner = openOrActivateScriptsHelp(nullptr, name);
      activationsSeen = dialog->activationCount();
      dialog->accept();
    });
    const auto guard = closeModalAfter(10000);
    QCOMPARE(openOrActivateScriptsHelp(nullptr, name), HelpOpenResult::Shown);
    QCOMPARE(inner, HelpOpenResult::ActivatedExisting);
    QCOMPARE(activationsSeen, 1);
  }

  void windowRunningHereAnswersAnotherProcess() {
    const QString name = testServerName("answer");
    std::unique_ptr<Probe> other;
    int activations = 0;
    QTimer::singleShot(0, [&] {
      auto* dialog = qobject_cast<ScriptsHelpDialog*>(QApplication::activeModalWidget());
      if (dialog == nullptr) return;
      connect(dialog, &ScriptsHelpDialog::activated, dialog, [&, dialog] {
        activations = dialog->activationCount();
        dialog->accept();
      });
      other = std::make_unique<Probe>(name);
    });
    const auto guard = closeModalAfter(15000);
    QCOMPARE(openOrActivateScriptsHelp(nullptr, name), HelpOpenResult::Shown);
    QCOMPARE(activations, 1);
    QVERIFY(other);
    QVERIFY(other->finishedCleanly());
    QVERIFY2(!other->waitForLine(QStringLiteral("result activated-existing windows=0")).isEmpty(),
             qPrintable(other->output));
  }

 private:
  // Closes whatever modal window is up when the time runs out, so a failing test cannot hang.
  static std::unique_ptr<QTimer> closeModalAfter(int milliseconds) {
    auto timer = std::make_unique<QTimer>();
    timer->setSingleShot(true);
    connect(timer.get(), &QTimer::timeout, [] {
      if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
    });
    timer->start(milliseconds);
    return timer;
  }
};

QTEST_MAIN(ScriptsHelpWindowTest)
#include "scripts_help_window_test.moc"
