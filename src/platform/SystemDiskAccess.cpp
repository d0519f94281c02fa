#include "platform/SystemDiskAccess.h"

#include "platform/PosixFileSystem.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QFile>
#include <QProcess>
#include <QStorageInfo>

#include <cerrno>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vellorin {

namespace {

const QString kService = QStringLiteral("org.freedesktop.UDisks2");
const QString kErrorPrefix = QStringLiteral("org.freedesktop.UDisks2.Error.NotAuthorized");
// What always works without the disk service.
const QString kDiskGroup = QStringLiteral(" Add your user to the \"disk\" group and log in again.");
const QString kSudoOrDiskGroup = QStringLiteral(
    " Run vellorin-recover with sudo, or add your user to the \"disk\" group and log in again.");
using Session = SystemDiskAccess::Session;

QString whatWorks(Session session) {
    return session == Session::Terminal ? kSudoOrDiskGroup : kDiskGroup;
}

const QByteArray kViewType = QByteArrayLiteral("fuse.vellorin-source-view");
constexpr int kLookupTimeoutMs = 30 * 1000;
// The prompt waits for the user; a dialog left alone still ends the run in the end.
constexpr int kPromptTimeoutMs = 5 * 60 * 1000;

QString needsPermission(const QString& device, const QString& why) {
    return QStringLiteral("Reading %1 needs permission%2").arg(device, why);
}

QString notRunning(const QString& device, Session session) {
    return needsPermission(device, QStringLiteral(": the disk service (udisks2) is not running.") +
                                       whatWorks(session));
}

// The sentence for a failed call, by the error's name.
QString describeFailure(const QString& device, const QDBusMessage& reply, Session session) {
    const bool terminal = session == Session::Terminal;
    const QString name = reply.errorName();
    QString why;
    if (name == kErrorPrefix + QLatin1String("Dismissed"))
        why = terminal
                  ? QStringLiteral(", which was not granted: the request was dismissed. Run it again and "
                                   "answer the password prompt.")
                  : QStringLiteral(
                        ", which was not granted: the request was dismissed. Choose the source again "
                        "and allow reading it when the system asks, or");
    else if (name == kErrorPrefix + QLatin1String("CanObtain"))
        why = terminal ? QStringLiteral(", which was not granted: no prompt could ask you (no authentication "
                                        "agent runs in this session and none could ask on this terminal).")
                       : QStringLiteral(", which was not granted: no prompt could ask you (no authentication "
                                        "agent runs in this session). Log in to a desktop session, or");
    else if (name.startsWith(kErrorPrefix))
        why = terminal ? QStringLiteral(", which was not granted: this user may not open it.")
                       : QStringLiteral(
                             ", which was not granted: this user may not open it. Ask an administrator to");
    else if (name == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
             name == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner") ||
             name == QLatin1String("org.freedesktop.DBus.Error.NoServer") ||
             name == QLatin1String("org.freedesktop.DBus.Error.Disconnected") ||
             name.startsWith(QLatin1String("org.freedesktop.DBus.Error.Spawn")))
        return notRunning(device, session);
    else if (name == QLatin1String("org.freedesktop.DBus.Error.NoReply") ||
             name == QLatin1String("org.freedesktop.DBus.Error.Timeout"))
        why = QStringLiteral(": the disk service (udisks2) did not answer.");
    else
        return needsPermission(device, QStringLiteral(": the disk service (udisks2) could not open it (%1).")
                                           .arg(reply.errorMessage().simplified()));
    return needsPermission(device, why + whatWorks(session));
}

// The descriptor must be what was asked for: read-only, and of this very device.
bool isReadOnlyDescriptorOf(int fd, const struct stat& device) {
    struct stat opened {};
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && (flags & O_ACCMODE) == O_RDONLY && ::fstat(fd, &opened) == 0 &&
           S_ISBLK(opened.st_mode) && opened.st_rdev == device.st_rdev;
}

// Asks the disk service; fills the descriptor or the problem.
void openThroughDiskService(const QString& device, const struct stat& deviceStat, Session session,
                            DiskAccess::Opened& opened) {
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        opened.problem = notRunning(device, session);
        return;
    }
    QDBusMessage resolve = QDBusMessage::createMethodCall(
        kService, QStringLiteral("/org/freedesktop/UDisks2/Manager"),
        QStringLiteral("org.freedesktop.UDisks2.Manager"), QStringLiteral("ResolveDevice"));
    resolve << QVariantMap{{QStringLiteral("path"), device}} << QVariantMap{};
    const QDBusMessage resolved = bus.call(resolve, QDBus::Block, kLookupTimeoutMs);
    if (resolved.type() != QDBusMessage::ReplyMessage) {
        opened.problem = describeFailure(device, resolved, session);
        return;
    }
    const auto objects = qdbus_cast<QList<QDBusObjectPath>>(resolved.arguments().value(0));
    if (objects.isEmpty()) {
        opened.problem = needsPermission(
            device,
            QStringLiteral(": the disk service (udisks2) does not know this device.") + whatWorks(session));
        return;
    }

