#include "app/MenuIcon.h"
#include "platform/Defaults.h"
#include "ui/Brand.h"
#include "ui/Prefs.h"
#include "ui/SizeSliderView.h"
#include "ui/UI.h"

#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QFontInfo>
#include <QPainter>
#include <QSlider>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {
// The fonts are registered once for the whole process, as at start-up.
struct Fonts : ::testing::Environment {
    void SetUp() override { registered = UI::registerFonts(); }
    static inline int registered = 0;
};
const auto* fontsEnv = ::testing::AddGlobalTestEnvironment(new Fonts);
} // namespace

TEST(Fonts, TheProgramCarriesItsOwnFaces) {
    EXPECT_EQ(Fonts::registered, 5);
    EXPECT_TRUE(QFontDatabase::hasFamily(QStringLiteral("Inter")));
    EXPECT_TRUE(QFontDatabase::hasFamily(QStringLiteral("JetBrains Mono")));
}

TEST(Fonts, WeightPicksTheFaceAndSizeIsInPixels) {
    struct Case {
        QFont::Weight weight;
        const char* face;
        const char* style;
    };
    const Case cases[] = {
        {QFont::Black, "Inter-Bold", "Bold"},       {QFont::ExtraBold, "Inter-Bold", "Bold"},
        {QFont::Bold, "Inter-Bold", "Bold"},        {QFont::DemiBold, "Inter-SemiBold", "Semi Bold"},
        {QFont::Medium, "Inter-Medium", "Medium"},  {QFont::Normal, "Inter-Regular", "Regular"},
        {QFont::Light, "Inter-Regular", "Regular"}, {QFont::Thin, "Inter-Regular", "Regular"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(UI::faceName(c.weight), QString::fromLatin1(c.face));
        const QFont font = UI::font(12, c.weight);
        const QFontInfo info(font);
        EXPECT_EQ(info.family(), QStringLiteral("Inter")) << c.face;
        EXPECT_EQ(info.styleName(), QString::fromLatin1(c.style)) << c.face;
        EXPECT_EQ(font.pixelSize(), 12) << c.face;
    }
    EXPECT_EQ(UI::font(13, QFont::Normal).pixelSize(), 13);
    EXPECT_EQ(QFontInfo(UI::monoFont(11)).family(), QStringLiteral("JetBrains Mono"));
}

TEST(Fonts, CacheKeysKeepFractionalSizesApart) {
    EXPECT_EQ(UI::cacheKey(QStringLiteral("Inter-Bold"), 12), QStringLiteral("Inter-Bold@12.0"));
    EXPECT_EQ(UI::cacheKey(QStringLiteral("Inter-Bold"), 12.5), QStringLiteral("Inter-Bold@12.5"));
    EXPECT_NE(UI::font(12, QFont::Bold), UI::font(12.5, QFont::Bold));
}

TEST(Fonts, OnlyLowerCaseFontExtensionsAreRegistered) {
    QTemporaryDir dir;
    for (const char* name : {"Inter-Bold.TTF", "notes.txt", "Inter-Bold.ttf.bak"})
        QFile::copy(QStringLiteral(":/Fonts/Inter-Bold.otf"), dir.filePath(QString::fromLatin1(name)));
    EXPECT_EQ(UI::registerFonts(dir.path()), 0);
    EXPECT_EQ(UI::registerFonts(dir.filePath(QStringLiteral("missing"))), 0);
}

TEST(Prefs, BarScaleFollowsTheStoredSize) {
    const std::pair<double, double> table[] = {{0.0, 0.87},  {0.5, 0.675},  {0.8, 0.87},
                                               {1.0, 1.0},   {1.2, 1.0},    {5.0, 1.0},
                                               {0.1, 0.675}, {-1.0, 0.675}, {std::nan(""), 0.675}};
    for (auto [stored, expected] : table)
        EXPECT_NEAR(Prefs::barScaleFor(stored), expected, 1e-9) << stored;

    QTemporaryDir dir;
    Defaults d(dir.path(), QStringLiteral("s"));
    EXPECT_NEAR(Prefs::barScale(d), 0.87, 1e-9);
    d.set(QStringLiteral("picto.sizeScale"), QStringLiteral("big")); // wrong type reads as unset
    EXPECT_NEAR(Prefs::barScale(d), 0.87, 1e-9);
}

TEST(SizeSlider, ShowsTheStoredSizeAndStoresEveryMove) {
    QTemporaryDir dir;
    Defaults d(dir.path(), QStringLiteral("s"));
    {
        SizeSliderView view(d);
        EXPECT_DOUBLE_EQ(view.value(), 0.8);
        EXPECT_EQ(view.size(), QSize(250, 50));
    }
    d.set(QStringLiteral("picto.sizeScale"), 2.0);
    SizeSliderView view(d);
    EXPECT_DOUBLE_EQ(view.value(), 1.2);
    EXPECT_EQ(d.number(QStringLiteral("picto.sizeScale")), 2.0) << "showing a value must not store it";

    QList<double> stored;
    for (int step : {600, 650, 700}) {
        view.slider->setValue(step);
        stored.append(d.doubleValue(QStringLiteral("picto.sizeScale")));
    }
    EXPECT_EQ(stored, (QList<double>{0.6, 0.65, 0.7}));
}

TEST(Brand, PressedPrimaryButtonsAreFainterButKeepTheirEdges) {
    const QRectF rect(0, 0, 40, 20);
    QPainterPath path;
    path.addRect(rect);
    auto render = [&](bool pressed) {
        QImage image(40, 20, QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        QPainter p(&image);
        Brand::fillPrimary(p, path, rect, pressed);
        return image;
    };
    const QImage up = render(false), down = render(true);
    EXPECT_EQ(qAlpha(up.pixel(20, 10)), 255);
    EXPECT_NEAR(qAlpha(down.pixel(20, 10)), 217, 2);
    // The gradient runs from the light green at the top to the low green at the bottom.
    EXPECT_GT(qGreen(up.pixel(20, 3)), qGreen(up.pixel(20, 17)));
}

TEST(MenuIcon, DrawsTheApertureInTheGivenColourOnTransparency) {
    const QImage icon = MenuIcon::draw(Qt::white, 2.0);
    EXPECT_EQ(icon.size(), QSize(36, 36));
    EXPECT_EQ(qAlpha(icon.pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(icon.pixel(18, 18)), 0) << "the centre of the hexagon stays open";
    // The ring passes through the middle of the left edge.
    EXPECT_GT(qAlpha(icon.pixel(3, 18)), 128);
    EXPECT_EQ(qRed(icon.pixel(3, 18)), qAlpha(icon.pixel(3, 18)));
}
