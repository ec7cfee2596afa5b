// Reading pictures of real layouts: text on coloured and dark ground, columns parted by rules, tables,
// terminals and codes, every recognised word kept once in the reading order.

#include "text/OcrEngine.h"
#include "text/TextCorpus.h"
#include "text/TextFixtures.h"
#include "text/TextLayout.h"
#include "text/TextVision.h"

#include <QPainter>
#include <QRegularExpression>
#include <gtest/gtest.h>

using namespace TextVision;

namespace {

// Whether every word of the recognised lines is in the text exactly once: the reading order moves
// words and joins a word hyphenated over two lines, but never drops or repeats one. Says which
// words went missing or came from nowhere.
::testing::AssertionResult keepsEveryWord(const std::vector<Line>& lines, const QString& text) {
    QStringList want;
    for (const Line& line : lines)
        want += line.text.split(u' ', Qt::SkipEmptyParts);
    QStringList extra;
    for (const QString& word : text.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts)) {
        if (want.removeOne(word))
            continue;
        // "recog-" and "nition" read as "recognition".
        bool joined = false;
        for (const QString& head : std::as_const(want))
            if (head.endsWith(u'-') && word.startsWith(head.chopped(1)) && want.contains(word.mid(head.size() - 1))) {
                want.removeOne(word.mid(head.size() - 1));
                want.removeOne(QString(head));
                joined = true;
                break;
            }
        if (!joined)
            extra << word;
    }
    if (want.isEmpty() && extra.isEmpty())
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "dropped: " << want.join(u' ').toStdString()
                                         << " | not recognised: " << extra.join(u' ').toStdString();
}

// The picture's text in reading order, checked to hold every word recognised in it.
QString keptText(const QImage& picture) {
    std::vector<QRectF> rules;
    const std::vector<Line> lines = recognise(picture, {.rules = &rules});
    const QString text = fullText(lines, rules);
    EXPECT_TRUE(keepsEveryWord(lines, text));
    return text;
}

} // namespace

class ReadingPictures : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(TextCorpus::facesInstalled()) << "fonts-inter or fonts-dejavu-core missing"; }

    // Rows of a terminal: light monospaced text on its dark ground, `step` pixels apart from `top`;
    // or, light, black text on white at `scale` with the window's one-pixel border round it.
    static TextFixtures::Canvas terminal(QSize size, const QStringList& rows, int left, int top, int step,
                                         bool light = false, int scale = 1) {
        TextFixtures::Canvas canvas(size * scale, light ? QColor(Qt::white) : QColor(30, 31, 34));
        const QFont mono = TextCorpus::font(TextCorpus::Face::Mono, 14 * scale);
        for (int i = 0; i < rows.size(); ++i)
            canvas.line(left * scale, (top + step * i) * scale, rows[i], mono,
                        light ? QColor(Qt::black) : QColor(216, 216, 216));
        if (light) {
            QPainter painter(&canvas.picture);
            painter.setPen(Qt::black);
            painter.drawRect(canvas.picture.rect().adjusted(0, 0, -1, -1));
        }
        return canvas;
    }
};

TEST_F(ReadingPictures, TextOnColouredAndDarkGroundIsRead) {
    TextFixtures::Canvas canvas(QSize(900, 260), Qt::white);
    const QFont font = TextCorpus::font(TextCorpus::Face::Inter, 14);
    struct Patch {
        QRect area;
        QColor fill, ink;
        QString text;
    };
    const Patch patches[] = {
        {QRect(420, 20, 440, 40), QColor(10, 132, 255), Qt::white, QStringLiteral("Great, thanks for the new icons.")},
        {QRect(20, 90, 440, 40), QColor(233, 233, 235), QColor(28, 28, 30),
         QStringLiteral("Could the crop be lighter?")},
        {QRect(20, 160, 300, 34), QColor(47, 111, 237), Qt::white, QStringLiteral("Quarterly report.pdf")},
        {QRect(560, 160, 300, 34), QColor(30, 31, 34), QColor(138, 138, 142), QStringLiteral("Hold to drag a slice.")},
    };
    QString want;
    for (const Patch& p : patches) {
        QImage fill(p.area.size(), QImage::Format_RGB32);
        fill.fill(p.fill);
        canvas.image(p.area, fill);
        canvas.line(p.area.left() + 14, p.area.top() + 10, p.text, font, p.ink);
        want += p.text + u' ';
    }
    const QString text = keptText(canvas.picture);
    EXPECT_LT(TextCorpus::characterErrorRate(want, text), 0.03) << text.toStdString();
    // The rims of the patches are edges, not bars or brackets.
    EXPECT_FALSE(text.contains(u'|')) << text.toStdString();
}

