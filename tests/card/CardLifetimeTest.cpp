#include "card/CardLifetime.h"

#include "FakeCardClock.h"

#include <QTest>
#include <gtest/gtest.h>

namespace {

using Hold = CardLifetime::Hold;
using Phase = CardLifetime::Phase;

struct Card {
    explicit Card(bool pdf = false) : lifetime(clock, pdf, {[this] { return pointerInside; }, [this] { ++fades; }}) {}

    FakeCardClock clock;
    bool pointerInside = false;
    int fades = 0;
    CardLifetime lifetime;

    // Advances to just before `ms` and checks the card is still there, then to `ms` and checks it faded.
    void expectFadeAfter(qint64 ms, const char* name) {
        clock.advance(ms - 1);
        EXPECT_EQ(fades, 0) << name;
        clock.advance(1);
        EXPECT_EQ(fades, 1) << name;
        EXPECT_EQ(lifetime.phase(), Phase::Fading) << name;
    }
    void expectNoTimer(const char* name) {
        EXPECT_FALSE(lifetime.isTimerRunning()) << name;
        EXPECT_FALSE(clock.deadline) << name;
        clock.advance(600'000);
        EXPECT_EQ(fades, 0) << name;
    }
};

} // namespace

TEST(CardLifetime, UseHoverHoldsAndHidingDecideWhenTheCardFades) {
    struct Case {
        const char* name;
        bool pdf;
        std::function<void(Card&, const char*)> play;
    };
    const Case cases[] = {
        {"runs out after 4 s with the pointer away", false,
         [](Card& c, const char* n) {
             c.lifetime.shown();
             c.expectFadeAfter(4000, n);
         }},
        {"a PDF card lives 120 s", true,
         [](Card& c, const char* n) {
             c.lifetime.shown();
             c.expectFadeAfter(120000, n);
         }},
        {"use restarts the lifetime", false,
         [](Card& c, const char* n) {
             c.lifetime.shown();
             c.clock.advance(3000);
             c.lifetime.restart();
             c.expectFadeAfter(4000, n);
         }},
        {"no timer while hovered; leaving restarts it", false,
         [](Card& c, const char* n) {
             c.lifetime.shown();
             c.clock.advance(1000);
             c.lifetime.setHovering(true);
             c.lifetime.restart(); // a tool clicked while the pointer rests on the card
             c.expectNoTimer(n);
             c.lifetime.setHovering(false);
             c.expectFadeAfter(4000, n);
         }},
        {"timer firing with the pointer inside the frame restarts instead of fading", false,
         [](Card& c, const char* n) {
             c.lifetime.shown();
             c.pointerInside = true;
             c.clock.advance(4000);
             EXPECT_EQ(c.fades, 0) << n;
             EXPECT_TRUE(c.lifetime.isTimerRunning()) << n;
             c.pointerInside = false;
             c.expectFadeAfter(4000, n);
         }},
        {"one holder finishing does not free the card while another holds it", false,
         [](Card& c, const char* n) {
             c.lifetime.shown();
             c.lifetime.hold(Hold::SideView);
             c.lifetime.hold(Hold::Runner);
             c.lifetime.restart(); // a result arriving while held
             c.lifetime.release(Hold::Runner);
             c.expectNoTimer(n);
             c.lifetime.release(Hold::SideView);
             EXPECT_FALSE(c.lifetime.isHeld()) << n;
             c.expectFadeAfter(4000, n);
         }},
        {"holding the same reason twice needs one release", false,
         [](Card& c, const char* n) {
             c.lifetime.shown();
             c.lifetime.hold(Hold::SideView);
             c.lifetime.hold(Hold::SideView); // a side view replacing another
             c.lifetime.release(Hold::SideView);
             c.expectFadeAfter(4000, n);
         }},
        {"releasing with the pointer over the card waits for it to leave", false,
         [](Card& c, const char* n) {
             c.lifetime.shown();
             c.lifetime.hold(Hold::Rename);
             c.lifetime.setHovering(true);
             c.lifetime.release(Hold::Rename);
             c.expectNoTimer(n);
             c.lifetime.setHovering(false);
             c.expectFadeAfter(4000, n);
         }},
        {"a release nobody holds changes nothing", false,
         [](Card& c, const char* n) {
             c.lifetime.shown();
             c.clock.advance(3000);
             c.lifetime.release(Hold::Recording);
             c.expectFadeAfter(1000, n);
         }},
        {"a late runner result does not revive a closed card", false,
         [](Card& c, const char* n) {
             c.lifetime.shown();
             c.lifetime.hold(Hold::Runner);
             c.lifetime.close();
             c.lifetime.close();
             c.lifetime.release(Hold::Runner);
             c.lifetime.restart();
             c.lifetime.setHovering(false);
             EXPECT_EQ(c.lifetime.phase(), Phase::Closed) << n;
             c.expectNoTimer(n);
         }},
        {"a fading card stays fading", false,
         [](Card& c, const char* n) {
             c.lifetime.shown();
             c.expectFadeAfter(4000, n);
             c.lifetime.restart();
             c.lifetime.setHovering(false);
             c.lifetime.setHidden(false);
             EXPECT_FALSE(c.lifetime.isTimerRunning()) << n;
             c.lifetime.close();
             EXPECT_EQ(c.lifetime.phase(), Phase::Closed) << n;
             c.clock.advance(600'000);
             EXPECT_EQ(c.fades, 1) << n;
         }},
        {"hidden behind a chooser: no timer until shown again", false,
         [](Card& c, const char* n) {
             c.lifetime.shown();
             c.lifetime.setHidden(true);
             c.lifetime.restart();
             EXPECT_FALSE(c.lifetime.clickedAway()) << n;
             c.expectNoTimer(n);
             c.lifetime.setHidden(false);
             EXPECT_EQ(c.lifetime.phase(), Phase::Shown) << n;
             c.expectFadeAfter(4000, n);
         }},
        {"collapsed under an editor: paused, and the editor's release restarts", false,
         [](Card& c, const char* n) {
             c.lifetime.shown();
             c.lifetime.hold(Hold::Editor);
             c.lifetime.pause();
             c.expectNoTimer(n);
             c.lifetime.release(Hold::Editor);
             c.expectFadeAfter(4000, n);
         }},
        {"nothing runs before the card is shown", false,
         [](Card& c, const char* n) {
             c.lifetime.restart();
             c.lifetime.setHovering(false);
             c.lifetime.setHidden(false);
             EXPECT_FALSE(c.lifetime.clickedAway()) << n;
             EXPECT_EQ(c.lifetime.phase(), Phase::Created) << n;
             c.expectNoTimer(n);
         }},
    };
    for (const Case& c : cases) {
        Card card(c.pdf);
        c.play(card, c.name);
    }
}

TEST(CardLifetime, ClickAwayOnlyOnceTheLifetimeHasPassedSinceTheLastRestart) {
    struct Case {
        const char* name;
        qint64 clickAt; // after the last restart
        bool hold, inside, hidden;
        bool fades;
    };
    const Case cases[] = {
        {"within the lifetime", 3999, false, false, false, false},
        {"exactly at the end of the lifetime", 4000, false, false, false, true},
        {"long after", 60000, false, false, false, true},
        {"held", 60000, true, false, false, false},
        {"pointer inside the card", 60000, false, true, false, false},
        {"hidden", 60000, false, false, true, false},
    };
    for (const Case& c : cases) {
        Card card;
        card.lifetime.shown();
        // Resting on the card keeps it from timing out, so the lifetime can pass without a fade.
        card.lifetime.setHovering(true);
        card.clock.advance(500);
        card.lifetime.restart();
        if (c.hold)
            card.lifetime.hold(Hold::Review);
        if (c.hidden)
            card.lifetime.setHidden(true);
        card.clock.advance(c.clickAt);
        card.pointerInside = c.inside;
        EXPECT_EQ(card.lifetime.clickedAway(), c.fades) << c.name;
        EXPECT_EQ(card.fades, c.fades ? 1 : 0) << c.name;
        // A second click on a card that already fades starts no second fade.
        EXPECT_FALSE(c.fades && card.lifetime.clickedAway()) << c.name;
    }
}

TEST(CardLifetime, AClockThatOutlivesTheCardCannotCallIntoIt) {
    FakeCardClock clock;
    clock.keepStoppedCallbacks = true;
    int fades = 0;
    {
        CardLifetime lifetime(clock, false, {[] { return false; }, [&fades] { ++fades; }});
        lifetime.shown();
    }
    ASSERT_TRUE(clock.pending);
    clock.pending();
    EXPECT_EQ(fades, 0);
}

TEST(CardLifetime, TheSystemClockFiresOnceAndCanBeStopped) {
    SystemCardClock clock;
    int fired = 0;
    clock.start(5, [&fired] { ++fired; });
    EXPECT_TRUE(QTest::qWaitFor([&fired] { return fired > 0; }, 5000));
    QTest::qWait(30);
    EXPECT_EQ(fired, 1);

    clock.start(5, [&fired] { ++fired; });
    clock.stop();
    QTest::qWait(30);
    EXPECT_EQ(fired, 1);
    EXPECT_GE(clock.now(), 0);
}
