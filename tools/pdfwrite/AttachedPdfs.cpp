#include "AttachedPdfs.h"

#include <qpdf/Pl_Buffer.hh>
#include <qpdf/Pl_Discard.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <cstdlib>
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

// Whether everything the page shows as text is in its contents and drawn through simple fonts.
bool readableFonts(QPDFPageObjectHelper& page) {
    QPDFObjectHandle resources = page.getAttribute("/Resources", false);
    if (!resources.isDictionary())
        return true;
    // Drawings of their own may show text too, which is not searched here.
    QPDFObjectHandle drawings = resources.getKey("/XObject");
    if (drawings.isDictionary())
        for (const std::string& key : drawings.getKeys())
            if (QPDFObjectHandle drawing = drawings.getKey(key);
                drawing.isStream() && drawing.getDict().getKey("/Subtype").isNameAndEquals("/Form"))
                return false;
    QPDFObjectHandle fonts = resources.getKey("/Font");
    if (fonts.isDictionary())
        for (const std::string& key : fonts.getKeys())
            if (!simpleFont(fonts.getKey(key)))
                return false;
    return true;
}

// The pieces of text the tokens show: for each, its text and the indexes of its string tokens.
struct Piece {
    std::string text;
    std::vector<size_t> strings;
};

std::vector<Piece> pieces(const std::vector<Token>& tokens) {
    std::vector<Piece> out(1);
    double rise = 0; // the last number: a move's second operand
    for (size_t i = 0; i < tokens.size(); ++i) {
        const QPDFTokenizer::token_type_e type = tokens[i].getType();
        if (type == QPDFTokenizer::tt_string) {
            out.back().text += tokens[i].getValue();
            out.back().strings.push_back(i);
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
        *readable = readableFonts(page) && *readable;
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
        for (const Piece& piece : pieces(tokens)) {
            if (piece.strings.empty() || edit(piece.text) == piece.text)
                continue;
            // Each string of the piece without what it holds; a secret split across strings (a kerned line)
            // takes the piece's whole text with it.
            std::string after;
            for (size_t i : piece.strings) {
                tokens[i] = Token(QPDFTokenizer::tt_string, edit(tokens[i].getValue()));
                after += tokens[i].getValue();
            }
            if (edit(after) != after)
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

std::string written(QPDF& pdf) {
    Pl_Buffer buffer("attached PDF");
    QPDFWriter writer(pdf);
    writer.setOutputPipeline(&buffer);
    writer.write();
    std::unique_ptr<Buffer> bytes(buffer.getBuffer());
    return std::string(reinterpret_cast<const char*>(bytes->getBuffer()), bytes->getSize());
}

} // namespace AttachedPdfs