TEST_F(ReadingPictures, ColumnsPartedByAHairlineOfAnyShadeReadOneAfterAnother) {
    // Chapters, an article and its contents under a bar, parted by hairlines from paler than any letter to a
    // middle grey; the current chapter's highlight reaches the first. Through: the hairlines run up through the
    // bar, its rule crossing them.
    struct Case {
        QColor shade;
        bool through;
    };
    const Case cases[] = {
        {QColor(0xee, 0xee, 0xee), false}, {QColor(0xcc, 0xcc, 0xcc), true}, {QColor(0xbb, 0xbb, 0xbb), false}};
    const QFont font = TextCorpus::font(TextCorpus::Face::Inter, 14);
    const QColor ink(29, 31, 35);
    const QStringList chapters{"Overview", "Installing", "Quick start", "Configuration", "Plugins", "Deploying"};
    const QStringList contents{"On this page", "Settings file", "Option table", "See also"};
    const QString article = QStringLiteral(
        "Every project keeps its settings in a file named tern.toml beside its sources. Keys that are left out "
        "take their defaults, so a new project can start with an empty file. The options may also be given on "
        "the command line, where they win over the file.");
    for (const Case& c : cases) {
        TextFixtures::Canvas canvas(QSize(900, 420), Qt::white);
        QImage highlight(QSize(200, 28), QImage::Format_RGB32);
        highlight.fill(QColor(0xe3, 0xec, 0xfb));
        canvas.image(QRect(0, 140, 200, 28), highlight);
        {
            QPainter painter(&canvas.picture);
            painter.setPen(c.shade);
            painter.drawLine(0, 44, 899, 44);
            painter.drawLine(0, 380, 899, 380);
            for (const int x : {200, 680})
                painter.drawLine(x, c.through ? 0 : 45, x, 379);
        }
        canvas.line(24, 14, QStringLiteral("Ternwork"), font, ink);
        for (int i = 0; i < chapters.size(); ++i)
            canvas.line(20, 64 + 40 * i, chapters[i], font, ink);
        const QString read = canvas.paragraph(QRect(230, 64, 420, 300), article, font, ink, 8).join(u' ');
        for (int i = 0; i < contents.size(); ++i)
            canvas.line(700, 64 + 30 * i, contents[i], font, ink);
        canvas.line(24, 392, QStringLiteral("Last changed on 4 May."), font, ink);
        const QString want = QStringLiteral("Ternwork ") + chapters.join(u' ') + u' ' + read + u' ' +
                             contents.join(u' ') + QStringLiteral(" Last changed on 4 May.");
        const QString text = keptText(canvas.picture);
        EXPECT_LT(TextCorpus::characterErrorRate(want, text), 0.03)
            << qPrintable(c.shade.name()) << (c.through ? " through\n" : "\n") << text.toStdString();
    }
}

