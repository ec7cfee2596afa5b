#include "ui/MenuPlacement.h"

#include <QEvent>
#include <QHash>
#include <QMenu>
#include <QPointer>
#include <QScreen>

#include <algorithm>

namespace MenuPlacement {

Place beside(const QRect& parent, const QRect& row, const QSize& size, const QRect& screen,
             std::optional<bool> parentWentLeft, const QList<QRect>& earlier) {
    const int right = parent.right() + 1;
    const int left = parent.left() - size.width();
    const int top = std::max(std::min(row.top(), screen.bottom() + 1 - size.height()), screen.top());
    const auto clear = [&](int x) {
        const QRect place(QPoint(x, top), size);
        return std::none_of(earlier.begin(), earlier.end(), [&](const QRect& menu) { return menu.intersects(place); });
    };
    const bool roomRight = right + size.width() - 1 <= screen.right() && clear(right);
    const bool roomLeft = left >= screen.left() && clear(left);
    bool goLeft = parentWentLeft.value_or(false) ? (roomLeft || !roomRight) : (!roomRight && roomLeft);
    if (!roomLeft && !roomRight) // the screen's edge holds it
        goLeft = parentWentLeft.value_or(parent.left() - screen.left() > screen.right() - parent.right());
    int x = goLeft ? left : right;
    x = std::clamp(x, screen.left(), std::max(screen.left(), screen.right() + 1 - size.width()));
    // The first row level with the opening row, moved up as far as the screen's bottom needs.
    return {QPoint(x, top), goLeft};
}

namespace {

class Placer : public QObject {
public:
    explicit Placer(QMenu* root) : QObject(root) { root->installEventFilter(this); }

    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* menu = qobject_cast<QMenu*>(watched);
        if (menu && event->type() == QEvent::Show) {
            watchSubmenus(menu);
            place(menu);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    // Submenus may be added after the menu was made, so they are looked for each time one opens.
    void watchSubmenus(QMenu* menu) {
        for (QAction* action : menu->actions())
            if (QMenu* sub = action->menu(); sub && !parents.contains(sub)) {
                parents.insert(sub, menu);
                sub->installEventFilter(this);
            }
    }

    void place(QMenu* menu) {
        const QPointer<QMenu> parent = parents.value(menu);
        if (!parent || !parent->isVisible())
            return;
        QAction* opener = nullptr;
        for (QAction* action : parent->actions())
            if (action->menu() == menu)
                opener = action;
        if (!opener)
            return;
        const QRect rowLocal = parent->actionGeometry(opener);
        const QRect row(parent->mapToGlobal(rowLocal.topLeft()), rowLocal.size());
        QScreen* screen = parent->screen();
        if (!screen)
            return;
        QList<QRect> earlier;
        for (QPointer<QMenu> m = parents.value(parent); m && m->isVisible(); m = parents.value(m))
            earlier.append(m->frameGeometry());
        const auto parentWent = wentLeft.constFind(parent);
        const Place at =
            beside(parent->frameGeometry(), row, menu->size(), screen->availableGeometry(),
                   parentWent == wentLeft.cend() ? std::nullopt : std::optional<bool>(*parentWent), earlier);
        wentLeft.insert(menu, at.leftwards);
        menu->move(at.topLeft);
    }

    QHash<QMenu*, QPointer<QMenu>> parents;
    QHash<QMenu*, bool> wentLeft;
};

} // namespace

void keepBeside(QMenu* menu) {
    if (menu)
        new Placer(menu);
}

} // namespace MenuPlacement
