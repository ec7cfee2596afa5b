#pragma once
// A PDF attached to a document is a document of its own, opened by whoever opens the attachment: its words are
// searched and cleaned as the outer one's are, to a few levels of nesting and within a size.

#define POINTERHOLDER_TRANSITION 4 // only the current qpdf interfaces
#include <qpdf/QPDF.hh>

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace AttachedPdfs {

using Edit = std::function<std::string(const std::string&)>;

// Nesting beyond this, or an attached PDF larger than this, is not opened.
constexpr int deepest = 3;
constexpr size_t largest = size_t(64) << 20;

// Whether the bytes are a PDF: its header within the first kilobyte, as readers accept it.
bool isPdf(const std::string& bytes);

// The attached document, or nothing when it can't be parsed.
std::unique_ptr<QPDF> open(const std::string& bytes);

// Hands the text each page shows (the strings of its text operators, line by line) to `edit`, and puts back the
// strings `edit` changed; a line shown in codes that are not its letters loses its text whole when `edit` changes
// it. Text is read through the map from codes to letters a font carries, else from a simple font's bytes:
// `readable` turns false when a page shows text through a font with neither, draws drawings of its own, fills
// with a pattern that shows text, or has an annotation whose look shows text.
bool editShown(QPDF& pdf, const Edit& edit, bool* readable);

// Where the earlier revisions of a document updated in place end: each update is appended after the old bytes,
// which still hold what it replaced. The latest few, each the length of the file it was; `older` says whether
// there were more.
std::vector<size_t> earlierRevisions(std::string_view bytes, bool* older = nullptr);

// The document written anew (without earlier revisions).
std::string written(QPDF& pdf);

} // namespace AttachedPdfs
