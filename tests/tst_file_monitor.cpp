#include "support/DeepRun.h"
#include "support/Fakes.h"
#include "workflow/RecoveredFileScan.h"
#include "workflow/ViewController.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

using namespace vellorin;
using namespace vellorin::test;

namespace vellorin {
// Drives the monitor's private steps one at a time.
class FileMonitorProbe {
  public:
    static void apply(RecoveryViewModel& model, QList<RecoveredFile> files) {
        model.applyRecoveredFiles(std::move(files));
    }
};
} // namespace vellorin

namespace {

void makeFile(const QString& path, const QByteArray& bytes = "x") {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QStringList names(const QList<RecoveredFile>& files) {
    QStringList result;
    for (const RecoveredFile& file : files)
        result.append(file.name());
    return result;
}

QList<RecoveredFile> records(int count) {
    QList<RecoveredFile> files;
    for (int i = 0; i < count; ++i)
        files.append(RecoveredFile(QStringLiteral("f%1").arg(i), QStringLiteral("/x/f%1").arg(i), i,
                                   QDateTime::currentDateTimeUtc()));
    return files;
}

// The real file system with its birth times replaced: none for names starting with "n",
// one fixed moment for every other file when asked.
class BirthTimeFileSystem final : public PosixFileSystem {
  public:
    std::optional<std::int64_t> fixedBirthMs;
    std::variant<EntryStat, Error> statEntry(const WalkEntry& entry) override {
        auto result = PosixFileSystem::statEntry(entry);
        if (auto* stat = std::get_if<EntryStat>(&result)) {
            if (entry.name[0] == 'n')
                stat->hasBirthTime = false;
            else if (fixedBirthMs) {
                stat->hasBirthTime = true;
                stat->birthTimeMs = *fixedBirthMs;
            }
        }
        return result;
    }
};

class OrderVisitor final : public WalkVisitor {
  public:
    void visitFile(const WalkEntry& entry) override { order.append(QFile::decodeName(entry.name)); }
    void folderError(std::string_view, const Error&) override {}
    void entryError(std::string_view, const Error&) override {}
    QStringList order;
};

} // namespace

class FileMonitorTest : public QObject {
    Q_OBJECT

