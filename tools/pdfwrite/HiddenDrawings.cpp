#include "HiddenDrawings.h"

#include <qpdf/Buffer.hh>
#include <qpdf/BufferInputSource.hh>
#include <qpdf/Pl_Buffer.hh>
#include <qpdf/QPDFAnnotationObjectHelper.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFTokenizer.hh>

#include <map>
#include <memory>
#include <set>

namespace HiddenDrawings {

namespace {

// Calls `token` with each token of a drawing, an inline image's samples skipped.
template <class Token> void eachToken(const std::string& drawing, Token&& token) {
    const auto input = std::make_shared<BufferInputSource>("drawing", drawing);
    QPDFTokenizer tokenizer;
    tokenizer.allowEOF();
    for (size_t n = 0; n < drawing.size() + 1; ++n) {
        const QPDFTokenizer::Token t = tokenizer.readToken(input, "drawing", true);
        if (t.getType() == QPDFTokenizer::tt_eof)
            return;
        if (t.getType() == QPDFTokenizer::tt_word && t.getValue() == "ID") {
            tokenizer.expectInlineImage(input);
            tokenizer.readToken(input, "drawing", true);
            continue;
        }
        token(t);
    }
}

// Whether a drawing (at any depth of the drawings it draws) holds one of the secrets: in its bytes, or in its
// strings read on one after the other, as a reader reads the pieces of a kerned word as one.
// `seen`: what each drawing asked about so far held, for drawings that many pages and looks share.
bool drawingHolds(QPDFObjectHandle drawing, const std::vector<std::string>& secrets, std::map<QPDFObjGen, bool>* seen,
                  int depth = 0) {
    if (!drawing.isStream() || depth > 8)
        return false;
    if (const auto known = seen->find(drawing.getObjGen()); known != seen->end())
        return known->second;
    // Not yet known to hold one, while it is read: a drawing that draws itself ends there.
    (*seen)[drawing.getObjGen()] = false;
    std::string data, text;
    try {
        const auto bytes = drawing.getStreamData(qpdf_dl_generalized);
        data.assign(reinterpret_cast<const char*>(bytes->getBuffer()), bytes->getSize());
        eachToken(data, [&text](const QPDFTokenizer::Token& t) {
            if (t.getType() == QPDFTokenizer::tt_string)
                text += QPDFObjectHandle::newString(t.getValue()).getUTF8Value();
        });
    } catch (const std::exception&) {
        // What cannot be read is searched as far as it was.
    }
    bool holds = false;
    for (const std::string& secret : secrets)
        holds = holds ||
                (!secret.empty() && (data.find(secret) != std::string::npos || text.find(secret) != std::string::npos));
    QPDFObjectHandle inner = drawing.getDict().getKey("/Resources").getKey("/XObject");
    if (inner.isDictionary())
        for (const std::string& key : inner.getKeys())
            holds = holds || (inner.getKey(key).getDict().getKey("/Subtype").isNameAndEquals("/Form") &&
                              drawingHolds(inner.getKey(key), secrets, seen, depth + 1));
    (*seen)[drawing.getObjGen()] = holds;
    return holds;
}

// The names a drawing draws by ("/Fm1 Do").
std::set<std::string> namesDrawn(const std::string& data) {
    std::set<std::string> drawn;
    std::string last;
    eachToken(data, [&](const QPDFTokenizer::Token& t) {
        if (t.getType() == QPDFTokenizer::tt_word && t.getValue() == "Do")
            drawn.insert(last);
        last = t.getType() == QPDFTokenizer::tt_name ? t.getValue() : std::string();
    });
    return drawn;
}

} // namespace

void drop(QPDF& pdf, const std::vector<std::string>& secrets) {
    bool fieldRedrawn = false;
    std::map<QPDFObjGen, bool> seen;
    std::map<QPDFObjGen, std::set<std::string>> formsDraw;
    for (QPDFPageObjectHelper page : QPDFPageDocumentHelper(pdf).getAllPages()) {
        for (QPDFAnnotationObjectHelper annot : page.getAnnotations()) {
            QPDFObjectHandle handle = annot.getObjectHandle(), looks = handle.getKey("/AP");
            if (!looks.isDictionary())
                continue;
            bool holds = false;
            for (const std::string& kind : looks.getKeys()) {
                QPDFObjectHandle look = looks.getKey(kind);
                if (look.isDictionary())
                    for (const std::string& state : look.getKeys())
                        holds = holds || drawingHolds(look.getKey(state), secrets, &seen);
                holds = holds || drawingHolds(look, secrets, &seen);
            }
            if (!holds)
                continue;
            handle.removeKey("/AP");
            fieldRedrawn = fieldRedrawn || handle.getKey("/Subtype").isNameAndEquals("/Widget");
        }
        QPDFObjectHandle resources = page.getAttribute("/Resources", false);
        QPDFObjectHandle forms = resources.isDictionary() ? resources.getKey("/XObject") : QPDFObjectHandle();
        if (!forms.isDictionary())
            continue;
        std::vector<std::string> hidden;
        for (const std::string& key : forms.getKeys())
            if (forms.getKey(key).isStream() &&
                forms.getKey(key).getDict().getKey("/Subtype").isNameAndEquals("/Form") &&
                drawingHolds(forms.getKey(key), secrets, &seen))
                hidden.push_back(key);
        if (hidden.empty())
            continue;
        // What the page draws, and what its drawings draw (one without resources of its own draws from the
        // page's).
        std::set<std::string> drawn;
        try {
            Pl_Buffer contents("contents");
            page.pipeContents(&contents);
            std::unique_ptr<Buffer> bytes(contents.getBuffer());
            drawn = namesDrawn(std::string(reinterpret_cast<const char*>(bytes->getBuffer()), bytes->getSize()));
            for (const std::string& key : forms.getKeys()) {
                QPDFObjectHandle form = forms.getKey(key);
                if (!form.isStream())
                    continue;
                auto names = formsDraw.find(form.getObjGen());
                if (names == formsDraw.end()) {
                    const auto data = form.getStreamData(qpdf_dl_generalized);
                    names = formsDraw
                                .emplace(form.getObjGen(),
                                         namesDrawn(std::string(reinterpret_cast<const char*>(data->getBuffer()),
                                                                data->getSize())))
                                .first;
                }
                drawn.insert(names->second.begin(), names->second.end());
            }
        } catch (const std::exception&) {
            // Contents we cannot read may draw any of them: all stay.
            continue;
        }
        // The page's own copies: other pages may share what it holds.
        QPDFObjectHandle own = page.getAttribute("/Resources", true).shallowCopy();
        QPDFObjectHandle ownForms = forms.shallowCopy();
        for (const std::string& key : hidden)
            if (!drawn.count(key))
                ownForms.removeKey(key);
        own.replaceKey("/XObject", ownForms);
        page.getObjectHandle().replaceKey("/Resources", own);
    }
    if (QPDFObjectHandle form = pdf.getRoot().getKey("/AcroForm"); fieldRedrawn && form.isDictionary())
        form.replaceKey("/NeedAppearances", QPDFObjectHandle::newBool(true));
}

} // namespace HiddenDrawings
