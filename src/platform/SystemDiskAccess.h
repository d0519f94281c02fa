#pragma once

#include "platform/DiskAccess.h"

namespace vellorin {

// The user's own open(2) first; for a block device the user may not read, UDisks2's
// Block.OpenDevice with mode "r" on the system bus, whose polkit prompt names the device.
class SystemDiskAccess final : public DiskAccess {
  public:
    Opened openSource(const QString& sourcePath, const std::function<void(const QString&)>& notice) override;
    void unmountStaleViews() override;
};

} // namespace vellorin
