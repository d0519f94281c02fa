#include "support/SystemServices.h"

#include "support/DiskImages.h"
#include "support/Fakes.h"

#include <QtDBus>
#include <QtTest>

#include <optional>

#include <csignal>
#include <cstdio>

#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vellorin::test {

using namespace Qt::StringLiterals;

namespace {

const QString kDisks = u"org.freedesktop.UDisks2"_s;
const QString kPolkitd = u"/usr/lib/polkit-1/polkitd"_s;
const QString kUdevd = u"/lib/systemd/systemd-udevd"_s;
const QString kUdisksd = u"/usr/libexec/udisks2/udisksd"_s;
// One name for every run, so that a rule left by a killed test goes with the next run.
const QString kRule = u"/etc/polkit-1/rules.d/49-vellorin-test.rules"_s;

const char kRuleText[] = R"(// A Vellorin test's, removed again when it ends.
polkit.addRule(function(action, subject) {
    // With -system: the device is not one the session's seat owns, as a loop device set up by root.
    if (action.id.indexOf("org.freedesktop.udisks2.open-device") == 0 && subject.user == "nobody")
        return polkit.Result.YES;
});
)";

// Empty once ready(its process id) holds, else why not: the text to skip with.
template <typename Ready>
QString start(Daemon& daemon, const QString& log, Ready ready, const QString& program,
              const QStringList& arguments = {}) {
    daemon.reset(new QProcess);
    daemon->setStandardInputFile(QProcess::nullDevice());
    daemon->setStandardOutputFile(log, QIODevice::Append);
    daemon->setStandardErrorFile(log, QIODevice::Append);
    // A test that dies takes its daemons with it. polkitd loses this when it changes its
    // user, but leaves by itself once its bus is gone.
    daemon->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    daemon->start(program, arguments);
    if (daemon->waitForStarted() &&
        QTest::qWaitFor([&] { return daemon->state() != QProcess::Running || ready(daemon->processId()); },
                        30000) &&
        daemon->state() == QProcess::Running)
        return {};
    return program + u" did not come up: "_s +
           (daemon->error() == QProcess::FailedToStart
                ? daemon->errorString()
                : u"its log ends:\n"_s + QString::fromLocal8Bit(readFile(native(log)).right(1500)));
}

// Its output once it exits 0. For checks that may well fail: their complaints are no news.
std::optional<QByteArray> quietly(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    if (process.waitForFinished() && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        return process.readAllStandardOutput();
    return std::nullopt;
}

// By process id, as the stand-in before may hold the name for a moment after its end.
auto owns(const PrivateSystemBus& bus, const QString& name) {
    return [connection = QDBusConnection::connectToBus(bus.address(), bus.address()), name](qint64 pid) {
        return connection.interface()->servicePid(name).value() == uint(pid);
    };
}

} // namespace

void StopDaemon::operator()(QProcess* process) const {
    process->terminate();
    if (!process->waitForFinished(10000))
        process->kill(); // and its destructor waits for the end
    delete process;
}

PrivateSystemBus::PrivateSystemBus() : folder_(QDir::tempPath() + u"/vellorin-bus-XXXXXX"_s) {
    if (qEnvironmentVariableIsSet("DBUS_SYSTEM_BUS_ADDRESS"))
        previousAddress_ = qgetenv("DBUS_SYSTEM_BUS_ADDRESS");
    QString config = QString::fromUtf8(readFile("/usr/share/dbus-1/system.conf"));
    if (config.isEmpty())
        skipReason_ = u"No /usr/share/dbus-1/system.conf: the package dbus is not installed"_s;
    else if (::chmod(QFile::encodeName(folder_.path()).constData(), 0755) != 0)
        skipReason_ = u"Cannot make a folder anyone may enter below "_s + QDir::tempPath();
    if (!skipReason_.isEmpty())
        return;
    // Debian's own, less what makes it the machine's bus: its user and the services it starts.
    config.remove(QRegularExpression(u"<(user|standard_system_servicedirs|servicehelper)\\b.*?(/>|</\\1>)"_s))
        .replace(u">system.d<"_s, u">/usr/share/dbus-1/system.d<"_s);
    writeFile(folder_.filePath(u"bus.conf"_s), config.toUtf8());
    const QString log = folder_.filePath(u"dbus-daemon.log"_s);
    const QString address = u"unix:path="_s + folder_.filePath(u"socket"_s);
    // It prints the address once the socket listens.
    skipReason_ =
        start(daemon_, log, [&](qint64) { return readFile(native(log)).contains("guid="); }, u"dbus-daemon"_s,
              {u"--config-file="_s + folder_.filePath(u"bus.conf"_s), u"--address="_s + address,
               u"--nofork"_s, u"--nopidfile"_s, u"--nosyslog"_s, u"--print-address"_s});
    if (!skipReason_.isEmpty())
        return;
    address_ = address;
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", address_.toUtf8());
}

