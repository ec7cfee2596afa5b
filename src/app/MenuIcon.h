#pragma once
// The panel icon: a camera aperture, drawn in code so it stays sharp at every size.

#include <QColor>
#include <QIcon>
#include <QImage>

class TrayColors;

namespace MenuIcon {

// The 18 × 18 icon drawn at the scale (2 gives 36 × 36 pixels), strokes in the colour.
QImage draw(const QColor& color, double scale = 1.0);

// An icon in the panel's text colour (the tray's published colour, else light for dark panels).
QIcon make(const TrayColors& tray);
QIcon make(const QColor& color);

QColor panelTextColor(const TrayColors& tray);

} // namespace MenuIcon
