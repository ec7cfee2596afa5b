#include "text/Barcodes.h"

#include <QSet>
#include <ZXing/ReadBarcode.h>

namespace TextVision {

namespace {

ZXing::Results read(const QImage& grey, const ZXing::DecodeHints& hints) {
    const ZXing::ImageView view(grey.constBits(), grey.width(), grey.height(), ZXing::ImageFormat::Lum,
                                int(grey.bytesPerLine()));
    return ZXing::ReadBarcodes(view, hints);
}

} // namespace

QStringList barcodePayloads(const QImage& image) {
    if (image.isNull())
        return {};
    try {
        QImage grey = image.convertToFormat(QImage::Format_Grayscale8);
        ZXing::DecodeHints hints;
        hints.setTryHarder(true);
        hints.setTryRotate(true);
        ZXing::Results results = read(grey, hints);
        if (results.empty()) {
            grey.invertPixels();
            results = read(grey, hints);
        }
        QStringList payloads;
        QSet<QString> seen;
        for (const ZXing::Result& result : results) {
            if (!result.isValid())
                continue;
            const QString payload = QString::fromStdString(result.text());
            if (payload.isEmpty() || seen.contains(payload))
                continue;
            seen.insert(payload);
            payloads << payload;
        }
        return payloads;
    } catch (const std::exception&) {
        return {};
    }
}

std::vector<QPolygon> codeAreas(const QImage& grey) {
    if (grey.isNull() || grey.format() != QImage::Format_Grayscale8)
        return {};
    try {
        ZXing::DecodeHints hints;
        hints.setFormats(ZXing::BarcodeFormat::QRCode | ZXing::BarcodeFormat::DataMatrix | ZXing::BarcodeFormat::Aztec |
                         ZXing::BarcodeFormat::PDF417);
        hints.setTryHarder(false);
        hints.setTryRotate(false);
        std::vector<QPolygon> out;
        for (const ZXing::Result& result : read(grey, hints)) {
            if (!result.isValid())
                continue;
            QPolygon area;
            for (const auto& corner : result.position())
                area << QPoint(corner.x, corner.y);
            out.push_back(area);
        }
        return out;
    } catch (const std::exception&) {
        return {};
    }
}

} // namespace TextVision
