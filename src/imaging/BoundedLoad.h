#pragma once
// A user's picture read for an action of the program's own (a copy, the newest screenshot, a card from the
// basket, an editor) the way an opened file is read: in the decoding child, under its limits on time and memory,
// refused in the same words, and never on the thread that answers the user. The PNG bytes the clipboard offers
// are made on a worker as well.

#include "imaging/ImageFormat.h"
#include "imaging/IsolatedDecode.h"

#include <QByteArray>
#include <QImage>
#include <QObject>
#include <QUrl>

#include <functional>
#include <optional>

namespace BoundedLoad {

// The reader a file goes through: told by its first bytes, so that any picture the decoders know loads whatever
// its name; by its name when its bytes say nothing. Nothing when neither tells (and for what is no regular file).
std::optional<ImageFormat> formatOf(const QString& path);

// Decodes the picture, upright (a PDF: its first page, as opening draws it), and calls `done` on this thread's
// event loop with the result, unless `context` went first: the child is killed then and `done` never runs. A
// picture of more than `pixelLimit` pixels (when above 0) is refused as too large before this process holds it.
void start(const QUrl& url, QObject* context, std::function<void(const IsolatedDecode::Result&)> done,
           qint64 pixelLimit = 0);

// The most pixels a copy's picture may have: it is held here and encoded for the clipboard, and a few hundred
// bytes of PNG may describe a gigabyte of pixels. A 48-megapixel photograph fits.
constexpr qint64 copyPixelLimit = 50LL * 1000 * 1000;

// The refusal in the words of opening: "Can't open <name>: <why>".
QString refusal(const QUrl& url, const IsolatedDecode::Result& result);

// The picture as PNG bytes, made on a worker; `done` runs on this thread's event loop unless `context` went
// first. Empty when it could not be encoded.
void encodePng(QImage image, QObject* context, std::function<void(const QByteArray&)> done);

// Whether the bytes are a PNG's: the file can be offered as it is.
bool isPng(const QByteArray& bytes);

// Whether the file is a whole PNG by its first and last bytes, without reading the rest, and its size. Blocks on
// the file: not for the thread that answers the user.
bool isWholePng(const QString& path, qint64* size = nullptr);

// The PNG bytes a copy offers for the picture decoded from `path`: the file's own when it is a whole PNG no larger
// than such a picture takes, else the picture encoded. Made on a worker; `done` runs on this thread's event loop unless
// `context` went first, with nothing when neither could be had.
void offeredPng(const QString& path, QImage image, QObject* context, std::function<void(const QByteArray&)> done);

} // namespace BoundedLoad
