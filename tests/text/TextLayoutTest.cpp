#include "text/TextLayout.h"
#include "text/SyntheticLines.h"

#include <gtest/gtest.h>

using namespace TextVision;

namespace {

QStringList blockTexts(const std::vector<Block>& blocks) {
    QStringList out;
    for (const Block& block : blocks)
        out << textsOf(block).join(u'|');
    return out;
}

} // namespace

TEST(TextLayout, SegmentJoinsPairsByGapSizeAndOverlap) {
    struct Case {
        const char* name;
        Line a, b;
        bool joined;
        std::vector<QRectF> rules = {}; // taken out of the picture before reading
    };
    const Case cases[] = {
        {"stacked, gap under 1.25 h", makeLine("a", 0.1, 0.50, 0.3, 0.02), makeLine("b", 0.1, 0.46, 0.3, 0.02), true},
        {"stacked, gap over 1.25 h", makeLine("a", 0.1, 0.50, 0.3, 0.02), makeLine("b", 0.1, 0.45, 0.3, 0.02), false},
        {"heights 0.02 and 0.03", makeLine("a", 0.1, 0.50, 0.3, 0.03), makeLine("b", 0.1, 0.47, 0.3, 0.02), true},
        {"heights 0.02 and 0.04", makeLine("a", 0.1, 0.50, 0.3, 0.04), makeLine("b", 0.1, 0.47, 0.3, 0.02), false},
        {"left edges 0.025 apart, no overlap", makeLine("a", 0.1, 0.50, 0.01, 0.02),
         makeLine("b", 0.125, 0.47, 0.5, 0.02), true},
        {"stacked apart sideways", makeLine("a", 0.1, 0.50, 0.1, 0.02), makeLine("b", 0.5, 0.47, 0.1, 0.02), false},
        {"same row, gap 0.02 < 0.036", makeLine("a", 0.1, 0.5, 0.2, 0.03), makeLine("b", 0.32, 0.5, 0.2, 0.03), true},
        {"same row, gap 0.04", makeLine("a", 0.1, 0.5, 0.2, 0.03), makeLine("b", 0.34, 0.5, 0.2, 0.03), false},
        {"overlapping both ways", makeLine("a", 0.1, 0.5, 0.2, 0.03), makeLine("b", 0.2, 0.51, 0.2, 0.03), false},
        {"apart, in one ruled grid",
         makeLine("a", 0.1, 0.50, 0.1, 0.02),
         makeLine("b", 0.5, 0.47, 0.1, 0.02),
         true,
         {QRectF(0.05, 0.44, 0.001, 0.11), QRectF(0.3, 0.44, 0.001, 0.11), QRectF(0.05, 0.44, 0.6, 0.001),
          QRectF(0.05, 0.495, 0.6, 0.001), QRectF(0.05, 0.55, 0.6, 0.001)}},
        {"apart, each in a frame",
         makeLine("a", 0.1, 0.50, 0.1, 0.02),
         makeLine("b", 0.5, 0.47, 0.1, 0.02),
         false,
         {QRectF(0.05, 0.44, 0.001, 0.11), QRectF(0.05, 0.44, 0.3, 0.001), QRectF(0.05, 0.55, 0.3, 0.001),
          QRectF(0.45, 0.44, 0.001, 0.11), QRectF(0.45, 0.44, 0.3, 0.001), QRectF(0.45, 0.55, 0.3, 0.001)}},
    };
    for (const Case& c : cases) {
        const auto blocks = segment({c.a, c.b}, c.rules);
        EXPECT_EQ(blocks.size(), c.joined ? 1u : 2u) << c.name;
    }
}

TEST(TextLayout, SegmentJoinsTransitivelyAndKeepsInputOrder) {
    EXPECT_TRUE(segment({}).empty());
    // c joins a only through b; d stands apart and was given second.
    const auto blocks = segment({makeLine("a", 0.1, 0.8, 0.3, 0.02), makeLine("d", 0.7, 0.1, 0.2, 0.02),
                                 makeLine("b", 0.1, 0.77, 0.3, 0.02), makeLine("c", 0.1, 0.74, 0.3, 0.02)});
    EXPECT_EQ(blockTexts(blocks), (QStringList{"a|b|c", "d"}));
}

TEST(TextLayout, OrderCutsBandsThenColumns) {
    auto column = [](const QString& name, double x) {
        std::vector<Line> lines;
        for (int i = 0; i < 4; ++i)
            lines.push_back(makeLine(name + QString::number(i), x, 0.7 - 0.04 * i, 0.3, 0.03));
        return lines;
    };
    struct Case {
        const char* name;
        double gutter;
        bool heading;
        QString text;
    };
    const Case cases[] = {
        {"wide gutter", 0.10, false, "L0 L1 L2 L3\n\nR0 R1 R2 R3"},
        {"narrow gutter", 0.02, false, "L0 R0\nL1 R1\nL2 R2\nL3 R3"},
        {"heading above two columns", 0.10, true, "Head\n\nL0 L1 L2 L3\n\nR0 R1 R2 R3"},
    };
    for (const Case& c : cases) {
        std::vector<Line> lines = column(QStringLiteral("R"), 0.1 + 0.3 + c.gutter);
        for (const Line& l : column(QStringLiteral("L"), 0.1))
            lines.push_back(l);
        if (c.heading)
            lines.push_back(makeLine(QStringLiteral("Head"), 0.1, 0.85, 0.4, 0.06));
        EXPECT_EQ(fullText(lines), c.text) << c.name;
    }
}

