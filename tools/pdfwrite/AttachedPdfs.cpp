#include "AttachedPdfs.h"

#include <qpdf/Pl_Buffer.hh>
#include <qpdf/Pl_Discard.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <cstdlib>
#include <map>
#include <optional>
#include <string_view>
#include <vector>

namespace AttachedPdfs {

namespace {

using Token = QPDFTokenizer::Token;

// Every token of a page's contents, spaces and comments too, so that they can be written out again as they were.
class Collect : public QPDFObjectHandle::TokenFilter {
public:
    std::vector<Token> tokens;
    void handleToken(const Token& token) override { tokens.push_back(token); }
};

// Operators after which a reader starts a new line of text: a move along the line (`rise` 0) continues it, as
// writers that place each word or letter on its own draw a line.
bool endsPiece(const Token& token, double rise) {
    if (token.getType() != QPDFTokenizer::tt_word)
        return false;
    const std::string& op = token.getValue();
    if (op == "Td" || op == "TD")
        return rise != 0;
    return op == "'" || op == "\"" || op == "BT" || op == "ET" || op == "T*" || op == "Tm";
}

// A font whose bytes are the letters they draw: a simple font in a standard encoding.
bool simpleFont(QPDFObjectHandle font) {
    if (!font.isDictionary())
        return false;
    QPDFObjectHandle subtype = font.getKey("/Subtype");
    if (!subtype.isNameAndEquals("/Type1") && !subtype.isNameAndEquals("/TrueType") &&
        !subtype.isNameAndEquals("/MMType1"))
        return false;
    QPDFObjectHandle encoding = font.getKey("/Encoding");
    return !(encoding.isDictionary() && encoding.hasKey("/Differences"));
}

void appendUtf8(std::string& out, unsigned long code) {
    if (code < 0x80) {
        out += char(code);
    } else if (code < 0x800) {
        out += char(0xC0 | (code >> 6));
        out += char(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += char(0xE0 | (code >> 12));
        out += char(0x80 | ((code >> 6) & 0x3F));
        out += char(0x80 | (code & 0x3F));
    } else {
        out += char(0xF0 | (code >> 18));
        out += char(0x80 | ((code >> 12) & 0x3F));
        out += char(0x80 | ((code >> 6) & 0x3F));
        out += char(0x80 | (code & 0x3F));
    }
}

// Hex digits as bytes.
std::string fromHex(const std::string& hex) {
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes += char(std::strtoul(hex.substr(i, 2).c_str(), nullptr, 16));
    return bytes;
}

// UTF-16 (big-endian) bytes as UTF-8.
std::string utf16ToUtf8(const std::string& bytes) {
    std::string out;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        unsigned long unit = (static_cast<unsigned char>(bytes[i]) << 8) | static_cast<unsigned char>(bytes[i + 1]);
        if (unit >= 0xD800 && unit < 0xDC00 && i + 3 < bytes.size()) {
            const unsigned long low =
                (static_cast<unsigned char>(bytes[i + 2]) << 8) | static_cast<unsigned char>(bytes[i + 3]);
            unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
            i += 2;
        }
        appendUtf8(out, unit);
    }
    return out;
}

// How a font's codes read as letters: through the map from codes to letters it carries; a simple font's bytes
// are its letters where it carries none.
struct FontText {
    bool simple = false;
    size_t width = 1; // bytes a code
    std::map<std::string, std::string> letters;
};

// The letters a map from codes to letters (a ToUnicode CMap) gives, its single codes and its ranges, within a
// bound on how many.
std::map<std::string, std::string> cmapLetters(const std::string& cmap) {
    std::map<std::string, std::string> letters;
    std::vector<std::string> hex; // the hex strings of the current block
    bool range = false, inBlock = false;
    for (size_t at = 0; at < cmap.size() && letters.size() < 65536;) {
        if (cmap.compare(at, 11, "beginbfchar") == 0 || cmap.compare(at, 12, "beginbfrange") == 0) {
            range = cmap.compare(at, 12, "beginbfrange") == 0;
            inBlock = true;
            hex.clear();
            at += 11;
        } else if (cmap.compare(at, 9, "endbfchar") == 0 || cmap.compare(at, 10, "endbfrange") == 0) {
            inBlock = false;
            at += 9;
        } else if (inBlock && cmap[at] == '<') {
            const size_t end = cmap.find('>', at);
            if (end == std::string::npos)
                break;
            hex.push_back(fromHex(cmap.substr(at + 1, end - at - 1)));
            at = end + 1;
            if (!range && hex.size() == 2) {
                letters[hex[0]] = utf16ToUtf8(hex[1]);
                hex.clear();
            } else if (range && hex.size() == 3) {
                // Codes from the first to the last, their letters counting up from the one given.
                const std::string lo = hex[0], hi = hex[1], first = hex[2];
                hex.clear();
                if (lo.size() != hi.size() || lo.empty() || lo.size() > 2 || first.size() < 2)
                    continue;
                const auto number = [](const std::string& b) {
                    unsigned long n = 0;
                    for (const char c : b)
                        n = (n << 8) | static_cast<unsigned char>(c);
                    return n;
                };
                const unsigned long from = number(lo), to = std::min(number(hi), from + 65535);
                std::string base = first;
                for (unsigned long code = from; code <= to && letters.size() < 65536; ++code) {
                    std::string key;
                    for (size_t b = lo.size(); b-- > 0;)
                        key.insert(key.begin(), char((code >> (8 * (lo.size() - 1 - b))) & 0xFF));
                    letters[key] = utf16ToUtf8(base);
                    // The last unit counts up.
                    base.back() = char(static_cast<unsigned char>(base.back()) + 1);
                }
            }
        } else if (inBlock && range && cmap[at] == '[') {
            // A range that lists its letters one by one: not read, its codes then say nothing.
            const size_t end = cmap.find(']', at);
            hex.clear();
            at = end == std::string::npos ? cmap.size() : end + 1;
        } else {
            ++at;
        }
    }
    return letters;
}

std::optional<FontText> fontText(QPDFObjectHandle font) {
    FontText text;
    text.simple = simpleFont(font);
    if (!font.isDictionary())
        return std::nullopt;
    // Readers copy a font's letters through its map when it has one, a simple font's too: its bytes then need not
    // be the letters a reader copies.
    QPDFObjectHandle map = font.getKey("/ToUnicode");
    if (text.simple && !map.isStream())
        return text;
    if (!map.isStream())
        return std::nullopt;
    const bool composite = font.getKey("/Subtype").isNameAndEquals("/Type0");
    // Of the composite fonts' encodings, only the two of two-byte codes are read.
    if (composite && !font.getKey("/Encoding").isNameAndEquals("/Identity-H") &&
        !font.getKey("/Encoding").isNameAndEquals("/Identity-V"))
        return std::nullopt;
    text.width = composite ? 2 : 1;
    try {
        const auto data = map.getStreamData(qpdf_dl_generalized);
        text.letters = cmapLetters(std::string(reinterpret_cast<const char*>(data->getBuffer()), data->getSize()));
    } catch (const std::exception&) {
        if (!text.simple)
            return std::nullopt;
    }
    return text;
}

// Whether a drawing of its own shows any text: one that can't be read may.
bool showsText(QPDFObjectHandle drawing) {
    Collect collect;
    Pl_Discard discard;
    try {
        drawing.filterAsContents(&collect, &discard);
    } catch (const std::exception&) {
        return true;
    }
    for (const Token& token : collect.tokens)
        if (token.getType() == QPDFTokenizer::tt_string)
            return true;
    return false;
}

// Whether an annotation of the page is drawn by a look of its own that shows text (a stamp, a note's box): its
// words may be nowhere else, and are not searched here.
bool annotationsShowText(QPDFPageObjectHelper& page) {
    QPDFObjectHandle annotations = page.getObjectHandle().getKey("/Annots");
    if (!annotations.isArray())
        return false;
    for (QPDFObjectHandle annotation : annotations.aitems()) {
        if (!annotation.isDictionary() || !annotation.getKey("/AP").isDictionary())
            continue;
        QPDFObjectHandle looks = annotation.getKey("/AP").getKey("/N");
        if (looks.isStream() && showsText(looks))
            return true;
        if (looks.isDictionary())
            for (const std::string& state : looks.getKeys())
                if (QPDFObjectHandle look = looks.getKey(state); look.isStream() && showsText(look))
                    return true;
    }
    return false;
}

// The fonts of the page by their resource names; `readable` turns false when one of them, or a drawing of its
// own (which may show text, not searched here), can't be read: a form it draws, or a pattern it fills with that
// shows text.
std::map<std::string, FontText> pageFonts(QPDFPageObjectHelper& page, bool* readable) {
    std::map<std::string, FontText> out;
    QPDFObjectHandle resources = page.getAttribute("/Resources", false);
    if (!resources.isDictionary())
        return out;
    QPDFObjectHandle drawings = resources.getKey("/XObject");
    if (drawings.isDictionary())
        for (const std::string& key : drawings.getKeys())
            if (QPDFObjectHandle drawing = drawings.getKey(key);
                drawing.isStream() && drawing.getDict().getKey("/Subtype").isNameAndEquals("/Form"))
                *readable = false;
    QPDFObjectHandle patterns = resources.getKey("/Pattern");
    if (patterns.isDictionary())
        for (const std::string& key : patterns.getKeys())
            if (QPDFObjectHandle pattern = patterns.getKey(key); pattern.isStream() && showsText(pattern))
                *readable = false;
    QPDFObjectHandle fonts = resources.getKey("/Font");
    if (fonts.isDictionary())
        for (const std::string& key : fonts.getKeys()) {
            if (std::optional<FontText> text = fontText(fonts.getKey(key)))
                out.emplace(key, std::move(*text));
            else
                *readable = false;
        }
    return out;
}

// A string shown in `font` as letters.
// A simple font's code its map leaves out is read as its byte, as readers do.
std::string lettersOf(const std::string& shown, const FontText* font) {
    if (!font || (font->simple && font->letters.empty()))
        return shown;
    std::string out;
    for (size_t at = 0; at + font->width <= shown.size(); at += font->width)
        if (const auto letter = font->letters.find(shown.substr(at, font->width)); letter != font->letters.end())
            out += letter->second;
        else if (font->simple)
            out += shown[at];
    return out;
}

// The pieces of text the tokens show: for each, its text and the indexes of its string tokens; `mapped` when
// a string of it was shown in a font whose codes are not its letters.
struct Piece {
    std::string text;
    std::vector<size_t> strings;
    bool mapped = false;
};

std::vector<Piece> pieces(const std::vector<Token>& tokens, const std::map<std::string, FontText>& fonts) {
    std::vector<Piece> out(1);
    double rise = 0;  // the last number: a move's second operand
    std::string name; // the last name: a font's, when Tf follows
    const FontText* font = nullptr;
    for (size_t i = 0; i < tokens.size(); ++i) {
        const QPDFTokenizer::token_type_e type = tokens[i].getType();
        if (type == QPDFTokenizer::tt_string) {
            out.back().text += lettersOf(tokens[i].getValue(), font);
            out.back().strings.push_back(i);
            out.back().mapped = out.back().mapped || (font && (!font->simple || !font->letters.empty()));
        } else if (type == QPDFTokenizer::tt_name) {
            name = tokens[i].getValue();
        } else if (type == QPDFTokenizer::tt_word && tokens[i].getValue() == "Tf") {
            const auto found = fonts.find(name);
            font = found == fonts.end() ? nullptr : &found->second;
        } else if (type == QPDFTokenizer::tt_integer || type == QPDFTokenizer::tt_real) {
            rise = std::atof(tokens[i].getValue().c_str());
        } else if (endsPiece(tokens[i], rise) && !out.back().strings.empty()) {
            out.emplace_back();
        }
    }
    return out;
}

} // namespace

bool isPdf(const std::string& bytes) {
    return std::string_view(bytes).substr(0, 1024).find("%PDF-") != std::string_view::npos;
}

std::unique_ptr<QPDF> open(const std::string& bytes) {
    auto pdf = std::make_unique<QPDF>();
    pdf->setSuppressWarnings(true);
    try {
        pdf->processMemoryFile("attached PDF", bytes.data(), bytes.size());
        pdf->getAllObjects();
    } catch (const std::exception&) {
        return nullptr;
    }
    return pdf;
}

bool editShown(QPDF& pdf, const Edit& edit, bool* readable) {
    bool changed = false;
    for (QPDFPageObjectHelper& page : QPDFPageDocumentHelper(pdf).getAllPages()) {
        const std::map<std::string, FontText> fonts = pageFonts(page, readable);
        if (annotationsShowText(page))
            *readable = false;
        Collect collect;
        Pl_Discard discard;
        try {
            page.filterContents(&collect, &discard);
        } catch (const std::exception&) {
            *readable = false;
            continue;
        }
        std::vector<Token> tokens = std::move(collect.tokens);
        bool pageChanged = false;
        for (const Piece& piece : pieces(tokens, fonts)) {
            if (piece.strings.empty() || edit(piece.text) == piece.text)
                continue;
            // Each string of the piece without what it holds; a secret split across strings (a kerned line), or
            // shown in codes that are not its letters, takes the piece's whole text with it.
            std::string after;
            for (size_t i : piece.strings) {
                if (piece.mapped)
                    break;
                tokens[i] = Token(QPDFTokenizer::tt_string, edit(tokens[i].getValue()));
                after += tokens[i].getValue();
            }
            if (piece.mapped || edit(after) != after)
                for (size_t i : piece.strings)
                    tokens[i] = Token(QPDFTokenizer::tt_string, "");
            pageChanged = true;
        }
        if (!pageChanged)
            continue;
        std::string contents;
        for (const Token& token : tokens)
            contents += token.getType() == QPDFTokenizer::tt_string
                            ? QPDFObjectHandle::newString(token.getValue()).unparse()
                            : token.getRawValue();
        page.getObjectHandle().replaceKey("/Contents", QPDFObjectHandle::newStream(&pdf, contents));
        changed = true;
    }
    return changed;
}

std::vector<size_t> earlierRevisions(std::string_view bytes, bool* older) {
    constexpr size_t mostRevisions = 8;
    std::vector<size_t> ends;
    for (size_t at = bytes.find("%%EOF"); at != std::string_view::npos; at = bytes.find("%%EOF", at + 5)) {
        // A linearized file's first part ends in "startxref 0": it is no revision of its own.
        const size_t from = at > 32 ? at - 32 : 0;
        const size_t mark = bytes.substr(from, at - from).rfind("startxref");
        if (mark != std::string_view::npos) {
            const std::string_view offset = bytes.substr(from + mark + 9, at - from - mark - 9);
            if (offset.find_first_not_of(" \t\r\n0") == std::string_view::npos)
                continue;
        }
        ends.push_back(at + 5);
    }
    // The last one ends the document as it is now.
    if (!ends.empty())
        ends.pop_back();
    if (older)
        *older = ends.size() > mostRevisions;
    if (ends.size() > mostRevisions)
        ends.erase(ends.begin(), ends.end() - mostRevisions);
    return ends;
}

std::string written(QPDF& pdf) {
    Pl_Buffer buffer("attached PDF");
    QPDFWriter writer(pdf);
    writer.setOutputPipeline(&buffer);
    writer.write();
    std::unique_ptr<Buffer> bytes(buffer.getBuffer());
    return std::string(reinterpret_cast<const char*>(bytes->getBuffer()), bytes->getSize());
}

} // namespace AttachedPdfs
