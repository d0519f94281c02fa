#pragma once

#include "workflow/RecoveredFile.h"

#include <QList>
#include <QString>

namespace vellorin {

class Clock;
class FileSystem;

// One walk of a recovery folder, as the output-folder monitor makes it: every regular file
// below it, sub-folders included, hidden files and hidden folders left out, newest first by
// creation date (the scan's moment for a file whose file system keeps none), equal dates in
// the order of the walk. A folder that does not exist gives an empty list.
QList<RecoveredFile> scanRecoveredFiles(FileSystem& fileSystem, Clock& clock, const QString& folder);

} // namespace vellorin
