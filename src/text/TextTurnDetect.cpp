// The vision module's side of textTurn: the engine's orientation detection on a grey copy of the picture.

#include "text/TextTurn.h"

#include <tesseract/baseapi.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <optional>

namespace TextVision {

namespace {

// Less sure than this and the picture is taken as upright: a wrong turn would lose every line it holds.
constexpr float sureEnough = 2.0f;
// Larger pictures are looked at reduced: the way lines run shows at any size, and the detection's time
// grows with the pixels.
constexpr int largestSide = 1800;

class Detector {
public:
    Detector() {
        ok = api.Init(nullptr, "osd", tesseract::OEM_TESSERACT_ONLY) == 0;
        if (!ok)
            return;
        api.SetPageSegMode(tesseract::PSM_OSD_ONLY);
        api.SetVariable("debug_file", "/dev/null");
    }
    ~Detector() { api.End(); }

    int turn(const QImage& image) {
        if (!ok)
            return 0;
        QImage grey = image.convertToFormat(QImage::Format_Grayscale8);
        const bool large = std::max(grey.width(), grey.height()) > largestSide;
        if (large)
            grey = grey.scaled(largestSide, largestSide, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        std::optional<int> found = detect(grey);
        // Small type gives the detection too few letters it can tell; enlarged, the same lines give plenty.
        if (!found && !large)
            found = detect(grey.scaled(grey.size() * 2, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
        return found.value_or(0);
    }

private:
    // The turn, 0 for text taken to run across; nothing when the engine finds too little to tell.
    std::optional<int> detect(const QImage& grey) {
        api.SetImage(grey.constBits(), grey.width(), grey.height(), 1, int(grey.bytesPerLine()));
        int degrees = 0;
        float sure = 0, scriptSure = 0;
        const char* script = nullptr;
        const bool found = api.DetectOrientationScript(&degrees, &sure, &script, &scriptSure);
        api.Clear();
        if (!found)
            return std::nullopt;
        if (sure < sureEnough)
            return 0;
        // The engine names how far the text is turned counter-clockwise; standing it up turns it back. Upside
        // down is not believed: the engine takes upright screen type for that, and surely (a bitmap terminal
        // face at 9 where a sideways page scores 4), while it tells lines that run up or down from lines that
        // run across well.
        const int turn = (360 - ((degrees % 360) + 360) % 360) % 360;
        return turn == 90 || turn == 270 ? turn : 0;
    }

    tesseract::TessBaseAPI api;
    bool ok = false;
};

} // namespace

int textTurn(const QImage& image) {
    if (image.isNull() || std::min(image.width(), image.height()) < 32)
        return 0;
    // One for the program: a detection takes a fraction of a reading, and each engine holds its data.
    static std::mutex one;
    std::lock_guard guard(one);
    static Detector detector;
    return detector.turn(image);
}

} // namespace TextVision
