#include "ui/PanelSurface.h"

#include "ui/Theme.h"

#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>

namespace vellorin {

PanelSurface::PanelSurface(qreal opacity, qreal radius, QWidget* parent)
    : QWidget(parent), opacity_(opacity), radius_(radius) {
    // Children are transparent and padded inside the corners, so the outline alone keeps
    // them visually within the rounded shape.
    setAttribute(Qt::WA_StyledBackground, false);
}

void PanelSurface::paintEvent(QPaintEvent* event) {
    const qreal ratio = devicePixelRatioF();
    if (drawn_.deviceIndependentSize() != QSizeF(size()) || drawn_.devicePixelRatio() != ratio) {
        drawn_ = QPixmap((QSizeF(size()) * ratio).toSize());
        drawn_.setDevicePixelRatio(ratio);
        drawn_.fill(Qt::transparent);
        QPainter shapePainter(&drawn_);
        shapePainter.setRenderHint(QPainter::Antialiasing);
        const QRectF shape = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        QPainterPath path;
        path.addRoundedRect(shape, radius_, radius_);
        QColor fill = theme::controlBackground();
        fill.setAlphaF(opacity_);
        shapePainter.fillPath(path, fill);
        shapePainter.setPen(QPen(theme::separator(), 1.0));
        shapePainter.drawPath(path);
    }
    QPainter painter(this);
    for (const QRect& part : event->region())
        painter.drawPixmap(part, drawn_, QRectF(QPointF(part.topLeft()) * ratio, QSizeF(part.size()) * ratio));
}

} // namespace vellorin
