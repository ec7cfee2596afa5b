#include "app/Divider.h"
#include "app/FillImageView.h"
#include "app/FormatBadge.h"
#include "app/GhostButton.h"
#include "app/Pill.h"
#include "app/UI.h"
#include "platform/Defaults.h"

#include <QApplication>
#include <QEnterEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <functional>

namespace {

const QString kSizeKey = QStringLiteral("picto.sizeScale");

// Sets the stored size for the life of the object.
struct SizeSetting {
    explicit SizeSetting(double value) { Defaults::standard().set(kSizeKey, value); }
    ~SizeSetting() { Defaults::standard().remove(kSizeKey); }
};

QImage renderOn(QWidget& widget, QColor background = Qt::black) {
    QImage image(widget.size(), QImage::Format_ARGB32);
    image.fill(background);
    widget.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

// A colour at an alpha composited over black.
QColor overBlack(QColor colour, double alpha) {
    return QColor(qRound(colour.red() * alpha), qRound(colour.green() * alpha), qRound(colour.blue() * alpha));
}

::testing::AssertionResult near(QColor actual, QColor expected, int tolerance = 3) {
    if (qAbs(actual.red() - expected.red()) <= tolerance && qAbs(actual.green() - expected.green()) <= tolerance &&
        qAbs(actual.blue() - expected.blue()) <= tolerance)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "got " << actual.name().toStdString() << ", expected "
                                         << expected.name().toStdString();
}

void enter(QWidget& w) {
    QEnterEvent event(QPointF(3, 3), QPointF(3, 3), QPointF(3, 3));
    QApplication::sendEvent(&w, &event);
}

void leave(QWidget& w) {
    QEvent event(QEvent::Leave);
    QApplication::sendEvent(&w, &event);
}

void pressOn(QWidget& w) {
    QTest::mousePress(&w, Qt::LeftButton, {}, QPoint(3, 3));
}
void releaseOn(QWidget& w) {
    QTest::mouseRelease(&w, Qt::LeftButton, {}, QPoint(3, 3));
}

// Pixels in a row whose colour differs from the background: the width of what is drawn there.
int inkAcross(const QImage& image, int y, QColor background = Qt::black) {
    int count = 0;
    for (int x = 0; x < image.width(); ++x)
        if (!near(image.pixelColor(x, y), background, 20))
            ++count;
    return count;
}

int inkPixels(const QImage& image, QColor background = Qt::black) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        count += inkAcross(image, y, background);
    return count;
}

} // namespace

TEST(Pill, CornerRadiusFollowsTheShorterSideUpTo18) {
    struct Case {
        QSize made;
        double radius;
        QSize resized;
        double radiusAfter;
    };
    const Case cases[] = {
        {{300, 20}, 10, {300, 20}, 10}, {{200, 60}, 18, {200, 60}, 18}, {{300, 20}, 10, {20, 10}, 5},
        {{10, 40}, 18, {10, 40}, 5}, // made tall and thin: the height sets it until laid out
        {{0, 0}, 0, {0, 0}, 0},
    };
    for (const Case& c : cases) {
        Pill pill(QRect(QPoint(0, 0), c.made));
        EXPECT_DOUBLE_EQ(pill.cornerRadius(), c.radius) << c.made.width() << "x" << c.made.height();
        pill.resize(c.resized);
        QResizeEvent event(c.resized, c.made);
        QApplication::sendEvent(&pill, &event);
        EXPECT_DOUBLE_EQ(pill.cornerRadius(), c.radiusAfter);
        EXPECT_EQ(pill.shade->geometry(), pill.rect());
    }
}

TEST(Pill, ShadeLiesUnderLaterChildrenAndCornersStayClear) {
    Pill pill(QRect(0, 0, 120, 32));
    auto* child = new QLabel(QStringLiteral("x"), &pill);
    ASSERT_EQ(pill.children().indexOf(pill.shade), 0);
    EXPECT_GT(pill.children().indexOf(child), 0);

    const QImage image = renderOn(pill, QColor(255, 0, 255));
    // The corner is outside the rounded outline: the background shows.
    EXPECT_TRUE(near(image.pixelColor(0, 0), QColor(255, 0, 255)));
    // Inside, a dark body with hardly any of the background left.
    const QColor middle = image.pixelColor(60, 16);
    EXPECT_LT(middle.red(), 60);
    EXPECT_LT(middle.green(), 40);
    // The outline is lighter than the body next to it.
    EXPECT_GT(image.pixelColor(60, 0).green(), image.pixelColor(60, 3).green());
}