    QDBusMessage open = QDBusMessage::createMethodCall(kService, objects.first().path(),
                                                       QStringLiteral("org.freedesktop.UDisks2.Block"),
                                                       QStringLiteral("OpenDevice"));
    open << QStringLiteral("r") << QVariantMap{};
    open.setInteractiveAuthorizationAllowed(true);
    const QDBusMessage answer = bus.call(open, QDBus::Block, kPromptTimeoutMs);
    if (answer.type() != QDBusMessage::ReplyMessage) {
        opened.problem = describeFailure(device, answer, session);
        return;
    }
    const auto handed = qvariant_cast<QDBusUnixFileDescriptor>(answer.arguments().value(0));
    Descriptor descriptor(
        handed.isValid() ? ::fcntl(handed.fileDescriptor(), F_DUPFD_CLOEXEC, DiskAccess::kFirstDescriptor)
                         : -1);
    if (!descriptor.isOpen() || !isReadOnlyDescriptorOf(descriptor.get(), deviceStat)) {
        opened.problem = needsPermission(
            device,
            QStringLiteral(": the disk service (udisks2) did not hand over a read-only descriptor of it."));
        return;
    }
    opened.descriptor = std::move(descriptor);
}

// A mount point as /proc/self/mountinfo writes it: space, tab, line feed and backslash octal.
QByteArray unescapeMountPath(const QByteArray& field) {
    QByteArray path;
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            bool ok = false;
            const int value = field.mid(i + 1, 3).toInt(&ok, 8);
            if (ok) {
                path.append(static_cast<char>(value));
                i += 3;
                continue;
            }
        }
        path.append(field[i]);
    }
    return path;
}

} // namespace

DiskAccess::Opened SystemDiskAccess::openSource(const QString& sourcePath,
                                                const std::function<void(const QString&)>& notice) {
    Opened opened;
    struct stat device {};
    if (::stat(nativePath(sourcePath).c_str(), &device) != 0)
        return opened; // the script says what is missing
    if (S_ISBLK(device.st_mode) || S_ISREG(device.st_mode)) {
        opened.device = sourcePath;
    } else if (S_ISDIR(device.st_mode)) {
        const QString backing = QString::fromLocal8Bit(QStorageInfo(sourcePath).device());
        if (!backing.startsWith(u'/') || ::stat(nativePath(backing).c_str(), &device) != 0 ||
            !S_ISBLK(device.st_mode))
            return opened; // a folder on no device: the script explains
        opened.device = backing;
    } else {
        return opened;
    }

    const std::string native = nativePath(opened.device);
    const int fd = ::open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd >= 0) {
        opened.descriptor.reset(::fcntl(fd, F_DUPFD_CLOEXEC, kFirstDescriptor));
        ::close(fd);
        return opened;
    }
    // The disk service can do no more than an administrator already may.
    if ((errno != EACCES && errno != EPERM) || !S_ISBLK(device.st_mode) || ::geteuid() == 0)
        return opened;
    if (notice)
        notice(needsPermission(
            opened.device, QStringLiteral("; asking the disk service (udisks2) for read-only access...")));
    openThroughDiskService(opened.device, device, session_, opened);
    return opened;
}

void SystemDiskAccess::unmountStaleViews() {
    QFile table(QStringLiteral("/proc/self/mountinfo"));
    if (!table.open(QIODevice::ReadOnly))
        return;
    const QByteArray owner = "user_id=" + QByteArray::number(::getuid());
    for (const QByteArray& line : table.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        const qsizetype separator = fields.indexOf(QByteArrayLiteral("-"));
        if (separator < 5 || separator + 3 >= fields.size() || fields[separator + 1] != kViewType ||
            !fields[separator + 3].split(',').contains(owner))
            continue;
        const QByteArray mountPoint = unescapeMountPath(fields[4]);
        // A view whose helper is gone answers "Transport endpoint is not connected". Opening
        // the folder asks the helper; the kernel may answer a stat from its cache even then.
        if (DIR* alive = ::opendir(mountPoint.constData())) {
            ::closedir(alive);
            continue;
        }
        if (errno != ENOTCONN)
            continue;
        const QString path = QFile::decodeName(mountPoint);
        if (QProcess::execute(QStringLiteral("fusermount3"),
                              {QStringLiteral("-u"), QStringLiteral("-z"), QStringLiteral("--"), path}) == 0)
            ::rmdir(mountPoint.constData());
    }
}

} // namespace vellorin
