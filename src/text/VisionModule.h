#pragma once
// What the vision module (pictolarium-vision.so: recognition on Tesseract, codes on zxing-cpp, background
// removal on OpenCV, language detection on CLD2) offers the program. The program's TextVision, Cutout and
// Language::detect load it on first use and call through this. Failures the user is meant to read come back
// in `failure` rather than as exceptions, so that no exception type of ours has to cross into the program.

#include "text/OcrEngine.h"

#include <QImage>
#include <QString>
#include <QStringList>
#include <vector>

class VisionModule {
public:
    // Raised whenever the calls below or the types they pass change, so that a module of another build is
    // refused, not called.
    static constexpr int version = 3;

    virtual ~VisionModule() = default;

    // Empty with `failure` set where TextVision::recognise throws RecognitionError.
    virtual std::vector<TextVision::Line> recognise(const QImage& image, const TextVision::RecognitionOptions& options,
                                                    QString* failure) = 0;
    virtual QString recognitionLanguages() = 0;
    virtual QString tesseractLanguages(const QStringList& uiLanguages, const QStringList& installed) = 0;
    virtual int recognitionThreads() = 0;
    virtual QStringList barcodePayloads(const QImage& image) = 0;
    // TextVision::textTurn.
    virtual int textTurn(const QImage& image) = 0;

    // Null with `failure` set where Cutout throws Cutout::Failure.
    virtual QImage removeBackground(const QImage& image, QString* failure) = 0;
    virtual QImage foregroundMask(const QImage& image, bool refine, QString* failure) = 0;

    // The BCP 47 identifier of the text's language when CLD2 is sure of it; empty otherwise.
    virtual QString detectLanguage(const QString& text) = 0;
};

extern "C" {
// The module's entry point: its one VisionModule, or null when `version` is not the module's own.
using VisionModuleEntry = VisionModule* (*)(int version);
}
#define PICTOLARIUM_VISION_MODULE_FILE "pictolarium-vision.so"
#define PICTOLARIUM_VISION_MODULE_ENTRY "pictolarium_vision_module"
