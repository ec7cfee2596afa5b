#include "ui/KeyRoute.h"

#include "platform/fake/FakePlatform.h"
#include "platform/fake/FakePointerWatch.h"
#include "ui/ClickAway.h"

#include <QApplication>
#include <QShortcut>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

#include <vector>

namespace {

class KeyCatcher : public QWidget {
public:
    int keys = 0;

protected:
    void keyPressEvent(QKeyEvent*) override { ++keys; }
};

// How often a window was told a modal dialog blocks it.
class BlockedCount : public QObject {
public:
    int count = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        count += event->type() == QEvent::WindowBlocked;
        return false;
    }
};

} // namespace

// Another program (window 4242) has the keyboard when a window of ours opens and takes it; when ours hides, the
// keyboard goes back to 4242 only if the user has not turned to another program meanwhile, whatever the toolkit
// has heard of it by then.
TEST(KeyRoute, TheKeyboardGoesBackOnlyWhenTheUserLeftItWithUs) {
    using Keyboard = WindowFocus::Keyboard;
    const struct {
        const char* name;
        Keyboard atHide;          // where the server has the keyboard as ours hides
        bool clickAway;           // hidden by a click in another program's window
        QList<quint32> visited;   // other programs' windows the user went to and came back from, in order
        quint32 givenTo;          // 0: given back to nobody
        bool backUnheard = false; // the last coming back not heard of yet as ours hides
        bool backUntold = false;  // the window manager still names the other program as ours hides
        bool part = false;        // a window of ours that goes with it (the basket's preview) has the keyboard
        bool newer = false;       // another window of ours took the keyboard after it showed, and the user came
                                  // back to this one (a second editor): that one has it next, as the window
                                  // manager would give it
        bool offScreen = false;   // the other programs' windows minimised or on another desktop as ours hides
    } cases[] = {
        {"closed by its own means", Keyboard::Listed, false, {}, 4242},
        {"the keyboard with nobody", Keyboard::Nobody, false, {}, 4242},
        {"where the keyboard is cannot be told", Keyboard::Unknown, false, {}, 4242},
        {"another program took it between show and hide", Keyboard::Elsewhere, false, {}, 0},
        {"a click in another program, before the window manager moved it", Keyboard::Listed, true, {}, 0},
        {"left for another program and came back", Keyboard::Listed, false, {5151}, 5151},
        {"left twice, the last one counts", Keyboard::Listed, false, {5151, 6161}, 6161},
        {"came back, then a click in another program", Keyboard::Listed, true, {5151}, 0},
        {"came back and closed it before the news came", Keyboard::Listed, false, {5151}, 5151, true},
        {"came back by a click on its button, the window manager not telling",
         Keyboard::Listed,
         false,
         {5151},
         5151,
         false,
         true},
        {"a click in another program while a window that goes with it has the keyboard, the window manager not "
         "telling",
         Keyboard::Listed,
         true,
         {},
         0,
         false,
         false,
         true},
        {"a newer window of ours had it before the user came back",
         Keyboard::Listed,
         false,
         {},
         0,
         false,
         false,
         false,
         true},
        {"the program it goes back to minimised or on the desktop the user left",
         Keyboard::Listed,
         false,
         {},
         0,
         false,
         false,
         false,
         false,
         true},
        {"came back from another program that is now on the desktop the user left",
         Keyboard::Nobody,
         false,
         {5151},
         0,
         false,
         false,
         false,
         false,
         true},
    };
    FakeWindowFocus focus;
    KeyRoute::setWindowFocus(&focus);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.part)
            focus.makeActive(4242);
        focus.active = 4242;
        focus.keyboard = Keyboard::Listed;
        QWidget window;
        window.setGeometry(200, 200, 100, 100);
        window.show();
        KeyRoute::takeKeys(&window);
        ASSERT_TRUE(QTest::qWaitFor([&] { return window.isActiveWindow(); }));
        focus.makeActive(quint32(window.winId()));
        QWidget part(&window, Qt::Window);
        if (c.part) {
            part.setGeometry(250, 250, 50, 50);
            part.show();
            KeyRoute::takeKeys(&part);
            ASSERT_TRUE(QTest::qWaitFor([&] { return part.isActiveWindow(); }));
            focus.makeActive(quint32(part.winId()));
        }
        QWidget newer;
        if (c.newer) {
            newer.setGeometry(400, 200, 100, 100);
            newer.show();
            KeyRoute::takeKeys(&newer);
            ASSERT_TRUE(QTest::qWaitFor([&] { return newer.isActiveWindow(); }));
            focus.makeActive(quint32(newer.winId()));
            window.activateWindow();
            ASSERT_TRUE(QTest::qWaitFor([&] { return window.isActiveWindow(); }));
            focus.makeActive(quint32(window.winId()));
        }
        for (const quint32 other : c.visited) {
            focus.makeActive(other);
            if (c.backUnheard)
                focus.active = quint32(window.winId());
            else if (!c.backUntold)
                focus.makeActive(quint32(window.winId()));
        }
        focus.asked.clear();
        auto watch = std::make_unique<FakePointerWatch>();
        FakePointerWatch& fake = *watch;
        ClickAway away(&window, std::move(watch));
        focus.keyboard = c.atHide;
        focus.offScreen = c.offScreen ? QList<quint32>{4242, 5151} : QList<quint32>{};
        // The route sees the press too, as the program's own watch does, unless the row is about an older
        // way of telling.
        FakePointerWatch* routeWatch = nullptr;
        if (c.part) {
            auto seen = std::make_unique<FakePointerWatch>();
            routeWatch = seen.get();
            KeyRoute::setPointerWatch(std::move(seen));
        }
        if (routeWatch)
            routeWatch->press({10, 10});
        if (c.clickAway)
            fake.press({10, 10});
        else
            window.hide();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !window.isVisible(); }));
        part.hide();
        if (routeWatch)
            KeyRoute::setPointerWatch(nullptr);
        QTest::qWait(50); // the hand-back is asked for once the hide has settled
        // Compared as standard vectors: two empty lists would hand a null to memcmp.
        EXPECT_EQ(std::vector<quint32>(focus.asked.begin(), focus.asked.end()),
                  c.givenTo ? std::vector<quint32>{c.givenTo} : std::vector<quint32>{});
        if (c.newer)
            EXPECT_TRUE(QTest::qWaitFor([&] { return newer.isActiveWindow(); }));
    }
    KeyRoute::setWindowFocus(nullptr);
}

