#pragma once

#include "platform/DiskAccess.h"

#include <memory>
#include <mutex>

namespace vellorin {

// The source opened once, before the process gave up root's rights: every run of this source
// gets a copy of that descriptor. Any other source, and the views, go to the service behind.
class HeldDiskAccess final : public DiskAccess {
  public:
    HeldDiskAccess(QString sourcePath, Opened held, std::shared_ptr<DiskAccess> behind);

    Opened openSource(const QString& sourcePath, const std::function<void(const QString&)>& notice) override;
    void unmountStaleViews() override;

  private:
    const QString sourcePath_;
    std::mutex mutex_;
    Opened held_;
    std::shared_ptr<DiskAccess> behind_;
};

} // namespace vellorin