TEST_F(ReadingPictures, TableColumnsRuledDarkerThanItsRowsReadNoBars) {
    // A table as a browser draws it at 1x, its columns ruled in a middle grey and its rows in a faint one (or
    // not at all): each rule down is crossed at every row, but is still a rule, not a bar between the words.
    const QStringList rows{"Host Region State Load",          "web-01 eu-west-2 running 0.42",
                           "web-02 eu-west-2 stopped 0.00",   "db-01 us-east-1 running 1.87",
                           "cache-01 us-east-1 running 0.13", "batch-07 ap-south-1 draining 3.05"};
    for (const QString& across : {QStringLiteral("#eeeeee"), QStringLiteral("#e0e0e0"), QString()}) {
        QString table;
        for (const QString& row : rows) {
            table += QStringLiteral("<tr>");
            const QStringList cells = row.split(u' ');
            for (int k = 0; k < cells.size(); ++k)
                table += QStringLiteral("<td style='padding:3px 8px;%1%2'>%3</td>")
                             .arg(k ? QStringLiteral("border-left:1px solid #aaa;") : QString(),
                                  across.isEmpty() ? QString() : QStringLiteral("border-bottom:1px solid ") + across,
                                  cells[k]);
            table += QStringLiteral("</tr>");
        }
        const QImage page = TextFixtures::webPage(
            QStringLiteral("<body style=\"margin:0;padding:20px;font:14px/1.45 'DejaVu Sans';color:#1d1f23\">"
                           "<table style='border-collapse:collapse'>%1</table></body>")
                .arg(table),
            QSize(600, 300));
        ASSERT_FALSE(page.isNull()) << "chromium drew nothing";
        const QString text = keptText(page);
        const std::string name = across.isEmpty() ? "no rules across" : across.toStdString();
        EXPECT_FALSE(text.contains(u'|')) << name << "\n" << text.toStdString();
        EXPECT_LT(TextCorpus::characterErrorRate(rows.join(u'\n'), text), 0.03) << name << "\n" << text.toStdString();
    }
}

TEST_F(ReadingPictures, CodesGiveNoStrayLettersAndInvertedOnesAreFound) {
    for (const bool dark : {false, true}) {
        const QColor ground = dark ? QColor(32, 33, 36) : Qt::white;
        TextFixtures::Canvas canvas(QSize(700, 300), ground);
        QImage code = TextFixtures::qrCode(QStringLiteral("PAIR-7F3K"), 240);
        if (dark)
            code.invertPixels();
        canvas.image(QRect(30, 30, 240, 240), code);
        const QString words = QStringLiteral("Scan the code with your phone");
        canvas.line(310, 130, words, TextCorpus::font(TextCorpus::Face::Inter, 16),
                    dark ? QColor(232, 234, 237) : QColor(28, 28, 30));
        EXPECT_EQ(keptText(canvas.picture).simplified(), words) << (dark ? "dark" : "light");
        EXPECT_EQ(TextVision::codes(canvas.picture), QStringList{QStringLiteral("PAIR-7F3K")})
            << (dark ? "dark" : "light");
    }
}

TEST_F(ReadingPictures, HighlightedRowOnlyALittleTallerThanItsLettersIsRead) {
    // A process table's header: dark letters on a bright bar, on a terminal's dark ground whose
    // colour lies near the letters'.
    TextFixtures::Canvas canvas(QSize(640, 90), QColor(30, 31, 34));
    const QFont mono = TextCorpus::font(TextCorpus::Face::Mono, 14);
    QImage bar(QSize(600, 19), QImage::Format_RGB32);
    bar.fill(QColor(0, 205, 0));
    canvas.image(QRect(10, 30, 600, 19), bar);
    const QString header = QStringLiteral("PID USER      PRI  NI  VIRT   RES   SHR S CPU%");
    const QRect box = canvas.line(14, 30, header, mono, Qt::black);
    ASSERT_TRUE(QRect(10, 30, 600, 19).contains(box)) << "the letters fill the bar but for a few rows";
    EXPECT_EQ(keptText(canvas.picture).simplified(), header.simplified());
}

TEST_F(ReadingPictures, TerminalListingKeepsItsColumnsInTheirRows) {
    // A file listing in a terminal: the fields line up in columns a single space apart.
    const QStringList rows{
        "-rw-r--r-- 1 mara staff    1288 Nov  3 09:02 Makefile",
        "-rw-r--r-- 1 mara staff    2310 Dec  1 14:15 README.md",
        "-rwxr-xr-x 1 mara staff     512 Dec  3 11:22 build.sh",
        "drwxr-xr-x 2 mara staff    4096 Oct 19 09:40 docs",
        "-rw-r--r-- 1 mara staff   96512 Nov 30 00:01 report.pdf",
        "-rw-r--r-- 1 mara staff 1203445 Nov 28 17:33 data.csv",
        "drwxr-xr-x 2 mara staff    4096 Dec  3 18:41 src",
    };
    const TextFixtures::Canvas canvas = terminal(QSize(760, 200), rows, 6, 8, 26);
    // Each row's fields from the owner on, in their row's order (the engine may take an r of the
    // permissions for a p; that is not what is tested here).
    const QString text = keptText(canvas.picture).simplified();
    for (const QString& row : rows)
        EXPECT_TRUE(text.contains(row.mid(row.indexOf(u"mara")).simplified())) << text.toStdString();
}

