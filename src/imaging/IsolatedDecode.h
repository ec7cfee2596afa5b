#pragma once
// Decoding files a user hands us in a child process with limits on time and memory, so that no file can
// stall the program or keep its memory: a page with millions of drawing operations, a stream that inflates
// to gigabytes or a picture header promising more pixels than fit are refused with a reason in words. What the
// child writes for us has no name in any folder, so that nothing of a user's picture is left behind by an end
// that runs no clean-up (the display going away, a crash).

#include "imaging/ImageFormat.h"

#include <QByteArray>
#include <QImage>
#include <QObject>
#include <QRectF>
#include <QSizeF>
#include <QString>

#include <functional>
#include <memory>
#include <utility>
#include <vector>

class QProcess;
class UnnamedFile;

namespace IsolatedDecode {

// How long one decode may take and how much memory the child may allocate.
constexpr int timeLimitMs = 10'000;
constexpr qint64 memoryLimit = qint64(1536) * 1024 * 1024;
// Pictures of more pixels than this get no thumbnail: decoding one would take seconds for a small picture.
constexpr qint64 thumbnailPixelLimit = 64LL * 1000 * 1000;

struct Job {
    // A regular file; anything else is refused without being opened for long.
    QString source;
    // A PDF page instead of a picture.
    bool pdf = false;
    // The format the file claims: only its reader is used.
    ImageFormat format = ImageFormat::png;
    // The file claims none of our formats (a GIF, a BMP): whichever reader knows its first bytes reads it.
    bool byContent = false;
    // The zero-based page of a PDF.
    int page = 0;
    // When above 0: the picture, whatever its kind, reduced to at most this many pixels on its longer side (and
    // refused past thumbnailPixelLimit), so that only the small picture comes back.
    int thumbnail = 0;
    // When set: a folder on whose filesystem the exact bytes that were decoded are kept, in a file without a name
    // (Result::copy) that the caller names once it wants it.
    QString copyInto;
    // PDFs: the page's own text comes back too (Result::pageText), and the boxes of these ranges of it (start,
    // length) in Result::textBoxes.
    bool text = false;
    std::vector<std::pair<int, int>> textRanges;
    int timeLimitMs = IsolatedDecode::timeLimitMs;
    // When above 0: a picture of more pixels than this is refused as too large before this process holds any of
    // it; the child refuses it by its header before reading further, and by its decoded size before writing it.
    qint64 pixelLimit = 0;
};

struct Result {
    // Null on failure.
    QImage image;
    // Why, in words that follow "Can't open <name>: ".
    QString failure;
    // The failure is the limits' refusal (the picture too large, more memory or time than allowed), not a
    // broken file.
    bool tooLarge = false;
    // PDFs: the document's page count and this page's size in points.
    int pageCount = 0;
    QSizeF pagePoints;
    // PDFs: the clockwise turn (0, 90, 180 or 270) the page's own /Rotate shows it by; the picture is drawn turned
    // so, and its text stands upright once turned back.
    int pageTurn = 0;
    // PDFs: the text the page draws itself, as a reader copies it from the file (drawn in white or in a hair's size
    // too, which no picture shows), and the boxes of Job::textRanges in it: in the picture's pixels, from its top
    // left, each line of a range a box of its own.
    QString pageText;
    std::vector<QRectF> textBoxes;
    // The bytes that were decoded, when the job asked for them and the decode succeeded.
    std::shared_ptr<UnnamedFile> copy;
    bool ok() const { return !image.isNull(); }
};

// Runs the job and waits for it, at most timeLimitMs. For worker threads: it blocks.
Result run(const Job& job);

// Runs the job without blocking; `done` is called on the calling thread's event loop with the result, unless
// `context` was deleted first (the child is then killed).
void start(const Job& job, QObject* context, std::function<void(const Result&)> done);

// The decoding program; the one beside the running program unless a test names another.
void setProgram(const QString& path);

// The document with the form fields of page `page` drawn into its content, as viewers show them, or nothing when
// the page has none to draw (or the document is one the function cannot read). The PDF renderer draws a page's
// other annotations itself, but no field without a form environment of its own.
using FieldsDrawn = std::function<QByteArray(const QByteArray& document, int page)>;
// The clockwise turn page `page` is shown by (0, 90, 180 or 270).
using PageTurn = std::function<int(const QByteArray& document, int page)>;
// The document with page `page` made readable as it was set (not turned, its glyphs given letters); nothing when the
// page reads as it is or it cannot be made.
using PageUpright = std::function<QByteArray(const QByteArray& document, int page)>;
// The lower left corner, in the page's own space, of what page `page` shows (its crop box within its media box).
using PageOrigin = std::function<QPointF(const QByteArray& document, int page)>;

// The child's side: the whole of the decoding program's main().
int childMain(int argc, char** argv, FieldsDrawn fieldsDrawn = {}, PageTurn pageTurn = {}, PageUpright pageUpright = {},
              PageOrigin pageOrigin = {});

} // namespace IsolatedDecode
