#pragma once

#include "platform/BlockDevices.h"

namespace vellorin {

// util-linux's lsblk for the tree, sysfs for loop devices' images, the mount table for what
// holds a path.
class SystemBlockDevices final : public BlockDevices {
  public:
    std::variant<QList<BlockDevice>, QString> list() override;
    QString deviceHolding(const QString& path) override;
};

} // namespace vellorin
