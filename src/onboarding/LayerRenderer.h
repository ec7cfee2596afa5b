#pragma once
// Paints a layer tree with QPainter at one moment. The painter must already be y-up (flipped once
// by the caller); pictures and text are turned upright where they are drawn. Shadows are blurred
// once per layer and size, and runs of sibling layers that nothing animates are painted once into a
// picture, then copied on every frame. Both stay until clearCache(): a tree whose still layers are
// changed after they were first painted must be cleared.
//
// While a layer only glides (its turn and scale on the screen the same as on the frame before), its
// shadow, its still sublayers and, when nothing but its place and opacity moves, the layer itself
// are copied from pictures kept in screen pixels: a plain copy costs far less than turning a picture
// or filling a gradient again. Such a copy lands on whole pixels, so it may sit up to half a pixel
// from where a fresh drawing would. While a layer springs in place (only its size changing), its
// picture is stretched over the next few frames and drawn anew once it is more than a little off.

#include "onboarding/Layer.h"

#include <QHash>
#include <QImage>
#include <QRegion>

#include <algorithm>
#include <functional>

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
        snapshots.clear();
    }
    qsizetype cachedShadows() const { return shadows.size(); }
    qsizetype cachedStills() const { return stills.size(); }
    qsizetype cachedCopies() const {
        return std::count_if(snapshots.begin(), snapshots.end(), [](const Snapshot& s) { return !s.image.isNull(); });
    }
    // The part of the device (in pixels) a frame repaints; layers wholly outside it are not painted at all.
    // Empty paints everything.
    QRegion only;
    // Whether gliding layers are copied from screen-pixel pictures (on by default; off draws every
    // frame afresh, the reference the copies are held to).
    bool copyGliding = true;
    // Nothing animates in the layer's subtree and it does not follow the pointer.
    static bool isStill(const Layer& layer);

    // Where the layer and everything it draws lie in its superlayer's space.
    static QRectF extent(const Layer& layer, double t);
    // The same in the layer's own space.
    static QRectF ownExtent(const Layer& layer, const Props& p, double t);
    // The layer's own space to its superlayer's.
    static QTransform placement(const Layer& layer, const Props& p);
    // Where the layer's picture is drawn, in its own space (it may reach past the box).
    static QRectF contentsRect(const Layer& layer, const Props& p);

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

    struct Snapshot {
        QImage image;           // screen pixels
        QTransform linear;      // the turn and scale it was drawn at
        QPoint corner;          // its corner, from the whole pixel the layer's origin fell in
        QPointF fraction;       // where in that pixel the origin fell
        QTransform lastLinear;  // the turn and scale of the last frame that asked for it
        bool seen = false;
        bool exact = false;     // drawn from a picture at its own size, while the layer held still
    };

    // Copies what draw paints inside local (in the painter's space) from a screen-pixel picture, at
    // the given opacity. False, having drawn nothing, while the turn or scale is still changing.
    // A drawing that is not exact (a picture of a neighbouring size) is never kept.
    bool paintSnapshot(QPainter& painter, const QString& key, const QRectF& local, double opacity,
                       const std::function<void(QPainter&)>& draw, bool exact = true);
    // The turn or scale asked for under key differs from the last frame's.
    bool turning(const QString& key, const QTransform& device) const;
    // Only the layer's place and opacity move: its picture stays the same wherever it goes.
    static bool onlyGlides(const Layer& layer);
    void paintLayer(QPainter& painter, const Layer& layer, double t, double opacity, bool withShadow);
    void paintOwn(QPainter& painter, const Layer& layer, const Props& p, double t, double opacity);
    void paintSublayers(QPainter& painter, const Layer& layer, double t, double opacity);
    bool paintStill(QPainter& painter, const Layer& layer, qsizetype from, qsizetype to, double t, double opacity);

    void paintMasked(QPainter& painter, const Layer& layer, const Props& p, double t, double opacity);
    void paintShadow(QPainter& painter, const Layer& layer, const Props& p, double t, double opacity);

    QHash<QString, Shadow> shadows;
    QHash<QString, Still> stills;
    QHash<QString, Snapshot> snapshots;
    bool buildingShadow = false; // the shape of a shadow carries no shadows of its own
    bool buildingStill = false;
    bool buildingSnapshot = false;
};

} // namespace tour
