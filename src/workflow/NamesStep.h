#pragma once

#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace vellorin {

class EngineLauncher;
class EngineProcess;

// The step before the carver: deleted files restored from the file system's own records,
// under their original path and name, into "Deleted files" in the recovery folder. The reading
// is done by a helper program of ours, so that a corrupt record can only ever end that program.
class NamesStep {
  public:
    static inline const QString kFolderName = QStringLiteral("Deleted files");

    struct Restored {
        QString path;
        qint64 size = 0;
    };
    struct Outcome {
        // False when no file system whose records can be read was found, or the helper is
        // missing: nothing was restored and no summary is due.
        bool read = false;
        qint64 inUse = 0;
        QList<Restored> files;
    };

    // Where the helper is installed, beside the engine script's resource folder.
    static QString helperIn(const QString& resourceFolder);

    // Runs the helper over the read-only descriptor to its end, on the calling thread (a
    // worker), and hands each line for the activity log to log as it comes. running gets the
    // helper's process once it runs, so that it can be stopped, and nothing once it has ended.
    static Outcome run(EngineLauncher& launcher, const QString& helper, int sourceDescriptor,
                       const QString& recoveryDirectory, const std::function<void(const QString&)>& log,
                       const std::function<void(std::shared_ptr<EngineProcess>)>& running = {});

    // "Restored N deleted files with their names (M could not be restored: ...)."
    static QString summary(const Outcome& outcome);
};

} // namespace vellorin
