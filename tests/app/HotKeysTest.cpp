#include "shortcuts/HotKeys.h"
#include "app/AppDelegate.h"
#include "platform/Defaults.h"
#include "platform/fake/FakeGlobalKeys.h"
#include "platform/fake/FakePlatform.h"
#include "shortcuts/TapHold.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

constexpr quint32 superShift = GlobalKeys::Super | GlobalKeys::Shift;

// Closes every modal window that comes up and keeps what it said.
class ModalCloser : public QObject {
public:
    ModalCloser() {
        connect(&timer, &QTimer::timeout, this, [this] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                QStringList texts;
                const QList<QLabel*> labels = modal->findChildren<QLabel*>();
                for (const QLabel* label : labels)
                    texts << label->text();
                shown << texts.join(QStringLiteral(" | "));
                modal->close();
            }
        });
        timer.start(5);
    }
    QStringList shown;

private:
    QTimer timer;
};

struct Fixture {
    Fixture() : defaults(dir.path(), QStringLiteral("test")), registry(keys), delegate(defaults, platform) {
        delegate.hotKeys = &registry;
        QObject::connect(&delegate, &AppDelegate::hotActionRan, &delegate, [this](const QString& key, bool hold) {
            ran << key + (hold ? QStringLiteral(" hold") : QStringLiteral(" tap"));
        });
    }
    void tap(quint32 sym, quint32 modifiers) {
        keys.press(sym, modifiers);
        QCoreApplication::processEvents();
        keys.release(sym, modifiers);
        QCoreApplication::processEvents();
    }

    QTemporaryDir dir;
    Defaults defaults;
    FakeGlobalKeys keys;
    HotKeys registry;
    FakePlatform platform;
    AppDelegate delegate;
    QStringList ran;
};

} // namespace

TEST(HotKeys, RefusesWhatCannotBeHadAndSpendsTheIdAnyway) {
    FakeGlobalKeys keys;
    keys.taken.insert({'x', GlobalKeys::Control});
    HotKeys registry(keys);
    const Shortcut d{2, Shortcut::command | Shortcut::shift, QStringLiteral("D")};

    const auto first = registry.registerShortcut(d, {}, {});
    ASSERT_EQ(first, 1u);
    EXPECT_TRUE(keys.holds('d', superShift));
    // The same combination again inside the process: refused before the server is asked.
    const int calls = keys.grabCalls;
    EXPECT_FALSE(registry.registerShortcut(Shortcut{2, d.modifiers, QStringLiteral("other name")}, {}, {}));
    EXPECT_EQ(keys.grabCalls, calls);
    EXPECT_FALSE(registry.registerShortcut(Shortcut{7, Shortcut::control, QStringLiteral("X")}, {}, {}));
    EXPECT_FALSE(registry.registerShortcut(Shortcut{10, Shortcut::control, QStringLiteral("§")}, {}, {}));
    EXPECT_EQ(registry.registerShortcut(Shortcut{2, Shortcut::command, QStringLiteral("D")}, {}, {}), 5u);

    registry.unregister(99);
    EXPECT_EQ(keys.grabs.size(), 2);
    registry.unregister(*first);
    EXPECT_FALSE(keys.holds('d', superShift));
    // Free again, so it can be registered anew, under a new id.
    EXPECT_EQ(registry.registerShortcut(d, {}, {}), 6u);
}

TEST(HotKeys, EachStoredModifierGrabsItsOwnKey) {
    struct Case {
        const char* name;
        int stored;
        quint32 grabbed;
    };
    const Case cases[] = {
        {"Command is Super", Shortcut::command, GlobalKeys::Super},
        {"Shift", Shortcut::shift, GlobalKeys::Shift},
        {"Option is Alt, never Control", Shortcut::option, GlobalKeys::Alt},
        {"Control", Shortcut::control, GlobalKeys::Control},
        {"all four", Shortcut::command | Shortcut::shift | Shortcut::option | Shortcut::control,
         GlobalKeys::Super | GlobalKeys::Shift | GlobalKeys::Alt | GlobalKeys::Control},
    };
    for (const Case& c : cases) {
        FakeGlobalKeys keys;
        HotKeys registry(keys);
        ASSERT_TRUE(registry.registerShortcut(Shortcut{2, c.stored, QStringLiteral("D")}, {}, {})) << c.name;
        EXPECT_TRUE(keys.holds('d', c.grabbed)) << c.name;
    }
}

TEST(HotKeys, HandlersRunLaterAndNotAfterUnregistering) {
    FakeGlobalKeys keys;
    HotKeys registry(keys);
    QStringList calls;
    const auto id = registry.registerShortcut(
        Shortcut{2, Shortcut::command | Shortcut::shift, QStringLiteral("D")}, [&] { calls << QStringLiteral("up"); },
        [&] { calls << QStringLiteral("down"); });
    ASSERT_TRUE(id);
    keys.press('d', superShift);
    EXPECT_TRUE(calls.isEmpty()); // handed on to the event loop, not run inside the key handler
    QCoreApplication::processEvents();
    keys.release('d', superShift);
    QCoreApplication::processEvents();
    EXPECT_EQ(calls, QStringList({QStringLiteral("down"), QStringLiteral("up")}));

    keys.press('d', superShift);
    registry.unregister(*id);
    QCoreApplication::processEvents();
    EXPECT_EQ(calls.size(), 2);
}

