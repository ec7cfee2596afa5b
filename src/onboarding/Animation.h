#pragma once
// Keyed animations of the tour's layers: basic (from/to/by), keyframe, spring and group, each
// timed by a begin time, a duration, repeats, autoreverse and fill. They describe motion only;
// presentation() evaluates them at a given time.

#include <QColor>
#include <QList>
#include <QPointF>
#include <QRectF>
#include <QString>

#include <cmath>
#include <limits>
#include <optional>
#include <variant>

namespace tour {

// What a key path holds; monostate means "not given".
using Value = std::variant<std::monostate, double, QPointF, QRectF, QColor, QString>;

// A cubic Bézier timing curve from (0, 0) to (1, 1).
struct Easing {
    double x1 = 0, y1 = 0, x2 = 1, y2 = 1;

    static Easing linear() { return {0, 0, 1, 1}; }
    static Easing easeIn() { return {0.42, 0, 1, 1}; }
    static Easing easeOut() { return {0, 0, 0.58, 1}; }
    static Easing easeInEaseOut() { return {0.42, 0, 0.58, 1}; }
    static Easing standard() { return {0.25, 0.1, 0.25, 1}; }
    static Easing curve(double x1, double y1, double x2, double y2) { return {x1, y1, x2, y2}; }

    // The eased progress for a linear progress p in [0, 1].
    double operator()(double p) const;
};

inline constexpr double repeatForever = std::numeric_limits<double>::infinity();

struct Animation {
    enum class Kind { basic, keyframe, spring, group };

    Kind kind = Kind::basic;
    QString keyPath;

    // Absolute media time in seconds; 0 takes the time the animation is added. Inside a group the
    // begin time counts from the group's start instead.
    double beginTime = 0;
    // 0 means a quarter second alone, and the group's whole duration inside a group.
    double duration = 0;
    // 0 plays once; repeatForever repeats without end.
    double repeatCount = 0;
    bool autoreverses = false;
    bool fillBackwards = false;
    bool fillForwards = false;
    bool additive = false;
    // No timing function plays linearly.
    std::optional<Easing> timing;

    // basic
    Value from, to, by;
    // keyframe: keyTimes are fractions of the duration, one per value (evenly spread when absent);
    // timingFunctions ease each segment; discrete jumps from value to value.
    QList<Value> values;
    QList<double> keyTimes;
    QList<Easing> timingFunctions;
    bool discrete = false;
    // spring
    double mass = 1, stiffness = 100, damping = 10, initialVelocity = 0;
    // group
    QList<Animation> animations;

    static Animation basic(const QString& keyPath, Value from, Value to, double duration);
    static Animation keyframes(const QString& keyPath, QList<Value> values, QList<double> keyTimes, double duration);
    static Animation spring(const QString& keyPath, Value from, Value to, double mass, double stiffness,
                            double damping);
    static Animation group(QList<Animation> animations, double duration);

    // How long a spring takes until its swing stays within a thousandth of the distance.
    double settlingDuration() const;
    // The fraction of the way a spring has gone after the given seconds (overshoots above 1).
    double springFraction(double seconds) const;
};

} // namespace tour
