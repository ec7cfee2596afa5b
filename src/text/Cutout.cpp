#include "text/Cutout.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <new>

namespace {

// grabCut is costly per pixel: it sees the picture at most this long, so its cost does not grow with the
// picture's size.
constexpr int segmentSide = 480;
// The edge-following filter is worked out at most this large and applied to every pixel of the picture.
constexpr double guideSide = 2048;
constexpr int iterations = 5;
// Below this share of the picture there is no subject, above it no background.
constexpr double leastShare = 0.005;
constexpr double mostShare = 0.97;

const QString noSubject = QStringLiteral("No clear subject found");
const QString cannotBuild = QStringLiteral("Couldn't build the cut-out");

// The picture's pixels as B, G, R, A bytes without a copy when it already is 32-bit.
QImage asArgb(const QImage& image) {
    if (image.format() == QImage::Format_ARGB32 || image.format() == QImage::Format_RGB32)
        return image;
    return image.convertToFormat(QImage::Format_ARGB32);
}

cv::Mat wrap(const QImage& argb) {
    return cv::Mat(argb.height(), argb.width(), CV_8UC4, const_cast<uchar*>(argb.constBits()),
                   size_t(argb.bytesPerLine()));
}

cv::Mat scaledTo(const cv::Mat& bgra, double scale) {
    if (scale >= 1.0)
        return bgra;
    cv::Mat out;
    const cv::Size size(std::max(1, int(std::lround(bgra.cols * scale))),
                        std::max(1, int(std::lround(bgra.rows * scale))));
    cv::resize(bgra, out, size, 0, 0, cv::INTER_AREA);
    return out;
}

// Foreground (1) and background (0) of the small copy, or empty when nothing stands out.
cv::Mat segment(const cv::Mat& bgra) {
    cv::Mat bgr;
    cv::cvtColor(bgra, bgr, cv::COLOR_BGRA2BGR);
    // A picture of one colour has nothing to cut out, and grabCut would make up a subject in it.
    cv::Scalar mean, deviation;
    cv::meanStdDev(bgr, mean, deviation);
    if (deviation[0] + deviation[1] + deviation[2] < 1.0)
        return {};

    // The border is the background's sample: a thin frame, so that subjects close to the edges stay.
    const int mx = std::max(1, bgr.cols / 40), my = std::max(1, bgr.rows / 40);
    const cv::Rect inner(mx, my, bgr.cols - 2 * mx, bgr.rows - 2 * my);
    if (inner.width < 2 || inner.height < 2)
        return {};
    cv::Mat mask(bgr.size(), CV_8UC1, cv::Scalar(cv::GC_BGD));
    cv::Mat bgModel, fgModel;
    // grabCut seeds its colour models with k-means on the thread's random generator: a fixed seed gives the
    // same picture the same cut every time.
    cv::theRNG() = cv::RNG(3);
    cv::grabCut(bgr, mask, inner, bgModel, fgModel, iterations, cv::GC_INIT_WITH_RECT);

    // A region fenced in by strong edges (a sidebar, a title bar, a block of text on the page) can come out
    // as foreground although its colour is the frame's own. Such pixels are handed back as probable
    // background and the cut is made once more with the models learnt so far.
    cv::Mat frameOnly(bgr.size(), CV_8UC1, cv::Scalar(255));
    frameOnly(inner).setTo(0);
    cv::Mat frameColours;
    bgr.copyTo(frameColours);
    cv::Mat quantised;
    frameColours.convertTo(quantised, CV_8UC3, 1.0 / 8.0);
    std::vector<int> seen(32 * 32 * 32, 0);
    int framePixels = 0;
    for (int y = 0; y < bgr.rows; ++y)
        for (int x = 0; x < bgr.cols; ++x)
            if (frameOnly.at<uchar>(y, x)) {
                const cv::Vec3b c = quantised.at<cv::Vec3b>(y, x);
                ++seen[size_t((c[0] & 31) << 10 | (c[1] & 31) << 5 | (c[2] & 31))];
                ++framePixels;
            }
    bool changed = false;
    for (int y = inner.y; y < inner.y + inner.height; ++y)
        for (int x = inner.x; x < inner.x + inner.width; ++x) {
            uchar& label = mask.at<uchar>(y, x);
            if (label != cv::GC_PR_FGD)
                continue;
            const cv::Vec3b c = quantised.at<cv::Vec3b>(y, x);
            // A colour that makes up at least 2 % of the frame is the background's.
            if (seen[size_t((c[0] & 31) << 10 | (c[1] & 31) << 5 | (c[2] & 31))] * 50 >= framePixels) {
                label = cv::GC_PR_BGD;
                changed = true;
            }
        }
    if (changed)
        cv::grabCut(bgr, mask, inner, bgModel, fgModel, 2, cv::GC_EVAL);
    cv::Mat fg = (mask == cv::GC_FGD) | (mask == cv::GC_PR_FGD);
    // Strokes a few pixels thin at this size (a line of text, a rule) belong to the page, not to a subject.
    cv::morphologyEx(fg, fg, cv::MORPH_OPEN, cv::getStructuringElement(cv::MORPH_ELLIPSE, cv::Size(5, 5)));

    // Everything inside the frame kept means grabCut found no difference to the border.
    const double share = double(cv::countNonZero(fg)) / double(fg.total());
    const double frameShare = double(inner.area()) / double(fg.total());
    if (share < leastShare || share > mostShare || share > frameShare * 0.995)
        return {};
    cv::Mat unit;
    fg.convertTo(unit, CV_32F, 1.0 / 255.0);
    return unit;
}

// Coefficients of a guided filter (per pixel: alpha = a · luma + b) worked out on the guide's grid.
void guidedCoefficients(const cv::Mat& guide, const cv::Mat& mask, int radius, double eps, cv::Mat& a, cv::Mat& b) {
    const cv::Size box(2 * radius + 1, 2 * radius + 1);
    auto mean = [&](const cv::Mat& m) {
        cv::Mat out;
        cv::boxFilter(m, out, CV_32F, box, cv::Point(-1, -1), true, cv::BORDER_REFLECT);
        return out;
    };
    const cv::Mat meanI = mean(guide), meanP = mean(mask);
    const cv::Mat varI = mean(guide.mul(guide)) - meanI.mul(meanI);
    const cv::Mat covIP = mean(guide.mul(mask)) - meanI.mul(meanP);
    a = covIP / (varI + eps);
    b = meanP - a.mul(meanI);
    a = mean(a);
    b = mean(b);
}

float lumaOf(QRgb pixel) {
    return (0.299f * float(qRed(pixel)) + 0.587f * float(qGreen(pixel)) + 0.114f * float(qBlue(pixel))) / 255.0f;
}

// Maps a refined coverage to bytes: the filter's slight spill on either side becomes fully clear or solid.
uchar toByte(float alpha) {
    const float stretched = (alpha - 0.15f) / 0.7f;
    return uchar(std::lround(std::clamp(stretched, 0.0f, 1.0f) * 255.0f));
}

// Interpolation positions of one axis from the full grid onto a smaller one.
struct Tap {
    int lo, hi;
    float t;
};
std::vector<Tap> taps(int full, int small) {
    std::vector<Tap> out(static_cast<size_t>(full));
    const double ratio = double(small) / double(full);
    for (int i = 0; i < full; ++i) {
        const double s = std::clamp((i + 0.5) * ratio - 0.5, 0.0, double(small - 1));
        const int lo = int(s);
        out[size_t(i)] = {lo, std::min(lo + 1, small - 1), float(s - lo)};
    }
    return out;
}

// One row of the coefficients, interpolated between the two rows of the smaller grid around it.
void blendRows(const cv::Mat& m, const Tap& y, std::vector<float>& out) {
    const float* r0 = m.ptr<float>(y.lo);
    const float* r1 = m.ptr<float>(y.hi);
    for (int i = 0; i < m.cols; ++i)
        out[size_t(i)] = r0[i] + (r1[i] - r0[i]) * y.t;
}

float across(const std::vector<float>& row, const Tap& x) {
    return row[size_t(x.lo)] + (row[size_t(x.hi)] - row[size_t(x.lo)]) * x.t;
}

QImage mask(const QImage& image, bool refine) {
    if (image.isNull() || image.width() < 8 || image.height() < 8)
        throw Cutout::Failure(noSubject);
    const QImage argb = asArgb(image);
    if (argb.isNull())
        throw Cutout::Failure(cannotBuild);
    const cv::Mat full = wrap(argb);
    const int longest = std::max(argb.width(), argb.height());

    const cv::Mat small = scaledTo(full, double(segmentSide) / longest);
    const cv::Mat coarse = segment(small);
    if (coarse.empty())
        throw Cutout::Failure(noSubject);

    QImage out(argb.size(), QImage::Format_Grayscale8);
    if (out.isNull())
        throw Cutout::Failure(cannotBuild);

    cv::Mat a, b;
    if (refine) {
        // The filter follows the picture's edges at (close to) full resolution; its window spans the
        // coarse mask's uncertainty, a few of its pixels scaled up.
        const cv::Mat guideBgra = scaledTo(full, guideSide / longest);
        cv::Mat gray, guide, p;
        cv::cvtColor(guideBgra, gray, cv::COLOR_BGRA2GRAY);
        gray.convertTo(guide, CV_32F, 1.0 / 255.0);
        cv::resize(coarse, p, guide.size(), 0, 0, cv::INTER_LINEAR);
        const double cell = double(guide.cols) / double(coarse.cols);
        const int radius = std::max(2, int(std::lround(cell * 3.5)));
        guidedCoefficients(guide, p, radius, 1e-2, a, b);
    } else {
        a = cv::Mat::zeros(coarse.size(), CV_32F);
        b = coarse;
    }

    const std::vector<Tap> xs = taps(argb.width(), a.cols);
    const std::vector<Tap> ys = taps(argb.height(), a.rows);
    std::vector<float> rowA(size_t(a.cols)), rowB(size_t(b.cols));
    for (int y = 0; y < argb.height(); ++y) {
        const QRgb* src = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
        uchar* dst = out.scanLine(y);
        blendRows(a, ys[size_t(y)], rowA);
        blendRows(b, ys[size_t(y)], rowB);
        for (int x = 0; x < argb.width(); ++x) {
            const Tap& tx = xs[size_t(x)];
            const float alpha = across(rowA, tx) * lumaOf(src[x]) + across(rowB, tx);
            dst[x] = refine ? toByte(alpha) : uchar(std::lround(std::clamp(alpha, 0.0f, 1.0f) * 255.0f));
        }
    }
    return out;
}

} // namespace

namespace Cutout {

QImage foregroundMask(const QImage& image, bool refine) {
    try {
        return mask(image, refine);
    } catch (const cv::Exception&) {
        throw Failure(cannotBuild);
    } catch (const std::bad_alloc&) {
        throw Failure(cannotBuild);
    }
}

QImage removeBackground(const QImage& image) {
    const QImage coverage = foregroundMask(image, true);
    QImage out = image.convertToFormat(QImage::Format_ARGB32);
    if (out.isNull())
        throw Failure(cannotBuild);
    for (int y = 0; y < out.height(); ++y) {
        QRgb* row = reinterpret_cast<QRgb*>(out.scanLine(y));
        const uchar* m = coverage.constScanLine(y);
        for (int x = 0; x < out.width(); ++x)
            row[x] = qRgba(qRed(row[x]), qGreen(row[x]), qBlue(row[x]), qAlpha(row[x]) * m[x] / 255);
    }
    return out;
}

} // namespace Cutout
