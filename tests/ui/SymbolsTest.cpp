#include "ui/Symbols.h"

#include <QRegularExpression>
#include <gtest/gtest.h>

namespace {

// Every symbol the windows of the program ask for, by the name they use.
const QStringList kNames = QString::fromLatin1(R"(
xmark checkmark crop pin link lasso trash folder sparkles square square.fill rectangle
rectangle.dashed circle cursorarrow scribble highlighter textformat 1.circle lineweight signature
pencil.and.outline arrow.up.left.and.down.right.magnifyingglass rotate.left rotate.right
text.viewfinder text.alignleft character.bubble character.cursor.ibeam eye.slash
person.and.background.dotted arrow.down.to.line arrow.down.right.and.arrow.up.left arrow.up.right
arrow.uturn.backward arrow.triangle.2.circlepath
arrow.left.and.right.righttriangle.left.righttriangle.right
arrow.up.and.down.righttriangle.up.righttriangle.down square.and.arrow.up square.grid.2x2
plus.rectangle chevron.left chevron.right line.3.horizontal line.diagonal doc.on.doc photo.artframe
photo.on.rectangle record.circle hand.point.up.left slider.horizontal.3
)")
                               .split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);

struct Ink {
    int opaque = 0;    // pixels at least half covered
    int offColour = 0; // covered pixels whose colour is not the tint
};

Ink inkOf(const QImage& image, QColor tint) {
    Ink ink;
    const QImage plain = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < plain.height(); ++y)
        for (int x = 0; x < plain.width(); ++x) {
            const QColor c = plain.pixelColor(x, y);
            if (c.alpha() < 128)
                continue;
            ++ink.opaque;
            if (qAbs(c.red() - tint.red()) > 2 || qAbs(c.green() - tint.green()) > 2 ||
                qAbs(c.blue() - tint.blue()) > 2)
                ++ink.offColour;
        }
    return ink;
}

} // namespace

TEST(Symbols, EveryNameTheWindowsUseDrawsInTheTint) {
    const QColor tint(166, 210, 107);
    ASSERT_EQ(kNames.size(), 51);
    for (const QString& name : kNames) {
        SCOPED_TRACE(name.toStdString());
        const QImage image = Symbols::image(name, 16, tint);
        ASSERT_FALSE(image.isNull());
        EXPECT_EQ(image.size(), QSize(16, 16));
        const Ink ink = inkOf(image, tint);
        EXPECT_GT(ink.opaque, 8);
        EXPECT_EQ(ink.offColour, 0);
    }
}

TEST(Symbols, UnknownNamesAndBadSizesGiveNothing) {
    struct Case {
        const char* name;
        double size;
        double ratio;
    };
    const Case cases[] = {
        {"", 12, 1},      {"no.such.symbol", 12, 1},  {"XMARK", 12, 1}, {"symbols.txt", 12, 1},
        {"xmark", -3, 1}, {"xmark", std::nan(""), 1}, {"xmark", 12, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(Symbols::image(QString::fromLatin1(c.name), c.size, Qt::white, c.ratio).isNull());
    }
}

TEST(Symbols, SizeIsInDeviceIndependentPixels) {
    struct Case {
        double size;
        double ratio;
        int pixels;
    };
    const Case cases[] = {{13, 2, 26}, {11.31, 1, 12}, {9, 1.5, 14}};
    for (const Case& c : cases) {
        const QImage image = Symbols::image(QStringLiteral("crop"), c.size, Qt::white, c.ratio);
        ASSERT_FALSE(image.isNull());
        EXPECT_EQ(image.width(), c.pixels) << c.size << " at " << c.ratio;
        EXPECT_DOUBLE_EQ(image.devicePixelRatio(), c.ratio);
    }
}
