// Backdrop styles, their JSON and the renderer's pixels.

#include "editors/Backdrop.h"
#include "editors/BackdropStyle.h"
#include "editors/Beautify.h"

#include <QJsonDocument>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

QImage solid(int w, int h, QColor colour = QColor(40, 90, 200)) {
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    image.fill(colour);
    return image;
}

bool near(QRgb pixel, QRgb expected, int tolerance = 2) {
    return std::abs(qRed(pixel) - qRed(expected)) <= tolerance &&
           std::abs(qGreen(pixel) - qGreen(expected)) <= tolerance &&
           std::abs(qBlue(pixel) - qBlue(expected)) <= tolerance &&
           std::abs(qAlpha(pixel) - qAlpha(expected)) <= tolerance;
}

BackdropStyle styled(int fill, double padding, double corners, bool shadow, std::optional<QString> hex = {}) {
    return BackdropStyle{fill, padding, corners, shadow, std::move(hex)};
}

} // namespace

TEST(BackdropStyle, ClampsEveryFieldAndCatchesNotANumber) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        BackdropStyle in;
        int fill;
        double padding, corners;
    } cases[] = {
        {styled(0, 0, 0.024, true), 0, 0.02, 0.024}, {styled(0, 1, 0.024, true), 0, 0.32, 0.024},
        {styled(0, nan, nan, true), 0, 0.02, 0},     {styled(99, 0.09, -1, true), 14, 0.09, 0},
        {styled(-3, 0.09, 5, true), 0, 0.09, 0.08},
    };
    for (const Case& c : cases) {
        const BackdropStyle out = c.in.clamped();
        EXPECT_EQ(out.fill, c.fill);
        EXPECT_DOUBLE_EQ(out.padding, c.padding);
        EXPECT_DOUBLE_EQ(out.corners, c.corners);
    }
}

TEST(BackdropStyle, JsonNeedsEveryKeyButTheCustomColour) {
    const auto read = [](const char* text) { return BackdropStyle::fromJson(QJsonDocument::fromJson(text).object()); };
    EXPECT_FALSE(read(R"({"fill":0,"padding":0.1,"corners":0.02})"));
    EXPECT_FALSE(read(R"({"fill":"0","padding":0.1,"corners":0.02,"shadow":true})"));
    EXPECT_FALSE(read(R"({"fill":1.5,"padding":0.1,"corners":0.02,"shadow":true})"));
    EXPECT_FALSE(read(R"({"fill":1,"padding":0.1,"corners":0.02,"shadow":true,"customHex":3})"));
    const auto plain = read(R"({"fill":3,"padding":0.1,"corners":0.02,"shadow":false,"customHex":null})");
    ASSERT_TRUE(plain);
    EXPECT_EQ(*plain, styled(3, 0.1, 0.02, false));

    EXPECT_FALSE(BackdropStyle().toJson().contains(QStringLiteral("customHex")));
    const BackdropStyle custom = styled(2, 0.5, -1, true, QStringLiteral("#112233"));
    EXPECT_EQ(BackdropStyle::fromJson(custom.toJson()), custom); // stored as it is, unclamped
}

TEST(Beautify, DefaultStylePadsAndRunsTheGradientFromTopLeft) {
    const std::optional<QImage> out = Beautify::render(solid(1000, 600), BackdropStyle());
    ASSERT_TRUE(out);
    EXPECT_EQ(out->size(), QSize(1180, 780));
    EXPECT_EQ(out->format(), QImage::Format_ARGB32_Premultiplied);
    EXPECT_TRUE(near(out->pixel(0, 0), 0xFFA8D5C2)) << std::hex << out->pixel(0, 0);
    EXPECT_TRUE(near(out->pixel(1179, 779), 0xFF5E8F7F)) << std::hex << out->pixel(1179, 779);
    // The picture itself is unscaled: its middle and the pixel just inside its left edge keep their colour.
    EXPECT_TRUE(near(out->pixel(590, 390), 0xFF285AC8));
    EXPECT_TRUE(near(out->pixel(90, 390), 0xFF285AC8));
    // Rounded with radius 24: the picture's very corner shows background, not picture.
    EXPECT_FALSE(near(out->pixel(91, 91), 0xFF285AC8, 30));
    EXPECT_TRUE(near(out->pixel(90 + 24, 90 + 2), 0xFF285AC8));
}

