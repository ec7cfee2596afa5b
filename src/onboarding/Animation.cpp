#include "onboarding/Animation.h"

#include <algorithm>

namespace tour {

namespace {

double bezier(double a, double b, double s) {
    // One coordinate of the cubic with end points 0 and 1 and inner control values a and b.
    const double inv = 1 - s;
    return 3 * inv * inv * s * a + 3 * inv * s * s * b + s * s * s;
}

double bezierSlope(double a, double b, double s) {
    const double inv = 1 - s;
    return 3 * inv * inv * a + 6 * inv * s * (b - a) + 3 * s * s * (1 - b);
}

} // namespace

double Easing::operator()(double p) const {
    if (p <= 0)
        return 0;
    if (p >= 1)
        return 1;
    if (x1 == y1 && x2 == y2)
        return p;
    // Find the curve parameter whose x is p: Newton first, bisection where the slope is flat.
    double s = p;
    for (int i = 0; i < 8; ++i) {
        const double err = bezier(x1, x2, s) - p;
        if (std::abs(err) < 1e-7)
            return bezier(y1, y2, s);
        const double slope = bezierSlope(x1, x2, s);
        if (std::abs(slope) < 1e-6)
            break;
        s -= err / slope;
    }
    double lo = 0, hi = 1;
    s = p;
    for (int i = 0; i < 40; ++i) {
        const double x = bezier(x1, x2, s);
        if (std::abs(x - p) < 1e-7)
            break;
        (x < p ? lo : hi) = s;
        s = (lo + hi) / 2;
    }
    return bezier(y1, y2, s);
}

Animation Animation::basic(const QString& keyPath, Value from, Value to, double duration) {
    Animation a;
    a.kind = Kind::basic;
    a.keyPath = keyPath;
    a.from = std::move(from);
    a.to = std::move(to);
    a.duration = duration;
    return a;
}

Animation Animation::keyframes(const QString& keyPath, QList<Value> values, QList<double> keyTimes, double duration) {
    Animation a;
    a.kind = Kind::keyframe;
    a.keyPath = keyPath;
    a.values = std::move(values);
    a.keyTimes = std::move(keyTimes);
    a.duration = duration;
    return a;
}

Animation Animation::spring(const QString& keyPath, Value from, Value to, double mass, double stiffness,
                            double damping) {
    Animation a;
    a.kind = Kind::spring;
    a.keyPath = keyPath;
    a.from = std::move(from);
    a.to = std::move(to);
    a.mass = mass;
    a.stiffness = stiffness;
    a.damping = damping;
    a.duration = a.settlingDuration();
    return a;
}

Animation Animation::group(QList<Animation> members, double duration) {
    Animation a;
    a.kind = Kind::group;
    a.animations = std::move(members);
    a.duration = duration;
    return a;
}

namespace {

struct SpringShape {
    double omega0 = 0; // undamped angular frequency
    double zeta = 0;   // damping ratio
};

SpringShape shapeOf(const Animation& a) {
    const double m = std::max(a.mass, 1e-6);
    const double k = std::max(a.stiffness, 1e-6);
    return {std::sqrt(k / m), std::max(a.damping, 0.0) / (2 * std::sqrt(k * m))};
}

} // namespace

double Animation::settlingDuration() const {
    const SpringShape s = shapeOf(*this);
    // The slowest decaying term of the motion sets the envelope.
    double rate = s.zeta < 1 ? s.zeta * s.omega0 : (s.zeta - std::sqrt(s.zeta * s.zeta - 1)) * s.omega0;
    if (rate <= 1e-9)
        return 60.0; // an undamped spring never settles: give it a minute
    return std::min(std::log(1000.0) / rate, 60.0);
}

double Animation::springFraction(double t) const {
    if (t <= 0)
        return 0;
    if (t >= settlingDuration())
        return 1;
    const SpringShape s = shapeOf(*this);
    const double w0 = s.omega0;
    const double z = s.zeta;
    // x is the remaining distance (1 at rest at the start), v0 the initial velocity towards the target.
    const double v0 = initialVelocity;
    double x = 0;
    if (z < 1) {
        const double wd = w0 * std::sqrt(1 - z * z);
        x = std::exp(-z * w0 * t) * (std::cos(wd * t) + (z * w0 - v0) / wd * std::sin(wd * t));
    } else if (z == 1) {
        x = std::exp(-w0 * t) * (1 + (w0 - v0) * t);
    } else {
        const double root = w0 * std::sqrt(z * z - 1);
        const double r1 = -z * w0 + root;
        const double r2 = -z * w0 - root;
        // x(0) = 1 and x'(0) = -v0.
        const double c2 = (-v0 - r1) / (r2 - r1);
        const double c1 = 1 - c2;
        x = c1 * std::exp(r1 * t) + c2 * std::exp(r2 * t);
    }
    return 1 - x;
}

} // namespace tour