// A window that answers an action late (an editor whose picture took seconds to read) takes the keyboard only
// if the user has not gone to another program since the action, whether or not we have heard of it yet.
TEST(KeyRoute, ALateWindowAnswersTheActionOnlyIfTheUserStayed) {
    enum Step {
        Nothing,
        OtherProgram,
        OtherUnheard,
        Ours,
        OtherBefore,
        ClickInActive,
        ClickOnDesktop,
        HandOver,
        HandOverUnheard,
        HandOverThenKey
    };
    const struct {
        const char* name;
        Step step;
        bool left;
    } cases[] = {
        {"nothing happened meanwhile", Nothing, false},
        {"the user went to another program", OtherProgram, true},
        {"another program active, not heard of yet", OtherUnheard, true},
        {"a window of ours was made active", Ours, false},
        {"the user went to the other program before the action", OtherBefore, false},
        {"a click into the program that had the keyboard all along", ClickInActive, true},
        {"a click on the bare desktop", ClickOnDesktop, false},
        // One of ours that had the keyboard gives way to the next (annotate to backdrop): the window manager
        // makes another program active for a moment by itself.
        {"the window manager's pick as ours hands over", HandOver, false},
        {"its pick, not heard of yet", HandOverUnheard, false},
        {"a key typed (Alt+Tab) before the other program is made active", HandOverThenKey, true},
    };
    FakeWindowFocus focus;
    KeyRoute::setWindowFocus(&focus);
    auto watch = std::make_unique<FakePointerWatch>();
    FakePointerWatch& presses = *watch;
    KeyRoute::setPointerWatch(std::move(watch));
    QWidget ours;
    ours.show();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        focus.makeActive(4242);
        if (c.step == OtherBefore)
            focus.makeActive(5151);
        const KeyRoute::Asked asked = KeyRoute::userAction();
        if (c.step == OtherProgram)
            focus.makeActive(5151);
        else if (c.step == OtherUnheard)
            focus.active = 5151;
        else if (c.step == Ours)
            focus.makeActive(quint32(ours.winId()));
        else if (c.step == ClickInActive || c.step == ClickOnDesktop)
            presses.press({10, 10}, false, c.step == ClickOnDesktop);
        if (c.step == HandOver || c.step == HandOverUnheard || c.step == HandOverThenKey) {
            QWidget handing;
            handing.show();
            KeyRoute::takeKeys(&handing);
            ASSERT_TRUE(QTest::qWaitFor([&] { return handing.isActiveWindow(); }));
            focus.makeActive(quint32(handing.winId()));
            handing.hide();
            if (c.step == HandOverThenKey)
                presses.type(0xff09);
            if (c.step == HandOverUnheard)
                focus.active = 5151;
            else
                focus.makeActive(5151);
        }
        EXPECT_EQ(KeyRoute::leftSince(asked), c.left);
    }
    KeyRoute::setPointerWatch(nullptr);
    KeyRoute::setWindowFocus(nullptr);
}

