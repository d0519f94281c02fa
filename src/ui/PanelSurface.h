#pragma once

#include "ui/Backdrop.h"
#include "ui/PaintCache.h"

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
    // The nearest ancestor that is a backdrop, and where this panel lies on it; null if none.
    const Backdrop* backdropBelow(QRect& context) const;

    qreal opacity_;
    qreal radius_;
    PaintCache cache_;
};

} // namespace vellorin
