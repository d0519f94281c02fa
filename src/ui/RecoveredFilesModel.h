#pragma once

#include "workflow/ResultsQuery.h"

#include <QAbstractListModel>
#include <QList>

#include <array>
#include <memory>
#include <optional>

namespace vellorin {

class RecoveryViewModel;

// The recovered-files list as an item model over the view model's list, filtered and sorted
// by a query without ever changing that list. Rows are the records' ids: a record that keeps
// its id across a change keeps its row (and with it the selection and the current row); a
// file that arrives costs one row insertion where it belongs, however long the list is.
// Filtering and sorting a long list runs on a worker; the rows change when it is done.
class RecoveredFilesModel : public QAbstractListModel {
    Q_OBJECT
  public:
    enum Role { IdRole = Qt::UserRole + 1, PathRole, SizeRole, SizeTextRole, KindRole };

    explicit RecoveredFilesModel(std::shared_ptr<RecoveryViewModel> viewModel, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    const ResultsQuery& query() const { return query_; }
    void setQuery(const ResultsQuery& query);
    // How many recovered files are of this kind (all of them for none), whatever the query.
    qint64 kindCount(std::optional<FileKind> kind) const;
    // A query's rows are still being worked out.
    bool isBusy() const { return running_; }

  signals:
    void kindCountsChanged();
    // The rows are those of the query set last.
    void queryApplied();

  private:
    void filesPrepended(qsizetype count);
    void filesChanged();
    void run(bool reset);
    void apply(ResultsQuery::Result result, bool reset);
    void synchronize(const QList<RecoveredFile>& files);
    // The common changes at the cost of a comparison: false when the change is another.
    bool synchronizeInOnePlace(const QList<RecoveredFile>& files);
    // Rows whose record now lies elsewhere on disk; files are the rows' records, row for row.
    void refreshPlaces(const QList<RecoveredFile>& files);
    // Newest first, each newer than every row.
    void insert(const QList<RecoveredFile>& newestFirst);

    std::shared_ptr<RecoveryViewModel> viewModel_;
    QList<RecoveredFile> rows_;
    ResultsQuery query_;
    std::array<qint64, kAllFileKinds.size()> kindCounts_{};
    bool prepended_ = false;
    bool running_ = false;
    quint64 generation_ = 0;
    // Files prepended since the running query took its snapshot, oldest first.
    QList<RecoveredFile> arrivedSince_;
};

} // namespace vellorin
