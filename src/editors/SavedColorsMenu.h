#pragma once
// Fills the panel menu's "Saved Annotate Colours" submenu each time it opens.

#include <QObject>

class QMenu;

class SavedColorsMenu : public QObject {
    Q_OBJECT
public:
    static SavedColorsMenu& shared();
    // Makes this object fill the menu whenever it is about to show.
    void attach(QMenu* menu);

private:
    SavedColorsMenu() = default;
    void fill(QMenu* menu);
};
