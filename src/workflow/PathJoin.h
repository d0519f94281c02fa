#pragma once

#include <QString>

namespace vellorin {

// Joins two path parts with exactly one "/" between them.
inline QString joinPath(const QString& base, const QString& component) {
    if (base.isEmpty())
        return component;
    QString result = base;
    while (result.size() > 1 && result.endsWith(QLatin1Char('/')))
        result.chop(1);
    QString tail = component;
    while (tail.startsWith(QLatin1Char('/')))
        tail.remove(0, 1);
    if (tail.isEmpty())
        return result;
    if (!result.endsWith(QLatin1Char('/')))
        result.append(QLatin1Char('/'));
    return result + tail;
}

} // namespace vellorin
