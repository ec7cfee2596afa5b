#pragma once
// Reading a picture: its text in reading order, its main text, word boxes, barcode payloads,
// sensitive data painted over, and a file name suggested by its text. Synchronous and stateless;
// callers run these off the UI thread.

#include "text/TextLine.h"

#include <QImage>
#include <QStringList>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

namespace TextVision {

// The recognised lines in the recogniser's order, boxes normalised with the origin at the lower
// left. Throws RecognitionError when recognition cannot run.
std::vector<Line> lines(const QImage& image);

// All text in reading order, blocks separated by a blank line; "" when there is none. `shownTurn`: the clockwise
// turn the picture is shown by (a PDF page's own turn), read turned back first.
QString text(const QImage& image, int shownTurn = 0);

// The text to translate: the dominant column of a long multi-column text, else all of it.
QString mainText(const QImage& image);

// Per line with words, the box of each word in pixels with the origin at the lower left.
// Empty when recognition fails.
std::vector<std::vector<QRectF>> wordBoxes(const QImage& image);

// The same from lines already recognised on a picture of the given pixel size.
std::vector<std::vector<QRectF>> wordBoxes(const std::vector<Line>& lines, QSize pixels);

// Distinct barcode and QR code payloads, in the order found; empty on failure.
QStringList codes(const QImage& image);

// The picture with sensitive data covered, and the covering boxes (normalised, origin lower
// left). Throws RecognitionError, or ConvertError "Can't draw".
std::pair<QImage, std::vector<QRectF>> redactWithBoxes(const QImage& image);

// The same, read again once painted and covered further while it reads as sensitive: `unsure` where
// something still reads so after the last covering, or where painting cannot cover it (it reads over
// paint), so that the caller does not claim the secrets are gone.
struct CheckedRedaction {
    QImage image;
    std::vector<QRectF> boxes;
    bool unsure = false;
    // The text of each secret the first reading found, once: a document also holds it elsewhere.
    QStringList secrets;
    // What the first reading read, line by line.
    QString text;
};
// `shownTurn` as for text(): the picture is read turned back first, and covered where it stands.
CheckedRedaction redactChecked(const QImage& image, int shownTurn = 0);
// The same with the reading given (recognise() with a careful scale, on each ground a see-through picture shows), and
// the other way the painted picture is read last (by its most telling channel, dark on light, larger); what that
// finds is covered and the result marked unsure.
CheckedRedaction redactChecked(const QImage& image, const std::function<std::vector<Line>(const QImage&)>& reader,
                               const std::function<std::vector<Line>(const QImage&)>& checker = {});

// The picture with each normalised box filled. Throws ConvertError "Can't draw".
QImage paint(const QImage& image, const std::vector<QRectF>& boxes);

// A file name made from the picture's most prominent text; nothing when there is none.
std::optional<QString> suggestedName(const QImage& image);

} // namespace TextVision
