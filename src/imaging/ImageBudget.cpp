// How much memory one decoded picture may take, and how deep a picture is: on their own so that the HEIC module
// shares them.

#include "imaging/ImageCodec.h"

#include <QImageReader>

#include <limits>

namespace ImageCodec {

qint64 budgetBytes() {
    const int mb = QImageReader::allocationLimit();
    return mb <= 0 ? std::numeric_limits<qint64>::max() : qint64(mb) * 1024 * 1024;
}

bool fitsBudget(QSize size) {
    if (size.width() <= 0 || size.height() <= 0)
        return false;
    return qint64(size.width()) * qint64(size.height()) * 4 <= budgetBytes();
}

bool isDeep(const QImage& image) {
    switch (image.format()) {
    case QImage::Format_Grayscale16:
    case QImage::Format_BGR30:
    case QImage::Format_A2BGR30_Premultiplied:
    case QImage::Format_RGB30:
    case QImage::Format_A2RGB30_Premultiplied:
        return true;
    default:
        return image.depth() > 32;
    }
}

} // namespace ImageCodec
