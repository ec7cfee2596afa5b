#include "GlyphNames.h"

#include <qpdf/QPDF.hh>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <vector>

namespace GlyphNames {

namespace {

const std::map<std::string, char32_t>& named() {
    static const std::map<std::string, char32_t> names = {
        {"space", U' '},       {"exclam", U'!'},       {"quotedbl", U'"'},     {"numbersign", U'#'},
        {"dollar", U'$'},      {"percent", U'%'},      {"ampersand", U'&'},    {"quotesingle", U'\''},
        {"quoteright", U'\''}, {"parenleft", U'('},    {"parenright", U')'},   {"asterisk", U'*'},
        {"plus", U'+'},        {"comma", U','},        {"hyphen", U'-'},       {"minus", U'-'},
        {"period", U'.'},      {"slash", U'/'},        {"zero", U'0'},         {"one", U'1'},
        {"two", U'2'},         {"three", U'3'},        {"four", U'4'},         {"five", U'5'},
        {"six", U'6'},         {"seven", U'7'},        {"eight", U'8'},        {"nine", U'9'},
        {"colon", U':'},       {"semicolon", U';'},    {"less", U'<'},         {"equal", U'='},
        {"greater", U'>'},     {"question", U'?'},     {"at", U'@'},           {"bracketleft", U'['},
        {"backslash", U'\\'},  {"bracketright", U']'}, {"asciicircum", U'^'},  {"underscore", U'_'},
        {"grave", U'`'},       {"quoteleft", U'`'},    {"braceleft", U'{'},    {"bar", U'|'},
        {"braceright", U'}'},  {"asciitilde", U'~'},   {"nbspace", U'\u00A0'}, {"endash", U'\u2013'},
        {"emdash", U'\u2014'},
    };
    return names;
}

// A code point written in hex, `digits` long.
char32_t hex(const std::string& text, size_t digits) {
    if (text.size() != digits)
        return 0;
    for (const char c : text)
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return 0;
    const unsigned long code = std::strtoul(text.c_str(), nullptr, 16);
    // Surrogates and what lies beyond Unicode are no letters.
    return (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF ? 0 : char32_t(code);
}

std::string utf16Hex(char32_t code) {
    char out[16];
    if (code < 0x10000) {
        std::snprintf(out, sizeof out, "%04X", unsigned(code));
    } else {
        const char32_t v = code - 0x10000;
        std::snprintf(out, sizeof out, "%04X%04X", unsigned(0xD800 + (v >> 10)), unsigned(0xDC00 + (v & 0x3FF)));
    }
    return out;
}

// The map a font of single-byte codes carries to say which letters its codes draw.
std::string cmap(const std::map<int, char32_t>& letters) {
    std::string out = "/CIDInit /ProcSet findresource begin\n12 dict begin\nbegincmap\n"
                      "/CIDSystemInfo << /Registry (Adobe) /Ordering (UCS) /Supplement 0 >> def\n"
                      "/CMapName /Adobe-Identity-UCS def\n/CMapType 2 def\n"
                      "1 begincodespacerange\n<00> <FF>\nendcodespacerange\n";
    std::vector<std::pair<int, char32_t>> all(letters.begin(), letters.end());
    // At most a hundred entries a block.
    for (size_t at = 0; at < all.size(); at += 100) {
        const size_t n = std::min<size_t>(100, all.size() - at);
        out += std::to_string(n) + " beginbfchar\n";
        for (size_t i = at; i < at + n; ++i) {
            char code[8];
            std::snprintf(code, sizeof code, "%02X", unsigned(all[i].first));
            out += std::string("<") + code + "> <" + utf16Hex(all[i].second) + ">\n";
        }
        out += "endbfchar\n";
    }
    return out + "endcmap\nCMapName currentdict /CMap defineresource pop\nend\nend\n";
}

// The codes of a font's encoding and the names it gives them.
std::map<int, std::string> differences(QPDFObjectHandle font) {
    std::map<int, std::string> names;
    QPDFObjectHandle encoding = font.getKey("/Encoding");
    if (!encoding.isDictionary())
        return names;
    QPDFObjectHandle list = encoding.getKey("/Differences");
    if (!list.isArray())
        return names;
    int code = -1;
    for (QPDFObjectHandle item : list.aitems()) {
        if (item.isInteger()) {
            code = int(item.getIntValue());
        } else if (item.isName() && code >= 0 && code <= 255) {
            names[code++] = item.getName().substr(1);
        }
    }
    return names;
}

// Whether a name that says nothing of its letter numbers the code it stands at, in decimal or in hex (a65, g41 or
// cid65 at 65, as some makers name glyphs by their codes): that code is then the letter a usual encoding reads.
bool numbersCode(const std::string& name, int code) {
    size_t letters = 0;
    while (letters < name.size() && std::isalpha(static_cast<unsigned char>(name[letters])))
        ++letters;
    const std::string number = name.substr(letters);
    if (letters == 0 || number.empty() || number.size() > 4)
        return false;
    const bool decimal =
        std::all_of(number.begin(), number.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
    const bool hexadecimal =
        std::all_of(number.begin(), number.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
    return (decimal && std::stoi(number) == code) || (hexadecimal && std::stoi(number, nullptr, 16) == code);
}

} // namespace

char32_t letter(const std::string& name) {
    // A name with a suffix (a.sc, one.oldstyle) is its base's letter.
    const std::string base = name.substr(0, name.find('.'));
    if (base.size() == 1 && std::isalpha(static_cast<unsigned char>(base[0])))
        return char32_t(base[0]);
    if (const auto found = named().find(base); found != named().end())
        return found->second;
    if (base.rfind("uni", 0) == 0)
        return hex(base.substr(3), 4);
    if (base.rfind("u", 0) == 0 && (base.size() == 5 || base.size() == 6 || base.size() == 7))
        return hex(base.substr(1), base.size() - 1);
    return 0;
}

namespace {

// The fonts of `resources` and of the drawings it holds, each drawing once, a few levels deep.
bool mapLetters(QPDFObjectHandle resources, std::set<QPDFObjGen>* seen, int depth) {
    if (!resources.isDictionary() || depth > 8)
        return false;
    bool mapped = false;
    QPDFObjectHandle drawings = resources.getKey("/XObject");
    if (drawings.isDictionary())
        for (const std::string& key : drawings.getKeys())
            if (QPDFObjectHandle drawing = drawings.getKey(key);
                drawing.isStream() && seen->insert(drawing.getObjGen()).second)
                mapped = mapLetters(drawing.getDict().getKey("/Resources"), seen, depth + 1) || mapped;
    QPDFObjectHandle fonts = resources.getKey("/Font");
    if (!fonts.isDictionary())
        return mapped;
    for (const std::string& key : fonts.getKeys()) {
        QPDFObjectHandle font = fonts.getKey(key);
        if (!font.isDictionary() || !font.getKey("/Subtype").isNameAndEquals("/Type3") || font.hasKey("/ToUnicode"))
            continue;
        std::map<int, char32_t> letters;
        for (const auto& [code, name] : differences(font)) {
            if (const char32_t c = letter(name)) {
                letters[code] = c;
            } else if (code < 32 || code > 126 || !numbersCode(name, code)) {
                // The renderer would read a code among the usual letters as that letter, though the glyph
                // (g1 at 65, numbered as the font's maker drew them) may draw any other.
                letters[code] = U'\uFFFD';
            }
        }
        if (letters.empty())
            continue;
        font.replaceKey("/ToUnicode", QPDFObjectHandle::newStream(font.getOwningQPDF(), cmap(letters)));
        mapped = true;
    }
    return mapped;
}

} // namespace

bool mapLetters(QPDFPageObjectHelper& page) {
    std::set<QPDFObjGen> seen;
    return mapLetters(page.getAttribute("/Resources", false), &seen, 0);
}

} // namespace GlyphNames
