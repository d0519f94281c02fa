#pragma once

#include <QPixmap>
#include <QRect>

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
    // Opaque: `draw` covers every pixel, so the copy replaces what is below rather than being
    // blended over it, several times quicker for a window-sized backdrop.
    enum class Surface { Transparent, Opaque };

    // `draw` paints the whole widget in its own coordinates (onto a transparent surface unless
    // opaque); it is called again only when the widget's size or pixel ratio, the surface or
    // `context` (whatever else the picture depends on) has changed.
    void paint(QWidget* widget, const QPaintEvent* event, const std::function<void(QPainter&)>& draw,
               Surface surface = Surface::Transparent, const QRect& context = {});

  private:
    Surface drawnSurface_ = Surface::Transparent;
    QRect drawnContext_;
    QPixmap drawn_;
};

} // namespace vellorin
