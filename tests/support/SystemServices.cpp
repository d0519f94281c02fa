#include "support/SystemServices.h"

#include "support/DiskImages.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>

#include <csignal>

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
const QString kRules = u"/etc/polkit-1/rules.d"_s;

// Debian's system bus, less its activation, pid file and syslog; the last two policies are
// udisks2's own, for the stand-in where udisks2 is not installed.
const char kBusConfig[] = R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <auth>EXTERNAL</auth>
  <listen>unix:path=%1</listen>
  <policy context="default">
    <allow user="*"/>
    <deny own="*"/>
    <deny send_type="method_call"/>
    <allow send_type="signal"/>
    <allow send_requested_reply="true" send_type="method_return"/>
    <allow send_requested_reply="true" send_type="error"/>
    <allow receive_type="method_call"/>
    <allow receive_type="method_return"/>
    <allow receive_type="error"/>
    <allow receive_type="signal"/>
    <allow send_destination="org.freedesktop.DBus" send_interface="org.freedesktop.DBus"/>
    <allow send_destination="org.freedesktop.DBus" send_interface="org.freedesktop.DBus.Introspectable"/>
    <allow send_destination="org.freedesktop.DBus" send_interface="org.freedesktop.DBus.Properties"/>
    <deny send_destination="org.freedesktop.DBus" send_interface="org.freedesktop.DBus"
          send_member="UpdateActivationEnvironment"/>
  </policy>
  <includedir>/usr/share/dbus-1/system.d</includedir>
  <includedir>/etc/dbus-1/system.d</includedir>
  <policy user="root"><allow own="org.freedesktop.UDisks2"/></policy>
  <policy context="default"><allow send_destination="org.freedesktop.UDisks2"/></policy>
</busconfig>
)";

const char kRule[] = R"(// A Vellorin test's, removed again when it ends.
polkit.addRule(function(action, subject) {
    if ((action.id == "org.freedesktop.udisks2.open-device" ||
         action.id == "org.freedesktop.udisks2.open-device-system") && subject.user == "nobody")
        return polkit.Result.YES;
});
)";

// Starts a daemon with its output appended to log, on the bus at address.
std::unique_ptr<QProcess> launch(const QString& program, const QStringList& arguments, const QString& log,
                                 const QString& address, bool keepOutput = false) {
    auto process = std::make_unique<QProcess>();
    if (!address.isEmpty()) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"DBUS_SYSTEM_BUS_ADDRESS"_s, address);
        process->setProcessEnvironment(env);
    }
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardErrorFile(log, QIODevice::Append);
    if (!keepOutput)
        process->setStandardOutputFile(log, QIODevice::Append);
    // A test that dies takes its daemons with it. polkitd loses this when it changes its
    // user, but leaves by itself once its bus is gone.
    process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    process->start(program, arguments);
    if (!process->waitForStarted())
        qWarning().noquote() << program << "did not start:" << process->errorString();
    return process;
}

void stop(std::unique_ptr<QProcess>& process) {
    if (process && process->state() != QProcess::NotRunning) {
        process->terminate();
        if (!process->waitForFinished(10000)) {
            qWarning().noquote() << process->program() << "ignored SIGTERM; killed";
            process->kill();
            process->waitForFinished();
        }
    }
    process.reset();
}

QString tail(const QString& log) {
    QFile file(log);
    return file.open(QIODevice::ReadOnly) && file.seek(std::max<qint64>(0, file.size() - 1500))
               ? u"\n"_s + QString::fromLocal8Bit(file.readAll())
               : QString();
}

bool quietly(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(program, arguments);
    return process.waitForFinished() && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

bool udevAnswers() {
    return quietly(u"udevadm"_s, {u"control"_s, u"--ping"_s});
}

// How many rules polkitd counted when it last read them, as its debug output says.
int rulesRead(const QString& log) {
    static const QRegularExpression counted(u"executing (\\d+) rules"_s);
    QFile file(log);
    int count = -1;
    if (file.open(QIODevice::ReadOnly))
        for (auto it = counted.globalMatch(QString::fromLocal8Bit(file.readAll())); it.hasNext();)
            count = it.next().captured(1).toInt();
    return count;
}

QString ruleOf(qint64 pid) {
    return kRules + u"/49-vellorin-test-%1.rules"_s.arg(pid);
}

} // namespace

