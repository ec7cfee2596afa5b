#include "DocStrings.h"

#include "AttachedPdfs.h"
#include "HiddenDrawings.h"

#include <qpdf/Buffer.hh>
#include <qpdf/QPDFNameTreeObjectHelper.hh>

#include <algorithm>
#include <cctype>
#include <functional>
#include <map>
#include <optional>
#include <set>

namespace DocStrings {

namespace {

// Given each string, returns what it should become.
using Edit = std::function<std::string(const std::string&)>;

constexpr int deepest = 200;
constexpr size_t mostNames = 1'000'000;

bool endsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Words, not bytes: a string marked as UTF-16 or UTF-8, or one in the document encoding without control bytes
// (but for the zero bytes that writers who think in C end their strings with). Identifiers, hashes and keys
// stored as strings are raw bytes, and nearly never free of them.
bool isText(std::string raw) {
    while (!raw.empty() && raw.back() == '\0')
        raw.pop_back();
    if (raw.empty())
        return false;
    const auto starts = [&raw](const char* mark) { return raw.rfind(mark, 0) == 0; };
    if (starts("\xFE\xFF") || starts("\xFF\xFE") || starts("\xEF\xBB\xBF"))
        return true;
    return std::all_of(raw.begin(), raw.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte >= 0x20 || c == '\t' || c == '\n' || c == '\r';
    });
}

// A date ("D:20240131120000+01'00'"): its digits would read as an account number.
bool isDate(const std::string& text) {
    return text.size() > 3 && text[0] == 'D' && text[1] == ':' && text[2] >= '0' && text[2] <= '9';
}

// A signature's own bytes (the signature and its certificates) stay. Its signer's name, contact, place and reason
// are words like any other: the document is written anew, so what the signature covered changes anyway.
bool isSignatureBytes(QPDFObjectHandle dict, const std::string& key) {
    return (key == "/Contents" || key == "/Cert") &&
           (dict.hasKey("/ByteRange") || dict.getKey("/Type").isNameAndEquals("/Sig"));
}

void appendUtf8(std::string& out, unsigned long code) {
    if (code < 0x80) {
        out += char(code);
    } else if (code < 0x800) {
        out += char(0xC0 | (code >> 6)), out += char(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += char(0xE0 | (code >> 12)), out += char(0x80 | ((code >> 6) & 0x3F)), out += char(0x80 | (code & 0x3F));
    } else {
        out += char(0xF0 | (code >> 18)), out += char(0x80 | ((code >> 12) & 0x3F));
        out += char(0x80 | ((code >> 6) & 0x3F)), out += char(0x80 | (code & 0x3F));
    }
}

// XML text with its character references and the five named entities read as the characters they stand for:
// "jane&#64;example.com" is the address a reader of the metadata sees.
std::string unescapeXml(const std::string& raw) {
    if (raw.find('&') == std::string::npos)
        return raw;
    static const std::pair<const char*, char> named[] = {
        {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
    std::string out;
    out.reserve(raw.size());
    for (size_t i = 0; i < raw.size(); ++i) {
        const size_t semi = raw[i] == '&' ? raw.find(';', i) : std::string::npos;
        if (semi == std::string::npos || semi - i > 10) {
            out += raw[i];
            continue;
        }
        const std::string name = raw.substr(i + 1, semi - i - 1);
        unsigned long code = 0;
        bool known = false;
        if (name.size() > 1 && name[0] == '#') {
            const bool hex = name[1] == 'x' || name[1] == 'X';
            const std::string digits = name.substr(hex ? 2 : 1);
            known = !digits.empty() && std::all_of(digits.begin(), digits.end(), [hex](char c) {
                return hex ? std::isxdigit(static_cast<unsigned char>(c)) : std::isdigit(static_cast<unsigned char>(c));
            });
            if (known)
                code = std::stoul(digits, nullptr, hex ? 16 : 10);
            known = known && code > 0 && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
        } else {
            for (const auto& [entity, c] : named)
                if (name == entity)
                    code = static_cast<unsigned char>(c), known = true;
        }
        if (!known) {
            out += raw[i];
            continue;
        }
        appendUtf8(out, code);
        i = semi;
    }
    return out;
}

std::string escapeXml(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&apos;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

// The text of XMP metadata, edited between its markup and in its attributes. Identifiers (a document's and its
// versions' IDs, what a description is about), languages and namespaces stay: they are no one's words.
std::string editXmp(const std::string& xml, const Edit& edit) {
    std::string out;
    out.reserve(xml.size());
    std::string element; // the element whose content the text that follows is
    // Edited as the characters it stands for; written back as it was stored when nothing of it changed.
    const auto editText = [&edit](const std::string& raw) {
        const std::string text = unescapeXml(raw);
        const std::string edited = edit(text);
        return edited == text ? raw : escapeXml(edited);
    };
    const auto copyThrough = [&](size_t at, const char* end) {
        size_t stop = xml.find(end, at);
        stop = stop == std::string::npos ? xml.size() : stop + std::char_traits<char>::length(end);
        out.append(xml, at, stop - at);
        return stop;
    };
    const auto kept = [](const std::string& name) {
        return name.rfind("xmlns", 0) == 0 || name == "rdf:about" || name == "xml:lang" || endsWith(name, "ID");
    };
    // Text and the comments within it up to the next other markup: a reader of the metadata reads the text around
    // a comment as one ("jo<!-- -->hn@example.com" is an address), and a comment's own words are words too. Where
    // the joined text or a comment changes, the comments go: they are no one's words.
    const auto textRun = [&](size_t from) {
        // The run as stored without its comments, and the characters it stands for: a CDATA section within it
        // is read on with the text around it ("jane@<![CDATA[example.com]]>" is an address too).
        std::string bare, text;
        bool commentChanged = false;
        size_t i = from;
        while (i < xml.size()) {
            if (xml.compare(i, 4, "<!--") == 0) {
                size_t end = xml.find("-->", i + 4);
                end = end == std::string::npos ? xml.size() : end;
                const std::string comment = xml.substr(i + 4, end - i - 4);
                commentChanged = commentChanged || edit(comment) != comment;
                i = std::min(xml.size(), end + 3);
                continue;
            }
            if (xml.compare(i, 9, "<![CDATA[") == 0) {
                size_t end = xml.find("]]>", i + 9);
                end = end == std::string::npos ? xml.size() : end;
                text.append(xml, i + 9, end - i - 9);
                const size_t stop = std::min(xml.size(), end + 3);
                bare.append(xml, i, stop - i);
                i = stop;
                continue;
            }
            if (xml[i] == '<')
                break;
            size_t next = xml.find('<', i);
            if (next == std::string::npos)
                next = xml.size();
            bare.append(xml, i, next - i);
            text += unescapeXml(xml.substr(i, next - i));
            i = next;
        }
        const std::string stored = xml.substr(from, i - from);
        const bool blank = text.find_first_not_of(" \t\r\n") == std::string::npos;
        if (kept(element) || blank)
            out += commentChanged ? bare : stored;
        else if (const std::string edited = edit(text); edited != text)
            out += escapeXml(edited);
        else
            out += commentChanged ? bare : stored;
        return i;
    };
    size_t at = 0;
    while (at < xml.size()) {
        if (xml[at] != '<' || xml.compare(at, 4, "<!--") == 0 || xml.compare(at, 9, "<![CDATA[") == 0) {
            at = textRun(at);
        } else if (xml.compare(at, 2, "<?") == 0) {
            at = copyThrough(at, "?>");
        } else if (xml.compare(at, 2, "</") == 0 || xml.compare(at, 2, "<!") == 0) {
            at = copyThrough(at, ">");
            element.clear();
        } else {
            // An element's tag: its name, then each attribute's name and quoted value.
            size_t i = at + 1;
            while (i < xml.size() && !std::isspace(static_cast<unsigned char>(xml[i])) && xml[i] != '>' &&
                   xml[i] != '/')
                ++i;
            element = xml.substr(at + 1, i - at - 1);
            out.append(xml, at, i - at);
            while (i < xml.size() && xml[i] != '>') {
                const size_t quote = xml.find_first_of("\"'>", i);
                if (quote == std::string::npos || xml[quote] == '>') {
                    out.append(xml, i, (quote == std::string::npos ? xml.size() : quote) - i);
                    i = quote == std::string::npos ? xml.size() : quote;
                    break;
                }
                const size_t end = xml.find(xml[quote], quote + 1);
                if (end == std::string::npos) {
                    out.append(xml, i, std::string::npos);
                    i = xml.size();
                    break;
                }
                // The attribute's name: the word before its '='.
                size_t nameEnd = quote;
                while (nameEnd > i &&
                       (xml[nameEnd - 1] == '=' || std::isspace(static_cast<unsigned char>(xml[nameEnd - 1]))))
                    --nameEnd;
                size_t nameStart = nameEnd;
                while (nameStart > i && !std::isspace(static_cast<unsigned char>(xml[nameStart - 1])))
                    --nameStart;
                const std::string name = xml.substr(nameStart, nameEnd - nameStart);
                const std::string value = xml.substr(quote + 1, end - quote - 1);
                out.append(xml, i, quote + 1 - i);
                out += kept(name) ? value : editText(value);
                out += xml[end];
                i = end + 1;
            }
            if (i < xml.size()) {
                // A tag that closes itself has no content.
                if (i > at && xml[i - 1] == '/')
                    element.clear();
                out += '>';
                ++i;
            }
            at = i;
        }
    }
    return out;
}

bool isMetadata(QPDFObjectHandle stream) {
    QPDFObjectHandle dict = stream.getDict();
    return dict.getKey("/Type").isNameAndEquals("/Metadata") || dict.getKey("/Subtype").isNameAndEquals("/XML");
}

// XMP may be written as UTF-16 (big- or little-endian; its packet's first mark tells which). Its text as UTF-8,
// and back; `bigEndian` is nothing for UTF-8.
std::optional<bool> utf16Order(const std::string& text) {
    if (text.size() < 2 || text.size() % 2 != 0)
        return std::nullopt;
    if (text[0] == '\0' && text[1] != '\0')
        return true;
    if (text[0] != '\0' && text[1] == '\0')
        return false;
    if (text.rfind("\xFE\xFF", 0) == 0)
        return true;
    if (text.rfind("\xFF\xFE", 0) == 0)
        return false;
    return std::nullopt;
}

std::string fromUtf16(const std::string& text, bool bigEndian) {
    std::string out;
    for (size_t i = 0; i + 1 < text.size(); i += 2) {
        const auto unit = [&](size_t at) {
            const auto hi = static_cast<unsigned char>(text[bigEndian ? at : at + 1]);
            const auto lo = static_cast<unsigned char>(text[bigEndian ? at + 1 : at]);
            return (unsigned long)(hi << 8 | lo);
        };
        unsigned long code = unit(i);
        if (code >= 0xD800 && code < 0xDC00 && i + 3 < text.size()) {
            const unsigned long low = unit(i + 2);
            if (low >= 0xDC00 && low < 0xE000) {
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        appendUtf8(out, code);
    }
    return out;
}

std::string toUtf16(const std::string& text, bool bigEndian) {
    std::string out;
    const auto put = [&](unsigned long unit) {
        const char hi = char(unit >> 8), lo = char(unit & 0xFF);
        out += bigEndian ? hi : lo;
        out += bigEndian ? lo : hi;
    };
    for (size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        unsigned long code = extra == 0 ? c : c & (0x3F >> extra);
        for (int k = 1; k <= extra && i + size_t(k) < text.size(); ++k)
            code = code << 6 | (static_cast<unsigned char>(text[i + size_t(k)]) & 0x3F);
        i += size_t(extra) + 1;
        if (code >= 0x10000) {
            put(0xD800 + ((code - 0x10000) >> 10));
            put(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            put(code);
        }
    }
    return out;
}

// The text of XMP metadata (`xml`), of a script or of an attached file; true when it changed.
bool editStreamText(QPDFObjectHandle stream, const Edit& edit, bool xml) {
    std::string text;
    try {
        const auto data = stream.getStreamData(qpdf_dl_specialized);
        text.assign(reinterpret_cast<const char*>(data->getBuffer()), data->getSize());
    } catch (const std::exception&) {
        // Text we cannot read holds nothing we could show or search.
        return false;
    }
    // An attached note saved as UTF-16 is read as its characters, as the metadata is: its bytes alone hold no
    // address whole.
    const std::optional<bool> wide = utf16Order(text);
    if (wide)
        text = fromUtf16(text, *wide);
    if (!xml && !isText(wide && text.rfind("\xEF\xBB\xBF", 0) == 0 ? text.substr(3) : text))
        return false;
    const std::string edited = xml ? editXmp(text, edit) : edit(text);
    if (edited == text)
        return false;
    stream.replaceStreamData(wide ? toUtf16(edited, *wide) : edited, QPDFObjectHandle::newNull(),
                             QPDFObjectHandle::newNull());
    return true;
}

bool isAttachment(QPDFObjectHandle stream) {
    return stream.getDict().getKey("/Type").isNameAndEquals("/EmbeddedFile");
}

// An attached file of text whose words changed: its size follows, and the checksum of the old bytes goes.
void attachmentChanged(QPDFObjectHandle stream) {
    QPDFObjectHandle params = stream.getDict().getKey("/Params");
    if (!params.isDictionary())
        return;
    params.removeKey("/CheckSum");
    try {
        params.replaceKey("/Size", QPDFObjectHandle::newInteger(
                                       static_cast<long long>(stream.getStreamData(qpdf_dl_none)->getSize())));
    } catch (const std::exception&) {
        params.removeKey("/Size");
    }
}

// Its bytes as whoever opens it reads them: through every filter that gives them back whole (run lengths too).
std::optional<std::string> attachedBytes(QPDFObjectHandle stream) {
    try {
        const auto data = stream.getStreamData(qpdf_dl_specialized);
        return std::string(reinterpret_cast<const char*>(data->getBuffer()), data->getSize());
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

void visit(QPDF& pdf, const Edit& edit, int nesting, bool* unread);

// An attached PDF: its words are edited as this document's are, and it is written anew when they changed. One
// nested too deep, too large or unreadable is left as it is, and `unread` says so.
void editAttachedPdf(QPDFObjectHandle stream, const std::string& bytes, const Edit& edit, int nesting, bool* unread) {
    if (nesting >= AttachedPdfs::deepest || bytes.size() > AttachedPdfs::largest) {
        *unread = true;
        return;
    }
    const std::unique_ptr<QPDF> inner = AttachedPdfs::open(bytes);
    if (!inner) {
        *unread = true;
        return;
    }
    bool changed = false;
    const Edit tracked = [&](const std::string& text) {
        std::string edited = edit(text);
        changed = changed || edited != text;
        return edited;
    };
    bool readable = true;
    try {
        visit(*inner, tracked, nesting + 1, unread);
        AttachedPdfs::editShown(*inner, tracked, &readable);
        // What an earlier revision of it holds stays in its bytes until it is written anew: a secret found there
        // is listed, and makes the whole of it written again.
        bool older = false;
        for (const size_t end : AttachedPdfs::earlierRevisions(bytes, &older)) {
            if (changed)
                break;
            const std::unique_ptr<QPDF> earlier = AttachedPdfs::open(bytes.substr(0, end));
            bool ignored = true;
            if (earlier) {
                visit(*earlier, tracked, nesting + 1, &ignored);
                AttachedPdfs::editShown(*earlier, tracked, &ignored);
            }
        }
        // Older ones are not read, and stay unless it is written anew.
        if (older && !changed)
            *unread = true;
        if (changed) {
            stream.replaceStreamData(AttachedPdfs::written(*inner), QPDFObjectHandle::newNull(),
                                     QPDFObjectHandle::newNull());
            attachmentChanged(stream);
        }
    } catch (const std::exception&) {
        readable = false;
    }
    if (!readable)
        *unread = true;
}

// What a string becomes; nothing when it stays as it is stored. A note's rich text is XML: its words are also
// edited as the characters its references stand for.
std::optional<QPDFObjectHandle> editedString(QPDFObjectHandle string, const Edit& edit, bool rich = false) {
    if (!isText(string.getStringValue()))
        return std::nullopt;
    const std::string text = string.getUTF8Value();
    if (isDate(text))
        return std::nullopt;
    const std::string edited = edit(rich && text.rfind('<', 0) == 0 ? editXmp(text, edit) : text);
    if (edited == text)
        return std::nullopt;
    return QPDFObjectHandle::newUnicodeString(edited);
}

// The strings held directly by an object, in its arrays and dictionaries at any depth. What it refers to is
// an object of its own, visited as such.
void editWithin(QPDFObjectHandle object, const Edit& edit, int depth) {
    if (depth > deepest)
        return;
    if (object.isArray()) {
        const int n = object.getArrayNItems();
        for (int i = 0; i < n; ++i) {
            QPDFObjectHandle item = object.getArrayItem(i);
            if (item.isIndirect())
                continue;
            if (item.isString()) {
                if (std::optional<QPDFObjectHandle> edited = editedString(item, edit))
                    object.setArrayItem(i, *edited);
            } else {
                editWithin(item, edit, depth + 1);
            }
        }
    } else if (object.isDictionary()) {
        for (const std::string& key : object.getKeys()) {
            QPDFObjectHandle value = object.getKey(key);
            if (value.isIndirect() || isSignatureBytes(object, key))
                continue;
            if (value.isString()) {
                if (std::optional<QPDFObjectHandle> edited = editedString(value, edit, key == "/RC" || key == "/RV"))
                    object.replaceKey(key, *edited);
            } else {
                editWithin(value, edit, depth + 1);
            }
        }
    }
}

// The name trees of the catalogue's name dictionary (destinations, attached files, scripts, …).
std::map<std::string, QPDFObjectHandle> nameTrees(QPDF& pdf) {
    std::map<std::string, QPDFObjectHandle> trees;
    QPDFObjectHandle names = pdf.getRoot().getKey("/Names");
    if (names.isDictionary())
        for (const std::string& key : names.getKeys())
            if (names.getKey(key).isDictionary())
                trees.emplace(key, names.getKey(key));
    return trees;
}

std::vector<std::string> namesOf(QPDFObjectHandle tree, QPDF& pdf) {
    std::vector<std::string> out;
    try {
        const QPDFNameTreeObjectHelper helper(tree, pdf, false);
        for (auto entry = helper.begin(); entry != helper.end() && out.size() < mostNames; ++entry)
            out.push_back(entry->first);
    } catch (const std::exception&) {
        // A tree we cannot walk is left as it is.
    }
    return out;
}

// What an annotation's or a field's appearance draws: its text, value, choices and caption, also those it takes
// from the fields above it (a note's pop-up shows its note's text).
std::string shownText(QPDFObjectHandle dict) {
    std::string out;
    try {
        for (int depth = 0; dict.isDictionary() && depth < 32; ++depth, dict = dict.getKey("/Parent"))
            for (const char* key : {"/Contents", "/RC", "/V", "/Opt", "/MK"}) {
                // A signature's value is its dictionary, not what its appearance draws.
                QPDFObjectHandle value = dict.getKey(key);
                if (std::string(key) != "/MK" && (value.isDictionary() || value.isStream()))
                    continue;
                out += value.unparseResolved() + '\n';
            }
    } catch (const std::exception&) {
        // What cannot be read was not changed either.
    }
    return out;
}

// The scripts kept in streams that an object's actions (at any depth of its direct arrays and dictionaries) run,
// and the files its attachment entries (/Filespec) hold: those need not say they are attached files, and a note that
// attaches a file (rather than the document's list of them) often does not.
void streamsWithin(QPDFObjectHandle object, std::set<QPDFObjGen>* scripts, std::set<QPDFObjGen>* attached, int depth) {
    if (depth > deepest)
        return;
    if (object.isDictionary()) {
        for (const std::string& key : object.getKeys()) {
            QPDFObjectHandle value = object.getKey(key);
            if (key == "/JS" && value.isStream() && value.isIndirect())
                scripts->insert(value.getObjGen());
            else if (key == "/EF" && value.isDictionary())
                for (const std::string& kind : value.getKeys())
                    if (QPDFObjectHandle file = value.getKey(kind); file.isStream() && file.isIndirect())
                        attached->insert(file.getObjGen());
            if (!value.isIndirect())
                streamsWithin(value, scripts, attached, depth + 1);
        }
    } else if (object.isArray()) {
        for (QPDFObjectHandle item : object.aitems())
            if (!item.isIndirect())
                streamsWithin(item, scripts, attached, depth + 1);
    }
}

// A name that the tree does not hold yet: a name that lost a secret can meet another one ("notes-.txt"), and
// neither of the two entries may be lost.
std::string freeName(QPDFNameTreeObjectHelper& tree, const std::string& name) {
    std::string free = name;
    for (int n = 2; tree.hasName(free); ++n)
        free = name + " (" + std::to_string(n) + ")";
    return free;
}

// Where an object leads by a destination's name object, at any depth of its direct arrays and dictionaries.
void renameDestinations(QPDFObjectHandle object, const std::map<std::string, std::string>& renamed, int depth) {
    if (depth > deepest)
        return;
    if (object.isDictionary()) {
        for (const std::string& key : object.getKeys()) {
            QPDFObjectHandle value = object.getKey(key);
            if ((key == "/Dest" || key == "/D") && value.isName()) {
                if (const auto to = renamed.find(value.getName()); to != renamed.end())
                    object.replaceKey(key, QPDFObjectHandle::newName(to->second));
            } else if (!value.isIndirect()) {
                renameDestinations(value, renamed, depth + 1);
            }
        }
    } else if (object.isArray()) {
        for (QPDFObjectHandle item : object.aitems())
            if (!item.isIndirect())
                renameDestinations(item, renamed, depth + 1);
    }
}

// The catalogue's older dictionary of destinations names them by name objects rather than strings: its names
// are edited too, kept apart from each other, and what leads by them follows.
void editDestinationNames(QPDF& pdf, const Edit& edit) {
    QPDFObjectHandle dests = pdf.getRoot().getKey("/Dests");
    if (!dests.isDictionary())
        return;
    const std::set<std::string> keys = dests.getKeys();
    std::set<std::string> taken;
    std::map<std::string, std::string> renamed;
    for (const std::string& key : keys) {
        const std::string bare = key.substr(1), edited = edit(bare);
        if (edited == bare) {
            taken.insert(key);
            continue;
        }
        renamed.emplace(key, edited);
    }
    for (auto& [from, to] : renamed) {
        const std::string base = to.empty() ? "destination" : to;
        std::string free = "/" + base;
        for (int n = 2; taken.count(free); ++n)
            free = "/" + base + " (" + std::to_string(n) + ")";
        taken.insert(free);
        to = free;
    }
    if (renamed.empty())
        return;
    std::map<std::string, QPDFObjectHandle> moved;
    for (const auto& [from, to] : renamed) {
        moved.emplace(to, dests.getKey(from));
        dests.removeKey(from);
    }
    for (const auto& [to, value] : moved)
        dests.replaceKey(to, value);
    for (QPDFObjectHandle object : pdf.getAllObjects())
        renameDestinations(object.isStream() ? object.getDict() : object, renamed, 0);
}

void visit(QPDF& pdf, const Edit& edit, int nesting, bool* unread) {
    std::set<QPDFObjGen> skipped;
    QPDFObjectHandle trailer = pdf.getTrailer();
    if (QPDFObjectHandle encrypt = trailer.getKey("/Encrypt"); encrypt.isIndirect())
        skipped.insert(encrypt.getObjGen());
    // The trailer's identifier and encryption stay as they are; its information dictionary is an object.
    for (const std::string& key : trailer.getKeys())
        if (key != "/ID" && key != "/Encrypt" && !trailer.getKey(key).isIndirect())
            editWithin(trailer.getKey(key), edit, 0);

    std::map<std::string, std::vector<std::string>> namesBefore;
    for (const auto& [key, tree] : nameTrees(pdf))
        namesBefore[key] = namesOf(tree, pdf);

    // An appearance draws the words as they were: one whose words change is dropped, and the viewer draws the
    // words from what is left of them, as it draws a note or field that never had one.
    std::map<QPDFObjGen, std::string> drawn;
    // Scripts kept in streams of their own: what they mail to or show is words too.
    std::set<QPDFObjGen> scripts, attached;
    for (QPDFObjectHandle object : pdf.getAllObjects()) {
        if (object.isDictionary() && object.hasKey("/AP"))
            drawn.emplace(object.getObjGen(), shownText(object));
        streamsWithin(object, &scripts, &attached, 0);
    }

    for (QPDFObjectHandle object : pdf.getAllObjects()) {
        if (skipped.count(object.getObjGen()))
            continue;
        if (object.isString()) {
            if (std::optional<QPDFObjectHandle> edited = editedString(object, edit))
                pdf.replaceObject(object.getObjGen(), *edited);
        } else if (object.isStream()) {
            editWithin(object.getDict(), edit, 0);
            // An attached file of text is read by whoever opens it: its words are the document's too.
            if (isAttachment(object) || attached.count(object.getObjGen())) {
                // One whose bytes can't be read may hold anything.
                const std::optional<std::string> bytes = attachedBytes(object);
                if (!bytes)
                    *unread = true;
                else if (AttachedPdfs::isPdf(*bytes))
                    editAttachedPdf(object, *bytes, edit, nesting, unread);
                else if (editStreamText(object, edit, false))
                    attachmentChanged(object);
            } else if (isMetadata(object) || scripts.count(object.getObjGen())) {
                editStreamText(object, edit, !scripts.count(object.getObjGen()));
            }
        } else {
            editWithin(object, edit, 0);
        }
    }

    bool fieldRedrawn = false;
    for (const auto& [id, before] : drawn) {
        QPDFObjectHandle annotation = pdf.getObjectByObjGen(id);
        if (shownText(annotation) == before)
            continue;
        annotation.removeKey("/AP");
        fieldRedrawn = fieldRedrawn || annotation.getKey("/Subtype").isNameAndEquals("/Widget");
    }
    // Form fields are drawn from their values only when the form asks for it.
    if (QPDFObjectHandle form = pdf.getRoot().getKey("/AcroForm"); fieldRedrawn && form.isDictionary())
        form.replaceKey("/NeedAppearances", QPDFObjectHandle::newBool(true));

    editDestinationNames(pdf, edit);

    // Names looked up in sorted order: a tree whose names changed is made anew from its entries.
    QPDFObjectHandle names = pdf.getRoot().getKey("/Names");
    for (const auto& [key, tree] : nameTrees(pdf)) {
        if (namesOf(tree, pdf) == namesBefore[key])
            continue;
        try {
            const QPDFNameTreeObjectHelper old(tree, pdf, false);
            QPDFNameTreeObjectHelper sorted = QPDFNameTreeObjectHelper::newEmpty(pdf);
            for (const auto& [name, value] : old)
                sorted.insert(freeName(sorted, name), value);
            names.replaceKey(key, sorted.getObjectHandle());
        } catch (const std::exception&) {
            // Left unsorted: a viewer that searches it may miss a name, nothing worse.
        }
    }
}

} // namespace

std::vector<std::string> list(QPDF& pdf, bool* unread) {
    std::vector<std::string> found;
    std::set<std::string> seen;
    bool notRead = false;
    visit(
        pdf,
        [&](const std::string& text) {
            if (!text.empty() && seen.insert(text).second)
                found.push_back(text);
            return text;
        },
        0, &notRead);
    if (unread)
        *unread = notRead;
    return found;
}

std::string without(std::string text, const std::vector<std::string>& secrets) {
    std::vector<std::string> longestFirst = secrets;
    std::stable_sort(longestFirst.begin(), longestFirst.end(),
                     [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
    // Taking one out can join the text around it into another: again until none is left.
    for (bool changed = true; changed;) {
        changed = false;
        for (const std::string& secret : longestFirst) {
            if (secret.empty())
                continue;
            for (size_t at = text.find(secret); at != std::string::npos; at = text.find(secret, at)) {
                text.erase(at, secret.size());
                changed = true;
            }
        }
    }
    return text;
}

void remove(QPDF& pdf, const std::vector<std::string>& secrets) {
    if (secrets.empty())
        return;
    // A name that would meet another of its tree once its secret is out gets a name of its own, and so does
    // everything that looks it up by name (a link's destination): each still finds what it found.
    std::map<std::string, std::string> renamed;
    for (const auto& [key, tree] : nameTrees(pdf)) {
        const std::vector<std::string> names = namesOf(tree, pdf);
        std::set<std::string> taken;
        for (const std::string& name : names)
            if (without(name, secrets) == name)
                taken.insert(name);
        for (const std::string& name : names) {
            const std::string bare = without(name, secrets);
            if (bare == name)
                continue;
            std::string free = bare;
            for (int n = 2; taken.count(free); ++n)
                free = bare + " (" + std::to_string(n) + ")";
            taken.insert(free);
            if (free != bare)
                renamed.emplace(name, free);
        }
    }
    bool unread = false;
    visit(
        pdf,
        [&](const std::string& text) {
            const auto name = renamed.find(text);
            return name != renamed.end() ? name->second : without(text, secrets);
        },
        0, &unread);
    HiddenDrawings::drop(pdf, secrets);
}

} // namespace DocStrings
