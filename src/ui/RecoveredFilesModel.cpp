#include "ui/RecoveredFilesModel.h"

#include "platform/Queues.h"
#include "ui/ByteCount.h"
#include "workflow/ViewController.h"

#include <QHash>
#include <QPointer>

#include <algorithm>
#include <map>
#include <numeric>

namespace vellorin {

RecoveredFilesModel::RecoveredFilesModel(std::shared_ptr<RecoveryViewModel> viewModel, QObject* parent)
    : QAbstractListModel(parent), viewModel_(std::move(viewModel)) {
    rows_ = viewModel_->recoveredFiles();
    for (const RecoveredFile& file : rows_)
        ++kindCounts_[static_cast<std::size_t>(kindOfName(file.name()))];
    RecoveryViewModel* model = viewModel_.get();
    connect(model, &RecoveryViewModel::recoveredFilesPrepended, this, &RecoveredFilesModel::filesPrepended);
    connect(model, &RecoveryViewModel::recoveredFilesChanged, this, &RecoveredFilesModel::filesChanged);
}

int RecoveredFilesModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

QVariant RecoveredFilesModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rows_.size())
        return {};
    const RecoveredFile& file = rows_.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return file.name();
    case Qt::ToolTipRole:
        return file.path();
    case Qt::AccessibleTextRole:
        return file.name() + QStringLiteral(", ") + formatByteCount(file.size());
    case Qt::AccessibleDescriptionRole:
        return QStringLiteral("Press Return to open");
    case IdRole:
        return file.id();
    case PathRole:
        return file.path();
    case SizeRole:
        return QVariant::fromValue<qint64>(file.size());
    case SizeTextRole:
        return formatByteCount(file.size());
    case KindRole:
        return static_cast<int>(kindOfName(file.name()));
    default:
        return {};
    }
}

QHash<int, QByteArray> RecoveredFilesModel::roleNames() const {
    auto names = QAbstractListModel::roleNames();
    names.insert(IdRole, "id");
    names.insert(PathRole, "path");
    names.insert(SizeRole, "size");
    names.insert(SizeTextRole, "sizeText");
    names.insert(KindRole, "kind");
    return names;
}

qint64 RecoveredFilesModel::kindCount(std::optional<FileKind> kind) const {
    if (kind)
        return kindCounts_[static_cast<std::size_t>(*kind)];
    return std::accumulate(kindCounts_.cbegin(), kindCounts_.cend(), qint64(0));
}

void RecoveredFilesModel::setQuery(const ResultsQuery& query) {
    if (query == query_)
        return;
    query_ = query;
    run(true);
}

void RecoveredFilesModel::insert(const QList<RecoveredFile>& newestFirst) {
    // Where each file goes among the rows as they are, then the files that go to the same
    // place in the order they would have had one by one: one insertion per place, so a batch
    // is one change for the view and for the accessibility bridge, not one per file.
    std::map<qsizetype, QList<RecoveredFile>> places;
    for (auto file = newestFirst.crbegin(); file != newestFirst.crend(); ++file) {
        if (!query_.accepts(*file))
            continue;
        QList<RecoveredFile>& group = places[query_.insertionPoint(rows_, *file)];
        group.insert(query_.insertionPoint(group, *file), *file);
    }
    // From the last place back, so that the earlier places keep their row numbers.
    for (auto place = places.crbegin(); place != places.crend(); ++place) {
        const qsizetype row = place->first;
        const QList<RecoveredFile>& group = place->second;
        beginInsertRows({}, static_cast<int>(row), static_cast<int>(row + group.size() - 1));
        rows_.insert(row, group.size(), RecoveredFile());
        std::copy(group.cbegin(), group.cend(), rows_.begin() + row);
        endInsertRows();
    }
}

void RecoveredFilesModel::filesPrepended(qsizetype count) {
    // The view model has already put the records at the head; this signal precedes the
    // list's own change signal, which must then not be taken for a replacement.
    const QList<RecoveredFile> arrived = viewModel_->recoveredFiles().first(count);
    for (const RecoveredFile& file : arrived)
        ++kindCounts_[static_cast<std::size_t>(kindOfName(file.name()))];
    if (running_)
        for (auto file = arrived.crbegin(); file != arrived.crend(); ++file)
            arrivedSince_.append(*file);
    insert(arrived);
    prepended_ = true;
    emit kindCountsChanged();
}

void RecoveredFilesModel::filesChanged() {
    if (prepended_) {
        prepended_ = false;
        return;
    }
    // The list as a whole: as it is, at once, when nothing is filtered; the counts follow.
    if (query_.isDefault())
        synchronize(viewModel_->recoveredFiles());
    run(false);
}

void RecoveredFilesModel::run(bool reset) {
    const quint64 generation = ++generation_;
    running_ = true;
    arrivedSince_.clear();
    viewModel_->platform().queues->background(
        [model = QPointer<RecoveredFilesModel>(this), queues = viewModel_->platform().queues,
         files = viewModel_->recoveredFiles(), query = query_, generation, reset] {
            ResultsQuery::Result result = query.run(files);
            queues->postMain([model, result = std::move(result), generation, reset]() mutable {
                // A later query or list has superseded this one.
                if (model && generation == model->generation_)
                    model->apply(std::move(result), reset);
            });
        });
}

