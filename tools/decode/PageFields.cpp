#include "PageFields.h"

#define POINTERHOLDER_TRANSITION 4 // only the current qpdf interfaces
#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFAcroFormDocumentHelper.hh>
#include <qpdf/QPDFAnnotationObjectHelper.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <exception>
#include <string>
#include <vector>

namespace PageFields {

namespace {

bool hasWidget(QPDFPageObjectHelper& page) {
    QPDFObjectHandle annots = page.getObjectHandle().getKey("/Annots");
    if (!annots.isArray())
        return false;
    for (QPDFObjectHandle annot : annots.getArrayAsVector())
        if (annot.isDictionary() && annot.getKey("/Subtype").isNameAndEquals("/Widget"))
            return true;
    return false;
}

} // namespace

QByteArray drawn(const QByteArray& document, int page) {
    try {
        QPDF pdf;
        pdf.setSuppressWarnings(true);
        pdf.processMemoryFile("document", document.constData(), size_t(document.size()));
        std::vector<QPDFPageObjectHelper> pages = QPDFPageDocumentHelper(pdf).getAllPages();
        if (page < 0 || size_t(page) >= pages.size() || !hasWidget(pages[size_t(page)]))
            return {};
        QPDFPageObjectHelper shown = pages[size_t(page)];
        QPDFAcroFormDocumentHelper form(pdf);
        // Values whose look the viewer is asked to make: made here as a viewer would.
        form.generateAppearancesIfNeeded();

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
        if (content.empty())
            return {};
        dict.replaceKey("/Annots", QPDFObjectHandle::newArray(kept));
        shown.addPageContents(QPDFObjectHandle::newStream(&pdf, "q\n"), true);
        shown.addPageContents(QPDFObjectHandle::newStream(&pdf, "\nQ\n" + content), false);

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
