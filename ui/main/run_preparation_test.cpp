// Filling the job from the dialog's fields: root trim, consistent ranges written back, masks,
// the all-partition figure before the root exists, flags and counters.
#include "ui/main/run_preparation.h"

#include <QTest>

#include "testing/fake_file_system.h"

using namespace quillet;
using namespace quillet::testing;

namespace {
constexpr int kMb = 2, kGb = 3;
constexpr std::int64_t kMiB = 1 << 20;

SettingsValues defaults(const std::string& root) {
  SettingsValues v;
  v.rootFolderText = root;
  return v;
}
}  // namespace

class RunPreparationTest : public QObject {
  Q_OBJECT

 private slots:
  void trimsSpacesOnly_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("blanks around") << "  /data  " << "/data";
    QTest::newRow("only spaces") << "   " << "   ";
    QTest::newRow("tab stays") << "\t/data \t" << "\t/data \t";
    QTest::newRow("empty") << "" << "";
  }
  void trimsSpacesOnly() {
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(QString::fromStdString(trimRootText(text.toStdString())), expected);
  }

  void rootIsTrimmedAndEndedWithASeparator() {
    FakeFileSystem fs;
    GenerationJob job;
    SettingsValues v = defaults("  /data  ");
    QCOMPARE(prepareJob(v, job, fs), PreparationOutcome::Ready);
    QCOMPARE(job.rootFolder, std::string("/data/"));
    QCOMPARE(v.rootFolderText, std::string("/data/"));
    QCOMPARE(job.fsFileSizeLimit, std::int64_t(0));  // EXT4: no limit

  }

  // A relative root would be made in the working folder, which nobody chose and nobody sees.
  void relativeRootIsRefusedBeforeAnythingIsAsked_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown");
    QTest::newRow("spaces only") << "   " << "   /";
    QTest::newRow("a name") << " data " << "data/";
    QTest::newRow("dot") << "./data/" << "./data/";
    QTest::newRow("home sign") << "~/data" << "~/data/";
  }
  void relativeRootIsRefusedBeforeAnythingIsAsked() {
    QFETCH(QString, text);
    QFETCH(QString, shown);
    FakeFileSystem fs;
    GenerationJob job;
    job.filesCreated = 42;
    job.rootFolder = "/before/";
    SettingsValues v = defaults(text.toStdString());
    v.byAllSize = true;
    v.allPartition = true;
    QCOMPARE(prepareJob(v, job, fs), PreparationOutcome::RelativeRoot);
    QCOMPARE(QString::fromStdString(v.rootFolderText), shown);
    QCOMPARE(job.rootFolder, std::string("/before/"));
    QCOMPARE(job.filesCreated.load(), std::int64_t(42));
    QVERIFY(fs.effects().empty());
  }

  void relativeRootGetsTheIncorrectPathText() {
    QCOMPARE(relativeRootMessage("   /"), std::string("Incorrect path - '   '.\n\nTry to check root folder for errors."));
    QCOMPARE(relativeRootMessage("data/x/"),
             std::string("Incorrect path - 'data/x'.\n\nTry to check root folder for errors."));
  }

  void emptyRootStartsNothingButKeepsTheChecks() {
    FakeFileSystem fs;
    GenerationJob job;
    job.filesCreated = 42;
    SettingsValues v = defaults("");
    v.minSizeText = "";
    QCOMPARE(prepareJob(v, job, fs), PreparationOutcome::EmptyRoot);
    QCOMPARE(v.minSizeText, std::string("0"));
    QCOMPARE(job.filesCreated.load(), std::int64_t(42));
    QVERIFY(fs.effects().empty());
  }

  void allSizeBoundsTheRangeWithTextsWrittenBack() {
    FakeFileSystem fs;
    GenerationJob job;
    SettingsValues v = defaults("/d");
    v.byAllSize = true;
    v.useMaxSize = true;
    v.allSizeText = "100";
    v.allSizeUnit = kMb;
    v.minSizeText = "1";
    v.minSizeUnit = kGb;
    v.maxSizeText = "2";
    v.maxSizeUnit = kGb;
    prepareJob(v, job, fs);
    QCOMPARE(job.allSize.load(), 100 * kMiB);
    QCOMPARE(job.minFileSize, 100 * kMiB);
    QCOMPARE(job.maxFileSize, 100 * kMiB);
    QCOMPARE(v.minSizeText, std::string("100"));
    QCOMPARE(v.maxSizeUnit, kMb);
  }

  void masksAreNormalisedBackIntoTheirFields() {
    FakeFileSystem fs;
    GenerationJob job;
    SettingsValues v = defaults("/d");
    v.useFileMask = true;
    v.fileMaskText = ".*.txt.";
    v.useDirMask = false;
    v.dirMaskText = "*";
    prepareJob(v, job, fs);
    QCOMPARE(v.fileMaskText, std::string("???.txt"));
    QCOMPARE(job.fileMask, std::string("???.txt"));
    QCOMPARE(job.fileNameSpace, std::int64_t(36 * 36 * 36));
    QCOMPARE(v.dirMaskText, std::string("*"));  // not in use: left as typed
    QCOMPARE(job.dirNameSpace, std::int64_t(0));
  }

  void allPartitionAsksTheNearestExistingFolderBeforeTheRootExists() {
    FakeFileSystem fs;
    fs.addFolder("/vol");
    fs.freeBytes = 123456789;
    GenerationJob job;
    SettingsValues v = defaults("/vol/new/deeper");
    v.byAllSize = true;
    v.allPartition = true;
    v.allSizeText = "1";
    v.minSizeText = "5";
    v.maxSizeText = "6";
    v.useMaxSize = true;
    prepareJob(v, job, fs);
    QCOMPARE(job.allSize.load(), std::int64_t(123456789));
    QCOMPARE(v.minSizeText, std::string("5"));  // the all size text does not bound the range
    QVERIFY(!fs.hasFolder("/vol/new"));
  }

  void flagsAndCountersStartEveryRunAfresh() {
    FakeFileSystem fs;
    GenerationJob job;
    job.filesCreated = 9;
    job.currentSize = 9;
    job.dirsProcessed = 9;
    job.stopRequested = true;
    job.finished = true;
    job.scriptMode = true;
    SettingsValues v = defaults("/d");
    v.byAllSize = true;
    v.fillSubfolders = true;
    v.makeUpTree = true;
    v.closeProgressAuto = true;
    v.treeDeepText = "0";
    prepareJob(v, job, fs);
    QCOMPARE(job.treeDeep, 1);
    QVERIFY(!job.makeUpTree);  // by all size never makes up a tree
    QVERIFY(job.recurseSubfolders);
    QVERIFY(job.autoClose);
    QVERIFY(!job.scriptMode);
    QVERIFY(!job.stopRequested);
    QVERIFY(!job.finished);
    QCOMPARE(job.filesCreated.load(), std::int64_t(0));
    QCOMPARE(job.currentSize.load(), std::int64_t(0));
    QCOMPARE(job.dirsProcessed.load(), 1u);

    v.byAllSize = false;
    prepareJob(v, job, fs);
    QVERIFY(job.makeUpTree);
    v.fillSubfolders = false;
    prepareJob(v, job, fs);
    QVERIFY(!job.makeUpTree);
  }
};

QTEST_GUILESS_MAIN(RunPreparationTest)
#include "run_preparation_test.moc"
