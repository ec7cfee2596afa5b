// The two hot actions: their enabled flags, their global keys, tap and hold, and the change dialog.

#include "app/AppDelegate.h"

#include "library/LibraryPanel.h"
#include "platform/Defaults.h"
#include "platform/Dispatch.h"
#include "platform/Platform.h"
#include "shortcuts/HotKeys.h"
#include "shortcuts/ShortcutDialog.h"
#include "shortcuts/TapHold.h"

#include <QAction>
#include <QCursor>
#include <QPointer>

#include <cstdio>

namespace {

QString enabledKey(const QString& key) {
    return QStringLiteral("shortcut.enabled.") + key;
}

// End-to-end tests read which action ran from standard error.
void trace(const QString& line) {
    static const bool on = qEnvironmentVariableIsSet("PICTOLARIUM_TRACE");
    if (on)
        std::fprintf(stderr, "%s\n", qPrintable(line));
}

const AppDelegate::HotAction* actionFor(const QString& key) {
    for (const AppDelegate::HotAction& action : AppDelegate::actions())
        if (action.key == key)
            return &action;
    return nullptr;
}

} // namespace

bool AppDelegate::HotAction::enabled() const {
    return enabled(Defaults::standard());
}

bool AppDelegate::HotAction::enabled(const Defaults& store) const {
    return store.boolean(enabledKey(key)).value_or(true);
}

HotKeys& AppDelegate::registry() {
    if (!hotKeys)
        hotKeys = new HotKeys(platform.keys(), this);
    return *hotKeys;
}

TapHold& AppDelegate::machine() {
    if (!tapHold)
        tapHold = new TapHold(
            held, fired,
            [this](int ms, const QObject* owner, std::function<void()> block) {
                registry().settleThen(ms, owner, std::move(block));
            },
            [this](const QString& key) { runHotAction(key, false); },
            [this](const QString& key) { runHotAction(key, true); }, this);
    return *tapHold;
}

void AppDelegate::registerHotKeys() {
    for (const HotAction& action : actions()) {
        const QString key = action.key;
        if (tokens.contains(key)) {
            registry().unregister(tokens.take(key));
            machine().forget(key);
        }
        if (!action.enabled(defaults) || registerOne(action))
            continue;
        const Shortcut shortcut = Shortcut::load(key, action.def, defaults);
        const QString message = QStringLiteral("Couldn't register ") + shortcut.display();
        const QString informative =
            QStringLiteral("Another app probably uses that shortcut. Pick a different one for \u201c") + action.title +
            QStringLiteral("\u201d under Shortcuts in the menu.");
        trace(QStringLiteral("alert: ") + message + QStringLiteral(" | ") + informative);
        ShortcutDialog::alert(message, informative);
    }
}

bool AppDelegate::registerOne(const HotAction& action) {
    const QString key = action.key;
    const QPointer<AppDelegate> self(this);
    const std::optional<quint32> id = registry().registerShortcut(
        Shortcut::load(key, action.def, defaults),
        [self, key] {
            if (self)
                self->keyReleased(key);
        },
        [self, key] {
            if (self)
                self->keyPressed(key);
        });
    if (!id) {
        tokens.remove(key);
        return false;
    }
    tokens.insert(key, *id);
    return true;
}

void AppDelegate::retryRefusedHotKeys() {
    // A combination another program held may have been let go since: taken now without a word, as if it had
    // been free at start.
    for (const HotAction& action : actions())
        if (action.enabled(defaults) && !tokens.contains(action.key))
            registerOne(action);
}

void AppDelegate::keyPressed(const QString& key) {
    machine().keyPressed(key, registry().eventTime());
}

void AppDelegate::keyReleased(const QString& key) {
    machine().keyReleased(key, registry().eventTime());
}

void AppDelegate::runHotAction(const QString& key, bool hold) {
    trace(QStringLiteral("hot action: ") + key + (hold ? QStringLiteral(" hold") : QStringLiteral(" tap")));
    emit hotActionRan(key, hold);
    if (key == u"capture") {
        if (hold)
            captureRegion();
        else
            capture();
    } else if (hold) {
        showLatest();
    } else {
        LibraryPanel::shared().toggle(QCursor::pos());
    }
}

void AppDelegate::setEnabled(const QString& key, bool on) {
    defaults.set(enabledKey(key), on);
    registerHotKeys();
    attachMenu(makeMenu());
}

void AppDelegate::toggleShortcutEnabled(QAction* item) {
    const QVariant data = item ? item->data() : QVariant();
    if (data.typeId() != QMetaType::QString)
        return;
    const HotAction* action = actionFor(data.toString());
    if (!action)
        return;
    setEnabled(action->key, !action->enabled(defaults));
}

void AppDelegate::changeShortcut(QAction* item) {
    const QVariant data = item ? item->data() : QVariant();
    changeShortcut(data.typeId() == QMetaType::QString ? data.toString() : QString());
}

bool AppDelegate::changeShortcut(const QString& key) {
    const HotAction* action = actionFor(key);
    if (!action)
        return false;
    // Our other actions' combinations are refused in the recorder, by name, rather than reported later as taken
    // by another program.
    ShortcutDialog::Taken ours;
    for (const HotAction& other : actions())
        if (other.key != key)
            ours.append({other.title, Shortcut::load(other.key, other.def, defaults)});
    const ShortcutDialog::Result result = ShortcutDialog::run(action->title, Shortcut::load(key, action->def, defaults),
                                                              action->def, registry().keys(), ours);
    switch (result.kind) {
    case ShortcutDialog::Result::cancel:
        return false;
    case ShortcutDialog::Result::save:
        result.shortcut.save(key, defaults);
        break;
    case ShortcutDialog::Result::reset:
        defaults.remove(Shortcut::defaultsKey(key));
        break;
    }
    trace(QStringLiteral("shortcut of ") + key + QStringLiteral(": ") +
          Shortcut::load(key, action->def, defaults).display());
    registerHotKeys();
    attachMenu(makeMenu());
    return true;
}