// A window shown aside, after the user went to another program, that the window manager hands the keyboard all
// the same: the keyboard goes back, and neither its keys nor its shortcuts take what is typed meanwhile; a click
// into it is the user's choice and its keys work again.
TEST(KeyRoute, AWindowShownAsideTakesNoKeyUntilTheUserClicksIntoIt) {
    FakeWindowFocus focus;
    KeyRoute::setWindowFocus(&focus);
    focus.makeActive(5151);
    KeyCatcher window;
    int shortcuts = 0;
    QShortcut shortcut(QKeySequence(Qt::Key_Return), &window, [&shortcuts] { ++shortcuts; });
    window.setGeometry(100, 100, 200, 200);
    KeyRoute::showAside(&window);
    ASSERT_TRUE(window.isVisible());
    window.activateWindow(); // the window manager's doing
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.isActiveWindow(); }));
    EXPECT_TRUE(focus.asked.contains(5151u)) << "the keyboard was not handed back";
    QTest::keyClick(&window, Qt::Key_Return);
    QTest::keyClick(&window, Qt::Key_A);
    EXPECT_EQ(shortcuts, 0);
    EXPECT_EQ(window.keys, 0);
    QTest::mouseClick(&window, Qt::LeftButton);
    QTest::keyClick(&window, Qt::Key_Return);
    QTest::keyClick(&window, Qt::Key_A);
    EXPECT_EQ(shortcuts, 1);
    EXPECT_EQ(window.keys, 1);
    KeyRoute::setWindowFocus(nullptr);
}

// A dialog waits for an answer from the whole program and a window of ours shows over it (the basket, by its key):
// the window takes its keys and clicks, so that it can be used and closed, while one that showed before the dialog
// stays blocked until the dialog is answered.
TEST(KeyRoute, AWindowShownOverAWaitingDialogTakesItsKeys) {
    KeyRoute::instance();
    KeyCatcher before;
    before.setGeometry(50, 50, 200, 200);
    before.show();
    QWidget dialog;
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.setGeometry(100, 100, 200, 200);
    dialog.show();
    ASSERT_EQ(QApplication::activeModalWidget(), &dialog);
    KeyCatcher over;
    over.setGeometry(150, 150, 200, 200);
    over.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&over));
    // Through the window system, where a blocked window's keys are dropped.
    QTest::keyClick(over.windowHandle(), Qt::Key_Escape);
    QTest::keyClick(before.windowHandle(), Qt::Key_Escape);
    EXPECT_EQ(over.keys, 1);
    EXPECT_EQ(before.keys, 0);
    // Hidden while the dialog still waits, it is none the dialog blocks: the toolkit hands the keyboard a blocked
    // window loses to the dialog, wherever the window manager or the route sent it.
    BlockedCount blocked;
    over.windowHandle()->installEventFilter(&blocked);
    over.hide();
    QCoreApplication::processEvents();
    EXPECT_EQ(blocked.count, 0) << "hidden, it was blocked by the dialog";
    dialog.hide();
    // Shown again with no dialog waiting, it stands on nothing.
    over.show();
    EXPECT_EQ(over.windowHandle()->transientParent(), nullptr);
    over.hide();
    // A window shown over the waiting dialog, then made the front window: the dialog stays above it without
    // standing on a window that stands on it, and the next modal dialog opens.
    dialog.show();
    over.show();
    KeyRoute::setFront(&over);
    ASSERT_NE(dialog.windowHandle()->transientParent(), over.windowHandle()) << "each stands on the other";
    QWidget next;
    next.setWindowModality(Qt::ApplicationModal);
    next.show();
    EXPECT_EQ(QApplication::activeModalWidget(), &next);
    next.hide();
    KeyRoute::setFront(nullptr);
}
