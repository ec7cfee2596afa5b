// Turning pictures and the boxes found on them.

#include "text/TextTurn.h"

#include <QTransform>

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace TextVision {

namespace {

// Of the rows (or, `across` false, the columns) between the first and the last that cross an edge of ink, the
// share that crosses none: the gaps between lines of text that run that way.
double quietShare(const QImage& grey, bool across) {
    const int lines = across ? grey.height() : grey.width(), length = across ? grey.width() : grey.height();
    const auto at = [&](int line, int i) { return across ? grey.constScanLine(line)[i] : grey.constScanLine(i)[line]; };
    std::vector<bool> edgy(size_t(lines), false);
    for (int line = 0; line < lines; ++line) {
        int edges = 0;
        for (int i = 1; i < length; ++i)
            edges += std::abs(int(at(line, i)) - int(at(line, i - 1))) > 48;
        // A rule or a frame's side crosses one or two edges; a line of type many.
        edgy[size_t(line)] = edges >= 4;
    }
    const auto first = std::find(edgy.begin(), edgy.end(), true);
    const auto last = std::find(edgy.rbegin(), edgy.rend(), true);
    if (first == edgy.end())
        return 0;
    const long span = long(edgy.rend() - last) - long(first - edgy.begin());
    const long quiet = std::count(first, last.base(), false);
    return span > 0 ? double(quiet) / double(span) : 0;
}

} // namespace

bool mayRunUpOrDown(const QImage& image) {
    if (image.isNull())
        return false;
    QImage grey = image.convertToFormat(QImage::Format_Grayscale8);
    if (std::max(grey.width(), grey.height()) > 1200)
        grey = grey.scaled(1200, 1200, Qt::KeepAspectRatio, Qt::FastTransformation);
    // Lines that run across leave rows between them that cross no ink; lines that run up or down, columns.
    return quietShare(grey, false) >= quietShare(grey, true);
}

QImage turned(const QImage& image, int degrees) {
    degrees = ((degrees % 360) + 360) % 360;
    return degrees == 0 ? image : image.transformed(QTransform().rotate(degrees));
}

QRectF unturned(const QRectF& box, int degrees) {
    degrees = ((degrees % 360) + 360) % 360;
    // Corners with the origin at the top left, each carried back by the opposite turn.
    const QPointF a(box.left(), 1 - box.bottom()), b(box.right(), 1 - box.top());
    const auto back = [degrees](QPointF p) {
        switch (degrees) {
        case 90:
            return QPointF(p.y(), 1 - p.x());
        case 180:
            return QPointF(1 - p.x(), 1 - p.y());
        case 270:
            return QPointF(1 - p.y(), p.x());
        default:
            return p;
        }
    };
    const QRectF topDown = QRectF(back(a), back(b)).normalized();
    return QRectF(topDown.left(), 1 - topDown.bottom(), topDown.width(), topDown.height());
}

} // namespace TextVision
