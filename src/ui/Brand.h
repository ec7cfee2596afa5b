#pragma once
// The palette of the one dark look every window shares.

#include <QColor>
#include <QPainterPath>
#include <QRectF>

class QPainter;

namespace Brand {

QColor green();      // the accent
QColor greenHi();    // top of the primary-button gradient
QColor greenLow();   // bottom of the primary-button gradient
QColor greenDeep();  // primary-button outline
QColor onGreen();    // text and symbols on the accent
QColor background(); // window backgrounds
QColor surface();    // the shade inside pills
QColor text();       // main text
QColor muted();      // secondary text
QColor line();       // white at 0.08
QColor lineStrong(); // white at 0.14, the outline of every pill

// Fills a primary button: a green gradient from top to bottom, a one-pixel highlight along the
// top edge of rect and a deep-green outline. Pressed buttons are drawn at alpha 0.85.
void fillPrimary(QPainter& painter, const QPainterPath& path, const QRectF& rect, bool pressed);

} // namespace Brand
