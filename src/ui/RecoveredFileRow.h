#pragma once

#include <QPointer>
#include <QStyledItemDelegate>

namespace vellorin {

class ThumbnailCache;

// Draws one recovered file (icon, name over size, and the "Open" link at the trailing
// edge) and turns a click on the link into openRequested. Rows are painted, not built
// from widgets, so a list of a hundred thousand files costs no more than its visible rows.
// A picture shows its thumbnail in the icon's place once one has been decoded.
class RecoveredFileRow : public QStyledItemDelegate {
    Q_OBJECT
  public:
    // The icon's column, in logical pixels: every row's, so that the names line up whether or
    // not a thumbnail fills it.
    static constexpr int kThumbnailSide = 32;

    explicit RecoveredFileRow(QObject* parent = nullptr);

    // Where pictures' thumbnails come from; none, and every row shows the icon. Asking for a
    // row's thumbnail while painting it starts its decoding: whoever owns the cache repaints
    // the rows on its thumbnailReady.
    void setThumbnails(ThumbnailCache* cache);
    // The square a thumbnail is drawn in: the icon column's width, or the row's text height
    // where the desktop's font makes that smaller. A cache made for this side hands over
    // thumbnails that are copied pixel for pixel instead of scaled again at every paint.
    int thumbnailSide() const;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;

    // Where the "Open" link of a row drawn in rowRect lies.
    QRect openLinkRect(const QRect& rowRect) const;

  signals:
    void openRequested(const QModelIndex& index);

  private:
    int contentHeight() const;
    bool drawThumbnail(QPainter* painter, const QRect& column, const QString& fileName,
                       const QModelIndex& index) const;

    QFont nameFont_;
    QFont sizeFont_;
    QFont linkFont_;
    QPixmap icon_;
    QPointer<ThumbnailCache> thumbnails_;
};

} // namespace vellorin
