#include "library/TileButton.h"

#include "ui/Symbols.h"

#include <QPainter>
#include <QPainterPath>

TileButton::TileButton(QString symbol, QString tip) : name(std::move(symbol)), tooltip(std::move(tip)) {
    QColor white(255, 255, 255);
    white.setAlphaF(0.92);
    glyph = Symbols::image(name, 10, white, 2.0);
}

void TileButton::paint(QPainter* painter, const QRectF& frame) const {
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(frame.adjusted(0.25, 0.25, -0.25, -0.25), 5, 5);
    painter->fillPath(path, QColor::fromRgbF(0.09f, 0.1f, 0.1f, 0.78f));
    QColor rim(255, 255, 255);
    rim.setAlphaF(0.18);
    painter->setPen(QPen(rim, 0.5));
    painter->drawPath(path);
    if (!glyph.isNull()) {
        const QSizeF size = QSizeF(glyph.size()) / glyph.devicePixelRatio();
        const QRectF target(frame.center() - QPointF(size.width() / 2, size.height() / 2), size);
        painter->setRenderHint(QPainter::SmoothPixmapTransform);
        painter->drawImage(target, glyph);
    }
    painter->restore();
}