TEST(HotActions, RegistersBothAndRunsTapAndHold) {
    Fixture f;
    ModalCloser closer;
    f.delegate.registerHotKeys();
    EXPECT_EQ(f.delegate.tokens.size(), 2);
    EXPECT_TRUE(f.keys.holds('d', superShift));
    EXPECT_TRUE(f.keys.holds('s', superShift));

    f.tap('d', superShift);
    f.keys.press('s', superShift);
    QCoreApplication::processEvents();
    QTest::qWait(400);
    f.keys.release('s', superShift);
    QCoreApplication::processEvents();
    EXPECT_EQ(f.ran, QStringList({QStringLiteral("capture tap"), QStringLiteral("library hold")}));
    EXPECT_TRUE(closer.shown.isEmpty());
}

// A press and its release read together, as after a busy spell: through the program's own wiring the server's
// times of the two decide, a hold beginning at exactly the hold delay, across the clock's wrap too.
TEST(HotActions, TheServerTimesOfPressAndReleaseTellATapFromAHold) {
    // A tap of the capture key and a hold of the basket key run what a test can stand (no slice, no basket).
    struct Case {
        quint32 press;
        int apart;
        quint32 key;
        const char* ran;
    };
    const Case cases[] = {
        {5000, TapHold::holdDelay - 1, 'd', "capture tap"},
        {5000, TapHold::holdDelay, 's', "library hold"},
        {0xffffff00u, TapHold::holdDelay - 1, 'd', "capture tap"},
        {0xffffff00u, TapHold::holdDelay, 's', "library hold"},
    };
    for (const Case& c : cases) {
        Fixture f;
        ModalCloser closer;
        f.delegate.registerHotKeys();
        ASSERT_TRUE(f.keys.press(c.key, superShift, c.press));
        ASSERT_TRUE(f.keys.release(c.key, superShift, c.press + quint32(c.apart)));
        QCoreApplication::processEvents();
        EXPECT_EQ(f.ran.join(u',').toStdString(), c.ran) << c.press << " + " << c.apart;
        // The hold check the press left behind does nothing more.
        QTest::qWait(TapHold::holdDelay + 100);
        EXPECT_EQ(f.ran.size(), 1) << c.press << " + " << c.apart;
    }
}

TEST(HotActions, ARefusedShortcutShowsTheAlertAndTheOtherActionStillRegisters) {
    Fixture f;
    f.keys.taken.insert({'d', superShift});
    ModalCloser closer;
    f.delegate.registerHotKeys();
    ASSERT_EQ(closer.shown.size(), 1);
    EXPECT_EQ(closer.shown.first(),
              QStringLiteral("Couldn't register Super+Shift+D | Another app probably uses that shortcut. Pick a "
                             "different one for \u201cCapture  \u00b7  tap = window, hold = drag a piece\u201d under "
                             "Shortcuts in the menu."));
    EXPECT_FALSE(f.delegate.tokens.contains(QStringLiteral("capture")));
    EXPECT_TRUE(f.keys.holds('s', superShift));

    // Shown again on every pass while the conflict lasts.
    f.delegate.registerHotKeys();
    EXPECT_EQ(closer.shown.size(), 2);
}

TEST(HotActions, EnabledFlagsDecideWhatIsGrabbed) {
    Fixture f;
    ModalCloser closer;
    f.defaults.set(QStringLiteral("shortcut.enabled.capture"), QStringLiteral("no")); // not a bool: on
    EXPECT_TRUE(AppDelegate::actions().at(0).enabled(f.defaults));

    f.delegate.registerHotKeys();
    f.delegate.setEnabled(QStringLiteral("capture"), false);
    EXPECT_FALSE(f.keys.holds('d', superShift));
    EXPECT_FALSE(f.delegate.tokens.contains(QStringLiteral("capture")));
    f.tap('d', superShift);
    EXPECT_TRUE(f.ran.isEmpty());

    QAction item;
    item.setData(QStringLiteral("capture"));
    f.delegate.toggleShortcutEnabled(&item);
    EXPECT_TRUE(f.keys.holds('d', superShift));
    QAction unknown;
    unknown.setData(QStringLiteral("nothing"));
    f.delegate.toggleShortcutEnabled(&unknown);
    f.delegate.toggleShortcutEnabled(nullptr);
    EXPECT_EQ(f.keys.grabs.size(), 2);

    // Both off: nothing grabbed and nothing said.
    f.delegate.setEnabled(QStringLiteral("capture"), false);
    f.delegate.setEnabled(QStringLiteral("library"), false);
    EXPECT_TRUE(f.keys.grabs.isEmpty());
    EXPECT_TRUE(closer.shown.isEmpty());
}

TEST(HotActions, ReRegisteringWhileAKeyIsDownDoesNotLeaveItStuck) {
    Fixture f;
    ModalCloser closer;
    f.delegate.registerHotKeys();
    f.keys.press('d', superShift);
    QCoreApplication::processEvents();
    f.delegate.registerHotKeys(); // the release goes to the old registration, which is gone
    QTest::qWait(400);
    EXPECT_TRUE(f.ran.isEmpty());
    f.tap('d', superShift);
    EXPECT_EQ(f.ran, QStringList({QStringLiteral("capture tap")}));
}
