#include "workflow/ResultsSorting.h"

#include "platform/FileSystem.h"
#include "platform/Queues.h"
#include "workflow/ResultsOrganiser.h"
#include "workflow/ViewController.h"

#include <QElapsedTimer>
#include <QHash>

#include <cmath>

namespace vellorin {

namespace {

QHash<QString, QString> movesByPath(const QList<ResultsOrganiser::Move>& moves) {
    QHash<QString, QString> byPath;
    byPath.reserve(moves.size());
    for (const ResultsOrganiser::Move& move : moves)
        byPath.insert(move.from, move.to);
    return byPath;
}

} // namespace

std::shared_ptr<ResultsSorting> ResultsSorting::create(std::shared_ptr<RecoveryViewModel> viewModel) {
    std::shared_ptr<ResultsSorting> sorting(new ResultsSorting(std::move(viewModel)));
    RecoveryViewModel* model = sorting->viewModel_.get();
    ResultsSorting* self = sorting.get();
    connect(model, &RecoveryViewModel::deepResultsDirectoryChanged, self, &ResultsSorting::followDirectory);
    connect(model, &RecoveryViewModel::isRecoveringChanged, self, &ResultsSorting::changed);
    connect(model, &RecoveryViewModel::recoveredFilesChanged, self, [self] {
        // Only the list's emptiness matters here; a search adds files every two seconds.
        const bool empty = self->viewModel_->recoveredFiles().isEmpty();
        if (empty != self->listEmpty_) {
            self->listEmpty_ = empty;
            emit self->changed();
        }
    });
    sorting->listEmpty_ = model->recoveredFiles().isEmpty();
    sorting->followDirectory();
    return sorting;
}

ResultsSorting::ResultsSorting(std::shared_ptr<RecoveryViewModel> viewModel)
    : viewModel_(std::move(viewModel)) {}

bool ResultsSorting::canSort() const {
    return !busy_ && unsorted_ && !directory_.isEmpty() && !viewModel_->isRecovering() &&
           !viewModel_->recoveredFiles().isEmpty();
}

bool ResultsSorting::canUndo() const {
    return !busy_ && sorted_ && !directory_.isEmpty() && !viewModel_->isRecovering();
}

void ResultsSorting::followDirectory() {
    directory_ = viewModel_->deepResultsDirectory();
    sorted_ = unsorted_ = settled_ = false;
    const quint64 generation = ++generation_;
    emit changed();
    if (directory_.isEmpty())
        return;
    // A sorting, or its undoing, that was cut short (the window closed, the machine stopped)
    // is finished before anything else is done in the folder.
    const Platform& platform = viewModel_->platform();
    platform.queues->background([weak = weak_from_this(), fileSystem = platform.fileSystem,
                                 queues = platform.queues, directory = directory_, generation] {
        ResultsOrganiser organiser(*fileSystem, directory);
        const ResultsOrganiser::Summary settled = organiser.settle();
        const bool sorted = organiser.state() == ResultsOrganiser::State::Sorted;
        const bool unsorted = organiser.hasUnsortedFiles();
        queues->postMain([weak, settled, sorted, unsorted, generation] {
            auto self = weak.lock();
            if (!self || generation != self->generation_)
                return;
            self->sorted_ = sorted;
            self->unsorted_ = unsorted;
            self->settled_ = true;
            if (!settled.moves.isEmpty()) {
                self->viewModel_->appendLog(
                    QStringLiteral("Finished the sorting that was cut short: %1 files moved.")
                        .arg(settled.moves.size()));
                self->viewModel_->relocateRecoveredFiles(movesByPath(settled.moves));
            }
            emit self->changed();
        });
    });
}

void ResultsSorting::sortIntoFolders() {
    if (canSort())
        run(false);
}

void ResultsSorting::undoSorting() {
    if (canUndo())
        run(true);
}

void ResultsSorting::setProgress(qint64 done, qint64 total, bool undo) {
    share_ = total > 0 ? std::clamp(double(done) / double(total), 0.0, 1.0) : 0;
    const int percent = static_cast<int>(std::floor(share_ * 100));
    progressText_ =
        (undo ? QStringLiteral("Putting the files back: %1%") : QStringLiteral("Sorting into folders: %1%"))
            .arg(percent);
    emit changed();
}

void ResultsSorting::run(bool undo) {
    busy_ = true;
    setProgress(0, 1, undo);
    viewModel_->appendLog(undo ? QStringLiteral("Putting the sorted files back where the search left them...")
                               : QStringLiteral("Sorting the recovered files into folders..."));
    const Platform& platform = viewModel_->platform();
    const quint64 generation = generation_;
    platform.queues->userInitiated([weak = weak_from_this(), fileSystem = platform.fileSystem,
                                    queues = platform.queues, directory = directory_, undo, generation] {
        ResultsOrganiser organiser(*fileSystem, directory);
        QElapsedTimer sinceShown;
        sinceShown.start();
        // Said four times a second at most: the main thread is not flooded with posts.
        const auto progress = [&](qint64 done, qint64 total) {
            if (sinceShown.elapsed() < 250)
                return;
            sinceShown.restart();
            queues->postMain([weak, done, total, undo, generation] {
                if (auto self = weak.lock(); self && self->busy_ && generation == self->generation_)
                    self->setProgress(done, total, undo);
            });
        };
        const ResultsOrganiser::Summary summary = undo ? organiser.undo(progress) : organiser.sort(progress);
        const bool sorted = organiser.state() == ResultsOrganiser::State::Sorted;
        const bool unsorted = organiser.hasUnsortedFiles();
        queues->postMain([weak, summary, sorted, unsorted, undo] {
            auto self = weak.lock();
            if (!self)
                return;
            self->busy_ = false;
            self->sorted_ = sorted;
            self->unsorted_ = unsorted;
            self->settled_ = true;
            self->failure_ = summary.error ? summary.error->description : QString();
            self->progressText_.clear();
            self->share_ = 0;
            RecoveryViewModel& model = *self->viewModel_;
            model.relocateRecoveredFiles(movesByPath(summary.moves));
            if (summary.error && summary.moves.isEmpty())
                model.appendLog((undo ? QStringLiteral("Undoing the sorting failed: ")
                                      : QStringLiteral("Sorting failed: ")) +
                                summary.error->description);
            else
                model.appendLog(undo ? ResultsOrganiser::undoneLine(summary)
                                     : ResultsOrganiser::sortedLine(summary));
            emit self->changed();
            emit self->finished();
        });
    });
}

} // namespace vellorin
