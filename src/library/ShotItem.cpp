#include "library/ShotItem.h"

#include "imaging/ImageFormat.h"
#include "library/ShotGrid.h"
#include "ui/Symbols.h"
#include "ui/UI.h"

#include <QEasingCurve>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QUrl>

#include <algorithm>

namespace {

QFont badgeFont() {
    QFont font = UI::monoFont(9.5);
    font.setWeight(QFont::DemiBold);
    return font;
}

} // namespace

ShotItem::ShotItem(ShotGrid* grid) : QStyledItemDelegate(grid), grid(grid) {
    star = Symbols::image(QStringLiteral("sparkles"), 16, UI::accent(), 2.0);
}

QString ShotItem::badgeText(const QString& file) {
    if (const auto format = ImageFormat::of(QUrl::fromLocalFile(file)))
        return format->title();
    return QFileInfo(file).suffix().toUpper();
}

QString ShotItem::displayName(const QString& file) {
    const QString name = QFileInfo(file).fileName();
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot > 0 ? name.left(dot) : name;
}

ShotItem::Layout ShotItem::layout(const QRectF& tile, const QString& badge) {
    Layout parts;
    parts.thumb = tile.adjusted(4, 4, -4, -26);
    const double badgeWidth = badge.isEmpty() ? 0 : QFontMetricsF(badgeFont()).horizontalAdvance(badge) + 12;
    parts.badge = QRectF(parts.thumb.right() - badgeWidth - 8, parts.thumb.bottom() - 8 - 18, badgeWidth, 18);
    parts.edit = QRectF(parts.badge.left() - 6 - 26, parts.badge.top(), 26, 18);
    parts.rename = QRectF(parts.edit.left() - 4 - 26, parts.badge.top(), 26, 18);
    parts.name = QRectF(tile.left() + 8, parts.thumb.bottom() + 5, tile.width() - 16, 16);
    return parts;
}

ShotItem::Part ShotItem::partAt(const QRectF& tile, const QString& file, QPointF point) {
    if (!tile.contains(point))
        return Part::none;
    const Layout parts = layout(tile, badgeText(file));
    if (parts.edit.contains(point))
        return Part::edit;
    if (parts.rename.contains(point))
        return Part::rename;
    if (parts.badge.width() > 0 && parts.badge.contains(point))
        return Part::badge;
    return Part::tile;
}

QSize ShotItem::sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const {
    return grid->tileSize() + QSize(ShotGrid::spacing, ShotGrid::spacing);
}

void ShotItem::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    const double half = ShotGrid::spacing / 2.0;
    const QRectF tile = QRectF(option.rect).adjusted(half, half, -half, -half);
    const QString file = index.data().toString();
    const QString badge = badgeText(file);
    const Layout parts = layout(tile, badge);
    const bool selected = option.state & QStyle::State_Selected;

    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setRenderHint(QPainter::SmoothPixmapTransform);

    // The picture, covering its frame; without one a faint empty frame.
    QPainterPath frame;
    frame.addRoundedRect(parts.thumb, 8, 8);
    const QImage picture = grid->thumbnailFor(file);
    if (picture.isNull()) {
        painter->fillPath(frame, QColor(255, 255, 255, 14));
    } else {
        painter->save();
        painter->setClipPath(frame);
        // A document page renders clear where nothing is printed: it lies on paper.
        if (badge == u"PDF")
            painter->fillRect(parts.thumb, Qt::white);
        const QSizeF size = QSizeF(picture.size()).scaled(parts.thumb.size(), Qt::KeepAspectRatioByExpanding);
        const QRectF target(parts.thumb.center() - QPointF(size.width() / 2, size.height() / 2), size);
        painter->drawImage(target, picture);
        painter->restore();
    }

    if (!badge.isEmpty()) {
        QPainterPath pill;
        pill.addRoundedRect(parts.badge, 5, 5);
        painter->fillPath(pill, QColor::fromRgbF(0.09f, 0.1f, 0.1f, 0.78f));
        painter->setFont(badgeFont());
        QColor white(255, 255, 255);
        white.setAlphaF(0.92);
        painter->setPen(white);
        painter->drawText(parts.badge, Qt::AlignCenter, badge);
    }
    editButton.paint(painter, parts.edit);
    renameButton.paint(painter, parts.rename);

    painter->setFont(UI::font(11, QFont::Medium));
    painter->setPen(QColor(255, 255, 255, 140));
    const QString name = displayName(file);
    painter->drawText(parts.name, Qt::AlignHCenter | Qt::AlignTop,
                      painter->fontMetrics().elidedText(name, Qt::ElideMiddle, int(parts.name.width())));

    // The rim: the accent when selected, over which a new tile's rim fades from the accent.
    QPainterPath rim;
    rim.addRoundedRect(tile.adjusted(1.25, 1.25, -1.25, -1.25), 12, 12);
    if (selected) {
        painter->setPen(QPen(UI::accent(), 2.5));
        painter->drawPath(rim);
    }
    const double sparkle = grid->sparkleProgress(file);
    if (sparkle >= 0 && sparkle < 1) {
        QColor fading = UI::accent();
        fading.setAlphaF(1.0 - QEasingCurve(QEasingCurve::OutCubic).valueForProgress(sparkle));
        painter->setPen(QPen(fading, 2.5));
        painter->drawPath(rim);
        // The star fades in for 0.25 s and out for 0.9 s, at the top left.
        const double ms = sparkle * sparkleMs;
        const double alpha = ms < 250 ? ms / 250 : std::max(0.0, 1.0 - (ms - 250) / 900);
        if (alpha > 0 && !star.isNull()) {
            painter->setOpacity(alpha);
            painter->drawImage(QRectF(tile.left() + 12, tile.top() + 10, 22, 22), star);
        }
    }
    painter->restore();
}
