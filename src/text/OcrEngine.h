#pragma once
// Text recognition on Tesseract: warm engines on worker threads read a picture in horizontal
// bands at once and hand back lines with per-character boxes.

#include "imaging/UserError.h"
#include "text/TextLine.h"

#include <QImage>
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
    QString languages;     // Tesseract languages ("eng+deu"); empty uses recognitionLanguages()
};

// The lines of text in the picture, band by band in the engine's order. Throws RecognitionError.
std::vector<Line> recognise(const QImage& image, const RecognitionOptions& options = {});

// The Tesseract language string in use, English first ("eng", "eng+deu").
QString recognitionLanguages();

// How many engines may read at once.
int recognitionThreads();

} // namespace TextVision