  private slots:
    void listsFilesOfSubFoldersButNoFolders();
    void leavesOutHiddenFilesAndEverythingInHiddenFolders();
    void recordsCarryNamePathSizeAndBirthTime();
    void newestFirst();
    void equalDatesKeepTheOrderOfTheWalk();
    void fileWithoutBirthTimeIsDatedAtTheScan();
    void linksCountAsWhatTheyPointTo();
    void missingFolderListsNothing();
    void missingFolderEmptiesAListThatHasEntries();
    void equalCountChangesNothing();
    void applyLeavesColourScannedCountAndLogAlone();
    void firstScanComesTwoSecondsAfterTheStart();
    void stopEndsTheTicks();
    void aSecondStartReplacesTheTimer();
};

void FileMonitorTest::listsFilesOfSubFoldersButNoFolders() {
    QTemporaryDir scratch;
    makeFile(scratch.filePath(QStringLiteral("recup_dir.1/f1.jpg")));
    makeFile(scratch.filePath(QStringLiteral("recup_dir.2/deeper/f2.png")));
    makeFile(scratch.filePath(QStringLiteral("top.txt")));
    QDir().mkpath(scratch.filePath(QStringLiteral("empty")));
    PosixFileSystem fs;
    FakeClock clock;
    QStringList found = names(scanRecoveredFiles(fs, clock, scratch.path()));
    found.sort();
    QCOMPARE(found,
             (QStringList{QStringLiteral("f1.jpg"), QStringLiteral("f2.png"), QStringLiteral("top.txt")}));
}

void FileMonitorTest::leavesOutHiddenFilesAndEverythingInHiddenFolders() {
    QTemporaryDir scratch;
    makeFile(scratch.filePath(QStringLiteral("seen.jpg")));
    makeFile(scratch.filePath(QStringLiteral(".hidden.jpg")));
    makeFile(scratch.filePath(QStringLiteral(".photorec/photorec.log")));
    makeFile(scratch.filePath(QStringLiteral("recup_dir.1/.report.xml")));
    makeFile(scratch.filePath(QStringLiteral("recup_dir.1/f1.png")));
    PosixFileSystem fs;
    FakeClock clock;
    QStringList found = names(scanRecoveredFiles(fs, clock, scratch.path()));
    found.sort();
    QCOMPARE(found, (QStringList{QStringLiteral("f1.png"), QStringLiteral("seen.jpg")}));
}

void FileMonitorTest::recordsCarryNamePathSizeAndBirthTime() {
    QTemporaryDir scratch;
    const QString path = scratch.filePath(QStringLiteral("sub/f0001.jpg"));
    const QDateTime before = QDateTime::currentDateTimeUtc().addSecs(-1);
    makeFile(path, QByteArray(1234, 'j'));
    PosixFileSystem fs;
    FakeClock clock;
    clock.set(QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC));
    const auto files = scanRecoveredFiles(fs, clock, scratch.path());
    QCOMPARE(files.size(), 1);
    QCOMPARE(files[0].name(), QStringLiteral("f0001.jpg"));
    QCOMPARE(files[0].path(), path);
    QCOMPARE(files[0].size(), 1234);
    QVERIFY(!files[0].id().isNull());
    // The temporary folder's file system keeps birth times (ext4, tmpfs, btrfs, xfs do).
    QVERIFY2(files[0].date() >= before && files[0].date() <= QDateTime::currentDateTimeUtc().addSecs(1),
             qPrintable(files[0].date().toString(Qt::ISODateWithMs)));
    // Every scan makes new records.
    const auto again = scanRecoveredFiles(fs, clock, scratch.path());
    QVERIFY(again[0].id() != files[0].id());
}

void FileMonitorTest::newestFirst() {
    QTemporaryDir scratch;
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg"}) {
        makeFile(scratch.filePath(QString::fromLatin1(name)));
        QTest::qWait(30);
    }
    PosixFileSystem fs;
    FakeClock clock;
    QCOMPARE(names(scanRecoveredFiles(fs, clock, scratch.path())),
             (QStringList{QStringLiteral("c.jpg"), QStringLiteral("b.jpg"), QStringLiteral("a.jpg")}));
}

void FileMonitorTest::equalDatesKeepTheOrderOfTheWalk() {
    QTemporaryDir scratch;
    for (int i = 0; i < 40; ++i)
        makeFile(scratch.filePath(QStringLiteral("d%1/f%2.jpg").arg(i % 3).arg(i)));
    BirthTimeFileSystem fs;
    fs.fixedBirthMs = 1'000'000'000'000;
    FakeClock clock;
    OrderVisitor walk;
    QVERIFY(!fs.walk(scratch.path(), WalkOptions{}, walk));
    QCOMPARE(names(scanRecoveredFiles(fs, clock, scratch.path())), walk.order);
}

void FileMonitorTest::fileWithoutBirthTimeIsDatedAtTheScan() {
    QTemporaryDir scratch;
    makeFile(scratch.filePath(QStringLiteral("older.jpg")));
    makeFile(scratch.filePath(QStringLiteral("nobirth.jpg")));
    BirthTimeFileSystem fs;
    fs.fixedBirthMs = QDateTime::currentMSecsSinceEpoch() + 3600'000; // newer than the scan's moment
    makeFile(scratch.filePath(QStringLiteral("zz.jpg")));
    FakeClock clock;
    const QDateTime scanMoment = QDateTime::currentDateTime().addSecs(60);
    clock.set(scanMoment);
    const auto files = scanRecoveredFiles(fs, clock, scratch.path());
    QCOMPARE(files.size(), 3);
    // The undated file sorts by the scan's moment: after the two "future" files.
    QCOMPARE(files[2].name(), QStringLiteral("nobirth.jpg"));
    QCOMPARE(files[2].date(), scanMoment);

    fs.fixedBirthMs = 1'000'000'000'000; // 2001: older than the scan
    const auto second = scanRecoveredFiles(fs, clock, scratch.path());
    QCOMPARE(second[0].name(), QStringLiteral("nobirth.jpg"));
}

