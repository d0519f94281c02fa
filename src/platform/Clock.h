#pragma once

#include <QDateTime>
#include <QString>

namespace vellorin {

class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime now() = 0;
};

class SystemClock final : public Clock {
public:
    QDateTime now() override { return QDateTime::currentDateTime(); }
};

// Hours, minutes and seconds in the user's locale, without a date: the stamp of a log line.
QString formatLogTime(const QDateTime& time);

} // namespace vellorin
