#include "platform/HeldDiskAccess.h"

#include <fcntl.h>

namespace vellorin {

HeldDiskAccess::HeldDiskAccess(QString sourcePath, Opened held, std::shared_ptr<DiskAccess> behind)
    : sourcePath_(std::move(sourcePath)), held_(std::move(held)), behind_(std::move(behind)) {}

DiskAccess::Opened HeldDiskAccess::openSource(const QString& sourcePath,
                                              const std::function<void(const QString&)>& notice) {
    if (sourcePath != sourcePath_)
        return behind_ ? behind_->openSource(sourcePath, notice) : Opened{};
    const std::lock_guard lock(mutex_);
    Opened copy;
    copy.device = held_.device;
    copy.problem = held_.problem;
    if (held_.descriptor.isOpen())
        copy.descriptor.reset(::fcntl(held_.descriptor.get(), F_DUPFD_CLOEXEC, kFirstDescriptor));
    return copy;
}

void HeldDiskAccess::unmountStaleViews() {
    if (behind_)
        behind_->unmountStaleViews();
}

} // namespace vellorin
