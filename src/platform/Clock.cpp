#include "platform/Clock.h"

#include <QLocale>
#include <QRegularExpression>

#include <limits>

namespace vellorin {

namespace {

// The locale's long time format names the time zone as well; a log stamp wants only the
// clock reading, with seconds, which the short format leaves out.
QString mediumTimeFormat() {
    QString format = QLocale::system().timeFormat(QLocale::LongFormat);
    static const QRegularExpression zone(QStringLiteral("\\s*\\(?t+\\)?\\s*"));
    format.replace(zone, QStringLiteral(" "));
    return format.trimmed();
}

} // namespace

QDateTime SystemClock::now() {
    // Per thread, so readers on several threads need no lock.
    thread_local qint64 cachedSecond = std::numeric_limits<qint64>::min();
    thread_local int cachedOffset = 0;
    const qint64 ms = QDateTime::currentMSecsSinceEpoch();
    const qint64 second = ms >= 0 ? ms / 1000 : (ms - 999) / 1000;
    if (second != cachedSecond) {
        cachedOffset = QDateTime::fromMSecsSinceEpoch(second * 1000, Qt::LocalTime).offsetFromUtc();
        cachedSecond = second;
    }
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::OffsetFromUTC, cachedOffset);
}

QString formatLogTime(const QDateTime& time) {
    static const QString format = mediumTimeFormat();
    // Stamps come in runs within one second: the text is made once per second shown.
    thread_local int cachedSecond = -1;
    thread_local QString cachedText;
    if (!time.time().isValid())
        return QLocale::system().toString(time.time(), format);
    const int second = time.time().msecsSinceStartOfDay() / 1000;
    if (second != cachedSecond) {
        cachedText = QLocale::system().toString(time.time(), format);
        cachedSecond = second;
    }
    return cachedText;
}

} // namespace vellorin
