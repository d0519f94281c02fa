#include "platform/Clock.h"

#include <QLocale>
#include <QRegularExpression>

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

QString formatLogTime(const QDateTime& time) {
    static const QString format = mediumTimeFormat();
    return QLocale::system().toString(time.time(), format);
}

} // namespace vellorin
