#include "ui/RecoveredFilesModel.h"

#include "platform/Queues.h"
#include "ui/ByteCount.h"
#include "workflow/ViewController.h"

#include <QHash>
#include <QPointer>

#include <algorithm>
#include <numeric>

namespace vellorin {

RecoveredFilesModel::RecoveredFilesModel(std::shared_ptr<RecoveryViewModel> viewModel, QObject* parent)
    : QAbstractListModel(parent), viewModel_(std::move(viewModel)) {
    rows_ = viewModel_->recoveredFiles();
    for (const RecoveredFile& file : rows_)
        ++kindCounts_[static_cast<std::size_t>(kindOfName(file.name()))];
    RecoveryViewModel* model = viewModel_.get();
    connect(model, &RecoveryViewModel::recoveredFilePrepended, this, &RecoveredFilesModel::filePrepended);
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

void RecoveredFilesModel::insert(const RecoveredFile& file) {
    if (!query_.accepts(file))
        return;
    const auto row = static_cast<int>(query_.insertionPoint(rows_, file));
    beginInsertRows({}, row, row);
    rows_.insert(row, file);
    endInsertRows();
}

void RecoveredFilesModel::filePrepended() {
    // The view model has already put the record at the head; this signal precedes the
    // list's own change signal, which must then not be taken for a replacement.
    const RecoveredFile& file = viewModel_->recoveredFiles().constFirst();
    ++kindCounts_[static_cast<std::size_t>(kindOfName(file.name()))];
    if (running_)
        arrivedSince_.append(file);
    insert(file);
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
    for (qsizetype i = 0; i < rows_.size(); ++i) {
        if (rows_.at(i).path() == files.at(i).path())
            continue;
        qsizetype last = i;
        while (last + 1 < rows_.size() && rows_.at(last + 1).path() != files.at(last + 1).path())
            ++last;
        std::copy(files.cbegin() + i, files.cbegin() + last + 1, rows_.begin() + i);
        emit dataChanged(index(static_cast<int>(i)), index(static_cast<int>(last)));
        i = last;
    }
}

} // namespace vellorin
