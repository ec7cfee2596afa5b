#include "ui/KeyRoute.h"

#include "platform/fake/FakePlatform.h"
#include "platform/fake/FakePointerWatch.h"
#include "ui/ClickAway.h"

#include <QApplication>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

// Another program (window 4242) has the keyboard when a window of ours opens and takes it; when ours hides, the
// keyboard goes back to 4242 only if the user has not turned to another program meanwhile, whatever the toolkit
// has heard of it by then.
TEST(KeyRoute, TheKeyboardGoesBackOnlyWhenTheUserLeftItWithUs) {
    using Keyboard = WindowFocus::Keyboard;
    const struct {
        const char* name;
        Keyboard atHide; // where the server has the keyboard as ours hides
        bool clickAway;  // hidden by a click in another program's window
        bool givenBack;
    } cases[] = {
        {"closed by its own means", Keyboard::Listed, false, true},
        {"the keyboard with nobody", Keyboard::Nobody, false, true},
        {"where the keyboard is cannot be told", Keyboard::Unknown, false, true},
        {"another program took it between show and hide", Keyboard::Elsewhere, false, false},
        {"a click in another program, before the window manager moved it", Keyboard::Listed, true, false},
    };
    FakeWindowFocus focus;
    KeyRoute::setWindowFocus(&focus);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        focus.active = 4242;
        focus.keyboard = Keyboard::Listed;
        QWidget window;
        window.setGeometry(200, 200, 100, 100);
        window.show();
        KeyRoute::takeKeys(&window);
        ASSERT_TRUE(QTest::qWaitFor([&] { return window.isActiveWindow(); }));
        focus.asked.clear();
        auto watch = std::make_unique<FakePointerWatch>();
        FakePointerWatch& fake = *watch;
        ClickAway away(&window, std::move(watch));
        focus.keyboard = c.atHide;
        if (c.clickAway)
            fake.press({10, 10});
        else
            window.hide();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !window.isVisible(); }));
        QTest::qWait(50); // the hand-back is asked for once the hide has settled
        EXPECT_EQ(focus.asked.contains(4242u), c.givenBack) << focus.asked.size();
    }
    KeyRoute::setWindowFocus(nullptr);
}
