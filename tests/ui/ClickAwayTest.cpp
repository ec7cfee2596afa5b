#include "ui/ClickAway.h"

#include "platform/fake/FakePointerWatch.h"

#include <QApplication>
#include <QCloseEvent>
#include <QTest>
#include <cstring>
#include <gtest/gtest.h>
#include <new>

namespace {

class Watched : public QWidget {
public:
    int closes = 0;

protected:
    void closeEvent(QCloseEvent* event) override {
        ++closes;
        QWidget::closeEvent(event);
    }
};

} // namespace

TEST(ClickAway, ClosesOnlyForPressesElsewhereInOtherApplications) {
    // Presses at the given points, in our own windows or not; no points: focus went elsewhere.
    struct Case {
        const char* name;
        bool visible;
        QList<QPoint> presses;
        bool ours;
        int closes;
    };
    const Case cases[] = {
        {"outside, another application", true, {{10, 10}}, false, 1},
        {"inside its frame", true, {{250, 250}}, false, 0},
        {"on its frame's corner", true, {{200, 200}}, false, 0},
        {"another window of ours", true, {{10, 10}}, true, 0},
        {"focus went elsewhere", true, {}, false, 1},
        {"while hidden", false, {{10, 10}}, false, 0},
        {"twice", true, {{10, 10}, {20, 20}}, false, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Watched window;
        window.setGeometry(200, 200, 100, 100);
        if (c.visible)
            window.show();
        auto watch = std::make_unique<FakePointerWatch>();
        FakePointerWatch& fake = *watch;
        ClickAway away(&window, std::move(watch));
        for (const QPoint& at : c.presses)
            fake.press(at, c.ours);
        if (c.presses.isEmpty())
            fake.focusLost();
        // Decided on the main queue, not inside the press.
        EXPECT_EQ(window.closes, 0);
        QTest::qWait(10);
        EXPECT_EQ(window.closes, c.closes);
    }
}

TEST(ClickAway, OutlivingItsWindowOrBeingDroppedIsSafe) {
    auto watch = std::make_unique<FakePointerWatch>();
    FakePointerWatch* fake = watch.get();
    // The window lives in storage of its own, wiped once it is gone: a check that still reached it would
    // follow null pointers and crash this test, where reading freed memory might pass by chance.
    alignas(Watched) unsigned char storage[sizeof(Watched)];
    auto* window = new (storage) Watched;
    window->setGeometry(200, 200, 100, 100);
    window->show();
    auto away = std::make_unique<ClickAway>(window, std::move(watch));
    fake->press({10, 10});
    window->~Watched(); // gone before the queued check runs
    std::memset(storage, 0, sizeof storage);
    QTest::qWait(10);
    fake->press({10, 10});
    fake->focusLost();
    QTest::qWait(10);

    Watched kept;
    kept.show();
    auto watch2 = std::make_unique<FakePointerWatch>();
    FakePointerWatch* fake2 = watch2.get();
    auto away2 = std::make_unique<ClickAway>(&kept, std::move(watch2));
    fake2->press({5000, 5000});
    away2.reset(); // dropped before its check ran: watching has ended
    QTest::qWait(10);
    EXPECT_EQ(kept.closes, 0);
}

TEST(ClickAway, UsesTheFocusFallbackWithoutX) {
    QWidget window;
    ClickAway away(&window);
    ASSERT_NE(away.monitor, nullptr);
    EXPECT_FALSE(away.monitor->seesOtherApplications());
}