void FileMonitorTest::linksCountAsWhatTheyPointTo() {
    QTemporaryDir scratch;
    makeFile(scratch.filePath(QStringLiteral("real.jpg")), "12345");
    QDir().mkpath(scratch.filePath(QStringLiteral("folder")));
    QVERIFY(QFile::link(scratch.filePath(QStringLiteral("real.jpg")),
                        scratch.filePath(QStringLiteral("link.jpg"))));
    QVERIFY(
        QFile::link(scratch.filePath(QStringLiteral("folder")), scratch.filePath(QStringLiteral("dirlink"))));
    QVERIFY(
        QFile::link(scratch.filePath(QStringLiteral("gone")), scratch.filePath(QStringLiteral("dangling"))));
    PosixFileSystem fs;
    FakeClock clock;
    const auto files = scanRecoveredFiles(fs, clock, scratch.path());
    QStringList found = names(files);
    found.sort();
    QCOMPARE(found, (QStringList{QStringLiteral("link.jpg"), QStringLiteral("real.jpg")}));
    for (const auto& file : files)
        QCOMPARE(file.size(), 5);
}

void FileMonitorTest::missingFolderListsNothing() {
    QTemporaryDir scratch;
    TestPlatform test(scratch.path());
    auto model = RecoveryViewModel::create(test.platform());
    QVERIFY(scanRecoveredFiles(*test.fileSystem, *test.clock, scratch.filePath(QStringLiteral("none")))
                .isEmpty());
    QSignalSpy changed(model.get(), &RecoveryViewModel::changed);
    FileMonitorProbe::apply(*model, {});
    QCOMPARE(changed.count(), 0);
    QCOMPARE(model->statusMessage(),
             QStringLiteral("Please select the data source location (where to recover data from)"));
}

void FileMonitorTest::missingFolderEmptiesAListThatHasEntries() {
    QTemporaryDir scratch;
    TestPlatform test(scratch.path());
    auto model = RecoveryViewModel::create(test.platform());
    FileMonitorProbe::apply(*model, records(2));
    QCOMPARE(model->recoveredCount(), 2);
    FileMonitorProbe::apply(*model,
                            scanRecoveredFiles(*test.fileSystem, *test.clock, scratch.filePath("none")));
    QVERIFY(model->recoveredFiles().isEmpty());
    QCOMPARE(model->recoveredCount(), 0);
    QCOMPARE(model->statusMessage(), QStringLiteral("Recovered 0 files..."));
}

void FileMonitorTest::equalCountChangesNothing() {
    QTemporaryDir scratch;
    TestPlatform test(scratch.path());
    auto model = RecoveryViewModel::create(test.platform());
    FileMonitorProbe::apply(*model, records(3));
    QCOMPARE(model->statusMessage(), QStringLiteral("Recovered 3 files..."));
    QCOMPARE(model->recoveredCount(), 3);
    const QUuid firstId = model->recoveredFiles().first().id();

    QSignalSpy changed(model.get(), &RecoveryViewModel::changed);
    QList<RecoveredFile> others;
    for (int i = 0; i < 3; ++i)
        others.append(
            RecoveredFile(QStringLiteral("other"), QStringLiteral("/o"), 99, QDateTime::currentDateTime()));
    FileMonitorProbe::apply(*model, others);
    QCOMPARE(changed.count(), 0);
    QCOMPARE(model->recoveredFiles().first().id(), firstId);
    QCOMPARE(model->recoveredFiles().first().name(), QStringLiteral("f0"));
}