TEST(Beautify, SizesRadiiAndFills) {
    // p × L = 12.5 pads 13; a 10-pixel picture at the smallest padding is not padded.
    EXPECT_EQ(Beautify::render(solid(625, 10), styled(0, 0.02, 0, false))->size(), QSize(651, 36));
    EXPECT_EQ(Beautify::render(solid(10, 10), styled(0, 0.02, 0, false))->size(), QSize(10, 10));
    // A 1000 × 100 picture with the largest corners gets radius 50, not 80: the middle of its left edge is
    // background because the ends are semicircles.
    const QImage wide = *Beautify::render(solid(1000, 100), styled(12, 0.02, 0.08, false));
    EXPECT_TRUE(near(wide.pixel(20 + 1, 20 + 2), 0xFFFFFFFF));
    EXPECT_TRUE(near(wide.pixel(20 + 1, 20 + 50), 0xFF285AC8, 40));
    // Fill 99 is transparent, −3 is the first; a readable custom colour replaces the fill, an unreadable one not.
    const auto filled = [](int fill, std::optional<QString> hex = {}) {
        return *Beautify::render(solid(100, 100), styled(fill, 0.1, 0, false, std::move(hex)));
    };
    EXPECT_EQ(qAlpha(filled(99).pixel(0, 0)), 0);
    EXPECT_TRUE(near(filled(-3).pixel(0, 0), 0xFFA8D5C2));
    EXPECT_TRUE(near(filled(5, QStringLiteral("#FF0000")).pixel(99, 119), 0xFFFF0000));
    EXPECT_TRUE(near(filled(12, QStringLiteral("red")).pixel(0, 0), 0xFFFFFFFF));
    // Over the pixel budget: nothing, rather than gigabytes.
    const QSize over = Beautify::outputSize(QSize(16000, 16000), 0.32);
    EXPECT_GT(qint64(over.width()) * over.height(), Beautify::pixelBudget);
    EXPECT_FALSE(Beautify::render(QImage(), BackdropStyle()));
}

TEST(Beautify, TransparentShadowFallsBelowThePicture) {
    const QImage out = *Beautify::render(solid(400, 300), styled(14, 0.2, 0.02, true));
    ASSERT_EQ(out.size(), QSize(560, 460));
    EXPECT_EQ(qAlpha(out.pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(out.pixel(559, 459)), 0);
    const int above = qAlpha(out.pixel(280, 80 - 6));
    const int below = qAlpha(out.pixel(280, 380 + 6));
    EXPECT_GT(below, above);
    EXPECT_GT(below, 20);
    EXPECT_EQ(qRed(out.pixel(280, 386)), 0); // black shadow
    // Without shadow the margin stays clear.
    EXPECT_EQ(qAlpha(Beautify::render(solid(400, 300), styled(14, 0.2, 0.02, false))->pixel(280, 386)), 0);
}

TEST(Beautify, ShadowBlurIsAGaussianOfHalfTheBlur) {
    // A wide picture's shadow edge: alpha rises to half near the edge over about one sigma each side.
    const QImage out = *Beautify::render(solid(2000, 400), styled(14, 0.1, 0, true));
    const int edge = 200 + 400 + 24; // padding, picture, and the shadow's drop of 0.012 × 2000
    EXPECT_NEAR(qAlpha(out.pixel(1200, edge)), 0.5 * 0.4 * 255, 12);
    const int sigma = 0.045 * 2000 / 2;
    EXPECT_NEAR(qAlpha(out.pixel(1200, edge + sigma)), 0.16 * 0.4 * 255, 8);
}