TEST_F(ReadingPictures, MetersReadAsBarsBesideTheirFiguresInTheirRows) {
    // A monitor's meters: rows of bars in brackets with a figure at the right, the last two with a
    // summary beside them, then a process table; dark, and light at twice the size in a window's
    // border. The engine reads a run of bars as letters, takes it for a picture and drops the
    // rows' labels with it, or reads the column of the rows' numbers downwards; the summary joins
    // the table's columns under it.
    const QStringList rows{"1 [||||||||||           34.2%]",
                           "2 [|||                  11.0%]",
                           "3 [|||||||||||||||||||  72.5%]",
                           "4 [|                     5.1%]",
                           "Mem[||||||||      3.21G/7.74G]   Tasks: 142, 388 thr; 2 running",
                           "Swp[                 0K/2.00G]   Load average: 1.12 0.94 0.71",
                           "",
                           "  PID USER      PRI  NI  VIRT   RES S CPU%  TIME+  Command",
                           " 2211 mara       20   0 1204M  312M S 41.3 12:04.51 chromium",
                           " 1873 mara       20   0  734M  121M S 12.0  3:11.02 editor"};
    for (const bool light : {false, true}) {
        const TextFixtures::Canvas canvas = terminal(QSize(760, 240), rows, 10, 8, 19, light, light ? 2 : 1);
        const QStringList read = keptText(canvas.picture).split(u'\n', Qt::SkipEmptyParts);
        const std::string shown = (light ? "light: " : "dark: ") + read.join(u'|').toStdString();
        const auto lineWith = [&](const QString& part) {
            const auto found =
                std::find_if(read.begin(), read.end(), [&](const QString& line) { return line.contains(part); });
            return found == read.end() ? QString() : *found;
        };
        // Each meter on a line of its own, in order, its bars read as bars and its figure after
        // them (the engine may misread a row's number; that is not what is tested here).
        for (const int row : {0, 2}) {
            const QString bars = rows[row].section(u' ', 1, 1).mid(1);
            EXPECT_TRUE(read.value(row).contains(bars)) << bars.toStdString() << " in " << shown;
            EXPECT_GT(read.value(row).indexOf(rows[row].section(u' ', -1)), read.value(row).indexOf(bars)) << shown;
        }
        EXPECT_TRUE(lineWith(QStringLiteral("Tasks")).startsWith(QStringLiteral("Mem"))) << shown;
        EXPECT_TRUE(lineWith(QStringLiteral("Tasks")).contains(QStringLiteral("||||||||"))) << shown;
        EXPECT_TRUE(lineWith(QStringLiteral("average")).startsWith(QStringLiteral("Swp"))) << shown;
        EXPECT_TRUE(lineWith(QStringLiteral("2211")).endsWith(QStringLiteral("chromium"))) << shown;
    }
}

TEST_F(ReadingPictures, LettersOfOneStrokeAreNotBars) {
    // In a proportional face I and l are plain strokes of one height, set close together.
    TextFixtures::Canvas canvas(QSize(900, 160), Qt::white);
    const QString words = QStringLiteral("Ill will, III lll: Illinois");
    canvas.line(10, 10, words, TextFixtures::inter(15), Qt::black);
    canvas.line(10, 60, words, TextFixtures::inter(30), Qt::black);
    const QString read = keptText(canvas.picture);
    EXPECT_FALSE(read.contains(u'|')) << read.toStdString();
}

TEST_F(ReadingPictures, CorpusReadsWithinItsErrorBudget) {
    double sum = 0;
    const auto pages = TextCorpus::pages();
    for (const TextCorpus::Page& page : pages) {
        RecognitionOptions options;
        if (page.language != QStringLiteral("eng"))
            options.languages = page.language + QStringLiteral("+eng");
        std::vector<QRectF> rules;
        options.rules = &rules;
        const std::vector<Line> lines = recognise(page.image, options);
        const QString text = fullText(lines, rules);
        const double cer = TextCorpus::characterErrorRate(page.text, text);
        EXPECT_LT(cer, 0.2) << page.name.toStdString();
        EXPECT_TRUE(keepsEveryWord(lines, text)) << page.name.toStdString();
        sum += cer;
    }
    EXPECT_LT(sum / double(pages.size()), 0.08);
}

