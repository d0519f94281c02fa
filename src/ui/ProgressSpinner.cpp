#include "ui/ProgressSpinner.h"

#include <QPainter>
#include <QTimerEvent>

namespace vellorin {

namespace {
constexpr int kTicks = 12;
}

ProgressSpinner::ProgressSpinner(QWidget* parent) : QWidget(parent) {
    setFixedSize(16, 16);
    setAccessibleName(QStringLiteral("In progress"));
}

void ProgressSpinner::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(width() / 2.0, height() / 2.0);
    const qreal outer = std::min(width(), height()) / 2.0;
    QColor color = palette().color(QPalette::WindowText);
    for (int i = 0; i < kTicks; ++i) {
        // The tick at the current step is the brightest; the others fade behind it.
        const int age = (step_ - i + kTicks) % kTicks;
        color.setAlphaF(1.0 - 0.75 * age / (kTicks - 1));
        painter.setPen(QPen(color, 1.6, Qt::SolidLine, Qt::RoundCap));
        painter.save();
        painter.rotate(360.0 * i / kTicks);
        painter.drawLine(QPointF(0, -outer * 0.45), QPointF(0, -outer * 0.9));
        painter.restore();
    }
}

void ProgressSpinner::timerEvent(QTimerEvent* event) {
    if (event->timerId() != timer_.timerId())
        return QWidget::timerEvent(event);
    step_ = (step_ + 1) % kTicks;
    update();
}

void ProgressSpinner::showEvent(QShowEvent*) {
    timer_.start(80, this);
}

void ProgressSpinner::hideEvent(QHideEvent*) {
    timer_.stop();
}

} // namespace vellorin
