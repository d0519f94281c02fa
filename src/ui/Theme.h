#pragma once

#include "workflow/ViewController.h"

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QPalette>

namespace vellorin::theme {

// The window is always dark, whatever the desktop theme: the primary text has to stay
// light on the dark gradient.
QPalette darkPalette();

QColor primaryText();
QColor secondaryText();
QColor accent();
QColor green();
QColor statusColor(RecoveryViewModel::StatusColor color);
QColor controlBackground();
QColor separator();

// Text styles, scaled from the desktop's own font so that they follow its size setting.
QFont headline();
QFont subheadline();
QFont caption();
QFont body();
QFont footnoteMonospaced();
// The system font at an explicit size in device-independent pixels.
QFont systemFont(int pixelSize, QFont::Weight weight);

// An icon for one of the symbol names the views use, from the desktop's icon theme, or
// one of the style's built-in icons when the theme has none: it always draws something.
QIcon icon(const QString& symbolName);

// Stylesheet-free colouring of a label's text.
void setTextColor(QWidget* widget, const QColor& color);

} // namespace vellorin::theme
