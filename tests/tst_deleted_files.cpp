// Deleted files brought back with their names before the carver: images of each file system
// are made and emptied here, then recovered through the model with the real services, the
// real helper and the real engine.

#include "platform/ExecutableResources.h"
#include "platform/PosixEngineLauncher.h"
#include "platform/PosixFileSystem.h"
#include "platform/SystemDiskAccess.h"
#include "support/DiskImages.h"
#include "support/Fakes.h"
#include "workflow/CarvedCopies.h"
#include "workflow/NamesStep.h"

#include <QDir>
#include <QDirIterator>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

using namespace vellorin;
using namespace vellorin::test;

namespace {

const QDateTime kTaken = QDateTime(QDate(2021, 5, 3), QTime(10, 0), Qt::UTC);

// A folder tree to put on a file system: "Holiday" is deleted afterwards, "Keep" stays.
struct Originals {
    QString root;
    QStringList deleted; // relative to root
    QStringList deletedPictures;

    explicit Originals(const QString& folder) : root(folder) {
        const QString pictures = root + u"/Holiday/Pictures"_s;
        QDir().mkpath(pictures), QDir().mkpath(root + u"/Holiday/Papers"_s), QDir().mkpath(root + u"/Keep"_s);
        for (const QString& picture : makePictures(pictures, 4))
            deletedPictures.append(QDir(root).relativeFilePath(picture));
        deleted = deletedPictures;
        QRandomGenerator random(16);
        QByteArray mp3;
        for (int frame = 0; frame < 40; ++frame) {
            QByteArray body(413, '\0');
            random.fillRange(reinterpret_cast<quint32*>(body.data()), 413 / 4);
            mp3 += QByteArray::fromHex("fffb9064") + body;
        }
        write(u"Holiday/Papers/song.mp3"_s, mp3);
        write(u"Holiday/Papers/report.pdf"_s,
              "%PDF-1.4\n1 0 obj << /Type /Catalog >> endobj\ntrailer << /Root 1 0 R >>\n"
              "%%EOF\n");
        QVERIFY(makeZip(root + u"/Holiday/Papers/notes.odt"_s, u"mimetype"_s,
                        "application/vnd.oasis.opendocument.text"));
        deleted.append(u"Holiday/Papers/notes.odt"_s);
        write(u"Holiday/Papers/backup.sh"_s, "#!/bin/sh\ncp -r \"$HOME/Pictures\" /media/backup\n");
        // One more picture, unlike those deleted, stays.
        const QStringList keep = makePictures(root + u"/Keep"_s, 5);
        for (qsizetype n = 0; n + 1 < keep.size(); ++n)
            QFile::remove(keep[n]);
        // FAT keeps modification times to two seconds.
        int n = 0;
        for (const QString& file : deleted) {
            QFile stamped(root + u'/' + file);
            QVERIFY(stamped.open(QIODevice::ReadWrite) &&
                    stamped.setFileTime(kTaken.addSecs(2 * n++), QFileDevice::FileModificationTime));
        }
    }
    void write(const QString& relative, const QByteArray& data) {
        writeFile(root + u'/' + relative, data);
        deleted.append(relative);
    }
};

// Mounts the image (or the loop device made for it) at mountPoint with the given command.
bool mounted(const QStringList& mount, const QString& mountPoint, const std::function<bool()>& work) {
    if (!runTool(mount.first(), mount.mid(1) + QStringList{mountPoint}))
        return false;
    const bool done = work();
    return runTool(u"umount"_s, {mountPoint}) && done;
}

// An image holding the originals, with Holiday deleted through the file system's own driver.
bool makeImage(const QString& kind, const QString& image, const Originals& originals,
               const QString& scratch) {
    if (!runTool(u"truncate"_s, {u"-s"_s, u"64M"_s, image}))
        return false;
    if (kind == u"fat32") {
        // Written and emptied by mtools, without mounting: only ext4 mounts in every test kernel.
        if (!runTool(u"mkfs.vfat"_s, {u"-F"_s, u"32"_s, image}))
            return false;
        QDirIterator it(originals.root, QDir::AllEntries | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        QStringList entries;
        while (it.hasNext())
            entries.append(it.next());
        entries.sort(); // folders before what they hold
        for (const QString& entry : entries) {
            const QString target = u"::"_s + QDir(originals.root).relativeFilePath(entry);
            const bool ok = QFileInfo(entry).isDir()
                                ? runTool(u"mmd"_s, {u"-i"_s, image, target})
                                : runTool(u"mcopy"_s, {u"-m"_s, u"-i"_s, image, entry, target});
            if (!ok)
                return false;
        }
        return runTool(u"mdeltree"_s, {u"-i"_s, image, u"::Holiday"_s});
    }
    const QString mountPoint = scratch + u"/mnt"_s;
    QDir().mkpath(mountPoint);
    QStringList mount{u"mount"_s, u"-o"_s, u"loop"_s, image};
    QString loop;
    if (kind == u"ntfs") {
        if (!runTool(u"mkfs.ntfs"_s, {u"-F"_s, u"-q"_s, image}))
            return false;
        mount = {u"mount"_s, u"-t"_s, u"ntfs-3g"_s, u"-o"_s, u"loop"_s, image};
    } else if (kind == u"exfat") {
        QByteArray attached;
        if (!runTool(u"mkfs.exfat"_s, {image}) ||
            !runTool(u"losetup"_s, {u"-f"_s, u"--show"_s, image}, &attached))
            return false;
        loop = QString::fromLocal8Bit(attached.trimmed());
        mount = {u"mount.exfat-fuse"_s, loop};
    } else if (!runTool(u"mkfs.ext4"_s, {u"-q"_s, image})) {
        return false;
    }
    const bool made = mounted(mount, mountPoint,
                              [&] {
                                  return runTool(u"cp"_s, {u"-rp"_s, originals.root + u"/."_s, mountPoint});
                              }) &&
                      mounted(mount, mountPoint, [&] {
                          return runTool(u"rm"_s, {u"-rf"_s, mountPoint + u"/Holiday"_s});
                      });
    if (!loop.isEmpty())
        runTool(u"losetup"_s, {u"-d"_s, loop});
    return made;
}

struct Run {
    QTemporaryDir scratch;
    TestPlatform test{scratch.path()};
    QString save = scratch.filePath(u"save"_s);
    QString directory = save + u"/recovered_files"_s;
    QString restored = directory + u"/Deleted files"_s;
    std::shared_ptr<RecoveryViewModel> model;

    Run() {
        QDir().mkpath(save);
        test.resources = std::make_shared<ExecutableResources>();
        test.disks = std::make_shared<SystemDiskAccess>();
    }
    bool run(const QString& source, bool namesFirst = true) {
        model = RecoveryViewModel::create(test.platform());
        ScanOptions options;
        options.namesFirst = namesFirst;
        model->setScanOptions(options);
        RecoveryWatcher watcher(*model);
        model->startRecovery(source, save);
        return watcher.waitForEnd(180000);
    }
    QStringList log() const { return logMessages(model->logText()); }
    // Where each line is, or -1: the order of the steps' lines.
    qsizetype lineOf(const QString& start) const {
        const QStringList lines = log();
        for (qsizetype i = 0; i < lines.size(); ++i)
            if (lines[i].startsWith(start))
                return i;
        return -1;
    }
    int copiesOf(const QByteArray& hash) const {
        return int(visibleFileHashes(directory).count(QString::fromLatin1(hash)));
    }
};

} // namespace

class DeletedFilesTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        qputenv("MTOOLS_SKIP_CHECK", "1");
        const QString folder = ExecutableResources().resourceFolder().value_or(QString());
        if (!QFileInfo(folder + u"/photorec"_s).isExecutable() ||
            !QFileInfo(NamesStep::helperIn(folder)).isExecutable())
            QFAIL("the build has no photorec or no vellorin-deleted-files: install testdisk and configure "
                  "again");
        if (::geteuid() != 0)
            QSKIP("making the images needs loop devices and mounts: run as root");
    }

    void eachFileSystemGivesItsDeletedFilesBackByName_data() {
        QTest::addColumn<QString>("kind");
        for (const char* kind : {"fat32", "exfat", "ntfs", "ext4"})
            QTest::newRow(kind) << QString::fromLatin1(kind);
    }
    void eachFileSystemGivesItsDeletedFilesBackByName() {
        QFETCH(QString, kind);
        Run run;
        Originals originals(run.scratch.filePath(u"originals"_s));
        const QString image = run.scratch.filePath(u"disk.img"_s);
        QVERIFY(makeImage(kind, image, originals, run.scratch.path()));
        const QByteArray before = sha256Of(image);

        QVERIFY(run.run(image));
        QCOMPARE(run.model->statusMessage(), u"Recovery Completed!"_s);
        QCOMPARE(sha256Of(image), before);
        const QString log = run.log().join(u'\n');
        // The names step's lines come before the engine's start, the removal after its search.
        const qsizetype reading = run.lineOf(u"Reading the file system's records of deleted files..."_s),
                        summary = run.lineOf(u"Restored "_s),
                        started = run.lineOf(u"PhotoRec automation script started..."_s),
                        searched = run.lineOf(u"PhotoRec: Search finished"_s),
                        removed = run.lineOf(u"Removed "_s);
        QVERIFY2(reading >= 0 && reading < summary && summary < started && started < searched &&
                     searched < removed,
                 qPrintable(log));

        // Every deleted picture is there exactly once, under its name or carved.
        for (const QString& picture : originals.deletedPictures)
            QVERIFY2(run.copiesOf(sha256Of(originals.root + u'/' + picture)) == 1, qPrintable(picture));
        QVERIFY(!QFileInfo::exists(run.restored + u"/Keep"_s)); // live files are the engine's to find
        if (kind == u"ext4") {
            qInfo("ext4: %s", qPrintable(log.section(u'\n', summary, summary)));
            return;
        }

        QVERIFY2(
            log.contains(
                u"Restored %1 deleted files with their names (0 could not be restored: their space is in use again)."_s
                    .arg(originals.deleted.size())),
            qPrintable(log));
        int renamed = 0;
        for (const QString& file : originals.deleted) {
            const QFileInfo original(originals.root + u'/' + file);
            QFileInfo back(run.restored + u'/' + file);
            // FAT overwrites the first character of a deleted short name.
            if (!back.exists() && kind == u"fat32") {
                back.setFile(back.path() + u"/_"_s + back.fileName().mid(1));
                renamed += back.exists();
            }
            QVERIFY2(back.exists(), qPrintable(file));
            QCOMPARE(sha256Of(back.filePath()), sha256Of(original.filePath()));
            QCOMPARE(back.lastModified(), original.lastModified());
        }
        qInfo("%s: %lld files back by name, %d of them with the first character of a short name replaced",
              qPrintable(kind), qlonglong(originals.deleted.size()), renamed);
        // The list shows the restored files as well, by their names.
        const auto& listed = run.model->recoveredFiles();
        QVERIFY(std::any_of(listed.begin(), listed.end(), [&](const RecoveredFile& f) {
            return f.path().startsWith(run.restored + u'/');
        }));
        QCOMPARE(run.model->recoveredCount(), visibleFileHashes(run.directory).size());
    }

    // Switched off, the run is the engine's alone: no lines of the step, no folder of it.
    void namesFirstOffLeavesTheSearchAsItWas() {
        Run run;
        Originals originals(run.scratch.filePath(u"originals"_s));
        const QString image = run.scratch.filePath(u"disk.img"_s);
        QVERIFY(makeImage(u"fat32"_s, image, originals, run.scratch.path()));
        QVERIFY(run.run(image, false));
        QCOMPARE(run.model->statusMessage(), u"Recovery Completed!"_s);
        QCOMPARE(run.lineOf(u"Reading the file system's records"_s), -1);
        QCOMPARE(run.lineOf(u"Restored "_s), -1);
        QCOMPARE(run.lineOf(u"Removed "_s), -1);
        QVERIFY(!QFileInfo::exists(run.restored));
        for (const QString& picture : originals.deletedPictures)
            QCOMPARE(run.copiesOf(sha256Of(originals.root + u'/' + picture)), 1);
    }

    // A record whose entry is broken ends the step with a line; the carver still searches.
    void aCorruptRecordEndsTheStepAndTheCarverGoesOn() {
        Run run;
        Originals originals(run.scratch.filePath(u"originals"_s));
        const QString image = run.scratch.filePath(u"disk.img"_s);
        QVERIFY(makeImage(u"ntfs"_s, image, originals, run.scratch.path()));
        QFile disk(image);
        QVERIFY(disk.open(QIODevice::ReadWrite));
        const QByteArray boot = disk.read(512);
        const qint64 clusterBytes = qFromLittleEndian<quint16>(boot.constData() + 0x0B) * quint8(boot[0x0D]);
        const qint64 mft = qFromLittleEndian<qint64>(boot.constData() + 0x30) * clusterBytes;
        QByteArray noise(1024, '\0');
        QRandomGenerator(5).fillRange(reinterpret_cast<quint32*>(noise.data()), 256);
        QVERIFY(disk.seek(mft + 5 * 1024) && disk.write(noise) == 1024); // the root folder's record
        disk.close();

        QVERIFY(run.run(image));
        QCOMPARE(run.model->statusMessage(), u"Recovery Completed!"_s);
        const QString log = run.log().join(u'\n');
        QVERIFY2(log.contains(u"The file system's records could not be read to their end ("_s) &&
                     log.contains(u"); the search goes on with PhotoRec."_s) &&
                     run.lineOf(u"PhotoRec: Search finished"_s) > run.lineOf(u"Restored 0 deleted files"_s),
                 qPrintable(log));
        for (const QString& picture : originals.deletedPictures)
            QCOMPARE(run.copiesOf(sha256Of(originals.root + u'/' + picture)), 1);
    }

    // A save location that fills up ends the step with a line, keeping only whole files.
    void aFullSaveLocationStopsTheStepWithWholeFilesOnly() {
        QTemporaryDir scratch;
        Originals originals(scratch.filePath(u"originals"_s));
        const QString image = scratch.filePath(u"disk.img"_s), into = scratch.filePath(u"small"_s);
        QVERIFY(makeImage(u"fat32"_s, image, originals, scratch.path()));
        QDir().mkpath(into);
        QVERIFY(runTool(u"mount"_s, {u"-t"_s, u"tmpfs"_s, u"-o"_s, u"size=96k"_s, u"tmpfs"_s, into}));
        const auto unmount = qScopeGuard([&] { runTool(u"umount"_s, {into}); });
        const int fd = ::open(QFile::encodeName(image).constData(), O_RDONLY | O_CLOEXEC);
        QVERIFY(fd >= 0);
        const auto closeImage = qScopeGuard([fd] { ::close(fd); });
        PosixEngineLauncher launcher;
        QStringList lines;
        const NamesStep::Outcome outcome = NamesStep::run(
            launcher, NamesStep::helperIn(ExecutableResources().resourceFolder().value_or(QString())), fd,
            into, [&lines](const QString& line) { lines.append(line); });
        QCOMPARE(lines,
                 QStringList{u"Restoring deleted files stopped: the save location cannot take more (No space "
                             "left on device)."_s});
        QVERIFY(outcome.read && !outcome.files.isEmpty() && outcome.files.size() < originals.deleted.size());
        QStringList written;
        for (QDirIterator it(into, QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
            written.append(it.next());
        QCOMPARE(written.size(), outcome.files.size());
        for (const NamesStep::Restored& file : outcome.files)
            QCOMPARE(QFileInfo(file.path).size(), file.size);
    }

    // A disk that fails under some deleted files: each is skipped with a line, and nothing is
    // left of it; a link in the save location is not followed; a source with no file system the
    // library knows is said to be one.
    void anUnreadableFileIsSkippedAndAnUnknownDiskSaidSo() {
        QTemporaryDir scratch;
        const QString image = scratch.filePath(u"card.img"_s), into = scratch.filePath(u"out"_s);
        QDir().mkpath(into);
        const QStringList pictures = makePictures(scratch.path(), 2);
        writeFile(scratch.filePath(u"filler"_s), QByteArray(20 << 20, 'f'));
        QVERIFY(runTool(u"truncate"_s, {u"-s"_s, u"32M"_s, image}) && runTool(u"mkfs.vfat"_s, {image}) &&
                runTool(u"mcopy"_s, {u"-i"_s, image, scratch.filePath(u"filler"_s), u"::filler"_s}));
        for (const QString& picture : pictures)
            QVERIFY(runTool(u"mcopy"_s, {u"-i"_s, image, picture, u"::"_s}));
        for (const QString& picture : pictures)
            QVERIFY(runTool(u"mdel"_s, {u"-i"_s, image, u"::"_s + QFileInfo(picture).fileName()}));
        FailingDisk disk(image, scratch.filePath(u"disk"_s), {u"--bad"_s, u"16777216"_s});
        QVERIFY(disk.serving());
        const QString helper =
            NamesStep::helperIn(ExecutableResources().resourceFolder().value_or(QString()));
        PosixEngineLauncher launcher;
        QStringList lines;
        const auto note = [&lines](const QString& line) { lines.append(line); };
        const auto runOver = [&](const QString& path) {
            const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
            const auto closeSource = qScopeGuard([fd] { ::close(fd); });
            return NamesStep::run(launcher, helper, fd, into, note);
        };
        NamesStep::Outcome outcome = runOver(disk.file());
        QVERIFY(outcome.read && outcome.files.isEmpty());
        QCOMPARE(lines.size(), 2);
        for (const QString& line : lines)
            QVERIFY2(line.startsWith(u"The deleted file "_s + into + u"/Deleted files/_icture"_s) &&
                         line.endsWith(u" could not be read from the disk and was skipped."_s),
                     qPrintable(line));
        QVERIFY(QDir(into + u"/Deleted files"_s).entryList(QDir::Files).isEmpty());

        // A link planted where the folder goes is not followed: one line, and nothing written.
        lines.clear();
        const QString planted = scratch.filePath(u"planted"_s), elsewhere = scratch.filePath(u"elsewhere"_s);
        QDir().mkpath(planted), QDir().mkpath(elsewhere);
        QVERIFY(QFile::link(elsewhere, planted + u"/Deleted files"_s));
        const int fd = ::open(QFile::encodeName(image).constData(), O_RDONLY | O_CLOEXEC);
        outcome = NamesStep::run(launcher, helper, fd, planted, note);
        ::close(fd);
        QVERIFY(outcome.read && outcome.files.isEmpty());
        QCOMPARE(lines, QStringList{u"Restoring deleted files stopped: %1/Deleted files cannot be written to "
                                    "(Not a directory)."_s.arg(planted)});
        QVERIFY(QDir(elsewhere).isEmpty());

        lines.clear();
        const QString blank = scratch.filePath(u"blank.img"_s);
        writeFile(blank, QByteArray(4 << 20, '\0'));
        outcome = runOver(blank);
        QVERIFY(!outcome.read);
        QCOMPARE(lines,
                 QStringList{u"No file system whose records of deleted files can be read was found; the "
                             "search goes on with PhotoRec."_s});
    }

    // Only this run's carved files that equal a restored one go, whether one restored file or
    // several have their size; a file of equal size and other bytes, or an earlier run's, stays.
    void onlyThisRunsCarvedCopiesAreRemoved() {
        QTemporaryDir scratch;
        const QString root = scratch.path();
        const QList<NamesStep::Restored> restored{{root + u"/Deleted files/a.txt"_s, 8},
                                                  {root + u"/Deleted files/b.txt"_s, 8},
                                                  {root + u"/Deleted files/c.jpg"_s, 5}};
        for (const auto& [path, bytes] : {std::pair{u"Deleted files/a.txt"_s, "aaaaaaaa"},
                                          {u"Deleted files/b.txt"_s, "bbbbbbbb"},
                                          {u"Deleted files/c.jpg"_s, "ccccc"},
                                          {u"recup_dir.1/f1.txt"_s, "aaaaaaaa"},
                                          {u"recup_dir.2/f2.txt"_s, "bbbbbbbb"},
                                          {u"recup_dir.2/f3.txt"_s, "xxxxxxxx"},
                                          {u"recup_dir.2/f4.jpg"_s, "ccccc"},
                                          {u"recup_dir.2/f5.jpg"_s, "ccccd"}}) {
            QDir().mkpath(QFileInfo(root + u'/' + path).path());
            writeFile(root + u'/' + path, bytes);
        }
        PosixFileSystem fileSystem;
        FakeClock clock;
        const QSet<QString> before{u"recup_dir.1"_s};
        QCOMPARE(CarvedCopies::remove(fileSystem, clock, root, before, restored), 2);
        QStringList left;
        for (QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
            left.append(QDir(root).relativeFilePath(it.next()));
        left.sort();
        QCOMPARE(left,
                 (QStringList{u"Deleted files/a.txt"_s, u"Deleted files/b.txt"_s, u"Deleted files/c.jpg"_s,
                              u"recup_dir.1/f1.txt"_s, u"recup_dir.2/f3.txt"_s, u"recup_dir.2/f5.jpg"_s}));
    }

    // A deleted file whose clusters a later file took is not written with that file's content;
    // a helper that crashes is reported as such, and nothing else goes down with it.
    void aTakenSpaceIsCountedAndACrashIsReported() {
        QTemporaryDir scratch;
        const QString image = scratch.filePath(u"small.img"_s), into = scratch.filePath(u"out"_s);
        QDir().mkpath(into);
        const QStringList pictures = makePictures(scratch.path(), 1);
        QVERIFY(runTool(u"truncate"_s, {u"-s"_s, u"8M"_s, image}) && runTool(u"mkfs.vfat"_s, {image}));
        QVERIFY(runTool(u"mmd"_s, {u"-i"_s, image, u"::A"_s, u"::B"_s}) &&
                runTool(u"mcopy"_s, {u"-i"_s, image, pictures[0], u"::A/old.jpg"_s}));
        // Fills all but a few clusters: the next file can only go where old.jpg was.
        QByteArray listing;
        QVERIFY(runTool(u"mdir"_s, {u"-i"_s, image, u"::"_s}, &listing));
        const QString freeLine = QString::fromLatin1(listing).split(u'\n', Qt::SkipEmptyParts).last();
        const qint64 free = QString(freeLine).remove(u' ').remove(u"bytesfree"_s).toLongLong();
        QVERIFY(free > 0);
        writeFile(scratch.filePath(u"filler"_s), QByteArray(free - 4096, 'x'));
        writeFile(scratch.filePath(u"new"_s), QByteArray(QFileInfo(pictures[0]).size(), 'n'));
        QVERIFY(runTool(u"mcopy"_s, {u"-i"_s, image, scratch.filePath(u"filler"_s), u"::filler"_s}) &&
                runTool(u"mdel"_s, {u"-i"_s, image, u"::A/old.jpg"_s}) &&
                runTool(u"mcopy"_s, {u"-i"_s, image, scratch.filePath(u"new"_s), u"::B/new.bin"_s}));

        const int fd = ::open(QFile::encodeName(image).constData(), O_RDONLY | O_CLOEXEC);
        QVERIFY(fd >= 0);
        const auto closeImage = qScopeGuard([fd] { ::close(fd); });
        PosixEngineLauncher launcher;
        QStringList lines;
        const auto note = [&lines](const QString& line) { lines.append(line); };
        const QString helper =
            NamesStep::helperIn(ExecutableResources().resourceFolder().value_or(QString()));
        NamesStep::Outcome outcome = NamesStep::run(launcher, helper, fd, into, note);
        QVERIFY(outcome.read);
        QCOMPARE(outcome.files.size(), 0);
        QCOMPARE(outcome.inUse, 1);
        QCOMPARE(
            NamesStep::summary(outcome),
            u"Restored 0 deleted files with their names (1 could not be restored: their space is in use again)."_s);
        QVERIFY2(lines.isEmpty(), qPrintable(lines.join(u'\n')));

        const QString crashing = scratch.filePath(u"crashing"_s);
        writeFile(crashing, "#!/bin/bash\nprintf 'file\\t5\\tA/a.jpg\\n'\nkill -SEGV $$\n");
        QFile::setPermissions(crashing, QFile::ReadOwner | QFile::ExeOwner);
        outcome = NamesStep::run(launcher, crashing, fd, into, note);
        QVERIFY(outcome.read);
        QCOMPARE(outcome.files.size(), 1);
        QCOMPARE(outcome.files.first().path, into + u"/Deleted files/A/a.jpg"_s);
        QCOMPARE(lines,
                 QStringList{u"Reading the file system's records stopped unexpectedly (status 11); the "
                             "search goes on with PhotoRec."_s});
    }
};

QTEST_MAIN(DeletedFilesTest)
#include "tst_deleted_files.moc"
