#include "ui/PaintCache.h"

#include <QPaintEvent>
#include <QPainter>
#include <QWidget>

namespace vellorin {

void PaintCache::paint(QWidget* widget, const QPaintEvent* event, const std::function<void(QPainter&)>& draw,
                       Surface surface, const QRect& context) {
    const qreal ratio = widget->devicePixelRatioF();
    const QSizeF size(widget->size());
    if (drawn_.deviceIndependentSize() != size || drawn_.devicePixelRatio() != ratio ||
        drawnSurface_ != surface || drawnContext_ != context) {
        drawnSurface_ = surface;
        drawnContext_ = context;
        drawn_ = QPixmap((size * ratio).toSize());
        drawn_.setDevicePixelRatio(ratio);
        // A pixmap never filled with a transparent colour has no alpha channel.
        if (surface == Surface::Transparent)
            drawn_.fill(Qt::transparent);
        QPainter painter(&drawn_);
        draw(painter);
    }
    QPainter painter(widget);
    for (const QRect& part : event->region())
        painter.drawPixmap(part, drawn_,
                           QRectF(QPointF(part.topLeft()) * ratio, QSizeF(part.size()) * ratio));
}

} // namespace vellorin
