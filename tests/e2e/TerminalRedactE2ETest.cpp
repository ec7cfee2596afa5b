// A terminal's secrets redacted from a capture of its window, in the real program, judged by what the tesseract
// command reads in the written file: no secret it read before reads after, each character it read a secret from is
// painted over, and each painted box lies on such characters.

#include "Desktop.h"
#include "TerminalScreens.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>
#include <QStandardPaths>
#include <algorithm>
#include <cstdio>
#include <gtest/gtest.h>
#include <numeric>

using namespace TerminalScreens;

namespace {

// A character the tesseract command read, and its box on the picture it was asked about.
struct ReadCharacter {
    QChar c;
    QRectF box;
};
using ReadLine = std::vector<ReadCharacter>;

// The lines of the command's hOCR page with their characters' boxes, scaled back by `scale`; a blank between words.
std::vector<ReadLine> hocrLines(const QString& hocr, double scale) {
    static const QRegularExpression span(
        QStringLiteral(R"(class='(ocr_line|ocr_header|ocr_textfloat|ocr_caption|ocrx_word|ocrx_cinfo)'[^>]*)"
                       R"(title=['"](?:bbox|x_bboxes) (\d+) (\d+) (\d+) (\d+)[^>]*>([^<]*))"));
    std::vector<ReadLine> lines;
    auto matches = span.globalMatch(hocr);
    while (matches.hasNext()) {
        const QRegularExpressionMatch m = matches.next();
        const QString kind = m.captured(1);
        if (kind.startsWith("ocr_")) {
            lines.emplace_back();
        } else if (!lines.empty() && kind == "ocrx_word") {
            if (!lines.back().empty())
                lines.back().push_back({u' ', {}});
        } else if (!lines.empty()) {
            const QRectF box(m.captured(2).toDouble() / scale, m.captured(3).toDouble() / scale,
                             (m.captured(4).toDouble() - m.captured(2).toDouble()) / scale,
                             (m.captured(5).toDouble() - m.captured(3).toDouble()) / scale);
            QString text = m.captured(6);
            text.replace("&lt;", "<").replace("&gt;", ">").replace("&quot;", "\"").replace("&#39;", "'");
            text.replace("&amp;", "&");
            for (const QChar c : text)
                lines.back().push_back({c, box});
        }
    }
    return lines;
}

QString textOf(const std::vector<ReadLine>& lines) {
    QStringList out;
    for (const ReadLine& line : lines) {
        QString text;
        for (const ReadCharacter& read : line)
            text += read.c;
        out << text;
    }
    return out.join(u'\n');
}

// The characters of the line that reads most like `text` (blanks left out), each aligned with a character of it by
// the fewest edits, and of those the ones aligned with its characters from `from` on, `length` of them (all where
// negative); none where even that line needs edits for half the text's characters. A coloured bitmap face reads with
// many slips, and the other rows are further off still. A short piece of a secret is looked for with the words of its
// row around it: alone, a few digits read alike in the row above ("748" of "082 7748" for "8485").
std::vector<ReadCharacter> locate(const std::vector<ReadLine>& lines, const QString& text, qsizetype from = 0,
                                  qsizetype length = -1) {
    const QString wanted = QString(text).remove(u' ');
    const qsizetype n = wanted.size();
    if (length < 0)
        length = n - from;
    std::vector<ReadCharacter> best;
    qsizetype bestCost = n / 2 + 1;
    for (const ReadLine& line : lines) {
        ReadLine read;
        std::copy_if(line.begin(), line.end(), std::back_inserter(read),
                     [](const ReadCharacter& r) { return r.c != u' '; });
        const qsizetype m = qsizetype(read.size());
        // cost[i][j]: the first i characters of the text against the line's characters up to j, starting anywhere.
        std::vector<std::vector<qsizetype>> cost(size_t(n + 1), std::vector<qsizetype>(size_t(m + 1), 0));
        for (qsizetype i = 1; i <= n; ++i) {
            cost[size_t(i)][0] = i;
            for (qsizetype j = 1; j <= m; ++j)
                cost[size_t(i)][size_t(j)] =
                    std::min({cost[size_t(i - 1)][size_t(j - 1)] + (wanted[i - 1] == read[size_t(j - 1)].c ? 0 : 1),
                              cost[size_t(i - 1)][size_t(j)] + 1, cost[size_t(i)][size_t(j - 1)] + 1});
        }
        qsizetype end = 0;
        for (qsizetype j = 1; j <= m; ++j)
            if (cost[size_t(n)][size_t(end)] > cost[size_t(n)][size_t(j)])
                end = j;
        if (cost[size_t(n)][size_t(end)] >= bestCost)
            continue;
        bestCost = cost[size_t(n)][size_t(end)];
        best.clear();
        for (qsizetype i = n, j = end; i > 0 && j > 0;) {
            const qsizetype here = cost[size_t(i)][size_t(j)];
            if (here == cost[size_t(i - 1)][size_t(j - 1)] + (wanted[i - 1] == read[size_t(j - 1)].c ? 0 : 1)) {
                if (i - 1 >= from && i - 1 < from + length)
                    best.push_back(read[size_t(j - 1)]);
                --i, --j;
            } else if (here == cost[size_t(i - 1)][size_t(j)] + 1) {
                --i;
            } else {
                --j;
            }
        }
        std::reverse(best.begin(), best.end());
    }
    return best;
}

bool redactionInk(QRgb p) {
    return std::max({std::abs(qRed(p) - 20), std::abs(qGreen(p) - 20), std::abs(qBlue(p) - 20)}) <= 6;
}

// Whether the middle of a character's box is painted over in the redacted picture (the redaction's near-black,
// which no terminal here shows as its ground).
bool painted(const QImage& redacted, const QRectF& box) {
    const QRect inner =
        box.adjusted(box.width() / 4, box.height() / 4, -box.width() / 4, -box.height() / 4).toAlignedRect();
    int pixels = 0, dark = 0;
    for (int y = inner.top(); y <= inner.bottom(); ++y)
        for (int x = inner.left(); x <= inner.right(); ++x) {
            if (!redacted.rect().contains(x, y))
                continue;
            ++pixels;
            dark += redactionInk(redacted.pixel(x, y)) ? 1 : 0;
        }
    return pixels > 0 && dark >= pixels * 4 / 5;
}

// The runs of two or more characters left unpainted, joined by "|". A single character gives nothing away, and the
// command's box of a word's first or last character can stray by one; so can the box it gives a character at a
// word's end that it read run together with the next word, which spans both: such boxes are not looked at. Nor are
// the boxes it shrinks to a sliver where it read a word's first letters run together with the label before them
// ("KEY=AIza", its "A" and "I" boxed a third of a pixel wide on the label's "S_"): they tell nothing of where those
// letters stand.
QString unpaintedPart(const QImage& redacted, const std::vector<ReadCharacter>& secret) {
    std::vector<double> widths;
    for (const ReadCharacter& read : secret)
        widths.push_back(read.box.width());
    if (widths.empty())
        return {};
    std::nth_element(widths.begin(), widths.begin() + std::ptrdiff_t(widths.size() / 2), widths.end());
    const double usual = widths[widths.size() / 2];
    QStringList runs;
    QString run;
    for (const ReadCharacter& read : secret) {
        if (read.box.width() <= 1.8 * usual && read.box.width() >= usual / 3 && !painted(redacted, read.box)) {
            run += read.c;
            continue;
        }
        if (run.size() >= 2)
            runs << run;
        run.clear();
    }
    if (run.size() >= 2)
        runs << run;
    return runs.join(u'|');
}

// The boxes painted on the picture (its pixels turned the redaction's near-black) that touch none of the characters
// a secret was read from: each as its place and what the command read under it.
QStringList strayBoxes(const QImage& original, const QImage& redacted, const std::vector<ReadCharacter>& secrets,
                       const std::vector<ReadLine>& read, const QStringList& whole) {
    const QImage a = original.convertToFormat(QImage::Format_RGB32), b = redacted.convertToFormat(QImage::Format_RGB32);
    if (a.size() != b.size())
        return {QStringLiteral("the redacted picture is another size")};
    const int w = a.width(), h = a.height();
    std::vector<char> paint(size_t(w) * size_t(h), 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            paint[size_t(y) * size_t(w) + size_t(x)] = redactionInk(q) && !redactionInk(p) ? 1 : 0;
        }
    QStringList out;
    std::vector<int> stack;
    for (int start = 0; start < w * h; ++start) {
        if (paint[size_t(start)] != 1)
            continue;
        QRect box(start % w, start / w, 1, 1);
        int area = 0;
        stack.assign(1, start);
        paint[size_t(start)] = 2;
        while (!stack.empty()) {
            const int at = stack.back();
            stack.pop_back();
            ++area;
            const int x = at % w, y = at / w;
            box = box.united(QRect(x, y, 1, 1));
            for (const auto& [dx, dy] : {std::pair{1, 0}, std::pair{-1, 0}, std::pair{0, 1}, std::pair{0, -1}})
                if (x + dx >= 0 && x + dx < w && y + dy >= 0 && y + dy < h &&
                    paint[size_t(y + dy) * size_t(w) + size_t(x + dx)] == 1) {
                    paint[size_t(y + dy) * size_t(w) + size_t(x + dx)] = 2;
                    stack.push_back((y + dy) * w + x + dx);
                }
        }
        // A character's own dark dots under no box are not a box.
        if (area < 40 || box.height() < 6)
            continue;
        const bool onSecret = std::any_of(secrets.begin(), secrets.end(), [&](const ReadCharacter& c) {
            const QRectF middle =
                c.box.adjusted(c.box.width() / 4, c.box.height() / 4, -c.box.width() / 4, -c.box.height() / 4);
            return QRectF(box).intersects(middle);
        });
        if (onSecret)
            continue;
        QString under;
        for (const ReadLine& line : read)
            for (const ReadCharacter& c : line)
                if (c.c != u' ' && QRectF(box).intersects(c.box))
                    under += c.c;
        // A secret the alignment above missed (read with slips or in the other case, or cut by a wrap) still shows
        // under its box.
        const qsizetype stretch = std::min<qsizetype>(3, under.size());
        const bool onSomeSecret = stretch >= 2 && std::any_of(whole.begin(), whole.end(), [&](const QString& secret) {
                                      for (qsizetype i = 0; i + stretch <= under.size(); ++i)
                                          if (secret.contains(under.mid(i, stretch), Qt::CaseInsensitive))
                                              return true;
                                      return false;
                                  });
        if (onSomeSecret)
            continue;
        // Where the command reads nothing, a box on ink may still cover a secret it could not read; a box on bare
        // ground covers nothing.
        if (under.isEmpty()) {
            QMap<QRgb, int> shades;
            const QRect inside = box.intersected(a.rect());
            for (int y = inside.top(); y <= inside.bottom(); ++y)
                for (int x = inside.left(); x <= inside.right(); ++x)
                    ++shades[a.pixel(x, y)];
            int ground = 0;
            for (const int n : shades)
                ground = std::max(ground, n);
            if (ground < inside.width() * inside.height() * 95 / 100)
                continue;
        }
        out << QStringLiteral("%1,%2 %3x%4 over \"%5\"")
                   .arg(box.x())
                   .arg(box.y())
                   .arg(box.width())
                   .arg(box.height())
                   .arg(under);
    }
    return out;
}

// The rows of the picture a row of the table stands on, both of a wrap, as the reading before placed its words and
// its secret; empty where the reading has none of it.
QRectF rowBand(const std::vector<ReadLine>& read, const Row& row) {
    const QStringList parts = row.split > 0 ? QStringList{row.before.trimmed() + row.secret.left(row.split),
                                                          row.secret.mid(row.split) + row.after}
                                            : QStringList{row.before.trimmed() + row.secret + row.after};
    QRectF band;
    for (const QString& part : parts) {
        const std::vector<ReadCharacter> found = locate(read, part);
        std::vector<double> middles;
        double height = 0;
        for (const ReadCharacter& c : found)
            if (!c.box.isEmpty()) {
                middles.push_back(c.box.center().y());
                height = std::max(height, c.box.height());
            }
        if (middles.empty())
            continue;
        std::nth_element(middles.begin(), middles.begin() + std::ptrdiff_t(middles.size() / 2), middles.end());
        const QRectF here(0, middles[middles.size() / 2] - height / 2, 1, height);
        band = band.isEmpty() ? here : band.united(here);
    }
    return band;
}

// The lines read within a row of the band; every line where the band is unknown.
std::vector<ReadLine> nearRow(const std::vector<ReadLine>& lines, const QRectF& band) {
    std::vector<ReadLine> out;
    for (const ReadLine& line : lines) {
        QRectF box;
        for (const ReadCharacter& c : line)
            if (!c.box.isEmpty())
                box = box.isEmpty() ? c.box : box.united(c.box);
        const double middle = box.center().y();
        if (band.isEmpty() || (middle > band.top() - band.height() / 2 && middle < band.bottom() + band.height() / 2))
            out.push_back(line);
    }
    return out;
}

// What one window's redaction came to.
struct Outcome {
    int rows = 0, readBefore = 0, leaking = 0, stray = 0;
    bool unsureSaid = false;
};

class TerminalRedactE2E : public ::testing::Test {
protected:
    void SetUp() override {
        Desktop::Options o;
        o.tray = false;
        // Room for a hundred columns of a 28 px face, and for the rows of the wrapped layout in it.
        o.size = QSize(1920, 1600);
        desktop = std::make_unique<Desktop>(o);
        ASSERT_TRUE(desktop->ok()) << desktop->error().toStdString();
        desktop->run(QStringLiteral("xsetroot"), {QStringLiteral("-solid"), QStringLiteral("#5080c0")});
        desktop->startApp();
        ASSERT_TRUE(desktop->waitForApp()) << desktop->appStderr().toStdString();
    }
    Runner runner() {
        return [this](const QString& program, const QStringList& args) { return desktop->run(program, args); };
    }
    // The pill holds every tool in the default order, redact the eighth of the eleven before the format button.
    void clickRedact(quint32 card) {
        const QRect frame = desktop->windowGeometry(card);
        desktop->click(QPoint(frame.center().x() - 20, frame.bottom() + 1 - 22 - 18));
        Desktop::pause(300);
    }
    void closeCard(quint32 card) {
        desktop->moveTo(desktop->windowGeometry(card).center());
        Desktop::pause(200);
        desktop->key("Escape");
    }
    // What the tesseract command reads in a picture at three times its size (as `segmentation` if given).
    QString commandReads(const QImage& picture, const QString& segmentation = {}) {
        const QString big = desktop->folder("ocr") + "/big.png";
        picture.scaled(picture.size() * 3, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).save(big);
        int code = -1;
        const QStringList mode = segmentation.isEmpty() ? QStringList() : QStringList{"--psm", segmentation};
        // One thread: on a busy machine the engine's threads wait on each other for minutes.
        const QString read =
            desktop->run("env", QStringList{"OMP_THREAD_LIMIT=1", "tesseract", big, "stdout"} + mode, &code, 300000);
        EXPECT_EQ(code, 0);
        return read.simplified();
    }
    // The same as lines of characters with their boxes on the picture itself.
    std::vector<ReadLine> commandCharacters(const QImage& picture, const QString& segmentation = {}) {
        const QString big = desktop->folder("ocr") + "/big.png";
        picture.scaled(picture.size() * 3, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).save(big);
        int code = -1;
        const QStringList mode = segmentation.isEmpty() ? QStringList() : QStringList{"--psm", segmentation};
        const QString hocr =
            desktop->run("env",
                         QStringList{"OMP_THREAD_LIMIT=1", "tesseract", big, "stdout", "-c", "hocr_char_boxes=1"} +
                             mode + QStringList{"hocr"},
                         &code, 300000);
        EXPECT_EQ(code, 0);
        return hocrLines(hocr, 3);
    }
    // The message toast's words, read off the screen while it shows.
    QString toastWords() {
        QString words;
        Desktop::waitUntil(
            [&] {
                const quint32 toast = desktop->visibleWindow(QStringLiteral("^Pictolarium Toast$"));
                if (toast == 0)
                    return false;
                const QImage shown = desktop->screenshot().copy(desktop->windowGeometry(toast));
                words = commandReads(shown, "6");
                return words.contains(QLatin1String("redacted")) || words.contains(QLatin1String("Nothing"));
            },
            6000, 100);
        return words;
    }
    // Captures the window under the pointer as a card, redacts it there and reads the redacted file back with the
    // tesseract command at three times its size, as it lays the text out and as one block; a line of the report per
    // row, printed.
    Outcome redactUnderPointer(quint32 window, const QString& name, const std::vector<Row>& rows) {
        Outcome outcome;
        QStringList out;
        const auto captures = [&] {
            return QDir(desktop->shotsFolder()).entryList({"*.png"}, QDir::Files, QDir::Time);
        };
        const QStringList before = captures();
        desktop->moveTo(desktop->clientGeometry(window).center());
        Desktop::pause(800);
        desktop->key("super+shift+d");
        const quint32 card = desktop->waitVisible("^Pictolarium Card$");
        EXPECT_NE(card, 0u);
        QStringList made = captures();
        for (const QString& old : before)
            made.removeAll(old);
        EXPECT_EQ(made.size(), 1);
        if (card == 0 || made.size() != 1)
            return outcome;
        const QString capture = desktop->shotsFolder() + "/" + made.first();
        desktop->waitToast(false, 4000);
        clickRedact(card);
        const QString redacted = capture.chopped(4) + " redacted.png";
        const bool written = Desktop::waitUntil([&] { return QFileInfo::exists(redacted); }, 120000, 200);
        EXPECT_TRUE(written) << desktop->appStderr().toStdString();
        const QString toast = written ? toastWords() : QString();
        // Kept for a person to look at: the capture and what was written.
        for (const auto& [from, kept] :
             {std::pair{capture, QStringLiteral("capture")}, {redacted, QStringLiteral("written")}}) {
            // A copy fails where a file of that name is left from a run before.
            const QString to = Desktop::shotsDir() + QStringLiteral("/redact-%1-%2.png").arg(name, kept);
            QFile::remove(to);
            QFile::copy(from, to);
        }
        outcome.unsureSaid = toast.contains(QLatin1String("readable"));
        desktop->screenshot(Desktop::shotsDir() + QStringLiteral("/redact-%1.png").arg(name));
        if (written) {
            const QImage original(capture), result(redacted);
            const std::vector<ReadLine> read = commandCharacters(original);
            const QString readText = textOf(read).remove(u' ');
            std::vector<ReadLine> readAfter = commandCharacters(result);
            for (ReadLine& line : commandCharacters(result, "6"))
                readAfter.push_back(std::move(line));
            const QString after = textOf(readAfter).remove(u' ');
            std::vector<ReadCharacter> located;
            for (const Row& row : rows) {
                // Stretches the words around or other secrets hold too ("_live_") tell nothing of this one.
                QStringList pieces = TerminalScreens::pieces(row.secret);
                pieces.removeIf([&](const QString& piece) {
                    return std::any_of(rows.begin(), rows.end(), [&](const Row& other) {
                        return (&other != &row && QString(other.secret).remove(u' ').contains(piece)) ||
                               QString(other.before + other.after).remove(u' ').contains(piece);
                    });
                });
                const auto reads = [&](const QString& text) {
                    return std::any_of(pieces.begin(), pieces.end(),
                                       [&](const QString& p) { return text.contains(p); });
                };
                // A stretch of six characters can turn up in another row's reading by chance: only the rows this
                // secret stands on count, found by the whole row's words in the reading before.
                const QRectF band = rowBand(read, row);
                const QString text = textOf(nearRow(readAfter, band)).remove(u' ');
                const bool leaks = reads(text), seen = reads(readText);
                ++outcome.rows;
                outcome.readBefore += seen ? 1 : 0;
                EXPECT_FALSE(leaks) << row.kind << " in " << text.toStdString();
                // Covered in part, the rest of a secret is there for a person to read even where the command can't:
                // each of its characters that the reading before found must be painted over, on both rows of a wrap.
                QStringList uncovered;
                const QStringList parts = row.split > 0
                                              ? QStringList{row.secret.left(row.split), row.secret.mid(row.split)}
                                              : QStringList{row.secret};
                for (qsizetype p = 0; p < parts.size(); ++p) {
                    const qsizetype size = QString(parts[p]).remove(u' ').size();
                    if (size < 2)
                        continue;
                    // Only on its own rows: another row may read more like a part that reads badly here. With the
                    // words its row holds around it, which find it too where the command read it too badly to tell
                    // (red digits on dark): a box there is no box astray.
                    const QString before = p == 0 ? QString(row.before).remove(u' ') : QString();
                    const QString after = p + 1 == parts.size() ? row.after : QString();
                    const std::vector<ReadCharacter> found =
                        locate(nearRow(read, band), before + parts[p] + after, before.size(), size);
                    located.insert(located.end(), found.begin(), found.end());
                    // A few characters at a row's end give nothing away.
                    if (!seen || size < 4)
                        continue;
                    if (const QString missed = unpaintedPart(result, found); !missed.isEmpty())
                        uncovered << missed;
                }
                EXPECT_TRUE(uncovered.isEmpty())
                    << row.kind << ": " << uncovered.join(u'|').toStdString() << " not painted over";
                outcome.leaking += leaks || !uncovered.isEmpty() ? 1 : 0;
                out << QStringLiteral("%1 | %2%3 | %4")
                           .arg(name, row.kind, row.split ? QStringLiteral(" cut at %1").arg(row.split) : QString(),
                                leaks                  ? "leaks"
                                : !uncovered.isEmpty() ? "leaks (" + uncovered.join(u'|') + " uncovered)"
                                : seen                 ? "clean"
                                                       : "not readable even before");
            }
            // Each box lies on a secret's characters: one painted on the row below, or on the dots beside, covers
            // nothing and leaves the secret.
            QStringList secrets;
            for (const Row& row : rows)
                secrets << QString(row.secret).remove(u' ');
            const QStringList stray = strayBoxes(original, result, located, read, secrets);
            outcome.stray = int(stray.size());
            EXPECT_TRUE(stray.isEmpty()) << stray.join(u'\n').toStdString();
            for (const QString& box : stray)
                out << QStringLiteral("%1 | box on no secret | %2").arg(name, box);
            // A blank or cut capture reads almost nothing.
            EXPECT_GE(outcome.readBefore, outcome.rows / 3) << readText.toStdString();
            for (const char* word : {"Contact", "invoices", "weekends"})
                if (readText.contains(QLatin1String(word)))
                    EXPECT_TRUE(after.contains(QLatin1String(word))) << word << " in " << after.toStdString();
            // Something still reads: the toast says so.
            if (outcome.leaking > 0)
                EXPECT_TRUE(outcome.unsureSaid) << "toast: " << toast.toStdString();
        }
        closeCard(card);
        std::printf("%s\n", qPrintable(out.join(u'\n')));
        std::fflush(stdout);
        return outcome;
    }
    std::unique_ptr<Desktop> desktop;
};

} // namespace