TEST_F(ReadingPictures, TableRowsNearABandCutReadAsWellAsTheRest) {
    // A process table in a terminal whose last rows lie just past where the picture would be cut
    // into bands: they are read with the rest of the table, not as a band of their own.
    const QStringList rows{
        "2211 mara  20   0 1204M  312M   88M S 41.3  3.9 12:04.51 chromium",
        "1873 mara  20   0  734M  121M   64M S 12.0  1.5  3:11.02 editor",
        "1022 root  20   0  288M   96M   52M S  6.4  1.2 41:57.80 Xorg",
        "3340 mara  20   0   98M   14M    9M R  3.1  0.2  0:01.77 monitor",
        " 911 root  20   0   23M    7M    6M S  0.7  0.1  1:09.33 journald",
        "2602 mara  39  19  510M   61M   30M S  0.3  0.8  0:44.10 indexer",
        "1450 mara  20   0   41M   11M    8M S  0.0  0.1  0:02.95 bash",
        "   1 root  20   0  163M   12M    8M S  0.0  0.2  0:05.61 init",
    };
    const TextFixtures::Canvas canvas = terminal(QSize(900, 700), rows, 10, 168, 19);
    RecognitionOptions options;
    options.bands = 5;
    const std::vector<Line> lines = recognise(canvas.picture, options);
    const QString text = fullText(lines);
    EXPECT_TRUE(keepsEveryWord(lines, text));
    const QString last = text.section(QStringLiteral("1450"), 1);
    EXPECT_LT(TextCorpus::characterErrorRate(rows.mid(6).join(u' ').simplified(), QStringLiteral("1450") + last), 0.15)
        << text.toStdString();
}

namespace {

// Where each part of a reading stands: the line holding it, -1 when no line does.
struct Reading {
    QStringList lines;
    int at(const QString& part) const {
        for (int i = 0; i < lines.size(); ++i)
            if (lines[i].contains(part))
                return i;
        return -1;
    }
    std::string shown() const { return lines.join(u'|').toStdString(); }
};

Reading readLines(const QImage& picture) {
    return {keptText(picture).split(u'\n', Qt::SkipEmptyParts)};
}

} // namespace

TEST_F(ReadingPictures, AppTitleOverASidebarReadsFirstAndTheSidebarItemByItem) {
    // An app's title centred over a list of sections that starts level with the page beside it;
    // light at 1x, dark at 2x.
    for (const int k : {1, 2}) {
        const QColor ground = k == 2 ? QColor(27, 29, 33) : Qt::white;
        const QColor ink = k == 2 ? QColor(230, 230, 230) : QColor(29, 31, 35);
        const QFont body = TextCorpus::font(TextCorpus::Face::Sans, 14 * k);
        TextFixtures::Canvas app(QSize(900, 300) * k, ground);
        QImage titleBar(QSize(900, 34) * k, QImage::Format_RGB32);
        titleBar.fill(k == 2 ? QColor(36, 39, 44) : QColor(245, 246, 248));
        app.image(QRect(QPoint(0, 0), titleBar.size()), titleBar);
        const QString title = QStringLiteral("Tidewater Player");
        app.line(450 * k - QFontMetrics(body).horizontalAdvance(title) / 2, 9 * k, title, body, ink);
        const QStringList sections{"Recently added", "Artists", "Albums", "Playlists"};
        for (int i = 0; i < sections.size(); ++i)
            app.line(18 * k, (54 + 31 * i) * k, sections[i], body, ink);
        app.line(230 * k, 50 * k, QStringLiteral("Northern Lights Sessions"),
                 TextCorpus::font(TextCorpus::Face::Sans, 24 * k, QFont::Bold), ink);
        const QStringList tracks{"Open Water", "Lanterns", "Slow Tide", "Morning Ferry"};
        for (int i = 0; i < tracks.size(); ++i)
            app.line(270 * k, (110 + 36 * i) * k, tracks[i], body, ink);
        const Reading read = readLines(app.picture);
        EXPECT_EQ(read.at(title), 0) << k << "x: " << read.shown();
        for (int i = 0; i < sections.size(); ++i)
            EXPECT_EQ(read.at(sections[i]), 1 + i) << k << "x: " << read.shown();
    }
}

