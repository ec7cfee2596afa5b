#pragma once
// PDFs for the redaction tests, built and edited with qpdf, and what a reader finds in the written file.

#include "card/PDFSession.h"

#include <QColor>
#include <QTemporaryDir>

#include <functional>
#include <string>
#include <vector>

#define POINTERHOLDER_TRANSITION 4
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

namespace PdfDocs {

// Writes the document qpdf holds in place of the file at `path` it was read from.
void writtenOver(QPDF& pdf, const QString& path);

// A line a reader of the file reads though no picture of the page shows it: drawn in the page's own white, or in
// type too small to see.
struct Unseen {
    int page = -1;
    QColor ink;
    int pixelSize = 0;
    QString line;
};

// Pages of several lines each (`|` parts the lines), edited with qpdf afterwards.
QString pdfEdited(const QTemporaryDir& dir, const QStringList& pages,
                  const std::function<void(QPDF&, std::vector<QPDFPageObjectHelper>&)>& edit,
                  const Unseen& unseen = {});

QPDFObjectHandle made(QPDF& pdf, const std::string& text);
void addAnnotation(QPDFPageObjectHelper& page, QPDFObjectHandle annot);
// A text field holding `value` on the page, with no appearance: drawn by the viewer from its value.
void addBareField(QPDF& pdf, QPDFPageObjectHelper& page, const std::string& value, bool viewerDraws);
void setInfo(QPDF& pdf, const std::string& entries);
// `bytes` attached as "inner.pdf".
void attach(QPDF& pdf, const std::string& bytes);
// Updates the PDF at `path` in place, as editors that save quickly do: its details dictionary written again under
// its number and a cross reference for it appended, the old bytes left as they were.
void updateTitle(const QString& path, const std::string& title);
// The bytes of a one-page PDF drawing `contents` in `font`, with a title, and `attached` as an attached file;
// `letters`, when given, is the font's map from its codes to letters.
std::string pdfBytes(const std::string& contents, const std::string& title, const std::string& attached = {},
                     const std::string& font = "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
                     const std::string& letters = {});

// `text` (letters, spaces, "." and "@") drawn on the page in a font of drawn glyphs (blocks) that names each glyph,
// by its letter's name or, not `named`, by a number ("g64"), and says nothing else of its letters; its codes are its
// own (`first` for a space), no usual encoding's. `inDrawing`: drawn by a drawing (form) the page draws. Not `named`
// with a `first` other than 1, the glyphs are numbered from 1 ("g1" for a space) in the order of their codes, or with
// a `numbering` other than "g" by their codes ("a65" at 65).
void drawInGlyphs(QPDF& pdf, QPDFPageObjectHelper& page, const std::string& text, bool named, bool inDrawing = false,
                  int first = 1, const std::string& numbering = "g");

// Whether the file's bytes or qpdf's plain form of it hold the text, in a literal, in hex or as UTF-16; or those of
// a PDF it has attached. qpdf writes the document as it is now: only the bytes show revisions an update replaced.
bool fileHolds(const QString& path, const QString& text);
// How many dark pixels the page shows in the rectangle (in points from the page's lower left).
int darkIn(const PDFSession::Bitmap& page, QRectF points);
QString pageText(const QString& path, int page);

} // namespace PdfDocs
