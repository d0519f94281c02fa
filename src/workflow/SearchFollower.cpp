#include "workflow/SearchFollower.h"

#include "platform/FileSystem.h"

#include <variant>

namespace vellorin {

SearchFollower::SearchFollower(QString progressPath, std::chrono::milliseconds logInterval)
    : path_(std::move(progressPath)), logInterval_(logInterval) {}

std::optional<RecoveryProgress> SearchFollower::poll(FileSystem& fileSystem) {
    const auto text = fileSystem.readSmallFile(path_, 4096);
    if (!std::holds_alternative<QByteArray>(text))
        return std::nullopt;
    const std::optional<ViewReport> report = ViewReport::parse(std::get<QByteArray>(text));
    if (!report)
        return std::nullopt;
    const std::lock_guard lock(mutex_);
    last_ = report;
    const double seconds = std::chrono::duration<double>(Clock::now() - started_).count();
    return progress_.update(seconds, *report);
}

std::optional<ViewReport> SearchFollower::lastReport() const {
    const std::lock_guard lock(mutex_);
    return last_;
}

bool SearchFollower::logDue() {
    const std::lock_guard lock(mutex_);
    const Clock::time_point now = Clock::now();
    if (now - lastLog_ < logInterval_)
        return false;
    lastLog_ = now;
    return true;
}

} // namespace vellorin
