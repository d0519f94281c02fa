#pragma once

#include <QPixmap>

#include <functional>

class QPainter;
class QPaintEvent;
class QWidget;

namespace vellorin {

// A widget's unchanging decoration, drawn once per size and copied into the parts each paint
// asks for. Copying is a plain blit, where drawing a gradient or an antialiased shape over a
// tall area at every frame of a scrolling log would keep the main thread busy (and waiting
// for the helper threads Qt's raster engine splits large fills across).
class PaintCache {
  public:
    // `draw` paints the whole widget in its own coordinates onto a transparent surface; it is
    // called again only when the widget's size or pixel ratio has changed.
    void paint(QWidget* widget, const QPaintEvent* event, const std::function<void(QPainter&)>& draw);

  private:
    QPixmap drawn_;
};

} // namespace vellorin
