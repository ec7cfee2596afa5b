#include "card/CardGeometry.h"

#include <gtest/gtest.h>

#include <limits>

using namespace CardGeometry;

namespace {

constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();

void expectRect(const QRectF& actual, const QRectF& expected, const char* what) {
    EXPECT_NEAR((actual.topLeft() - expected.topLeft()).manhattanLength(), 0, 1e-9) << what;
    EXPECT_NEAR(actual.width(), expected.width(), 1e-9) << what;
    EXPECT_NEAR(actual.height(), expected.height(), 1e-9) << what;
}

void expectPoint(QPointF actual, QPointF expected, const char* what) {
    EXPECT_NEAR((actual - expected).manhattanLength(), 0, 1e-9) << what;
}

} // namespace

TEST(CardGeometry, TheSizeSettingPicksThePictureBox) {
    const std::pair<double, QSizeF> table[] = {
        {0, {320, 208}},   {0.8, {320, 208}}, {1.0, {400, 260}}, {1.2, {480, 312}},
        {1.3, {480, 312}}, {0.3, {200, 130}}, {-2, {200, 130}},  {notANumber, {200, 130}},
    };
    for (const auto& [stored, box] : table) {
        EXPECT_NEAR(maxImage(stored).width(), box.width(), 1e-9) << stored;
        EXPECT_NEAR(maxImage(stored).height(), box.height(), 1e-9) << stored;
    }
}

TEST(CardGeometry, PicturesAreFittedNeverEnlargedAndThinOnesRaised) {
    struct Case {
        const char* name;
        QSizeF picture, box;
        bool large;
        double sizeScale;
        QSizeF shown;
    };
    const Case cases[] = {
        {"a screen into the default box", {1440, 900}, {320, 208}, false, 0, {320, 200}},
        {"a small picture at its own size", {200, 100}, {320, 208}, false, 0, {200, 100}},
        {"a strip raised to the thin limit", {2000, 40}, {320, 208}, false, 0, {608, 12}},
        {"a strip at the largest size setting", {2000, 40}, {480, 312}, false, 1.5, {912, 18}},
        {"already as wide as the thin limit: fitted scale kept", {1000, 10}, {1000, 208}, false, 0, {1000, 10}},
        {"a one-pixel line keeps a height of one", {3000, 1}, {320, 208}, false, 0, {608, 1}},
        {"enlarged review up to three times", {100, 50}, {320, 208}, true, 0, {300, 150}},
        {"enlarged review limited by the box", {200, 100}, {320, 208}, true, 0, {320, 160}},
        {"rounding halves away from zero", {601, 601}, {300.5, 300.5}, false, 0, {301, 301}},
        {"an empty picture", {0, 0}, {320, 208}, false, 0, {0, 1}},
    };
    for (const Case& c : cases) {
        const QSizeF shown = shownSize(c.picture, c.box, c.large, c.sizeScale);
        EXPECT_EQ(shown, c.shown) << c.name << ": " << shown.width() << " x " << shown.height();
    }
}

TEST(CardGeometry, LayoutAtFullAndHalfBarScale) {
    struct Case {
        const char* name;
        Input in;
        QSizeF card;
        QRectF image, side, pill;
    };
    const QSizeF screen(1440, 900), box(320, 208);
    const Case cases[] = {
        {"new card before its row exists, scale 1",
         {screen, box, 1.0},
         {540, 306},
         {110, 22, 320, 200},
         {444, 22, 330, 200},
         {22, 248, 496, 36}},
        {"new card before its row exists, scale 0.5",
         {screen, box, 0.5},
         {540, 288},
         {110, 22, 320, 200},
         {444, 22, 330, 200},
         {22, 248, 496, 18}},
        {"row narrower than the picture, scale 1",
         {screen, box, 1.0, 0, false, false, false, 300},
         {364, 306},
         {22, 22, 320, 200},
         {356, 22, 330, 200},
         {24, 248, 316, 36}},
        {"row wider than a small, thin picture",
         {{100, 50}, box, 1.0, 0, false, false, false, 400},
         {460, 162},
         {174, 22, 112, 56},
         {300, 22, 330, 56},
         {22, 104, 416, 36}},
        {"side panel: the picture stays on its pill, the panel reaches up",
         {screen, box, 1.0, 0, false, true, false, 300},
         {708, 486},
         {22, 202, 320, 200},
         {356, 22, 330, 380},
         {196, 428, 316, 36}},
        {"pill only, scale 0.5",
         {screen, box, 0.5, 0, false, false, true, 300},
         {360, 62},
         {20, -204, 320, 200},
         {354, -204, 330, 200},
         {22, 22, 316, 18}},
        {"pill only without a usable row",
         {screen, box, 1.0, 0, false, false, true, -16},
         {44, 80},
         {-138, -204, 320, 200},
         {196, -204, 330, 200},
         {22, 22, 0, 36}},
    };
    for (const Case& c : cases) {
        const Layout l = layout(c.in);
        EXPECT_EQ(l.card, c.card) << c.name << ": " << l.card.width() << " x " << l.card.height();
        expectRect(l.imageRect, c.image, c.name);
        expectRect(l.sideRect, c.side, c.name);
        expectRect(l.pill, c.pill, c.name);
        if (!c.in.pillOnly) {
            EXPECT_DOUBLE_EQ(l.pill.top() - l.imageRect.bottom(), gap) << c.name << ": the pill comes off its picture";
        }
    }
}

