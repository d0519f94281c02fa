#include "platform/LsblkOutput.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace vellorin {

namespace {

QString text(const QJsonObject& object, const char* key) {
    return object.value(QLatin1String(key)).toString().trimmed();
}

qint64 number(const QJsonValue& value) {
    if (value.isDouble())
        return static_cast<qint64>(value.toDouble());
    return value.toString().toLongLong();
}

bool flag(const QJsonValue& value) {
    if (value.isBool())
        return value.toBool();
    const QString s = value.toString();
    return s == QStringLiteral("1") || s == QStringLiteral("true");
}

// A partition's number from its kernel name and its disk's: "sdb1" on "sdb", "nvme0n1p2" on
// "nvme0n1", "mmcblk0p1" on "mmcblk0".
int partitionNumberOf(const QString& name, const QString& diskName) {
    if (diskName.isEmpty() || !name.startsWith(diskName))
        return 0;
    QString rest = name.mid(diskName.size());
    if (rest.startsWith(QLatin1Char('p')))
        rest.remove(0, 1);
    bool ok = false;
    const int value = rest.toInt(&ok);
    return ok && value > 0 ? value : 0;
}

BlockDevice deviceFrom(const QJsonObject& object, const QString& parentName,
                       const std::function<QString(const QString&)>& backingFile) {
    BlockDevice device;
    device.kernelName = text(object, "kname");
    if (device.kernelName.isEmpty())
        device.kernelName = text(object, "name");
    device.path = text(object, "path");
    if (device.path.isEmpty())
        device.path = QStringLiteral("/dev/") + text(object, "name");
    device.type = text(object, "type");
    device.size = number(object.value(QStringLiteral("size")));
    device.vendor = text(object, "vendor");
    device.model = text(object, "model");
    device.transport = text(object, "tran");
    device.removable = flag(object.value(QStringLiteral("rm")));
    device.label = text(object, "label");
    device.fileSystem = text(object, "fstype");
    const QJsonValue mounts = object.value(QStringLiteral("mountpoints"));
    if (mounts.isArray()) {
        for (const QJsonValue& mount : mounts.toArray())
            if (mount.isString() && !mount.toString().isEmpty())
                device.mountPoints.append(mount.toString());
    } else if (const QString single = text(object, "mountpoint"); !single.isEmpty()) {
        device.mountPoints.append(single);
    }
    if (device.type == QStringLiteral("part"))
        device.partitionNumber = partitionNumberOf(device.kernelName, parentName);
    if (device.type == QStringLiteral("loop") && backingFile)
        device.backingFile = backingFile(device.kernelName);
    for (const QJsonValue& child : object.value(QStringLiteral("children")).toArray())
        if (child.isObject())
            device.children.append(deviceFrom(child.toObject(), device.kernelName, backingFile));
    return device;
}

} // namespace

std::variant<QList<BlockDevice>, QString>
parseLsblkOutput(const QByteArray& json, const std::function<QString(const QString&)>& backingFile) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError)
        return QStringLiteral("The list of disks could not be read: ") + error.errorString();
    const QJsonValue devices = document.object().value(QStringLiteral("blockdevices"));
    if (!devices.isArray())
        return QStringLiteral("The list of disks could not be read: it names no devices.");
    QList<BlockDevice> result;
    for (const QJsonValue& value : devices.toArray())
        if (value.isObject())
            result.append(deviceFrom(value.toObject(), QString(), backingFile));
    return result;
}

} // namespace vellorin
