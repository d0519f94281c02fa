#include "workflow/RunControl.h"

#include "platform/EngineProcess.h"

namespace vellorin {

void RunControl::attach(std::shared_ptr<EngineProcess> process) {
    const std::lock_guard lock(mutex_);
    process_ = std::move(process);
    if (stopRequested_ && process_)
        process_->stop(kStopGrace);
}

void RunControl::detach() {
    const std::lock_guard lock(mutex_);
    process_.reset();
}

void RunControl::requestStop() {
    const std::lock_guard lock(mutex_);
    if (stopRequested_)
        return;
    stopRequested_ = true;
    if (process_)
        process_->stop(kStopGrace);
}

bool RunControl::stopRequested() const {
    const std::lock_guard lock(mutex_);
    return stopRequested_;
}

} // namespace vellorin
