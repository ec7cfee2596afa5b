// Geometry of annotations where rectangle conventions matter: unions of points, touching boxes,
// shrinking past nothing, and refitting a signature into a resized box.

#include "editors/AnnotationGeometry.h"
#include "editors/PictureRects.h"

#include <gtest/gtest.h>

namespace R = PictureRects;
using namespace Annotation;

TEST(PictureRectsTest, PointsWidenUnionsAndTouchingBoxesMeet) {
    // Zero-size rectangles still count in a union (QRectF::united would skip them).
    EXPECT_EQ(R::unite(R::pointRect({1, 2}), R::pointRect({5, 2})), QRectF(1, 2, 4, 0));
    EXPECT_EQ(R::unite(R::null(), R::pointRect({3, 3})), QRectF(3, 3, 0, 0));
    // A box without height (a perfectly straight stroke) meets what it touches or crosses.
    EXPECT_TRUE(R::intersects(QRectF(0, 10, 50, 0), QRectF(20, 0, 10, 10)));
    EXPECT_TRUE(R::intersects(QRectF(0, 5, 50, 0), QRectF(20, 0, 10, 10)));
    EXPECT_FALSE(R::intersects(QRectF(0, 11, 50, 0), QRectF(20, 0, 10, 10)));
    EXPECT_FALSE(R::intersects(R::null(), QRectF(0, 0, 10, 10)));
    // Shrinking past nothing leaves nothing; growing works from any size.
    EXPECT_TRUE(R::isNull(R::inset(QRectF(0, 0, 10, 4), 1, 3)));
    EXPECT_EQ(R::inset(QRectF(0, 0, 10, 4), 1, 2), QRectF(1, 2, 8, 0));
    EXPECT_EQ(R::inset(QRectF(5, 5, 0, 0), -2, -1), QRectF(3, 4, 4, 2));
    EXPECT_TRUE(R::contains(QRectF(0, 0, 10, 10), {0, 0}));
    EXPECT_FALSE(R::contains(QRectF(0, 0, 10, 10), {10, 5}));
}

TEST(AnnotationGeometryTest, SignaturesKeepTheirShapeAndTheOppositeSide) {
    namespace G = AnnotationGeometry;
    const QRectF from(100, 100, 200, 100);
    // The right edge dragged out by 100: twice as wide, twice as high, left and bottom fixed.
    const auto wider = std::get<Signature>(G::fitted(Signature{from}, from, QRectF(100, 100, 300, 100)));
    EXPECT_EQ(wider.rect, QRectF(100, 100, 300, 150));
    // The left edge dragged in: the right side stays.
    const auto narrower = std::get<Signature>(G::fitted(Signature{from}, from, QRectF(200, 100, 100, 100)));
    EXPECT_EQ(narrower.rect, QRectF(200, 100, 100, 50));
    // The top edge dragged down: the height wins, the bottom-left stays.
    const auto lower = std::get<Signature>(G::fitted(Signature{from}, from, QRectF(100, 100, 200, 50)));
    EXPECT_EQ(lower.rect, QRectF(100, 100, 100, 50));
    // A resized box never drops below 2 x 2, and shrinking the padded box stays finite.
    EXPECT_EQ(G::resizedBox(from, 2, {100, 300}), QRectF(100, 200, 2, 100));
    const QRectF tiny = G::unpadded(QRectF(10, 10, 2, 2));
    EXPECT_EQ(tiny, QRectF(11, 11, 0, 0));
}
