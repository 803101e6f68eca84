// The interactive start-up against a store in a scratch folder: product values, the settings key,
// "Show splash" and the splash, the main dialog run modally, and the settings saved after it.
#include "ui/main/interactive_startup.h"

#include <QTimer>

#include "quillet_version.h"
#include "ui/main/main_test_support.h"

using namespace quillet;
using namespace quillet::test_support;

namespace {
// Closes the main dialog once it runs modally, by its close box.
struct DialogCloser {
  int seen = 0;
  QTimer poll;
  DialogCloser() {
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [this] {
      auto* dialog = qobject_cast<MainDialog*>(QApplication::activeModalWidget());
      if (dialog == nullptr || !dialog->isVisible()) return;
      ++seen;
      dialog->close();
    });
    poll.start();
  }
};

std::string productValue(RegistryStore& store, const char* name) {
  RegistryAccess access(store);
  std::string text;
  try {
    access.readString(productKeyPath, name, text);
  } catch (const CErrException&) {
    return "<missing>";
  }
  return text;
}
}  // namespace

class InteractiveStartupTest : public QObject {
  Q_OBJECT

 private slots:
  void firstStartRecordsTheProductShowsTheSplashAndSavesTheSettings() {
    DialogEnvironment env;
    env.showSplash = false;
    int splashes = 0;
    DialogCloser closer;
    const std::optional<int> result = runInteractive(
        env.showSplash,
        InteractiveServices{env.store, env.errors, *env.fs, systemClock(), [&] { ++splashes; }});
    QCOMPARE(splashes, 1);
    QCOMPARE(closer.seen, 1);
    QVERIFY(env.showSplash);
    QCOMPARE(productValue(env.store, "Product Name"), std::string("Talvane Quillet"));
    QCOMPARE(productValue(env.store, "Product Version"), std::string(QUILLET_PRODUCT_VERSION));
    QCOMPARE(env.storedNumber("Show splash"), 1u);
    QCOMPARE(env.storedString("Tree deep"), std::string("1"));
    QVERIFY(!result);  // no run finished
    QVERIFY(env.errors.texts.empty());
  }

  void splashSwitchedOffOpensTheDialogAtOnce() {
    DialogEnvironment env;
    {
      RegistryAccess access(env.store);
      access.writeDword(settingsKeyPath, "Show splash", 0);
    }
    int splashes = 0;
    DialogCloser closer;
    runInteractive(env.showSplash,
                   InteractiveServices{env.store, env.errors, *env.fs, systemClock(), [&] { ++splashes; }});
    QCOMPARE(splashes, 0);
    QCOMPARE(closer.seen, 1);
    QVERIFY(!env.showSplash);
    QCOMPARE(env.storedNumber("Show splash"), 0u);
  }
};

QTEST_MAIN(InteractiveStartupTest)
#include "interactive_startup_test.moc"
