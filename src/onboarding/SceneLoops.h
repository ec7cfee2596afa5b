#pragma once
// Small makers the scene builders share: looping keyframes, plain boxes and text, colours.

#include "onboarding/Layer.h"

#include <QColor>
#include <QFont>
#include <QRectF>

namespace scene {

// A storyboard loop: values at key times over one period, eased in and out on every segment,
// repeated for ever from the moment it is added. Keyed "<keyPath>.tour".
inline void loop(tour::Layer& layer, const QString& keyPath, QList<tour::Value> values, QList<double> keyTimes,
                 double period, double now) {
    tour::Animation a = tour::Animation::keyframes(keyPath, values, std::move(keyTimes), period);
    a.repeatCount = tour::repeatForever;
    const qsizetype segments = std::max<qsizetype>(values.size(), 2) - 1;
    for (qsizetype i = 0; i < segments; ++i)
        a.timingFunctions.append(tour::Easing::easeInEaseOut());
    layer.addAnimation(keyPath + QStringLiteral(".tour"), std::move(a), now);
}

// A to-and-fro swing by `by`, for ever, eased: the bobbing and breathing of idle layers.
inline tour::Animation swing(const QString& keyPath, tour::Value from, tour::Value to, tour::Value by,
                             double duration) {
    tour::Animation a = tour::Animation::basic(keyPath, std::move(from), std::move(to), duration);
    a.by = std::move(by);
    a.autoreverses = true;
    a.repeatCount = tour::repeatForever;
    a.timing = tour::Easing::easeInEaseOut();
    return a;
}

inline QColor white(double alpha) {
    return QColor::fromRgbF(1, 1, 1, float(alpha));
}

inline QColor black(double alpha) {
    return QColor::fromRgbF(0, 0, 0, float(alpha));
}

inline QColor withAlpha(QColor c, double alpha) {
    c.setAlphaF(float(alpha));
    return c;
}

inline tour::LayerPtr box(const QRectF& frame, const QColor& fill = {}, double radius = 0) {
    tour::LayerPtr layer = tour::Layer::make();
    layer->setFrame(frame);
    layer->model.backgroundColor = fill;
    layer->model.cornerRadius = radius;
    return layer;
}

inline tour::LayerPtr text(const QString& string, const QRectF& frame, const QFont& font, double size,
                           const QColor& colour, Qt::Alignment alignment = Qt::AlignHCenter) {
    tour::LayerPtr layer = tour::Layer::make(tour::Layer::Type::text);
    layer->setFrame(frame);
    layer->model.string = string;
    layer->font = font;
    layer->model.fontSize = size;
    layer->model.foregroundColor = colour;
    layer->truncateEnd = true;
    layer->alignment = alignment;
    return layer;
}

} // namespace scene
