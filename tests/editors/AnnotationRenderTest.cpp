// Drawing annotations: pixel probes of each kind's look, the flattened picture, hostile shapes,
// and a sheet of every kind for looking at.

#include "editors/AnnotateCanvas.h"
#include "editors/AnnotationFont.h"
#include "editors/AnnotationGeometry.h"
#include "editors/AnnotationRenderer.h"
#include "ui/UI.h"

#include <QDir>
#include <QPainter>
#include <gtest/gtest.h>

using namespace Annotation;

namespace {

class AnnotationRenderTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { UI::registerFonts(); }
};

QImage plain(int w, int h, QColor color = QColor(60, 60, 60)) {
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    image.fill(color);
    return image;
}

// A picture where every pixel differs from its neighbours, so pixelation shows as flat blocks.
QImage noise(int w, int h) {
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y, qRgb((x * 37 + y * 11) % 256, (x * 5 + y * 71) % 256, (x * y) % 256));
    return image;
}

QImage drawn(const QImage& picture, const std::vector<Shape>& shapes) {
    AnnotateCanvas canvas(picture);
    canvas.shapes = shapes;
    return canvas.render();
}

bool reddish(QRgb p) {
    return qRed(p) > 180 && qGreen(p) < 120 && qBlue(p) < 120;
}

// The bounding box of the pixels inside a band that pass.
QRect inked(const QImage& image, const QRect& band, const std::function<bool(QRgb)>& ink) {
    QRect box;
    for (int y = band.top(); y <= band.bottom(); ++y)
        for (int x = band.left(); x <= band.right(); ++x)
            if (ink(image.pixel(x, y)))
                box |= QRect(x, y, 1, 1);
    return box;
}

double middle(const QRect& r) {
    return (r.top() + r.bottom() + 1) / 2.0;
}

const Color red = palette()[0];

} // namespace

TEST_F(AnnotationRenderTest, ArrowHeadSpansItsLastFourAndAHalfWidths) {
    // Width 4 from (20, 50) to (120, 50): the head runs from x = 102 to 120 and is 18 pixels across.
    const QImage out = drawn(plain(200, 100), {Shape{Arrow{{20, 50}, {120, 50}}, red, 4, false, {}}});
    EXPECT_NEAR(inked(out, QRect(90, 30, 40, 40), reddish).right(), 119, 1);
    EXPECT_NEAR(inked(out, QRect(103, 30, 1, 40), reddish).height(), 17, 2); // just behind the base: nearly 18
    // The shaft ends where the head begins: just before it, only the 4 wide shaft is red.
    for (int x : {60, 99})
        EXPECT_NEAR(inked(out, QRect(x, 30, 1, 40), reddish).height(), 4, 1) << x;
    // The halo: white at 0.55 behind colours, black at 0.5 behind white.
    EXPECT_EQ(AnnotationRenderer::haloColor(red), QColor::fromRgbF(1, 1, 1, 0.55f));
    EXPECT_EQ(AnnotationRenderer::haloColor(white()), QColor::fromRgbF(0, 0, 0, 0.5f));
    EXPECT_EQ(AnnotationRenderer::haloColor(Color{0.999, 1, 1, 1}), QColor::fromRgbF(1, 1, 1, 0.55f));
}

TEST_F(AnnotationRenderTest, BlurBlocksFollowTheRegionHeight) {
    const QImage picture = noise(400, 400);
    // 300 high: blocks of 30; 50 high: blocks of 8 (a 64 wide region gives 8 columns).
    const QImage big = drawn(picture, {Shape{Blur{QRectF(50, 50, 300, 300)}, red, 2, false, {}}});
    const QImage small = drawn(picture, {Shape{Blur{QRectF(0, 0, 64, 50)}, red, 2, false, {}}});
    auto runAt = [](const QImage& image, int x0, int y) {
        int run = 1;
        while (image.pixel(x0 + run, y) == image.pixel(x0, y))
            ++run;
        return run;
    };
    EXPECT_EQ(runAt(big, 50, 100), 30);
    EXPECT_EQ(runAt(big, 80, 100), 30);
    EXPECT_EQ(runAt(small, 0, 380), 8);
    EXPECT_EQ(big.pixel(40, 100), picture.pixel(40, 100)); // outside untouched
    // Too low to pixelate, and a region half outside pixelates only its inside half.
    EXPECT_EQ(drawn(picture, {Shape{Blur{QRectF(10, 10, 100, 2)}, red, 2, false, {}}}), drawn(picture, {}));
    const QImage edge = drawn(picture, {Shape{Blur{QRectF(-100, 100, 200, 100)}, red, 2, false, {}}});
    EXPECT_EQ(runAt(edge, 0, 250), 10);
}

