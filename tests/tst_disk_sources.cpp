// Disks, partitions and images as sources: the list the user chooses from, the save location
// kept off the disk being recovered, and what reaches the engine script.

#include "platform/LsblkOutput.h"
#include "platform/SystemBlockDevices.h"
#include "support/Fakes.h"
#include "workflow/DiskCatalogue.h"
#include "workflow/SaveLocationGuard.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/mount.h>

using namespace vellorin;
using namespace vellorin::test;
using Color = RecoveryViewModel::StatusColor;

namespace {

QString run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(60000);
    return process.exitCode() == 0 ? QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed()
                                   : QString();
}

// A mount table for the recording: the stick's partition, a backup partition, the encrypted
// volume on the same disk, and a folder inside an image (attached as loop0) on the stick.
QHash<QString, QString> recordedMounts() {
    return {{u"/"_s, u"/dev/nvme0n1p2"_s},
            {u"/media/ada/CARD"_s, u"/dev/sdb1"_s},
            {u"/media/ada/Backup"_s, u"/dev/sdc1"_s},
            {u"/media/ada/Vault"_s, u"/dev/mapper/vault"_s},
            {u"/mnt/camera"_s, u"/dev/loop0"_s},
            {u"/tmp"_s, QString()}};
}

std::shared_ptr<RecordedBlockDevices> recording() {
    auto devices = std::make_shared<RecordedBlockDevices>(u"machine"_s, recordedMounts());
    devices->images.insert(u"loop0"_s, u"/media/ada/CARD/camera.img"_s);
    return devices;
}

struct DiskChoice : Scratch {
    void settle() { vellorin::test::settle(*test.queues); }
    // Chooses the source as the disk dialog does, then answers the save panel.
    void start(const QString& device, const QString& save, const QString& name = {}) {
        model->selectDiskSource(device, name);
        settle();
        model->selectSaveLocationAndStart();
        if (!test.panels->requests.empty())
            test.panels->answer(save);
        settle();
    }
};

} // namespace

class DiskSourcesTest : public QObject {
    Q_OBJECT

  private slots:
    void theRecordedListAsTheUserSeesIt() {
        const auto listed = recording()->list();
        QVERIFY(std::holds_alternative<QList<BlockDevice>>(listed));
        const QList<DiskCatalogue::Disk> disks = DiskCatalogue::arrange(std::get<QList<BlockDevice>>(listed));
        // Empty devices (a card reader with no card, an empty drive, a free loop device) are left
        // out; the disk the system runs from comes last.
        QStringList paths, names;
        for (const DiskCatalogue::Disk& disk : disks)
            paths << disk.device.path, names << DiskCatalogue::diskName(disk.device);
        QCOMPARE(paths, (QStringList{u"/dev/loop0"_s, u"/dev/sdb"_s, u"/dev/sdc"_s, u"/dev/sdd"_s,
                                     u"/dev/mmcblk0"_s, u"/dev/nvme0n1"_s}));
        QCOMPARE(names, (QStringList{u"Loop device loop0 (camera.img)"_s, u"SanDisk Ultra"_s,
                                     u"WDC WD20EZRZ-00Z5HB0"_s, u"Kingston DataTraveler 3.0"_s,
                                     u"Disk mmcblk0"_s, u"Samsung SSD 980 1TB"_s}));
        for (const DiskCatalogue::Disk& disk : disks)
            QCOMPARE(disk.systemDisk, disk.device.path == u"/dev/nvme0n1"_s);

        const DiskCatalogue::Disk& stick = disks.at(1);
        QCOMPARE(stick.device.transport, u"usb"_s);
        QVERIFY(stick.device.removable);
        QCOMPARE(stick.device.size, Q_INT64_C(30765219840));
        QCOMPARE(stick.partitions.size(), 1);
        QCOMPARE(DiskCatalogue::partitionName(stick.device, stick.partitions.at(0)),
                 u"SanDisk Ultra, partition 1 (CARD)"_s);
        QCOMPARE(stick.partitions.at(0).mountPoints, QStringList{u"/media/ada/CARD"_s});
        QCOMPARE(disks.at(0).device.backingFile, u"/media/ada/CARD/camera.img"_s);
        // An unpartitioned card and a blank disk have no partitions; the card's file system is
        // its own.
        QVERIFY(disks.at(3).partitions.isEmpty() && disks.at(3).device.fileSystem.isEmpty());
        QCOMPARE(disks.at(4).device.fileSystem, u"exfat"_s);
        QVERIFY(disks.at(4).partitions.isEmpty());
        // NVMe partitions are numbered after the "p"; an encrypted volume is not a partition.
        QList<int> numbers;
        for (const BlockDevice& partition : disks.at(5).partitions)
            numbers << partition.partitionNumber;
        QCOMPARE(numbers, (QList<int>{1, 2, 3}));
        QCOMPARE(disks.at(2).partitions.size(), 2);
        QCOMPARE(DiskCatalogue::nameOf(disks, u"/dev/nvme0n1p3"_s), u"Samsung SSD 980 1TB, partition 3"_s);

        // Text that is not lsblk's is a reason, not an empty list.
        QVERIFY(std::holds_alternative<QString>(parseLsblkOutput("lsblk: bad usage", {})));
    }

