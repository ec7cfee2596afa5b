#include "PdfDocs.h"

#include "CardFixtures.h"

#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPdfDocument>
#include <QPdfWriter>
#include <QProcess>

#include <qpdf/QPDFEmbeddedFileDocumentHelper.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <cctype>
#include <cstdio>

using namespace CardFixtures;

namespace PdfDocs {

void writtenOver(QPDF& pdf, const QString& path) {
    // The writer keeps the name it is given until it writes.
    const QByteArray written = QFile::encodeName(path + QStringLiteral(".new"));
    QPDFWriter writer(pdf, written.constData());
    writer.write();
    QFile::remove(path);
    QFile::rename(path + QStringLiteral(".new"), path);
}

QString pdfEdited(const QTemporaryDir& dir, const QStringList& pages,
                  const std::function<void(QPDF&, std::vector<QPDFPageObjectHelper>&)>& edit, const Unseen& unseen) {
    const QString path = pdfOf(dir, QStringLiteral("Doc.pdf"), pages);
    if (unseen.page >= 0) {
        QPdfWriter writer(path);
        writer.setPageSize(QPageSize(QPageSize::A5));
        writer.setResolution(72);
        QPainter painter(&writer);
        for (qsizetype i = 0; i < pages.size(); ++i) {
            if (i > 0)
                writer.newPage();
            QFont font(QStringLiteral("DejaVu Sans"));
            font.setPixelSize(16);
            painter.setFont(font);
            painter.setPen(Qt::black);
            const QStringList lines = pages[i].split(u'|');
            for (qsizetype l = 0; l < lines.size(); ++l)
                painter.drawText(30, int(60 + 30 * l), lines[l]);
            if (i == unseen.page) {
                font.setPixelSize(unseen.pixelSize);
                painter.setFont(font);
                painter.setPen(unseen.ink);
                painter.drawText(30, 400, unseen.line);
            }
        }
    }
    QPDF pdf;
    pdf.processFile(QFile::encodeName(path).constData());
    std::vector<QPDFPageObjectHelper> all = QPDFPageDocumentHelper(pdf).getAllPages();
    edit(pdf, all);
    writtenOver(pdf, path);
    return path;
}

QPDFObjectHandle made(QPDF& pdf, const std::string& text) {
    return pdf.makeIndirectObject(QPDFObjectHandle::parse(&pdf, text));
}

void addAnnotation(QPDFPageObjectHelper& page, QPDFObjectHandle annot) {
    QPDFObjectHandle annots = page.getObjectHandle().getKey("/Annots");
    if (!annots.isArray())
        annots = QPDFObjectHandle::newArray();
    annots.appendItem(annot);
    page.getObjectHandle().replaceKey("/Annots", annots);
}

void addBareField(QPDF& pdf, QPDFPageObjectHelper& page, const std::string& value, bool viewerDraws) {
    QPDFObjectHandle field = made(pdf, "<< /Type /Annot /Subtype /Widget /FT /Tx /T (card) /V (" + value +
                                           ") /DA (/Helv 14 Tf 0 g) /Rect [30 300 330 330] /F 4 /P " +
                                           page.getObjectHandle().unparse() + " >>");
    addAnnotation(page, field);
    pdf.getRoot().replaceKey(
        "/AcroForm",
        QPDFObjectHandle::parse(&pdf, "<< /Fields [" + field.unparse() +
                                          "] /DR << /Font << /Helv << /Type /Font /Subtype /Type1 /BaseFont "
                                          "/Helvetica >> >> >> /DA (/Helv 0 Tf 0 g)" +
                                          (viewerDraws ? " /NeedAppearances true" : "") + " >>"));
}

void setInfo(QPDF& pdf, const std::string& entries) {
    pdf.getTrailer().replaceKey("/Info", made(pdf, "<< " + entries + " >>"));
}

void attach(QPDF& pdf, const std::string& bytes) {
    QPDFEmbeddedFileDocumentHelper(pdf).replaceEmbeddedFile(
        "inner.pdf", QPDFFileSpecObjectHelper::createFileSpec(pdf, "inner.pdf",
                                                              QPDFEFStreamObjectHelper::createEFStream(pdf, bytes)));
}

void updateTitle(const QString& path, const std::string& title) {
    QPDF pdf;
    pdf.processFile(QFile::encodeName(path).constData());
    const int id = pdf.getTrailer().getKey("/Info").getObjectID();
    const int size = int(pdf.getTrailer().getKey("/Size").getIntValue());
    const std::string root = pdf.getRoot().unparse();
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    const QByteArray old = file.readAll();
    const qsizetype startxref = old.lastIndexOf("startxref");
    const long long prev = old.mid(startxref + 9).trimmed().split('\n').first().trimmed().toLongLong();
    const qint64 object = file.size() + 1;
    std::string update = "\n" + std::to_string(id) + " 0 obj\n<< /Title (" + title + ") >>\nendobj\n";
    const qint64 xref = file.size() + qint64(update.size());
    char entry[32];
    std::snprintf(entry, sizeof entry, "%010lld 00000 n \n", static_cast<long long>(object));
    update += "xref\n0 1\n0000000000 65535 f \n" + std::to_string(id) + " 1\n" + entry + "trailer\n<< /Size " +
              std::to_string(size) + " /Root " + root + " /Info " + std::to_string(id) + " 0 R /Prev " +
              std::to_string(prev) + " >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    file.write(update.data(), qint64(update.size()));
}

std::string pdfBytes(const std::string& contents, const std::string& title, const std::string& attached,
                     const std::string& font, const std::string& letters) {
    QPDF pdf;
    pdf.emptyPDF();
    QPDFObjectHandle fontObject = made(pdf, font);
    if (!letters.empty())
        fontObject.replaceKey("/ToUnicode", QPDFObjectHandle::newStream(&pdf, letters));
    QPDFObjectHandle page = made(pdf, "<< /Type /Page /MediaBox [0 0 420 595] /Resources << /Font << /F1 " +
                                          fontObject.unparse() + " >> >> >>");
    page.replaceKey("/Contents", QPDFObjectHandle::newStream(&pdf, contents));
    QPDFPageDocumentHelper(pdf).addPage(page, false);
    setInfo(pdf, "/Title (" + title + ")");
    if (!attached.empty())
        attach(pdf, attached);
    QPDFWriter writer(pdf);
    writer.setOutputMemory();
    writer.write();
    const std::shared_ptr<Buffer> bytes = writer.getBufferSharedPointer();
    return std::string(reinterpret_cast<const char*>(bytes->getBuffer()), bytes->getSize());
}

void drawInGlyphs(QPDF& pdf, QPDFPageObjectHelper& page, const std::string& text, bool named, bool inDrawing, int first,
                  const std::string& numbering) {
    QPDFObjectHandle block = QPDFObjectHandle::newStream(&pdf, "600 0 0 0 500 700 d1 0 0 500 700 re f");
    std::string differences, procs;
    for (int c = 32; c < 127; ++c) {
        const std::string name = !named            ? numbering + std::to_string(first == 1         ? c
                                                                                : numbering == "g" ? c - 31
                                                                                                   : c - 32 + first)
                                 : std::isalpha(c) ? std::string(1, char(c))
                                 : c == '.'        ? "period"
                                 : c == '@'        ? "at"
                                 : c == ' '        ? "space"
                                                   : "g" + std::to_string(c);
        differences += " /" + name;
        procs += " /" + name + " " + block.unparse();
    }
    QPDFObjectHandle font =
        made(pdf, "<< /Type /Font /Subtype /Type3 /FontBBox [0 0 600 700] /FontMatrix [0.001 0 0 "
                  "0.001 0 0] /FirstChar " +
                      std::to_string(first) + " /LastChar " + std::to_string(first + 94) + " /Widths [] /CharProcs <<" +
                      procs + " >> /Encoding << /Type /Encoding /Differences [" + std::to_string(first) + differences +
                      "] >> /Resources << >> >>");
    std::string widths;
    for (int i = 0; i < 95; ++i)
        widths += " 600";
    font.replaceKey("/Widths", QPDFObjectHandle::parse("[" + widths + "]"));
    QPDFObjectHandle resources = page.getAttribute("/Resources", true);
    // Codes of its own, as such fonts number their glyphs: read as letters of a usual encoding they say nothing.
    std::string codes;
    for (const char c : text)
        codes += char(c - 32 + first);
    const std::string shown = "BT /G3 14 Tf 30 300 Td " + QPDFObjectHandle::newString(codes).unparse() + " Tj ET";
    if (!inDrawing) {
        QPDFObjectHandle fonts = resources.getKey("/Font");
        fonts = fonts.isDictionary() ? fonts.shallowCopy() : QPDFObjectHandle::newDictionary();
        fonts.replaceKey("/G3", font);
        resources.replaceKey("/Font", fonts);
        page.addPageContents(QPDFObjectHandle::newStream(&pdf, shown), false);
        return;
    }
    QPDFObjectHandle drawing = QPDFObjectHandle::newStream(&pdf, shown);
    drawing.getDict().replaceKey("/Type", QPDFObjectHandle::newName("/XObject"));
    drawing.getDict().replaceKey("/Subtype", QPDFObjectHandle::newName("/Form"));
    drawing.getDict().replaceKey("/BBox", QPDFObjectHandle::parse("[0 0 420 595]"));
    drawing.getDict().replaceKey("/Resources",
                                 QPDFObjectHandle::parse(&pdf, "<< /Font << /G3 " + font.unparse() + " >> >>"));
    QPDFObjectHandle drawings = QPDFObjectHandle::newDictionary();
    drawings.replaceKey("/Gx", drawing);
    resources.replaceKey("/XObject", drawings);
    page.addPageContents(QPDFObjectHandle::newStream(&pdf, "q /Gx Do Q"), false);
}

bool fileHolds(const QString& path, const QString& text) {
    const QString qdf = path + QStringLiteral(".qdf");
    QProcess::execute(QStringLiteral("qpdf"), {"--qdf", "--object-streams=disable", path, qdf});
    QFile file(qdf);
    if (!file.open(QIODevice::ReadOnly))
        return true;
    QByteArray all = file.readAll();
    if (QFile raw(path); raw.open(QIODevice::ReadOnly))
        all += raw.readAll();
    QProcess attached;
    attached.start(QStringLiteral("qpdf"), {"--show-attachment=inner.pdf", path});
    attached.waitForFinished();
    if (const QByteArray inner = attached.readAllStandardOutput(); inner.startsWith("%PDF")) {
        QFile innerFile(path + QStringLiteral(".inner.pdf"));
        if (innerFile.open(QIODevice::WriteOnly) && innerFile.write(inner) == inner.size()) {
            innerFile.close();
            QProcess poppler;
            poppler.start(QStringLiteral("pdftotext"), {innerFile.fileName(), QStringLiteral("-")});
            poppler.waitForFinished();
            if (fileHolds(innerFile.fileName(), text) || poppler.readAllStandardOutput().contains(text.toUtf8()))
                return true;
        }
    }
    QByteArray wide;
    for (const QChar c : text)
        wide += char(c.unicode() >> 8), wide += char(c.unicode() & 0xFF);
    for (const QByteArray& bytes : {text.toUtf8(), wide})
        if (all.contains(bytes) || all.contains(bytes.toHex()) || all.contains(bytes.toHex().toUpper()))
            return true;
    return false;
}

int darkIn(const PDFSession::Bitmap& page, QRectF points) {
    const double s = page.pixelsPerPoint;
    const QRect pixels(int(points.left() * s), page.image.height() - int((points.top() + points.height()) * s),
                       int(points.width() * s), int(points.height() * s));
    int dark = 0;
    for (int y = pixels.top(); y <= pixels.bottom(); ++y)
        for (int x = pixels.left(); x <= pixels.right(); ++x)
            dark += page.image.rect().contains(x, y) && qGray(page.image.pixel(x, y)) < 128;
    return dark;
}

QString pageText(const QString& path, int page) {
    QPdfDocument doc;
    doc.load(path);
    return doc.getAllText(page).text();
}

} // namespace PdfDocs
