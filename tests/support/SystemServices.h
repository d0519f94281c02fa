#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <optional>

class QProcess;

namespace vellorin::test {

// Ends a daemon by its process id: SIGTERM, then SIGKILL if it ignores that.
struct StopDaemon {
    void operator()(QProcess* process) const;
};
using Daemon = std::unique_ptr<QProcess, StopDaemon>;

// A system bus of the test's own, with Debian's system bus policy (the service policies in
// /usr/share/dbus-1/system.d and /etc/dbus-1/system.d apply) and no service activation, its
// socket where user nobody may reach it. While it lives, DBUS_SYSTEM_BUS_ADDRESS names it.
// libdbus reads that variable once per process and QDBusConnection::systemBus() never connects
// again, so a suite makes one bus for all its cases.
class PrivateSystemBus {
  public:
    PrivateSystemBus();
    ~PrivateSystemBus();

    // Empty while the bus runs, else why it does not: the text to QSKIP with.
    const QString& skipReason() const { return skipReason_; }
    const QString& address() const { return address_; }
    // Anyone may enter it: logs, records, images.
    QString folder() const { return folder_.path(); }

  private:
    QTemporaryDir folder_;
    Daemon daemon_;
    QString skipReason_, address_;
    std::optional<QByteArray> previousAddress_;
};

// The real disk service on a bus: polkitd, systemd-udevd with the block devices announced
// again (only if no udevd serves the machine already), then udisksd. Each is stopped by its
// process id when this ends, and /run/udev goes with them if udevd made it.
class RealDiskService {
  public:
    explicit RealDiskService(const PrivateSystemBus& bus);
    ~RealDiskService();

    const QString& skipReason() const { return skipReason_; }
    // From now until this ends, polkit lets user nobody, and no one else, open a device through
    // the service. True once polkitd grants it.
    bool allowNobodyToOpenDevices();
    // The service's object for device (such as /dev/loop3), once it knows it; empty on timeout.
    QString waitForBlock(const QString& device) const;

  private:
    Daemon polkitd_, udevd_, udisksd_;
    QString skipReason_;
    bool madeRunUdev_ = false;
};

// vellorin-standin-disks on a bus, serving device only: OpenDevice answers with a new
// read-only descriptor of file (for mode "r" only) or is refused as if the user dismissed the
// password dialog.
class StandInDisks {
  public:
    enum class Answer { Grant, Refuse };
    StandInDisks(const PrivateSystemBus& bus, Answer answer, const QString& device, const QString& file = {});

    const QString& skipReason() const { return skipReason_; }
    // Every call so far, one line each: method, device, mode or "-", the caller's uid, e.g.
    // "ResolveDevice /dev/loop3 - 65534" and "OpenDevice /dev/loop3 r 65534".
    QStringList calls() const;

  private:
    Daemon service_;
    QString skipReason_, record_;
};

} // namespace vellorin::test
