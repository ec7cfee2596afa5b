#pragma once
// Text recognition on Tesseract: warm engines on worker threads read a picture in horizontal
// bands at once and hand back lines with per-character boxes.

#include "imaging/UserError.h"
#include "text/TextLine.h"

#include <QImage>
#include <QStringList>
#include <vector>

namespace TextVision {

// Recognition could not run (no language data, a picture that cannot be read).
class RecognitionError : public UserError {
public:
    using UserError::UserError;
};

// Overrides of the automatic choices, for tests and measurements.
struct RecognitionOptions {
    int bands = 0;         // 0 chooses by size and cores; 1 reads the picture whole
    std::vector<int> cuts; // band boundaries as picture rows, used as given
    double scale = 0;      // 0 chooses from the estimated text height
    // With scale 0, the height small text is enlarged to; 0 for the usual. A careful reading (of
    // secrets to cover) asks for more than the usual, where the engine is surest of each letter.
    double lineHeight = 0;
    QString languages; // Tesseract languages ("deu+eng"); empty uses recognitionLanguages()
    // When set, receives the rules painted out of the picture before reading (table borders, frames, rules
    // between columns), normalised like the lines' boxes: the layout still needs to know where they stood.
    std::vector<QRectF>* rules = nullptr;
};

// The lines of text in the picture, band by band in the engine's order. Throws RecognitionError.
std::vector<Line> recognise(const QImage& image, const RecognitionOptions& options = {});

// The Tesseract language string in use: the installed packs of the user's preferred languages,
// then English ("eng", "deu+eng").
QString recognitionLanguages();

// The same from a list of preferred languages (BCP 47 names) and the installed packs.
QString tesseractLanguages(const QStringList& uiLanguages, const QStringList& installed);

// How many engines may read at once.
int recognitionThreads();

} // namespace TextVision
