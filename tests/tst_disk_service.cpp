// Deep recoveries that user nobody starts on a disk only root may read: the disk service on a
// private system bus (a stand-in that records its callers, then the real udisksd under polkit)
// opens it, and nothing of the run is root's. Each case is set up as root and run as nobody.

#include "platform/SystemDiskAccess.h"
#include "support/DiskImages.h"
#include "support/Fakes.h"
#include "support/SystemServices.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace vellorin;
using namespace vellorin::test;

namespace {

// What the case run as root tells its run as nobody.
const char* const kExpect = "VELLORIN_TEST_EXPECT"; // "recovered", or a phrase of the log
const char* const kDevice = "VELLORIN_TEST_DEVICE";
const char* const kResources = "VELLORIN_TEST_RESOURCES";
const char* const kPictures = "VELLORIN_TEST_PICTURES";

// The run as nobody: a whole deep recovery of the device through the model, as the window
// starts it, with the production disk access.
void recoverAsCaller() {
    const QString expect = qEnvironmentVariable(kExpect), resources = qEnvironmentVariable(kResources);
    QTemporaryDir scratch;
    TestPlatform test{scratch.path()};
    test.disks = std::make_shared<SystemDiskAccess>();
    test.resources = std::make_shared<FixedResources>(resources);
    const QString save = scratch.filePath(u"save"_s), directory = save + u"/recovered_files"_s;
    QDir().mkpath(save);
    auto model = RecoveryViewModel::create(test.platform());
    RecoveryWatcher watcher(*model);
    QElapsedTimer clock;
    clock.start();
    model->startRecovery(qEnvironmentVariable(kDevice), save);
    QVERIFY(watcher.waitForEnd(120000));
    const QStringList log = logMessages(model->logText());
    if (expect != u"recovered"_s) {
        QVERIFY2(!log.filter(expect).isEmpty(), qPrintable(log.join(u'\n')));
        QCOMPARE(model->statusMessage(), u"Recovery failed, check logs"_s);
        QCOMPARE(model->statusColor(), RecoveryViewModel::StatusColor::Red);
        QVERIFY2(clock.elapsed() < 15000, "the run did not end by itself within a few seconds");
        return;
    }
    QVERIFY2(model->statusMessage() == u"Recovery Completed!"_s, qPrintable(log.join(u'\n')));
    const QStringList recovered = visibleFileHashes(directory);
    for (const QString& picture : QDir(qEnvironmentVariable(kPictures)).entryList(QDir::Files))
        QVERIFY2(recovered.contains(
                     QString::fromLatin1(sha256Of(qEnvironmentVariable(kPictures) + u'/' + picture))),
                 qPrintable(picture));
    for (QDirIterator it(directory, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                         QDirIterator::Subdirectories);
         it.hasNext();)
        QVERIFY2(QFileInfo(it.next()).ownerId() == ::getuid(), qPrintable(it.filePath()));
    // The script and the engine it started, each as "<uid> <parent's effective uid>".
    const QString caller = QString::number(::getuid());
    QCOMPARE(takeCredentials(resources), QStringList{caller + u' ' + caller});
}

} // namespace

class DiskServiceTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        if (::geteuid() != 0)
            return; // a case's run as nobody: the root run set everything up
        bus = std::make_unique<PrivateSystemBus>();
        if (!bus->skipReason().isEmpty())
            QSKIP(qPrintable(bus->skipReason()));
        // Pictures, one of them deleted, on an image only root may read, behind a read-only loop device.
        const QString pictures = bus->folder() + u"/pictures"_s;
        QDir().mkpath(pictures);
        const QStringList made = makePictures(pictures, 6);
        image = bus->folder() + u"/disk.img"_s;
        QVERIFY(makeFatImage(image, 4 * 1024 * 1024, made, {u"picture3.png"_s}));
        QVERIFY(QFile::setPermissions(image, QFile::ReadOwner | QFile::WriteOwner));
        imageHash = sha256Of(image);
        QByteArray loop;
        if (!runTool(u"losetup"_s, {u"--find"_s, u"--show"_s, u"-r"_s, image}, &loop))
            QSKIP("no loop device can be set up here");
        device = QString::fromUtf8(loop.trimmed());
        qputenv(kDevice, device.toUtf8());
        qputenv(kPictures, pictures.toUtf8());
        // The engine notes its own credentials and its parent's, the script's.
        const QString resources = copyEngineFolder(bus->folder() + u"/engine"_s, kNotingEngine);
        takeCredentials(resources);
        qputenv(kResources, resources.toUtf8());
    }

    void cleanupTestCase() {
        if (!device.isEmpty())
            runTool(u"losetup"_s, {u"-d"_s, device});
        bus.reset();
    }

    void theServiceOpensTheDiskAndTheRunIsTheCallers() {
        if (::geteuid() != 0)
            return recoverAsCaller();
        StandInDisks disks(*bus, StandInDisks::Answer::Grant, device, device);
        QVERIFY2(disks.skipReason().isEmpty(), qPrintable(disks.skipReason()));
        QVERIFY(asNobody(u"recovered"_s));
        QCOMPARE(disks.calls().filter(u"OpenDevice"_s),
                 QStringList{u"OpenDevice "_s + device + u" r 65534"_s});
        QCOMPARE(sha256Of(image), imageHash);
    }

    void aRefusalOrNoServiceEndsTheRunWithWhatIsNeeded() {
        if (::geteuid() != 0)
            return recoverAsCaller();
        {
            StandInDisks disks(*bus, StandInDisks::Answer::Refuse, device);
            QVERIFY2(disks.skipReason().isEmpty(), qPrintable(disks.skipReason()));
            QVERIFY(asNobody(u"Reading "_s + device +
                             u" needs permission, which was not granted: the request was dismissed."_s));
        }
        QVERIFY(asNobody(u"Reading "_s + device +
                         u" needs permission: the disk service (udisks2) is not running."_s));
    }

    void onATerminalTheAdviceIsSudoOrTheDiskGroup() {
        if (::geteuid() != 0) {
            SystemDiskAccess terminal(SystemDiskAccess::Session::Terminal);
            const DiskAccess::Opened opened = terminal.openSource(qEnvironmentVariable(kDevice), {});
            QVERIFY(!opened.descriptor.isOpen());
            QVERIFY(opened.problem);
            QVERIFY2(opened.problem->startsWith(qEnvironmentVariable(kExpect)) &&
                         opened.problem->endsWith(u" Run vellorin-recover with sudo, or add your user to the "
                                                  u"\"disk\" group and log in again."_s),
                     qPrintable(*opened.problem));
            return;
        }
        {
            StandInDisks disks(*bus, StandInDisks::Answer::Refuse, device);
            QVERIFY2(disks.skipReason().isEmpty(), qPrintable(disks.skipReason()));
            QVERIFY(asNobody(u"Reading "_s + device +
                             u" needs permission, which was not granted: the request was dismissed. Run it "
                             u"again and answer the password prompt."_s));
        }
        QVERIFY(asNobody(u"Reading "_s + device +
                         u" needs permission: the disk service (udisks2) is not running."_s));
    }

    void theRealDiskServiceUnderPolkit() {
        if (::geteuid() != 0)
            return recoverAsCaller();
        RealDiskService disks(*bus);
        if (!disks.skipReason().isEmpty())
            QSKIP(qPrintable(disks.skipReason()));
        QVERIFY(!disks.waitForBlock(device).isEmpty());
        QVERIFY(asNobody(u"which was not granted"_s)); // no prompt can be answered here
        QVERIFY(disks.allowNobodyToOpenDevices());
        QVERIFY(asNobody(u"recovered"_s));
        QCOMPARE(sha256Of(image), imageHash);
    }

  private:
    bool asNobody(const QString& expect) {
        qputenv(kExpect, expect.toUtf8());
        return rerunAsNobody(QTest::currentTestFunction()) == 0;
    }

    std::unique_ptr<PrivateSystemBus> bus;
    QString image, device;
    QByteArray imageHash;
};

QTEST_MAIN(DiskServiceTest)
#include "tst_disk_service.moc"