void FileMonitorTest::applyLeavesColourScannedCountAndLogAlone() {
    QTemporaryDir scratch;
    TestPlatform test(scratch.path());
    auto model = RecoveryViewModel::create(test.platform());
    QSignalSpy colour(model.get(), &RecoveryViewModel::statusColorChanged);
    QSignalSpy scanned(model.get(), &RecoveryViewModel::scannedCountChanged);
    QSignalSpy log(model.get(), &RecoveryViewModel::logTextChanged);
    FileMonitorProbe::apply(*model, records(5));
    spin(50);
    QCOMPARE(colour.count(), 0);
    QCOMPARE(scanned.count(), 0);
    QCOMPARE(log.count(), 0);
    QCOMPARE(model->recoveredFiles().size(), 5);
}

void FileMonitorTest::firstScanComesTwoSecondsAfterTheStart() {
    QTemporaryDir scratch;
    TestPlatform test(scratch.path());
    auto model = RecoveryViewModel::create(test.platform());
    const QString watched = scratch.filePath(QStringLiteral("recovered_files"));
    makeFile(watched + QStringLiteral("/recup_dir.1/f1.jpg"));
    model->startFileMonitor(watched);
    spin(100);
    QVERIFY(model->fileMonitorTimer());
    QCOMPARE(model->fileMonitorTimer()->interval(), 2000);
    QVERIFY(model->fileMonitorTimer()->isActive());
    QCOMPARE(model->fileMonitorTimer()->thread(), QThread::currentThread());
    spin(1500);
    QVERIFY(model->recoveredFiles().isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(model->recoveredFiles().size(), 1, 3000);
    QCOMPARE(model->statusMessage(), QStringLiteral("Recovered 1 files..."));
    makeFile(watched + QStringLiteral("/recup_dir.1/f2.jpg"));
    makeFile(watched + QStringLiteral("/recup_dir.1/f3.jpg"));
    QTRY_COMPARE_WITH_TIMEOUT(model->recoveredCount(), 3, 3000);
    QCOMPARE(model->statusMessage(), QStringLiteral("Recovered 3 files..."));
    model->stopFileMonitor();
    spin(50);
}

void FileMonitorTest::stopEndsTheTicks() {
    QTemporaryDir scratch;
    TestPlatform test(scratch.path());
    auto model = RecoveryViewModel::create(test.platform());
    const QString watched = scratch.filePath(QStringLiteral("recovered_files"));
    makeFile(watched + QStringLiteral("/a.jpg"));
    model->startFileMonitor(watched);
    QTRY_COMPARE_WITH_TIMEOUT(model->recoveredFiles().size(), 1, 3500);
    model->stopFileMonitor();
    spin(50);
    QVERIFY(!model->fileMonitorTimer());
    makeFile(watched + QStringLiteral("/b.jpg"));
    spin(2600);
    QCOMPARE(model->recoveredFiles().size(), 1); // no last scan, no further ticks
}

void FileMonitorTest::aSecondStartReplacesTheTimer() {
    QTemporaryDir scratch;
    TestPlatform test(scratch.path());
    auto model = RecoveryViewModel::create(test.platform());
    const QString first = scratch.filePath(QStringLiteral("first"));
    const QString second = scratch.filePath(QStringLiteral("second"));
    makeFile(first + QStringLiteral("/a.jpg"));
    makeFile(first + QStringLiteral("/b.jpg"));
    makeFile(second + QStringLiteral("/c.jpg"));
    model->startFileMonitor(first);
    spin(50);
    QPointer<QTimer> old = model->fileMonitorTimer();
    model->startFileMonitor(second);
    spin(50);
    QVERIFY(old.isNull()); // the old timer is gone, not merely replaced
    QTRY_COMPARE_WITH_TIMEOUT(model->recoveredFiles().size(), 1, 3500);
    QCOMPARE(model->recoveredFiles().first().name(), QStringLiteral("c.jpg"));
    spin(2200);
    QCOMPARE(model->recoveredFiles().size(), 1);
    model->stopFileMonitor();
    spin(50);
}

QTEST_MAIN(FileMonitorTest)
#include "tst_file_monitor.moc"
