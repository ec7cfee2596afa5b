#pragma once
// How one basket tile looks and where its parts lie: the picture filling a rounded frame, the
// format badge at its bottom right with the edit and rename buttons beside it, the name below,
// the accent rim when selected and the sparkle of a file that just arrived.

#include "library/TileButton.h"

#include <QImage>
#include <QRectF>
#include <QStyledItemDelegate>

#include <functional>

class ShotGrid;

class ShotItem : public QStyledItemDelegate {
    Q_OBJECT
public:
    enum class Part { none, tile, edit, rename, badge };

    // Frames of a tile's parts, in the coordinates the tile is given in.
    struct Layout {
        QRectF thumb, badge, edit, rename, name;
    };
    static Layout layout(const QRectF& tile, const QString& badgeText);
    // The format badge's text: the format's title, else the upper-cased extension.
    static QString badgeText(const QString& file);
    // The file name without its extension.
    static QString displayName(const QString& file);
    static Part partAt(const QRectF& tile, const QString& file, QPointF point);

    // Sparkle: 0 at the start, 1 when over; the rim fades for 1.4 s, the star shows for 1.15 s.
    static constexpr int sparkleMs = 1400;

    explicit ShotItem(ShotGrid* grid);

    TileButton editButton{QStringLiteral("slider.horizontal.3"), QStringLiteral("Edit")};
    TileButton renameButton{QStringLiteral("character.cursor.ibeam"), QStringLiteral("Rename")};

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    ShotGrid* grid;
    QImage star;
};
