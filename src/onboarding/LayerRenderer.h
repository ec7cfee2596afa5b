#pragma once
// Paints a layer tree with QPainter at one moment. The painter must already be y-up (flipped once
// by the caller); pictures and text are turned upright where they are drawn. Shadows are blurred
// once per layer and size and then reused, so a still scene costs little more than its fills.

#include "onboarding/Layer.h"

#include <QHash>
#include <QImage>

class QPainter;

namespace tour {

class LayerRenderer {
public:
    // Paints layer (and its sublayers) in the painter's current space, which is the space of the
    // layer's superlayer, at media time t.
    void paint(QPainter& painter, const Layer& layer, double t);
    // Drops every cached shadow (after a rebuild the old layers are gone).
    void clearCache() { shadows.clear(); }
    qsizetype cachedShadows() const { return shadows.size(); }

    // The path of a box with some of its corners rounded (corners as Layer::Corner bits, y-up).
    static QPainterPath roundedBox(const QRectF& rect, double radius, int corners);
    // Blurs the alpha of a picture in place, roughly a Gaussian of the given radius in pixels.
    static void blurAlpha(QImage& image, double radius);

private:
    struct Shadow {
        QImage image;   // tinted, premultiplied
        QPointF origin; // where the image's corner lies in the layer's space
        double scale = 1;
    };

    void paintLayer(QPainter& painter, const Layer& layer, double t, double opacity, bool withShadow);
    void paintOwn(QPainter& painter, const Layer& layer, const Props& p, double t, double opacity);
    void paintMasked(QPainter& painter, const Layer& layer, const Props& p, double t, double opacity);
    void paintShadow(QPainter& painter, const Layer& layer, const Props& p, double t, double opacity);
    static QTransform placement(const Layer& layer, const Props& p);

    QHash<QString, Shadow> shadows;
    bool buildingShadow = false; // the shape of a shadow carries no shadows of its own
};

} // namespace tour
