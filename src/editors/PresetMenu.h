#pragma once
// The style preset menu of one editor: its presets to apply, "Save current style…" and "Delete preset".
// The editor hands in how to capture its style under a name and how to apply a preset.

#include "editors/StylePreset.h"

#include <QList>
#include <QObject>

#include <functional>

class QMenu;
class QWidget;

class PresetMenu : public QObject {
    Q_OBJECT
public:
    enum class Kind { annotate, background };

    PresetMenu(Kind kind, std::function<StylePreset(const QString&)> make,
               std::function<void(const StylePreset&)> apply, QObject* parent = nullptr);

    // Builds the menu afresh and pops it up 6 pixels below the button.
    void show(QWidget* from);
    // The menu as show() pops it up; the caller owns it.
    QMenu* build(QWidget* parent);

    void applyItem(const QString& id);
    void deleteItem(const QString& id);
    // Asks for a name and stores the current style under it, replacing a preset of this kind whose name
    // differs only in case.
    void saveCurrent();
    // The saving itself, once a name is known.
    void save(const QString& name);

    // A menu with the editors' dark look.
    static QMenu* darkMenu(QWidget* parent);

    const Kind kind;

private:
    QList<StylePreset> mine() const;
    bool ofKind(const StylePreset& preset) const;

    std::function<StylePreset(const QString&)> make;
    std::function<void(const StylePreset&)> apply;
};
