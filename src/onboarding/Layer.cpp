#include "onboarding/Layer.h"

#include <algorithm>

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
