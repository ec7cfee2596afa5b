#pragma once
// The words a document holds besides what its pages draw: every text string of every object (the information
// dictionary, outline titles at any depth, annotations' notes and replies, form field names and values,
// destination names, page labels, the structure tree's alternate texts), the text of its XMP metadata, of the
// scripts its actions keep in streams and of the files of text it has attached. A redaction searches them as it
// searches the pages, and takes out of all of them what it found anywhere.
//
// Strings that are bytes rather than words (the file identifier, the encryption dictionary, a signature's own
// bytes) and dates are left alone: they hold nothing a reader shows, and changing them would break the document.

#define POINTERHOLDER_TRANSITION 4 // only the current qpdf interfaces
#include <qpdf/QPDF.hh>

#include <string>
#include <vector>

namespace DocStrings {

// Each of them once, as UTF-8; the XMP metadata's text piece by piece, between its markup, and its attributes'
// values. Attached PDFs are read as documents of their own, the text their pages show too; `unread` says
// whether one of them could not be read whole (nested too deep, too large, damaged, or text in fonts whose bytes
// are not its letters).
std::vector<std::string> list(QPDF& pdf, bool* unread = nullptr);

// Takes every occurrence of each secret out of them. Nothing else of the document changes: a string without a
// secret stays as it is stored, and the metadata keeps its markup. A name tree whose names changed is sorted
// again, so that what looks a name up still finds it.
void remove(QPDF& pdf, const std::vector<std::string>& secrets);

// The text with every occurrence of each secret taken out (the longer ones first), also those the taking out
// itself brings together.
std::string without(std::string text, const std::vector<std::string>& secrets);

} // namespace DocStrings