void RecoveredFilesModel::apply(ResultsQuery::Result result, bool reset) {
    running_ = false;
    // What arrived while the worker ran was not in its snapshot.
    for (const RecoveredFile& file : std::as_const(arrivedSince_)) {
        ++result.kindCounts[static_cast<std::size_t>(kindOfName(file.name()))];
        if (query_.accepts(file))
            result.files.insert(query_.insertionPoint(result.files, file), file);
    }
    arrivedSince_.clear();
    kindCounts_ = result.kindCounts;
    if (reset) {
        beginResetModel();
        rows_ = std::move(result.files);
        endResetModel();
    } else if (!query_.isDefault()) {
        synchronize(result.files);
    }
    emit kindCountsChanged();
    emit queryApplied();
}

void RecoveredFilesModel::synchronize(const QList<RecoveredFile>& files) {
    if (synchronizeInOnePlace(files))
        return;
    QHash<QUuid, int> newRows;
    newRows.reserve(files.size());
    for (int i = 0; i < files.size(); ++i)
        newRows.insert(files.at(i).id(), i);

    // 1. Rows whose record is gone, in runs from the end so that earlier rows keep their numbers.
    for (auto row = rows_.size() - 1; row >= 0;) {
        if (newRows.contains(rows_.at(row).id())) {
            --row;
            continue;
        }
        const auto last = row;
        while (row >= 0 && !newRows.contains(rows_.at(row).id()))
            --row;
        beginRemoveRows({}, static_cast<int>(row + 1), static_cast<int>(last));
        rows_.remove(row + 1, last - row);
        endRemoveRows();
    }

    // 2. Rows that stay but changed places: one layout change that carries every
    // persistent index (selection, current row) along with its record.
    auto newRow = [&](const RecoveredFile& file) { return newRows.value(file.id()); };
    const bool inOrder =
        std::is_sorted(rows_.cbegin(), rows_.cend(),
                       [&](const RecoveredFile& a, const RecoveredFile& b) { return newRow(a) < newRow(b); });
    if (!inOrder) {
        emit layoutAboutToBeChanged();
        QList<RecoveredFile> sorted = rows_;
        std::sort(sorted.begin(), sorted.end(),
                  [&](const RecoveredFile& a, const RecoveredFile& b) { return newRow(a) < newRow(b); });
        QHash<QUuid, int> position;
        for (int i = 0; i < sorted.size(); ++i)
            position.insert(sorted.at(i).id(), i);
        const QModelIndexList persistent = persistentIndexList();
        QModelIndexList moved;
        moved.reserve(persistent.size());
        for (const QModelIndex& index : persistent)
            moved.append(this->index(position.value(rows_.at(index.row()).id())));
        rows_ = std::move(sorted);
        changePersistentIndexList(persistent, moved);
        emit layoutChanged();
    }

    // 3. New records, inserted in runs where they fall between the rows that stayed.
    qsizetype row = 0;
    for (qsizetype i = 0; i < files.size();) {
        if (row < rows_.size() && rows_.at(row).id() == files.at(i).id()) {
            ++row;
            ++i;
            continue;
        }
        const qsizetype first = i;
        while (i < files.size() && !(row < rows_.size() && rows_.at(row).id() == files.at(i).id()))
            ++i;
        beginInsertRows({}, static_cast<int>(row), static_cast<int>(row + (i - first) - 1));
        rows_.insert(row, i - first, RecoveredFile());
        std::copy(files.cbegin() + first, files.cbegin() + i, rows_.begin() + row);
        row += i - first;
        endInsertRows();
    }

    // 4. Records that kept their row may have a new name or place on disk (sorted into folders).
    refreshPlaces(files);
}

void RecoveredFilesModel::refreshPlaces(const QList<RecoveredFile>& files) {
    const auto moved = [&](qsizetype i) {
        // Most records are the very same ones: their paths need no comparing.
        return !rows_.at(i).isSameRecord(files.at(i)) && rows_.at(i).path() != files.at(i).path();
    };
    for (qsizetype i = 0; i < rows_.size(); ++i) {
        if (!moved(i))
            continue;
        qsizetype last = i;
        while (last + 1 < rows_.size() && moved(last + 1))
            ++last;
        std::copy(files.cbegin() + i, files.cbegin() + last + 1, rows_.begin() + i);
        emit dataChanged(index(static_cast<int>(i)), index(static_cast<int>(last)));
        i = last;
    }
}

bool RecoveredFilesModel::synchronizeInOnePlace(const QList<RecoveredFile>& files) {
    // The monitor's usual tick: the rows as they were, with new files in one place (the head,
    // for files just carved) or a run of them gone. One change for the view, found by
    // comparing ids from both ends rather than by hashing a million of them.
    const qsizetype before = rows_.size();
    const qsizetype after = files.size();
    qsizetype head = 0;
    while (head < before && head < after && rows_.at(head).id() == files.at(head).id())
        ++head;
    qsizetype tail = 0;
    while (tail < before - head && tail < after - head &&
           rows_.at(before - 1 - tail).id() == files.at(after - 1 - tail).id())
        ++tail;
    if (head + tail == before && after > before) {
        const qsizetype count = after - before;
        beginInsertRows({}, static_cast<int>(head), static_cast<int>(head + count - 1));
        rows_.insert(head, count, RecoveredFile());
        std::copy(files.cbegin() + head, files.cbegin() + head + count, rows_.begin() + head);
        endInsertRows();
    } else if (head + tail == after && before > after) {
        beginRemoveRows({}, static_cast<int>(head), static_cast<int>(head + (before - after) - 1));
        rows_.remove(head, before - after);
        endRemoveRows();
    } else if (before != after || head + tail < before) {
        return false;
    }
    refreshPlaces(files);
    return true;
}

} // namespace vellorin
