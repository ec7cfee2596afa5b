#include "ui/Brand.h"

#include <QLinearGradient>
#include <QPainter>

namespace Brand {

QColor green() { return QColor(0xA6, 0xD2, 0x6B); }
QColor greenHi() { return QColor(0xC4, 0xEA, 0x8E); }
QColor greenLow() { return QColor(0x8C, 0xBD, 0x52); }
QColor greenDeep() { return QColor(0x5A, 0x8F, 0x45); }
QColor onGreen() { return QColor(0x0D, 0x14, 0x08); }
QColor background() { return QColor(0x07, 0x08, 0x07); }
QColor surface() { return QColor(0x0C, 0x0E, 0x0B); }
QColor text() { return QColor(0xF1, 0xF4, 0xEC); }
QColor muted() { return QColor(0x8A, 0x92, 0x82); }
QColor line() { return QColor(255, 255, 255, qRound(0.08 * 255)); }
QColor lineStrong() { return QColor(255, 255, 255, qRound(0.14 * 255)); }

namespace {
QColor withAlpha(QColor c, double alpha) {
    c.setAlphaF(float(alpha));
    return c;
}
} // namespace

void fillPrimary(QPainter& painter, const QPainterPath& path, const QRectF& rect, bool pressed) {
    const double alpha = pressed ? 0.85 : 1.0;
    painter.save();
    QLinearGradient gradient(rect.topLeft(), rect.bottomLeft());
    gradient.setColorAt(0.0, withAlpha(greenHi(), alpha));
    gradient.setColorAt(0.55, withAlpha(green(), alpha));
    gradient.setColorAt(1.0, withAlpha(greenLow(), alpha));
    painter.fillPath(path, gradient);

    painter.save();
    painter.setClipPath(path);
    painter.fillRect(QRectF(rect.left(), rect.top(), rect.width(), 1.0), withAlpha(Qt::white, 0.55));
    painter.restore();

    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(withAlpha(greenDeep(), 0.6), 1.0));
    painter.drawPath(path);
    painter.restore();
}

} // namespace Brand