TEST_F(AnnotationRenderTest, TextSizeLinesAndNumberMarkers) {
    const auto inkOf = [](QRgb p) { return qRed(p) > 150 && qGreen(p) < 120; };
    // Width 1 draws at 28 pixels, width 3 at 42: a capital's ink is the font's cap height tall.
    for (double width : {1.0, 3.0}) {
        const double size = width == 1 ? 28 : 42;
        const QImage out = drawn(plain(300, 300), {Shape{Text{QStringLiteral("H"), {20, 200}}, red, width, false, {}}});
        const QRect ink = inked(out, out.rect(), inkOf);
        EXPECT_NEAR(ink.height(), AnnotationFont::capHeight(size), 1.5) << width;
        // The anchor sits half a cap height above the baseline.
        EXPECT_NEAR(middle(ink), 300 - 200, 1.5) << width;
    }
    // "H\n\nH" draws three lines 1.2 x 28 apart, the middle one empty.
    const QImage lines = drawn(plain(300, 300), {Shape{Text{QStringLiteral("H\n\nH"), {20, 250}}, red, 1, false, {}}});
    const QRect first = inked(lines, QRect(0, 0, 300, 110), inkOf), third = inked(lines, QRect(0, 90, 300, 210), inkOf);
    EXPECT_NEAR(third.top() - first.top(), 2 * 1.2 * 28, 1.5);
    EXPECT_TRUE(inked(lines, QRect(0, first.bottom() + 3, 300, third.top() - first.bottom() - 6), inkOf).isNull());

    // Width 4: a circle of radius 20 with digits of size 25, white on colours, black on white.
    const QImage number = drawn(plain(100, 100), {Shape{Number{8, {50, 50}}, red, 4, false, {}}});
    EXPECT_NEAR(inked(number, QRect(0, 50, 100, 1), reddish).width(), 40, 2);
    const auto whiteInk = [](QRgb p) { return qRed(p) > 200 && qGreen(p) > 200 && qBlue(p) > 200; };
    const QRect digit = inked(number, QRect(35, 35, 30, 30), whiteInk);
    EXPECT_NEAR(digit.height(), AnnotationFont::capHeight(25, true), 1.5);
    EXPECT_NEAR(middle(digit), 50, 1);
    const QImage onWhite = drawn(plain(100, 100), {Shape{Number{8, {50, 50}}, white(), 4, false, {}}});
    EXPECT_NEAR(inked(onWhite, QRect(42, 36, 16, 28), [](QRgb p) { return qRed(p) < 60; }).height(),
                AnnotationFont::capHeight(25, true), 1.5);
}

TEST_F(AnnotationRenderTest, HighlighterMultipliesAtSixWidths) {
    const QImage picture = plain(200, 100, QColor(200, 200, 200));
    const Color halfYellow{1, 0.75, 0, 0.2}; // the colour's own alpha is replaced by 0.45
    const auto height = [](const QImage& out) {
        return inked(out, QRect(100, 0, 1, 100), [](QRgb p) { return qBlue(p) < 190; }).height();
    };
    const QImage out = drawn(picture, {Shape{Highlight{{{20, 50}, {180, 50}}}, halfYellow, 3, false, {}}});
    EXPECT_NEAR(height(out), 18, 1);
    // Multiply at 0.45: blue 200 -> 200 x (1 - 0.45) = 110; red stays.
    EXPECT_NEAR(qBlue(out.pixel(100, 50)), 110, 3);
    EXPECT_NEAR(qRed(out.pixel(100, 50)), 200, 3);
    // A stroke of many points is drawn in pieces but still blends once, also where pieces meet.
    QList<QPointF> many;
    for (int i = 0; i <= 20000; ++i)
        many.push_back(QPointF(20 + i * 0.008, 50));
    const QImage long_ = drawn(picture, {Shape{Highlight{many}, halfYellow, 3, false, {}}});
    for (int x : {28, 36, 100})
        EXPECT_NEAR(qBlue(long_.pixel(x, 50)), 110, 3) << x;
    EXPECT_NEAR(height(long_), 18, 1);
}

