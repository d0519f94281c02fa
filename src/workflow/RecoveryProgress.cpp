#include "workflow/RecoveryProgress.h"

#include <QLocale>

#include <cmath>

namespace vellorin {
namespace {

QString bytesText(double bytes) {
    return QLocale::system().formattedDataSize(static_cast<qint64>(bytes), 1, QLocale::DataSizeSIFormat);
}

} // namespace

QString RecoveryProgress::shareText() const {
    // Never "100%" before the end: a search at 99.6% still has minutes to go on a large disk.
    const int percent = std::min(99, static_cast<int>(std::floor(share * 100)));
    return QStringLiteral("%1%").arg(percent);
}

QString RecoveryProgress::rateText() const {
    if (!bytesPerSecond || (*bytesPerSecond <= 0 && !stalled))
        return {};
    return bytesText(std::max(0.0, *bytesPerSecond)) + QStringLiteral("/s");
}

QString RecoveryProgress::timeLeftText() const {
    if (phase != Phase::Searching)
        return {};
    if (stalled)
        return QStringLiteral("time left unknown");
    if (!secondsLeft)
        return {};
    const qint64 minutes = std::llround(*secondsLeft / 60);
    if (minutes < 1)
        return QStringLiteral("less than a minute left");
    if (minutes < 60)
        return QStringLiteral("about %1 min left").arg(minutes);
    const qint64 hours = minutes / 60;
    if (hours >= 48)
        return QStringLiteral("about %1 days left").arg(std::llround(minutes / 1440.0));
    return minutes % 60 == 0 ? QStringLiteral("about %1 h left").arg(hours)
                             : QStringLiteral("about %1 h %2 min left").arg(hours).arg(minutes % 60);
}

QString RecoveryProgress::summary() const {
    QStringList parts;
    switch (phase) {
    case Phase::Unknown:
        return {};
    case Phase::Preparing:
        parts << QStringLiteral("Preparing: finding the block size");
        if (bytes > 0)
            parts << bytesText(static_cast<double>(bytes)) + QStringLiteral(" read");
        break;
    case Phase::Searching:
        parts << shareText() + QStringLiteral(" read");
        break;
    case Phase::Copying:
        parts << (files == 1 ? QStringLiteral("1 file") : QStringLiteral("%1 files").arg(files)) +
                     QStringLiteral(" copied");
        parts << bytesText(static_cast<double>(bytes));
        break;
    }
    if (const QString rate = rateText(); !rate.isEmpty())
        parts << rate;
    if (const QString left = timeLeftText(); !left.isEmpty())
        parts << left;
    return parts.join(QStringLiteral(", "));
}

} // namespace vellorin
