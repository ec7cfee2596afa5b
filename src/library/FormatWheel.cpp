#include "library/FormatWheel.h"

FormatWheel& FormatWheel::shared() {
    static FormatWheel wheel;
    return wheel;
}

const QList<FormatWheel::ModifierChoice>& FormatWheel::modifierChoices() {
    static const QList<ModifierChoice> choices{
        {QStringLiteral("Shift"), 0x20000},
        {QStringLiteral("Alt"), 0x80000},
        {QStringLiteral("Ctrl"), 0x40000},
        {QStringLiteral("Super"), 0x100000},
    };
    return choices;
}

void FormatWheel::start() { watching = true; }
