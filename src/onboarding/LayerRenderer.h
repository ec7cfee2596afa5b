#pragma once
// Paints a layer tree with QPainter at one moment. The painter must already be y-up (flipped once
// by the caller); pictures and text are turned upright where they are drawn. Shadows are blurred
// once per layer and size, and runs of sibling layers that nothing animates are painted once into a
// picture, then copied on every frame. Both stay until clearCache(): a tree whose still layers are
// changed after they were first painted must be cleared.

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
    void clearCache() {
        shadows.clear();
        stills.clear();
    }
    qsizetype cachedShadows() const { return shadows.size(); }
    qsizetype cachedStills() const { return stills.size(); }
    // Nothing animates in the layer's subtree and it does not follow the pointer.
    static bool isStill(const Layer& layer);

    // The path of a box with some of its corners rounded (corners as Layer::Corner bits, y-up).
    static QPainterPath roundedBox(const QRectF& rect, double radius, int corners);
    // Blurs the alpha of a picture in place, roughly a Gaussian of the given radius in pixels.
    static void blurAlpha(QImage& image, double radius);

private:
    struct Still {
        QImage image;
        QPointF origin; // where the image's corner lies in the parent's space
        double scale = 1;
    };
    struct Shadow {
        QImage image;   // tinted, premultiplied
        QPointF origin; // where the image's corner lies in the layer's space
        double scale = 1;
    };

    void paintLayer(QPainter& painter, const Layer& layer, double t, double opacity, bool withShadow);
    void paintOwn(QPainter& painter, const Layer& layer, const Props& p, double t, double opacity);
    void paintSublayers(QPainter& painter, const Layer& layer, double t, double opacity);
    bool paintStill(QPainter& painter, const Layer& layer, qsizetype from, qsizetype to, double t, double opacity);
    // Where the layer and everything it draws lie in its superlayer's space.
    static QRectF extent(const Layer& layer, double t);
    void paintMasked(QPainter& painter, const Layer& layer, const Props& p, double t, double opacity);
    void paintShadow(QPainter& painter, const Layer& layer, const Props& p, double t, double opacity);
    static QTransform placement(const Layer& layer, const Props& p);

    QHash<QString, Shadow> shadows;
    QHash<QString, Still> stills;
    bool buildingShadow = false; // the shape of a shadow carries no shadows of its own
    bool buildingStill = false;
};

} // namespace tour
