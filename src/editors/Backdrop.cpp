#include "editors/Backdrop.h"

#include <QIconEngine>
#include <QLinearGradient>
#include <QPainter>
#include <QPixmap>

#include <cmath>

namespace {

Backdrop::Fill two(const char* name, QRgb first, QRgb second, double angle) {
    return {QString::fromLatin1(name), QList<QColor>{QColor(first), QColor(second)}, angle};
}

// Draws the swatch at whatever size and device ratio the menu asks for.
class SwatchEngine : public QIconEngine {
public:
    explicit SwatchEngine(Backdrop::Fill fill) : fill(std::move(fill)) {}
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode, QIcon::State) override {
        Backdrop::paintSwatch(*painter, rect, fill);
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        QPixmap pixmap(size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        paint(&painter, QRect(QPoint(0, 0), size), mode, state);
        return pixmap;
    }
    QIconEngine* clone() const override { return new SwatchEngine(fill); }

private:
    Backdrop::Fill fill;
};

} // namespace

const QList<Backdrop::Fill>& Backdrop::all() {
    static const QList<Fill> fills{
        two("Sage", 0xA8D5C2, 0x5E8F7F, 315),
        two("Sunset", 0xFFB88C, 0xDE6262, 315),
        two("Ocean", 0x74EBD5, 0x9FACE6, 315),
        two("Lavender", 0xC9B8F0, 0x8E7CC3, 315),
        two("Peach", 0xFFECD2, 0xFCB69F, 315),
        two("Midnight", 0x3A4A7A, 0x12162B, 315),
        two("Aurora", 0xA8EDEA, 0xFED6E3, 315),
        two("Candy", 0xF6D365, 0xFDA085, 315),
        two("Slate", 0x485563, 0x29323C, 315),
        two("Mist", 0xE8EEFB, 0xC5D5F0, 315),
        two("Citrus", 0xD4FC79, 0x96E6A1, 315),
        two("Rose", 0xFBC2EB, 0xA6C1EE, 315),
        two("White", 0xFFFFFF, 0xFFFFFF, 0),
        two("Black", 0x141414, 0x141414, 0),
        Fill{QStringLiteral("Transparent"), std::nullopt, 0},
    };
    return fills;
}

Backdrop::Fill Backdrop::flat(const QColor& color, const QString& name) {
    return Fill{name, QList<QColor>{color, color}, 0};
}

QLinearGradient Backdrop::gradient(const QRectF& rect, const QList<QColor>& colors, double angle) {
    const double a = angle * M_PI / 180.0;
    const double dx = std::cos(a);
    // Turned once from y-up degrees to our y-down coordinates.
    const double dy = -std::sin(a);
    const double half = (rect.width() * std::abs(dx) + rect.height() * std::abs(dy)) / 2;
    const QPointF mid = rect.center();
    QLinearGradient gradient(mid - QPointF(dx * half, dy * half), mid + QPointF(dx * half, dy * half));
    gradient.setSpread(QGradient::PadSpread);
    const int last = int(colors.size()) - 1;
    for (int i = 0; i <= last; ++i)
        gradient.setColorAt(last > 0 ? double(i) / last : 0.0, colors[i]);
    return gradient;
}

void Backdrop::paintSwatch(QPainter& painter, const QRectF& rect, const Fill& fill) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF oval = rect.adjusted(1, 1, -1, -1);
    if (fill.colors && !fill.colors->isEmpty())
        painter.setBrush(gradient(oval, *fill.colors, fill.angle));
    else
        painter.setBrush(QColor(255, 255, 255, int(0.15 * 255)));
    painter.setPen(QPen(QColor(255, 255, 255, int(0.5 * 255)), 1));
    painter.drawEllipse(oval);
    painter.restore();
}

QIcon Backdrop::swatch(const Fill& fill, double size) {
    QIcon icon(new SwatchEngine(fill));
    // The menu asks for the size it was given; a pixmap of it is made on demand.
    Q_UNUSED(size);
    return icon;
}
