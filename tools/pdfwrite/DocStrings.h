#pragma once
// The words a reader shows of a document besides its pages: the title, subject and keywords in its information
// dictionary and in its XMP metadata, and the titles of its outline. A redaction searches them as it searches
// the pages, and takes out of them what it found there.

#define POINTERHOLDER_TRANSITION 4 // only the current qpdf interfaces
#include <qpdf/QPDF.hh>

#include <string>
#include <vector>

namespace DocStrings {

// Each of them as UTF-8; an XMP property's text piece by piece, between its markup.
std::vector<std::string> list(QPDF& pdf);

// Takes every occurrence of each secret out of them. Nothing else of the document changes: a string without a
// secret stays as it is stored, and the metadata keeps its markup.
void remove(QPDF& pdf, const std::vector<std::string>& secrets);

// The text with every occurrence of each secret taken out (the longer ones first).
std::string without(std::string text, const std::vector<std::string>& secrets);

} // namespace DocStrings
