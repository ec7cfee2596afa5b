#pragma once

// What the decoding child and its parent agree on: the child's exit codes, the header before its pixels, the
// descriptors it writes to. Only the two halves of the isolated decode include this.

#include <QtGlobal>

namespace IsolatedDecode::Wire {

// PasswordNeeded: a PDF that opens only with a password we do not have. NoCodec: a picture whose codec is missing
// (the HEIC module); the output file holds the reason instead of pixels. NoPermission, LinkLoop, Gone: the source
// could not be opened, and why.
enum Exit {
    Ok = 0,
    Unreadable = 2,
    TooLarge = 3,
    NoPage = 4,
    NotRegular = 5,
    Usage = 6,
    Empty = 7,
    CopyFailed = 8,
    PasswordNeeded = 9,
    NoCodec = 10,
    NoPermission = 11,
    LinkLoop = 12,
    Gone = 13
};

struct Header {
    quint64 magic = 0;
    quint64 width = 0;
    quint64 height = 0;
    quint64 format = 0;
    quint64 bytesPerLine = 0;
    quint64 pageCount = 0;
    double pointsWidth = 0;
    double pointsHeight = 0;
    quint64 pageTurn = 0;
    // The page's text and boxes, after the pixels.
    quint64 textBytes = 0;
};
constexpr quint64 headerMagic = 0x31444f4345444950ULL; // "PIDECOD1"

// About what the child's libraries and heap take besides a picture's bytes and pixels.
constexpr qint64 childOwnMemory = qint64(64) << 20;

// No picture file we could decode within the limit is larger than this.
constexpr qint64 largestFile = qint64(1) << 30;

// Where the child finds its output and the copy.
constexpr int outDescriptor = 3, copyDescriptor = 4;

} // namespace IsolatedDecode::Wire
