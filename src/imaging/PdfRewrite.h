#pragma once
// Putting pictures back into a PDF as whole pages. The program prepares each page (its pixels deflated, its
// size in points) and hands the list to the decoding child, which parses the document, swaps the pages and
// writes the new document to a file the program then renames over the old one. Parsing a file the user
// handed us happens in the child only, under its limits on time and memory.

#include <QByteArray>
#include <QImage>
#include <QString>

#include <vector>

namespace PdfRewrite {

struct Page {
    // Zero-based.
    int index = 0;
    int width = 0;
    int height = 0;
    double pointsWidth = 0;
    double pointsHeight = 0;
    // Flate-compressed: the RGB samples, and the alpha samples when the picture has any (else empty).
    QByteArray rgb;
    QByteArray mask;
};

// The picture as a page of its size at `pixelsPerPoint`, compressed on the calling thread.
Page page(int index, const QImage& picture, double pixelsPerPoint);

// The pages as the child reads them. False when the file can't be written.
bool save(const QString& path, const std::vector<Page>& pages);

enum class Outcome { Written, BadList, Unreadable, TooLarge, NoPage, WriteFailed };

// The child's side: the document at `source` with the listed pages replaced, each new page in front of the
// old one, which is removed, written to `target` (an existing empty file) and flushed to disk.
Outcome rewrite(const QString& source, const QString& listPath, const QString& target);

} // namespace PdfRewrite