TEST(GhostButton, SizesScaleWithTheSizeSetting) {
    struct Case {
        double stored; // 0: unset
        double factor;
        QSize button; // 30 × 28
        QSize text;   // 68 × 28
        int divider;  // 16
    };
    const Case cases[] = {
        {0.5, 0.675, {20, 19}, {46, 19}, 11},
        {1.2, 1.0, {30, 28}, {68, 28}, 16},
        {0.0, 0.87, {26, 24}, {59, 24}, 14},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored);
        std::unique_ptr<SizeSetting> setting;
        if (c.stored != 0)
            setting = std::make_unique<SizeSetting>(c.stored);
        GhostButton symbol(QStringLiteral("Crop"), QStringLiteral("crop"), {}, QSizeF(30, 28), 13);
        GhostButton text(QStringLiteral("Rename"), {}, QStringLiteral("Rename"), QSizeF(68, 28), 13);
        Divider upright(16, false);
        Divider across(16, true);
        EXPECT_EQ(symbol.size(), c.button);
        EXPECT_EQ(symbol.minimumSize(), symbol.maximumSize());
        EXPECT_EQ(text.size(), c.text);
        EXPECT_EQ(upright.size(), QSize(1, c.divider));
        EXPECT_EQ(across.size(), QSize(c.divider, 1));
        EXPECT_EQ(text.font(), UI::font(12 * c.factor, QFont::DemiBold));
        // The symbol grows with the setting too: a filled square of 14 × factor.
        GhostButton square(QStringLiteral("Fill"), QStringLiteral("square.fill"), {}, QSizeF(30, 28), 14);
        const QImage image = renderOn(square);
        EXPECT_NEAR(inkAcross(image, image.height() / 2), 14 * c.factor, 1.5);
    }
}

TEST(GhostButton, BackgroundOfEachState) {
    const QColor accent = UI::accent();
    struct Case {
        const char* name;
        std::function<void(GhostButton&)> arrange;
        QColor expected; // at the left edge of the background, over black
    };
    const Case cases[] = {
        {"idle", [](GhostButton&) {}, Qt::black},
        {"hovering", [](GhostButton& b) { enter(b); }, overBlack(Qt::white, 0.12)},
        {"pressing", [](GhostButton& b) { pressOn(b); }, overBlack(Qt::white, 0.2)},
        {"hovering and pressing", [](GhostButton& b) { enter(b), pressOn(b); }, overBlack(Qt::white, 0.2)},
        {"active", [](GhostButton& b) { b.setActive(true); }, overBlack(accent, 0.2)},
        {"active and hovering", [](GhostButton& b) { b.setActive(true), enter(b); }, overBlack(accent, 0.2)},
        {"active and pressing", [](GhostButton& b) { b.setActive(true), pressOn(b); }, overBlack(accent, 0.3)},
        {"released", [](GhostButton& b) { enter(b), pressOn(b), releaseOn(b); }, overBlack(Qt::white, 0.12)},
        {"left while pressed", [](GhostButton& b) { enter(b), pressOn(b), leave(b); }, Qt::black},
        {"glass done", [](GhostButton& b) { b.setGlass(GhostButton::Glass::done); }, overBlack(accent, 0.2)},
        {"glass done pressing", [](GhostButton& b) { b.setGlass(GhostButton::Glass::done), pressOn(b); },
         overBlack(accent, 0.3)},
        {"glass done over active",
         [](GhostButton& b) { b.setActive(true), b.setGlass(GhostButton::Glass::done), enter(b); },
         overBlack(accent, 0.2)},
        {"disabled", [](GhostButton& b) { b.setEnabled(false); }, Qt::black},
    };
    SizeSetting full(1.0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        GhostButton button(QStringLiteral("Crop"), QStringLiteral("crop"), {}, QSizeF(30, 28), 13);
        c.arrange(button);
        const QImage image = renderOn(button);
        // Left of the symbol, inside the 1-pixel inset, away from the outline.
        EXPECT_TRUE(near(image.pixelColor(4, 14), c.expected));
        // Outside the rounded corner nothing is drawn.
        EXPECT_TRUE(near(image.pixelColor(0, 0), Qt::black));
    }
}