TEST_F(AnnotationRenderTest, FlattenedPictureHoldsNoDecoration) {
    AnnotateCanvas canvas(noise(320, 200));
    canvas.resize(160, 100);
    canvas.shapes = {Shape{Box{QRectF(40, 40, 100, 80)}, red, 4, false, {}},
                     Shape{Blur{QRectF(200, 20, 80, 80)}, red, 2, false, {}}};
    const QImage unselected = canvas.render();
    canvas.selected = 0;
    canvas.showHint(QStringLiteral("Thickness 100 %"), 5);
    const QImage selected = canvas.render();
    EXPECT_EQ(selected.size(), QSize(320, 200));
    EXPECT_EQ(selected, unselected);
}

// The pixels of `out` that differ from `picture` in an area (both premultiplied 32-bit).
int changedIn(const QImage& out, const QImage& picture, const QRect& area) {
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            n += out.pixel(x, y) != picture.pixel(x, y);
    return n;
}

// Shapes far outside the picture, enormous, or of a million points: each draws what of it lies on the picture
// and leaves the rest as it was.
TEST_F(AnnotationRenderTest, HostileShapesDrawWithoutHarm) {
    const QImage picture = noise(300, 300);
    const QRect all = picture.rect();
    const double far = 1e12;
    const auto alone = [&](const Shape& shape) { return drawn(picture, {shape}); };

    // Nothing of these lies on the picture: an outline whose edges are far away, and marks placed far off.
    for (const Shape& shape : {Shape{Box{QRectF(-far, -far, 2 * far, 2 * far)}, red, 2, false, {}},
                               Shape{Ellipse{QRectF(far, far, far, far)}, red, 2, true, {}},
                               Shape{Text{QStringLiteral("far"), {far, -far}}, red, 2, false, {}},
                               Shape{Number{1, {-far, far}}, red, 2, false, {}}})
        EXPECT_EQ(changedIn(alone(shape), picture, all), 0) << shape.kind.index();

    // An arrow from far below-left to far above-right crosses the picture on its diagonal, and only there.
    const QImage arrow = alone(Shape{Arrow{{-far, -far}, {far, far}}, red, 2, false, {}});
    EXPECT_TRUE(reddish(arrow.pixel(150, 149)) || reddish(arrow.pixel(150, 150)));
    EXPECT_EQ(changedIn(arrow, picture, QRect(200, 200, 100, 100)), 0) << "off the diagonal";
    // A highlight band along the bottom edge, as wide as the world: the bottom rows change, the rest stays.
    const QImage band = alone(Shape{Marker{{QRectF(-far, 0, 2 * far, 10)}}, red, 2, false, {}});
    EXPECT_GT(changedIn(band, picture, QRect(0, 292, 300, 8)), 300 * 8 * 9 / 10);
    EXPECT_EQ(changedIn(band, picture, QRect(0, 0, 300, 280)), 0);
    // A blur over everything pixelates the whole picture: blocks of one colour, not one colour overall.
    const QImage blurred = alone(Shape{Blur{QRectF(-far, -far, 2 * far, 2 * far)}, red, 2, false, {}});
    EXPECT_GT(changedIn(blurred, picture, all), 300 * 300 * 9 / 10);
    EXPECT_EQ(blurred.pixel(101, 101), blurred.pixel(102, 102)) << "not pixelated";
    EXPECT_NE(blurred.pixel(20, 20), blurred.pixel(280, 280)) << "flattened to one colour";
    // A pen through a million points, back and forth over the picture, inks nearly all of it.
    QList<QPointF> million;
    million.reserve(1000000);
    for (int i = 0; i < 1000000; ++i)
        million.push_back(QPointF(i % 997, (i / 997) % 300));
    const QImage pen = alone(Shape{Pen{million}, red, 2, false, {}});
    int inked = 0;
    for (int y = 0; y < 300; y += 3)
        for (int x = 0; x < 300; x += 3)
            inked += reddish(pen.pixel(x, y));
    EXPECT_GT(inked, 100 * 100 * 9 / 10);
    // A plain grey signature stretched from the picture's corner far past it covers all of it in its grey.
    const QImage sig = alone(Shape{Signature{QRectF(0, 0, far, far)}, red, 2, false, plain(4, 4)});
    int grey = 0;
    for (int y = 0; y < 300; ++y)
        for (int x = 0; x < 300; ++x)
            grey += sig.pixel(x, y) == qRgb(60, 60, 60);
    EXPECT_EQ(grey, 300 * 300);
}

