#include "ui/ThumbnailPrefetch.h"

#include "ui/RecoveredFilesModel.h"
#include "ui/ThumbnailCache.h"
#include "workflow/FileKinds.h"

#include <QListView>

namespace vellorin {

void prefetchThumbnails(const QListView& view, ThumbnailCache& cache, int margin) {
    const QAbstractItemModel* model = view.model();
    if (!model)
        return;
    const QModelIndex root = view.rootIndex();
    const int rows = model->rowCount(root);
    if (rows == 0)
        return;
    const QWidget* viewport = view.viewport();
    const int x = view.spacing() + 1;
    const QModelIndex top = view.indexAt(QPoint(x, 0));
    const QModelIndex bottom = view.indexAt(QPoint(x, viewport->height() - 1));
    const int first = top.isValid() ? top.row() : 0;
    // Nothing under the bottom edge: the list ends above it.
    const int last = bottom.isValid() ? bottom.row() : rows - 1;

    QList<int> order;
    order.reserve(last - first + 1 + 2 * margin);
    for (int row = first; row <= last; ++row)
        order.append(row);
    for (int step = 1; step <= margin; ++step) {
        if (last + step < rows)
            order.append(last + step);
        if (first - step >= 0)
            order.append(first - step);
    }

    QStringList paths;
    paths.reserve(order.size());
    for (const int row : order) {
        if (view.isRowHidden(row))
            continue;
        const QModelIndex index = model->index(row, view.modelColumn(), root);
        if (kindOfName(index.data(Qt::DisplayRole).toString()) == FileKind::Pictures)
            paths.append(index.data(RecoveredFilesModel::PathRole).toString());
    }
    cache.prefetch(paths);
}

} // namespace vellorin