PrivateSystemBus::~PrivateSystemBus() {
    QDBusConnection::disconnectFromBus(address_);
    previousAddress_ ? qputenv("DBUS_SYSTEM_BUS_ADDRESS", *previousAddress_)
                     : qunsetenv("DBUS_SYSTEM_BUS_ADDRESS");
}

RealDiskService::RealDiskService(const PrivateSystemBus& bus) : skipReason_(bus.skipReason()) {
    // A rule left by a killed test would let nobody in before the test allows it.
    QFile::remove(kRule);
    const QString log = bus.folder() + u"/%1.log"_s;
    const auto udevAnswers = [](qint64 = 0) {
        return bool(quietly(u"udevadm"_s, {u"control"_s, u"--ping"_s}));
    };
    if (skipReason_.isEmpty())
        skipReason_ =
            start(polkitd_, log.arg(u"polkitd"_s), owns(bus, u"org.freedesktop.PolicyKit1"_s), kPolkitd);
    // Without udev's records udisksd sees no block device at all. One udevd per machine: one
    // that runs already is used and left alone.
    if (skipReason_.isEmpty() && !udevAnswers()) {
        madeRunUdev_ = !QDir(u"/run/udev"_s).exists();
        skipReason_ = start(udevd_, log.arg(u"udevd"_s), udevAnswers, kUdevd);
    }
    if (skipReason_.isEmpty() && !runTool(u"udevadm"_s, {u"trigger"_s, u"--settle"_s,
                                                         u"--subsystem-match=block"_s, u"--action=add"_s}))
        skipReason_ = u"udev did not announce the block devices"_s;
    if (skipReason_.isEmpty())
        skipReason_ = start(udisksd_, log.arg(u"udisksd"_s), owns(bus, kDisks), kUdisksd);
}

RealDiskService::~RealDiskService() {
    QFile::remove(kRule);
    udisksd_.reset();
    udevd_.reset();
    // Stale records would have lsblk and libblkid trust what a reused loop device held before.
    if (madeRunUdev_)
        QDir(u"/run/udev"_s).removeRecursively();
}

bool RealDiskService::allowNobodyToOpenDevices() {
    if (!skipReason_.isEmpty())
        return false;
    // Whole and readable to polkitd's own user before it has a name polkitd reads: a change of
    // mode alone does not make it read its rules again.
    const std::string part = native(kRule + u".part"_s);
    writeFile(part, kRuleText);
    if (::chmod(part.c_str(), 0644) != 0 || std::rename(part.c_str(), native(kRule).c_str()) != 0)
        return false;
    // polkitd reads its rules again when their folder changes; asking it is the one sure sign
    // it has. Start time 0 has polkit look it up; the uid is nobody's, not this process's.
    const QStringList check{u"--action-id"_s, u"org.freedesktop.udisks2.open-device"_s, u"--process"_s,
                            u"%1,0,65534"_s.arg(::getpid())};
    return QTest::qWaitFor([&] { return bool(quietly(u"pkcheck"_s, check)); }, 10000);
}

QString RealDiskService::waitForBlock(const QString& device) const {
    std::optional<QByteArray> info; // begins with the object: "/org/freedesktop/UDisks2/block_devices/loop3:"
    const auto known = [&] {
        return bool(info = quietly(u"udisksctl"_s, {u"info"_s, u"--block-device"_s, device}));
    };
    return QTest::qWaitFor(known, 10000) ? QString::fromUtf8(info->left(info->indexOf(':'))) : QString();
}

StandInDisks::StandInDisks(const PrivateSystemBus& bus, Answer answer, const QString& device,
                           const QString& file)
    : skipReason_(bus.skipReason()) {
    static int made = 0;
    record_ = bus.folder() + u"/standin-calls-%1.txt"_s.arg(++made);
    if (skipReason_.isEmpty())
        skipReason_ = start(service_, bus.folder() + u"/standin-disks.log"_s, owns(bus, kDisks),
                            QStringLiteral(VELLORIN_STANDIN_DISKS),
                            answer == Answer::Grant ? QStringList{u"grant"_s, device, record_, file}
                                                    : QStringList{u"refuse"_s, device, record_});
}

QStringList StandInDisks::calls() const {
    return QString::fromUtf8(readFile(native(record_))).split(u'\n', Qt::SkipEmptyParts);
}

} // namespace vellorin::test
