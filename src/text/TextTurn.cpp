// Turning pictures and the boxes found on them.

#include "text/TextTurn.h"

#include <QTransform>

namespace TextVision {

QImage turned(const QImage& image, int degrees) {
    degrees = ((degrees % 360) + 360) % 360;
    return degrees == 0 ? image : image.transformed(QTransform().rotate(degrees));
}

QRectF unturned(const QRectF& box, int degrees) {
    degrees = ((degrees % 360) + 360) % 360;
    // Corners with the origin at the top left, each carried back by the opposite turn.
    const QPointF a(box.left(), 1 - box.bottom()), b(box.right(), 1 - box.top());
    const auto back = [degrees](QPointF p) {
        switch (degrees) {
        case 90:
            return QPointF(p.y(), 1 - p.x());
        case 180:
            return QPointF(1 - p.x(), 1 - p.y());
        case 270:
            return QPointF(1 - p.y(), p.x());
        default:
            return p;
        }
    };
    const QRectF topDown = QRectF(back(a), back(b)).normalized();
    return QRectF(topDown.left(), 1 - topDown.bottom(), topDown.width(), topDown.height());
}

} // namespace TextVision
