#include "workflow/DiskCatalogue.h"

#include "platform/Queues.h"

#include <QRegularExpression>

#include <algorithm>
#include <utility>

namespace vellorin {

namespace {

bool holdsSystem(const BlockDevice& device) {
    for (const QString& mount : device.mountPoints) {
        if (mount == QStringLiteral("/") || mount == QStringLiteral("/usr") ||
            mount == QStringLiteral("[SWAP]") || mount == QStringLiteral("/boot") ||
            mount.startsWith(QStringLiteral("/boot/")))
            return true;
    }
    return std::any_of(device.children.begin(), device.children.end(), holdsSystem);
}

// Vendor fields that are no name: the bus's ("ATA") or a number ("0x1af4").
bool meaningfulVendor(const QString& vendor) {
    static const QRegularExpression number(QStringLiteral("^(0x)?[0-9a-fA-F]+$"));
    return !vendor.isEmpty() && vendor != QStringLiteral("ATA") && !number.match(vendor).hasMatch();
}

} // namespace

std::shared_ptr<DiskCatalogue> DiskCatalogue::create(std::shared_ptr<Queues> queues,
                                                     std::shared_ptr<BlockDevices> devices) {
    return std::shared_ptr<DiskCatalogue>(new DiskCatalogue(std::move(queues), std::move(devices)),
                                          [](DiskCatalogue* catalogue) { catalogue->deleteLater(); });
}

DiskCatalogue::DiskCatalogue(std::shared_ptr<Queues> queues, std::shared_ptr<BlockDevices> devices)
    : queues_(std::move(queues)), devices_(std::move(devices)) {}

void DiskCatalogue::refresh() {
    if (reading_) {
        readAgain_ = true;
        return;
    }
    if (!devices_) {
        apply(QStringLiteral("The list of disks is not available."));
        return;
    }
    reading_ = true;
    queues_->userInitiated([weak = weak_from_this(), devices = devices_, queues = queues_] {
        if (weak.expired())
            return;
        auto result = devices->list();
        queues->postMain([weak, result = std::move(result)]() mutable {
            if (auto self = weak.lock())
                self->apply(std::move(result));
        });
    });
}

void DiskCatalogue::apply(std::variant<QList<BlockDevice>, QString> result) {
    reading_ = false;
    QList<Disk> disks = disks_;
    QString problem;
    if (auto* devices = std::get_if<QList<BlockDevice>>(&result))
        disks = arrange(*devices);
    else
        problem = std::get<QString>(result);
    // Read every two seconds while the dialog is open: a list that stayed the same is not
    // laid out again, so the rows, their scrolling and what a screen reader is on stay put.
    if (!listed_ || disks != disks_ || problem != problem_) {
        listed_ = true;
        disks_ = std::move(disks);
        problem_ = std::move(problem);
        emit changed();
    }
    if (std::exchange(readAgain_, false))
        refresh();
}

QList<DiskCatalogue::Disk> DiskCatalogue::arrange(const QList<BlockDevice>& devices) {
    QList<Disk> ordinary;
    QList<Disk> system;
    for (const BlockDevice& device : devices) {
        if (device.size <= 0)
            continue;
        Disk disk{device, holdsSystem(device), {}};
        for (const BlockDevice& child : device.children)
            if (child.type == QStringLiteral("part") && child.size > 0)
                disk.partitions.append(child);
        (disk.systemDisk ? system : ordinary).append(disk);
    }
    return ordinary + system;
}

QString DiskCatalogue::diskName(const BlockDevice& disk) {
    const QString vendor = meaningfulVendor(disk.vendor) ? disk.vendor : QString();
    QString name = disk.model;
    if (!vendor.isEmpty() && !name.startsWith(vendor, Qt::CaseInsensitive))
        name = name.isEmpty() ? vendor : vendor + QLatin1Char(' ') + name;
    if (!name.isEmpty())
        return name;
    if (disk.type == QStringLiteral("loop")) {
        const QString image = disk.backingFile.section(QLatin1Char('/'), -1);
        return QStringLiteral("Loop device ") + disk.kernelName +
               (image.isEmpty() ? QString() : QStringLiteral(" (") + image + QLatin1Char(')'));
    }
    return QStringLiteral("Disk ") + disk.kernelName;
}

QString DiskCatalogue::partitionName(const BlockDevice& disk, const BlockDevice& partition) {
    QString name = diskName(disk) + QStringLiteral(", partition ");
    name += partition.partitionNumber > 0 ? QString::number(partition.partitionNumber) : partition.kernelName;
    if (!partition.label.isEmpty())
        name += QStringLiteral(" (") + partition.label + QLatin1Char(')');
    return name;
}

QString DiskCatalogue::nameOf(const QList<Disk>& disks, const QString& path) {
    for (const Disk& disk : disks) {
        if (disk.device.path == path)
            return diskName(disk.device);
        for (const BlockDevice& partition : disk.partitions)
            if (partition.path == path)
                return partitionName(disk.device, partition);
    }
    return {};
}

} // namespace vellorin
