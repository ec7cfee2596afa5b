// The program's recognition, code reading, cut-outs and language detection: the vision module, loaded the
// first time one of them is asked for. Without the module each says so rather than failing quietly.

#include "platform/Modules.h"
#include "text/Barcodes.h"
#include "text/Cutout.h"
#include "text/Language.h"
#include "text/OcrEngine.h"
#include "text/TextTurn.h"
#include "text/VisionModule.h"

#include <cstdio>
#include <functional>

namespace {

QString& loadError() {
    static QString error;
    return error;
}

VisionModule* module() {
    static VisionModule* const loaded = []() -> VisionModule* {
        QString error;
        VisionModule* vision = Modules::load<VisionModule>(QStringLiteral(PICTOLARIUM_VISION_MODULE_FILE),
                                                           PICTOLARIUM_VISION_MODULE_ENTRY, &error);
        if (!vision) {
            std::fprintf(stderr,
                         "pictolarium: text recognition, code reading, background removal and language detection "
                         "are not available: %s\n",
                         qPrintable(error));
            loadError() = error;
        }
        return vision;
    }();
    return loaded;
}

} // namespace

namespace TextVision {

std::vector<Line> recognise(const QImage& image, const RecognitionOptions& options) {
    VisionModule* vision = module();
    if (!vision)
        throw RecognitionError(QStringLiteral("Text recognition is not available: %1").arg(loadError()));
    QString failure;
    std::vector<Line> lines = vision->recognise(image, options, &failure);
    if (!failure.isEmpty())
        throw RecognitionError(failure);
    return lines;
}

int textTurn(const QImage& image) {
    return module() ? module()->textTurn(image) : 0;
}

QString recognitionLanguages() {
    return module() ? module()->recognitionLanguages() : QString();
}

QString tesseractLanguages(const QStringList& uiLanguages, const QStringList& installed) {
    return module() ? module()->tesseractLanguages(uiLanguages, installed) : QString();
}

int recognitionThreads() {
    return module() ? module()->recognitionThreads() : 1;
}

QStringList barcodePayloads(const QImage& image) {
    return module() ? module()->barcodePayloads(image) : QStringList();
}

} // namespace TextVision

namespace Cutout {

namespace {

QImage cut(const std::function<QImage(VisionModule*, QString*)>& work) {
    VisionModule* vision = module();
    if (!vision)
        throw Failure(QStringLiteral("Background removal is not available: %1").arg(loadError()));
    QString failure;
    QImage result = work(vision, &failure);
    if (!failure.isEmpty())
        throw Failure(failure);
    return result;
}

} // namespace

QImage removeBackground(const QImage& image) {
    return cut([&](VisionModule* vision, QString* failure) { return vision->removeBackground(image, failure); });
}

QImage foregroundMask(const QImage& image, bool refine) {
    return cut([&](VisionModule* vision, QString* failure) { return vision->foregroundMask(image, refine, failure); });
}

} // namespace Cutout

std::optional<Language> Language::detect(const QString& text) {
    const QString identifier = module() ? module()->detectLanguage(text) : QString();
    if (identifier.isEmpty())
        return std::nullopt;
    Language language(identifier);
    if (!language.valid())
        return std::nullopt;
    return language;
}
