#include "ui/RecoveredFileRow.h"

#include "ui/RecoveredFilesModel.h"
#include "ui/Theme.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

namespace vellorin {

namespace {

constexpr int kInsetX = 8;   // the inset list's margin on either side of a row
constexpr int kPaddingX = 8; // inside the row, before the icon and after the link
constexpr int kPaddingY = 2; // the row's own padding, top and bottom
constexpr int kCellY = 5;    // the inset list's cell padding
constexpr int kIconSide = 18;
constexpr int kSpacing = 8;

QPixmap tinted(const QIcon& icon, int side, const QColor& color, qreal dpr) {
    QPixmap pixmap = icon.pixmap(QSize(side, side), dpr);
    QPainter painter(&pixmap);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(pixmap.rect(), color);
    return pixmap;
}

} // namespace

RecoveredFileRow::RecoveredFileRow(QObject* parent)
    : QStyledItemDelegate(parent), nameFont_(theme::body()), sizeFont_(theme::caption()),
      linkFont_(theme::body()) {
    nameFont_.setWeight(QFont::Medium);
    icon_ = tinted(theme::icon(QStringLiteral("doc")), kIconSide, theme::accent(), qApp->devicePixelRatio());
}

QRect RecoveredFileRow::openLinkRect(const QRect& rowRect) const {
    const QFontMetrics metrics(linkFont_);
    const int width = metrics.horizontalAdvance(QStringLiteral("Open")) + 8;
    const int right = rowRect.right() - kInsetX - kPaddingX;
    return {right - width + 1, rowRect.top(), width, rowRect.height()};
}

QSize RecoveredFileRow::sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const {
    const int text = QFontMetrics(nameFont_).height() + 2 + QFontMetrics(sizeFont_).height();
    return {200, std::max(text, kIconSide) + 2 * (kPaddingY + kCellY)};
}

void RecoveredFileRow::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const {
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    const QRect row = option.rect.adjusted(kInsetX, 1, -kInsetX, -1);
    const bool selected = option.state & QStyle::State_Selected;
    const bool focused = option.state & QStyle::State_HasFocus;
    if (selected || (option.state & QStyle::State_MouseOver)) {
        QColor fill = selected ? theme::accent() : QColor(255, 255, 255, 18);
        if (selected)
            fill.setAlphaF(option.state & QStyle::State_Active ? 0.45 : 0.25);
        QPainterPath path;
        path.addRoundedRect(QRectF(row), 6, 6);
        painter->fillPath(path, fill);
    }
    if (focused && !selected) {
        painter->setPen(QPen(theme::accent(), 1));
        painter->drawRoundedRect(QRectF(row).adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
    }

    const QRect content =
        row.adjusted(kPaddingX, kPaddingY + kCellY - 1, -kPaddingX, -(kPaddingY + kCellY - 1));
    const QRect iconRect(content.left(), content.center().y() - kIconSide / 2, kIconSide, kIconSide);
    painter->drawPixmap(iconRect, icon_);

    const QRect link = openLinkRect(option.rect);
    const int textLeft = iconRect.right() + 1 + kSpacing;
    const int textRight = link.left() - kSpacing;
    const QFontMetrics nameMetrics(nameFont_);
    const QFontMetrics sizeMetrics(sizeFont_);
    const int textHeight = nameMetrics.height() + 2 + sizeMetrics.height();
    const int top = content.center().y() - textHeight / 2;

    painter->setFont(nameFont_);
    painter->setPen(theme::primaryText());
    const QString name = nameMetrics.elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideMiddle,
                                                std::max(0, textRight - textLeft));
    painter->drawText(QRect(textLeft, top, textRight - textLeft, nameMetrics.height()),
                      Qt::AlignLeft | Qt::AlignVCenter, name);
    painter->setFont(sizeFont_);
    painter->setPen(theme::secondaryText());
    painter->drawText(
        QRect(textLeft, top + nameMetrics.height() + 2, textRight - textLeft, sizeMetrics.height()),
        Qt::AlignLeft | Qt::AlignVCenter, index.data(RecoveredFilesModel::SizeTextRole).toString());

    QFont linkFont = linkFont_;
    linkFont.setUnderline(option.state & QStyle::State_MouseOver);
    painter->setFont(linkFont);
    painter->setPen(theme::accent());
    painter->drawText(link, Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("Open"));
    painter->restore();
}

bool RecoveredFileRow::editorEvent(QEvent* event, QAbstractItemModel*, const QStyleOptionViewItem& option,
                                   const QModelIndex& index) {
    if (event->type() != QEvent::MouseButtonRelease && event->type() != QEvent::MouseButtonPress)
        return false;
    auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() != Qt::LeftButton || !openLinkRect(option.rect).contains(mouse->position().toPoint()))
        return false;
    if (event->type() == QEvent::MouseButtonRelease)
        emit openRequested(index);
    return true;
}

} // namespace vellorin
