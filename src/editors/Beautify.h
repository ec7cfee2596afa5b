#pragma once
// Puts a picture on its backdrop: padding on every side, the picture unscaled with rounded corners, an
// optional soft shadow under it. Pure: the same picture and style always give the same pixels.

#include "editors/BackdropStyle.h"

#include <QImage>
#include <QPainterPath>
#include <QSize>

#include <optional>

class Beautify {
public:
    Beautify() = delete;

    // The most pixels one result may have: larger backdrops are refused rather than risk the memory.
    static constexpr qint64 pixelBudget = 400LL * 1000 * 1000;

    // The output size of a W × H picture at this (clamped) padding.
    static QSize outputSize(QSize picture, double padding);
    // The picture on its backdrop in ARGB32 premultiplied, or nothing when the result is over the pixel
    // budget or its bitmap cannot be made.
    static std::optional<QImage> render(const QImage& picture, const BackdropStyle& style);
    // The soft shadow, `size` large, of the picture drawn at `at` and cut to `shape`: its alpha blurred with
    // sigma `blur` / 2, in black at `opacity`. The blur costs the same whatever its radius.
    static QImage shadow(QSize size, const QPainterPath& shape, const QImage& picture, QPointF at, double blur,
                         double opacity);
    // Fills `shape` with the picture drawn at `at`, edges antialiased.
    static void drawClipped(QPainter& painter, const QPainterPath& shape, const QImage& picture, QPointF at);
};