PrivateSystemBus::PrivateSystemBus() : folder_(QDir::tempPath() + u"/vellorin-bus-XXXXXX"_s) {
    const QString program = QStandardPaths::findExecutable(u"dbus-daemon"_s);
    const QString config = folder_.filePath(u"bus.conf"_s), log = folder_.filePath(u"dbus-daemon.log"_s);
    QFile file(config);
    if (program.isEmpty())
        skipReason_ = u"No dbus-daemon: the package dbus is not installed"_s;
    else if (!folder_.isValid() || ::chmod(QFile::encodeName(folder_.path()).constData(), 0755) != 0 ||
             !file.open(QIODevice::WriteOnly) ||
             file.write(QString::fromLatin1(kBusConfig).arg(folder_.filePath(u"socket"_s)).toUtf8()) < 0)
        skipReason_ = u"Cannot write a bus configuration below "_s + QDir::tempPath();
    file.close();
    if (skipReason_.isEmpty()) {
        daemon_ = launch(program,
                         {u"--config-file="_s + config, u"--print-address"_s, u"--nofork"_s, u"--nosyslog"_s},
                         log, {}, true);
        // The address is printed once the socket listens.
        if (daemon_->waitForReadyRead(10000) && daemon_->canReadLine())
            address_ = QString::fromUtf8(daemon_->readLine().trimmed());
        if (address_.isEmpty())
            skipReason_ = u"dbus-daemon gave no address"_s + tail(log);
    }
    if (!skipReason_.isEmpty()) {
        qWarning().noquote() << skipReason_;
        stop(daemon_);
        return;
    }
    if (qEnvironmentVariableIsSet("DBUS_SYSTEM_BUS_ADDRESS"))
        previousAddress_ = qgetenv("DBUS_SYSTEM_BUS_ADDRESS");
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", address_.toUtf8());
    qInfo().noquote() << "A private system bus at" << address_;
}

PrivateSystemBus::~PrivateSystemBus() {
    stop(daemon_);
    if (!address_.isEmpty())
        previousAddress_ ? qputenv("DBUS_SYSTEM_BUS_ADDRESS", *previousAddress_)
                         : qunsetenv("DBUS_SYSTEM_BUS_ADDRESS");
}

bool PrivateSystemBus::waitForOwner(const QString& name, const QProcess* owner, int timeoutMs) const {
    const QString connection = u"vellorin-test-owner"_s;
    bool owned = false;
    {
        QDBusConnection bus = QDBusConnection::connectToBus(address_, connection);
        // The name's owner by process id: another may hold the name already.
        const auto ownedAsAsked = [&] {
            return owner ? bus.interface()->servicePid(name).value() == uint(owner->processId())
                         : bus.interface()->isServiceRegistered(name).value();
        };
        for (QDeadlineTimer deadline(timeoutMs); bus.isConnected() && !(owned = ownedAsAsked()) &&
                                                 (!owner || owner->state() == QProcess::Running) &&
                                                 !deadline.hasExpired();)
            QTest::qWait(20);
    }
    QDBusConnection::disconnectFromBus(connection);
    return owned;
}

RealDiskService::RealDiskService(const PrivateSystemBus& bus) : bus_(bus), skipReason_(bus.skipReason()) {
    if (!skipReason_.isEmpty())
        return;
    if (::geteuid() != 0)
        skipReason_ = u"The disk service runs as root only"_s;
    for (const QString& program : {kPolkitd, kUdevd, kUdisksd})
        if (skipReason_.isEmpty() && !QFileInfo(program).isExecutable())
            skipReason_ = u"No "_s + program + u": polkitd, udev and udisks2 must be installed"_s;
    if (!skipReason_.isEmpty()) {
        qWarning().noquote() << skipReason_;
        return;
    }
    // A rule left by a test that died would let nobody open every disk of the machine.
    for (const QFileInfo& rule : QDir(kRules).entryInfoList({u"49-vellorin-test-*.rules"_s}, QDir::Files))
        if (!QFileInfo::exists(u"/proc/"_s + rule.baseName().section(u'-', -1)))
            QFile::remove(rule.filePath());
    QElapsedTimer started;
    started.start();
    skipReason_ = start();
    if (skipReason_.isEmpty())
        qInfo() << "The disk service took" << started.elapsed() << "ms to start";
    else
        qWarning().noquote() << skipReason_;
}

