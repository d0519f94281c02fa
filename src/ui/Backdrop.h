#pragma once

class QPainter;
class QWidget;

namespace vellorin {

// A widget whose painting covers all of it and whose pixels depend only on its size, so that
// a widget in front of it can copy what lies below into its own picture, paint itself over
// that once, and then be drawn as one opaque copy: nothing behind it is drawn again at every
// paint of what it holds.
class Backdrop {
  public:
    virtual ~Backdrop() = default;
    // Paints, into `painter` in `widget`'s coordinates, the part of this backdrop that lies
    // below `widget` (a descendant).
    virtual void paintBelow(QPainter& painter, const QWidget& widget) const = 0;

  protected:
    Backdrop() = default;
    Backdrop(const Backdrop&) = default;
    Backdrop& operator=(const Backdrop&) = default;
};

} // namespace vellorin
