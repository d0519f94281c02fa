#pragma once

#include <QProxyStyle>

namespace vellorin {

// Check boxes that stay visible on the dark window: the desktop's style draws the box in
// the base colour, which all but vanishes against the panels. Draws a light outline, and
// when checked an accent fill with a white tick; everything else is the desktop's style.
class CheckBoxStyle final : public QProxyStyle {
  public:
    using QProxyStyle::QProxyStyle;
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget = nullptr) const override;
};

} // namespace vellorin
