#pragma once

#include <QAbstractListModel>
#include <QList>
#include <QUuid>

#include <memory>

namespace vellorin {

class RecoveryViewModel;

// The recovered-files list as an item model over the view model's list. Rows are the
// records' ids: a record that keeps its id across a change keeps its row (and with it the
// selection and the current row); a prepended record costs one row insertion at the head,
// however long the list is.
class RecoveredFilesModel : public QAbstractListModel {
  public:
    enum Role { IdRole = Qt::UserRole + 1, PathRole, SizeRole, SizeTextRole };

    explicit RecoveredFilesModel(std::shared_ptr<RecoveryViewModel> viewModel, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

  private:
    void filePrepended();
    void filesChanged();
    void synchronize();

    std::shared_ptr<RecoveryViewModel> viewModel_;
    QList<QUuid> rows_;
    bool prepended_ = false;
};

} // namespace vellorin
