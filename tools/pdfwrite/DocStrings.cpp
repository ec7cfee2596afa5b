#include "DocStrings.h"

#include <qpdf/Buffer.hh>

#include <algorithm>
#include <functional>
#include <set>

namespace DocStrings {

namespace {

// Given each string, returns what it should become.
using Edit = std::function<std::string(const std::string&)>;

constexpr int deepest = 200;
constexpr int mostEntries = 100'000;

void editString(QPDFObjectHandle dict, const char* key, const Edit& edit) {
    QPDFObjectHandle value = dict.getKey(key);
    if (!value.isString())
        return;
    const std::string text = value.getUTF8Value();
    const std::string edited = edit(text);
    if (edited != text)
        dict.replaceKey(key, QPDFObjectHandle::newUnicodeString(edited));
}

// Every entry of the outline, each once however its links run, down to a depth no real outline reaches.
void editOutline(QPDFObjectHandle item, const Edit& edit, std::set<QPDFObjGen>* seen, int depth) {
    for (; item.isDictionary() && depth < deepest && seen->size() < size_t(mostEntries); item = item.getKey("/Next")) {
        if (item.isIndirect() && !seen->insert(item.getObjGen()).second)
            return;
        editString(item, "/Title", edit);
        editOutline(item.getKey("/First"), edit, seen, depth + 1);
    }
}

// The XMP properties that hold the title, subject and keywords, as elements and, for the keywords, as an
// attribute of their description.
const char* const properties[] = {"dc:title", "dc:description", "dc:subject", "pdf:Keywords"};

// The text between markup within each property's element, and the value of the attribute form.
std::string editXmp(const std::string& xml, const Edit& edit) {
    std::string out = xml;
    for (const char* name : properties) {
        const std::string open = std::string("<") + name, close = std::string("</") + name + ">";
        for (size_t at = out.find(open); at != std::string::npos; at = out.find(open, at + 1)) {
            const size_t after = at + open.size();
            if (after >= out.size())
                break;
            const char next = out[after];
            // Another property whose name begins alike, or the attribute form (below).
            if (next != '>' && next != ' ' && next != '\t' && next != '\r' && next != '\n' && next != '/')
                continue;
            const size_t end = out.find(close, after);
            if (end == std::string::npos)
                break;
            // Text pieces between '>' and the next '<' inside the element.
            size_t piece = out.find('>', after);
            size_t stop = end;
            while (piece != std::string::npos && piece < stop) {
                const size_t nextTag = out.find('<', piece + 1);
                if (nextTag == std::string::npos || nextTag > stop)
                    break;
                const std::string text = out.substr(piece + 1, nextTag - piece - 1);
                const std::string edited = edit(text);
                if (edited != text) {
                    out.replace(piece + 1, text.size(), edited);
                    stop = stop - text.size() + edited.size();
                }
                piece = out.find('>', piece + 1 + edited.size());
            }
        }
        // The attribute form: pdf:Keywords="..." on a description.
        const std::string attribute = std::string(" ") + name + "=";
        for (size_t at = out.find(attribute); at != std::string::npos; at = out.find(attribute, at + 1)) {
            const size_t quote = at + attribute.size();
            if (quote >= out.size() || (out[quote] != '"' && out[quote] != '\''))
                continue;
            const size_t end = out.find(out[quote], quote + 1);
            if (end == std::string::npos)
                break;
            const std::string text = out.substr(quote + 1, end - quote - 1);
            const std::string edited = edit(text);
            if (edited != text)
                out.replace(quote + 1, text.size(), edited);
        }
    }
    return out;
}

void visit(QPDF& pdf, const Edit& edit) {
    QPDFObjectHandle info = pdf.getTrailer().getKey("/Info");
    if (info.isDictionary())
        for (const char* key : {"/Title", "/Subject", "/Keywords"})
            editString(info, key, edit);
    QPDFObjectHandle root = pdf.getRoot();
    QPDFObjectHandle outlines = root.getKey("/Outlines");
    if (outlines.isDictionary()) {
        std::set<QPDFObjGen> seen;
        editOutline(outlines.getKey("/First"), edit, &seen, 0);
    }
    QPDFObjectHandle metadata = root.getKey("/Metadata");
    if (metadata.isStream()) {
        std::string xml;
        try {
            const auto data = metadata.getStreamData(qpdf_dl_generalized);
            xml.assign(reinterpret_cast<const char*>(data->getBuffer()), data->getSize());
        } catch (const std::exception&) {
            // Metadata we cannot read holds nothing we could show or search.
            return;
        }
        const std::string edited = editXmp(xml, edit);
        if (edited != xml)
            metadata.replaceStreamData(edited, QPDFObjectHandle::newNull(), QPDFObjectHandle::newNull());
    }
}

} // namespace

std::vector<std::string> list(QPDF& pdf) {
    std::vector<std::string> found;
    visit(pdf, [&found](const std::string& text) {
        if (!text.empty())
            found.push_back(text);
        return text;
    });
    return found;
}

std::string without(std::string text, const std::vector<std::string>& secrets) {
    std::vector<std::string> longestFirst = secrets;
    std::stable_sort(longestFirst.begin(), longestFirst.end(),
                     [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
    for (const std::string& secret : longestFirst) {
        if (secret.empty())
            continue;
        for (size_t at = text.find(secret); at != std::string::npos; at = text.find(secret, at))
            text.erase(at, secret.size());
    }
    return text;
}

void remove(QPDF& pdf, const std::vector<std::string>& secrets) {
    if (secrets.empty())
        return;
    visit(pdf, [&secrets](const std::string& text) { return without(text, secrets); });
}

} // namespace DocStrings
