#pragma once
// Lines up the frames grabbed from a scrolling window and joins them into one tall picture.
// Frames are first compared through row signatures (64 grey samples per pixel row), which is cheap enough for
// every grab; how far a page moved is decided on whole pixel rows, where lines that differ in a digit or two
// are told apart. Geometry is in pixels of the frames.

#include <QImage>
#include <QList>
#include <QtGlobal>
#include <array>
#include <optional>
#include <vector>

namespace Stitcher {

inline constexpr int signatureWidth = 64;

// One pixel row squeezed (or stretched) to 64 grey samples, leftmost first.
using SignatureRow = std::array<quint8, signatureWidth>;
// One entry per pixel row, top row first. Empty stands for a signature that could not be computed.
using Signature = std::vector<SignatureRow>;
// One flag per signature column.
using ColumnFlags = std::array<bool, signatureWidth>;

// The stitched picture stays small enough to be written as PNG and read back: the reader refuses to
// allocate more than 2 GiB, and the PNG decoder more than a million rows.
inline constexpr qint64 maxStitchBytes = qint64(1) << 30;
inline constexpr qint64 maxStitchRows = 1'000'000;

// Each sample is the average luma of its band of pixels; transparent pixels count as black.
Signature signatures(const QImage& image);

// Whether a new frame differs enough from the last kept one to be kept too: about 40 rows are sampled, and
// the image form also counts the pixel rows that differ in the window's middle (a page moved by whole lines
// that differ in a digit or two barely changes its signature).
bool changed(const QImage& a, const QImage& b);
bool changed(const Signature& a, const Signature& b);

// Columns that stay the same, row for row, in both frames (a fixed sidebar, blank margins): they say
// nothing about how far the content moved. No flags when prev is empty.
ColumnFlags staticColumns(const Signature& prev, const Signature& next);

// How many pixel rows the content moved up from prev to next, which is the number of new rows next adds
// at its bottom. 0 when nothing moved; absent when the frames cannot be lined up. The image form decides on
// whole pixel rows, and is absent rather than a guess when no shift shows the page where it was.
std::optional<int> newRows(const QImage& prev, const QImage& next);
std::optional<int> newRows(const Signature& prev, const Signature& next);

// frames[0] whole, then downwards the bottom offsets[i] rows of frames[i + 1]. Frames of another size than
// the first are scaled to it. Offsets without a frame are ignored, and so are frames without an offset.
// Throws ConvertError "Can't stitch" when there is no frame or the picture cannot be made.
QImage stitch(const QList<QImage>& frames, const QList<int>& offsets);

// How many rows at the bottom of the frames are the window's own: rows that stand still while the page moves
// above them, whether what they show changes or not (the window's bottom edge, a pager's status line, an editor's
// mode line), as offsets[i] tells frames[i] from frames[i + 1]. Rows below the lowest row seen moving with the page
// in any pair count, and so do rows that are the same in every frame. Never so many that a frame's new rows would
// not fit above them, nor more than half a frame.
int stillBottomRows(const QList<QImage>& frames, const QList<int>& offsets);

// The frames joined as one page: as stitch(), but every frame is cut above its still bottom rows, and those rows
// end the picture once, from the last frame joined, instead of coming back under every strip. Each row of the
// page still comes from a frame that showed it, and once: rows cut from one frame show in the next one's strip.
QImage stitchPage(const QList<QImage>& frames, const QList<int>& offsets);

} // namespace Stitcher
