#pragma once
// One node of the tour's picture tree: its geometry and look (the model), what it draws (a plain
// box, a gradient, a path or text), its sublayers and the keyed animations that move it. Geometry is
// y-up: a layer's origin is its bottom-left corner, as on the stage the scenes are drawn on.

#include "onboarding/Animation.h"

#include <QFont>
#include <QImage>
#include <QList>
#include <QPainterPath>
#include <QTransform>

#include <memory>
#include <utility>

namespace tour {

// Kept apart so that animating the scale leaves the rotation (and the position) alone.
struct Transform {
    double tx = 0, ty = 0;
    double sx = 1, sy = 1;
    double rotation = 0; // radians, counter-clockwise with y up

    static Transform rotated(double radians) { return {0, 0, 1, 1, radians}; }
    static Transform scaled(double s) { return {0, 0, s, s, 0}; }
    QTransform matrix() const;
    bool operator==(const Transform&) const = default;
};

// The animatable state of a layer.
struct Props {
    QPointF position;
    QRectF bounds;
    QPointF anchorPoint{0.5, 0.5};
    double opacity = 1;
    Transform transform;
    QColor backgroundColor; // invalid: none
    QColor borderColor{0, 0, 0};
    double borderWidth = 0;
    double cornerRadius = 0;
    QColor shadowColor{0, 0, 0};
    double shadowOpacity = 0;
    double shadowRadius = 3;
    QPointF shadowOffset{0, -3};
    // paths
    QColor fillColor{0, 0, 0}; // invalid: no fill
    QColor strokeColor;        // invalid: no stroke
    double lineWidth = 1;
    // text
    QColor foregroundColor{255, 255, 255};
    double fontSize = 36;
    QString string;
};

// Reads and writes one key path of the state ("position.x", "transform.scale", "backgroundColor", …).
// get() gives monostate and set() false for a key path the state does not have.
Value get(const Props& props, const QString& keyPath);
bool set(Props& props, const QString& keyPath, const Value& value);

class Layer {
public:
    enum class Type { plain, gradient, shape, text, emitter };
    enum class Gravity { resize, resizeAspect, resizeAspectFill, center };
    enum Corner { minXMinY = 1, maxXMinY = 2, minXMaxY = 4, maxXMaxY = 8, allCorners = 15 };

    explicit Layer(Type type = Type::plain) : type(type) {}
    Layer(const Layer&) = delete;
    Layer& operator=(const Layer&) = delete;

    static std::shared_ptr<Layer> make(Type type = Type::plain) { return std::make_shared<Layer>(type); }

    const Type type;
    Props model;

    // Places the layer so its untransformed box is rect in the superlayer.
    void setFrame(const QRectF& rect);
    QRectF frame() const;

    bool hidden = false;
    bool masksToBounds = false;
    int maskedCorners = allCorners;
    QImage contents; // drawn into the bounds, upright
    Gravity contentsGravity = Gravity::resize;
    // Only its alpha counts; it lies in this layer's own space.
    std::shared_ptr<Layer> mask;
    // Added to the position without being part of the model: the scene's pointer-follow offset.
    QPointF offset;

    // gradient
    QList<QColor> colors;
    QList<double> locations;
    QPointF startPoint{0.5, 0};
    QPointF endPoint{0.5, 1};
    bool radial = false;

    // shape: the path is in the layer's own space; the dash lengths are in points.
    QPainterPath path;
    QList<double> lineDashPattern;
    Qt::PenCapStyle lineCap = Qt::FlatCap;
    Qt::PenJoinStyle lineJoin = Qt::MiterJoin;

    // text
    QFont font;
    Qt::Alignment alignment = Qt::AlignLeft;
    bool truncateEnd = false;

    // emitter: particles are born evenly from emitterBegin on, anywhere along a line of emitterSize
    // centred on emitterPosition, and fly straight off at the cell's velocity, each fading by
    // alphaSpeed a second until its lifetime is over. Every value with a range varies by up to that
    // much either way. The cell's picture is drawn centred on each particle at its scale.
    struct EmitterCell {
        double birthRate = 0; // a second
        double lifetime = 1;
        double velocity = 0, velocityRange = 0;
        double emissionLongitude = 0, emissionRange = 0; // radians, counter-clockwise from +x
        double scale = 1, scaleRange = 0;
        double alpha = 1, alphaSpeed = 0;
        QImage contents; // a white dot when null
    };
    QPointF emitterPosition;
    QSizeF emitterSize;
    double emitterBegin = 0;
    quint64 seed = 1;
    QList<EmitterCell> cells;

    void addSublayer(const std::shared_ptr<Layer>& layer);
    // Puts the layer at index among the sublayers (0 is the back), or at the front past the end.
    void insertSublayer(const std::shared_ptr<Layer>& layer, qsizetype index);
    void removeFromSuperlayer();
    void removeAllSublayers();
    const QList<std::shared_ptr<Layer>>& sublayers() const { return children; }
    Layer* superlayer() const { return parent; }

    // Adds or replaces the animation under key; a replaced one goes to the end of the order. A begin
    // time of 0 becomes now.
    void addAnimation(const QString& key, Animation animation, double now);
    void removeAnimation(const QString& key);
    void removeAllAnimations() { running.clear(); }
    const Animation* animation(const QString& key) const;
    // In the order they were added: later ones win.
    const QList<std::pair<QString, Animation>>& animations() const { return running; }

private:
    QList<std::shared_ptr<Layer>> children;
    Layer* parent = nullptr;
    QList<std::pair<QString, Animation>> running;
};

using LayerPtr = std::shared_ptr<Layer>;

// One dot a particle layer gives off, in the layer's own space.
struct Particle {
    QPointF position;
    double scale = 1;
    double alpha = 1;
    int cell = 0;
};

// Where the particles of an emitter layer are at media time t. Every particle's path comes from the
// layer's seed and its birth number, so the same moment always shows the same dots.
QList<Particle> particles(const Layer& layer, double t);

// The layer's state at media time t: the model with every animation applied in the order added.
Props presentation(const Layer& layer, double t);

} // namespace tour
