#include "editors/Transform.h"

#include "imaging/ImageCodec.h"

namespace Transform {

QTransform matrix(int turns, bool flipH, bool flipV) {
    QTransform m;
    m.rotate(90.0 * (((turns % 4) + 4) % 4));
    m.scale(flipH ? -1 : 1, flipV ? -1 : 1);
    return m;
}

QImage apply(const QImage& image, int turns, bool flipH, bool flipV) {
    if (image.isNull())
        return {};
    QImage mirrored = image.mirrored(flipH, flipV);
    // Quarter turns of a whole raster are exact: QImage turns them by moving pixels, not by resampling. The turned
    // copy comes back bare, so the colour space, resolution and texts are put back on it.
    switch (((turns % 4) + 4) % 4) {
    case 1:
        return ImageCodec::withDescriptionOf(mirrored.transformed(QTransform().rotate(90)), image);
    case 2:
        return ImageCodec::withDescriptionOf(mirrored.transformed(QTransform().rotate(180)), image);
    case 3:
        return ImageCodec::withDescriptionOf(mirrored.transformed(QTransform().rotate(270)), image);
    default:
        return ImageCodec::withDescriptionOf(mirrored, image);
    }
}

} // namespace Transform

namespace ImageConvert {

Replaced transform(const QUrl& url, int turns, bool flipH, bool flipV) {
    const std::optional<ImageFormat> format = ImageFormat::of(url);
    if (!format || *format == ImageFormat::pdf || !format->utType())
        throw ConvertError(QStringLiteral("Rotate works on images, not PDFs"));
    return remake(
        url,
        [&](const QImage& source) {
            QImage turned = Transform::apply(source, turns, flipH, flipV);
            const QSize expected = turns % 2 ? source.size().transposed() : source.size();
            if (turned.isNull() || turned.size() != expected)
                throw ConvertError(QStringLiteral("Can't rotate"));
            return turned;
        },
        QStringLiteral("rotated"));
}

} // namespace ImageConvert
