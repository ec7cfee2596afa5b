#include "PageFields.h"

#include "GlyphNames.h"

#define POINTERHOLDER_TRANSITION 4 // only the current qpdf interfaces
#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFAcroFormDocumentHelper.hh>
#include <qpdf/QPDFAnnotationObjectHelper.hh>
#include <qpdf/QPDFFormFieldObjectHelper.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>
#include <qpdf/QUtil.hh>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <exception>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace PageFields {

namespace {

bool isFreeText(QPDFObjectHandle annot) {
    return annot.getKey("/Subtype").isNameAndEquals("/FreeText");
}

bool hasAppearance(QPDFAnnotationObjectHelper& annot) {
    return annot.getAppearanceStream("/N").isStream();
}

// Widgets, and notes whose text the renderer would not draw: without an appearance of their own.
bool hasWork(QPDFPageObjectHelper& page) {
    for (QPDFAnnotationObjectHelper annot : page.getAnnotations()) {
        QPDFObjectHandle handle = annot.getObjectHandle();
        if (handle.getKey("/Subtype").isNameAndEquals("/Widget") || (isFreeText(handle) && !hasAppearance(annot)))
            return true;
    }
    return false;
}

// A text or choice field's value, where the field has a value and no appearance to show it by (as scripts that
// set a value leave it): its appearance made from the value, as viewers make it.
void makeValueAppearance(QPDFAcroFormDocumentHelper& form, QPDFAnnotationObjectHelper& annot) {
    if (hasAppearance(annot))
        return;
    QPDFFormFieldObjectHelper field = form.getFieldForAnnotation(annot);
    const std::string type = field.getFieldType();
    if ((type != "/Tx" && type != "/Ch") || field.getValueAsString().empty())
        return;
    field.generateAppearance(annot);
}

// The text a string of a content stream holds, in the document encoding: what it cannot show becomes "?".
std::string literal(const std::string& utf8) {
    std::string encoded;
    QUtil::utf8_to_pdf_doc(utf8, encoded, '?');
    std::string out = "(";
    for (const char c : encoded) {
        if (c == '(' || c == ')' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + ")";
}

// The size a default appearance ("0 g /Helv 10 Tf") asks for; 12 points when it asks for none or for a size
// that fits the box (0).
double fontSize(QPDFObjectHandle da) {
    double size = 0;
    if (da.isString()) {
        std::istringstream words(da.getUTF8Value());
        std::string word, before;
        while (words >> word) {
            if (word == "Tf")
                size = std::atof(before.c_str());
            before = word;
        }
    }
    return size > 0 && size < 500 ? size : 12;
}

// A note's text drawn into its rectangle in the size its default appearance asks for, line by line, each line
// broken where it would leave the rectangle, as far down as the rectangle reaches.
void makeNoteAppearance(QPDF& pdf, QPDFAnnotationObjectHelper& annot) {
    QPDFObjectHandle handle = annot.getObjectHandle();
    QPDFObjectHandle contents = handle.getKey("/Contents");
    if (hasAppearance(annot) || !contents.isString() || contents.getUTF8Value().empty() ||
        (annot.getFlags() & (an_invisible | an_hidden | an_no_view)))
        return;
    const QPDFObjectHandle::Rectangle rect = annot.getRect();
    const double width = std::abs(rect.urx - rect.llx), height = std::abs(rect.ury - rect.lly);
    if (width < 1 || height < 1)
        return;
    const double size = fontSize(handle.getKey("/DA")), leading = size * 1.15;
    // Helvetica's letters are about half as wide as its size.
    const size_t fits = std::max<size_t>(1, size_t((width - 4) / (size * 0.5)));
    std::vector<std::string> lines;
    std::istringstream paragraphs(contents.getUTF8Value());
    for (std::string paragraph; std::getline(paragraphs, paragraph);) {
        if (!paragraph.empty() && paragraph.back() == '\r')
            paragraph.pop_back();
        std::istringstream words(paragraph);
        std::string line;
        for (std::string word; words >> word;) {
            if (!line.empty() && line.size() + 1 + word.size() > fits) {
                lines.push_back(line);
                line.clear();
            }
            line += (line.empty() ? "" : " ") + word;
        }
        lines.push_back(line);
    }
    std::string drawing = "q BT /NoteFont " + QUtil::double_to_string(size) + " Tf 0 g 2 " +
                          QUtil::double_to_string(height - 2 - size) + " Td " + QUtil::double_to_string(leading) +
                          " TL\n";
    for (size_t i = 0; i < lines.size() && double(i) * leading < height; ++i)
        drawing += literal(lines[i]) + " '\n";
    drawing += "ET Q\n";
    QPDFObjectHandle look = QPDFObjectHandle::newStream(&pdf, drawing);
    QPDFObjectHandle dict = look.getDict();
    dict.replaceKey("/Type", QPDFObjectHandle::newName("/XObject"));
    dict.replaceKey("/Subtype", QPDFObjectHandle::newName("/Form"));
    dict.replaceKey("/BBox", QPDFObjectHandle::newFromRectangle({0, 0, width, height}));
    dict.replaceKey("/Resources",
                    QPDFObjectHandle::parse("<< /Font << /NoteFont << /Type /Font /Subtype /Type1 /BaseFont /Helvetica "
                                            "/Encoding /WinAnsiEncoding >> >> >>"));
    QPDFObjectHandle appearances = QPDFObjectHandle::newDictionary();
    appearances.replaceKey("/N", look);
    handle.replaceKey("/AP", appearances);
}

// An appearance made from a value is written out by a filter on its stream, which a copy that keeps every
// stream as stored would skip: its drawing made plain first.
void settle(QPDFObjectHandle look) {
    try {
        const auto data = look.getStreamData(qpdf_dl_generalized);
        look.replaceStreamData(std::string(reinterpret_cast<const char*>(data->getBuffer()), data->getSize()),
                               QPDFObjectHandle::newNull(), QPDFObjectHandle::newNull());
    } catch (const std::exception&) {
        // Left as it is stored: the renderer reads what it can of it.
    }
}

// The document read from memory into `pdf`, and its page; none when it has no such page. Throws as qpdf does.
std::optional<QPDFPageObjectHelper> pageOf(QPDF& pdf, const QByteArray& document, int page) {
    pdf.setSuppressWarnings(true);
    pdf.processMemoryFile("document", document.constData(), size_t(document.size()));
    std::vector<QPDFPageObjectHelper> pages = QPDFPageDocumentHelper(pdf).getAllPages();
    if (page < 0 || size_t(page) >= pages.size())
        return std::nullopt;
    return pages[size_t(page)];
}

} // namespace

int turn(const QByteArray& document, int page) {
    try {
        QPDF pdf;
        std::optional<QPDFPageObjectHelper> shown = pageOf(pdf, document, page);
        if (!shown)
            return 0;
        QPDFObjectHandle rotate = shown->getAttribute("/Rotate", false);
        if (!rotate.isInteger())
            return 0;
        // A turn of 45 or 100 is taken in whole quarters, as the renderer takes it; -90 is 270.
        const long long quarters = (rotate.getIntValue() / 90) % 4;
        return int((quarters + 4) % 4) * 90;
    } catch (const std::exception&) {
        return 0;
    }
}

QByteArray upright(const QByteArray& document, int page) {
    try {
        QPDF pdf;
        std::optional<QPDFPageObjectHelper> shown = pageOf(pdf, document, page);
        if (!shown)
            return {};
        QPDFObjectHandle rotate = shown->getAttribute("/Rotate", false);
        const bool turned = rotate.isInteger() && (rotate.getIntValue() / 90) % 4 != 0;
        if (!GlyphNames::mapLetters(*shown) && !turned)
            return {};
        shown->getObjectHandle().replaceKey("/Rotate", QPDFObjectHandle::newInteger(0));
        QPDFWriter writer(pdf);
        writer.setOutputMemory();
        writer.write();
        const std::shared_ptr<Buffer> buffer = writer.getBufferSharedPointer();
        return QByteArray(reinterpret_cast<const char*>(buffer->getBuffer()), qsizetype(buffer->getSize()));
    } catch (const std::exception&) {
        return {};
    }
}

QPointF origin(const QByteArray& document, int page) {
    try {
        QPDF pdf;
        std::optional<QPDFPageObjectHelper> shown = pageOf(pdf, document, page);
        if (!shown)
            return {};
        QPDFObjectHandle media = shown->getMediaBox(), crop = shown->getCropBox();
        if (!media.isRectangle())
            return {};
        const auto corner = [](const QPDFObjectHandle::Rectangle& r) {
            return QPointF(std::min(r.llx, r.urx), std::min(r.lly, r.ury));
        };
        const QPointF mediaCorner = corner(media.getArrayAsRectangle());
        if (!crop.isRectangle())
            return mediaCorner;
        // The renderer shows the part of the crop box that lies on the media box.
        const QPointF cropCorner = corner(crop.getArrayAsRectangle());
        return QPointF(std::max(mediaCorner.x(), cropCorner.x()), std::max(mediaCorner.y(), cropCorner.y()));
    } catch (const std::exception&) {
        return {};
    }
}

QByteArray drawn(const QByteArray& document, int page) {
    try {
        QPDF pdf;
        std::optional<QPDFPageObjectHelper> found = pageOf(pdf, document, page);
        if (!found || !hasWork(*found))
            return {};
        QPDFPageObjectHelper shown = *found;
        QPDFAcroFormDocumentHelper form(pdf);
        // Values whose look the viewer is asked to make: made here as a viewer would.
        form.generateAppearancesIfNeeded();
        bool notes = false;
        for (QPDFAnnotationObjectHelper annot : shown.getAnnotations()) {
            if (isFreeText(annot.getObjectHandle())) {
                notes = notes || !hasAppearance(annot);
                makeNoteAppearance(pdf, annot);
            } else if (annot.getSubtype() == "/Widget") {
                makeValueAppearance(form, annot);
            }
        }

        QPDFObjectHandle dict = shown.getObjectHandle();
        QPDFObjectHandle resources = shown.getAttribute("/Resources", true);
        if (!resources.isDictionary())
            resources = QPDFObjectHandle::newDictionary();
        // The page's own copy: others may share what it inherits.
        resources = resources.shallowCopy();
        dict.replaceKey("/Resources", resources);
        QPDFObjectHandle xobjects = resources.getKey("/XObject");
        xobjects = xobjects.isDictionary() ? xobjects.shallowCopy() : QPDFObjectHandle::newDictionary();
        resources.replaceKey("/XObject", xobjects);

        int rotate = 0;
        if (QPDFObjectHandle r = shown.getAttribute("/Rotate", false); r.isInteger())
            rotate = int(r.getIntValue() % 360);
        const int forbidden = an_invisible | an_hidden | an_no_view;
        std::string content;
        std::vector<QPDFObjectHandle> kept;
        int next = 1;
        for (QPDFAnnotationObjectHelper annot : shown.getAnnotations()) {
            QPDFObjectHandle handle = annot.getObjectHandle();
            if (annot.getSubtype() != "/Widget") {
                kept.push_back(handle);
                continue;
            }
            QPDFObjectHandle look = annot.getAppearanceStream("/N");
            if (!look.isStream())
                continue;
            settle(look);
            // The field's fonts and colours, where the appearance names them without holding them.
            QPDFObjectHandle own = look.getDict().getKey("/Resources");
            own = own.isDictionary() ? own.shallowCopy() : QPDFObjectHandle::newDictionary();
            own.mergeResources(form.getFieldForAnnotation(annot).getDefaultResources());
            look.getDict().replaceKey("/Resources", own);
            const std::string name = resources.getUniqueResourceName("/Fld", next);
            const std::string drawing = annot.getPageContentForAppearance(name, rotate, 0, forbidden);
            if (drawing.empty())
                continue;
            xobjects.replaceKey(name, look);
            ++next;
            content += drawing;
        }
        if (content.empty() && !notes)
            return {};
        dict.replaceKey("/Annots", QPDFObjectHandle::newArray(kept));
        if (!content.empty()) {
            shown.addPageContents(QPDFObjectHandle::newStream(&pdf, "q\n"), true);
            shown.addPageContents(QPDFObjectHandle::newStream(&pdf, "\nQ\n" + content), false);
        }

        QPDFWriter writer(pdf);
        writer.setOutputMemory();
        // Only the renderer in this process reads it.
        writer.setPreserveEncryption(false);
        writer.setCompressStreams(false);
        writer.setDecodeLevel(qpdf_dl_none);
        writer.write();
        const auto buffer = writer.getBufferSharedPointer();
        return QByteArray(reinterpret_cast<const char*>(buffer->getBuffer()), qsizetype(buffer->getSize()));
    } catch (const std::exception&) {
        return {};
    }
}

} // namespace PageFields
