// Evaluating animations: where each one is in its own time, what value it gives there, and how that
// value lands on the layer's state.

#include "onboarding/Layer.h"

#include <algorithm>

namespace tour {

namespace {

constexpr double kDefaultDuration = 0.25;

double lerp(double a, double b, double p) {
    return a + (b - a) * p;
}

QColor lerpColor(const QColor& a, const QColor& b, double p) {
    // Colours may overshoot on a spring; keep the channels in range.
    const auto ch = [p](double x, double y) { return std::clamp(lerp(x, y, p), 0.0, 1.0); };
    const QColor from = a.isValid() ? a : QColor(0, 0, 0, 0);
    const QColor to = b.isValid() ? b : QColor(0, 0, 0, 0);
    return QColor::fromRgbF(float(ch(from.redF(), to.redF())), float(ch(from.greenF(), to.greenF())),
                            float(ch(from.blueF(), to.blueF())), float(ch(from.alphaF(), to.alphaF())));
}

Value interpolate(const Value& a, const Value& b, double p) {
    if (a.index() != b.index())
        return p < 1 ? a : b;
    if (const auto* x = std::get_if<double>(&a))
        return lerp(*x, std::get<double>(b), p);
    if (const auto* x = std::get_if<QPointF>(&a)) {
        const QPointF y = std::get<QPointF>(b);
        return QPointF(lerp(x->x(), y.x(), p), lerp(x->y(), y.y(), p));
    }
    if (const auto* x = std::get_if<QRectF>(&a)) {
        const QRectF y = std::get<QRectF>(b);
        return QRectF(lerp(x->x(), y.x(), p), lerp(x->y(), y.y(), p), lerp(x->width(), y.width(), p),
                      lerp(x->height(), y.height(), p));
    }
    if (const auto* x = std::get_if<QColor>(&a))
        return lerpColor(*x, std::get<QColor>(b), p);
    return p < 1 ? a : b;
}

Value plus(const Value& a, const Value& b) {
    if (a.index() != b.index())
        return b;
    if (const auto* x = std::get_if<double>(&a))
        return *x + std::get<double>(b);
    if (const auto* x = std::get_if<QPointF>(&a))
        return *x + std::get<QPointF>(b);
    if (const auto* x = std::get_if<QRectF>(&a)) {
        const QRectF y = std::get<QRectF>(b);
        return QRectF(x->x() + y.x(), x->y() + y.y(), x->width() + y.width(), x->height() + y.height());
    }
    if (const auto* x = std::get_if<QColor>(&a)) {
        const QColor y = std::get<QColor>(b);
        return QColor::fromRgbF(std::min(1.f, x->redF() + y.redF()), std::min(1.f, x->greenF() + y.greenF()),
                                std::min(1.f, x->blueF() + y.blueF()), std::min(1.f, x->alphaF() + y.alphaF()));
    }
    return b;
}

Value minus(const Value& a, const Value& b) {
    if (a.index() != b.index())
        return a;
    if (const auto* x = std::get_if<double>(&a))
        return *x - std::get<double>(b);
    if (const auto* x = std::get_if<QPointF>(&a))
        return *x - std::get<QPointF>(b);
    if (const auto* x = std::get_if<QRectF>(&a)) {
        const QRectF y = std::get<QRectF>(b);
        return QRectF(x->x() - y.x(), x->y() - y.y(), x->width() - y.width(), x->height() - y.height());
    }
    return a;
}

bool given(const Value& v) {
    return !std::holds_alternative<std::monostate>(v);
}

// Seconds into the current cycle of an animation (between 0 and its duration), or nothing when it
// has no effect at time t. parentDuration stands in for a missing duration inside a group.
std::optional<double> localTime(const Animation& a, double t, double fallbackDuration) {
    const double d = a.duration > 0 ? a.duration : fallbackDuration;
    if (d <= 0)
        return std::nullopt;
    const double cycle = a.autoreverses ? 2 * d : d;
    const double repeats = a.repeatCount > 0 ? a.repeatCount : 1;
    const double active = cycle * repeats;
    double tau = t - a.beginTime;
    if (tau < 0) {
        if (!a.fillBackwards)
            return std::nullopt;
        tau = 0;
    } else if (tau >= active) {
        if (!a.fillForwards)
            return std::nullopt;
        // The state at the very end of the last cycle.
        double within = std::fmod(active, cycle);
        if (within == 0)
            within = cycle;
        if (a.autoreverses && within > d)
            return cycle - within;
        return std::min(within, d);
    }
    double within = std::fmod(tau, cycle);
    if (a.autoreverses && within > d)
        within = cycle - within;
    return within;
}

Value keyframeValue(const Animation& a, double p) {
    const qsizetype n = a.values.size();
    if (n == 0)
        return {};
    if (n == 1)
        return a.values.first();
    QList<double> times = a.keyTimes;
    const bool usable = a.discrete ? (times.size() == n || times.size() == n + 1) : times.size() == n;
    if (!usable) {
        times.clear();
        const qsizetype gaps = a.discrete ? n : n - 1;
        for (qsizetype i = 0; i <= gaps; ++i)
            times.append(double(i) / double(gaps));
    }
    if (a.discrete) {
        qsizetype index = 0;
        for (qsizetype i = 0; i < std::min(n, times.size()); ++i)
            if (times.at(i) <= p)
                index = i;
        return a.values.at(index);
    }
    if (p <= times.first())
        return a.values.first();
    if (p >= times.last())
        return a.values.last();
    qsizetype i = 0;
    while (i + 1 < n && !(p < times.at(i + 1)))
        ++i;
    const double span = times.at(i + 1) - times.at(i);
    double local = span > 0 ? (p - times.at(i)) / span : 1;
    if (i < a.timingFunctions.size())
        local = a.timingFunctions.at(i)(local);
    return interpolate(a.values.at(i), a.values.at(i + 1), local);
}

void apply(const Animation& a, Props& props, double t, double fallbackDuration) {
    const std::optional<double> at = localTime(a, t, fallbackDuration);
    if (!at)
        return;
    const double d = a.duration > 0 ? a.duration : fallbackDuration;
    if (a.kind == Animation::Kind::group) {
        // Members count their begin times from the group's start and fill what they leave unset; the
        // group's timing function bends the time they all see.
        const double local = a.timing ? (*a.timing)(*at / d) * d : *at;
        for (const Animation& member : a.animations)
            apply(member, props, local, d);
        return;
    }
    const Value current = get(props, a.keyPath);
    if (!given(current))
        return;
    Value value;
    switch (a.kind) {
    case Animation::Kind::basic: {
        const double p = a.timing ? (*a.timing)(*at / d) : *at / d;
        Value from = a.from, to = a.to;
        if (!given(from) && !given(to) && given(a.by)) {
            from = a.additive ? Value(minus(current, current)) : current;
            to = plus(from, a.by);
        } else if (!given(from)) {
            from = given(a.by) ? minus(to, a.by) : (a.additive ? Value(minus(current, current)) : current);
        } else if (!given(to)) {
            to = given(a.by) ? plus(from, a.by) : (a.additive ? Value(minus(current, current)) : current);
        }
        value = interpolate(from, to, p);
        break;
    }
    case Animation::Kind::keyframe: {
        const double p = a.timing ? (*a.timing)(*at / d) : *at / d;
        value = keyframeValue(a, p);
        break;
    }
    case Animation::Kind::spring: {
        const Value from = given(a.from) ? a.from : current;
        const Value to = given(a.to) ? a.to : current;
        value = interpolate(from, to, a.springFraction(*at));
        break;
    }
    case Animation::Kind::group:
        break;
    }
    if (!given(value))
        return;
    set(props, a.keyPath, a.additive ? plus(current, value) : value);
}

} // namespace

Props presentation(const Layer& layer, double t) {
    Props props = layer.model;
    for (const auto& [key, animation] : layer.animations())
        apply(animation, props, t, kDefaultDuration);
    return props;
}

Value get(const Props& p, const QString& path) {
    if (path == u"position")
        return p.position;
    if (path == u"position.x")
        return p.position.x();
    if (path == u"position.y")
        return p.position.y();
    if (path == u"bounds")
        return p.bounds;
    if (path == u"bounds.size.width")
        return p.bounds.width();
    if (path == u"bounds.size.height")
        return p.bounds.height();
    if (path == u"anchorPoint")
        return p.anchorPoint;
    if (path == u"opacity")
        return p.opacity;
    if (path == u"transform.scale")
        return (p.transform.sx + p.transform.sy) / 2;
    if (path == u"transform.scale.x")
        return p.transform.sx;
    if (path == u"transform.scale.y")
        return p.transform.sy;
    if (path == u"transform.rotation" || path == u"transform.rotation.z")
        return p.transform.rotation;
    if (path == u"transform.translation")
        return QPointF(p.transform.tx, p.transform.ty);
    if (path == u"transform.translation.x")
        return p.transform.tx;
    if (path == u"transform.translation.y")
        return p.transform.ty;
    if (path == u"backgroundColor")
        return p.backgroundColor;
    if (path == u"borderColor")
        return p.borderColor;
    if (path == u"borderWidth")
        return p.borderWidth;
    if (path == u"cornerRadius")
        return p.cornerRadius;
    if (path == u"shadowOpacity")
        return p.shadowOpacity;
    if (path == u"shadowRadius")
        return p.shadowRadius;
    if (path == u"shadowOffset")
        return p.shadowOffset;
    if (path == u"fillColor")
        return p.fillColor;
    if (path == u"strokeColor")
        return p.strokeColor;
    if (path == u"lineWidth")
        return p.lineWidth;
    if (path == u"foregroundColor")
        return p.foregroundColor;
    if (path == u"fontSize")
        return p.fontSize;
    if (path == u"string")
        return p.string;
    return {};
}

bool set(Props& p, const QString& path, const Value& v) {
    const auto number = [&v](double& out) {
        if (const auto* x = std::get_if<double>(&v)) {
            out = *x;
            return true;
        }
        return false;
    };
    const auto point = [&v](QPointF& out) {
        if (const auto* x = std::get_if<QPointF>(&v)) {
            out = *x;
            return true;
        }
        return false;
    };
    const auto color = [&v](QColor& out) {
        if (const auto* x = std::get_if<QColor>(&v)) {
            out = *x;
            return true;
        }
        return false;
    };
    double x = 0;
    if (path == u"position")
        return point(p.position);
    if (path == u"position.x")
        return number(x) && (p.position.setX(x), true);
    if (path == u"position.y")
        return number(x) && (p.position.setY(x), true);
    if (path == u"bounds") {
        if (const auto* r = std::get_if<QRectF>(&v)) {
            p.bounds = *r;
            return true;
        }
        return false;
    }
    if (path == u"bounds.size.width")
        return number(x) && (p.bounds.setWidth(x), true);
    if (path == u"bounds.size.height")
        return number(x) && (p.bounds.setHeight(x), true);
    if (path == u"anchorPoint")
        return point(p.anchorPoint);
    if (path == u"opacity")
        return number(p.opacity);
    if (path == u"transform.scale")
        return number(x) && (p.transform.sx = p.transform.sy = x, true);
    if (path == u"transform.scale.x")
        return number(p.transform.sx);
    if (path == u"transform.scale.y")
        return number(p.transform.sy);
    if (path == u"transform.rotation" || path == u"transform.rotation.z")
        return number(p.transform.rotation);
    if (path == u"transform.translation") {
        QPointF t;
        return point(t) && (p.transform.tx = t.x(), p.transform.ty = t.y(), true);
    }
    if (path == u"transform.translation.x")
        return number(p.transform.tx);
    if (path == u"transform.translation.y")
        return number(p.transform.ty);
    if (path == u"backgroundColor")
        return color(p.backgroundColor);
    if (path == u"borderColor")
        return color(p.borderColor);
    if (path == u"borderWidth")
        return number(p.borderWidth);
    if (path == u"cornerRadius")
        return number(p.cornerRadius);
    if (path == u"shadowOpacity")
        return number(p.shadowOpacity);
    if (path == u"shadowRadius")
        return number(p.shadowRadius);
    if (path == u"shadowOffset")
        return point(p.shadowOffset);
    if (path == u"fillColor")
        return color(p.fillColor);
    if (path == u"strokeColor")
        return color(p.strokeColor);
    if (path == u"lineWidth")
        return number(p.lineWidth);
    if (path == u"foregroundColor")
        return color(p.foregroundColor);
    if (path == u"fontSize")
        return number(p.fontSize);
    if (path == u"string") {
        if (const auto* s = std::get_if<QString>(&v)) {
            p.string = *s;
            return true;
        }
        return false;
    }
    return false;
}

} // namespace tour
