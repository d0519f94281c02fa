#pragma once

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

namespace vellorin {

class Clock;
class FileSystem;
struct ViewReport;

// The record of a deep search kept in the recovery folder's hidden working folder, so that a
// search that was stopped or interrupted can be picked up by the next start. The engine script
// removes it when the search runs to its end.
struct SearchRecord {
    static inline const QString kWorkingFolder = QStringLiteral(".photorec");
    static inline const QString kFileName = QStringLiteral("resume.json");
    static inline const QString kProgressName = QStringLiteral("progress");
    static inline const QString kLockName = QStringLiteral("search.lock");

    // One start of the search: where its window of the source began, and the engine's folders
    // that were there before it, so that the folders of each run can be told apart.
    struct Run {
        qint64 window = 0;
        QStringList foldersBefore;
    };

    QString source;
    qint64 size = 0;
    QByteArray identity;
    QStringList options; // the engine script's options, without the window
    bool namesDone = false;
    qint64 reached = 0; // the main pass's furthest read, in bytes of the source
    qint64 blockSize = 0;
    QList<Run> runs;

    QByteArray toJson() const;
    static std::optional<SearchRecord> fromJson(const QByteArray& json);

    static QString pathIn(const QString& recoveryDirectory);
    static QString progressPathIn(const QString& recoveryDirectory);
    static QString lockPathIn(const QString& recoveryDirectory);

    // Read from the recovery folder, with the view's last report folded in: none when there is
    // no record, or it cannot be read.
    static std::optional<SearchRecord> load(FileSystem& fileSystem, const QString& recoveryDirectory);
    std::optional<QString> save(FileSystem& fileSystem, const QString& recoveryDirectory) const;
    // Folds in how far the view says the last run came.
    void take(const ViewReport& report);
};

// Whether and where an earlier search is picked up.
class SearchResume {
  public:
    struct Offer {
        enum class Kind { None, Resume, StartOverOnly };
        Kind kind = Kind::None;
        double share = 0;
        QString reason; // StartOverOnly: why it cannot be picked up
    };

    // A margin before the furthest read, beyond the start of the file being carved then.
    static constexpr qint64 kMargin = 1024 * 1024;

    // current: the source and options of the start now (its runs are not read).
    static Offer assess(const std::optional<SearchRecord>& earlier, const SearchRecord& current);

    // Where the engine is shown the source from: a margin before the furthest read, and before
    // the start of the last file carved then (which may have been cut short), aligned to the
    // block size the earlier run found.
    static qint64 windowStart(const SearchRecord& earlier, qint64 lastCarvedStart);

    // The earlier runs' carved files, each with where on the source it starts, read off the
    // engine's names (f<sector>.ext, relative to the run's window).
    struct Carved {
        QString path;
        qint64 start = 0;
    };
    static QList<Carved> carvedFiles(FileSystem& fileSystem, const QString& recoveryDirectory, Clock& clock,
                                     const SearchRecord& earlier, const QSet<QString>& foldersNow);

    // "Resume the earlier search of SOURCE? It had reached 42%."
    static QString question(const QString& sourceName, const Offer& offer);
};

} // namespace vellorin
