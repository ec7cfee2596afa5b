#include "app/MenuIcon.h"

#include "platform/TrayColors.h"
#include "ui/Brand.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <array>
#include <cmath>

namespace MenuIcon {

QImage draw(const QColor& color, double scale) {
    const int side = qRound(18 * scale);
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    // The geometry is laid out with y growing upwards around (9, 9); flip once here.
    p.scale(scale, scale);
    p.translate(0, 18);
    p.scale(1, -1);

    p.setPen(QPen(color, 1.5));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRectF(1.2, 1.2, 15.6, 15.6));

    const std::array<QPointF, 6> corners{QPointF(12.1177, 10.8), QPointF(9, 12.6),   QPointF(5.8823, 10.8),
                                         QPointF(5.8823, 7.2),   QPointF(9, 5.4),    QPointF(12.1177, 7.2)};
    QPainterPath hexagon;
    hexagon.moveTo(corners[0]);
    for (size_t i = 1; i < corners.size(); ++i)
        hexagon.lineTo(corners[i]);
    hexagon.closeSubpath();
    p.setPen(QPen(color, 1.2));
    p.drawPath(hexagon);

    p.setPen(QPen(color, 1.1));
    for (const QPointF& c : corners) {
        const double dx = c.x() - 9, dy = c.y() - 9;
        const double d = std::hypot(dx, dy);
        p.drawLine(c, QPointF(9 + dx / d * 7.4, 9 + dy / d * 7.4));
    }
    return image;
}

QColor panelTextColor(const TrayColors& tray) {
    if (const auto published = tray.foreground())
        return *published;
    // Most Linux panels are dark; the look's own text colour reads well on them.
    return Brand::text();
}

QIcon make(const QColor& color) {
    QIcon icon;
    for (double scale : {1.0, 4.0 / 3.0, 2.0, 3.0})
        icon.addPixmap(QPixmap::fromImage(draw(color, scale)));
    return icon;
}

QIcon make(const TrayColors& tray) { return make(panelTextColor(tray)); }

} // namespace MenuIcon
