#pragma once

#include "platform/BlockDevices.h"

#include <QList>
#include <QObject>
#include <QString>

#include <memory>

namespace vellorin {

class Queues;

// The disks a user can recover from, as the dialog lists them: read again on request, off
// the main thread, and published there.
class DiskCatalogue : public QObject, public std::enable_shared_from_this<DiskCatalogue> {
    Q_OBJECT
  public:
    struct Disk {
        BlockDevice device;
        // Holds the running system: "/", "/usr", "/boot" or swap is on it.
        bool systemDisk = false;
        // Its partitions, each with a size; empty for an unpartitioned disk or a loop device.
        QList<BlockDevice> partitions;

        friend bool operator==(const Disk&, const Disk&) = default;
    };

    static std::shared_ptr<DiskCatalogue> create(std::shared_ptr<Queues> queues,
                                                 std::shared_ptr<BlockDevices> devices);

    // Main thread. A refresh asked for while one runs is folded into the next one; changed()
    // comes after the first reading and after any that differs from the one before.
    void refresh();
    const QList<Disk>& disks() const { return disks_; }
    // Why the last reading failed; empty after a good one.
    const QString& problem() const { return problem_; }
    bool hasListed() const { return listed_; }

    // What the user may choose from a tree of devices: no empty devices, the system disk last.
    static QList<Disk> arrange(const QList<BlockDevice>& devices);
    // "SanDisk Ultra", or a plain name when the disk says nothing of itself.
    static QString diskName(const BlockDevice& disk);
    // "SanDisk Ultra, partition 1 (CARD)".
    static QString partitionName(const BlockDevice& disk, const BlockDevice& partition);
    // The name of the device at path, disk or partition; empty when it is not listed.
    static QString nameOf(const QList<Disk>& disks, const QString& path);

  signals:
    void changed();

  private:
    DiskCatalogue(std::shared_ptr<Queues> queues, std::shared_ptr<BlockDevices> devices);
    void apply(std::variant<QList<BlockDevice>, QString> result);

    std::shared_ptr<Queues> queues_;
    std::shared_ptr<BlockDevices> devices_;
    QList<Disk> disks_;
    QString problem_;
    bool listed_ = false;
    bool reading_ = false;
    bool readAgain_ = false;
};

} // namespace vellorin
