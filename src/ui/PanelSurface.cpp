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

const Backdrop* PanelSurface::backdropBelow(QRect& context) const {
    for (const QWidget* above = parentWidget(); above; above = above->parentWidget()) {
        if (const auto* backdrop = dynamic_cast<const Backdrop*>(above)) {
            context = QRect(mapTo(above, QPoint()), above->size());
            return backdrop;
        }
    }
    return nullptr;
}

void PanelSurface::paintEvent(QPaintEvent* event) {
    // Over a backdrop, the picture holds what lies below as well: drawn as one opaque copy,
    // nothing behind the panel is drawn again whenever a line of the log or a row of the list
    // changes. It depends then on where the panel lies on the backdrop and on the backdrop's
    // size.
    QRect context;
    const Backdrop* backdrop = backdropBelow(context);
    if (testAttribute(Qt::WA_OpaquePaintEvent) != (backdrop != nullptr)) {
        // Known only once the panel sits in its window; a panel that left its backdrop is
        // drawn again with what lies behind it.
        setAttribute(Qt::WA_OpaquePaintEvent, backdrop != nullptr);
        if (!backdrop)
            update();
    }
    const auto surface = backdrop ? PaintCache::Surface::Opaque : PaintCache::Surface::Transparent;
    cache_.paint(
        this, event,
        [this, backdrop](QPainter& painter) {
            if (backdrop)
                backdrop->paintBelow(painter, *this);
            painter.setRenderHint(QPainter::Antialiasing);
            const QRectF shape = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
            QPainterPath path;
            path.addRoundedRect(shape, radius_, radius_);
            QColor fill = theme::controlBackground();
            fill.setAlphaF(opacity_);
            painter.fillPath(path, fill);
            painter.setPen(QPen(theme::separator(), 1.0));
            painter.drawPath(path);
        },
        surface, context);
}

} // namespace vellorin
