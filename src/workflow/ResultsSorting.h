#pragma once

#include <QObject>
#include <QString>

#include <memory>

namespace vellorin {

class RecoveryViewModel;

// "Sort into Folders" and "Undo Sorting" for the window and the command line: when each may
// be asked for, the work off the main thread with its progress, and what it tells the log and
// the list. The sorting itself is ResultsOrganiser's.
class ResultsSorting : public QObject, public std::enable_shared_from_this<ResultsSorting> {
    Q_OBJECT
    Q_PROPERTY(bool canSort READ canSort NOTIFY changed)
    Q_PROPERTY(bool canUndo READ canUndo NOTIFY changed)
    Q_PROPERTY(bool isBusy READ isBusy NOTIFY changed)
    Q_PROPERTY(QString progressText READ progressText NOTIFY changed)

  public:
    static std::shared_ptr<ResultsSorting> create(std::shared_ptr<RecoveryViewModel> viewModel);

    // A deep run has ended (completed or stopped), files are listed, and the engine's folders
    // hold files not sorted yet.
    bool canSort() const;
    // The engine's folders of that run hold files not sorted yet.
    bool hasUnsortedFiles() const { return unsorted_; }
    // Files of that run's folder have been sorted, and not put back yet.
    bool isSorted() const { return sorted_; }
    // The last sorting of that run's folder can be undone.
    bool canUndo() const;
    bool isBusy() const { return busy_; }
    // The run's folder has been looked at (and a cut-short sorting finished): canSort and
    // canUndo now say what the folder holds.
    bool isSettled() const { return settled_; }
    // Why the last sorting or undoing stopped short; empty when it did all it planned.
    const QString& failure() const { return failure_; }
    // "Sorting: 1,200 of 2,483 files", while busy.
    const QString& progressText() const { return progressText_; }
    // 0 to 1, while busy.
    double share() const { return share_; }

    void sortIntoFolders();
    void undoSorting();

  signals:
    void changed();
    // The work ended; the log has said how.
    void finished();

  private:
    explicit ResultsSorting(std::shared_ptr<RecoveryViewModel> viewModel);
    void followDirectory();
    void run(bool undo);
    void setProgress(qint64 done, qint64 total, bool undo);

    std::shared_ptr<RecoveryViewModel> viewModel_;
    QString directory_; // the folder whose state below is known
    bool sorted_ = false;
    bool unsorted_ = false;
    bool busy_ = false;
    bool settled_ = false;
    bool listEmpty_ = true;
    double share_ = 0;
    QString progressText_;
    QString failure_;
    quint64 generation_ = 0;
};

} // namespace vellorin
