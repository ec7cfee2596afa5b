#include "editors/ColorGridView.h"

#include "editors/Annotation.h"
#include "ui/UI.h"

#include <QMenu>
#include <QMouseEvent>
#include <QPainter>

namespace {

constexpr double cell = 22, pitch = 30, margin = 12;
constexpr int columns = 6;

QRectF cellAt(int index, double top) {
    return QRectF(margin + (index % columns) * pitch, top + (index / columns) * pitch, cell, cell);
}

bool same(const QColor& a, const QColor& b) {
    return Annotation::sameColor(Annotation::Color::from(a), Annotation::Color::from(b));
}

} // namespace

ColorGridView::ColorGridView(const QList<QColor>& standard, const QList<QColor>& saved, const QColor& current,
                             QWidget* parent)
    : QWidget(parent), selected(current) {
    for (int i = 0; i < standard.size(); ++i)
        items.append({cellAt(i, margin), Standard{standard[i]}});
    const int rows = (int(standard.size()) + 5) / 6;
    const double savedTop = rows * pitch + margin + 6;
    divider = savedTop - 7;
    for (int j = 0; j < saved.size(); ++j)
        items.append({cellAt(j, savedTop), Saved{saved[j]}});
    const int n = int(saved.size());
    items.append({cellAt(n, savedTop), Custom{}});
    setFixedSize(196, int(savedTop + ((n + 6) / 6) * pitch - 8 + 12));
    setToolTip(QStringLiteral("Click a colour \u00B7 right-click a saved colour removes it"));
    setMouseTracking(true);
}

const ColorGridView::Item* ColorGridView::itemAt(QPointF point) const {
    for (const Item& item : items)
        if (item.rect.adjusted(-3, -3, 3, 3).contains(point))
            return &item;
    return nullptr;
}

void ColorGridView::click(QPointF point, bool remove) {
    const Item* item = itemAt(point);
    if (!item)
        return;
    const Kind kind = item->kind;
    // The menu goes first: a handler may open a window that the menu would otherwise sit over.
    for (QWidget* up = parentWidget(); up; up = up->parentWidget())
        if (auto* menu = qobject_cast<QMenu*>(up)) {
            menu->hide();
            break;
        }
    if (const auto* standard = std::get_if<Standard>(&kind)) {
        if (onPick)
            onPick(standard->color);
    } else if (const auto* saved = std::get_if<Saved>(&kind)) {
        if (remove) {
            if (onRemove)
                onRemove(saved->color);
        } else if (onPick) {
            onPick(saved->color);
        }
    } else if (onCustom) {
        onCustom();
    }
}

void ColorGridView::mousePressEvent(QMouseEvent* event) {
    const bool remove = event->button() == Qt::RightButton || (event->modifiers() & Qt::AltModifier);
    click(event->position(), remove);
    event->accept();
}

void ColorGridView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(QRectF(12, divider, width() - 24, 1), QColor(255, 255, 255, int(0.12 * 255)));
    for (const Item& item : items) {
        const QColor* colour = nullptr;
        if (const auto* standard = std::get_if<Standard>(&item.kind))
            colour = &standard->color;
        else if (const auto* saved = std::get_if<Saved>(&item.kind))
            colour = &saved->color;
        if (colour) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(*colour);
            painter.drawEllipse(item.rect);
            painter.setBrush(Qt::NoBrush);
            painter.setPen(QPen(QColor(255, 255, 255, int(0.35 * 255)), 1));
            painter.drawEllipse(item.rect.adjusted(0.5, 0.5, -0.5, -0.5));
            if (same(*colour, selected)) {
                painter.setPen(QPen(UI::accent(), 2));
                painter.drawEllipse(item.rect.adjusted(-3, -3, 3, 3));
            }
            continue;
        }
        const QColor ink(255, 255, 255, int(0.55 * 255));
        QPen dashed(ink, 1);
        dashed.setDashPattern({3, 2});
        painter.setBrush(Qt::NoBrush);
        painter.setPen(dashed);
        painter.drawEllipse(item.rect.adjusted(0.5, 0.5, -0.5, -0.5));
        QPen plus(ink, 1.5);
        plus.setCapStyle(Qt::RoundCap);
        painter.setPen(plus);
        const QPointF c = item.rect.center();
        painter.drawLine(c + QPointF(-5, 0), c + QPointF(5, 0));
        painter.drawLine(c + QPointF(0, -5), c + QPointF(0, 5));
    }
}
