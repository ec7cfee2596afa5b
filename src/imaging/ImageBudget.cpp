// How much memory one decoded picture may take: on its own so that the HEIC module shares it.

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

} // namespace ImageCodec
