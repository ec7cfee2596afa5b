// The vision module's side: recognition, codes, cut-outs and language detection behind the VisionModule calls.

#include "text/Barcodes.h"
#include "text/Cutout.h"
#include "text/OcrEngine.h"
#include "text/TextTurn.h"
#include "text/VisionModule.h"

#include <cld2/public/compact_lang_det.h>

namespace {

class Vision final : public VisionModule {
public:
    std::vector<TextVision::Line> recognise(const QImage& image, const TextVision::RecognitionOptions& options,
                                            QString* failure) override {
        try {
            return TextVision::recognise(image, options);
        } catch (const TextVision::RecognitionError& e) {
            *failure = e.message;
            return {};
        }
    }
    QString recognitionLanguages() override { return TextVision::recognitionLanguages(); }
    QString tesseractLanguages(const QStringList& uiLanguages, const QStringList& installed) override {
        return TextVision::tesseractLanguages(uiLanguages, installed);
    }
    int recognitionThreads() override { return TextVision::recognitionThreads(); }
    QStringList barcodePayloads(const QImage& image) override { return TextVision::barcodePayloads(image); }
    int textTurn(const QImage& image) override { return TextVision::textTurn(image); }

    QImage removeBackground(const QImage& image, QString* failure) override {
        try {
            return Cutout::removeBackground(image);
        } catch (const Cutout::Failure& e) {
            *failure = e.message;
            return {};
        }
    }
    QImage foregroundMask(const QImage& image, bool refine, QString* failure) override {
        try {
            return Cutout::foregroundMask(image, refine);
        } catch (const Cutout::Failure& e) {
            *failure = e.message;
            return {};
        }
    }

    QString detectLanguage(const QString& text) override {
        const QByteArray utf8 = text.toUtf8();
        bool reliable = false;
        const CLD2::Language found = CLD2::DetectLanguage(utf8.constData(), int(utf8.size()), true, &reliable);
        // CLD2 answers English for what it cannot tell; only a reliable answer counts.
        if (!reliable || found == CLD2::UNKNOWN_LANGUAGE)
            return {};
        const QString code = QString::fromLatin1(CLD2::LanguageCode(found));
        // CLD2's older codes, in the form the rest of the program uses.
        if (code == QLatin1String("zh"))
            return QStringLiteral("zh-Hans");
        if (code == QLatin1String("iw"))
            return QStringLiteral("he");
        if (code == QLatin1String("no"))
            return QStringLiteral("nb");
        return code;
    }
};

} // namespace

extern "C" Q_DECL_EXPORT VisionModule* pictolarium_vision_module(int version) {
    static Vision vision;
    return version == VisionModule::version ? &vision : nullptr;
}
