#include "ui/CheckBoxStyle.h"

#include "ui/Theme.h"

#include <QPainter>
#include <QPainterPath>
#include <QStyleOption>

namespace vellorin {

void CheckBoxStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                                  const QWidget* widget) const {
    if (element != PE_IndicatorCheckBox) {
        QProxyStyle::drawPrimitive(element, option, painter, widget);
        return;
    }
    const bool enabled = option->state & State_Enabled;
    const bool checked = option->state & State_On;
    const bool partly = option->state & State_NoChange;
    const QRectF box = QRectF(option->rect).adjusted(1.5, 1.5, -1.5, -1.5);

    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setOpacity(enabled ? 1.0 : 0.45);
    const QColor accent = theme::accent();
    painter->setPen(QPen(checked || partly ? accent : QColor(0xa0, 0xa5, 0xb2), 1.2));
    painter->setBrush(checked || partly ? accent : QColor(0x2a, 0x2d, 0x36));
    painter->drawRoundedRect(box, 3, 3);
    painter->setPen(QPen(Qt::white, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter->setBrush(Qt::NoBrush);
    if (checked) {
        QPainterPath tick;
        tick.moveTo(box.left() + box.width() * 0.22, box.top() + box.height() * 0.52);
        tick.lineTo(box.left() + box.width() * 0.42, box.top() + box.height() * 0.72);
        tick.lineTo(box.left() + box.width() * 0.78, box.top() + box.height() * 0.30);
        painter->drawPath(tick);
    } else if (partly) {
        painter->drawLine(QPointF(box.left() + box.width() * 0.25, box.center().y()),
                          QPointF(box.right() - box.width() * 0.25, box.center().y()));
    }
    if (option->state & State_HasFocus) {
        painter->setPen(QPen(accent.lighter(130), 1));
        painter->drawRoundedRect(QRectF(option->rect).adjusted(0.5, 0.5, -0.5, -0.5), 4, 4);
    }
    painter->restore();
}

} // namespace vellorin