TEST_F(ReadingPictures, CompilerErrorsInColourReadInTheirLinesOrder) {
    // A compiler's coloured messages in a dark terminal: the quoted source line indented behind its
    // number and bar, the marker under the name in red, the shell's prompt after the messages.
    struct Span {
        const char* text;
        QColor colour;
    };
    const QColor plain(216, 216, 216), white(255, 255, 255), red(230, 60, 60);
    const std::vector<std::vector<Span>> rows{
        {{"mara@lathe:~/src$ gcc -Wall -c scale.c", plain}},
        {{"scale.c:7:12: ", white}, {"error: ", red}, {"'undefined_name' undeclared (first use)", plain}},
        {{"    7 |     return ", plain}, {"undefined_name", red}, {";", plain}},
        {{"      |            ", plain}, {"^~~~~~~~~~~~~~", red}},
        {{"scale.c:7:12: ", white}, {"note: ", plain}, {"each undeclared identifier is reported only once", plain}},
        {{"mara@lathe:~/src$", plain}},
    };
    for (const int scale : {1, 2}) {
        TextFixtures::Canvas canvas(QSize(760, 130) * scale, QColor(30, 31, 34));
        const QFont mono = TextCorpus::font(TextCorpus::Face::Mono, 13 * scale);
        const QFontMetrics metrics(mono);
        for (size_t r = 0; r < rows.size(); ++r) {
            int x = 4 * scale;
            for (const Span& span : rows[r]) {
                canvas.line(x, int(4 + 19 * r) * scale, QString::fromLatin1(span.text), mono, span.colour);
                x += metrics.horizontalAdvance(QString::fromLatin1(span.text));
            }
        }
        const Reading read = readLines(canvas.picture);
        const int source = read.at(QStringLiteral("undefined_name;"));
        EXPECT_GT(source, read.at(QStringLiteral("error"))) << scale << "x: " << read.shown();
        EXPECT_LT(source, read.at(QStringLiteral("note"))) << scale << "x: " << read.shown();
        EXPECT_EQ(read.lines.lastIndexOf(QRegularExpression(QStringLiteral(".*\\$\\s*"))), read.lines.size() - 1)
            << scale << "x: " << read.shown();
    }
}

namespace {

// A page as a browser draws it: DejaVu Sans on a light or dark ground, links in the accent colour.
QString webPage(const QString& body, bool dark) {
    const QString colours = dark ? QStringLiteral("background:#1b1d21;color:#e6e6e6") : QStringLiteral("color:#1d1f23");
    return QStringLiteral("<!doctype html><html><head><meta charset='utf-8'><style>body{margin:0;%1;"
                          "font-family:'DejaVu Sans',sans-serif;font-size:14px;line-height:1.45} a{color:%2}"
                          ".side{background:%3}</style></head><body>%4</body></html>")
        .arg(colours, dark ? QStringLiteral("#7fb4ff") : QStringLiteral("#1a5fd0"),
             dark ? QStringLiteral("#24272c") : QStringLiteral("#f5f6f8"), body);
}

QString sidebarBeside(const QStringList& items, const QString& main) {
    QString side;
    for (const QString& item : items)
        side += QStringLiteral("<div style='padding:5px 0'><a>%1</a></div>").arg(item);
    return QStringLiteral("<div style='display:flex;min-height:100vh'><div class='side' style='width:190px;"
                          "padding:18px'>%1</div><div style='flex:1;padding:18px 30px'>%2</div></div>")
        .arg(side, main);
}

// How often the text holds the part, spaces and case aside (the engine may run two words together,
// or take a capital for a small letter), and in a part of eight letters or more one letter misread
// ("Too! repair").
int occurrences(const QString& text, const QString& part) {
    const QString within = QString(text).remove(QRegularExpression(QStringLiteral("\\s"))).toLower();
    const QString wanted = QString(part).remove(u' ').toLower();
    const int slips = wanted.size() >= 8 ? 1 : 0;
    int count = 0;
    for (qsizetype at = 0; at + wanted.size() <= within.size(); ++at) {
        int differ = 0;
        for (qsizetype k = 0; k < wanted.size() && differ <= slips; ++k)
            differ += within[at + k] != wanted[k] ? 1 : 0;
        if (differ <= slips) {
            ++count;
            at += wanted.size() - 1;
        }
    }
    return count;
}

} // namespace

