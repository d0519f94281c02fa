#include "ui/RecoveredFileRow.h"

#include "ui/RecoveredFilesModel.h"
#include "ui/Theme.h"
#include "ui/ThumbnailCache.h"
#include "workflow/FileKinds.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace vellorin {

namespace {

constexpr int kInsetX = 8;   // the inset list's margin on either side of a row
constexpr int kPaddingX = 8; // inside the row, before the icon and after the link
constexpr int kPaddingY = 2; // the row's own padding, top and bottom
constexpr int kCellY = 5;    // the inset list's cell padding
constexpr int kIconSide = 18;
constexpr int kIconColumn = RecoveredFileRow::kThumbnailSide;
constexpr qreal kThumbnailRadius = 3;
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

void RecoveredFileRow::setThumbnails(ThumbnailCache* cache) {
    thumbnails_ = cache;
}

QRect RecoveredFileRow::openLinkRect(const QRect& rowRect) const {
    const QFontMetrics metrics(linkFont_);
    const int width = metrics.horizontalAdvance(QStringLiteral("Open")) + 8;
    const int right = rowRect.right() - kInsetX - kPaddingX;
    return {right - width + 1, rowRect.top(), width, rowRect.height()};
}

int RecoveredFileRow::contentHeight() const {
    const int text = QFontMetrics(nameFont_).height() + 2 + QFontMetrics(sizeFont_).height();
    return std::max(text, kIconSide);
}

int RecoveredFileRow::thumbnailSide() const {
    return std::min(kIconColumn, contentHeight());
}

QSize RecoveredFileRow::sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const {
    return {200, contentHeight() + 2 * (kPaddingY + kCellY)};
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
    const QString fileName = index.data(Qt::DisplayRole).toString();
    const QRect column(content.left(), content.top(), kIconColumn, content.height());
    if (!drawThumbnail(painter, column, fileName, index))
        painter->drawPixmap(QRect(column.left() + (kIconColumn - kIconSide) / 2,
                                  content.center().y() - kIconSide / 2, kIconSide, kIconSide),
                            icon_);

    const QRect link = openLinkRect(option.rect);
    const int textLeft = column.right() + 1 + kSpacing;
    const int textRight = link.left() - kSpacing;
    const QFontMetrics nameMetrics(nameFont_);
    const QFontMetrics sizeMetrics(sizeFont_);
    const int textHeight = nameMetrics.height() + 2 + sizeMetrics.height();
    const int top = content.center().y() - textHeight / 2;

    painter->setFont(nameFont_);
    painter->setPen(theme::primaryText());
    const QString name = nameMetrics.elidedText(fileName, Qt::ElideMiddle, std::max(0, textRight - textLeft));
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

bool RecoveredFileRow::drawThumbnail(QPainter* painter, const QRect& column, const QString& fileName,
                                     const QModelIndex& index) const {
    if (!thumbnails_ || kindOfName(fileName) != FileKind::Pictures)
        return false;
    const std::optional<QImage> thumbnail =
        thumbnails_->thumbnail(index.data(RecoveredFilesModel::PathRole).toString());
    if (!thumbnail || thumbnail->isNull())
        return false;
    const int box = std::min(kIconColumn, column.height());
    QSizeF size = thumbnail->deviceIndependentSize();
    if (size.width() > box || size.height() > box)
        size.scale(box, box, Qt::KeepAspectRatio);
    // On whole device pixels, so that a thumbnail decoded at the screen's size is copied
    // pixel for pixel rather than blurred across two.
    const qreal dpr = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
    const QPointF middle = QRectF(column).center();
    const QPointF corner(std::round((middle.x() - size.width() / 2) * dpr) / dpr,
                         std::round((middle.y() - size.height() / 2) * dpr) / dpr);
    const QRectF target(corner, size);
    // The picture as the fill of a rounded rectangle: a clip would leave the corners jagged.
    QBrush brush(*thumbnail);
    brush.setTransform(
        QTransform::fromTranslate(target.left(), target.top())
            .scale(target.width() / thumbnail->width(), target.height() / thumbnail->height()));
    painter->setRenderHint(QPainter::SmoothPixmapTransform);
    painter->setPen(Qt::NoPen);
    painter->setBrush(brush);
    painter->drawRoundedRect(target, kThumbnailRadius, kThumbnailRadius);
    return true;
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
