#include "editors/SavedColorsMenu.h"

#include <QMenu>

SavedColorsMenu& SavedColorsMenu::shared() {
    static SavedColorsMenu menu;
    return menu;
}

void SavedColorsMenu::attach(QMenu* menu) {
    connect(menu, &QMenu::aboutToShow, this, [this, menu] { fill(menu); });
}

// The annotate editor's saved colours arrive with the editor; until then the list is empty.
void SavedColorsMenu::fill(QMenu* menu) { menu->clear(); }
