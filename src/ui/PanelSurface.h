#pragma once

#include <QPixmap>
#include <QWidget>

namespace vellorin {

// The decoration of the cards and panels: a translucent fill, a rounded outline, and the
// content kept inside the rounded shape.
class PanelSurface : public QWidget {
public:
    PanelSurface(qreal opacity, qreal radius, QWidget* parent = nullptr);

    qreal opacity() const { return opacity_; }
    qreal radius() const { return radius_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    qreal opacity_;
    qreal radius_;
    // The shape drawn once per size and copied at every paint: copying is a plain blit,
    // where drawing the antialiased shape over a tall panel again and again would keep the
    // main thread busy (and waiting for helper threads) at every line of a scrolling log.
    QPixmap drawn_;
};

} // namespace vellorin
