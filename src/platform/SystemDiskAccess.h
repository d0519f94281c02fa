#pragma once

#include "platform/DiskAccess.h"

namespace vellorin {

// The user's own open(2) first; for a block device the user may not read, UDisks2's
// Block.OpenDevice with mode "r" on the system bus, whose polkit prompt names the device.
class SystemDiskAccess final : public DiskAccess {
  public:
    // Where the user is: what a refusal advises differs between a desktop session and a
    // terminal, where sudo is at hand and no dialog can ask.
    enum class Session { Desktop, Terminal };
    explicit SystemDiskAccess(Session session = Session::Desktop) : session_(session) {}

    Opened openSource(const QString& sourcePath, const std::function<void(const QString&)>& notice) override;
    void unmountStaleViews() override;

  private:
    Session session_;
};

} // namespace vellorin
