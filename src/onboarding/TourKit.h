#pragma once
// Ready-made layers the tour's scenes are drawn from: a stylised window holding a picture, the card's
// tool pill, a caption chip, a tinted symbol and a mouse pointer, plus the card's tool catalogue.
// Every builder returns a new layer that is not attached to anything; all geometry is y-up.

#include "onboarding/Layer.h"

#include <QColor>
#include <QImage>
#include <QList>
#include <QStringList>

#include <optional>
#include <utility>

class TourKit {
public:
    // The media time of the rebuild in progress: entrances and sweeps count from it.
    double now = 0;

    // The accent, for highlights and buttons in every scene.
    static QColor sage();
    // The dark, nearly opaque fill of pills and caption chips.
    static QColor glass();

    // A window with a landscape picture in two colours made from hue (0 to 1), swapped when flip is
    // set, and a band of light that crosses it now and then.
    tour::LayerPtr glassTile(const QRectF& rect, double hue, bool flip) const;
    // The card's tool pill: the bar and the centres of its icons (x in the bar's space). Without
    // icons it shows the whole catalogue; a highlight outside the icons draws no plate.
    std::pair<tour::LayerPtr, QList<double>> pill(double width, double height, std::optional<int> highlight = {},
                                                  std::optional<QStringList> icons = {}) const;
    // A caption chip centred on at, at least minWidth wide.
    tour::LayerPtr label(const QString& text, const QPointF& at, double minWidth) const;
    // The named symbol tinted in colour, size points square; an empty layer without a frame when the
    // symbol is unknown. The caller places it.
    tour::LayerPtr icon(const QString& symbol, double size, const QColor& colour) const;
    // An arrow pointer whose tip is the layer's position.
    tour::LayerPtr cursor(const QPointF& at) const;
    // A picture of the tour's artwork by name; a null image when it is missing or unreadable.
    static QImage tourImage(const QString& name);
    // One of our pictures by resource path without extension: the PNG when there is one, else the
    // SVG drawn at its own size in points, sharp at the screen's pixel ratio; null when neither reads.
    static QImage artwork(const QString& path);

    // The symbols and titles of the card's tools, in catalogue order, whatever the user's order.
    static QStringList toolIcons();
    static QStringList toolNames();
};
