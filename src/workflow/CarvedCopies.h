#pragma once

#include "workflow/NamesStep.h"

#include <QSet>
#include <QString>

namespace vellorin {

class Clock;
class FileSystem;

// After the carver: removes every file it carved in this run whose content equals a file the
// names step restored, so each file is there once, under its real name where it has one.
class CarvedCopies {
  public:
    // The engine's output folders ("recup_dir.N") in the recovery folder now: those that exist
    // before a run are not the run's, and are left alone.
    static QSet<QString> engineFolders(FileSystem& fileSystem, const QString& recoveryDirectory);

    // Compares by size, then by content (a digest where several restored files share a size), and
    // returns how many carved files were removed.
    static qint64 remove(FileSystem& fileSystem, Clock& clock, const QString& recoveryDirectory,
                         const QSet<QString>& foldersBefore, const QList<NamesStep::Restored>& restored);
};

} // namespace vellorin
