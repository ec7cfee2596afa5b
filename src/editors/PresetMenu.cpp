#include "editors/PresetMenu.h"

#include "editors/NamePrompt.h"
#include "editors/PresetStore.h"

#include <QMenu>
#include <QPointer>
#include <QTimer>

PresetMenu::PresetMenu(Kind kind, std::function<StylePreset(const QString&)> make,
                       std::function<void(const StylePreset&)> apply, QObject* parent)
    : QObject(parent), kind(kind), make(std::move(make)), apply(std::move(apply)) {}

QMenu* PresetMenu::darkMenu(QWidget* parent) {
    auto* menu = new QMenu(parent);
    menu->setStyleSheet(QStringLiteral("QMenu { background: #262626; color: white; border: 1px solid #3c3c3c; }"
                                       "QMenu::item { padding: 4px 18px 4px 8px; }"
                                       "QMenu::item:selected { background: #3d3d3d; }"
                                       "QMenu::item:checked { color: #9ad17a; font-weight: 600; }"
                                       "QMenu::item:disabled { color: #8a8a8a; }"
                                       "QMenu::separator { height: 1px; background: #3c3c3c; margin: 4px 6px; }"));
    return menu;
}

bool PresetMenu::ofKind(const StylePreset& preset) const {
    return kind == Kind::annotate ? preset.annotate.has_value() : preset.background.has_value();
}

QList<StylePreset> PresetMenu::mine() const {
    QList<StylePreset> list;
    for (const StylePreset& preset : PresetStore::all())
        if (ofKind(preset))
            list.append(preset);
    return list;
}

QMenu* PresetMenu::build(QWidget* parent) {
    QMenu* menu = darkMenu(parent);
    const QList<StylePreset> presets = mine();
    QPointer<PresetMenu> self(this);
    if (presets.isEmpty())
        menu->addAction(QStringLiteral("No presets yet"))->setEnabled(false);
    for (const StylePreset& preset : presets) {
        const QString id = preset.idString();
        menu->addAction(preset.name, this, [self, id] {
            if (self)
                self->applyItem(id);
        });
    }
    menu->addSeparator();
    menu->addAction(QStringLiteral("Save current style\u2026"), this, [self] {
        // After the menu has gone: the prompt runs its own loop.
        QTimer::singleShot(0, self, [self] {
            if (self)
                self->saveCurrent();
        });
    });
    if (!presets.isEmpty()) {
        QMenu* remove = darkMenu(menu);
        remove->setTitle(QStringLiteral("Delete preset"));
        for (const StylePreset& preset : presets) {
            const QString id = preset.idString();
            remove->addAction(preset.name, this, [self, id] {
                if (self)
                    self->deleteItem(id);
            });
        }
        menu->addMenu(remove);
    }
    return menu;
}

void PresetMenu::show(QWidget* from) {
    QMenu* menu = build(from);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(from->mapToGlobal(QPoint(0, from->height() + 6)));
}

void PresetMenu::applyItem(const QString& id) {
    for (const StylePreset& preset : PresetStore::all())
        if (preset.idString() == id) {
            if (apply)
                apply(preset);
            return;
        }
}

void PresetMenu::deleteItem(const QString& id) {
    QList<StylePreset> list = PresetStore::all();
    list.removeIf([&](const StylePreset& preset) { return preset.idString() == id; });
    PresetStore::setAll(list);
}

void PresetMenu::saveCurrent() {
    const std::optional<QString> name = NamePrompt::ask(QStringLiteral("Name this style"),
                                                        kind == Kind::annotate ? QStringLiteral("e.g. Brand red")
                                                                               : QStringLiteral("e.g. Blog backdrop"),
                                                        QStringLiteral("Save"));
    if (name)
        save(*name);
}

void PresetMenu::save(const QString& name) {
    QList<StylePreset> list = PresetStore::all();
    const StylePreset made = make(name);
    for (StylePreset& old : list) {
        if (ofKind(old) && old.name.compare(name, Qt::CaseInsensitive) == 0) {
            old.name = name;
            if (made.annotate)
                old.annotate = made.annotate;
            if (made.background)
                old.background = made.background;
            PresetStore::setAll(list);
            return;
        }
    }
    list.append(made);
    PresetStore::setAll(list);
}
