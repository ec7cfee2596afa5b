#include "platform/Defaults.h"
#include "ui/Divider.h"
#include "ui/FillImageView.h"
#include "ui/FormatBadge.h"
#include "ui/GhostButton.h"
#include "ui/Pill.h"
#include "ui/UI.h"

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

} // namespace

TEST(Pill, ShadeLiesUnderLaterChildrenAndCornersStayClear) {
    Pill pill(QRect(0, 0, 120, 32));
    auto* child = new QLabel(QStringLiteral("x"), &pill);
    ASSERT_EQ(pill.children().indexOf(pill.shade), 0);
    EXPECT_GT(pill.children().indexOf(child), 0);
    pill.resize(200, 40);
    QResizeEvent event(QSize(200, 40), QSize(120, 32));
    QApplication::sendEvent(&pill, &event);
    EXPECT_EQ(pill.shade->geometry(), pill.rect());

    // Outside the rounded outline the background shows.
    EXPECT_TRUE(near(renderOn(pill, QColor(255, 0, 255)).pixelColor(0, 0), QColor(255, 0, 255)));
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
        EXPECT_EQ(symbol.size(), c.button);
        EXPECT_EQ(text.size(), c.text);
        EXPECT_EQ(upright.size(), QSize(1, c.divider));
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
        {"active", [](GhostButton& b) { b.setActive(true); }, overBlack(accent, 0.2)},
        {"active and pressing", [](GhostButton& b) { b.setActive(true), pressOn(b); }, overBlack(accent, 0.3)},
        {"left while pressed", [](GhostButton& b) { enter(b), pressOn(b), leave(b); }, Qt::black},
        {"glass done", [](GhostButton& b) { b.setGlass(GhostButton::Glass::done); }, overBlack(accent, 0.2)},
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

TEST(GhostButton, TintShowsADotInsteadOfTheSymbol) {
    SizeSetting full(1.0);
    const QColor red(230, 40, 40);
    GhostButton button(QStringLiteral("Colour"), QStringLiteral("square.fill"), {}, QSizeF(30, 28), 14);
    button.setTint(red);
    const QImage image = renderOn(button);
    EXPECT_TRUE(near(image.pixelColor(15, 14), red, 4));
    // 12 across with its outline, and nothing of the (larger) square symbol around it.
    EXPECT_NEAR(inkAcross(image, 14), 13, 1);
    EXPECT_TRUE(near(image.pixelColor(15, 5), Qt::black));
}

TEST(GhostButton, UnknownSymbolKeepsSizeAndLooks) {
    SizeSetting full(1.0);
    GhostButton button(QStringLiteral("Nothing"), QStringLiteral("no.such.symbol"), {}, QSizeF(30, 28), 13);
    EXPECT_FALSE(button.hasSymbolImage());
    EXPECT_EQ(button.size(), QSize(30, 28));
    EXPECT_TRUE(near(renderOn(button).pixelColor(15, 14), Qt::black));
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

TEST(FormatBadge, TextShowsOrHidesAndSizes) {
    QWidget parent;
    auto* badge = new FormatBadge(&parent);
    parent.show();
    badge->setText(QStringLiteral("PNG"));
    EXPECT_TRUE(badge->isVisible());
    const QSize png = badge->sizeHint();
    EXPECT_EQ(png.height(), 18);
    badge->setText(QString());
    EXPECT_FALSE(badge->isVisible());
    badge->setText(QStringLiteral("JPEG"));
    EXPECT_TRUE(badge->isVisible());
    EXPECT_GT(badge->sizeHint().width(), png.width());
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
