#include "text/Barcodes.h"

#include <QSet>
#include <ZXing/ReadBarcode.h>

namespace TextVision {

QStringList barcodePayloads(const QImage& image) {
    if (image.isNull())
        return {};
    try {
        const QImage grey = image.convertToFormat(QImage::Format_Grayscale8);
        const ZXing::ImageView view(grey.constBits(), grey.width(), grey.height(), ZXing::ImageFormat::Lum,
                                    int(grey.bytesPerLine()));
        ZXing::DecodeHints hints;
        hints.setTryHarder(true);
        hints.setTryRotate(true);
        QStringList payloads;
        QSet<QString> seen;
        for (const ZXing::Result& result : ZXing::ReadBarcodes(view, hints)) {
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

} // namespace TextVision
