#include "app/AppDelegate.h"

#include "card/ToolbarPrefsWindow.h"
#include "editors/SavedColorsMenu.h"
#include "library/FormatWheel.h"
#include "library/LibraryPanel.h"
#include "onboarding/Onboarding.h"
#include "platform/Defaults.h"
#include "platform/FileManager.h"
#include "platform/LoginItem.h"
#include "platform/Platform.h"
#include "shortcuts/ShortcutDialog.h"
#include "shortcuts/ShortcutRecorderView.h"
#include "text/TranslateModel.h"
#include "ui/Brand.h"
#include "ui/KeyRoute.h"
#include "ui/MenuPlacement.h"
#include "ui/SizeSliderView.h"
#include "ui/UI.h"

#include <QApplication>
#include <QCursor>
#include <QHash>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QSystemTrayIcon>
#include <QWidgetAction>

// The panel menu, built from scratch from the current settings every time it is attached.

namespace {

const QString kDot = QStringLiteral("  \u00b7  ");

// The shortcut an item shows and answers to: only for an enabled action whose key is one character, as a
// menu can show it.
std::optional<Shortcut> keyEquivalent(const AppDelegate::HotAction& action, const Defaults& defaults) {
    if (!action.enabled(defaults))
        return std::nullopt;
    const Shortcut shortcut = Shortcut::load(action.key, action.def, defaults);
    if (shortcut.keyName.size() != 1)
        return std::nullopt;
    return shortcut;
}

// QMenu right-aligns what follows a tab.
QString withKeyEquivalent(const QString& title, const std::optional<Shortcut>& equivalent) {
    return equivalent ? title + QLatin1Char('\t') + equivalent->display() : title;
}

const AppDelegate::HotAction& hotAction(const QString& key) {
    for (const AppDelegate::HotAction& action : AppDelegate::actions())
        if (action.key == key)
            return action;
    return AppDelegate::actions().first();
}

// The dark look of every window, for the menu and its submenus (they inherit the sheet).
QString menuStyle() {
    const auto css = [](const QColor& c) { return c.name(QColor::HexArgb); };
    QColor selected = Brand::green();
    selected.setAlphaF(0.22f);
    return QStringLiteral("QMenu { background: %1; color: %2; border: 1px solid %3; padding: 5px 0; }"
                          "QMenu::item { padding: 4px 22px 4px 24px; }"
                          "QMenu::item:selected { background: %4; }"
                          "QMenu::item:disabled { color: %5; }"
                          "QMenu::separator { height: 1px; background: %6; margin: 5px 10px; }"
                          "QMenu::indicator { width: 12px; height: 12px; left: 6px; }"
                          "QMenu::indicator:checked { image: none; background: %7; border-radius: 6px; }"
                          "QLabel { color: %2; }")
        .arg(css(Brand::surface()), css(Brand::text()), css(Brand::lineStrong()), css(selected), css(Brand::muted()),
             css(Brand::line()), css(Brand::green()));
}

// The wheel-key items move their check mark and leave the menu open, whether clicked or picked with a key: a
// choice among four is seen at once where it was made.
class PickInPlace : public QObject {
public:
    explicit PickInPlace(QMenu* menu) : QObject(menu) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* menu = static_cast<QMenu*>(parent());
        if (watched != menu)
            return false;
        QAction* item = nullptr;
        if (event->type() == QEvent::MouseButtonRelease) {
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() == Qt::LeftButton)
                item = menu->actionAt(mouse->position().toPoint());
        } else if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space)
                item = menu->activeAction();
        }
        if (!item || !item->isEnabled() || item->menu() || item->isSeparator())
            return false;
        item->trigger();
        return true;
    }
};

} // namespace

