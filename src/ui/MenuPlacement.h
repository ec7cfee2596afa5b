#pragma once
// Where a submenu opens: beside the row that opens it, on the side its parent menu went (right to begin
// with), or on the other side when the screen has no room there; always inside the screen, and never over
// the menus before its parent.

#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>

#include <optional>

class QMenu;

namespace MenuPlacement {

struct Place {
    QPoint topLeft;
    bool leftwards = false; // the submenu went to the left of its parent
};

// `parent` is the parent menu's frame and `row` the opening row's, both on the screen; `parentWentLeft` is the
// side the parent itself went, unknown for a submenu of the menu at the top; `earlier` are the frames of the
// menus before the parent, which a side covering them has no room. With room on neither side a submenu goes on
// the way its parent went, held inside the screen: it may cover part of its parent, never the menus before.
// A submenu of the top menu then takes the wider side.
Place beside(const QRect& parent, const QRect& row, const QSize& size, const QRect& screen,
             std::optional<bool> parentWentLeft, const QList<QRect>& earlier = {});

// Places every submenu of `menu`, at any depth and whenever it opens, by beside().
void keepBeside(QMenu* menu);

} // namespace MenuPlacement