TEST(TextLayout, OrderBandFloorIsStrictAndColumnsHaveTolerance) {
    // The second block's top equals the first's bottom: same band, so the columns decide.
    const Line high = makeLine("high", 0.5, 0.5, 0.2, 0.1);
    const Line low = makeLine("low", 0.1, 0.3, 0.2, 0.2);
    EXPECT_EQ(blockTexts(order({{high}, {low}})), (QStringList{"low", "high"}));
    const Line lower = makeLine("lower", 0.1, 0.2, 0.2, 0.2);
    EXPECT_EQ(blockTexts(order({{high}, {lower}})), (QStringList{"high", "lower"}));
    // 0.004 apart sideways is still one column: the higher top comes first.
    const Line left = makeLine("left", 0.1, 0.40, 0.2, 0.1);
    const Line right = makeLine("right", 0.304, 0.42, 0.2, 0.1);
    EXPECT_EQ(blockTexts(order({{left}, {right}})), (QStringList{"right", "left"}));
    const Line farRight = makeLine("far", 0.306, 0.42, 0.2, 0.1);
    EXPECT_EQ(blockTexts(order({{left}, {farRight}})), (QStringList{"left", "far"}));
}

TEST(TextLayout, KeepsLineBreaksForListsAndCode) {
    auto lines = [](std::vector<std::pair<QString, double>> spec, double spread = 0, double pitch = 0.03) {
        std::vector<Line> out;
        double y = 0.8, x = 0.1;
        for (const auto& [text, width] : spec) {
            out.push_back(makeLine(text, x, y, width, 0.02));
            y -= pitch;
            x += spread;
        }
        return out;
    };
    struct Case {
        const char* name;
        std::vector<Line> lines;
        bool keeps;
    };
    const Case cases[] = {
        {"short list", lines({{"Milk", 0.20}, {"Eggs", 0.10}, {"Bread", 0.15}, {"Butter and jam", 0.30}}), true},
        {"short lines, ragged left", lines({{"a", 0.2}, {"b", 0.1}, {"c", 0.15}, {"d", 0.3}}, 0.05), false},
        {"prose", lines({{"The quick brown fox", 0.3}, {"jumps over the lazy", 0.3}, {"dog and runs", 0.25}}), false},
        {"code", lines({{"if (a) {", 0.3}, {"  b = c;", 0.3}, {"}", 0.28}}), true},
        {"two lines of code", lines({{"if (a) {", 0.3}, {"}", 0.3}}), false},
        {"no characters", lines({{"", 0.3}, {"", 0.3}, {"", 0.3}}), false},
        // Items of a list, however alike their widths and however few.
        {"bullets as read", lines({{"\u00a2 Market days", 0.2}, {"+ Old bridges", 0.2}, {"* Opening hours", 0.21}}),
         true},
        {"numbered steps", lines({{"1. Open the settings", 0.3}, {"2. Choose Privacy", 0.28}}), true},
        {"two links, spaced", lines({{"Artists", 0.1}, {"Albums", 0.1}}), true},
        {"a sentence over two spaced lines", lines({{"Open the settings", 0.3}, {"and choose Privacy.", 0.3}}), false},
        {"capitalised lines set close", lines({{"Die Daten werden", 0.3}, {"Täglich gesichert", 0.3}}, 0, 0.022),
         false},
        {"items running on", lines({{"Apples, pears,", 0.2}, {"Plums and figs", 0.2}}), false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(keepsLineBreaks(c.lines), c.keeps) << c.name;
}

TEST(TextLayout, ParagraphsJoinHyphensAndBreakOnGaps) {
    struct Case {
        const char* name;
        QString first, second;
        double gap; // in heights of the first line
        QString text;
    };
    const Case cases[] = {
        {"hyphen joined", "The recog-", "nition works.", 0.25, "The recognition works."},
        {"sentence end and gap", "It ends.", "Next one", 0.5, "It ends.\nNext one"},
        {"sentence end, small gap", "It ends.", "Next one", 0.25, "It ends. Next one"},
        {"gap of exactly 0.9 h", "no stop", "next", 0.9, "no stop next"},
        {"gap over 0.9 h", "no stop", "next", 1.0, "no stop\nnext"},
        {"trailing space trimmed", "Hello world ", "", 0.25, "Hello world"},
    };
    for (const Case& c : cases) {
        // The first line's bottom is at 0 and the second's top at -gap, so the gap the rule
        // measures is exactly the product it compares with.
        const double h = 0.03125, gap = c.gap * h;
        const Line first = makeLine(c.first, 0.1, 0, 0.3, h);
        const Line second = makeLine(c.second, 0.1, -2 * gap, 0.3, gap);
        EXPECT_EQ(paragraphs({second, first}), c.text) << c.name;
    }
    EXPECT_EQ(paragraphs({}), QString());
}

TEST(TextLayout, HeadingCloseAboveItsParagraphStartsItsOwnBlock) {
    // A line alone on its row over three lines set 0.004 apart; the gap under it decides. makeLine
    // takes the box's bottom edge.
    struct Case {
        const char* name;
        double gap, height, width; // under the first line, its height, and the width of the lines under it
        QString text;
    };
    const Case cases[] = {
        {"heading near its paragraph", 0.022, 0.024, 0.6, "Layers\n\nOne two three four"},
        {"heading of the body's size", 0.021, 0.02, 0.6, "Layers\n\nOne two three four"},
        {"a paragraph's own first line", 0.004, 0.02, 0.6, "Layers One two three four"},
        {"a gap under most of its height", 0.016, 0.02, 0.6, "Layers One two three four"},
        {"a list's first item", 0.022, 0.02, 0.2, "Layers\nOne two three four"},
    };
    for (const Case& c : cases) {
        std::vector<Line> lines{makeLine("Layers", 0.1, 0.8, 0.2, c.height)};
        const char* body[] = {"One", "two", "three four"};
        double bottom = 0.8 - c.gap;
        for (const char* words : body) {
            bottom -= 0.02;
            lines.push_back(makeLine(QString::fromLatin1(words), 0.1, bottom, c.width, 0.02));
            bottom -= 0.004;
        }
        EXPECT_EQ(fullText(lines), c.text) << c.name;
    }
}

TEST(TextLayout, MainTextPrefersDominantColumnOfLongTexts) {
    auto twoColumns = [](int left, int right) {
        return std::vector<Line>{makeLine(QString(left, u'a'), 0.05, 0.5, 0.4, 0.02),
                                 makeLine(QString(right, u'b'), 0.55, 0.5, 0.4, 0.02)};
    };
    struct Case {
        const char* name;
        std::vector<Line> lines;
        QChar wants; // 'a' the left column alone, 'b' the right, '*' the full text
    };
    const Case cases[] = {
        {"700 of 1002", twoColumns(700, 300), u'a'},          {"right dominates", twoColumns(300, 700), u'b'},
        {"short full text", twoColumns(420, 150), u'*'},      {"exactly 60 percent", twoColumns(600, 398), u'*'},
        {"just over 60 percent", twoColumns(601, 397), u'a'},
    };
    for (const Case& c : cases) {
        const QString got = mainText(c.lines);
        if (c.wants == u'*')
            EXPECT_EQ(got, fullText(c.lines)) << c.name;
        else
            EXPECT_TRUE(!got.isEmpty() && got.count(c.wants) == got.size()) << c.name;
    }
    EXPECT_EQ(mainText({}), QString());
    // A heading over both columns gathers them into one group: the full text wins.
    auto spanned = twoColumns(700, 300);
    spanned.push_back(makeLine(QStringLiteral("Heading"), 0.05, 0.9, 0.9, 0.05));
    EXPECT_EQ(mainText(spanned), fullText(spanned));
}

TEST(TextLayout, ColumnsNeedMoreThanSixTenthsOverlap) {
    struct Case {
        const char* name;
        double left, width;
        size_t columns;
    };
    // The founding line spans [0, 1]; the other is 0.625 wide, so 0.6 of it is 0.375.
    const Case cases[] = {
        {"touching", 1.0, 0.625, 2},
        {"overlap exactly 0.6", 0.625, 0.625, 2},
        {"overlap above 0.6", 0.5, 0.625, 1},
    };
    for (const Case& c : cases) {
        const auto cols = columns({makeLine("wide", 0, 0.5, 1.0, 0.02), makeLine("other", c.left, 0.4, c.width, 0.02)});
        EXPECT_EQ(cols.size(), c.columns) << c.name;
    }
    const auto cols = columns({makeLine("low", 0.1, 0.2, 0.3, 0.02), makeLine("high", 0.1, 0.6, 0.3, 0.02),
                               makeLine("right", 0.6, 0.9, 0.3, 0.02)});
    ASSERT_EQ(cols.size(), 2u);
    EXPECT_EQ(textsOf(cols[0]), (QStringList{"high", "low"}));
}

TEST(TextLayout, CharacterCountsAreGraphemes) {
    EXPECT_EQ(characterCount(QStringLiteral("e\u0301te\u0301")), 3);
    EXPECT_EQ(characterCount(QString::fromUtf8("\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD!")), 2);
    EXPECT_EQ(characterCount(QString()), 0);
}