QMenu* AppDelegate::makeMenu() {
    auto* made = new QMenu();
    made->setObjectName(QStringLiteral("PanelMenu"));
    made->setStyleSheet(menuStyle());
    made->setFont(UI::font(13, QFont::Normal));
    const HotAction& captureAction = hotAction(QStringLiteral("capture"));
    const HotAction& libraryAction = hotAction(QStringLiteral("library"));
    const QString captureKeys = Shortcut::load(captureAction.key, captureAction.def, defaults).display();
    const QString libraryKeys = Shortcut::load(libraryAction.key, libraryAction.def, defaults).display();

    auto add = [&](QMenu* menu, const QString& title, auto slot) {
        QAction* item = menu->addAction(title);
        connect(item, &QAction::triggered, this, slot);
        return item;
    };

    // The hot actions' keys are grabbed screen-wide, but an open menu holds the keyboard and the grabs stay
    // silent: the menu answers to them itself.
    QHash<const QAction*, Shortcut> equivalents;
    const auto hotItem = [&](QAction* item, const HotAction& action) {
        item->setData(action.key);
        if (const std::optional<Shortcut> equivalent = keyEquivalent(action, defaults))
            equivalents.insert(item, *equivalent);
    };

    hotItem(add(made,
                withKeyEquivalent(QStringLiteral("Capture") + kDot + QStringLiteral("window under the cursor"),
                                  keyEquivalent(captureAction, defaults)),
                [this] { capture(); }),
            captureAction);
    add(made,
        QStringLiteral("Slice") + kDot + QStringLiteral("drag a selection  (hold ") + captureKeys + QLatin1Char(')'),
        [this] { captureRegion(); });
    hotItem(add(made,
                withKeyEquivalent(QStringLiteral("Basket") + kDot + QStringLiteral("your screenshots"),
                                  keyEquivalent(libraryAction, defaults)),
                [this] { showLibrary(); }),
            libraryAction);
    add(made,
        QStringLiteral("Latest") + kDot + QStringLiteral("open the newest as a card  (hold ") + libraryKeys +
            QLatin1Char(')'),
        [this] { showLatest(); });
    QAction* hint = made->addAction(
        QStringLiteral("Tools sit on the card at the cursor \u00b7 Open a file with Pictolarium to get its card"));
    hint->setEnabled(false);
    made->addSeparator();

    add(made, QStringLiteral("Open Pictolarium Folder") + kDot + QStringLiteral("~/Pictures/Pictolarium"),
        [this] { openFolder(); });
    made->addSeparator();

    QMenu* shortcuts = made->addMenu(QStringLiteral("Shortcuts"));
    for (const HotAction& action : actions()) {
        const bool on = action.enabled(defaults);
        const QString keys = Shortcut::load(action.key, action.def, defaults).display();
        QMenu* sub = shortcuts->addMenu(action.title + QStringLiteral("   ") + (on ? keys : QStringLiteral("off")));
        QAction* enabled = sub->addAction(QStringLiteral("Enabled"));
        enabled->setCheckable(true);
        enabled->setChecked(on);
        enabled->setData(action.key);
        connect(enabled, &QAction::triggered, this, [this, enabled] { toggleShortcutEnabled(enabled); });
        QAction* change = sub->addAction(QStringLiteral("Change Shortcut\u2026  ") + keys);
        change->setData(action.key);
        connect(change, &QAction::triggered, this, [this, change] { changeShortcut(change); });
    }

    add(made, QStringLiteral("Translation Language\u2026"), [this] { chooseLanguage(); });
    auto* slider = new QWidgetAction(made);
    slider->setDefaultWidget(new SizeSliderView(defaults));
    made->addAction(slider);
    add(made, QStringLiteral("Customize Toolbar\u2026"), [this] { customizeToolbar(); });
    QMenu* colours = made->addMenu(QStringLiteral("Saved Annotate Colours"));
    SavedColorsMenu::shared().attach(colours);

    QMenu* wheel = made->addMenu(QStringLiteral("Convert Wheel Key"));
    const qlonglong stored = defaults.integerValue(QStringLiteral("wheelModifier"));
    for (const FormatWheel::ModifierChoice& choice : FormatWheel::modifierChoices()) {
        QAction* item = wheel->addAction(choice.title + kDot + QStringLiteral("hold while dragging an image"));
        item->setCheckable(true);
        item->setData(qlonglong(choice.flag));
        item->setChecked(stored == 0 ? choice.flag == 0x20000 : choice.flag == stored);
        connect(item, &QAction::triggered, this, [this, item] { pickWheelKey(item); });
    }
    wheel->installEventFilter(new PickInPlace(wheel));
    made->addSeparator();

    QAction* login = add(made, QStringLiteral("Launch at Login"), [this] { toggleLogin(); });
    login->setCheckable(true);
    login->setChecked(LoginItem::isEnabled());
    add(made, QStringLiteral("Welcome Tour\u2026"), [this] { showTour(); });
    made->addSeparator();

    QAction* quit = made->addAction(QStringLiteral("Quit Pictolarium"));
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(quit, &QAction::triggered, qApp, &QApplication::quit, Qt::QueuedConnection);
    MenuPlacement::keepBeside(made);
    // Matched by key position, as the grabs are: Qt names a shifted key by what it types.
    KeyRoute::passShortcuts(made, [equivalents, keys = &platform.keys()](const QAction* item, const QKeyEvent& press) {
        const auto equivalent = equivalents.constFind(item);
        if (equivalent == equivalents.cend())
            return false;
        const std::optional<Shortcut> pressed = ShortcutRecorderView::shortcutFor(press, *keys);
        return pressed && pressed->keyCode == equivalent->keyCode && pressed->modifiers == equivalent->modifiers;
    });
    return made;
}

QMenu* AppDelegate::currentMenu() const {
    return menu;
}

void AppDelegate::showLibrary() {
    LibraryPanel::shared().toggle(QCursor::pos());
}

void AppDelegate::openFolder() {
    FileManager::showFolder(shotsFolder());
}

void AppDelegate::chooseLanguage() {
    TranslateModel::chooseDefault(false);
}

void AppDelegate::customizeToolbar() {
    ToolbarPrefsWindow::show();
}

void AppDelegate::showTour() {
    Onboarding::show(false);
}

void AppDelegate::pickWheelKey(QAction* sender) {
    bool ok = false;
    const qlonglong flag = sender ? sender->data().toLongLong(&ok) : 0;
    if (!ok)
        return;
    defaults.set(QStringLiteral("wheelModifier"), flag);
    const qlonglong stored = defaults.integerValue(QStringLiteral("wheelModifier"));
    // Only the check marks change: the menu stays as it is.
    if (auto* menu = qobject_cast<QMenu*>(sender->parent()))
        for (QAction* item : menu->actions()) {
            bool isNumber = false;
            const qlonglong value = item->data().toLongLong(&isNumber);
            item->setChecked(isNumber && value == stored);
        }
}

void AppDelegate::toggleLogin() {
    const QString failure =
        LoginItem::isEnabled() ? LoginItem::disable() : LoginItem::enable(QCoreApplication::applicationFilePath());
    if (!failure.isEmpty())
        ShortcutDialog::alert(QStringLiteral("Launch at Login"),
                              failure + QStringLiteral("\n\nThe entry lives in ~/.config/autostart, which must be "
                                                       "writable."));
    attachMenu(makeMenu());
}

QRect AppDelegate::statusItemGeometry() const {
    return statusItem ? statusItem->geometry() : QRect();
}
