#pragma once
// One key combination of a global hot action: a key position code, the modifier mask in the
// stored convention (command 0x100, shift 0x200, option 0x800, control 0x1000) and the key's name.
// Command is the Super key here.

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <optional>

class Defaults;

struct Shortcut {
    enum Mask : int { command = 0x100, shift = 0x200, option = 0x800, control = 0x1000 };

    int keyCode = 0;
    int modifiers = 0;
    QString keyName;

    bool operator==(const Shortcut&) const = default;

    // "Super+Shift+D": the modifiers present as words (Super, Ctrl, Alt, Shift in that order), then the key.
    QString display() const;
    // The modifiers alone, as display() writes them, each followed by "+".
    static QString modifierWords(int modifiers);

    // The stored form: {"keyCode":2,"modifiers":768,"keyName":"D"}, keys in this order.
    QByteArray json() const;
    // Nothing when the data is not such an object: not JSON, a key missing, or a value of another type.
    static std::optional<Shortcut> fromJson(const QByteArray& data);

    // Stored under "shortcut." + action key.
    void save(const QString& key) const;
    void save(const QString& key, Defaults& defaults) const;
    // The stored shortcut, or def when nothing usable is stored (the stored data is left alone).
    static Shortcut load(const QString& key, const Shortcut& def);
    static Shortcut load(const QString& key, const Shortcut& def, const Defaults& defaults);
    static QString defaultsKey(const QString& key) { return QStringLiteral("shortcut.") + key; }

    // Which key presses make a combination: Super, Alt or Ctrl is needed (Shift alone is not
    // enough) unless the key is a function key. characters is what the key types without
    // modifiers. Nothing when the press is not acceptable.
    static std::optional<Shortcut> fromKey(int keyCode, int modifiers, const QString& characters);

    // Names of keys that type nothing readable, by key code.
    static const QHash<int, QString>& keyNames();
    // F1 to F19: acceptable without modifiers.
    static const QList<int>& functionKeyCodes();
};
