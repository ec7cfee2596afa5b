#pragma once
// The drag-to-convert wheel of formats, shown while an image is dragged with the wheel key held.

#include <QList>
#include <QString>

class Defaults;

class FormatWheel {
public:
    struct ModifierChoice {
        QString title;
        int flag;
    };

    static FormatWheel& shared();
    // The keys the user may choose to summon the wheel, as flags compatible with the stored
    // "wheelModifier" (absent or 0 means shift).
    static const QList<ModifierChoice>& modifierChoices();

    // The word of the chosen wheel key ("Shift", "Alt", "Ctrl", "Super"); Shift when nothing or
    // something unknown is stored.
    static QString modifierSymbol();
    static QString modifierSymbol(const Defaults& defaults);

    // Starts watching drags. Until the wheel is built this only records that it was asked to.
    void start();
    bool isWatching() const { return watching; }

private:
    FormatWheel() = default;
    bool watching = false;
};
