// The disk services that suites run on a private system bus: the stand-in, which answers as
// told and records its callers, and the real udisksd, where polkit decides who may open a disk.

#include "support/DiskImages.h"
#include "support/SystemServices.h"

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusUnixFileDescriptor>
#include <QProcess>
#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

using namespace vellorin::test;
using namespace Qt::StringLiterals;

namespace {

const QByteArray kHead = "vellorin test disk";
const QString kDisks = u"org.freedesktop.UDisks2"_s;
const QString kManager = u"/org/freedesktop/UDisks2/Manager"_s;

// gdbus run as user nobody (or another user): the answer it printed, or its error.
QString callAsNobody(const QString& object, const QString& method, const QStringList& arguments,
                     const QString& user = u"nobody"_s) {
    QProcess gdbus;
    gdbus.setProcessChannelMode(QProcess::MergedChannels);
    gdbus.start(u"setpriv"_s, QStringList{u"--reuid="_s + user, u"--regid=nogroup"_s, u"--clear-groups"_s,
                                          u"gdbus"_s, u"call"_s, u"--system"_s, u"--dest"_s, kDisks,
                                          u"--object-path"_s, object, u"--method"_s, method} +
                                  arguments);
    gdbus.waitForFinished();
    return QString::fromUtf8(gdbus.readAll()).trimmed();
}

bool udevAnswers() {
    QProcess udevadm;
    udevadm.setStandardErrorFile(QProcess::nullDevice());
    udevadm.start(u"udevadm"_s, {u"control"_s, u"--ping"_s});
    return udevadm.waitForFinished() && udevadm.exitStatus() == QProcess::NormalExit &&
           udevadm.exitCode() == 0;
}

QString openAsNobody(const QString& object, const QString& mode = u"r"_s, const QString& user = u"nobody"_s) {
    return callAsNobody(object, u"org.freedesktop.UDisks2.Block.OpenDevice"_s, {mode, u"{}"_s}, user);
}

// The first bytes of device, read as root through the descriptor the service hands out; empty
// unless that descriptor is read-only.
QByteArray headThroughService(const QString& device) {
    QDBusConnection bus = QDBusConnection::systemBus();
    QDBusMessage resolve =
        QDBusMessage::createMethodCall(kDisks, kManager, kDisks + u".Manager"_s, u"ResolveDevice"_s);
    resolve << QVariantMap{{u"path"_s, device}} << QVariantMap();
    const QDBusReply<QList<QDBusObjectPath>> objects = bus.call(resolve);
    if (!objects.isValid() || objects.value().isEmpty())
        return {};
    QDBusMessage open = QDBusMessage::createMethodCall(kDisks, objects.value().first().path(),
                                                       kDisks + u".Block"_s, u"OpenDevice"_s);
    open << u"r"_s << QVariantMap();
    open.setInteractiveAuthorizationAllowed(true);
    const QDBusReply<QDBusUnixFileDescriptor> fd = bus.call(open);
    QByteArray head(kHead.size(), '\0');
    if (!fd.isValid() || (::fcntl(fd.value().fileDescriptor(), F_GETFL) & O_ACCMODE) != O_RDONLY ||
        ::read(fd.value().fileDescriptor(), head.data(), head.size()) != head.size())
        return {};
    return head;
}

} // namespace

class DiskServiceTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        if (::geteuid() != 0)
            QSKIP("Runs as root: the services do, and the callers become nobody");
        bus = std::make_unique<PrivateSystemBus>();
        if (!bus->skipReason().isEmpty())
            QSKIP(qPrintable(bus->skipReason()));
        // A disk only root may read: the service's descriptor is nobody's only way in.
        image = bus->folder() + u"/disk.img"_s;
        QFile file(image);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(kHead) == kHead.size() && file.resize(1 << 20));
        QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner));
    }
    void cleanupTestCase() { bus.reset(); }

    void theStandInServesItsOneDeviceToAnyoneAndRecordsEveryCaller() {
        StandInDisks disks(*bus, StandInDisks::Answer::Grant, u"/dev/loop3"_s, image);
        QVERIFY2(disks.skipReason().isEmpty(), qPrintable(disks.skipReason()));
        const QString resolve = kDisks + u".Manager.ResolveDevice"_s;
        QCOMPARE(callAsNobody(kManager, resolve, {u"{'path': <'/dev/loop3'>}"_s, u"{}"_s}),
                 u"([objectpath '/org/freedesktop/UDisks2/block_devices/loop3'],)"_s);
        QCOMPARE(callAsNobody(kManager, resolve, {u"{'path': <'/dev/loop4'>}"_s, u"{}"_s}), u"(@ao [],)"_s);
        QCOMPARE(openAsNobody(u"/org/freedesktop/UDisks2/block_devices/loop3"_s), u"(handle 0,)"_s);
        QVERIFY(openAsNobody(u"/org/freedesktop/UDisks2/block_devices/loop3"_s, u"rw"_s)
                    .endsWith(u"Error.Failed: Mode \"rw\" is not served, only \"r\""_s));
        QCOMPARE(headThroughService(u"/dev/loop3"_s), kHead);
        QCOMPARE(disks.calls(),
                 (QStringList{u"ResolveDevice /dev/loop3 - 65534"_s, u"ResolveDevice /dev/loop4 - 65534"_s,
                              u"OpenDevice /dev/loop3 r 65534"_s, u"OpenDevice /dev/loop3 rw 65534"_s,
                              u"ResolveDevice /dev/loop3 - 0"_s, u"OpenDevice /dev/loop3 r 0"_s}));
    }

    void aRefusingStandInSaysTheDialogWasDismissedAndKeepsItsName() {
        StandInDisks disks(*bus, StandInDisks::Answer::Refuse, u"/dev/loop3"_s);
        QVERIFY2(disks.skipReason().isEmpty(), qPrintable(disks.skipReason()));
        QCOMPARE(openAsNobody(u"/org/freedesktop/UDisks2/block_devices/loop3"_s),
                 u"Error: GDBus.Error:org.freedesktop.UDisks2.Error.NotAuthorizedDismissed: "
                 "The authentication dialog was dismissed"_s);
        QCOMPARE(disks.calls(), QStringList{u"OpenDevice /dev/loop3 r 65534"_s});
        const StandInDisks second(*bus, StandInDisks::Answer::Grant, u"/dev/loop3"_s, image);
        QVERIFY(second.skipReason().contains(u"it has an owner"_s));
    }

    void theRealServiceOpensALoopDeviceForNobodyOnlyUnderTheRule() {
        const bool udevRan = udevAnswers();
        QByteArray loop;
        QVERIFY(runTool(u"losetup"_s, {u"--find"_s, u"--show"_s, u"-r"_s, image}, &loop));
        const QString device = QString::fromUtf8(loop.trimmed());
        const auto detach = qScopeGuard([&] { runTool(u"losetup"_s, {u"-d"_s, device}); });
        {
            RealDiskService disks(*bus);
            if (!disks.skipReason().isEmpty())
                QSKIP(qPrintable(disks.skipReason()));
            const QString block = disks.waitForBlock(device);
            QVERIFY(!block.isEmpty());
            QVERIFY(openAsNobody(block).endsWith(
                u"NotAuthorizedCanObtain: Not authorized to perform operation"_s));
            QVERIFY(disks.allowNobodyToOpenDevices());
            QCOMPARE(openAsNobody(block), u"(handle 0,)"_s);
            QVERIFY(openAsNobody(block, u"r"_s, u"daemon"_s).contains(u"NotAuthorized"_s));
            QCOMPARE(headThroughService(device), kHead);
        }
        QCOMPARE(QDir(u"/etc/polkit-1/rules.d"_s).entryList({u"*vellorin-test*"_s}), QStringList());
        QCOMPARE(udevAnswers(), udevRan); // a udevd of ours is gone, another left alone
    }

  private:
    std::unique_ptr<PrivateSystemBus> bus;
    QString image;
};

QTEST_GUILESS_MAIN(DiskServiceTest)
#include "tst_disk_service.moc"
