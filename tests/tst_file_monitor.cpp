// The monitor of the engine's output folder: what a scan lists and in which order, how a scan
// is applied to the list, and when scans come.

#include "support/Fakes.h"
#include "support/FileMonitorProbe.h"
#include "workflow/RecoveredFileScan.h"
#include "workflow/RecoveryFolderIndex.h"

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

// Notes each folder listed.
struct ListingFileSystem final : PosixFileSystem {
    QStringList listed;
    std::variant<FolderStamp, Error> listFolder(const QString& path, FolderVisitor& visitor) override {
        listed.append(path);
        return PosixFileSystem::listFolder(path, visitor);
    }
};

// Path and size, in the list's order.
QStringList entries(const QList<RecoveredFile>& files) {
    QStringList result;
    for (const RecoveredFile& file : files)
        result.append(file.path() + u' ' + QString::number(file.size()));
    return result;
}

QStringList sorted(QStringList list) {
    list.sort();
    return list;
}

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

    // Between ticks the index knows the folder: a tick finds what came and went, wherever in
    // the tree, gives the list a fresh walk would, and keeps each unchanged file's record.
    void theIndexFollowsTheFolderAsItChanges() {
        const QString root = scratch.filePath(u"followed"_s);
        for (int i = 0; i < 30; ++i)
            writeFile(root + u"/recup_dir.1/f%1.jpg"_s.arg(i), QByteArray(i, 'x'));
        writeFile(root + u"/recup_dir.2/f100.png"_s);
        RecoveryFolderIndex index;
        const auto first = index.scan(fs, clock, root);
        QVERIFY(first && first->size() == 31);
        const auto idOf = [](const QList<RecoveredFile>& files, const QString& name) {
            const auto found = std::find_if(files.cbegin(), files.cend(),
                                            [&](const RecoveredFile& file) { return file.name() == name; });
            return found == files.cend() ? QUuid() : found->id();
        };
        const QUuid kept = idOf(*first, u"f20.jpg"_s);
        QVERIFY(!kept.isNull());
        const auto sameAsAWalk = [&](const QList<RecoveredFile>& files) {
            return sorted(entries(files)) == sorted(entries(scanRecoveredFiles(fs, clock, root)));
        };

        QVERIFY(!index.scan(fs, clock, root)); // nothing came or went
        writeFile(root + u"/recup_dir.2/.hidden.jpg"_s);
        writeFile(root + u"/.photorec/session.txt"_s);
        QVERIFY(!index.scan(fs, clock, root)); // nor anything the list shows

        const auto steps = std::vector<std::function<void()>>{
            [&] { writeFile(root + u"/recup_dir.2/f101.png"_s, "more"); },
            [&] { writeFile(root + u"/recup_dir.3/deeper/still/f200.txt"_s, "new folders"); },
            [&] { QVERIFY(QFile::remove(root + u"/recup_dir.1/f7.jpg"_s)); },
            [&] {
                QVERIFY(QFile::rename(root + u"/recup_dir.1/f8.jpg"_s, root + u"/recup_dir.2/renamed.jpg"_s));
            },
            [&] { QVERIFY(QDir(root + u"/recup_dir.3"_s).removeRecursively()); },
            [&] { QVERIFY(QFile::link(root + u"/recup_dir.2/f100.png"_s, root + u"/link.png"_s)); },
        };
        for (const auto& step : steps) {
            step();
            const auto next = index.scan(fs, clock, root);
            QVERIFY(next);
            QVERIFY2(sameAsAWalk(*next), qPrintable(entries(*next).join(u'\n')));
            QVERIFY(std::is_sorted(next->cbegin(), next->cend(),
                                   [](const auto& a, const auto& b) { return a.date() > b.date(); }));
            QCOMPARE(idOf(*next, u"f20.jpg"_s), kept);
        }
        QVERIFY(QDir(root).removeRecursively());
        const auto gone = index.scan(fs, clock, root);
        QVERIFY(gone && gone->isEmpty());
    }

    // A folder that has not changed since well before it was listed is not read again: a
    // tick over a search of a large disk reads the few folders the engine still writes to.
    void onlyFoldersThatMayHaveChangedAreListedAgain() {
        const QString root = scratch.filePath(u"settled"_s);
        for (int folder = 1; folder <= 3; ++folder)
            for (int i = 0; i < 5; ++i)
                writeFile(root + u"/recup_dir.%1/f%2.jpg"_s.arg(folder).arg(i));
        QTest::qSleep(3200); // longer than the coarsest file system clock the index allows for
        ListingFileSystem listing;
        RecoveryFolderIndex index;
        QVERIFY(index.scan(listing, clock, root));
        QCOMPARE(listing.listed.size(), 4);
        listing.listed.clear();
        QVERIFY(!index.scan(listing, clock, root));
        QCOMPARE(listing.listed, QStringList());

        writeFile(root + u"/recup_dir.2/f9.jpg"_s);
        QVERIFY(QFile::remove(root + u"/recup_dir.3/f0.jpg"_s));
        const auto next = index.scan(listing, clock, root);
        QVERIFY(next && next->size() == 15);
        QCOMPARE(next->first().name(), u"f9.jpg"_s);
        QCOMPARE(sorted(listing.listed), (QStringList{root + u"/recup_dir.2"_s, root + u"/recup_dir.3"_s}));
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
