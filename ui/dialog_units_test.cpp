// Tests of the dialog-unit geometry.
#include "ui/dialog_units.h"

#include <QFontMetrics>
#include <QLabel>
#include <QTest>

using namespace quillet;

class DialogUnitsTest : public QObject {
  Q_OBJECT

 private slots:
  void mapsUnitsThroughTheDialogFontsCharacterCell() {
    const QFont font = dialogFont();
    QCOMPARE(font.pointSize(), 8);
    const DialogUnits units(font);
    const QFontMetrics metrics(font);
    QCOMPARE(units.charHeight(), metrics.height());
    QVERIFY(units.averageCharWidth() > 0);
    // Four horizontal units are one average character, eight vertical ones a character's height.
    QCOMPARE(units.toPixelsX(4), units.averageCharWidth());
    QCOMPARE(units.toPixelsY(8), units.charHeight());
    QCOMPARE(units.toPixelsX(120), (120 * units.averageCharWidth() + 2) / 4);
  }

  void placesChildrenAtTheirTemplatePositions() {
    const DialogUnits units;
    QWidget dialog;
    auto* label = new QLabel(QStringLiteral("Status:"), &dialog);
    units.place(label, 6, 74, 23, 8);
    QCOMPARE(label->geometry(), units.toPixels(6, 74, 23, 8));
    QCOMPARE(label->x(), units.toPixelsX(6));
    QCOMPARE(label->height(), units.toPixelsY(8));
  }
};

QTEST_MAIN(DialogUnitsTest)
#include "dialog_units_test.moc"
