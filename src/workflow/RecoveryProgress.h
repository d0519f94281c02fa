#pragma once

#include <QMetaType>
#include <QString>

#include <optional>

namespace vellorin {

// How far a running recovery has come, as the status line and the log tell it.
struct RecoveryProgress {
    enum class Phase {
        Unknown,   // nothing measured yet: a spinner
        Preparing, // the engine's passes before its main one
        Searching, // the main pass, with its share of the search space
        Copying,   // a simplified copy, whose total is unknown while it walks
    };
    Phase phase = Phase::Unknown;
    double share = 0; // Searching: 0 to 1
    std::optional<double> bytesPerSecond;
    std::optional<double> secondsLeft; // Searching, once the rate has settled
    bool stalled = false;              // Searching: reads stall or fail; no time left is given
    qint64 bytes = 0;                  // Preparing: read; Copying: copied
    qint64 files = 0;                  // Copying

    // "42%"
    QString shareText() const;
    // "38 MB/s", or empty while unknown.
    QString rateText() const;
    // "about 12 min left", "time left unknown", or empty while the rate settles.
    QString timeLeftText() const;
    // The whole of it in one line, as the status line shows it and the log says it.
    QString summary() const;

    bool operator==(const RecoveryProgress&) const = default;
};

} // namespace vellorin

Q_DECLARE_METATYPE(vellorin::RecoveryProgress)
