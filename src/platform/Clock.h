#pragma once

#include <QDateTime>
#include <QString>

namespace vellorin {

class Clock {
  public:
    virtual ~Clock() = default;
    virtual QDateTime now() = 0;
};

// The wall clock, in local time. A log line is stamped from it, so it is read hundreds of
// thousands of times in a busy run: converting to local time asks glibc to check the zone
// file on disk at every call, so the offset from UTC is looked up once per second instead.
// Zone changes fall on whole seconds, so every reading is what a full lookup would give.
class SystemClock final : public Clock {
  public:
    QDateTime now() override;
};

// Hours, minutes and seconds in the user's locale, without a date: the stamp of a log line.
QString formatLogTime(const QDateTime& time);

} // namespace vellorin