QString RealDiskService::start() {
    const QString folder = bus_.folder(), address = bus_.address();
    // Its debug output stays on: the log says when it has counted the rules again.
    polkitd_ = launch(kPolkitd, {}, folder + u"/polkitd.log"_s, address);
    if (!bus_.waitForOwner(u"org.freedesktop.PolicyKit1"_s, polkitd_.get()))
        return u"polkitd did not take its name on the bus"_s + tail(folder + u"/polkitd.log"_s);

    // Without udev's records udisksd sees no block device at all. One udevd per machine: one
    // that runs already is used and left alone.
    if (udevAnswers()) {
        qInfo() << "A udevd runs already; it is used and left running";
    } else {
        for (const QString& path : {u"/run/udev"_s, u"/dev/disk"_s})
            if (!QFileInfo::exists(path))
                udevLeftovers_.append(path);
        udevd_ = launch(kUdevd, {}, folder + u"/udevd.log"_s, address);
        bool up = false;
        for (QDeadlineTimer deadline(10000);
             !(up = udevAnswers()) && udevd_->state() == QProcess::Running && !deadline.hasExpired();)
            QTest::qWait(20);
        if (!up)
            return u"systemd-udevd did not start"_s + tail(folder + u"/udevd.log"_s);
    }
    if (!runTool(u"udevadm"_s, {u"trigger"_s, u"--subsystem-match=block"_s, u"--action=add"_s}) ||
        !runTool(u"udevadm"_s, {u"settle"_s, u"--timeout=60"_s}))
        return u"udev did not announce the block devices"_s;

    udisksd_ = launch(kUdisksd, {}, folder + u"/udisksd.log"_s, address);
    if (!bus_.waitForOwner(kDisks, udisksd_.get()))
        return u"udisksd did not take its name on the bus"_s + tail(folder + u"/udisksd.log"_s);
    return {};
}

RealDiskService::~RealDiskService() {
    if (!rule_.isEmpty())
        QFile::remove(rule_);
    stop(udisksd_);
    stop(udevd_);
    // Stale records would have lsblk and libblkid trust what a reused loop device held before.
    for (const QString& path : std::as_const(udevLeftovers_))
        QDir(path).removeRecursively();
    stop(polkitd_);
}

bool RealDiskService::allowNobodyToOpenDevices() {
    if (!skipReason_.isEmpty() || !rule_.isEmpty())
        return skipReason_.isEmpty();
    const QString log = bus_.folder() + u"/polkitd.log"_s, rule = ruleOf(QCoreApplication::applicationPid());
    const int before = rulesRead(log);
    // Whole before it has a name polkitd reads, so that the next count has it. polkitd reads
    // it as its own user: never the umask's 0600.
    QFile part(rule + u".part"_s);
    if (!part.open(QIODevice::WriteOnly) || part.write(kRule) < 0 || !part.flush() ||
        ::fchmod(part.handle(), 0644) != 0 || !part.rename(rule)) {
        qWarning().noquote() << "Cannot write" << rule << part.errorString();
        part.remove();
        return false;
    }
    rule_ = rule;
    for (QDeadlineTimer deadline(10000); !deadline.hasExpired(); QTest::qWait(20))
        if (rulesRead(log) > before)
            return true;
    qWarning() << "polkitd did not read its rules again" << tail(log);
    return false;
}

QString RealDiskService::waitForBlock(const QString& device, int timeoutMs) const {
    const QString connection = u"vellorin-test-resolve"_s;
    QString found;
    {
        QDBusConnection bus = QDBusConnection::connectToBus(bus_.address(), connection);
        QDBusMessage call =
            QDBusMessage::createMethodCall(kDisks, u"/org/freedesktop/UDisks2/Manager"_s,
                                           u"org.freedesktop.UDisks2.Manager"_s, u"ResolveDevice"_s);
        call << QVariantMap{{u"path"_s, device}} << QVariantMap();
        for (QDeadlineTimer deadline(timeoutMs); found.isEmpty() && !deadline.hasExpired(); QTest::qWait(50))
            if (const QDBusReply<QList<QDBusObjectPath>> reply = bus.call(call);
                reply.isValid() && !reply.value().isEmpty())
                found = reply.value().first().path();
    }
    QDBusConnection::disconnectFromBus(connection);
    return found;
}

StandInDisks::StandInDisks(const PrivateSystemBus& bus, Answer answer, const QString& device,
                           const QString& file)
    : skipReason_(bus.skipReason()) {
    if (!skipReason_.isEmpty())
        return;
    static int made = 0;
    record_ = bus.folder() + u"/standin-calls-%1.txt"_s.arg(++made);
    const QString log = bus.folder() + u"/standin-disks.log"_s;
    QStringList arguments{answer == Answer::Grant ? u"grant"_s : u"refuse"_s, device, record_};
    if (answer == Answer::Grant)
        arguments.append(file);
    service_ = launch(QStringLiteral(VELLORIN_STANDIN_DISKS), arguments, log, bus.address());
    if (!bus.waitForOwner(kDisks, service_.get())) {
        skipReason_ = u"vellorin-standin-disks did not take its name on the bus"_s + tail(log);
        qWarning().noquote() << skipReason_;
        stop(service_);
    }
}

StandInDisks::~StandInDisks() {
    stop(service_);
}

QStringList StandInDisks::calls() const {
    QFile file(record_);
    return file.open(QIODevice::ReadOnly | QIODevice::Text)
               ? QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts)
               : QStringList();
}

} // namespace vellorin::test
