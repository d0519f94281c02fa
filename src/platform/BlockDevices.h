#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <variant>

namespace vellorin {

// One block device as the system lists it, with what is built on it.
struct BlockDevice {
    QString path;       // "/dev/sdb1", "/dev/mapper/root"
    QString kernelName; // "sdb1", "dm-0"
    QString type;       // "disk", "part", "loop", "crypt", "lvm", "rom"…
    qint64 size = 0;
    QString vendor;
    QString model;
    QString transport; // "usb", "sata", "nvme", "mmc"; empty when unknown
    bool removable = false;
    QString label;
    QString fileSystem;
    QStringList mountPoints; // "[SWAP]" for swap in use
    // A loop device's image file; empty otherwise or when it cannot be read.
    QString backingFile;
    // A partition's number on its disk; 0 for anything else.
    int partitionNumber = 0;
    QList<BlockDevice> children;

    friend bool operator==(const BlockDevice&, const BlockDevice&) = default;
};

// The disks and partitions of the machine and what holds a given path.
class BlockDevices {
  public:
    virtual ~BlockDevices() = default;
    // The tree of devices, or a sentence saying why it could not be read. Runs a program:
    // never on the main thread.
    virtual std::variant<QList<BlockDevice>, QString> list() = 0;
    // The device whose file system holds the path (the deepest existing part of it), as the
    // mount table names it; empty when that file system is on no device (tmpfs, say).
    virtual QString deviceHolding(const QString& path) = 0;
};

} // namespace vellorin
