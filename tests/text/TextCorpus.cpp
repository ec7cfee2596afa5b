#include "text/TextCorpus.h"

#include "text/TextFixtures.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>
#include <QRegularExpression>
#include <QStringList>
#include <algorithm>
#include <vector>

namespace TextCorpus {

namespace {

struct FaceFile {
    Face face;
    const char* family;
    const char* file;
};
const FaceFile faceFiles[] = {
    {Face::Inter, "Inter", "/usr/share/fonts/opentype/inter/Inter-Regular.otf"},
    {Face::Sans, "DejaVu Sans", "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"},
    {Face::Serif, "DejaVu Serif", "/usr/share/fonts/truetype/dejavu/DejaVuSerif.ttf"},
    {Face::Mono, "JetBrains Mono", "/usr/share/fonts/truetype/jetbrains-mono/JetBrainsMono-Regular.ttf"},
};
const char* const extraFiles[] = {
    "/usr/share/fonts/opentype/inter/Inter-Bold.otf",
    "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf",
    "/usr/share/fonts/truetype/dejavu/DejaVuSerif-Bold.ttf",
    "/usr/share/fonts/truetype/jetbrains-mono/JetBrainsMono-Bold.ttf",
};

bool registerFaces() {
    static const bool ok = [] {
        bool all = true;
        for (const FaceFile& f : faceFiles)
            all = QFontDatabase::addApplicationFont(QString::fromLatin1(f.file)) >= 0 && all;
        for (const char* file : extraFiles)
            QFontDatabase::addApplicationFont(QString::fromLatin1(file));
        return all;
    }();
    return ok;
}

// A page being drawn: a picture (at a device pixel ratio for HiDPI pages) and the blocks of its
// text in reading order.
class Sheet {
public:
    Sheet(QSize logical, QColor ground, double ratio = 1)
        : picture(QSize(qRound(logical.width() * ratio), qRound(logical.height() * ratio)), QImage::Format_RGB32) {
        picture.setDevicePixelRatio(ratio);
        picture.fill(ground);
    }

    void fill(QRectF area, QColor colour, double radius = 0) {
        QPainter p(&picture);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(colour);
        p.drawRoundedRect(area, radius, radius);
    }

    void frame(QRectF area, QColor colour, double radius = 0) {
        QPainter p(&picture);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(colour, 1));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(area.adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
    }

    // One line with the top of its font box at y; returns the x after it.
    double text(double x, double y, const QString& line, const QFont& font, QColor colour) {
        QPainter p(&picture);
        p.setRenderHint(QPainter::TextAntialiasing);
        p.setFont(font);
        p.setPen(colour);
        const QFontMetricsF metrics(font);
        p.drawText(QPointF(x, y + metrics.ascent()), line);
        return x + metrics.horizontalAdvance(line);
    }

    // A line that is a block of its own.
    double block(double x, double y, const QString& line, const QFont& font, QColor colour) {
        blocks << line;
        return text(x, y, line, font, colour);
    }

    // Lines step apart, one block together; returns the y after the last step.
    double lines(double x, double y, double step, const QStringList& lines, const QFont& font, QColor colour) {
        for (const QString& line : lines) {
            text(x, y, line, font, colour);
            y += step;
        }
        blocks << lines.join(u'\n');
        return y;
    }

    // Right-aligned at right.
    void textRight(double right, double y, const QString& line, const QFont& font, QColor colour) {
        text(right - QFontMetricsF(font).horizontalAdvance(line), y, line, font, colour);
    }

    // Words wrapped to the width, a block of their own (empty when no line fits); returns the y below the
    // last line.
    double paragraph(QRectF area, const QString& words, const QFont& font, QColor colour, double lineGap) {
        QStringList drawn;
        const QFontMetricsF metrics(font);
        const QStringList lines = TextFixtures::wrapWords(metrics, words, area.width());
        double y = area.top();
        for (const QString& line : lines) {
            if (y + metrics.height() > area.bottom())
                break;
            text(area.left(), y, line, font, colour);
            drawn << line;
            y += metrics.height() + lineGap;
        }
        blocks << drawn.join(u' ');
        return y;
    }

    void image(QRectF where, const QImage& source) {
        QPainter p(&picture);
        p.drawImage(where, source);
    }

