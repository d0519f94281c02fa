#include "ui/ByteCount.h"

#include <array>
#include <cmath>

namespace vellorin {

QString formatByteCount(std::int64_t bytes) {
    // The magnitude as unsigned, so that the most negative value has one too.
    const std::uint64_t magnitude =
        bytes < 0 ? std::uint64_t(0) - static_cast<std::uint64_t>(bytes) : static_cast<std::uint64_t>(bytes);
    const QString sign = bytes < 0 ? QStringLiteral("-") : QString();
    if (magnitude < 1000)
        return sign + QString::number(magnitude) +
               (magnitude == 1 ? QStringLiteral(" byte") : QStringLiteral(" bytes"));

    struct Unit {
        const char* name;
        int decimals;
    };
    static constexpr std::array<Unit, 6> kUnits{
        {{"KB", 0}, {"MB", 1}, {"GB", 2}, {"TB", 2}, {"PB", 2}, {"EB", 2}}};
    double value = static_cast<double>(magnitude) / 1000.0;
    std::size_t unit = 0;
    for (;;) {
        const double scale = std::pow(10.0, kUnits[unit].decimals);
        const double rounded = std::round(value * scale) / scale;
        // 999.5 KB is written as 1 MB, not as 1000 KB.
        if (rounded >= 1000.0 && unit + 1 < kUnits.size()) {
            value /= 1000.0;
            ++unit;
            continue;
        }
        QString number = QString::number(rounded, 'f', kUnits[unit].decimals);
        if (number.contains(QLatin1Char('.'))) {
            while (number.endsWith(QLatin1Char('0')))
                number.chop(1);
            if (number.endsWith(QLatin1Char('.')))
                number.chop(1);
        }
        return sign + number + QLatin1Char(' ') + QLatin1String(kUnits[unit].name);
    }
}

} // namespace vellorin
