#include "onboarding/Layer.h"

#include <algorithm>
#include <cmath>

namespace tour {

QTransform Transform::matrix() const {
    QTransform m;
    m.translate(tx, ty);
    m.rotateRadians(rotation);
    m.scale(sx, sy);
    return m;
}

void Layer::setFrame(const QRectF& rect) {
    model.bounds = QRectF(model.bounds.topLeft(), rect.size());
    model.position =
        QPointF(rect.x() + model.anchorPoint.x() * rect.width(), rect.y() + model.anchorPoint.y() * rect.height());
}

QRectF Layer::frame() const {
    const QSizeF size = model.bounds.size();
    return QRectF(model.position.x() - model.anchorPoint.x() * size.width(),
                  model.position.y() - model.anchorPoint.y() * size.height(), size.width(), size.height());
}

void Layer::addSublayer(const std::shared_ptr<Layer>& layer) {
    if (!layer || layer.get() == this)
        return;
    layer->removeFromSuperlayer();
    layer->parent = this;
    children.append(layer);
}

void Layer::insertSublayer(const std::shared_ptr<Layer>& layer, qsizetype index) {
    if (!layer || layer.get() == this)
        return;
    layer->removeFromSuperlayer();
    layer->parent = this;
    children.insert(std::clamp<qsizetype>(index, 0, children.size()), layer);
}

namespace {

// splitmix64: a well-spread number for every (seed, particle, draw).
double unit(quint64 seed, quint64 particle, quint64 draw) {
    quint64 z = seed + 0x9E3779B97F4A7C15ull * (particle * 8 + draw + 1);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    return double(z >> 11) / double(1ull << 53);
}

} // namespace

QList<Particle> particles(const Layer& layer, double t) {
    QList<Particle> out;
    const double age = t - layer.emitterBegin;
    if (layer.type != Layer::Type::emitter || age <= 0)
        return out;
    for (qsizetype c = 0; c < layer.cells.size(); ++c) {
        const Layer::EmitterCell& cell = layer.cells.at(c);
        if (cell.birthRate <= 0 || cell.lifetime <= 0)
            continue;
        const quint64 seed = layer.seed * 1000003ull + quint64(c);
        // Particle k is born at k / birthRate; those younger than their lifetime are alive.
        const qint64 last = qint64(std::floor(age * cell.birthRate));
        const qint64 first = std::max<qint64>(0, qint64(std::ceil((age - cell.lifetime) * cell.birthRate)));
        for (qint64 k = first; k <= last; ++k) {
            const double lived = age - double(k) / cell.birthRate;
            if (lived < 0 || lived >= cell.lifetime)
                continue;
            const auto spread = [&](int draw) { return 2 * unit(seed, quint64(k), quint64(draw)) - 1; };
            const double alpha = cell.alpha + cell.alphaSpeed * lived;
            if (alpha <= 0)
                continue;
            const double speed = cell.velocity + cell.velocityRange * spread(2);
            const double angle = cell.emissionLongitude + cell.emissionRange * spread(3);
            const QPointF start(layer.emitterPosition.x() + layer.emitterSize.width() / 2 * spread(0),
                                layer.emitterPosition.y() + layer.emitterSize.height() / 2 * spread(1));
            Particle p;
            p.position = start + QPointF(std::cos(angle), std::sin(angle)) * speed * lived;
            p.scale = std::max(0.0, cell.scale + cell.scaleRange * spread(4));
            p.alpha = std::min(alpha, 1.0);
            p.cell = int(c);
            out.append(p);
        }
    }
    return out;
}

void Layer::removeFromSuperlayer() {
    if (!parent)
        return;
    Layer* from = parent;
    parent = nullptr;
    // The parent's list may hold the last reference: keep this layer alive until we return.
    auto& list = from->children;
    const auto it = std::find_if(list.begin(), list.end(), [this](const auto& p) { return p.get() == this; });
    if (it != list.end()) {
        const std::shared_ptr<Layer> keep = *it;
        list.erase(it);
    }
}

void Layer::removeAllSublayers() {
    const QList<std::shared_ptr<Layer>> old = std::exchange(children, {});
    for (const auto& child : old)
        child->parent = nullptr;
}

void Layer::addAnimation(const QString& key, Animation animation, double now) {
    removeAnimation(key);
    if (animation.beginTime == 0)
        animation.beginTime = now;
    running.append({key, std::move(animation)});
}

void Layer::removeAnimation(const QString& key) {
    running.removeIf([&key](const auto& entry) { return entry.first == key; });
}

const Animation* Layer::animation(const QString& key) const {
    for (const auto& entry : running)
        if (entry.first == key)
            return &entry.second;
    return nullptr;
}

} // namespace tour