    QImage picture;
    QStringList blocks;
};

Page done(const char* name, Sheet& sheet, const char* language = "eng") {
    QImage image = sheet.picture;
    image.setDevicePixelRatio(1);
    return {QString::fromLatin1(name), image, sheet.blocks.join(QStringLiteral("\n\n")), QString::fromLatin1(language)};
}

QFont bold(Face face, int size) {
    return font(face, size, QFont::Bold);
}

// Fills columns with paragraphs of prose until each reaches the bottom.
void proseColumns(Sheet& sheet, const std::vector<QRectF>& columns, const QFont& face, QColor colour, double lineGap,
                  double paragraphGap, unsigned seed) {
    for (size_t c = 0; c < columns.size(); ++c) {
        double top = columns[c].top();
        for (unsigned p = 0;; ++p) {
            const QRectF area(columns[c].left(), top, columns[c].width(), columns[c].bottom() - top);
            const double bottom = sheet.paragraph(
                area, TextFixtures::prose(45 + int((seed + 3 * unsigned(c) + p) % 4) * 12, seed + 7 * unsigned(c) + p),
                face, colour, lineGap);
            if (sheet.blocks.last().isEmpty()) {
                sheet.blocks.removeLast();
                break;
            }
            top = bottom + paragraphGap;
        }
    }
}

Page twoColumnArticle() {
    Sheet s(QSize(1400, 1150), QColor(255, 253, 248));
    const QColor ink(28, 28, 30), grey(105, 105, 110);
    s.block(80, 50, QStringLiteral("SCIENCE"), bold(Face::Inter, 12), QColor(185, 28, 28));
    s.block(80, 76, QStringLiteral("How rivers shape the towns along their banks"), bold(Face::Serif, 38), ink);
    s.block(80, 136, QStringLiteral("A long look at floods, bridges and the people who rebuild them every spring"),
            font(Face::Serif, 20), grey);
    s.text(80, 178, QStringLiteral("By the field desk  ·  12 min read"), font(Face::Inter, 13), grey);
    s.blocks << QStringLiteral("By the field desk · 12 min read");
    s.fill(QRectF(80, 212, 1240, 1), QColor(220, 218, 210));
    proseColumns(s, {QRectF(80, 240, 600, 870), QRectF(730, 240, 600, 870)}, font(Face::Serif, 17), ink, 8, 16, 101);
    return done("article, two columns", s);
}

// A wide screen of a web page whose columns stand only two line heights apart.
Page wideArticle() {
    Sheet s(QSize(1920, 1080), QColor(250, 250, 250));
    const QColor ink(33, 33, 36);
    s.block(560, 60, QStringLiteral("Field notes from the coast"), bold(Face::Inter, 32), ink);
    proseColumns(s, {QRectF(560, 130, 392, 900), QRectF(976, 130, 392, 900)}, font(Face::Inter, 16), ink, 8, 16, 211);
    return done("web article, narrow gutter", s);
}

Page documentationPage() {
    Sheet s(QSize(1600, 1000), Qt::white);
    const QColor ink(31, 35, 40), grey(101, 109, 118), line(216, 222, 228);
    s.fill(QRectF(0, 0, 1600, 56), QColor(246, 248, 250));
    s.fill(QRectF(0, 56, 1600, 1), line);
    s.text(24, 16, QStringLiteral("Pictolarium Docs"), bold(Face::Inter, 18), ink);
    s.fill(QRectF(1290, 12, 280, 32), Qt::white, 6);
    s.frame(QRectF(1290, 12, 280, 32), line, 6);
    s.text(1304, 20, QStringLiteral("Search the docs"), font(Face::Inter, 13), QColor(140, 149, 159));
    s.blocks << QStringLiteral("Pictolarium Docs") << QStringLiteral("Search the docs");

    QStringList side;
    double y = 88;
    auto section = [&](const QString& title, const QStringList& items) {
        s.text(24, y, title, bold(Face::Inter, 11), grey);
        side << title;
        y += 26;
        for (const QString& item : items) {
            if (item == QStringLiteral("Keyboard shortcuts"))
                s.fill(QRectF(16, y - 5, 216, 26), QColor(234, 238, 242), 6);
            s.text(24, y, item, font(Face::Inter, 14), ink);
            side << item;
            y += 30;
        }
        y += 14;
    };
    section(QStringLiteral("GETTING STARTED"),
            {QStringLiteral("Installation"), QStringLiteral("First capture"), QStringLiteral("Keyboard shortcuts"),
             QStringLiteral("The basket"), QStringLiteral("Format wheel")});
    section(QStringLiteral("REFERENCE"), {QStringLiteral("Settings file"), QStringLiteral("Command line"),
                                          QStringLiteral("Plugins"), QStringLiteral("Troubleshooting")});
    s.blocks << side.join(u'\n');
    s.fill(QRectF(256, 57, 1, 943), line);

    const double left = 300, width = 880;
    s.block(left, 84, QStringLiteral("Keyboard shortcuts"), bold(Face::Inter, 30), ink);
    y = s.paragraph(QRectF(left, 140, width, 200),
                    QStringLiteral("Every capture starts from one of two keys. A short tap acts at once, while holding "
                                   "the key a little longer opens a second action, so each key does two jobs without "
                                   "getting in the way of the programs you use."),
                    font(Face::Inter, 15), ink, 7);
    s.block(left, y + 18, QStringLiteral("Default keys"), bold(Face::Inter, 20), ink);
    y += 64;
    const QStringList rows[] = {
        {QStringLiteral("Action"), QStringLiteral("Keys"), QStringLiteral("Notes")},
        {QStringLiteral("Capture window"), QStringLiteral("Super+Shift+D"), QStringLiteral("Tap the key")},
        {QStringLiteral("Drag a slice"), QStringLiteral("Super+Shift+D"), QStringLiteral("Hold the key")},
        {QStringLiteral("Open the basket"), QStringLiteral("Super+Shift+S"), QStringLiteral("Tap the key")},
        {QStringLiteral("Newest screenshot"), QStringLiteral("Super+Shift+S"), QStringLiteral("Hold the key")},
    };
    const double cellX[] = {left + 14, left + 300, left + 560};
    for (size_t r = 0; r < std::size(rows); ++r) {
        if (r == 0)
            s.fill(QRectF(left, y, width, 40), QColor(246, 248, 250));
        s.fill(QRectF(left, y + 40, width, 1), line);
        for (size_t c = 0; c < 3; ++c)
            s.text(cellX[c], y + 11, rows[r][qsizetype(c)], r == 0 ? bold(Face::Inter, 14) : font(Face::Inter, 14),
                   ink);
        s.blocks << rows[r].join(u' ');
        y += 41;
    }
    s.block(left, y + 28, QStringLiteral("Changing a key"), bold(Face::Inter, 20), ink);
    y = s.paragraph(QRectF(left, y + 72, width, 200),
                    QStringLiteral("Keys live in the settings file beside your other preferences. Edit the two lines "
                                   "below and the new keys take effect the next time the program starts."),
                    font(Face::Inter, 15), ink, 7);
    const QStringList code{QStringLiteral("[shortcuts]"), QStringLiteral("capture = \"Super+Shift+D\"  # tap: window"),
                           QStringLiteral("library = \"Super+Shift+S\"  # hold: newest"),
                           QStringLiteral("wheel_key = \"Alt\""), QStringLiteral("sound = false")};
    s.fill(QRectF(left, y + 12, width, 30.0 + 22 * code.size()), QColor(246, 248, 250), 6);
    s.lines(left + 18, y + 27, 22, code, font(Face::Mono, 13), QColor(36, 41, 47));

    s.text(1240, 88, QStringLiteral("On this page"), bold(Face::Inter, 12), ink);
    s.lines(1240, 116, 26,
            {QStringLiteral("Default keys"), QStringLiteral("Changing a key"), QStringLiteral("Conflicts"),
             QStringLiteral("Resetting keys")},
            font(Face::Inter, 13), grey);
    s.blocks.last().prepend(QStringLiteral("On this page\n"));
    return done("docs, three columns", s);
}

Page darkSettings() {
    Sheet s(QSize(1200, 760), QColor(30, 31, 34));
    const QColor light(230, 230, 232), hint(138, 138, 142);
    s.fill(QRectF(0, 0, 1200, 40), QColor(43, 45, 49));
    s.block(560, 12, QStringLiteral("Settings"), bold(Face::Inter, 13), QColor(200, 200, 204));
    s.fill(QRectF(0, 40, 260, 720), QColor(37, 38, 42));
    QStringList categories;
    double y = 64;
    for (const QString& c :
         {QStringLiteral("General"), QStringLiteral("Capture"), QStringLiteral("Shortcuts"), QStringLiteral("Basket"),
          QStringLiteral("Text & language"), QStringLiteral("Privacy"), QStringLiteral("About")}) {
        const bool selected = c == QStringLiteral("Shortcuts");
        if (selected)
            s.fill(QRectF(10, y - 8, 240, 34), QColor(61, 111, 214), 6);
        s.text(26, y, c, font(Face::Inter, 14), selected ? Qt::white : QColor(208, 208, 212));
        categories << c;
        y += 42;
    }
    s.blocks << categories.join(u'\n');

    s.block(300, 64, QStringLiteral("Shortcuts"), bold(Face::Inter, 22), Qt::white);
    struct Row {
        QString label, hint, value;
    };
    const Row rows[] = {
        {QStringLiteral("Capture window or slice"),
         QStringLiteral("Tap to capture the window under the pointer; hold to drag a slice."),
         QStringLiteral("Super+Shift+D")},
        {QStringLiteral("Open the basket"),
         QStringLiteral("Tap to show recent screenshots; hold to open the newest one."),
         QStringLiteral("Super+Shift+S")},
        {QStringLiteral("Format wheel key"), QStringLiteral("Hold it while dragging pictures to choose a format."),
         QStringLiteral("Alt")},
        {QStringLiteral("Play a sound on capture"), QStringLiteral("Uses the desktop's own event sound."), QString()},
        {QStringLiteral("Copy text after capture"), QStringLiteral("Recognised text goes to the clipboard as well."),
         QString()},
    };
    y = 124;
    for (const Row& row : rows) {
        s.fill(QRectF(290, y - 12, 880, 70), QColor(40, 41, 46), 8);
        s.text(310, y, row.label, font(Face::Inter, 14), light);
        s.text(310, y + 24, row.hint, font(Face::Inter, 11), hint);
        if (!row.value.isEmpty()) {
            const QFont f = font(Face::Inter, 13);
            const double w = QFontMetricsF(f).horizontalAdvance(row.value) + 24;
            s.fill(QRectF(1150 - w, y + 2, w, 28), QColor(58, 60, 66), 6);
            s.text(1150 - w + 12, y + 8, row.value, f, QColor(224, 224, 228));
            s.blocks << row.label + u'\n' + row.hint + u'\n' + row.value;
        } else {
            s.fill(QRectF(1104, y + 4, 46, 24), QColor(52, 199, 89), 12);
            s.fill(QRectF(1128, y + 6, 20, 20), Qt::white, 10);
            s.blocks << row.label + u'\n' + row.hint;
        }
        y += 84;
    }
    return done("settings, dark, small hints", s);
}

Page terminal() {
    Sheet s(QSize(1100, 620), QColor(29, 31, 33));
    const QColor text(197, 200, 198), green(181, 189, 104), blue(129, 162, 190), bright(240, 240, 240);
    s.fill(QRectF(0, 0, 1100, 34), QColor(45, 47, 49));
    s.block(400, 9, QStringLiteral("ada@workstation: ~/projects/pictolarium"), font(Face::Inter, 13), text);
    const QFont mono = font(Face::Mono, 14), monoBold = font(Face::Mono, 14, QFont::Bold);
    QStringList lines;
    double y = 48;
    auto prompt = [&](const QString& command) {
        double x = s.text(14, y, QStringLiteral("ada@workstation"), monoBold, green);
        x = s.text(x, y, QStringLiteral(":"), mono, text);
        x = s.text(x, y, QStringLiteral("~/projects/pictolarium"), monoBold, blue);
        s.text(x, y, QStringLiteral("$ ") + command, mono, text);
        lines << QStringLiteral("ada@workstation:~/projects/pictolarium$ ") + command;
        y += 21;
    };
    auto out = [&](const QString& plain, const QString& name = QString(), QColor colour = QColor()) {
        const double x = s.text(14, y, plain, mono, text);
        if (!name.isEmpty())
            s.text(x, y, name, monoBold, colour);
        lines << plain + name;
        y += 21;
    };
    prompt(QStringLiteral("ls -l"));
    out(QStringLiteral("total 48"));
    out(QStringLiteral("drwxr-xr-x 2 ada ada 4096 Mar  3 10:12 "), QStringLiteral("bench"), blue);
    out(QStringLiteral("-rw-r--r-- 1 ada ada 1873 Mar  3 10:12 CMakeLists.txt"));
    out(QStringLiteral("-rwxr-xr-x 1 ada ada  912 Mar  2 17:40 "), QStringLiteral("configure.sh"), green);
    out(QStringLiteral("drwxr-xr-x 5 ada ada 4096 Mar  3 09:58 "), QStringLiteral("docs"), blue);
    out(QStringLiteral("-rw-r--r-- 1 ada ada 2210 Feb 27 14:03 Makefile"));
    out(QStringLiteral("drwxr-xr-x 9 ada ada 4096 Mar  3 10:12 "), QStringLiteral("src"), blue);
    out(QStringLiteral("drwxr-xr-x 8 ada ada 4096 Mar  3 10:12 "), QStringLiteral("tests"), blue);
    prompt(QStringLiteral("grep -rn \"TODO\" src/ | wc -l"));
    out(QStringLiteral("17"));
    prompt(QStringLiteral("echo $((6 * 7)) && jq '.keys[0]' ~/.config/app.json"));
    out(QStringLiteral("42"));
    out(QStringLiteral("\"Super+Shift+D\""));
    prompt(QString());
    s.fill(QRectF(14 + QFontMetricsF(mono).horizontalAdvance(lines.back()), y - 21, 9, 18), text);
    s.blocks << lines.join(u'\n');
    return done("terminal, coloured ls", s);
}

Page chat() {
    Sheet s(QSize(1300, 820), Qt::white);
    const QColor ink(28, 28, 30), grey(108, 108, 112);
    s.fill(QRectF(0, 0, 330, 820), QColor(244, 245, 247));
    s.fill(QRectF(330, 0, 1, 820), QColor(222, 222, 226));
    s.fill(QRectF(16, 16, 298, 34), Qt::white, 8);
    s.block(30, 25, QStringLiteral("Search"), font(Face::Inter, 13), QColor(150, 150, 155));
    struct Entry {
        QString name, time, preview;
    };
    const Entry entries[] = {
        {QStringLiteral("Mara Lindqvist"), QStringLiteral("09:41"), QStringLiteral("See you at the station at ten")},
        {QStringLiteral("Design team"), QStringLiteral("09:12"), QStringLiteral("Tomas: new icons are in the folder")},
        {QStringLiteral("Jonas Weber"), QStringLiteral("Yesterday"), QStringLiteral("Thanks for the screenshots!")},
        {QStringLiteral("Priya Raman"), QStringLiteral("Yesterday"), QStringLiteral("Can you send the file again?")},
        {QStringLiteral("Family"), QStringLiteral("Mon"), QStringLiteral("Dinner on Sunday at six")},
        {QStringLiteral("Build server"), QStringLiteral("Mon"), QStringLiteral("Nightly build passed")},
    };
    double y = 70;
    for (const Entry& e : entries) {
        const bool selected = e.name == QStringLiteral("Design team");
        if (selected)
            s.fill(QRectF(8, y, 314, 62), QColor(47, 111, 237), 8);
        s.text(24, y + 10, e.name, bold(Face::Inter, 14), selected ? Qt::white : ink);
        s.textRight(306, y + 12, e.time, font(Face::Inter, 11), selected ? QColor(220, 230, 255) : grey);
        s.text(24, y + 33, e.preview, font(Face::Inter, 13), selected ? QColor(225, 233, 255) : grey);
        s.blocks << e.name + u' ' + e.time + u'\n' + e.preview;
        y += 70;
    }

    s.text(360, 20, QStringLiteral("Design team"), bold(Face::Inter, 17), ink);
    s.text(360, 44, QStringLiteral("4 members"), font(Face::Inter, 12), grey);
    s.blocks << QStringLiteral("Design team\n4 members");
    s.fill(QRectF(331, 72, 969, 1), QColor(232, 232, 236));
    struct Message {
        bool mine;
        QString who, text;
    };
    const Message messages[] = {
        {false, QStringLiteral("Tomas"),
         QStringLiteral("Morning! I pushed the new toolbar icons to the shared folder.")},
        {false, QStringLiteral("Tomas"), QStringLiteral("They come in two sizes, the small ones are for the menu.")},
        {true, QString(), QStringLiteral("Great, thanks. I'll try them in the next build today.")},
        {false, QStringLiteral("Ines"), QStringLiteral("Could we make the crop icon a little lighter?")},
        {true, QString(), QStringLiteral("Sure, I'll send a screenshot of both versions after lunch.")},
        {false, QStringLiteral("Tomas"), QStringLiteral("Perfect. The folder is called icons-v2.")},
    };
    y = 96;
    const QFont body = font(Face::Inter, 14);
    for (const Message& m : messages) {
        if (!m.who.isEmpty()) {
            s.text(376, y, m.who, font(Face::Inter, 11), grey);
            y += 18;
        }
        const double w = QFontMetricsF(body).horizontalAdvance(m.text) + 28;
        const double x = m.mine ? 1270 - w : 360;
        s.fill(QRectF(x, y, w, 38), m.mine ? QColor(10, 132, 255) : QColor(233, 233, 235), 18);
        s.text(x + 14, y + 10, m.text, body, m.mine ? Qt::white : ink);
        s.blocks << (m.who.isEmpty() ? m.text : m.who + u'\n' + m.text);
        y += 56;
    }
    s.fill(QRectF(360, 760, 910, 40), Qt::white, 20);
    s.frame(QRectF(360, 760, 910, 40), QColor(210, 210, 215), 20);
    s.block(380, 771, QStringLiteral("Write a message"), font(Face::Inter, 14), QColor(150, 150, 155));
    return done("chat, bubbles and selection", s);
}

QImage inverted(QImage image) {
    image.invertPixels();
    return image;
}

Page qrDialog(bool dark) {
    Sheet s(QSize(900, 500), dark ? QColor(32, 33, 36) : Qt::white);
    const QColor ink = dark ? QColor(232, 234, 237) : QColor(28, 28, 30);
    const QColor grey = dark ? QColor(154, 160, 166) : QColor(95, 99, 104);
    const QString title = dark ? QStringLiteral("Sign in on another device") : QStringLiteral("Connect your phone");
    s.block(40, 32, title, bold(Face::Inter, 20), ink);
    const QImage code = TextFixtures::qrCode(
        dark ? QStringLiteral("https://pictolarium.example/signin?t=Q8ZK2M") : QStringLiteral("PAIR-7F3K-92QD"), 240);
    if (dark) {
        // A light-on-dark code as dark themes draw it, with the dark ground as its quiet zone.
        s.image(QRectF(40, 90, 240, 240), inverted(code));
    } else {
        s.image(QRectF(40, 90, 240, 240), code);
    }
    const QString lead = dark ? QStringLiteral("Open Settings on your other computer, choose Accounts and scan this "
                                               "code with its camera.")
                              : QStringLiteral("Scan the code with the camera of your phone to send screenshots "
                                               "straight to it.");
    double y = s.paragraph(QRectF(320, 92, 540, 120), lead, font(Face::Inter, 15), ink, 6);
    const QStringList steps =
        dark ? QStringList{QStringLiteral("The code expires in 5 minutes."),
                           QStringLiteral("Never share it with anyone.")}
             : QStringList{QStringLiteral("1. Open the camera app."), QStringLiteral("2. Point it at the code."),
                           QStringLiteral("3. Tap the link that appears.")};
    y = s.lines(320, y + 14, 26, steps, font(Face::Inter, 14), grey);
    if (!dark)
        s.block(320, y + 16, QStringLiteral("Pairing code: 7F3K-92QD"), font(Face::Mono, 15), ink);
    auto button = [&](double right, const QString& label, QColor fill, QColor colour) {
        const QFont f = font(Face::Inter, 14);
        const double w = QFontMetricsF(f).horizontalAdvance(label) + 36;
        s.fill(QRectF(right - w, 420, w, 36), fill, 8);
        s.text(right - w + 18, 429, label, f, colour);
        return right - w - 12;
    };
    if (dark) {
        button(860, QStringLiteral("Show a new code"), QColor(60, 64, 67), ink);
        s.blocks << QStringLiteral("Show a new code");
    } else {
        const double next = button(860, QStringLiteral("Done"), QColor(37, 99, 235), Qt::white);
        button(next, QStringLiteral("Cancel"), QColor(235, 235, 238), ink);
        s.blocks << QStringLiteral("Cancel Done");
    }
    return done(dark ? "dialog, inverted QR, dark" : "dialog, QR beside text", s);
}

Page hidpiMail() {
    Sheet s(QSize(900, 560), Qt::white, 2);
    const QColor ink(28, 28, 30), grey(118, 118, 124);
    s.fill(QRectF(0, 0, 900, 52), QColor(248, 248, 250));
    s.text(20, 10, QStringLiteral("Inbox"), bold(Face::Inter, 15), ink);
    s.text(20, 30, QStringLiteral("128 messages, 3 unread"), font(Face::Inter, 11), grey);
    s.blocks << QStringLiteral("Inbox\n128 messages, 3 unread");
    struct Mail {
        QString from, date, subject, snippet;
    };
    const Mail mails[] = {
        {QStringLiteral("Lena Hoffmann"), QStringLiteral("10:24"), QStringLiteral("Photos from the workshop"),
         QStringLiteral("I picked the best thirty and put them in one album for everyone.")},
        {QStringLiteral("City Library"), QStringLiteral("09:02"), QStringLiteral("Your loan is due on Friday"),
         QStringLiteral("Renew it online or bring it back to any branch before closing time.")},
        {QStringLiteral("Sam Okafor"), QStringLiteral("Yesterday"), QStringLiteral("Re: budget for the trip"),
         QStringLiteral("That works for me. Let us book the train before the prices go up.")},
        {QStringLiteral("Hosting"), QStringLiteral("Tuesday"), QStringLiteral("Invoice 2026-0412"),
         QStringLiteral("Thank you for your payment of 12.00 EUR for the small plan.")},
        {QStringLiteral("Ana Ruiz"), QStringLiteral("Monday"), QStringLiteral("Notes from the call"),
         QStringLiteral("Three points stood out, and the second one needs a decision soon.")},
    };
    double y = 64;
    for (const Mail& m : mails) {
        s.text(20, y, m.from, bold(Face::Inter, 13), ink);
        s.textRight(880, y + 2, m.date, font(Face::Inter, 11), grey);
        s.text(20, y + 20, m.subject, font(Face::Inter, 13), ink);
        s.text(20, y + 39, m.snippet, font(Face::Inter, 12), grey);
        s.fill(QRectF(20, y + 82, 860, 1), QColor(229, 229, 234));
        s.blocks << m.from + u' ' + m.date + u'\n' + m.subject + u'\n' + m.snippet;
        y += 94;
    }
    return done("mail list, HiDPI 2x", s);
}

Page article(const char* name, const char* language, const QString& title, const QString& meta,
             const QStringList& paragraphs, Face face) {
    Sheet s(QSize(1000, 820), QColor(252, 252, 250));
    const QColor ink(30, 30, 32);
    s.block(60, 44, title, bold(Face::Sans, 28), ink);
    s.block(60, 94, meta, font(Face::Inter, 13), QColor(110, 110, 116));
    double y = 136;
    for (const QString& p : paragraphs)
        y = s.paragraph(QRectF(60, y, 860, 800 - y), p, font(face, 17), ink, 9) + 16;
    return done(name, s, language);
}

Page german() {
    return article(
        "German article", "deu", QStringLiteral("Neue Öffnungszeiten für die Stadtbibliothek"),
        QStringLiteral("Lokales · 4. März · 3 Min. Lesezeit"),
        {QStringLiteral("Nach dem Umbau öffnet die Stadtbibliothek ab Montag wieder zu den gewohnten Zeiten. Die "
                        "Leiterin sagte, die größte Veränderung sei der neue Lesesaal im Erdgeschoss: „Wir wollten "
                        "einen Ort schaffen, an dem man gern länger bleibt.“ Besucher können dort künftig auch "
                        "Zeitschriften aus aller Welt lesen."),
         QStringLiteral("Für Familien gibt es eine eigene Ecke mit Bilderbüchern, Spielen und bequemen Sitzkissen. "
                        "Die Ausleihe funktioniert weiterhin über den Bibliotheksausweis; wer keinen besitzt, erhält "
                        "ihn kostenlos an der Theke. Gebühren für verspätete Rückgaben werden vorerst nicht erhoben."),
         QStringLiteral("Im Herbst folgen Lesungen, Sprachkurse und ein Treffpunkt für Menschen, die Deutsch üben "
                        "möchten. Die genauen Termine veröffentlicht die Stadt in der nächsten Woche auf ihrer "
                        "Internetseite.")},
        Face::Serif);
}

Page french() {
    return article(
        "French article", "fra", QStringLiteral("Le marché couvert rouvre ses portes"),
        QStringLiteral("Vie locale · 4 mars · lecture 3 min"),
        {QStringLiteral("Après dix-huit mois de travaux, le marché couvert du centre-ville accueille de nouveau les "
                        "habitants dès samedi matin. « Nous avons gardé la charpente d’origine, mais tout le reste a "
                        "été refait », explique l’architecte chargée du projet."),
         QStringLiteral("Les étals sont désormais plus larges et mieux éclairés. Une trentaine de producteurs de la "
                        "région y vendront fruits, légumes, fromages et pâtisseries ; un café occupera l’ancienne "
                        "halle aux poissons."),
         QStringLiteral("La mairie prévoit aussi des ateliers de cuisine pour les enfants le mercredi après-midi. "
                        "L’entrée reste gratuite, et les horaires d’été seront affichés à l’entrée principale à "
                        "partir du mois de juin.")},
        Face::Sans);
}

Page lightBesideDark() {
    Sheet s(QSize(1400, 700), QColor(90, 107, 124));
    // A light editor window on the left.
    s.fill(QRectF(20, 20, 670, 660), Qt::white, 8);
    s.fill(QRectF(20, 20, 670, 36), QColor(236, 236, 238), 8);
    s.block(280, 30, QStringLiteral("notes.txt - Editor"), font(Face::Inter, 13), QColor(60, 60, 64));
    double y = 76;
    for (unsigned p = 0; p < 3; ++p)
        y = s.paragraph(QRectF(44, y, 620, 660 - y), TextFixtures::prose(48, 300 + p), font(Face::Sans, 14),
                        QColor(34, 34, 34), 6) +
            14;
    // A dark list window on the right.
    s.fill(QRectF(710, 20, 670, 660), QColor(30, 30, 30), 8);
    s.fill(QRectF(710, 20, 670, 36), QColor(50, 50, 52), 8);
    s.block(1000, 30, QStringLiteral("Reading list"), font(Face::Inter, 13), QColor(200, 200, 204));
    QStringList items;
    y = 80;
    for (const QString& item :
         {QStringLiteral("The quiet art of keeping notes"), QStringLiteral("Designing for small screens"),
          QStringLiteral("A short history of the bicycle"), QStringLiteral("Bread at home: a beginner's guide"),
          QStringLiteral("Maps that changed how we travel"), QStringLiteral("Learning to sketch in ten minutes"),
          QStringLiteral("Why trains run late in autumn"), QStringLiteral("The science of a good night's sleep")}) {
        s.text(740, y, item, font(Face::Inter, 15), QColor(220, 220, 222));
        s.text(740, y + 24, QStringLiteral("Saved to read later"), font(Face::Inter, 11), QColor(140, 140, 146));
        items << item + QStringLiteral("\nSaved to read later");
        y += 70;
    }
    s.blocks << items;
    return done("light window beside dark", s);
}

Page toolbarForm() {
    Sheet s(QSize(1100, 640), QColor(247, 247, 248));
    const QColor ink(28, 28, 30), label(85, 85, 90);
    auto button = [&](double x, const QString& text, QColor fill, QColor colour, bool outline = false) {
        const QFont f = font(Face::Inter, 13);
        const double w = QFontMetricsF(f).horizontalAdvance(text) + 30;
        s.fill(QRectF(x, 16, w, 32), fill, 6);
        if (outline)
            s.frame(QRectF(x, 16, w, 32), QColor(200, 200, 205), 6);
        s.text(x + 15, 24, text, f, colour);
        return x + w + 10;
    };
    double x = button(20, QStringLiteral("New"), QColor(37, 99, 235), Qt::white);
    x = button(x, QStringLiteral("Open"), Qt::white, ink, true);
    x = button(x, QStringLiteral("Export"), QColor(22, 163, 74), Qt::white);
    button(x, QStringLiteral("Delete"), QColor(220, 38, 38), Qt::white);
    s.fill(QRectF(820, 16, 260, 32), Qt::white, 6);
    s.frame(QRectF(820, 16, 260, 32), QColor(215, 215, 220), 6);
    s.text(834, 24, QStringLiteral("Search files"), font(Face::Inter, 13), QColor(160, 160, 165));
    s.blocks << QStringLiteral("New Open Export Delete Search files");
    s.fill(QRectF(0, 64, 1100, 1), QColor(225, 225, 230));

    double y = 92;
    struct Field {
        QString label, value;
    };
    for (const Field& f : {Field{QStringLiteral("Project name"), QStringLiteral("Harbour survey")},
                           Field{QStringLiteral("Owner"), QStringLiteral("R. Okafor")}}) {
        s.text(40, y + 8, f.label, font(Face::Inter, 13), label);
        s.fill(QRectF(200, y, 360, 32), Qt::white, 6);
        s.frame(QRectF(200, y, 360, 32), QColor(210, 210, 215), 6);
        s.text(212, y + 8, f.value, font(Face::Inter, 14), ink);
        s.blocks << f.label + u' ' + f.value;
        y += 48;
    }
    s.text(40, y + 6, QStringLiteral("Status"), font(Face::Inter, 13), label);
    s.fill(QRectF(200, y, 92, 28), QColor(254, 243, 199), 14);
    s.text(214, y + 6, QStringLiteral("In review"), font(Face::Inter, 13), QColor(146, 64, 14));
    s.blocks << QStringLiteral("Status In review");
    y += 60;
    s.block(40, y, QStringLiteral("Attachments"), bold(Face::Inter, 15), ink);
    y += 34;
    QStringList files;
    for (const QString& f : {QStringLiteral("Site photos.zip"), QStringLiteral("Quarterly report.pdf"),
                             QStringLiteral("Budget 2026.xlsx"), QStringLiteral("Tide tables.csv")}) {
        const bool selected = f == QStringLiteral("Quarterly report.pdf");
        if (selected)
            s.fill(QRectF(30, y - 7, 540, 32), QColor(37, 99, 235), 6);
        s.text(44, y, f, font(Face::Inter, 14), selected ? Qt::white : ink);
        files << f;
        y += 36;
    }
    s.blocks << files.join(u'\n');
    s.text(40, y + 20, QStringLiteral("Changes are saved automatically."), font(Face::Inter, 12),
           QColor(156, 163, 175));
    s.blocks << QStringLiteral("Changes are saved automatically.");
    return done("toolbar buttons and form", s);
}

Page denseScreen() {
    const TextFixtures::Screen screen = TextFixtures::denseScreen();
    return {QStringLiteral("dense screen, 1920x1080"), screen.image, screen.text, QStringLiteral("eng")};
}

QString normalised(const QString& text) {
    static const QRegularExpression spaces(QStringLiteral(R"(\s+)"));
    return QString(text).replace(spaces, QStringLiteral(" ")).trimmed();
}

template <typename T> double editDistance(const std::vector<T>& a, const std::vector<T>& b) {
    std::vector<int> previous(b.size() + 1), current(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j)
        previous[j] = int(j);
    for (size_t i = 1; i <= a.size(); ++i) {
        current[0] = int(i);
        for (size_t j = 1; j <= b.size(); ++j)
            current[j] =
                std::min({previous[j] + 1, current[j - 1] + 1, previous[j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
        std::swap(previous, current);
    }
    return previous[b.size()];
}

} // namespace

QFont font(Face face, int pixelSize, int weight) {
    registerFaces();
    QFont f(QString::fromLatin1(faceFiles[int(face)].family));
    f.setPixelSize(pixelSize);
    f.setWeight(QFont::Weight(weight));
    f.setHintingPreference(QFont::PreferNoHinting);
    return f;
}

bool facesInstalled() {
    return registerFaces();
}

std::vector<Page> pages() {
    std::vector<Page> out;
    out.push_back(twoColumnArticle());
    out.push_back(wideArticle());
    out.push_back(documentationPage());
    out.push_back(darkSettings());
    out.push_back(terminal());
    out.push_back(chat());
    out.push_back(qrDialog(false));
    out.push_back(qrDialog(true));
    out.push_back(hidpiMail());
    out.push_back(german());
    out.push_back(french());
    out.push_back(lightBesideDark());
    out.push_back(toolbarForm());
    out.push_back(denseScreen());
    return out;
}

double characterErrorRate(const QString& want, const QString& got) {
    return TextFixtures::characterErrorRate(want, got);
}

double wordErrorRate(const QString& want, const QString& got) {
    const QStringList a = normalised(want).split(u' ', Qt::SkipEmptyParts);
    const QStringList b = normalised(got).split(u' ', Qt::SkipEmptyParts);
    if (a.isEmpty())
        return b.isEmpty() ? 0 : 1;
    return editDistance(std::vector<QString>(a.begin(), a.end()), std::vector<QString>(b.begin(), b.end())) /
           double(a.size());
}

} // namespace TextCorpus
