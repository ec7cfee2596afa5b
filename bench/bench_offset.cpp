// How far a scroll frame moved, at 1080p and 2160p: the stitcher's offset search against a plain
// squeeze-and-match done with OpenCV (both frames squeezed to 64 grey columns, the top quarter of the
// new frame matched over the old one by summed squared differences), taken in turn in one process.

#include "ScrollPage.h"
#include "SideBySide.h"
#include "card/Stitcher.h"

#include "Quick.h"

#include <QImage>

#include <opencv2/imgproc.hpp>

#include <cstdio>
#include <random>

namespace {

cv::Mat squeezed(const QImage& frame) {
    const cv::Mat bgra(frame.height(), frame.width(), CV_8UC4, const_cast<uchar*>(frame.constBits()),
                       size_t(frame.bytesPerLine()));
    cv::Mat grey, narrow;
    cv::cvtColor(bgra, grey, cv::COLOR_BGRA2GRAY);
    cv::resize(grey, narrow, cv::Size(Stitcher::signatureWidth, frame.height()), 0, 0, cv::INTER_AREA);
    return narrow;
}

// The anchor: where the new frame's top quarter sits in the old frame.
int matchedOffset(const QImage& prev, const QImage& next) {
    const cv::Mat a = squeezed(prev), b = squeezed(next);
    const cv::Mat top = b.rowRange(0, b.rows / 4);
    cv::Mat scores;
    cv::matchTemplate(a, top, scores, cv::TM_SQDIFF);
    cv::Point at;
    cv::minMaxLoc(scores, nullptr, nullptr, &at, nullptr);
    return at.y;
}

} // namespace

int main() {
    for (const int height : {1080, 2160}) {
        if (Quick::on() && height > 1080)
            break;
        const int width = height * 16 / 9;
        const int scroll = height / 5;
        const QImage page = makePage(width, height * 2, 1);
        const QImage prev = page.copy(0, 0, width, height), next = page.copy(0, scroll, width, height);
        bool right = true;
        const SideBySide::Pair times = SideBySide::interleaved(
            25, [&] { right = right && Stitcher::newRows(prev, next) == scroll; },
            [&] { right = right && matchedOffset(prev, next) == scroll; });
        if (!right)
            std::printf("bench_offset: a wrong offset at %d rows\n", height);
        SideBySide::row("scroll frame offset, " + std::to_string(height) + "p", SideBySide::ms(times.ours),
                        SideBySide::ms(times.anchor) + " (OpenCV squeeze + match)", times.ours / times.anchor,
                        "<= 0.80", times.loadFrom, times.loadTo);
    }
    return 0;
}
