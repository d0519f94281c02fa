#include "ui/PaintCache.h"

#include <QPaintEvent>
#include <QPainter>
#include <QWidget>

namespace vellorin {

void PaintCache::paint(QWidget* widget, const QPaintEvent* event,
                       const std::function<void(QPainter&)>& draw) {
    const qreal ratio = widget->devicePixelRatioF();
    const QSizeF size(widget->size());
    if (drawn_.deviceIndependentSize() != size || drawn_.devicePixelRatio() != ratio) {
        drawn_ = QPixmap((size * ratio).toSize());
        drawn_.setDevicePixelRatio(ratio);
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
