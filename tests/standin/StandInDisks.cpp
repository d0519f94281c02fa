// A stand-in for the disk service (UDisks2) on a test's system bus: it serves one device,
// answers the opening of it as the test told it to, and records every call it receives.
// vellorin-standin-disks grant DEVICE RECORD FILE | refuse DEVICE RECORD

#include <QtDBus>

using namespace Qt::StringLiterals;

namespace {

const QString kRoot = u"/org/freedesktop/UDisks2"_s;

class StandInDisks final : public QDBusVirtualObject {
  public:
    StandInDisks(bool grant, QString device, QString record, QString file)
        : grant_(grant), device_(std::move(device)), record_(std::move(record)), file_(std::move(file)),
          block_(kRoot + u"/block_devices/"_s + device_.section(u'/', -1)) {}

    bool handleMessage(const QDBusMessage& call, const QDBusConnection& bus) override {
        const bool open = call.path() == block_ && call.member() == u"OpenDevice"_s;
        const QString device =
            open ? device_ : qdbus_cast<QVariantMap>(call.arguments().value(0)).value(u"path"_s).toString();
        const QString mode = open ? call.arguments().value(0).toString() : u"-"_s;
        // Opened for each line, so that the test reads every call that was answered.
        if (QFile record(record_); record.open(QIODevice::Append))
            record.write(u"%1 %2 %3 %4\n"_s.arg(call.member(), device, mode)
                             .arg(bus.interface()->serviceUid(call.service()).value())
                             .toUtf8());

        if (call.member() == u"ResolveDevice"_s)
            return bus.send(call.createReply(QVariant::fromValue(
                device == device_ ? QList{QDBusObjectPath(block_)} : QList<QDBusObjectPath>())));
        if (!open)
            return false;
        if (!grant_)
            return bus.send(call.createErrorReply(u"org.freedesktop.UDisks2.Error.NotAuthorizedDismissed"_s,
                                                  u"The authentication dialog was dismissed"_s));
        // Only reading is served, so that a client asking for more is caught here.
        QFile source(file_);
        if (mode != u"r"_s || !source.open(QIODevice::ReadOnly))
            return bus.send(
                call.createErrorReply(u"org.freedesktop.UDisks2.Error.Failed"_s,
                                      u"%1 in mode \"%2\": %3"_s.arg(file_, mode, source.errorString())));
        return bus.send(call.createReply(QVariant::fromValue(QDBusUnixFileDescriptor(source.handle()))));
    }

    QString introspect(const QString&) const override { return {}; }

  private:
    bool grant_;
    QString device_, record_, file_, block_;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    QDBusConnection bus = QDBusConnection::systemBus();
    StandInDisks disks(args.value(0) == u"grant"_s, args.value(1), args.value(2), args.value(3));
    // The object first: a client that sees the name owned may call at once.
    if (!bus.registerVirtualObject(kRoot, &disks, QDBusConnection::SubPath) ||
        !bus.registerService(u"org.freedesktop.UDisks2"_s)) {
        qCritical() << "Cannot serve org.freedesktop.UDisks2:" << bus.lastError().message();
        return 1;
    }
    return app.exec();
}
