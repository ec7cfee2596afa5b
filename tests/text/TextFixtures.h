#pragma once
// Pictures of text drawn with Inter, with the text they hold, for recognition tests and benchmarks.

#include <QColor>
#include <QFont>
#include <QImage>
#include <QRect>
#include <QString>
#include <QStringList>

namespace TextFixtures {

// Registers the Inter face once; false when the font file is missing.
bool registerInter();

QFont inter(int pixelSize, int weight = QFont::Normal);

// Draws text on a canvas and keeps, for every piece drawn, where its ink stands.
class Canvas {
public:
    Canvas(QSize size, QColor background);

    // One line of text with its baseline box's top-left at (x, y); returns its tight pixel box.
    QRect line(int x, int y, const QString& text, const QFont& font, QColor colour);

    // Words wrapped to width, lineGap pixels between lines; returns the lines drawn.
    QStringList paragraph(QRect area, const QString& text, const QFont& font, QColor colour, int lineGap,
                          int* bottom = nullptr);

    // The pixel box of a substring of a line drawn by line().
    QRect substringBox(int x, int y, const QString& text, const QString& part, const QFont& font) const;

    void image(const QRect& where, const QImage& picture);

    QImage picture;
};

// Words wrapped to `width` as `metrics` (QFontMetrics or QFontMetricsF) measure them, as many to a line as fit.
template <class Metrics> QStringList wrapWords(const Metrics& metrics, const QString& words, qreal width) {
    QStringList lines;
    QString current;
    for (const QString& word : words.split(u' ', Qt::SkipEmptyParts)) {
        const QString tried = current.isEmpty() ? word : current + u' ' + word;
        if (!current.isEmpty() && metrics.horizontalAdvance(tried) > width) {
            lines << current;
            current = word;
        } else {
            current = tried;
        }
    }
    if (!current.isEmpty())
        lines << current;
    return lines;
}

// A QR code of the payload, black on white with a quiet zone, side pixels square.
QImage qrCode(const QString& payload, int side);

// Deterministic English-like prose of about the given number of words.
QString prose(int words, unsigned seed);

// A dense 1920 x 1080 screen: a title, a sidebar of grey labels and two columns of paragraphs.
// text is what the screen shows, in reading order.
struct Screen {
    QImage image;
    QString text;
};
Screen denseScreen(bool dark = false);

// A page of HTML as headless chromium draws it in a window of `size` CSS pixels at `scale` device
// pixels each; a null picture when chromium is not installed or draws nothing.
QImage webPage(const QString& html, QSize size, int scale = 1);

// Character error rate of got against want, white space runs counted as one space.
double characterErrorRate(const QString& want, const QString& got);

} // namespace TextFixtures
