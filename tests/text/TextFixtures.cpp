#include "text/TextFixtures.h"

#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>
#include <ZXing/BitMatrix.h>
#include <ZXing/MultiFormatWriter.h>
#include <algorithm>
#include <random>
#include <vector>

namespace TextFixtures {

bool registerInter() {
    static const bool ok =
        QFontDatabase::addApplicationFont(QStringLiteral("/usr/share/fonts/opentype/inter/Inter-Regular.otf")) >= 0;
    return ok;
}

QFont inter(int pixelSize, int weight) {
    registerInter();
    QFont font(QStringLiteral("Inter"));
    font.setPixelSize(pixelSize);
    font.setWeight(QFont::Weight(weight));
    font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

Canvas::Canvas(QSize size, QColor background) : picture(size, QImage::Format_RGB32) {
    picture.fill(background);
}

QRect Canvas::line(int x, int y, const QString& text, const QFont& font, QColor colour) {
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setFont(font);
    painter.setPen(colour);
    const QFontMetrics metrics(font);
    painter.drawText(QPoint(x, y + metrics.ascent()), text);
    return metrics.tightBoundingRect(text).translated(x, y + metrics.ascent());
}

QRect Canvas::substringBox(int x, int y, const QString& text, const QString& part, const QFont& font) const {
    const QFontMetrics metrics(font);
    const qsizetype at = text.indexOf(part);
    const int left = x + metrics.horizontalAdvance(text.left(at));
    const QRect tight = metrics.tightBoundingRect(part);
    return tight.translated(left, y + metrics.ascent());
}

QStringList Canvas::paragraph(QRect area, const QString& text, const QFont& font, QColor colour, int lineGap,
                              int* bottom) {
    const QFontMetrics metrics(font);
    const QStringList lines = wrapWords(metrics, text, area.width());
    int y = area.top();
    QStringList drawn;
    for (const QString& l : lines) {
        if (y + metrics.height() > area.bottom())
            break;
        line(area.left(), y, l, font, colour);
        drawn << l;
        y += metrics.height() + lineGap;
    }
    if (bottom)
        *bottom = y;
    return drawn;
}

void Canvas::image(const QRect& where, const QImage& picture) {
    QPainter painter(&this->picture);
    painter.drawImage(where, picture);
}

QImage qrCode(const QString& payload, int side) {
    ZXing::MultiFormatWriter writer(ZXing::BarcodeFormat::QRCode);
    writer.setMargin(2);
    const ZXing::BitMatrix matrix = writer.encode(payload.toStdWString(), 0, 0);
    QImage modules(matrix.width(), matrix.height(), QImage::Format_Grayscale8);
    for (int y = 0; y < matrix.height(); ++y)
        for (int x = 0; x < matrix.width(); ++x)
            modules.setPixel(x, y, matrix.get(x, y) ? qRgb(0, 0, 0) : qRgb(255, 255, 255));
    return modules.scaled(side, side, Qt::IgnoreAspectRatio, Qt::FastTransformation);
}

QString prose(int words, unsigned seed) {
    static const QStringList vocabulary =
        QStringLiteral(
            "the project team reviewed every open question before the meeting and agreed on a plan for the next "
            "release which includes better search faster uploads clearer settings and a simpler way to share "
            "pictures with friends family or colleagues while the design group prepared new drawings the "
            "engineers measured how long each screen takes to load on older computers and found several places "
            "where work could move to the background support staff collected notes from customers who asked for "
            "larger buttons quieter alerts and a dark window style that is easier on the eyes at night finance "
            "confirmed the budget for travel hardware and training during the autumn quarter")
            .split(u' ');
    std::mt19937 random(seed);
    QString out;
    bool capital = true;
    for (int i = 0; i < words; ++i) {
        QString word = vocabulary[qsizetype(random() % unsigned(vocabulary.size()))];
        if (capital)
            word[0] = word[0].toUpper();
        capital = false;
        out += word;
        if (i + 1 == words || random() % 11 == 0) {
            out += u'.';
            capital = true;
        } else if (random() % 9 == 0) {
            out += u',';
        }
        if (i + 1 < words)
            out += u' ';
    }
    return out;
}

Screen denseScreen(bool dark) {
    const QColor ground = dark ? QColor(30, 31, 34) : QColor(250, 250, 250);
    const QColor ink = dark ? QColor(225, 225, 225) : QColor(30, 30, 30);
    const QColor muted = dark ? QColor(150, 150, 150) : QColor(110, 110, 110);
    Canvas canvas(QSize(1920, 1080), ground);
    QStringList blocks;

    const QString title = QStringLiteral("Quarterly planning notes and open questions");
    canvas.line(40, 24, title, inter(26, QFont::Normal), ink);
    blocks << title;

    QStringList labels;
    const QStringList sidebar = QStringLiteral("Inbox,Drafts,Sent items,Archive,Projects,Design reviews,Budget,"
                                               "Travel,Hardware,Training,Customers,Support notes,Release plan,"
                                               "Search,Uploads,Settings,Sharing,Night style,Alerts,Buttons,"
                                               "Meetings,Calendar,Contacts,Reports,Backups,Printing,Scanning,"
                                               "Downloads,Favourites,Recent files,Shared with me,Team space,Templates,"
                                               "Invoices,Receipts,Contracts,Photos,Screenshots,Recordings,Notes,"
                                               "Tasks,Reminders,Bookmarks,History,Trash")
                                    .split(u',');
    int y = 100;
    for (const QString& label : sidebar) {
        canvas.line(40, y, label, inter(13), muted);
        labels << label;
        y += 21;
    }
    blocks << labels.join(u'\n');

    auto column = [&](int left, int width, int size, unsigned seed) {
        int top = 100;
        for (int p = 0; top < 1040; ++p) {
            int bottom = 0;
            const QStringList drawn = canvas.paragraph(QRect(left, top, width, 1060 - top),
                                                       prose(70, seed + unsigned(p)), inter(size), ink, 5, &bottom);
            if (drawn.isEmpty())
                break;
            blocks << drawn.join(u' ');
            top = bottom + 2 * size;
        }
    };
    column(360, 720, 15, 11);
    column(1160, 720, 14, 41);
    return {canvas.picture, blocks.join(QStringLiteral("\n\n"))};
}

double characterErrorRate(const QString& want, const QString& got) {
    static const QRegularExpression spaces(QStringLiteral(R"(\s+)"));
    const QString a = QString(want).replace(spaces, QStringLiteral(" ")).trimmed();
    const QString b = QString(got).replace(spaces, QStringLiteral(" ")).trimmed();
    if (a.isEmpty())
        return b.isEmpty() ? 0 : 1;
    std::vector<int> previous(size_t(b.size()) + 1), current(size_t(b.size()) + 1);
    for (size_t j = 0; j <= size_t(b.size()); ++j)
        previous[j] = int(j);
    for (qsizetype i = 1; i <= a.size(); ++i) {
        current[0] = int(i);
        for (qsizetype j = 1; j <= b.size(); ++j) {
            const int substitute = previous[size_t(j - 1)] + (a[i - 1] == b[j - 1] ? 0 : 1);
            current[size_t(j)] = std::min({previous[size_t(j)] + 1, current[size_t(j - 1)] + 1, substitute});
        }
        std::swap(previous, current);
    }
    return double(previous[size_t(b.size())]) / double(a.size());
}

QImage webPage(const QString& html, QSize size, int scale) {
    const QString browser = QStandardPaths::findExecutable(QStringLiteral("chromium"));
    QTemporaryDir dir;
    if (browser.isEmpty() || !dir.isValid())
        return {};
    QFile page(dir.filePath(QStringLiteral("page.html")));
    if (!page.open(QIODevice::WriteOnly))
        return {};
    page.write(html.toUtf8());
    page.close();
    const QString shot = dir.filePath(QStringLiteral("page.png"));
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(browser,
                  {QStringLiteral("--headless"), QStringLiteral("--no-sandbox"), QStringLiteral("--disable-gpu"),
                   QStringLiteral("--hide-scrollbars"), QStringLiteral("--no-first-run"),
                   QStringLiteral("--user-data-dir=") + dir.filePath(QStringLiteral("profile")),
                   QStringLiteral("--force-device-scale-factor=%1").arg(scale),
                   QStringLiteral("--window-size=%1,%2").arg(size.width()).arg(size.height()),
                   QStringLiteral("--screenshot=") + shot, QUrl::fromLocalFile(page.fileName()).toString()});
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    return QImage(shot).convertToFormat(QImage::Format_RGB32);
}

} // namespace TextFixtures
