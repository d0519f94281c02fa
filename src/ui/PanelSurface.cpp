#include "ui/PanelSurface.h"

#include "ui/Theme.h"

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
    cache_.paint(this, event, [this](QPainter& painter) {
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF shape = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        QPainterPath path;
        path.addRoundedRect(shape, radius_, radius_);
        QColor fill = theme::controlBackground();
        fill.setAlphaF(opacity_);
        painter.fillPath(path, fill);
        painter.setPen(QPen(theme::separator(), 1.0));
        painter.drawPath(path);
    });
}

} // namespace vellorin
