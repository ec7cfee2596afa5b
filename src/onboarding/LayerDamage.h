#pragma once
// Which parts of a painted layer tree look different at a new moment: the view repaints only those, and
// nothing when nothing moved. A layer counts as moved once any corner of what it draws has gone half a pixel
// (no further than a copy landing on whole pixels may sit), or, for a soft glow that fades out to nothing,
// once its colour may have changed by two levels somewhere; so a slow drift is painted in small steps rather
// than at every frame.

#include "onboarding/Layer.h"

#include <QHash>
#include <QRegion>
#include <QTransform>

namespace tour {

class LayerDamage {
public:
    // What must be painted again for the tree under root at media time t, in whole points of the space that
    // `toView` maps the root's superlayer into; pixelRatio turns points into the pixels the tolerances count.
    // The first call after clear() gives everything the tree draws.
    QRegion since(const Layer& root, const QTransform& toView, double t, double pixelRatio);
    void clear() { states.clear(); }

    // How far (in pixels) a layer may drift before it counts as moved: half a pixel, more for a radial glow
    // that fades out to nothing, whose colour changes by at most two levels over that distance.
    static double tolerance(const Layer& layer, const Props& p, double pixelsPerPoint);

private:
    struct State {
        QTransform place; // the layer's own space to the view
        double opacity = 0;
        size_t look = 0;    // what it draws, apart from where
        QRectF drawn;       // in its own space
        QList<QRectF> dots; // an emitter's particles, in the view
        bool seen = false;
    };
    void walk(const Layer& layer, const QTransform& parent, double parentOpacity, double t, double ratio, QRegion& out);

    QHash<const Layer*, State> states;
};

} // namespace tour