TEST_F(TerminalRedactE2E, TerminalSecretsNoLongerReadOnceRedacted) {
    // A few windows; REDACT_TABLE=1 runs every face this machine has (REDACT_TABLE_SHARD=i/n a share of them, and
    // REDACT_TABLE_SEED other secrets), then a browser's pages.
    const bool table = qEnvironmentVariableIntValue("REDACT_TABLE") == 1;
    const std::vector<Face> faces = faceSpace(runner());
    // Between them a bitmap and an outline face, a bold one, each terminal, each shade and both layouts; each window
    // with the secrets it has in the whole table.
    std::vector<size_t> chosen =
        fewFaces(faces, {"xterm bitmap fixed semicondensed regular 12px reverse", "urxvt Hack bold 18px plain wrapped",
                         "vte Hack bold 14px coloured", "xterm Nimbus Mono PS regular 14px plain wrapped"});
    if (table) {
        chosen.resize(faces.size());
        std::iota(chosen.begin(), chosen.end(), size_t(0));
    }
    // REDACT_TABLE_LIST=1 names the windows of the whole table, and runs none.
    if (qEnvironmentVariableIntValue("REDACT_TABLE_LIST") == 1) {
        for (size_t i = 0; i < faces.size(); ++i)
            std::printf("%zu %s\n", i, qPrintable(faces[i].name()));
        return;
    }
    ASSERT_FALSE(chosen.empty());
    const QStringList shard = qEnvironmentVariable("REDACT_TABLE_SHARD").split(u'/');
    const int part = shard.size() == 2 ? shard[0].toInt() : 0, parts = shard.size() == 2 ? shard[1].toInt() : 1;
    const unsigned seed = unsigned(qEnvironmentVariableIntValue("REDACT_TABLE_SEED"));
    desktop->start("xterm", {"-geometry", "20x3+1500+1050", "-title", "other"});
    ASSERT_NE(desktop->waitVisible("^other$", true, 8000), 0u);
    QStringList summary;
    int windows = 0, leakingWindows = 0, cells = 0, leakingCells = 0, unsaid = 0;
    for (const size_t i : chosen) {
        if (parts > 1 && int(i % size_t(parts)) != part)
            continue;
        const Face& face = faces[i];
        const QString name = face.name();
        SCOPED_TRACE(name.toStdString());
        const int columns = face.wrapped ? 64 : 96;
        const std::vector<Row> rows = rowsFor(seed + unsigned(i) + 1, face.wrapped, columns);
        const int lines = int(rows.size()) +
                          int(std::count_if(rows.begin(), rows.end(), [](const Row& r) { return r.split > 0; })) + 3;
        const QString script = desktop->home() + "/secrets.sh";
        QFile file(script);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(TerminalScreens::script(rows, face.shade).toUtf8());
        file.close();
        QProcess* terminal = desktop->start(program(face), arguments(face, columns, lines, script));
        const quint32 window = desktop->waitVisible("^secrets$", true, 15000);
        ASSERT_NE(window, 0u) << program(face).toStdString();
        Desktop::pause(500);
        // A window cut by the screen's edge hides rows from the capture, and its secrets from both readings.
        const QRect frame = desktop->windowGeometry(window);
        EXPECT_TRUE(QRect(QPoint(0, 0), QSize(1920, 1600)).contains(frame))
            << frame.width() << "x" << frame.height() << "+" << frame.x() << "+" << frame.y();
        // Another window has the focus: the terminal's title bar in its inactive shade, its cursor hollow.
        desktop->xdotool({"search", "--name", "^other$", "windowactivate"});
        const Outcome o = redactUnderPointer(window, QString(name).replace(u'/', u'_'), rows);
        ++windows;
        leakingWindows += o.leaking + o.stray > 0 ? 1 : 0;
        cells += o.rows;
        leakingCells += o.leaking;
        unsaid += o.leaking > 0 && !o.unsureSaid ? 1 : 0;
        summary << QStringLiteral("%1 | read before %2/%3 | leaking %4 | stray boxes %5 | toast %6")
                       .arg(name)
                       .arg(o.readBefore)
                       .arg(o.rows)
                       .arg(o.leaking)
                       .arg(o.stray)
                       .arg(o.unsureSaid ? "unsure" : "sure");
        terminal->kill();
        desktop->waitVisible("^secrets$", false);
    }
    std::printf("%s\n%d windows, %d with a secret left or a box astray; %d of %d cells leaking; %d leaking windows "
                "without the warning\n",
                qPrintable(summary.join(u'\n')), windows, leakingWindows, leakingCells, cells, unsaid);
    std::fflush(stdout);
    if (!table || part != 0)
        return;
    const QString browser = QStandardPaths::findExecutable("chromium");
    if (browser.isEmpty())
        return;
    for (const bool dark : {false, true})
        for (const int zoom : {1, 2}) {
            const QString name = QStringLiteral("chromium %1 %2x").arg(dark ? "dark" : "light").arg(zoom);
            SCOPED_TRACE(name.toStdString());
            const std::vector<Row> rows = rowsFor(seed + 1000 + unsigned(zoom) * 2 + (dark ? 1 : 0), false, 1000);
            QFile html(desktop->home() + "/page.html");
            ASSERT_TRUE(html.open(QIODevice::WriteOnly | QIODevice::Truncate));
            QString body = QStringLiteral("<html><head><title>secrets</title></head><body style='font: 14px "
                                          "sans-serif; margin: 16px; background: %1; color: %2'>")
                               .arg(dark ? "#1f1f1f" : "#ffffff", dark ? "#e0e0e0" : "#202020");
            for (const Row& row : rows)
                body += "<div>" + row.before.toHtmlEscaped() +
                        (QString(row.kind) == "token in link" ? "<a href='#'>" + row.secret + "</a>"
                                                              : row.secret.toHtmlEscaped()) +
                        row.after.toHtmlEscaped() + "</div>";
            html.write(body.toUtf8());
            html.close();
            QProcess* chromium = desktop->start(browser, {"--no-sandbox", "--disable-gpu", "--no-first-run",
                                                          "--user-data-dir=" + desktop->home() + "/chromium",
                                                          QStringLiteral("--force-device-scale-factor=%1").arg(zoom),
                                                          "--window-size=1100,720", "--window-position=2,20",
                                                          "--app=file://" + html.fileName()});
            const quint32 window = desktop->waitVisible("^secrets$", true, 30000);
            ASSERT_NE(window, 0u);
            Desktop::pause(1500);
            desktop->xdotool({"search", "--name", "^other$", "windowactivate"});
            redactUnderPointer(window, name, rows);
            chromium->kill();
            desktop->waitVisible("^secrets$", false);
        }
}
