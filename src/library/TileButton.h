#pragma once
// A small rounded symbol button painted on a basket tile (edit, rename). Tiles are painted, not
// widgets, so the button is only a look and a place; the grid tests presses against it.

#include <QImage>
#include <QRectF>
#include <QString>

class QPainter;

class TileButton {
public:
    TileButton(QString symbol, QString tip);

    QString symbol() const { return name; }
    QString tip() const { return tooltip; }
    // Dark glass with a faint white rim and the symbol in white; a missing symbol leaves the glass bare.
    void paint(QPainter* painter, const QRectF& frame) const;

private:
    QString name;
    QString tooltip;
    QImage glyph; // drawn once, at twice the size for sharp edges
};