TEST(GhostButton, GlassCloseIsAGradientThatBrightensUnderTheMouse) {
    SizeSetting full(1.0);
    auto shade = [](bool hovering, bool pressing, int y) {
        GhostButton button(QStringLiteral("Close"), QStringLiteral("xmark"), {}, QSizeF(30, 28), 12);
        button.setGlass(GhostButton::Glass::close);
        if (hovering)
            enter(button);
        if (pressing)
            pressOn(button);
        return renderOn(button).pixelColor(15, y).red();
    };
    // Lighter at the top than at the bottom.
    EXPECT_GT(shade(false, false, 3), shade(false, false, 24));
    // Hovering lifts both ends; pressing dims them a little.
    EXPECT_GT(shade(true, false, 3), shade(false, false, 3));
    EXPECT_LT(shade(true, true, 3), shade(true, false, 3));
    EXPECT_NEAR(shade(false, false, 2), 0.12 * 255, 4);
    EXPECT_NEAR(shade(true, false, 2), 0.2 * 255, 4);
}

TEST(GhostButton, SymbolIsDrawnInTheContentTint) {
    SizeSetting full(1.0);
    GhostButton button(QStringLiteral("Done"), QStringLiteral("square.fill"), {}, QSizeF(30, 28), 14);
    EXPECT_TRUE(near(renderOn(button).pixelColor(15, 14), Qt::white, 8));
    button.setGlass(GhostButton::Glass::done);
    EXPECT_TRUE(near(renderOn(button).pixelColor(15, 14), UI::accent(), 8));
    // Disabled content is faint.
    button.setEnabled(false);
    EXPECT_LT(renderOn(button).pixelColor(15, 14).green(), UI::accent().green() / 2 + 20);
}

TEST(GhostButton, TintShowsADotInsteadOfTheSymbol) {
    SizeSetting full(1.0);
    const QColor red(230, 40, 40);
    GhostButton button(QStringLiteral("Colour"), QStringLiteral("square.fill"), {}, QSizeF(30, 28), 14);
    button.setTint(red);
    QImage image = renderOn(button);
    EXPECT_TRUE(near(image.pixelColor(15, 14), red, 4));
    // 12 across with its outline, and nothing of the (larger) square symbol around it.
    EXPECT_NEAR(inkAcross(image, 14), 13, 1);
    EXPECT_TRUE(near(image.pixelColor(15, 5), Qt::black));

    button.setActive(true);
    image = renderOn(button);
    // The accent background fills the row; measure the dot by its colour.
    int dot = 0;
    for (int x = 0; x < image.width(); ++x)
        if (image.pixelColor(x, 14).red() > 120)
            ++dot;
    EXPECT_NEAR(dot, 15, 1);
}

TEST(GhostButton, UnknownSymbolKeepsSizeAndLooks) {
    SizeSetting full(1.0);
    GhostButton button(QStringLiteral("Nothing"), QStringLiteral("no.such.symbol"), {}, QSizeF(30, 28), 13);
    EXPECT_FALSE(button.hasSymbolImage());
    EXPECT_EQ(button.size(), QSize(30, 28));
    EXPECT_TRUE(near(renderOn(button).pixelColor(15, 14), Qt::black));
    enter(button);
    EXPECT_TRUE(near(renderOn(button).pixelColor(15, 14), overBlack(Qt::white, 0.12)));
}

TEST(GhostButton, HoverCallbackAndClicks) {
    GhostButton button(QStringLiteral("Crop"), QStringLiteral("crop"), {}, QSizeF(30, 28), 13);
    std::vector<bool> hovers;
    button.onHoverChange = [&](bool on) { hovers.push_back(on); };
    QSignalSpy clicked(&button, &QAbstractButton::clicked);

    enter(button);
    EXPECT_TRUE(button.hovering());
    pressOn(button);
    EXPECT_TRUE(button.pressing());
    releaseOn(button);
    EXPECT_FALSE(button.pressing());
    EXPECT_EQ(clicked.count(), 1);
    pressOn(button);
    leave(button);
    EXPECT_FALSE(button.hovering());
    EXPECT_FALSE(button.pressing());
    EXPECT_EQ(hovers, (std::vector<bool>{true, false}));
    EXPECT_TRUE(button.toolTip().isEmpty());
    EXPECT_EQ(button.label, QStringLiteral("Crop"));
}

