#pragma once
// The colour menu's grid: the palette, a divider, the saved colours and a "+" cell for any other colour.
// A click closes the menu that hosts the grid, then reports the pick; a right-click or an Alt-click on a
// saved colour removes it.

#include <QColor>
#include <QList>
#include <QRectF>
#include <QWidget>

#include <functional>
#include <variant>

class ColorGridView : public QWidget {
    Q_OBJECT
public:
    struct Standard {
        QColor color;
    };
    struct Saved {
        QColor color;
    };
    struct Custom {};
    using Kind = std::variant<Standard, Saved, Custom>;
    struct Item {
        QRectF rect;
        Kind kind;
    };

    ColorGridView(const QList<QColor>& standard, const QList<QColor>& saved, const QColor& selected,
                  QWidget* parent = nullptr);

    QList<Item> items;
    QColor selected;
    double divider = 0;
    std::function<void(const QColor&)> onPick;
    std::function<void()> onCustom;
    std::function<void(const QColor&)> onRemove;

    // The item a click at this point lands on: the first whose cell, grown by 3, holds it.
    const Item* itemAt(QPointF point) const;
    // What a click does; `remove` is a right-click or a click with Alt held.
    void click(QPointF point, bool remove);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
};