TEST_F(ReadingPictures, BorderedTableReadsRowByRowAloneAndBesideASidebar) {
    // A timetable with `border: 1px solid` on every cell, as most pages draw one: each rule between
    // cells is a line between them, not the edge of a block, and no cell is lost.
    const QStringList rows{"Time Monday Wednesday Saturday", "09:00 Tomato seedlings Pruning roses Seed swap",
                           "11:00 Organic compost Soil testing Herb walk", "14:00 Bee keeping Rain barrels Tool repair",
                           "16:00 Cider pressing Hedge laying Open garden"};
    const QStringList cells{"Tomato seedlings", "Organic compost", "Pruning roses", "Soil testing", "Herb walk",
                            "Bee keeping",      "Rain barrels",    "Tool repair",   "Hedge laying", "Open garden"};
    const QStringList side{"Opening hours", "Plants", "Courses", "Gift cards", "Find us"};
    struct Case {
        const char* name;
        bool collapse, sidebar, dark;
        int padding, scale;
        const char* border = "1px solid";
    };
    const Case cases[] = {
        {"alone, cell by cell", false, false, false, 4, 1},
        {"alone, one grid, cells tight", true, false, false, 1, 1},
        {"alone, one grid, dark at 2x", true, false, true, 4, 2},
        {"beside a sidebar, one grid", true, true, false, 4, 1},
        {"beside a sidebar, cell by cell, dark", false, true, true, 4, 1},
        // Rows further apart than a paragraph's lines, by the cells' padding: a column the engine leaves out is
        // still read whole.
        {"beside a sidebar, one faint grid, cells padded", true, true, false, 7, 1, "1px solid #eee"},
        {"beside a sidebar, one faint grid, cells padded wide", true, true, false, 10, 1, "1px solid #eee"},
        {"alone, one faint grid, cells padded", true, false, false, 8, 1, "1px solid #eee"},
        {"beside a sidebar, cell by cell, faint, cells padded", false, true, false, 8, 1, "1px solid #eee"},
        {"beside a sidebar, cell by cell, faint on dark", false, true, true, 4, 1, "1px solid #333"},
    };
    for (const Case& c : cases) {
        QString table = QStringLiteral("<table style='border-collapse:%1'>").arg(c.collapse ? "collapse" : "separate");
        for (int r = 0; r < rows.size(); ++r) {
            // The header's four words; then the time and three names of two words each.
            const QString& row = rows[r];
            const QString tag = r == 0 ? QStringLiteral("th") : QStringLiteral("td");
            const QStringList rowCells = r == 0 ? row.split(u' ')
                                                : QStringList{row.section(u' ', 0, 0), row.section(u' ', 1, 2),
                                                              row.section(u' ', 3, 4), row.section(u' ', 5, 6)};
            table += QStringLiteral("<tr>");
            for (const QString& cell : rowCells)
                table += QStringLiteral("<%1 style='text-align:left;border:%5;padding:%2px %3px'>%4</%1>")
                             .arg(tag)
                             .arg(c.padding)
                             .arg(2 * c.padding)
                             .arg(cell, QLatin1String(c.border));
            table += QStringLiteral("</tr>");
        }
        table += QStringLiteral("</table>");
        const QString main = QStringLiteral("<h2>Spring workshops</h2>%1<p>Places are free.</p>").arg(table);
        const QImage page = TextFixtures::webPage(webPage(c.sidebar ? sidebarBeside(side, main) : main, c.dark),
                                                  QSize(900, 420), c.scale);
        if (page.isNull())
            GTEST_SKIP() << "no chromium installed (scripts/install-deps.sh installs it)";
        const QString text = keptText(page);
        // Each row on a line of its own, the engine's slips of a letter or a space aside; every cell once.
        const QStringList lines = text.split(u'\n', Qt::SkipEmptyParts);
        for (const QString& row : rows)
            EXPECT_TRUE(
                std::any_of(lines.begin(), lines.end(),
                            [&](const QString& line) { return TextCorpus::characterErrorRate(row, line) < 0.08; }))
                << c.name << ": " << row.toStdString() << " in " << text.toStdString();
        // The sidebar's items in their order before the page (two may run into one line).
        if (c.sidebar) {
            const Reading read{text.toLower().split(u'\n', Qt::SkipEmptyParts)};
            for (qsizetype i = 1; i < side.size(); ++i)
                EXPECT_GE(read.at(side[i].toLower()), read.at(side[i - 1].toLower())) << c.name << ": " << read.shown();
            EXPECT_GT(read.at(QStringLiteral("workshops")), read.at(side.back().toLower()))
                << c.name << ": " << read.shown();
        }
        QStringList expectOnce = cells;
        if (c.sidebar)
            expectOnce += side;
        for (const QString& part : expectOnce)
            EXPECT_EQ(occurrences(text, part), 1)
                << c.name << ": " << part.toStdString() << " in " << text.toStdString();
    }
}

