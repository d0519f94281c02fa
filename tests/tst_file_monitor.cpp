// The monitor of the engine's output folder: what a scan lists and in which order, how a scan
// is applied to the list, and when scans come.

#include "support/Fakes.h"
#include "support/FileMonitorProbe.h"
#include "workflow/RecoveredFileScan.h"

#include <QDirIterator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using namespace vellorin;
using namespace vellorin::test;

namespace {

QStringList names(const QList<RecoveredFile>& files) {
    QStringList result;
    for (const RecoveredFile& file : files)
        result.append(file.name());
    return result;
}

// Birth times replaced: none for names starting with "n", one moment for every other file.
struct BirthTimeFileSystem final : PosixFileSystem {
    std::int64_t birthMs = 0;
    std::variant<EntryStat, Error> statEntry(const WalkEntry& entry) override {
        auto result = PosixFileSystem::statEntry(entry);
        if (auto* stat = std::get_if<EntryStat>(&result)) {
            stat->hasBirthTime = entry.name[0] != 'n';
            stat->birthTimeMs = birthMs;
        }
        return result;
    }
};

} // namespace

class FileMonitorTest : public QObject {
    Q_OBJECT
    QTemporaryDir scratch;
    PosixFileSystem fs;
    FakeClock clock;

  private slots:

    void aScanListsVisibleFilesAndWhatLinksPointTo() {
        const QString root = scratch.filePath(u"listed"_s);
        for (const char* name : {"recup_dir.1/f1.jpg", "recup_dir.2/deeper/f2.png", "top.txt", ".hidden.jpg",
                                 ".photorec/photorec.log", "recup_dir.1/.report.xml", "folder/.x"})
            writeFile(root + u'/' + QLatin1String(name), "12345");
        QVERIFY(QFile::link(root + u"/top.txt"_s, root + u"/link.jpg"_s));
        QVERIFY(QFile::link(root + u"/folder"_s, root + u"/dirlink"_s));
        QVERIFY(QFile::link(root + u"/gone"_s, root + u"/dangling"_s));
        const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
        const auto files = scanRecoveredFiles(fs, clock, root);
        QStringList found = names(files);
        found.sort();
        QCOMPARE(found, (QStringList{u"f1.jpg"_s, u"f2.png"_s, u"link.jpg"_s, u"top.txt"_s}));
        for (const RecoveredFile& file : files) {
            QCOMPARE(file.size(), 5);
            QVERIFY(file.path().startsWith(root + u'/') && file.path().endsWith(u'/' + file.name()));
            // The temporary folder's file system keeps birth times (ext4, tmpfs, btrfs and xfs do).
            QVERIFY2(file.date() >= before && file.date() <= QDateTime::currentDateTime(),
                     qPrintable(file.date().toString(Qt::ISODateWithMs)));
        }
        QVERIFY(scanRecoveredFiles(fs, clock, root + u"/none"_s).isEmpty());
    }

    void datesThatTieOrAreMissing() {
        const QString root = scratch.filePath(u"ties"_s);
        for (int i = 0; i < 40; ++i)
            writeFile(root + u"/f%1.jpg"_s.arg(i));
        writeFile(root + u"/nobirth.jpg"_s);
        QStringList walkOrder; // one folder: the order the folder lists its entries in
        for (QDirIterator it(root, QDir::Files); it.hasNext();)
            walkOrder.append(it.nextFileInfo().fileName());
        BirthTimeFileSystem birth;
        const QDateTime scanMoment = QDateTime::currentDateTime();
        clock.set(scanMoment);

        // Every other file born at one moment in 2001: ties keep the walk's order, and the file
        // without a birth time sorts by the moment of the scan, first.
        birth.birthMs = 1'000'000'000'000;
        auto files = scanRecoveredFiles(birth, clock, root);
        QCOMPARE(files.first().name(), u"nobirth.jpg"_s);
        QCOMPARE(files.first().date(), scanMoment);
        walkOrder.removeOne(u"nobirth.jpg"_s);
        QCOMPARE(names(files).mid(1), walkOrder);
        // Born after the scan's moment: the undated file comes last.
        birth.birthMs = scanMoment.toMSecsSinceEpoch() + 3'600'000;
        QCOMPARE(scanRecoveredFiles(birth, clock, root).last().name(), u"nobirth.jpg"_s);
        clock.set({});
    }

    void applyingAScan() {
        TestPlatform test(scratch.path());
        auto model = RecoveryViewModel::create(test.platform());
        QSignalSpy changed(model.get(), &RecoveryViewModel::changed);
        FileMonitorProbe::apply(*model, {}); // nothing found, nothing listed: nothing changes
        QCOMPARE(changed.count(), 0);

        FileMonitorProbe::apply(*model, QList<RecoveredFile>(3, RecoveredFile(u"f"_s, u"/x/f"_s, 1,
                                                                              QDateTime::currentDateTime())));
        QCOMPARE(model->statusMessage(), u"Recovered 3 files..."_s);
        QCOMPARE(model->recoveredCount(), 3);
        // A scan tells nothing of colour or scanned files, nor to the log.
        QCOMPARE(model->statusColor(), RecoveryViewModel::StatusColor::Primary);
        QVERIFY(model->logText().isEmpty() && model->scannedCount() == 0);

        // As many files as listed already: the list the user may be scrolling stays as it is.
        const QUuid firstId = model->recoveredFiles().first().id();
        changed.clear();
        FileMonitorProbe::apply(*model, QList<RecoveredFile>(3, RecoveredFile(u"other"_s, u"/o"_s, 9,
                                                                              QDateTime::currentDateTime())));
        QCOMPARE(changed.count(), 0);
        QCOMPARE(model->recoveredFiles().first().id(), firstId);

        // The folder went away: the list empties.
        FileMonitorProbe::apply(*model, {});
        QVERIFY(model->recoveredFiles().isEmpty());
        QCOMPARE(model->recoveredCount(), 0);
        QCOMPARE(model->statusMessage(), u"Recovered 0 files..."_s);

        // Scans come every two seconds from the start of the monitor (its timer runs) until its stop.
        model->startFileMonitor(scratch.path());
        settle(*test.queues);
        QVERIFY(model->fileMonitorTimer() && model->fileMonitorTimer()->interval() == 2000);
        model->stopFileMonitor();
        settle(*test.queues);
        QVERIFY(!model->fileMonitorTimer());
    }
};

QTEST_MAIN(FileMonitorTest)
#include "tst_file_monitor.moc"
