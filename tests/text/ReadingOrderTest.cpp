// Reading order over recognised lines (columns, tables, rules, bars over a page) and the languages a desktop asks for.

#include "text/Language.h"
#include "text/OcrEngine.h"
#include "text/SyntheticLines.h"
#include "text/TextCorpus.h"
#include "text/TextFixtures.h"
#include "text/TextLayout.h"
#include "text/TextVision.h"

#include <QPainter>
#include <QRegularExpression>
#include <gtest/gtest.h>

using namespace TextVision;

namespace {

// Lines of one column at the given rows (row 0 at the top, 0.03 apart, 0.02 high); a skipped
// row ends a paragraph. Each line is named by its column and row.
std::vector<Line> column(const QString& name, double x, std::vector<int> rows, double width = 0.28) {
    std::vector<Line> out;
    for (int row : rows)
        out.push_back(makeLine(name + QString::number(row), x, 0.9 - 0.03 * row, width, 0.02));
    return out;
}

std::vector<Line> joined(std::initializer_list<std::vector<Line>> parts) {
    std::vector<Line> out;
    for (const auto& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

QString flat(const QString& text) {
    return QString(text).replace(u'\n', u' ').simplified();
}

} // namespace

TEST(ReadingOrder, ColumnsStayWholeWhereRowsDoNotLineUp) {
    // Paragraph gaps of all three columns meet at row 7, so a cut into rows is possible there.
    const auto c1 = column("a", 0.05, {0, 1, 2, 4, 5, 6, 8, 9, 10, 11, 12});
    const auto c2 = column("b", 0.37, {0, 1, 2, 3, 4, 5, 6, 8, 9, 10, 11, 12});
    const auto c3 = column("c", 0.69, {0, 1, 3, 4, 5, 6, 8, 9, 10, 11, 12});
    const QString a = "a0 a1 a2 a4 a5 a6 a8 a9 a10 a11 a12", b = "b0 b1 b2 b3 b4 b5 b6 b8 b9 b10 b11 b12";
    EXPECT_EQ(flat(fullText(joined({c3, c1, c2}))), a + ' ' + b + " c0 c1 c3 c4 c5 c6 c8 c9 c10 c11 c12")
        << "three columns";
    EXPECT_EQ(flat(fullText(joined({c2, c1, {makeLine("Head", 0.05, 0.95, 0.60, 0.03)}}))), "Head " + a + ' ' + b)
        << "heading across two columns";
}

TEST(ReadingOrder, RowsOfAGridAndAlternatingSidesReadTopToBottom) {
    // A form: labels on the left, their values centred a little lower on the right.
    std::vector<Line> form;
    const char* fields[][2] = {{"Name", "Ada"}, {"City", "Oslo"}, {"Role", "Pilot"}};
    for (int i = 0; i < 3; ++i) {
        form.push_back(makeLine(fields[i][0], 0.1, 0.8 - 0.1 * i, 0.2, 0.02));
        form.push_back(makeLine(fields[i][1], 0.6, 0.8 - 0.1 * i - 0.008, 0.1, 0.02));
    }
    EXPECT_EQ(flat(fullText(form)), "Name Ada City Oslo Role Pilot");

    // A conversation: bubbles on either side, never level with each other.
    const std::vector<Line> chat{makeLine("one", 0.05, 0.8, 0.3, 0.02), makeLine("two", 0.6, 0.7, 0.3, 0.02),
                                 makeLine("three", 0.05, 0.6, 0.3, 0.02), makeLine("four", 0.6, 0.5, 0.3, 0.02)};
    EXPECT_EQ(flat(fullText(chat)), "one two three four");

    // A list of mails: sender, subject and a preview under each other, the time far off at the
    // right, level with the sender.
    std::vector<Line> mails;
    const char* items[][3] = {{"Mara", "Numbers", "09:41"}, {"Build", "Failed", "08:15"}, {"Tomas", "Lunch", "Monday"}};
    for (int i = 0; i < 3; ++i) {
        mails.push_back(makeLine(items[i][0], 0.2, 0.8 - 0.12 * i, 0.1, 0.02));
        mails.push_back(makeLine(items[i][1], 0.2, 0.775 - 0.12 * i, 0.12, 0.02));
        mails.push_back(makeLine(QStringLiteral("the figures are in"), 0.2, 0.75 - 0.12 * i, 0.4, 0.02));
        mails.push_back(makeLine(items[i][2], 0.85, 0.8 - 0.12 * i, 0.08, 0.02));
    }
    EXPECT_EQ(fullText(mails), "Mara 09:41\nNumbers\nthe figures are in\n\nBuild 08:15\nFailed\nthe figures are in\n\n"
                               "Tomas Monday\nLunch\nthe figures are in");
}

TEST(ReadingOrder, GutterIsWeighedInThePictureHeights) {
    // Rows of two columns on a 16:9 screen: line height 0.02 of the height, gutter 0.02 of the
    // width, which is 1.8 line heights as the picture shows it.
    std::vector<Line> lines;
    for (int row = 0; row < 3; ++row) {
        lines.push_back(makeLine(QStringLiteral("L%1").arg(row), 0.10, 0.8 - 0.03 * row, 0.38, 0.02));
        lines.push_back(makeLine(QStringLiteral("R%1").arg(row), 0.50, 0.8 - 0.03 * row, 0.38, 0.02));
    }
    EXPECT_EQ(flat(fullText(lines)), "L0 R0 L1 R1 L2 R2"); // size of the picture unknown
    for (Line& line : lines)
        line.aspect = 16.0 / 9.0;
    EXPECT_EQ(flat(fullText(lines)), "L0 L1 L2 R0 R1 R2");
}

TEST(ReadingOrder, LabelsWithASmallerLineUnderThemReadInRowsBesideTheirSidebar) {
    // A sidebar list; rows of a label with a much smaller line under it (too small to join it:
    // a description, a date) and, at the right, a control level with the label or a paragraph.
    const auto page = [](const QString& right, bool paragraph) {
        std::vector<Line> lines;
        const char* side[] = {"General", "Privacy", "Storage", "About", "Help"};
        for (int i = 0; i < 5; ++i)
            lines.push_back(makeLine(side[i], 0.02, 0.90 - 0.03 * i, 0.10, 0.02));
        for (int i = 0; i < 3; ++i) {
            const double top = 0.88 - 0.14 * i;
            lines.push_back(makeLine(QStringLiteral("label%1").arg(i), 0.25, top, 0.12, 0.024));
            lines.push_back(makeLine(QStringLiteral("small%1").arg(i), 0.25, top - 0.020, 0.14, 0.012));
            lines.push_back(
                makeLine(right + QString::number(i), paragraph ? 0.45 : 0.85, top, paragraph ? 0.5 : 0.08, 0.024));
            if (paragraph)
                lines.push_back(makeLine(right + QString::number(i) + u'b', 0.45, top - 0.03, 0.5, 0.024));
        }
        return flat(fullText(lines));
    };
    EXPECT_EQ(page("button", false), "General Privacy Storage About Help label0 button0 small0 label1 button1 small1 "
                                     "label2 button2 small2");
    EXPECT_EQ(page("post", true), "General Privacy Storage About Help label0 small0 post0 post0b label1 small1 post1 "
                                  "post1b label2 small2 post2 post2b");
}

TEST(ReadingOrder, TableColumnTakenApartJoinsItsRowsButAListBesideProseDoesNot) {
    // A process table whose first column the engine cut off: the rest of each row sits right of
    // it, and lines of a summary stand above the rest only. Both end on the table's last row.
    std::vector<Line> lines;
    for (int row = 0; row < 8; ++row)
        lines.push_back(makeLine(QStringLiteral("r%1 20 0 312M S").arg(row), 0.30, 0.9 - 0.03 * row, 0.50, 0.02));
    for (int row = 3; row < 8; ++row)
        lines.push_back(makeLine(QStringLiteral("n%1").arg(row), 0.05, 0.9 - 0.03 * row, 0.10, 0.02));
    EXPECT_EQ(flat(fullText(lines)), "r0 20 0 312M S r1 20 0 312M S r2 20 0 312M S n3 r3 20 0 312M S n4 r4 20 0 "
                                     "312M S n5 r5 20 0 312M S n6 r6 20 0 312M S n7 r7 20 0 312M S");

    // A list of links beside an article whose lines happen to fall level with the list's, from
    // its first line on.
    std::vector<Line> page;
    for (int row = 0; row < 8; ++row)
        page.push_back(
            makeLine(QStringLiteral("a%1 words of the article").arg(row), 0.05, 0.9 - 0.03 * row, 0.6, 0.02));
    for (int row = 0; row < 3; ++row)
        page.push_back(makeLine(QStringLiteral("link%1").arg(row), 0.75, 0.9 - 0.03 * row, 0.15, 0.02));
    EXPECT_TRUE(flat(fullText(page)).endsWith("a7 words of the article link0 link1 link2"))
        << fullText(page).toStdString();
}

TEST(ReadingOrder, RulesTakenOutBeforeReadingStillPartWhatTheyParted) {
    // Chapters, an article and its contents, their lines level row by row, parted by rules from the bar over
    // them to the footer under them; the engine read one row across the first rule as one line.
    std::vector<Line> page = joined(
        {column("n", 0.10, {0, 2, 3}, 0.06), column("a", 0.22, {0, 2, 3}, 0.45), column("t", 0.76, {0, 1, 2}, 0.12)});
    page.push_back(makeLine("n1 a1", 0.10, 0.87, 0.20, 0.02));
    page.push_back(makeLine("Brand", 0.10, 0.95, 0.10, 0.02));
    page.push_back(makeLine("foot", 0.10, 0.75, 0.20, 0.02));
    const QRectF bar(0, 0.935, 1, 0.001), footer(0, 0.79, 1, 0.001);
    const QRectF first(0.17, 0.79, 0.001, 0.145), second(0.72, 0.79, 0.001, 0.145);
    EXPECT_EQ(flat(fullText(page, {bar, footer, first, second})), "Brand n0 n1 n2 n3 a0 a1 a2 a3 t0 t1 t2 foot");
    // The same rules running the page's whole height, the bar's rule and the footer's crossing them, and a
    // rule in the chapters meeting the first from one side: they still part the columns.
    const QRectF firstThrough(0.17, 0.70, 0.001, 0.29), secondThrough(0.72, 0.70, 0.001, 0.29);
    const QRectF section(0.05, 0.855, 0.12, 0.001);
    EXPECT_EQ(flat(fullText(page, {bar, footer, firstThrough, secondThrough, section})),
              "Brand n0 n1 n2 n3 a0 a1 a2 a3 t0 t1 t2 foot");
    // The borders inside a table are crossed by the rules between its rows: they part no columns.
    std::vector<Line> grid = joined({column("n", 0.10, {0, 1, 2, 3}, 0.06), column("a", 0.22, {0, 1, 2, 3}, 0.2)});
    std::vector<QRectF> borders{first, QRectF(0.72, 0.79, 0.001, 0.145)};
    for (int row = 0; row <= 4; ++row)
        borders.emplace_back(0.05, 0.925 - 0.03 * row, 0.7, 0.001);
    EXPECT_EQ(flat(fullText(grid, borders)), "n0 a0 n1 a1 n2 a2 n3 a3");
    // Nor do they where only its columns are ruled, its rows told apart by stripes.
    const std::vector<Line> sheet =
        joined({column("r", 0.06, {0, 1, 2, 3}, 0.08), column("o", 0.15, {0, 1, 2, 3}, 0.10),
                column("u", 0.26, {0, 1, 2, 3}, 0.05)});
    std::vector<QRectF> uprights;
    for (const double x : {0.05, 0.145, 0.255, 0.32})
        uprights.emplace_back(x, 0.79, 0.001, 0.145);
    EXPECT_EQ(flat(fullText(sheet, {})), "r0 o0 u0 r1 o1 u1 r2 o2 u2 r3 o3 u3");
    EXPECT_EQ(flat(fullText(sheet, uprights)), "r0 o0 u0 r1 o1 u1 r2 o2 u2 r3 o3 u3");
    // Nor does a table's outer border, met by its rows' borders, beside a sidebar that runs on under it.
    const std::vector<Line> beside = joined({column("n", 0.02, {0, 1, 2, 3, 4}, 0.1), column("c", 0.22, {1, 2, 3})});
    std::vector<QRectF> sides{QRectF(0.20, 0.80, 0.001, 0.08)};
    for (const double y : {0.80, 0.835, 0.865, 0.88})
        sides.emplace_back(0.20, y, 0.35, 0.001);
    EXPECT_EQ(flat(fullText(beside, sides)), "n0 n1 n2 n3 n4 c1 c2 c3");

    // Opening hours in a table as wide as the page without any rule: the remarks stand further from the
    // hours than the hours from each other, and some rows have none. Each row stays whole.
    const char* hours[][4] = {{"Day", "Opens", "Closes", "Notes"},
                              {"Mon", "09", "18", "Reading room"},
                              {"Tue", "09", "18", ""},
                              {"Wed", "09", "20", "Late opening"},
                              {"Thu", "09", "18", ""},
                              {"Fri", "09", "17", "Archive closed"},
                              {"Sat", "10", "16", "Children's hour"},
                              {"Sun", "12", "16", ""}};
    const double at[] = {0.05, 0.30, 0.45, 0.60};
    std::vector<Line> table;
    QStringList want;
    for (int row = 0; row < 8; ++row)
        for (int cell = 0; cell < 4; ++cell)
            if (*hours[row][cell]) {
                const QString text = QString::fromUtf8(hours[row][cell]);
                table.push_back(makeLine(text, at[cell], 0.9 - 0.035 * row, 0.012 * text.size(), 0.02));
                want << text;
            }
    EXPECT_EQ(flat(fullText(table, {})), want.join(u' '));

    // A table of names and values close beside them, ruled between its two columns only or not at all: each
    // name is read with its value, where a rule between a sidebar and an article runs on past their text.
    const char* pairs[][2] = {{"Name", "Value"},
                              {"Region", "eu-west-2"},
                              {"Instance type", "t3.medium"},
                              {"Disk", "40 GB, encrypted"},
                              {"Started", "12 March at 09:14"},
                              {"Owner", "platform team"}};
    std::vector<Line> named;
    want.clear();
    for (int row = 0; row < 6; ++row)
        for (int cell = 0; cell < 2; ++cell) {
            const QString text = QString::fromUtf8(pairs[row][cell]);
            named.push_back(makeLine(text, cell ? 0.24 : 0.05, 0.9 - 0.03 * row, 0.011 * text.size(), 0.02));
            want << text;
        }
    const QRectF between(0.215, 0.73, 0.001, 0.195);
    EXPECT_EQ(flat(fullText(named, {})), want.join(u' '));
    EXPECT_EQ(flat(fullText(named, {between})), want.join(u' '));
    EXPECT_TRUE(flat(fullText(named, {QRectF(0.215, 0.40, 0.001, 0.58)})).startsWith("Name Region Instance type"));
}

TEST(ReadingOrder, DocsPageReadsBarThenNavigationArticleAndOutline) {
    std::vector<Line> lines;
    // A bar of links above the page, spaced wider than words; the search field at the right.
    const char* bar[] = {"Loom", "Guides", "Reference", "Releases"};
    for (int i = 0; i < 4; ++i)
        lines.push_back(makeLine(bar[i], 0.02 + 0.12 * i, 0.95, 0.08, 0.02));
    lines.push_back(makeLine("Search", 0.80, 0.95, 0.15, 0.02));
    lines.insert(lines.end(), {makeLine("Start", 0.02, 0.80, 0.10, 0.02), makeLine("Install", 0.02, 0.77, 0.10, 0.02),
                               makeLine("Plugins", 0.02, 0.74, 0.10, 0.02)});
    lines.push_back(makeLine("Configuration", 0.22, 0.825, 0.30, 0.03));
    for (int row = 0; row < 6; ++row)
        lines.push_back(makeLine(QStringLiteral("a%1").arg(row), 0.22, 0.80 - 0.03 * row, 0.50, 0.02));
    // The outline's heading starts level with the article's.
    lines.insert(lines.end(), {makeLine("On this page", 0.80, 0.85, 0.15, 0.02),
                               makeLine("Tables", 0.80, 0.82, 0.10, 0.02), makeLine("Keys", 0.80, 0.79, 0.10, 0.02)});
    EXPECT_EQ(flat(fullText(lines)), "Loom Guides Reference Releases Search Start Install Plugins Configuration a0 a1 "
                                     "a2 a3 a4 a5 On this page Tables Keys");
}

TEST(ReadingOrder, SiteWithABannerSidebarListAndPriceTableReadsAsAPersonDoes) {
    // The lines the recogniser gave for a browser's page (pixels of a 1280 x 800 window): a bar of
    // links far apart, a banner standing above a bulleted list and a table of prices, some of whose
    // cells it measured lower than the rest of their row.
    struct Px {
        const char* text;
        int left, top, width, height;
    };
    const Px read[] = {
        {"Riverside Market", 27, 17, 161, 18},
        {"Stalls", 220, 17, 37, 18},
        {"Map", 288, 17, 27, 18},
        {"News", 347, 17, 37, 18},
        {"Sign in", 1194, 17, 46, 18},
        {"Winter market", 261, 80, 478, 32},
        {"Every Saturday", 261, 122, 349, 17},
        {"Prices this week", 242, 176, 183, 23},
        {"On this site", 27, 179, 67, 10},
        {"+ Market days", 29, 206, 100, 17},
        {"Item", 241, 220, 34, 19},
        {"Stall", 382, 220, 34, 19},
        {"Unit", 501, 220, 31, 19},
        {"Price", 592, 220, 38, 19},
        {"+ Old bridges", 29, 234, 95, 18},
        {"* Opening hours", 29, 255, 117, 21},
        {"Apples", 240, 255, 81, 21},
        {"Hillside Farm 1kg", 383, 255, 146, 21},
        {"2.40", 590, 260, 39, 10},
        {"* Parking", 29, 288, 66, 19},
        {"Hillside Farm", 383, 288, 87, 19},
        {"1kg", 501, 288, 27, 19},
        {"Pears", 241, 293, 37, 10},
        {"2.90", 590, 293, 39, 10},
        {"Sourdough", 241, 320, 106, 19},
        {"Mill Bakery", 383, 320, 75, 19},
        {"800g", 500, 320, 38, 19},
        {"4.50", 590, 326, 39, 10},
        {"Goat cheese", 241, 355, 87, 18},
        {"Brook Dairy", 383, 355, 80, 18},
        {"200g", 500, 355, 38, 18},
        {"5.20", 590, 355, 39, 18},
        {"Smoked trout", 241, 388, 94, 18},
        {"Lakeside", 383, 388, 60, 18},
        {"2 fillets", 501, 388, 50, 18},
        {"8.60", 590, 388, 39, 18},
        {"Prices are set by the stalls.", 241, 430, 413, 17},
    };
    std::vector<Line> lines;
    // The bar's links read apart, or as one line that falls into a single column below.
    for (const bool linksApart : {true, false}) {
        std::vector<Line> lines;
        for (const Px& p : read) {
            const QString text = QString::fromUtf8(p.text);
            if (!linksApart && (text == u"Map" || text == u"News"))
                continue;
            const bool links = !linksApart && text == u"Stalls";
            lines.push_back(makeLine(links ? QStringLiteral("Stalls Map News") : text, p.left / 1280.0,
                                     1 - (p.top + p.height) / 800.0, (links ? 164 : p.width) / 1280.0,
                                     p.height / 800.0));
            lines.back().aspect = 1280.0 / 800.0;
        }
        EXPECT_EQ(
            fullText(lines).split(u'\n', Qt::SkipEmptyParts),
            (QStringList{"Riverside Market Stalls Map News Sign in", "Winter market", "Every Saturday", "On this site",
                         "+ Market days", "+ Old bridges", "* Opening hours", "* Parking", "Prices this week",
                         "Item Stall Unit Price", "Apples Hillside Farm 1kg 2.40", "Pears Hillside Farm 1kg 2.90",
                         "Sourdough Mill Bakery 800g 4.50", "Goat cheese Brook Dairy 200g 5.20",
                         "Smoked trout Lakeside 2 fillets 8.60", "Prices are set by the stalls."}))
            << (linksApart ? "links apart" : "links as one line");
    }
}

TEST(Recognition, UsersLanguagesComeFirstWhenTheirPacksAreInstalled) {
    const QStringList installed{"eng", "deu", "fra", "chi_tra", "osd"};
    struct Case {
        QStringList preferred;
        QString languages;
    };
    const Case cases[] = {
        {{"de-DE", "en-US"}, "deu+eng"},
        {{"fr-CA", "de-AT", "fr-FR"}, "fra+deu+eng"},
        {{"pt-BR"}, "eng"}, // no pack installed
        {{"zh-TW"}, "chi_tra+eng"},
        {{}, "eng"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(tesseractLanguages(c.preferred, installed), c.languages) << c.preferred.join(u',').toStdString();
}

TEST(Recognition, EveryLocaleVariableOfTheDesktopNamesAPreferredLanguage) {
    const QStringList installed{"eng", "deu", "fra", "osd"};
    // Qt alone reads the first set variable only: German in LANG was lost beside English messages.
    EXPECT_EQ(
        tesseractLanguages(Language::preferredLanguages("", "", "en_US.UTF-8", "de_DE.UTF-8", {"en-US"}), installed),
        "deu+eng");
    EXPECT_EQ(
        tesseractLanguages(Language::preferredLanguages("fr:en_GB", "", "", "C.UTF-8", {"fr", "en-GB"}), installed),
        "fra+eng");
    EXPECT_EQ(Language::preferredLanguages("", "de_AT.UTF-8@euro", "C", "POSIX", {"de-AT"}), QStringList{"de-AT"});
}
