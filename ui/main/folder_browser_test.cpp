// Tests of the folder browser: the initial folder's trimming, choosing, cancelling, the title and
// a refusing validateSelection.
#include "ui/main/folder_browser.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>

#include "ui/ui_test_support.h"

using namespace quillet;

namespace {
// Runs action on the browser window once it is up, from inside browse()'s modal loop.
void whenBrowserOpens(std::function<void(QFileDialog*)> action) {
  auto* poll = new QTimer;
  poll->setInterval(20);
  QObject::connect(poll, &QTimer::timeout, [poll, action] {
    auto* window = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (window == nullptr || !window->isVisible()) return;
    poll->stop();
    poll->deleteLater();
    action(window);
  });
  poll->start();
}

class RefusingBrowser : public FolderBrowser {
 public:
  using FolderBrowser::FolderBrowser;
  int asked = 0;
  bool validateSelection(const QString&, QString& statusText) override {
    ++asked;
    statusText = QStringLiteral("Not here");
    return false;
  }
};
}  // namespace

class FolderBrowserTest : public QObject {
  Q_OBJECT

 private slots:
  void trimsTrailingBlanksThenOneSeparator_data() {
    QTest::addColumn<QString>("given");
    QTest::addColumn<QString>("expected");
    QTest::newRow("backslash") << "C:\\Test\\"
                               << "C:\\Test";
    QTest::newRow("blanks after it") << "C:\\Test\\  "
                                     << "C:\\Test";
    QTest::newRow("only one separator") << "/tmp/a//"
                                        << "/tmp/a/";
    QTest::newRow("no separator") << "/tmp/a \t"
                                  << "/tmp/a";
    QTest::newRow("empty") << ""
                           << "";
  }
  void trimsTrailingBlanksThenOneSeparator() {
    QFETCH(QString, given);
    QFETCH(QString, expected);
    QCOMPARE(trimInitialFolder(given), expected);
  }

  void choosingAFolderReturnsItsPath() {
    QTemporaryDir scratch;
    QVERIFY(QDir(scratch.path()).mkdir(QStringLiteral("pick")));
    const QString pick = scratch.path() + QStringLiteral("/pick");
    FolderBrowser browser(pick + QStringLiteral("/  "));
    QString shownTitle;
    QString lookIn;
    whenBrowserOpens([&](QFileDialog* window) {
      shownTitle = window->windowTitle();
      lookIn = window->labelText(QFileDialog::LookIn);
      quillet::test_support::saveScreenshot(window, QStringLiteral("folder_browser"));
      static_cast<QDialog*>(window)->accept();
    });
    QVERIFY(browser.browse());
    QCOMPARE(browser.selectedPath, QDir::toNativeSeparators(pick));
    QCOMPARE(shownTitle, QStringLiteral("Open"));
    QCOMPARE(lookIn, QStringLiteral("Open"));
  }

  void captionAndTitleAreShown() {
    QTemporaryDir scratch;
    FolderBrowser browser(scratch.path());
    browser.title = QStringLiteral("Select folder to start from");
    browser.caption = QStringLiteral("Root folder");
    QString shownTitle;
    QString lookIn;
    whenBrowserOpens([&](QFileDialog* window) {
      shownTitle = window->windowTitle();
      lookIn = window->labelText(QFileDialog::LookIn);
      window->reject();
    });
    QVERIFY(!browser.browse());
    QCOMPARE(shownTitle, QStringLiteral("Root folder"));
    QCOMPARE(lookIn, QStringLiteral("Select folder to start from"));
  }

  void cancellingLeavesSelectedPathAlone() {
    FolderBrowser browser(QStringLiteral("/no/such/folder"));
    browser.selectedPath = QStringLiteral("unchanged");
    whenBrowserOpens([](QFileDialog* window) { window->reject(); });
    QVERIFY(!browser.browse());
    QCOMPARE(browser.selectedPath, QStringLiteral("unchanged"));
  }

  void refusedSelectionCannotBeChosen() {
    QTemporaryDir scratch;
    RefusingBrowser browser(scratch.path());
    browser.showStatusText = true;
    bool stillOpen = false;
    QString status;
    whenBrowserOpens([&](QFileDialog* window) {
      static_cast<QDialog*>(window)->accept();
      stillOpen = window->isVisible();
      if (auto* label = window->findChild<QLabel*>(QStringLiteral("statusText"))) status = label->text();
      window->reject();
    });
    QVERIFY(!browser.browse());
    QVERIFY(stillOpen);
    QVERIFY(browser.asked > 0);
    QCOMPARE(status, QStringLiteral("Not here"));
  }

  void missingRootPathFailsAtOnce() {
    FolderBrowser browser;
    browser.rootPath = QStringLiteral("/no/such/root");
    QVERIFY(!browser.browse());
  }
};

QTEST_MAIN(FolderBrowserTest)
#include "folder_browser_test.moc"
