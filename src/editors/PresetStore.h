#pragma once
// The presets of both editors, one list kept as a compact JSON array under "picto.stylePresets". Nothing is
// cached: every read decodes the stored list afresh.

#include "editors/StylePreset.h"

#include <QList>

class Defaults;

class PresetStore {
public:
    PresetStore() = delete;

    static QString key();
    // Where stored data that could not be read is kept when a save replaces it.
    static QString unreadableKey();

    // The stored list; empty when nothing is stored or any element does not decode.
    static QList<StylePreset> all(const Defaults& defaults);
    static QList<StylePreset> all();
    // Writes the whole list. Stored data that does not decode is first kept under unreadableKey(), so one
    // damaged element never costs the user every preset. False when the settings could not be written.
    static bool setAll(const QList<StylePreset>& presets, Defaults& defaults);
    static bool setAll(const QList<StylePreset>& presets);
};
