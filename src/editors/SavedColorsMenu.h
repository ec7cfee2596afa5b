#pragma once
// Fills the panel menu's "Saved Annotate Colours" submenu each time it opens: one item per saved colour,
// which removes it, and "Remove All".

#include <QObject>

class Defaults;
class QMenu;

class SavedColorsMenu : public QObject {
    Q_OBJECT
public:
    static SavedColorsMenu& shared();
    // Makes this object fill the menu whenever it is about to show.
    void attach(QMenu* menu);
    // Rebuilds the menu from the saved colours of these settings.
    static void fill(QMenu* menu, Defaults& defaults);

private:
    SavedColorsMenu() = default;
};
