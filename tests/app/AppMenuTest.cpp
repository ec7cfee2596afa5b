#include "app/AppDelegate.h"
#include "platform/Defaults.h"
#include "platform/LoginItem.h"
#include "platform/fake/FakeGlobalKeys.h"
#include "platform/fake/FakePlatform.h"
#include "shortcuts/HotKeys.h"

#include <QFileInfo>
#include <QKeyEvent>
#include <QMenu>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWidgetAction>
#include <gtest/gtest.h>

#include <string_view>

namespace {

struct Fixture {
    Fixture() : defaults(dir.path(), QStringLiteral("test")), registry(keys), delegate(defaults, platform) {
        delegate.hotKeys = &registry;
    }
    QStringList titles(QMenu* menu) {
        QStringList out;
        for (QAction* a : menu->actions())
            out << (a->isSeparator()                  ? QStringLiteral("---")
                    : qobject_cast<QWidgetAction*>(a) ? QStringLiteral("[slider]")
                                                      : a->text());
        return out;
    }
    QAction* find(QMenu* menu, const QString& prefix) {
        for (QAction* a : menu->actions())
            if (a->text().startsWith(prefix))
                return a;
        return nullptr;
    }
    QTemporaryDir dir;
    Defaults defaults;
    FakeGlobalKeys keys;
    HotKeys registry;
    FakePlatform platform;
    AppDelegate delegate;
};

} // namespace

TEST(PanelMenu, ListsEveryItemInOrderWithTheCurrentShortcuts) {
    Fixture f;
    std::unique_ptr<QMenu> menu(f.delegate.makeMenu());
    const QStringList expected{
        QStringLiteral("Capture  \u00b7  window under the cursor\tSuper+Shift+D"),
        QStringLiteral("Slice  \u00b7  drag a selection  (hold Super+Shift+D)"),
        QStringLiteral("Basket  \u00b7  your screenshots\tSuper+Shift+S"),
        QStringLiteral("Latest  \u00b7  open the newest as a card  (hold Super+Shift+S)"),
        QStringLiteral("Tools sit on the card at the cursor \u00b7 Open a file with Pictolarium to get its card"),
        QStringLiteral("---"),
        QStringLiteral("Open Pictolarium Folder  \u00b7  ~/Pictures/Pictolarium"),
        QStringLiteral("---"),
        QStringLiteral("Shortcuts"),
        QStringLiteral("Translation Language\u2026"),
        QStringLiteral("[slider]"),
        QStringLiteral("Customize Toolbar\u2026"),
        QStringLiteral("Saved Annotate Colours"),
        QStringLiteral("Convert Wheel Key"),
        QStringLiteral("---"),
        QStringLiteral("Launch at Login"),
        QStringLiteral("Welcome Tour\u2026"),
        QStringLiteral("---"),
        QStringLiteral("Quit Pictolarium"),
    };
    EXPECT_EQ(f.titles(menu.get()), expected);
    EXPECT_FALSE(menu->actions().at(4)->isEnabled());

    QMenu* shortcuts = f.find(menu.get(), QStringLiteral("Shortcuts"))->menu();
    ASSERT_NE(shortcuts, nullptr);
    EXPECT_EQ(f.titles(shortcuts),
              (QStringList{QStringLiteral("Capture  \u00b7  tap = window, hold = drag a piece   Super+Shift+D"),
                           QStringLiteral("Basket  \u00b7  tap = screenshots, hold = latest   Super+Shift+S")}));
    QMenu* capture = shortcuts->actions().first()->menu();
    EXPECT_EQ(f.titles(capture),
              (QStringList{QStringLiteral("Enabled"), QStringLiteral("Change Shortcut\u2026  Super+Shift+D")}));
    EXPECT_TRUE(capture->actions().first()->isChecked());
}

TEST(PanelMenu, ADisabledActionLosesItsKeyButKeepsItsHoldHint) {
    Fixture f;
    f.defaults.set(QStringLiteral("shortcut.enabled.capture"), false);
    // A key whose name is longer than one character shows no key either.
    f.defaults.set(QStringLiteral("shortcut.library"),
                   QByteArray(R"({"keyCode":49,"modifiers":768,"keyName":"Space"})"));
    std::unique_ptr<QMenu> menu(f.delegate.makeMenu());
    EXPECT_EQ(menu->actions().at(0)->text(), QStringLiteral("Capture  \u00b7  window under the cursor"));
    EXPECT_EQ(menu->actions().at(1)->text(), QStringLiteral("Slice  \u00b7  drag a selection  (hold Super+Shift+D)"));
    EXPECT_EQ(menu->actions().at(2)->text(), QStringLiteral("Basket  \u00b7  your screenshots"));
    QMenu* shortcuts = f.find(menu.get(), QStringLiteral("Shortcuts"))->menu();
    EXPECT_TRUE(shortcuts->actions().first()->text().endsWith(QStringLiteral("   off")));
    EXPECT_FALSE(shortcuts->actions().first()->menu()->actions().first()->isChecked());
}

