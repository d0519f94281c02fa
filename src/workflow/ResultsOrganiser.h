#pragma once

#include "platform/Error.h"
#include "workflow/FileKinds.h"

#include <QList>
#include <QString>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>

namespace vellorin {

class FileSystem;

// Sorts what a deep search carved (the files in the engine's recup_dir.N folders) into
// Pictures/YEAR, Pictures/Undated, Videos, Audio, Documents, Archives, Other and Duplicates
// inside the recovery folder, and puts them back. Files are only ever renamed, never copied,
// replaced or deleted. Every move is planned and written to a journal in the hidden working
// folder before the first one is made, so a run cut short anywhere is completed (or, when
// it was putting files back, put back) by settle(): each file always exists exactly once,
// under its old name or its new one. Blocks; run it off the main thread.
class ResultsOrganiser {
  public:
    struct Move {
        QString from; // relative to the recovery folder
        QString to;
    };
    struct Summary {
        // Moved into their kind's folder, by kind; duplicates are counted apart.
        std::array<qint64, kAllFileKinds.size()> sorted{};
        qint64 duplicates = 0;
        // Planned moves that could not be made: those files stay where they were.
        qint64 failed = 0;
        // The moves made, with absolute paths, in the order they were made.
        QList<Move> moves;
        std::optional<Error> error;

        qint64 sortedTotal() const;
    };
    enum class State { None, Sorting, Sorted, Undoing };
    using Progress = std::function<void(qint64 done, qint64 total)>;

    ResultsOrganiser(FileSystem& fileSystem, QString recoveryDirectory);

    // What the journal says of the folder.
    State state();
    // Completes what a run cut short left: an interrupted sort is finished, an interrupted
    // undo is put back. Moves made are in the summary.
    Summary settle();
    // Whether the engine's folders hold files to sort.
    bool hasUnsortedFiles();
    // Settles first; sorts what the engine's folders hold, beside what an earlier sorting of
    // the folder moved (one undo puts back both); refuses when there is nothing new.
    Summary sort(const Progress& progress = {});
    // Puts every sorted file back under its old path and forgets the journal.
    Summary undo(const Progress& progress = {});

    // "Sorted 2483 files: 2301 pictures, 98 videos, …; 84 duplicates set aside."
    static QString sortedLine(const Summary& summary);
    // "Sorting undone: 2567 files are back where the search left them."
    static QString undoneLine(const Summary& summary);

    // The journal, inside the hidden working folder.
    static QString journalPathIn(const QString& recoveryDirectory);
    static bool isEngineFolderName(const QString& name);

  private:
    struct Journal {
        State state = State::None;
        QList<Move> moves;
    };
    std::optional<Journal> readJournal();
    std::optional<Error> writeJournal(const Journal& journal);
    QList<Move> plan(const Progress& progress, const QList<Move>& earlier);
    // Makes the moves forward (or backward), skipping the ones already made.
    void replay(const QList<Move>& moves, bool backward, Summary& summary, const Progress& progress);
    void removeEmptyEngineFolders(const QList<Move>& moves);
    void removeEmptySortedFolders(const QList<Move>& moves);
    QString absolute(const QString& relative) const;
    static void count(const Move& move, Summary& summary);

    FileSystem& fileSystem_;
    QString directory_;
};

} // namespace vellorin
