#include "HiddenDrawings.h"

#include <qpdf/Buffer.hh>
#include <qpdf/BufferInputSource.hh>
#include <qpdf/Pl_Buffer.hh>
#include <qpdf/QPDFAnnotationObjectHelper.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFTokenizer.hh>

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
bool drawingHolds(QPDFObjectHandle drawing, const std::vector<std::string>& secrets, int depth = 0) {
    if (!drawing.isStream() || depth > 8)
        return false;
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
    for (const std::string& secret : secrets)
        if (!secret.empty() && (data.find(secret) != std::string::npos || text.find(secret) != std::string::npos))
            return true;
    QPDFObjectHandle inner = drawing.getDict().getKey("/Resources").getKey("/XObject");
    if (inner.isDictionary())
        for (const std::string& key : inner.getKeys())
            if (inner.getKey(key).getDict().getKey("/Subtype").isNameAndEquals("/Form") &&
                drawingHolds(inner.getKey(key), secrets, depth + 1))
                return true;
    return false;
}

} // namespace

void drop(QPDF& pdf, const std::vector<std::string>& secrets) {
    bool fieldRedrawn = false;
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
                        holds = holds || drawingHolds(look.getKey(state), secrets);
                holds = holds || drawingHolds(look, secrets);
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
                drawingHolds(forms.getKey(key), secrets))
                hidden.push_back(key);
        if (hidden.empty())
            continue;
        // What the page draws, and what its drawings draw (one without resources of its own draws from the
        // page's).
        std::set<std::string> drawn;
        const auto draws = [&drawn](const std::string& data) {
            std::string last;
            eachToken(data, [&](const QPDFTokenizer::Token& t) {
                if (t.getType() == QPDFTokenizer::tt_word && t.getValue() == "Do")
                    drawn.insert(last);
                last = t.getType() == QPDFTokenizer::tt_name ? t.getValue() : std::string();
            });
        };
        try {
            Pl_Buffer contents("contents");
            page.pipeContents(&contents);
            std::unique_ptr<Buffer> bytes(contents.getBuffer());
            draws(std::string(reinterpret_cast<const char*>(bytes->getBuffer()), bytes->getSize()));
            for (const std::string& key : forms.getKeys())
                if (forms.getKey(key).isStream()) {
                    const auto data = forms.getKey(key).getStreamData(qpdf_dl_generalized);
                    draws(std::string(reinterpret_cast<const char*>(data->getBuffer()), data->getSize()));
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
