#include "workflow/SearchProgress.h"

#include <QList>

#include <algorithm>

namespace vellorin {

std::optional<ViewReport> ViewReport::parse(const QByteArray& text) {
    ViewReport report;
    bool sized = false;
    for (const QByteArray& line : text.split('\n')) {
        const qsizetype equals = line.indexOf('=');
        if (equals <= 0)
            continue;
        const QByteArray key = line.left(equals);
        const QByteArray value = line.mid(equals + 1);
        if (key == "pass") {
            report.mainPass = value == "main";
            continue;
        }
        bool number = false;
        const qint64 n = value.toLongLong(&number);
        if (!number || n < 0)
            continue;
        if (key == "size") {
            report.size = n;
            sized = n > 0;
        } else if (key == "window") {
            report.window = n;
        } else if (key == "served") {
            report.served = n;
        } else if (key == "position") {
            report.position = n;
        } else if (key == "blocksize") {
            report.blockSize = n;
        }
    }
    if (!sized || report.window >= report.size)
        return std::nullopt;
    if (report.position)
        report.position = std::clamp(*report.position, report.window, report.size);
    if (!report.mainPass)
        report.position.reset();
    return report;
}

RecoveryProgress SearchProgress::update(double seconds, const ViewReport& report) {
    RecoveryProgress progress;
    if (!report.mainPass || !report.position) {
        progress.phase = RecoveryProgress::Phase::Preparing;
        progress.bytes = report.served;
        if (!firstServed_)
            firstServed_ = std::make_pair(seconds, report.served);
        else if (seconds > firstServed_->first)
            progress.bytesPerSecond =
                static_cast<double>(report.served - firstServed_->second) / (seconds - firstServed_->first);
        return progress;
    }
    // A picked-up search counts from where its window starts: what lies before it was read.
    if (!estimator_)
        estimator_.emplace(report.size, report.window);
    const ProgressEstimator::Reading reading = estimator_->update(seconds, *report.position);
    progress.phase = RecoveryProgress::Phase::Searching;
    progress.share = reading.share;
    progress.bytesPerSecond = reading.bytesPerSecond;
    progress.secondsLeft = reading.secondsLeft;
    progress.stalled = reading.stalled;
    return progress;
}

} // namespace vellorin
