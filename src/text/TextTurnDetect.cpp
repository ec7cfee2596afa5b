// The vision module's side of textTurn: the engine's orientation detection on a grey copy of the picture.

#include "text/TextTurn.h"

#include <tesseract/baseapi.h>

#include <algorithm>
#include <memory>

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
        if (std::max(grey.width(), grey.height()) > largestSide)
            grey = grey.scaled(largestSide, largestSide, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        api.SetImage(grey.constBits(), grey.width(), grey.height(), 1, int(grey.bytesPerLine()));
        int degrees = 0;
        float sure = 0, scriptSure = 0;
        const char* script = nullptr;
        const bool found = api.DetectOrientationScript(&degrees, &sure, &script, &scriptSure);
        api.Clear();
        if (!found || sure < sureEnough)
            return 0;
        // The engine names how far the text is turned counter-clockwise; standing it up turns it back. Upside
        // down is not believed: the engine takes upright screen type for that, and surely (a bitmap terminal
        // face at 9 where a sideways page scores 4), while it tells lines that run up or down from lines that
        // run across well.
        const int turn = (360 - ((degrees % 360) + 360) % 360) % 360;
        return turn == 90 || turn == 270 ? turn : 0;
    }

private:
    tesseract::TessBaseAPI api;
    bool ok = false;
};

} // namespace

int textTurn(const QImage& image) {
    if (image.isNull() || std::min(image.width(), image.height()) < 32)
        return 0;
    thread_local Detector detector;
    return detector.turn(image);
}

} // namespace TextVision
