#include "card/RedactReview.h"

#include <gtest/gtest.h>

namespace {

// A 200 × 100 picture at (100, 50) on the card.
RedactReview reviewWith(std::vector<QRectF> boxes) {
    RedactReview review;
    review.imageRect = QRectF(100, 50, 200, 100);
    review.rs = RedactMarks::State{QUrl::fromLocalFile(QStringLiteral("/tmp/a.png")), std::move(boxes)};
    return review;
}

void expectRect(QRectF actual, QRectF expected, const char* what) {
    EXPECT_NEAR(actual.x(), expected.x(), 1e-9) << what;
    EXPECT_NEAR(actual.y(), expected.y(), 1e-9) << what;
    EXPECT_NEAR(actual.width(), expected.width(), 1e-9) << what;
    EXPECT_NEAR(actual.height(), expected.height(), 1e-9) << what;
}

} // namespace

TEST(RedactReview, UnitBoxesHaveTheirOriginAtThePicturesBottomLeft) {
    RedactReview review = reviewWith({});
    // The lower-left quarter of the picture is its lower-left quarter on screen too.
    expectRect(review.markRect({0, 0, 0.5, 0.5}), {100, 100, 100, 50}, "lower left");
    expectRect(review.markRect({0.5, 0.5, 0.5, 0.5}), {200, 50, 100, 50}, "upper right");
    expectRect(review.normalized({130, 60, 40, 20}), {0.15, 0.7, 0.2, 0.2}, "inverse");
}

TEST(RedactReview, HitTesting) {
    // Box 0 at (120, 60, 40, 20), box 1 overlapping it at (140, 60, 40, 20).
    RedactReview review = reviewWith({{0.1, 0.7, 0.2, 0.2}, {0.2, 0.7, 0.2, 0.2}});
    struct Case {
        QPointF p;
        std::optional<int> box;
    } cases[] = {
        {{150, 70}, 1}, // the later box lies on top
        {{125, 70}, 0},
        {{117, 70}, 0}, // 3 points outside still hits
        {{116.5, 70}, std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(review.markIndex(c.p), c.box) << c.p.x() << "," << c.p.y();
    // Handle 0 is the bottom-left corner, on the larger y: (140, 80) on screen.
    EXPECT_EQ(review.handle({141, 81}, 1), 0); // within 9 of it
    EXPECT_EQ(review.handle({180, 52}, 1), 7); // top right (180, 60)
    EXPECT_EQ(review.handle({150, 70}, 1), std::nullopt);
    EXPECT_EQ(review.handle({140, 80}, 5), std::nullopt) << "no such box";
}

TEST(RedactReview, MovingResizingAndDrawingBoxes) {
    RedactReview review = reviewWith({{0.1, 0.7, 0.2, 0.2}}); // (120, 60, 40, 20)
    // A press and release without moving selects the box and still renders again.
    ASSERT_TRUE(review.press({130, 70}));
    EXPECT_EQ(review.selMark, 0);
    EXPECT_TRUE(review.release());

    // Moved far left and up, the box stops at the picture's edges.
    ASSERT_TRUE(review.press({130, 70}));
    review.drag({0, 0});
    EXPECT_TRUE(review.release());
    expectRect(review.markRect(review.rs->boxes[0]), {100, 50, 40, 20}, "clamped move");

    // The bottom-right handle dragged past the opposite corner flips the box.
    ASSERT_TRUE(review.press({140, 70}));
    review.drag({90, 40});
    expectRect(review.markRect(review.rs->boxes[0]), {100, 50, 40, 20}, "flipped onto the edge is cut");
    review.drag({120, 60});
    expectRect(review.markRect(review.rs->boxes[0]), {100, 50, 20, 10}, "smaller");
    review.drag({103, 70}); // 3 wide: refused, the last valid shape stays
    expectRect(review.markRect(review.rs->boxes[0]), {100, 50, 20, 10}, "too thin");
    review.release();

    // Drawing: a box of 4 points is dropped and drawing stays on; a larger one is cut to the picture.
    review.setDrawMode(true);
    EXPECT_FALSE(review.selMark.has_value()) << "drawing clears the selection";
    ASSERT_TRUE(review.press({200, 100}));
    review.drag({204, 110});
    EXPECT_FALSE(review.release());
    EXPECT_TRUE(review.drawMode());
    EXPECT_EQ(review.rs->boxes.size(), 1u);
    ASSERT_TRUE(review.press({250, 100}));
    review.drag({400, 300});
    EXPECT_TRUE(review.release());
    EXPECT_FALSE(review.drawMode());
    ASSERT_EQ(review.rs->boxes.size(), 2u);
    EXPECT_EQ(review.selMark, 1);
    expectRect(review.markRect(review.rs->boxes[1]), {250, 100, 50, 50}, "drawn beyond the picture");

    // A press on nothing clears the selection and is not taken.
    EXPECT_FALSE(review.press({290, 55}));
    EXPECT_FALSE(review.selMark.has_value());
}

TEST(RedactReview, DeletionAndTheBar) {
    RedactReview review = reviewWith({{0.1, 0.7, 0.2, 0.2}, {0.5, 0.1, 0.1, 0.1}});
    EXPECT_FALSE(review.deleteSelected()) << "nothing selected";
    review.press({130, 70});
    review.release();
    EXPECT_EQ(review.barText(), QStringLiteral("Drag to move \u00b7 handles resize"));
    review.committing = true;
    EXPECT_FALSE(review.deleteSelected()) << "refused while a render runs";
    EXPECT_FALSE(review.press({130, 70})) << "presses too";
    review.committing = false;
    EXPECT_TRUE(review.deleteSelected());
    EXPECT_EQ(review.barText(), QStringLiteral("1 box \u00b7 click one to edit"));
    review.setDrawMode(true);
    EXPECT_EQ(review.barText(), QStringLiteral("Drag over what to hide"));
}
