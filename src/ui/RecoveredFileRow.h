#pragma once

#include <QStyledItemDelegate>

namespace vellorin {

// Draws one recovered file (icon, name over size, and the "Open" link at the trailing
// edge) and turns a click on the link into openRequested. Rows are painted, not built
// from widgets, so a list of a hundred thousand files costs no more than its visible rows.
class RecoveredFileRow : public QStyledItemDelegate {
    Q_OBJECT
  public:
    explicit RecoveredFileRow(QObject* parent = nullptr);

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
    QFont nameFont_;
    QFont sizeFont_;
    QFont linkFont_;
    QPixmap icon_;
};

} // namespace vellorin
