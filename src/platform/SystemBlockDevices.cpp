#include "platform/SystemBlockDevices.h"

#include "platform/LsblkOutput.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStorageInfo>

namespace vellorin {

namespace {

constexpr int kListTimeoutMs = 10000;

QString loopBackingFile(const QString& kernelName) {
    // A kernel name is one path component; anything else is not looked up.
    if (kernelName.isEmpty() || kernelName.contains(QLatin1Char('/')) ||
        kernelName.startsWith(QLatin1Char('.')))
        return {};
    QFile file(QStringLiteral("/sys/block/") + kernelName + QStringLiteral("/loop/backing_file"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLocal8Bit(file.readAll()).trimmed();
}

} // namespace

std::variant<QList<BlockDevice>, QString> SystemBlockDevices::list() {
    QProcess lsblk;
    lsblk.setStandardInputFile(QProcess::nullDevice());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    lsblk.setProcessEnvironment(environment);
    lsblk.start(QStringLiteral("lsblk"), {QStringLiteral("--json"), QStringLiteral("--bytes"),
                                          QStringLiteral("-o"), QString::fromLatin1(kLsblkColumns)});
    if (!lsblk.waitForStarted(kListTimeoutMs))
        return QStringLiteral(
            "The list of disks could not be read: lsblk (util-linux) could not be started.");
    if (!lsblk.waitForFinished(kListTimeoutMs)) {
        lsblk.kill();
        lsblk.waitForFinished();
        return QStringLiteral("The list of disks could not be read: lsblk did not answer.");
    }
    if (lsblk.exitStatus() != QProcess::NormalExit || lsblk.exitCode() != 0)
        return QStringLiteral("The list of disks could not be read: ") +
               QString::fromLocal8Bit(lsblk.readAllStandardError()).trimmed();
    return parseLsblkOutput(lsblk.readAllStandardOutput(), loopBackingFile);
}

QString SystemBlockDevices::deviceHolding(const QString& path) {
    QFileInfo existing(path);
    while (!existing.exists() && !existing.isRoot()) {
        const QString parent = existing.absolutePath();
        if (parent == existing.absoluteFilePath())
            break;
        existing = QFileInfo(parent);
    }
    const QStorageInfo storage(existing.absoluteFilePath());
    const QString device = QString::fromLocal8Bit(storage.device());
    if (!storage.isValid() || !device.startsWith(QStringLiteral("/dev/")))
        return {};
    return device;
}

} // namespace vellorin
