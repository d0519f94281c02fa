#pragma once

#include <QString>

namespace vellorin {

// The titles of the questions a run asks through the alert service, for a view that answers
// them without a dialog (the command line) to tell them apart.
namespace questions {
inline const QString kEarlierSearch = QStringLiteral("Earlier Search Found");
inline const QString kResume = QStringLiteral("Resume");
inline const QString kStartOver = QStringLiteral("Start Over");
inline const QString kSearchStillRunning = QStringLiteral("A Search Is Still Running");
inline const QString kCompleted = QStringLiteral("Recovery Completed");
} // namespace questions

} // namespace vellorin
