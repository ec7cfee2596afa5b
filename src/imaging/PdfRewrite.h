#pragma once
// Putting pictures back into a PDF as whole pages. The program prepares each page (its pixels compressed, its
// size in points) and hands the list to the writer child, pictolarium-pdfwrite, which parses the document,
// swaps the pages and writes the new document to a file the program then renames over the old one. Parsing a
// file the user handed us happens in the child only, under its limits on time and memory.

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QStringList>

#include <optional>
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
    // The RGB bytes are a PNG file's image data as it stands: each row led by its filter byte.
    bool pngRows = false;
    // The picture covers something the page showed: the page keeps only its links within the document, and
    // no annotation or form field that could show it again.
    bool redacted = false;
};

// The picture as a page of its size at `pixelsPerPoint`, compressed on the calling thread.
Page page(int index, const QImage& picture, double pixelsPerPoint);

// The picture file as a page without decoding it, when it is a PNG file of opaque 8-bit RGB rows, not
// interlaced, with sound chunks and nothing that changes how its pixels load. Nothing otherwise: the caller
// then loads the picture and uses page(). write() checks that the rows inflate to exactly the picture.
std::optional<Page> pngPage(int index, const QString& path, double pixelsPerPoint);

// The pages and secrets as the child reads them. False when the file can't be written.
bool save(const QString& path, const std::vector<Page>& pages, const QStringList& secrets = {});

struct Result {
    // The new document is in the target, complete and flushed to disk.
    bool written = false;
    // Why not, in words that follow "Can't edit <name>: ".
    QString failure;
};

// Has the writer child put the pictures into the document at `source`, each on the page of its index in
// place of what that page showed (the page object stays, so whatever leads to the page still does), and write the whole
// new document to `target`, an existing empty file. `source` is never written. A page of PNG rows that do not inflate
// to exactly its picture fails the whole write, and the target then holds nothing of use. Blocks for up to
// `timeLimitMs`: for worker threads. Each of `secrets` is taken out of the words the document holds besides its
// pages (strings()) wherever it occurs there; with secrets, `pages` may be empty.
Result write(const QString& source, const std::vector<Page>& pages, const QString& target, int timeLimitMs,
             const QStringList& secrets = {});
// The same, into the open file `target` (a file without a name, given one once it is whole).
Result write(const QString& source, const std::vector<Page>& pages, int target, int timeLimitMs,
             const QStringList& secrets = {});

// The words the document at `source` holds besides its pages: every text string of its objects (information
// dictionary, outline, notes, form fields, destination names, page labels, …) and the text of its XMP metadata,
// each once, as the writer child reads them, those of attached PDFs too; `unread` says whether an attached PDF could
// not be read whole. Nothing, with *failure saying why, when it can't. Blocks for up to `timeLimitMs`.
std::optional<QStringList> strings(const QString& source, int timeLimitMs, QString* failure = nullptr,
                                   bool* unread = nullptr);

// The writer program; the one beside the running program unless a test names another.
void setProgram(const QString& path);

} // namespace PdfRewrite