TEST(CardGeometry, TheDefaultBarScaleGivesAFractionalCardInWholePixelWindow) {
    const Layout l = layout({{1440, 900}, {320, 208}, 0.87, 0, false, false, false, 300});
    EXPECT_NEAR(l.pillHeight, 31.32, 1e-9);
    EXPECT_NEAR(l.card.height(), 200 + 31.32 + 26 + 44, 1e-9);
    EXPECT_EQ(windowSize(l), QSize(364, 302));
}

TEST(CardGeometry, PartsAroundThePicture) {
    const Layout l = layout({{1440, 900}, {320, 208}, 1.0, 0, false, false, false, 300});
    // The picture is (22, 22, 320 x 200); the pill (24, 248, 316 x 36).
    expectRect(closeButton(l), {331, 11, 22, 22}, "close button on the top-right corner");
    expectRect(badge(l, 30), {300, 227, 42, 18}, "badge 5 below, right-aligned");
    expectRect(pageBar(l), {22, 226, 96, 20}, "page bar 4 below, left-aligned");
    const QRectF hover = hoverPill(l, 40);
    expectRect(hover, {153, 222, 58, 20}, "hover pill 6 above the pill, centred on it");
    expectRect(hoverLabel(hover, 14), {9, 3, 40, 14}, "label inside the hover pill");
    // A review box is kept with its origin at the picture's bottom-left.
    expectRect(unitBoxInImage({0, 0, 0.5, 0.25}, l.imageRect), {22, 172, 160, 50}, "bottom-left quarter box");
    expectRect(unitBoxInImage({0.5, 0.75, 0.5, 0.25}, l.imageRect), {182, 22, 160, 50}, "top-right box");
}

TEST(CardGeometry, PlacingTheCardOnScreen) {
    const Screen main{{0, 0, 1920, 1080}, {0, 0, 1920, 1050}};
    const Screen right{{1920, 0, 1280, 1024}, {1920, 0, 1280, 1024}};
    const QList<Screen> both{main, right};
    struct Case {
        const char* name;
        QPointF point;
        QSizeF size;
        QList<Screen> screens;
        QPointF topLeft;
    };
    const Case cases[] = {
        {"centred on the pointer", {500, 500}, {364, 306}, both, {318, 347}},
        {"kept off the panel at the bottom right", {1910, 1040}, {364, 306}, both, {1548, 736}},
        {"kept 8 from the top left", {10, 10}, {364, 306}, both, {8, 8}},
        {"on the second screen from its first column", {1920, 100}, {364, 306}, both, {1928, 8}},
        {"a point on no screen is clamped into the main screen", {5000, 5000}, {364, 306}, both, {1548, 736}},
        {"no screen at all: unclamped", {5000, 5000}, {364, 306}, {}, {4818, 4847}},
        {"oversized: 8 from the left and the bottom", {960, 540}, {2000, 1200}, both, {8, -158}},
    };
    for (const Case& c : cases)
        expectPoint(placeAt(c.point, c.size, c.screens), c.topLeft, c.name);
}

TEST(CardGeometry, MovingTheCardForEditorsAndSideViews) {
    const QList<Screen> screens{{{0, 0, 1920, 1080}, {0, 0, 1920, 1050}}};
    const Input in{{1440, 900}, {320, 208}, 1.0, 0, false, false, false, 300};
    const Layout card = layout(in);
    const QSizeF window(windowSize(card));

    // A sticky note turning back into a card: the picture's centre lands on the note's centre.
    const QRectF note(1000, 300, 400, 250);
    const QPointF topLeft = placeAt(pointForPictureOn(note, card, window), window, screens);
    expectPoint(topLeft + card.imageRect.center(), note.center(), "picture centred on the note");

    // Collapsed: the pill centred under the canvas, its top 32 below the canvas, wherever that is.
    Input pillOnly = in;
    pillOnly.pillOnly = true;
    const Layout collapsed = layout(pillOnly);
    for (const QRectF canvas : {QRectF(400, 100, 800, 600), QRectF(1500, 900, 800, 600)}) {
        const QPointF at = collapsedTopLeft(canvas, collapsed);
        EXPECT_NEAR(at.y() + collapsed.pill.top(), canvas.bottom() + 32, 1e-9);
        EXPECT_NEAR(at.x() + collapsed.pill.center().x(), canvas.center().x(), 1e-9);
    }

    // Expanded: the picture centred on the canvas, then kept on screen.
    const QPointF expanded = expandedTopLeft({400, 100, 800, 600}, card, window, screens);
    expectPoint(expanded + card.imageRect.center(), QPointF(800, 400), "picture centred on the canvas");
    expectPoint(expandedTopLeft({1800, 950, 200, 100}, card, window, screens), {1548, 736}, "expanded near a corner");

    // A side view comes: the picture's top-left corner stays where it was on screen.
    Input withSide = in;
    withSide.side = true;
    const Layout wide = layout(withSide);
    const QSizeF wideWindow(windowSize(wide));
    const QPointF picture(500, 300);
    expectPoint(keepingPicture(picture, wide, wideWindow, std::nullopt) + wide.imageRect.topLeft(), picture,
                "picture kept in place");
    expectPoint(keepingPicture({1700, 300}, wide, wideWindow, QRectF(0, 0, 1920, 1050)), {1204, 98},
                "clamped at the right edge");

    // Laid out again on screen: the top-left corner stays.
    expectRect(resizedFrame({100, 200, 540, 306}, {364, 306}), {100, 200, 364, 306}, "shrinks to the right");
}
