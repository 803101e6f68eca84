// Tests of the about box: the product line built from the recorded version (or without it when the
// store has none or fails), and closing.
#include "ui/help/about_dialog.h"

#include <QSignalSpy>
#include <QTest>
#include <stdexcept>

#include "frontend/help_strings.h"
#include "quillet_version.h"
#include "settings/json_registry_store.h"
#include "settings/registry_access.h"
#include "settings/settings_values.h"
#include "testing/volume_fixture.h"
#include "ui/controls/owner_draw_button.h"
#include "ui/ui_test_support.h"

using namespace quillet;
using namespace quillet::test_support;

namespace {

// A store whose every read fails in a way the registry layer does not describe.
class BrokenAccess : public RegistryAccess {
 public:
  using RegistryAccess::RegistryAccess;
  void readString(const std::string&, const std::string&, std::string&) override {
    throw std::runtime_error("store unreadable");
  }
};

}  // namespace

class AboutDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void productLineCarriesTheRecordedVersion_data() {
    QTest::addColumn<QString>("storeSetup");
    QTest::addColumn<QString>("expected");
    QTest::newRow("version recorded") << "string"
                                      << "Talvane Quillet Build " QUILLET_PRODUCT_VERSION;
    QTest::newRow("empty store") << "none"
                                 << "Talvane Quillet Build ";
    QTest::newRow("version of the wrong type") << "number"
                                               << "Talvane Quillet Build ";
    QTest::newRow("store that fails otherwise") << "broken"
                                                << "Talvane Quillet Build ";
  }
  void productLineCarriesTheRecordedVersion() {
    QFETCH(QString, storeSetup);
    QFETCH(QString, expected);
    ScratchFolder scratch;
    JsonRegistryStore store(scratch / "config");
    RegistryAccess writer(store);
    if (storeSetup == "string")
      writer.writeString(productKeyPath, "Product Version", QUILLET_PRODUCT_VERSION);
    if (storeSetup == "number") writer.writeDword(productKeyPath, "Product Version", 301029);
    writer.closeKey();

    BrokenAccess broken(store);
    RegistryAccess plain(store);
    RegistryAccess& access = storeSetup == "broken" ? broken : plain;
    AboutDialog dialog(access);
    QCOMPARE(dialog.productLine(), expected);
    QCOMPARE(dialog.creditLine(), QString::fromUtf8(kStringAboutCredit));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("About Talvane Quillet"));
    QVERIFY2(!access.hasOpenKey(), "the about box leaves no key open");
    if (storeSetup == "string") {
      dialog.show();
      QVERIFY(QTest::qWaitForWindowExposed(&dialog));
      saveScreenshot(&dialog, QStringLiteral("about_dialog"));
    }
  }

  void okAndEscapeClose() {
    ScratchFolder scratch;
    JsonRegistryStore store(scratch / "config");
    RegistryAccess access(store);
    for (const bool useEscape : {false, true}) {
      AboutDialog dialog(access);
      dialog.show();
      QVERIFY(QTest::qWaitForWindowExposed(&dialog));
      QTRY_VERIFY(dialog.okButton()->hasFocus());
      QSignalSpy finished(&dialog, &QDialog::finished);
      if (useEscape) {
        QTest::keyClick(&dialog, Qt::Key_Escape);
      } else {
        QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
      }
      QCOMPARE(finished.count(), 1);
      QVERIFY(!dialog.isVisible());
    }
  }
};

QTEST_MAIN(AboutDialogTest)
#include "about_dialog_test.moc"