TEST_F(ReadingPictures, ArticleBesideItsChaptersReadsWholeWithItsHeadingsApart) {
    // A guide's page: the list of its chapters at the side, the article with a large heading and
    // smaller ones among its paragraphs; light at 1x, dark at 2x.
    const QStringList chapters{"Introduction", "Installing", "Your first map",     "Layers",   "Styles",
                               "Labels",       "Printing",   "Keyboard shortcuts", "Questions"};
    const QString title = QStringLiteral("Working with layers");
    const QStringList headings{"Adding a layer", "Changing the order"};
    const QStringList paragraphs{
        "A map is built from layers stacked on top of each other. The layer at the top of the list is drawn last.",
        "Choose Add Layer in the Map menu and pick a file or a web service. Shapefiles and GeoJSON files can be "
        "opened directly; a service needs its address.",
        "Drag a layer up or down in the list to change the order in which layers are drawn. Labels are always drawn "
        "above every layer."};
    const QString article = QStringLiteral("<h1 style='font-size:28px;margin:4px 0 12px'>%1</h1><p>%2</p>"
                                           "<h2 style='font-size:20px;margin:20px 0 6px'>%3</h2><p>%4</p>"
                                           "<h2 style='font-size:20px;margin:20px 0 6px'>%5</h2><p>%6</p>")
                                .arg(title, paragraphs[0], headings[0], paragraphs[1], headings[1], paragraphs[2]);
    for (const int scale : {1, 2}) {
        const bool dark = scale == 2;
        const QImage page =
            TextFixtures::webPage(webPage(sidebarBeside(chapters, article), dark), QSize(1000, 560), scale);
        if (page.isNull())
            GTEST_SKIP() << "no chromium installed (scripts/install-deps.sh installs it)";
        const QString text = keptText(page);
        const Reading read{text.split(u'\n', Qt::SkipEmptyParts)};
        const std::string shown = std::to_string(scale) + "x: " + read.shown();
        // The list whole, then the article; every heading a line of its own, never inside a sentence.
        // The engine may take a capital for a small letter; that is not what is tested here.
        const auto at = [&](const QString& part) {
            for (int i = 0; i < read.lines.size(); ++i)
                if (read.lines[i].contains(part, Qt::CaseInsensitive))
                    return i;
            return -1;
        };
        const int heading = read.lines.indexOf(title);
        EXPECT_GT(heading, 0) << shown;
        EXPECT_EQ(at(chapters.front()), 0) << shown;
        for (int i = 1; i < chapters.size(); ++i)
            EXPECT_LE(at(chapters[i - 1]), at(chapters[i])) << shown;
        EXPECT_LT(at(chapters.back()), heading) << shown;
        for (const QString& heading : headings)
            EXPECT_GE(read.lines.indexOf(heading), 0) << heading.toStdString() << " in " << shown;
        const QStringList blocks = text.split(QStringLiteral("\n\n"));
        for (const QString& heading : QStringList{title} + headings)
            EXPECT_TRUE(blocks.contains(heading)) << heading.toStdString() << " a block of its own in " << shown;
        EXPECT_LT(read.lines.indexOf(headings[0]), read.at(QStringLiteral("Choose Add Layer"))) << shown;
        EXPECT_LT(read.lines.indexOf(headings[1]), read.at(QStringLiteral("Drag a layer"))) << shown;
    }
}
