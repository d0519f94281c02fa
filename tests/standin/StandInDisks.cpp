// A stand-in for the disk service (UDisks2) on a test's system bus: it serves one device,
// answers the opening of it as the test told it to, and records every call it receives.

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QDBusVirtualObject>
#include <QFile>
#include <QRegularExpression>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>

namespace {

using namespace Qt::StringLiterals;

const char kUsage[] = "Usage: vellorin-standin-disks grant|refuse DEVICE RECORD [FILE]\n"
                      "Owns org.freedesktop.UDisks2 on the system bus (DBUS_SYSTEM_BUS_ADDRESS) and\n"
                      "serves DEVICE (such as /dev/loop3) only. Its Block.OpenDevice answers, with\n"
                      "grant, a new read-only descriptor of FILE for mode \"r\" and an error for any\n"
                      "other mode; with refuse, NotAuthorizedDismissed. Every call is appended to\n"
                      "RECORD as one line: method, device, mode or \"-\", caller's uid.\n"
                      "Exit status: 2 bad arguments, 3 no system bus, 4 the name is owned already.\n";

const QString kRoot = u"/org/freedesktop/UDisks2"_s;
const QString kManager = kRoot + u"/Manager"_s;

class StandInDisks final : public QDBusVirtualObject {
  public:
    StandInDisks(bool grant, QString device, QString record, QString file)
        : grant_(grant), device_(std::move(device)), record_(std::move(record)), file_(std::move(file)),
          // The service's own naming is "loop3" for /dev/loop3; object paths allow no other marks.
          block_(kRoot + u"/block_devices/"_s +
                 device_.section(u'/', -1).replace(QRegularExpression(u"[^A-Za-z0-9_]"_s), u"_"_s)) {}

    bool handleMessage(const QDBusMessage& call, const QDBusConnection& bus) override {
        const bool resolve = call.path() == kManager && call.member() == u"ResolveDevice"_s &&
                             call.signature() == u"a{sv}a{sv}"_s;
        const bool open =
            call.path() == block_ && call.member() == u"OpenDevice"_s && call.signature() == u"sa{sv}"_s;
        QString device = call.path(), mode = u"-"_s;
        if (resolve)
            device = qdbus_cast<QVariantMap>(call.arguments().at(0)).value(u"path"_s).toString();
        else if (open)
            device = device_, mode = call.arguments().at(0).toString();
        // Introspection and properties are the bus library's business, not the client's.
        if (!call.interface().startsWith(u"org.freedesktop.DBus."_s))
            record(call.member(), device, mode, bus.interface()->serviceUid(call.service()).value());

        if (resolve) {
            const auto found = device == device_ ? QList{QDBusObjectPath(block_)} : QList<QDBusObjectPath>();
            return bus.send(call.createReply(QVariant::fromValue(found)));
        }
        if (!open)
            return false;
        if (!grant_)
            return bus.send(call.createErrorReply(u"org.freedesktop.UDisks2.Error.NotAuthorizedDismissed"_s,
                                                  u"The authentication dialog was dismissed"_s));
        // Only reading is served, so that a client asking for more is caught here.
        if (mode != u"r"_s)
            return bus.send(call.createErrorReply(u"org.freedesktop.UDisks2.Error.Failed"_s,
                                                  u"Mode \"%1\" is not served, only \"r\""_s.arg(mode)));
        const int fd = ::open(QFile::encodeName(file_).constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return bus.send(call.createErrorReply(
                u"org.freedesktop.UDisks2.Error.Failed"_s,
                u"Error opening %1: %2"_s.arg(file_, QString::fromLocal8Bit(std::strerror(errno)))));
        QDBusUnixFileDescriptor descriptor;
        descriptor.giveFileDescriptor(fd);
        return bus.send(call.createReply(QVariant::fromValue(descriptor)));
    }

    QString introspect(const QString& path) const override {
        if (path == kManager)
            return uR"(<interface name="org.freedesktop.UDisks2.Manager">
  <method name="ResolveDevice"><arg name="devspec" type="a{sv}" direction="in"/>
    <arg name="options" type="a{sv}" direction="in"/><arg name="devices" type="ao" direction="out"/></method>
</interface>)"_s;
        if (path == block_)
            return uR"(<interface name="org.freedesktop.UDisks2.Block">
  <method name="OpenDevice"><arg name="mode" type="s" direction="in"/>
    <arg name="options" type="a{sv}" direction="in"/><arg name="fd" type="h" direction="out"/></method>
</interface>)"_s;
        return {};
    }

  private:
    // Opened for each line, so that the test reads every call that was answered.
    void record(const QString& method, const QString& device, const QString& mode, uint uid) const {
        QFile file(record_);
        if (!file.open(QIODevice::Append | QIODevice::Text) ||
            file.write(u"%1 %2 %3 %4\n"_s.arg(method, device, mode).arg(uid).toUtf8()) < 0)
            std::fprintf(stderr, "Cannot write %s: %s\n", qPrintable(record_),
                         qPrintable(file.errorString()));
    }

    bool grant_;
    QString device_, record_, file_, block_;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    const bool grant = args.value(0) == u"grant"_s;
    if (args.size() < 3 || args.size() > 4 || (!grant && args[0] != u"refuse"_s) ||
        (grant && args.size() != 4)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        std::fprintf(stderr, "No system bus: %s\n", qPrintable(bus.lastError().message()));
        return 3;
    }
    StandInDisks disks(grant, args[1], args[2], args.value(3));
    // The object first: a client that sees the name owned may call at once.
    if (!bus.registerVirtualObject(kRoot, &disks, QDBusConnection::SubPath))
        return 4;
    if (const auto owned = bus.interface()->registerService(u"org.freedesktop.UDisks2"_s);
        owned.value() != QDBusConnectionInterface::ServiceRegistered) {
        std::fprintf(stderr, "Cannot own org.freedesktop.UDisks2: %s\n",
                     owned.isValid() ? "it has an owner" : qPrintable(owned.error().message()));
        return 4;
    }
    return app.exec();
}
