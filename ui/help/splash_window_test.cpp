// Tests of the splash window: where its texts land on the bitmap (white at the top, black near the
// bottom, nothing anywhere else), when it repaints, and the start-up sequence's messages and holds.
#include "ui/help/splash_window.h"

#include <QApplication>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <vector>

#include "frontend/help_strings.h"
#include "quillet_version.h"
#include "ui/help/help_resources.h"
#include "ui/ui_test_support.h"

using namespace quillet;
using namespace quillet::test_support;

namespace {

const QColor kGrey(128, 128, 128);

bool isWhitish(QColor c) { return c.red() > 200 && c.green() > 200 && c.blue() > 200; }
bool isBlackish(QColor c) { return c.red() < 60 && c.green() < 60 && c.blue() < 60; }

// Pixels of one kind: how many, and the leftmost column among them.
struct Found {
  int count = 0;
  int leftmost = 1 << 30;
};
template <typename Test>
Found find(const QImage& image, const QRect& box, Test test) {
  Found found;
  for (int y = box.top(); y <= box.bottom(); ++y) {
    for (int x = box.left(); x <= box.right(); ++x) {
      if (!test(image.pixelColor(x, y))) continue;
      ++found.count;
      found.leftmost = qMin(found.leftmost, x);
    }
  }
  return found;
}

}  // namespace

class SplashWindowTest : public QObject {
  Q_OBJECT

  QTemporaryDir folder;
  QString greyBitmap;

 private slots:
  void initTestCase() {
    // A plain grey picture of the real size, so every text pixel stands out from the bitmap.
    QImage grey(281, 469, QImage::Format_RGB32);
    grey.fill(kGrey);
    greyBitmap = folder.filePath(QStringLiteral("grey.png"));
    QVERIFY(grey.save(greyBitmap));
  }

  void drawsEachTextInItsPlaceAndNothingElsewhere() {
    SplashWindow splash;
    splash.create(greyBitmap);
    const QString message = QStringLiteral("Quillet is preparing for spamming...");
    splash.setProduct(QStringLiteral("Talvane Quillet"), true);
    splash.setVersion(QStringLiteral("Build " QUILLET_PRODUCT_VERSION), true);
    splash.setMessage(message);
    const QImage image = render(&splash);

    // (281 / 2) - (36 * 4 / 2) - 15 = 53, and 281 - 14 * 4 - 0 - 7 = 218.
    QCOMPARE(splash.messagePosition(), QPoint(53, 450));
    QCOMPARE(splash.versionPosition(), QPoint(218, 0));
    const QRect productBox(2, 0, 15 * 4 + 8, 12);
    const QRect versionBox(217, 0, 281 - 217, 12);
    const QRect messageBox(52, 450, 36 * 4 + 10, 12);

    const Found product = find(image, productBox, isWhitish);
    const Found version = find(image, versionBox, isWhitish);
    const Found text = find(image, messageBox, isBlackish);
    QVERIFY(product.count > 20);
    QVERIFY(version.count > 20);
    QVERIFY(text.count > 40);
    QVERIFY2(product.leftmost <= 5, qPrintable(QString::number(product.leftmost)));
    QVERIFY2(version.leftmost <= 220, qPrintable(QString::number(version.leftmost)));
    QVERIFY2(text.leftmost <= 55, qPrintable(QString::number(text.leftmost)));

    // Outside the three boxes the bitmap shows untouched.
    int stray = 0;
    for (int y = 0; y < image.height(); ++y) {
      for (int x = 0; x < image.width(); ++x) {
        const QPoint p(x, y);
        if (productBox.contains(p) || versionBox.contains(p) || messageBox.contains(p)) continue;
        stray += image.pixelColor(p) != kGrey ? 1 : 0;
      }
    }
    QCOMPARE(stray, 0);
  }

  void productAndVersionAppearOnlyWhenShown() {
    SplashWindow splash;
    splash.create(greyBitmap);
    splash.setProduct(QStringLiteral("Talvane Quillet"), false);
    splash.setVersion(QStringLiteral("Build " QUILLET_PRODUCT_VERSION), false);
    splash.setMessage(QStringLiteral("x"));
    QCOMPARE(find(render(&splash), QRect(0, 0, 281, 20), isWhitish).count, 0);
  }

  void onlyTheMessageRepaintsAtOnce() {
    SplashWindow splash;
    splash.create(greyBitmap);
    QVERIFY(splash.paintCount() >= 1);  // painted as soon as it is created
    const int before = splash.paintCount();
    splash.setProduct(QStringLiteral("P"), true);
    splash.setVersion(QStringLiteral("V"), true);
    QCOMPARE(splash.paintCount(), before);
    splash.setMessage(QStringLiteral("M"));
    QCOMPARE(splash.paintCount(), before + 1);  // synchronously, before any event is handled
  }

  void isAFramelessTopmostToolWindowTheSizeOfItsBitmapCentred() {
    SplashWindow splash;
    splash.create(kSplashBitmap);
    QCOMPARE(splash.size(), QSize(281, 469));
    const Qt::WindowFlags flags = splash.windowFlags();
    QVERIFY(flags & Qt::FramelessWindowHint);
    QVERIFY(flags & Qt::WindowStaysOnTopHint);
    QCOMPARE(flags & Qt::WindowType_Mask, Qt::Tool);
    QCOMPARE(splash.geometry().center(), QGuiApplication::primaryScreen()->geometry().center());
    splash.closeSplash();
    QVERIFY(!splash.isVisible());
  }

  void startupSequenceShowsThreeMessagesForTheirTimesThenCloses() {
    struct Step {
      QString message;
      qint64 hold;
      bool visible;
      bool topTextsShown;
    };
    std::vector<Step> steps;
    runStartupSplash([&](std::chrono::milliseconds hold) {
      SplashWindow* splash = nullptr;
      for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* s = qobject_cast<SplashWindow*>(widget); s && s->isVisible()) splash = s;
      }
      if (splash == nullptr) {
        steps.push_back({QString(), hold.count(), false, false});
        return;
      }
      // What is on screen now: the top texts in white over the dark top of the bitmap.
      const QImage image = render(splash);
      steps.push_back(
          {splash->message(), hold.count(), true, find(image, QRect(0, 0, 281, 12), isWhitish).count > 40});
      if (steps.size() == 2) saveScreenshot(splash, QStringLiteral("splash_window"));
      QCOMPARE(splash->product(), QStringLiteral("Talvane Quillet"));
      QCOMPARE(splash->version(), QStringLiteral("Build " QUILLET_PRODUCT_VERSION));
    });
    QCOMPARE(steps.size(), size_t(3));
    const char* messages[] = {"        Please wait...", "Quillet is preparing for spamming...",
                              kStringSplashAlmostReady};
    const qint64 holds[] = {1500, 2000, 2000};
    for (size_t i = 0; i < 3; ++i) {
      QVERIFY(steps[i].visible);
      QCOMPARE(steps[i].message, QString::fromUtf8(messages[i]));
      QCOMPARE(steps[i].hold, holds[i]);
      QVERIFY(steps[i].topTextsShown);
    }
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      QVERIFY2(!(qobject_cast<SplashWindow*>(widget) && widget->isVisible()), "the splash is closed");
    }
  }
};

QTEST_MAIN(SplashWindowTest)
#include "splash_window_test.moc"
