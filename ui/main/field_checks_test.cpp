// The field repairs as values: step Z, the caps, and the size and files ranges pushed into order.
#include "ui/main/field_checks.h"

#include <QTest>

using namespace quillet;

namespace {
SettingsValues sizes(const char* minText, int minUnit, const char* maxText, int maxUnit) {
  SettingsValues v;
  v.minSizeText = minText;
  v.minSizeUnit = minUnit;
  v.maxSizeText = maxText;
  v.maxSizeUnit = maxUnit;
  return v;
}
constexpr int kB = 0, kKb = 1, kMb = 2, kGb = 3;
}  // namespace

class FieldChecksTest : public QObject {
  Q_OBJECT

 private slots:
  void stepZeroRepairsEmptyAndNonPositive_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("empty") << "" << "0";
    QTest::newRow("zero") << "0" << "0";
    QTest::newRow("zeros") << "000" << "0";
    QTest::newRow("negative") << "-3" << "0";
    QTest::newRow("no digits") << "abc" << "0";
    QTest::newRow("positive") << "5" << "5";
    QTest::newRow("trailing characters kept") << "12x" << "12x";
    QTest::newRow("leading blanks kept") << "  7" << "  7";
  }
  void stepZeroRepairsEmptyAndNonPositive() {
    QFETCH(QString, text);
    QFETCH(QString, expected);
    std::string value = text.toStdString();
    repairZero(value);
    QCOMPARE(QString::fromStdString(value), expected);
  }

  // Sizes compare as bytes across units; the all size and limit size bound only in their own mode.
  void sizeRangesCompareInBytesWithinTheirMode() {
    SettingsValues v = sizes("2048", kB, "1", kKb);
    checkMinSize(v);
    QCOMPARE(v.maxSizeText, std::string("2048"));
    QCOMPARE(v.maxSizeUnit, kB);
    SettingsValues equal = sizes("1", kGb, "1024", kMb);
    checkMinSize(equal);
    QCOMPARE(equal.maxSizeText, std::string("1024"));

    SettingsValues byNumber = sizes("1", kGb, "2", kGb);
    byNumber.byAllSize = false;
    byNumber.allSizeText = "";
    byNumber.allSizeUnit = kMb;
    checkAllSize(byNumber);
    QCOMPARE(byNumber.allSizeText, std::string("0"));
    QCOMPARE(byNumber.minSizeText, std::string("1"));
    byNumber.byAllSize = true;
    byNumber.useLimitSize = true;
    byNumber.limitSizeText = "1";
    checkLimitSize(byNumber);
    QCOMPARE(byNumber.maxSizeText, std::string("2"));
  }

  void generateChecksSkipAllSizeToAllPartitionAndAnUnmarkedLimit() {
    SettingsValues v = sizes("10", kMb, "20", kMb);
    v.byAllSize = true;
    v.allPartition = true;
    v.allSizeText = "1";
    v.allSizeUnit = kMb;
    v.useLimitSize = false;
    v.limitSizeText = "";
    v.minFilesText = "";
    v.maxFilesText = "";
    v.treeDeepText = "999";
    v.rootSizeText = "-1";
    v.dirsLimitText = "40000x";
    runGenerateChecks(v);
    QCOMPARE(v.minSizeText, std::string("10"));
    QCOMPARE(v.maxSizeText, std::string("20"));
    QCOMPARE(v.limitSizeText, std::string(""));
    QCOMPARE(v.minFilesText, std::string("0"));
    QCOMPARE(v.maxFilesText, std::string("0"));
    QCOMPARE(v.treeDeepText, std::string("255"));
    QCOMPARE(v.rootSizeText, std::string("0"));
    QCOMPARE(v.dirsLimitText, std::string("30000"));  // the cap replaces the whole text

    v.allPartition = false;
    runGenerateChecks(v);
    QCOMPARE(v.minSizeText, std::string("1"));
    QCOMPARE(v.maxSizeText, std::string("1"));
  }
};

QTEST_GUILESS_MAIN(FieldChecksTest)
#include "field_checks_test.moc"