    void theMachinesOwnList() {
        QTemporaryDir scratch;
        const QString image = scratch.filePath(u"stick.img"_s);
        QVERIFY(run(u"truncate"_s, {u"-s"_s, u"8M"_s, image}).isEmpty());
        const QString loop = run(u"losetup"_s, {u"-f"_s, u"--show"_s, image});
        QVERIFY2(loop.startsWith(u"/dev/loop"_s), "losetup gave no device");
        const auto detach = qScopeGuard([&] { run(u"losetup"_s, {u"-d"_s, loop}); });

        auto catalogue =
            DiskCatalogue::create(std::make_shared<QtQueues>(), std::make_shared<SystemBlockDevices>());
        QSignalSpy listed(catalogue.get(), &DiskCatalogue::changed);
        catalogue->refresh();
        QVERIFY(listed.wait(10000));
        QVERIFY2(catalogue->problem().isEmpty(), qPrintable(catalogue->problem()));
        const auto found =
            std::find_if(catalogue->disks().begin(), catalogue->disks().end(),
                         [&](const DiskCatalogue::Disk& disk) { return disk.device.path == loop; });
        QVERIFY(found != catalogue->disks().end());
        QCOMPARE(found->device.size, Q_INT64_C(8 * 1024 * 1024));
        QCOMPARE(found->device.backingFile, QFileInfo(image).canonicalFilePath());
        QVERIFY(!found->systemDisk);
        // Whatever the machine holds its root on is marked and comes after every other disk.
        bool systemSeen = false;
        for (const DiskCatalogue::Disk& disk : catalogue->disks()) {
            QVERIFY2(!systemSeen || disk.systemDisk, qPrintable(disk.device.path));
            systemSeen = systemSeen || disk.systemDisk;
        }
    }

    void aSaveLocationOnTheDiskBeingRecovered_data() {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("save");
        QTest::addColumn<bool>("refused");
        QTest::newRow("on the disk's partition") << u"/dev/sdb"_s << u"/media/ada/CARD/saved"_s << true;
        QTest::newRow("on the partition itself") << u"/dev/sdb1"_s << u"/media/ada/CARD"_s << true;
        QTest::newRow("on a volume mapped onto the disk") << u"/dev/sdc"_s << u"/media/ada/Vault/x"_s << true;
        QTest::newRow("on the partition under the volume") << u"/dev/sdc2"_s << u"/media/ada/Vault"_s << true;
        QTest::newRow("in an image kept on the disk") << u"/dev/sdb"_s << u"/mnt/camera/out"_s << true;
        QTest::newRow("in the image being recovered")
            << u"/media/ada/CARD/camera.img"_s << u"/mnt/camera"_s << true;
        QTest::newRow("on another partition of the disk")
            << u"/dev/sdc2"_s << u"/media/ada/Backup"_s << false;
        QTest::newRow("on another disk") << u"/dev/sdb"_s << u"/media/ada/Backup/cards"_s << false;
        QTest::newRow("on no device at all") << u"/dev/sdb"_s << u"/tmp/out"_s << false;
    }
    void aSaveLocationOnTheDiskBeingRecovered() {
        QFETCH(QString, source);
        QFETCH(QString, save);
        QFETCH(bool, refused);
        const auto devices = recording();
        QCOMPARE(SaveLocationGuard(*devices).sourceUnder(source, save).has_value(), refused);
    }

