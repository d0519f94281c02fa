// Whole recoveries through the model with the real services and the PhotoRec that the build
// linked into its resource folder; only alerts, workspace and panels are answered here.

#include "platform/ExecutableResources.h"
#include "platform/SystemDiskAccess.h"
#include "support/DiskImages.h"
#include "support/Fakes.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

using namespace vellorin;
using namespace vellorin::test;

namespace {

struct RealRun {
    QTemporaryDir scratch;
    TestPlatform test{scratch.path()};
    // A save location with a name a shell would misread.
    QString save = scratch.filePath(u"save 'it' $(touch pwned) \"here\""_s);
    QString directory = save + u"/recovered_files"_s;
    QStringList pictures;
    std::shared_ptr<RecoveryViewModel> model;

    RealRun() {
        QDir().mkpath(save), QDir().mkpath(scratch.filePath(u"originals"_s));
        test.resources = std::make_shared<ExecutableResources>();
        test.disks = std::make_shared<SystemDiskAccess>();
        pictures = makePictures(scratch.filePath(u"originals"_s), 6);
    }
    bool run(const QString& source) {
        model = RecoveryViewModel::create(test.platform());
        RecoveryWatcher watcher(*model);
        model->startRecovery(source, save);
        return watcher.waitForEnd(120000);
    }
    // Every original is recovered byte for byte, the list shows exactly the visible files the
    // run left, and the run ended as a success.
    void check() const {
        const QStringList recovered = visibleFileHashes(directory);
        for (const QString& picture : pictures)
            QVERIFY2(recovered.contains(QString::fromLatin1(sha256Of(picture))), qPrintable(picture));
        QStringList listed;
        for (const RecoveredFile& file : model->recoveredFiles()) {
            QVERIFY2(file.path().startsWith(directory + u'/') && !file.name().startsWith(u'.'),
                     qPrintable(file.path()));
            QCOMPARE(file.size(), QFileInfo(file.path()).size());
            listed.append(QString::fromLatin1(sha256Of(file.path())));
        }
        listed.sort();
        QCOMPARE(listed, recovered);
        QCOMPARE(model->recoveredCount(), model->recoveredFiles().size());
        QCOMPARE(model->statusMessage(), u"Recovery Completed!"_s);
        QCOMPARE(test.alerts->shown.size(), std::size_t(1));
        const QStringList log = logMessages(model->logText());
        QVERIFY2(log.contains(u"Recovered files saved in: "_s + directory) &&
                     !log.filter(u"PhotoRec: Search finished"_s).isEmpty(),
                 qPrintable(log.join(u'\n')));
        QVERIFY2(!model->logText().contains(QChar(0x1b)), "the engine's screen output reached the log");
        QVERIFY(!QFileInfo::exists(scratch.filePath(u"pwned"_s)) && !QFileInfo::exists(u"pwned"_s));
    }
};

} // namespace

class RealEngineTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        const QString folder = ExecutableResources().resourceFolder().value_or(QString());
        // Without the engine the application runs its simplified recovery, which proves nothing here.
        if (!QFileInfo(folder + u"/photorec"_s).isExecutable() ||
            !QFileInfo(folder + u"/photorec_auto.sh"_s).isFile())
            QFAIL("the build has no photorec in its resource folder: install testdisk and configure again");
    }

    void recoversEveryPictureBehindAMountedExt4Folder() {
        RealRun run;
        const QString image = run.scratch.filePath(u"disk.img"_s), mounted = run.scratch.filePath(u"m"_s);
        // Made and emptied of one picture without mounting; then mounted read-only, without
        // journal replay, so that the mount writes nothing either.
        QVERIFY(runTool(u"mkfs.ext4"_s, {u"-qd"_s, run.scratch.filePath(u"originals"_s), image, u"8M"_s}));
        QVERIFY(runTool(u"debugfs"_s, {u"-w"_s, u"-R"_s, u"rm picture1.png"_s, image}));
        QVERIFY(QDir().mkpath(mounted) &&
                runTool(u"mount"_s, {u"-o"_s, u"loop,ro,noload"_s, image, mounted}));
        QVERIFY(run.run(mounted));
        QVERIFY(runTool(u"umount"_s, {u"-d"_s, mounted}));
        // The script searched the device behind the folder, not the folder.
        QVERIFY2(run.model->logText().contains(u"PhotoRec: Scanning /dev/loop"_s),
                 qPrintable(run.model->logText()));
        run.check();
    }

    // A card formatted again has forgotten its files; the whole space still holds them, read
    // from the device and from the image alike, and the image is left as it was.
    void recoversAReformattedCardAsADeviceAndAsAnImage() {
        RealRun asDevice, asImage;
        asImage.pictures = asDevice.pictures;
        const QString image = asDevice.scratch.filePath(u"card.img"_s);
        QVERIFY(makeFatImage(image, 64 << 20, asDevice.pictures));
        QVERIFY(runTool(u"mkfs.vfat"_s, {image}));
        QByteArray attached;
        if (!runTool(u"losetup"_s, {u"-f"_s, u"--show"_s, u"-r"_s, image}, &attached))
            QSKIP("no loop device can be attached here");
        const QString device = QString::fromLocal8Bit(attached.trimmed());
        const auto detach = qScopeGuard([&] { runTool(u"losetup"_s, {u"-d"_s, device}); });
        QVERIFY(asDevice.run(device));
        asDevice.check();
        const QByteArray before = sha256Of(image);
        QVERIFY(asImage.run(image));
        asImage.check();
        QCOMPARE(sha256Of(image), before);
    }

    // A disk that fails during the search ends the run as a failure within seconds, saying so;
    // what was recovered before stays on disk and in the list.
    void aDiskThatFailsEndsTheRunAndKeepsWhatWasFound() {
        RealRun run;
        // Enough pictures for the engine to settle its block size before the failing part.
        run.pictures = makePictures(run.scratch.filePath(u"originals"_s), 20);
        const QString image = run.scratch.filePath(u"card.img"_s);
        QVERIFY(makeFilledFatImage(image, 32 << 20, run.pictures, 24 << 20));
        FailingDisk disk(image, run.scratch.filePath(u"disk"_s), {u"--bad"_s, u"16777216"_s});
        QVERIFY(disk.serving());
        QElapsedTimer clock;
        clock.start();
        QVERIFY(run.run(disk.file()));
        QVERIFY(clock.elapsed() < 30000);
        QCOMPARE(run.model->statusMessage(), u"Recovery failed, check logs"_s);
        const QString log = run.model->logText();
        QVERIFY2(log.contains(u"PhotoRec: The disk could not be read any more: 32 reads in a row failed"_s) &&
                     log.contains(u"files recovered before the disk failed are kept in "_s + run.directory) &&
                     log.contains(u"(Exit code: 8)"_s),
                 qPrintable(log));
        const QStringList recovered = visibleFileHashes(run.directory);
        for (const QString& picture : run.pictures)
            QVERIFY2(recovered.contains(QString::fromLatin1(sha256Of(picture))), qPrintable(picture));
        QCOMPARE(run.model->recoveredCount(), recovered.size());
    }
};

QTEST_MAIN(RealEngineTest)
#include "tst_real_engine.moc"