// The open menu answers to the keys it shows by key position, as the screen-wide grabs do, and runs the item once
// the key is up: a repeat (a release and a press at once) is not the end of the press.
TEST(PanelMenu, TheOpenMenuRunsAnItemByTheShortcutItShows) {
    constexpr quint32 keycode1 = 10, keycodeD = 40;
    constexpr Qt::KeyboardModifiers superShift = Qt::MetaModifier | Qt::ShiftModifier;
    const struct {
        const char *name, *steps; // +/- press/release 1 (u: released after Shift, named "1"); d/D press/release D
        Qt::KeyboardModifiers held;
        bool captureOn;
        int runs;
    } cases[] = {
        {"Super+Shift+1, which Qt names by its \"!\"", "+-", superShift, true, 1},
        {"held, its repeats coming as releases and presses", "+-+-+-", superShift, true, 1},
        {"still down: nothing yet", "+-+", superShift, true, 0},
        {"Shift let go first: the same key comes up under another name", "+u", superShift, true, 1},
        {"without Shift", "+-", Qt::MetaModifier, true, 0},
        {"the action switched off", "+-", superShift, false, 0},
        {"another key", "dD", superShift, true, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        f.platform.globalKeys.keyboard.insert({keycode1, 0}, '1');
        f.platform.globalKeys.keyboard.insert({keycode1, 1}, '!');
        f.platform.globalKeys.keyboard.insert({keycodeD, 0}, 'd');
        f.defaults.set(QStringLiteral("shortcut.capture"),
                       QByteArray(R"({"keyCode":18,"modifiers":768,"keyName":"1"})"));
        f.defaults.set(QStringLiteral("shortcut.enabled.capture"), c.captureOn);
        std::unique_ptr<QMenu> menu(f.delegate.makeMenu());
        QAction* capture = menu->actions().first();
        ASSERT_EQ(capture->data().toString(), QStringLiteral("capture"));
        QObject::disconnect(capture, &QAction::triggered, nullptr, nullptr); // no real capture here
        QSignalSpy runs(capture, &QAction::triggered);
        for (const char step : std::string_view(c.steps)) {
            const bool other = step == 'd' || step == 'D', unshifted = step == 'u';
            QKeyEvent event(step == '+' || step == 'd' ? QEvent::KeyPress : QEvent::KeyRelease,
                            other       ? Qt::Key_D
                            : unshifted ? Qt::Key_1
                                        : Qt::Key_Exclam,
                            unshifted ? c.held & ~Qt::ShiftModifier : c.held, other ? keycodeD : keycode1, 0, 0);
            QApplication::sendEvent(menu.get(), &event);
        }
        QTest::qWait(150);
        EXPECT_EQ(runs.size(), c.runs);
    }
}

TEST(PanelMenu, PickingAWheelKeyStoresItAndMovesTheCheckInPlace) {
    Fixture f;
    std::unique_ptr<QMenu> menu(f.delegate.makeMenu());
    QMenu* wheel = f.find(menu.get(), QStringLiteral("Convert Wheel Key"))->menu();
    ASSERT_EQ(wheel->actions().size(), 4);
    auto checked = [&] {
        QList<bool> out;
        for (QAction* a : wheel->actions())
            out << a->isChecked();
        return out;
    };
    EXPECT_EQ(checked(), (QList<bool>{true, false, false, false})) << "nothing stored means Shift";
    EXPECT_EQ(wheel->actions().at(3)->text(), QStringLiteral("Super  \u00b7  hold while dragging an image"));

    wheel->actions().at(3)->trigger();
    EXPECT_EQ(f.defaults.integer(QStringLiteral("wheelModifier")), 1048576);
    EXPECT_EQ(checked(), (QList<bool>{false, false, false, true}));
    EXPECT_EQ(f.delegate.currentMenu(), nullptr) << "the menu is not rebuilt";

    // Picked in the open menu by a click or a key, again where checked: the check moves, both levels stay open.
    menu->popup(QPoint(40, 40));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(menu.get()));
    menu->setActiveAction(f.find(menu.get(), QStringLiteral("Convert Wheel Key")));
    QTest::keyClick(menu.get(), Qt::Key_Right);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(wheel));
    // The item, the key that picks it (0: a click) and the modifier stored.
    const std::tuple<int, int, qlonglong> picks[] = {
        {1, 0, 0x80000}, {2, Qt::Key_Return, 0x40000}, {0, Qt::Key_Space, 0x20000}, {0, 0, 0x20000}};
    for (const auto& [index, key, stored] : picks) {
        SCOPED_TRACE(key);
        QAction* item = wheel->actions().at(index);
        wheel->setActiveAction(item);
        if (key)
            QTest::keyClick(wheel, Qt::Key(key));
        else
            QTest::mouseClick(wheel, Qt::LeftButton, {}, wheel->actionGeometry(item).center());
        QTest::qWait(20);
        EXPECT_EQ(f.defaults.integer(QStringLiteral("wheelModifier")), stored);
        QList<bool> expected(4, false);
        expected[index] = true;
        EXPECT_EQ(checked(), expected);
        EXPECT_TRUE(wheel->isVisible() && menu->isVisible()) << "the menu closed";
    }
    menu->close();
}

TEST(PanelMenu, LaunchAtLoginWritesAndRemovesTheAutostartEntry) {
    Fixture f;
    QFile::remove(LoginItem::entryPath());
    std::unique_ptr<QMenu> menu(f.delegate.makeMenu());
    QAction* login = f.find(menu.get(), QStringLiteral("Launch at Login"));
    EXPECT_FALSE(login->isChecked());
    login->trigger();
    EXPECT_TRUE(QFileInfo::exists(LoginItem::entryPath()));
    ASSERT_NE(f.delegate.currentMenu(), nullptr);
    EXPECT_TRUE(f.find(f.delegate.currentMenu(), QStringLiteral("Launch at Login"))->isChecked());

    QFile entry(LoginItem::entryPath());
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
    EXPECT_TRUE(entry.readAll().contains("Exec=\""));
    entry.close();

    f.find(f.delegate.currentMenu(), QStringLiteral("Launch at Login"))->trigger();
    EXPECT_FALSE(QFileInfo::exists(LoginItem::entryPath()));
    EXPECT_FALSE(f.find(f.delegate.currentMenu(), QStringLiteral("Launch at Login"))->isChecked());
}