    // The refusal as the user meets it, with a real disk: an ext4 image attached as a loop
    // device and mounted; a save location in its mount is refused, one elsewhere starts.
    void theStartRefusesTheChosenDiskAndAcceptsAnother() {
        DiskChoice s;
        const QString image = s.dir.filePath(u"disk.img"_s), mount = s.dir.filePath(u"mounted"_s);
        QVERIFY(QDir().mkpath(mount));
        QVERIFY(!run(u"mkfs.ext4"_s, {u"-q"_s, u"-F"_s, image, u"4M"_s}).isNull());
        const QString loop = run(u"losetup"_s, {u"-f"_s, u"--show"_s, image});
        QVERIFY(loop.startsWith(u"/dev/loop"_s));
        const auto detach = qScopeGuard([&] {
            ::umount2(mount.toLocal8Bit().constData(), MNT_DETACH), run(u"losetup"_s, {u"-d"_s, loop});
        });
        QVERIFY(::mount(loop.toLocal8Bit().constData(), mount.toLocal8Bit().constData(), "ext4", 0,
                        nullptr) == 0);
        s.useEngine("printf '%s|' \"$@\"\n");

        s.start(loop, mount + u"/saved"_s, u"Loop device"_s);
        QCOMPARE(
            s.test.alerts->only(),
            (QStringList{u"Error"_s,
                         u"The save location is on "_s + loop +
                             u", the disk being recovered.\nPlease choose a folder on another disk to avoid "
                             "overwriting."_s,
                         u"OK"_s}));
        QVERIFY(!s.model->isRecovering());
        QVERIFY(!QFileInfo::exists(mount + u"/saved/recovered_files"_s));

        RecoveryWatcher watcher(*s.model);
        s.model->selectSaveLocationAndStart();
        s.test.panels->answer(s.save);
        QVERIFY(watcher.waitForEnd());
        QCOMPARE(s.test.alerts->shown.size(), std::size_t(2)); // the completion's
        // With the default options the script gets exactly its three arguments (one line).
        const QString engine = s.test.resources->resourceFolder().value() + u"/photorec"_s;
        const QStringList arguments{engine, loop, s.recovered};
        QVERIFY2(s.log().contains(u"PhotoRec: "_s + arguments.join(u'|') + u'|'),
                 qPrintable(s.model->logText()));
    }

    // What the user picked to look for reaches the script, and is kept for the next launch.
    void scanOptionsReachTheScriptAndAreKept() {
        DiskChoice s;
        s.useEngine("printf '%s|' \"$@\"\n");
        ScanOptions options{{FileFamily::Pictures}, true};
        s.model->setScanOptions(options);
        QCOMPARE(s.remake().scanOptions(), options);
        const QString image = s.dir.filePath(u"card.img"_s);
        writeFile(image, QByteArray(4096, '\0'));
        RecoveryWatcher watcher(*s.model);
        s.start(image, s.save);
        QVERIFY(watcher.waitForEnd());
        const QString engine = s.test.resources->resourceFolder().value() + u"/photorec"_s;
        const QStringList arguments{u"--formats="_s + options.engineFormats().join(u','), u"--free-space"_s,
                                    engine, image, s.recovered};
        QVERIFY2(s.log().contains(u"PhotoRec: "_s + arguments.join(u'|') + u'|'),
                 qPrintable(s.model->logText()));
        QVERIFY(options.engineFormats().contains(u"jpg"_s) && !options.engineFormats().contains(u"zip"_s));
        // Documents take the container that also holds archives.
        const ScanOptions documents{{FileFamily::Documents}, false};
        QVERIFY(documents.engineFormats().contains(u"zip"_s));
    }

    // Only the engine can read a device or an image: without it the start is refused before
    // anything is asked or copied, and a start that fails to launch it copies nothing either.
    void aDiskSourceNeedsTheEngine() {
        DiskChoice s;
        const QString image = s.dir.filePath(u"card.img"_s);
        writeFile(image, QByteArray(4096, '\0'));
        s.start(image, s.save, u"Card"_s);
        QCOMPARE(s.model->selectedDrivePath(), std::optional<QString>(image));
        QCOMPARE(s.model->statusMessage(),
                 u"Recovering from a disk or an image needs PhotoRec (package testdisk)."_s);
        QCOMPARE(s.model->statusColor(), Color::Red);
        QVERIFY(s.test.panels->requests.empty() && !s.model->isRecovering());
        QCOMPARE(s.log(),
                 (QStringList{u"Selected data source: "_s + image,
                              u"Start aborted: PhotoRec is not installed, and only PhotoRec can search a "
                              "disk or an image (install the package testdisk)"_s}));

        // The engine cannot be started: the run fails, and nothing is copied from the image.
        s.useEngine("exit 0\n");
        s.test.engine = nullptr;
        s.remake();
        RecoveryWatcher failed(*s.model);
        s.model->startRecovery(image, s.save);
        QVERIFY(failed.waitForEnd());
        const QStringList log = s.log();
        QVERIFY2(!log.filter(u"Failed to start PhotoRec: "_s).isEmpty() &&
                     log.contains(u"Error occurred during recovery (Exit code: 1)"_s) &&
                     log.filter(u"simplified"_s).isEmpty(),
                 qPrintable(log.join(u'\n')));
        QCOMPARE(s.model->statusMessage(), u"Recovery failed, check logs"_s);
    }
};

QTEST_GUILESS_MAIN(DiskSourcesTest)
#include "tst_disk_sources.moc"