TEST_F(AnnotationRenderTest, SheetOfEveryKind) {
    // Three rows at thickness 1, 3 and 5 over a picture with text to blur and highlight.
    const int H = 1100;
    QImage picture = plain(2000, H, QColor(236, 238, 242));
    QPainter text(&picture);
    text.setFont(UI::font(22));
    for (int y = 40; y < H; y += 60)
        text.drawText(20, y,
                      QStringLiteral("Quarterly numbers are in the attached sheet; reply before Friday please. "
                                     "The review moves to Thursday at ten."));
    text.end();
    QImage sig = plain(120, 50, Qt::transparent);
    QPainter ink(&sig);
    ink.setRenderHint(QPainter::Antialiasing);
    ink.setPen(QPen(Qt::black, 3));
    QPainterPath stroke(QPointF(5, 40));
    stroke.cubicTo(30, -10, 40, 60, 70, 20);
    stroke.cubicTo(85, 0, 95, 45, 115, 15);
    ink.drawPath(stroke);
    ink.end();
    const double u = strokeUnit(H);
    std::vector<Shape> shapes;
    int row = 0;
    for (double t : {1.0, 3.0, 5.0}) {
        const double top = H - 40 - row * 350, w = t * u;
        auto at = [&](double x, double y) { return QPointF(x, top - y); };
        shapes.push_back({Arrow{at(20, 200), at(120, 40)}, palette()[0], w, false, {}});
        shapes.push_back({Line{at(140, 200), at(230, 40)}, palette()[2], w, false, {}});
        shapes.push_back({Box{QRectF(at(250, 200), at(350, 60)).normalized()}, palette()[3], w, false, {}});
        shapes.push_back({Box{QRectF(at(370, 200), at(440, 60)).normalized()}, palette()[8], w, true, {}});
        shapes.push_back({Ellipse{QRectF(at(460, 200), at(560, 60)).normalized()}, white(), w, false, {}});
        shapes.push_back({Pen{{at(580, 180), at(600, 60), at(630, 170), at(660, 70)}}, palette()[4], w, false, {}});
        shapes.push_back({Highlight{{at(680, 120), at(800, 110)}}, palette()[1], w, false, {}});
        shapes.push_back({Marker{{QRectF(at(820, 140), at(960, 110)).normalized()}}, palette()[1], w, false, {}});
        shapes.push_back({Blur{QRectF(at(980, 200), at(1100, 60)).normalized()}, palette()[0], w, false, {}});
        shapes.push_back({Text{QStringLiteral("Hi\nyou"), at(1120, 40)}, palette()[0], w, false, {}});
        shapes.push_back({Number{row + 1, at(1620, 120)}, palette()[2], w, false, {}});
        shapes.push_back({Signature{QRectF(at(1760, 180), at(1960, 100)).normalized()}, palette()[0], w, false, sig});
        ++row;
    }
    const QImage out = drawn(picture, shapes);
    const QString dir = QStringLiteral(E2E_SHOTS_DIR);
    QDir().mkpath(dir);
    EXPECT_TRUE(out.save(dir + QStringLiteral("/annotation-kinds.png")));
    // Every kind at every thickness shows on the sheet: its box (y up in the shapes, down in the picture) has
    // visibly changed.
    for (const Shape& shape : shapes) {
        const QRectF box = AnnotationGeometry::bounds(shape.kind, shape.width);
        const QRect area = QRectF(box.left(), H - box.bottom(), box.width(), box.height()).toAlignedRect() & out.rect();
        ASSERT_FALSE(area.isEmpty()) << shape.kind.index();
        EXPECT_GT(changedIn(out, picture, area), area.width() * area.height() / 50)
            << "kind " << shape.kind.index() << " at width " << shape.width;
    }
}
