#include "platform/ExecutableResources.h"
#include "support/DeepRun.h"
#include "support/DiskImages.h"
#include "support/Fakes.h"
#include "workflow/ViewController.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>

using namespace vellorin;
using namespace vellorin::test;

namespace {

// Half of the pictures are deleted from the disk before the search: the engine must find
// those as well as the ones the file system still lists.
const QStringList kDeleted{QStringLiteral("picture1.png"), QStringLiteral("picture2.jpg"),
                           QStringLiteral("picture5.png")};

// A recovery through the view model with the real services and the engine that the build
// linked into its resource folder; only alerts, workspace and panels are answered here.
struct RealRun {
    QTemporaryDir scratch;
    TestPlatform test{scratch.path()};
    QString save = scratch.filePath(QStringLiteral("save"));
    QStringList pictures;
    std::shared_ptr<RecoveryViewModel> model;

    RealRun() {
        QDir().mkpath(save);
        test.resources = std::make_shared<ExecutableResources>();
        QDir().mkpath(scratch.filePath(QStringLiteral("originals")));
        pictures = makePictures(scratch.filePath(QStringLiteral("originals")), 6);
    }
    QString recoveryDirectory() const { return save + QStringLiteral("/recovered_files"); }
    bool run(const QString& source) {
        model = RecoveryViewModel::create(test.platform());
        RecoveryWatcher watcher(*model);
        model->startRecovery(source, save);
        return watcher.waitForEnd(120000);
    }
};

// Without the engine the application runs its simplified recovery: that proves nothing here.
bool engineIsLinked() {
    const std::optional<QString> folder = ExecutableResources().resourceFolder();
    return folder && QFileInfo(*folder + QStringLiteral("/photorec")).isExecutable() &&
           QFileInfo(*folder + QStringLiteral("/photorec_auto.sh")).isFile();
}

void checkPictures(const QStringList& pictures) {
    QCOMPARE(pictures.size(), 6);
    for (const QString& picture : pictures) {
        const qint64 size = QFileInfo(picture).size();
        QVERIFY2(size > 10 * 1024 && size < 120 * 1024,
                 qPrintable(picture + QStringLiteral(": ") + QString::number(size)));
    }
}

// Every original is among the recovered files, byte for byte; the list shows exactly the
// visible files the run left, and the run ended as a success.
void checkRecovered(const RealRun& run) {
    const RecoveryViewModel& model = *run.model;
    const QStringList recovered = visibleFileHashes(run.recoveryDirectory());
    for (const QString& picture : run.pictures)
        QVERIFY2(recovered.contains(QString::fromLatin1(sha256Of(picture))),
                 qPrintable(QFileInfo(picture).fileName() + QStringLiteral(" was not recovered whole")));

    QStringList listed;
    for (const RecoveredFile& file : model.recoveredFiles()) {
        QVERIFY2(file.path().startsWith(run.recoveryDirectory() + QLatin1Char('/')), qPrintable(file.path()));
        QVERIFY2(!file.name().startsWith(QLatin1Char('.')), qPrintable(file.path()));
        QCOMPARE(file.size(), QFileInfo(file.path()).size());
        listed.append(QString::fromLatin1(sha256Of(file.path())));
    }
    listed.sort();
    QCOMPARE(listed, recovered);
    QCOMPARE(model.recoveredCount(), model.recoveredFiles().size());

    QCOMPARE(model.statusMessage(), QStringLiteral("Recovery Completed!"));
    QCOMPARE(model.statusColor(), RecoveryViewModel::StatusColor::Green);
    QCOMPARE(run.test.alerts->shown.size(), std::size_t(1));
    QCOMPARE(run.test.alerts->shown[0].title, QStringLiteral("Recovery Completed"));
    const QStringList log = logMessages(model.logText());
    QVERIFY2(log.contains(QStringLiteral("Recovered files saved in: ") + run.recoveryDirectory()),
             qPrintable(log.join(QLatin1Char('\n'))));
    QVERIFY2(!log.filter(QStringLiteral("PhotoRec: Search finished")).isEmpty(),
             qPrintable(log.join(QLatin1Char('\n'))));
    QVERIFY2(!model.logText().contains(QChar(0x1b)), "the engine's screen output reached the log");
    QVERIFY(!model.fileMonitorTimer());
}

} // namespace

class RealEngineTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void recoversEveryPictureOfAFatImage();
    void recoversEveryPictureOfAMountedExt4Folder();
    void aSaveLocationOnTheSourcesDiskEndsInAFailure();
};

void RealEngineTest::initTestCase() {
    if (!engineIsLinked())
        QFAIL("the build has no photorec in its resource folder: install testdisk and configure again");
}

void RealEngineTest::recoversEveryPictureOfAFatImage() {
    RealRun run;
    checkPictures(run.pictures);
    const QString image = run.scratch.filePath(QStringLiteral("card.img"));
    QVERIFY(makeFatImage(image, 4 * 1024 * 1024, run.pictures, kDeleted));
    const QByteArray before = sha256Of(image);

    QVERIFY(run.run(image));
    checkRecovered(run);
    QCOMPARE(sha256Of(image), before);
}

void RealEngineTest::recoversEveryPictureOfAMountedExt4Folder() {
    RealRun run;
    checkPictures(run.pictures);
    const QString image = run.scratch.filePath(QStringLiteral("disk.img"));
    const QString made = makeExt4Image(image, 8 * 1024 * 1024, run.pictures, kDeleted);
    if (!made.isEmpty()) {
        qInfo().noquote() << "No loop mount on this machine, the folder source is not tested:" << made;
        QSKIP("loop mounting is refused here");
    }
    // Read-only and without journal replay, so that the mount itself writes nothing either.
    const QString mountPoint = run.scratch.filePath(QStringLiteral("mounted"));
    QDir().mkpath(mountPoint);
    const QByteArray before = sha256Of(image);
    {
        LoopMount mount(image, mountPoint, QStringLiteral("ro,noload"));
        if (!mount.mounted()) {
            qInfo().noquote() << "No loop mount on this machine, the folder source is not tested:"
                              << mount.refusal();
            QSKIP("loop mounting is refused here");
        }
        QVERIFY2(mount.device().startsWith(QStringLiteral("/dev/loop")), qPrintable(mount.device()));
        QVERIFY(run.run(mountPoint));
        // The script scanned the device behind the folder, not the folder.
        QVERIFY2(run.model->logText().contains(QStringLiteral("PhotoRec: Scanning ") + mount.device()),
                 qPrintable(run.model->logText()));
        checkRecovered(run);
        QVERIFY(mount.unmount());
    }
    QCOMPARE(sha256Of(image), before);
}

void RealEngineTest::aSaveLocationOnTheSourcesDiskEndsInAFailure() {
    RealRun run;
    const QString image = run.scratch.filePath(QStringLiteral("disk.img"));
    const QString made = makeExt4Image(image, 8 * 1024 * 1024, run.pictures, kDeleted);
    if (!made.isEmpty()) {
        qInfo().noquote() << "No loop mount on this machine, one disk for source and save is not tested:"
                          << made;
        QSKIP("loop mounting is refused here");
    }
    const QString mountPoint = run.scratch.filePath(QStringLiteral("mounted"));
    QDir().mkpath(mountPoint);
    LoopMount mount(image, mountPoint);
    QVERIFY2(mount.mounted(), qPrintable(mount.refusal()));
    // Two sibling folders pass the path rule; only the device shows that they share a disk.
    const QString photos = mountPoint + QStringLiteral("/photos");
    run.save = mountPoint + QStringLiteral("/recovery");
    QVERIFY(QDir().mkpath(photos) && QDir().mkpath(run.save));
    QVERIFY(!RecoveryViewModel::locationsOverlap(photos, run.save));

    QVERIFY(run.run(photos));
    const QStringList log = logMessages(run.model->logText());
    QVERIFY2(!log.filter(QStringLiteral("PhotoRec: Refusing to search ") + mount.device()).isEmpty(),
             qPrintable(log.join(QLatin1Char('\n'))));
    QVERIFY2(!log.filter(QStringLiteral("Error occurred during recovery (Exit code: ")).isEmpty(),
             qPrintable(log.join(QLatin1Char('\n'))));
    QCOMPARE(run.model->statusMessage(), QStringLiteral("Recovery failed, check logs"));
    QVERIFY(run.test.alerts->shown.empty());
    QVERIFY(run.model->recoveredFiles().isEmpty());
    QCOMPARE(visibleFileHashes(run.recoveryDirectory()), QStringList{});
    QVERIFY(mount.unmount());
}

QTEST_MAIN(RealEngineTest)
#include "tst_real_engine.moc"
