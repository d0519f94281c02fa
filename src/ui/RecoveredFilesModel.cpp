#include "ui/RecoveredFilesModel.h"

#include "ui/ByteCount.h"
#include "workflow/ViewController.h"

#include <QHash>

#include <algorithm>

namespace vellorin {

RecoveredFilesModel::RecoveredFilesModel(std::shared_ptr<RecoveryViewModel> viewModel, QObject* parent)
    : QAbstractListModel(parent), viewModel_(std::move(viewModel)) {
    for (const RecoveredFile& file : viewModel_->recoveredFiles())
        rows_.append(file.id());
    RecoveryViewModel* model = viewModel_.get();
    connect(model, &RecoveryViewModel::recoveredFilePrepended, this, &RecoveredFilesModel::filePrepended);
    connect(model, &RecoveryViewModel::recoveredFilesChanged, this, &RecoveredFilesModel::filesChanged);
}

int RecoveredFilesModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

QVariant RecoveredFilesModel::data(const QModelIndex& index, int role) const {
    const auto& files = viewModel_->recoveredFiles();
    if (!index.isValid() || index.row() >= files.size())
        return {};
    const RecoveredFile& file = files.at(index.row());
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
    return names;
}

void RecoveredFilesModel::filePrepended() {
    // The view model has already put the record at the head; this signal precedes the
    // list's own change signal, which must then not be taken for a replacement.
    beginInsertRows({}, 0, 0);
    rows_.prepend(viewModel_->recoveredFiles().constFirst().id());
    endInsertRows();
    prepended_ = true;
}

void RecoveredFilesModel::filesChanged() {
    if (prepended_) {
        prepended_ = false;
        return;
    }
    synchronize();
}

void RecoveredFilesModel::synchronize() {
    const auto& files = viewModel_->recoveredFiles();
    QHash<QUuid, int> newRows;
    newRows.reserve(files.size());
    for (int i = 0; i < files.size(); ++i)
        newRows.insert(files.at(i).id(), i);

    // 1. Rows whose record is gone, in runs from the end so that earlier rows keep their numbers.
    for (auto row = rows_.size() - 1; row >= 0;) {
        if (newRows.contains(rows_.at(row))) {
            --row;
            continue;
        }
        const auto last = row;
        while (row >= 0 && !newRows.contains(rows_.at(row)))
            --row;
        beginRemoveRows({}, static_cast<int>(row + 1), static_cast<int>(last));
        rows_.remove(row + 1, last - row);
        endRemoveRows();
    }

    // 2. Rows that stay but changed places: one layout change that carries every
    // persistent index (selection, current row) along with its record.
    const bool inOrder = std::is_sorted(rows_.cbegin(), rows_.cend(), [&](const QUuid& a, const QUuid& b) {
        return newRows.value(a) < newRows.value(b);
    });
    if (!inOrder) {
        emit layoutAboutToBeChanged();
        QList<QUuid> sorted = rows_;
        std::sort(sorted.begin(), sorted.end(),
                  [&](const QUuid& a, const QUuid& b) { return newRows.value(a) < newRows.value(b); });
        QHash<QUuid, int> position;
        for (int i = 0; i < sorted.size(); ++i)
            position.insert(sorted.at(i), i);
        const QModelIndexList persistent = persistentIndexList();
        QModelIndexList moved;
        moved.reserve(persistent.size());
        for (const QModelIndex& index : persistent)
            moved.append(this->index(position.value(rows_.at(index.row()))));
        rows_ = std::move(sorted);
        changePersistentIndexList(persistent, moved);
        emit layoutChanged();
    }

    // 3. New records, inserted in runs where they fall between the rows that stayed.
    qsizetype row = 0;
    for (qsizetype i = 0; i < files.size();) {
        if (row < rows_.size() && rows_.at(row) == files.at(i).id()) {
            ++row;
            ++i;
            continue;
        }
        const qsizetype first = i;
        while (i < files.size() && !(row < rows_.size() && rows_.at(row) == files.at(i).id()))
            ++i;
        beginInsertRows({}, static_cast<int>(row), static_cast<int>(row + (i - first) - 1));
        QList<QUuid> inserted;
        inserted.reserve(i - first);
        for (qsizetype k = first; k < i; ++k)
            inserted.append(files.at(k).id());
        rows_.insert(row, inserted.size(), QUuid());
        std::copy(inserted.cbegin(), inserted.cend(), rows_.begin() + row);
        row += inserted.size();
        endInsertRows();
    }
}

} // namespace vellorin