TEST(FillImageView, PlacesThePicture) {
    using S = FillImageView::Scaling;
    struct Case {
        QSizeF picture;
        QRectF bounds;
        S scaling;
        QRectF expected;
    };
    const Case cases[] = {
        {{1000, 500}, {0, 0, 100, 100}, S::fit, {0, 25, 100, 50}},
        {{10, 10}, {0, 0, 100, 100}, S::fit, {0, 0, 100, 100}},
        {{500, 1000}, {0, 0, 100, 60}, S::fit, {35, 0, 30, 60}},
        {{1000, 500}, {0, 0, 100, 100}, S::fill, {-50, 0, 200, 100}},
        {{10, 40}, {0, 0, 100, 100}, S::fill, {0, -150, 100, 400}},
        {{0, 10}, {0, 0, 100, 100}, S::fit, {}},
        {{10, 10}, {0, 0, 0, 0}, S::fill, {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FillImageView::imageRect(c.picture, c.bounds, c.scaling), c.expected)
            << c.picture.width() << "x" << c.picture.height() << " in " << c.bounds.width() << "x" << c.bounds.height();
}

TEST(FillImageView, DrawsClippedAndOutlined) {
    QImage red(200, 100, QImage::Format_RGB32);
    red.fill(QColor(255, 0, 0));
    struct Case {
        const char* name;
        QImage picture;
        FillImageView::Scaling scaling;
        QColor top;    // middle of the top edge region
        QColor middle; // centre
    };
    const QColor faint = overBlack(Qt::white, 0.04);
    const Case cases[] = {
        {"nothing", QImage(), FillImageView::Scaling::fit, Qt::black, Qt::black},
        {"fitted", red, FillImageView::Scaling::fit, faint, QColor(255, 0, 0)},
        {"filled", red, FillImageView::Scaling::fill, QColor(255, 0, 0), QColor(255, 0, 0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FillImageView view(QRect(0, 0, 100, 100));
        view.setImage(c.picture);
        view.setScaling(c.scaling);
        const QImage image = renderOn(view);
        EXPECT_TRUE(near(image.pixelColor(50, 10), c.top));
        EXPECT_TRUE(near(image.pixelColor(50, 50), c.middle));
        // The rounded corner clips the picture.
        EXPECT_TRUE(near(image.pixelColor(0, 0), Qt::black));
    }
}

TEST(FormatBadge, TextShowsOrHidesAndSizes) {
    QWidget parent;
    auto* badge = new FormatBadge(&parent);
    parent.show();
    badge->setText(QStringLiteral("PNG"));
    EXPECT_TRUE(badge->isVisible());
    const QSize png = badge->sizeHint();
    EXPECT_EQ(png.height(), 18);
    EXPECT_EQ(png.width(), badge->label->sizeHint().width() + 12);
    badge->setText(QString());
    EXPECT_FALSE(badge->isVisible());
    badge->setText(QStringLiteral("JPEG"));
    EXPECT_TRUE(badge->isVisible());
    EXPECT_EQ(badge->sizeHint().height(), 18);
    EXPECT_GT(badge->sizeHint().width(), png.width());

    badge->resize(badge->sizeHint());
    QResizeEvent event(badge->size(), {});
    QApplication::sendEvent(badge, &event);
    EXPECT_EQ(badge->label->x(), 6);
    EXPECT_EQ(badge->label->width(), badge->width() - 12);
    EXPECT_GT(inkPixels(renderOn(*badge, QColor(255, 0, 255)), QColor(255, 0, 255)), 20);
}

namespace {

class PressRecorder : public QWidget {
public:
    int presses = 0;

protected:
    void mousePressEvent(QMouseEvent*) override { ++presses; }
};

} // namespace

TEST(FormatBadge, ClickGoesToTheActionOrOnToTheParent) {
    for (const bool withAction : {true, false}) {
        SCOPED_TRACE(withAction);
        PressRecorder parent;
        auto* badge = new FormatBadge(&parent);
        badge->setText(QStringLiteral("PNG"));
        badge->setGeometry(QRect(QPoint(0, 0), badge->sizeHint()));
        int clicks = 0;
        if (withAction)
            badge->onClick = [&] { ++clicks; };
        QTest::mousePress(badge, Qt::LeftButton, {}, QPoint(5, 5));
        EXPECT_EQ(clicks, withAction ? 1 : 0);
        EXPECT_EQ(parent.presses, withAction ? 0 : 1);
        enter(*badge);
        EXPECT_EQ(badge->testAttribute(Qt::WA_SetCursor), withAction);
    }
}
