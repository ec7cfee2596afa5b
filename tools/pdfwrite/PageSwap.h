#pragma once
// Putting a picture in place of what a page showed. The page object itself stays, so every link, outline
// entry, named destination and form field that leads to it still does; what the page drew goes, and the
// writer then leaves out whatever nothing else refers to: the old content streams, the resources only that
// page used, its thumbnail.

#define POINTERHOLDER_TRANSITION 4 // only the current qpdf interfaces
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

#include <set>

namespace PageSwap {

struct Picture {
    // A finished image XObject (samples, mask and filters in place) and its size in points.
    QPDFObjectHandle image;
    double width = 0;
    double height = 0;
    // The picture covers something the page showed: annotations that could show it again go too.
    bool redacted = false;
};

// What the replaced pages left behind elsewhere in the document and forget() takes out.
struct Leftovers {
    std::set<QPDFObjGen> pages;
    std::set<QPDFObjGen> annotations;
    // Their keys in the structure tree's parent tree.
    std::set<long long> structKeys;
};

// The page now shows the picture and nothing else. Annotations stay, placed where they were on the page
// as shown, except on a redacted page, which keeps only its links within the document.
void replace(QPDF& pdf, QPDFPageObjectHelper page, const Picture& picture, Leftovers* left);

// Takes the replaced pages' old marked content and dropped annotations out of the structure tree and the
// dropped form fields out of the form, so that nothing keeps them in the file.
void forget(QPDF& pdf, const Leftovers& left);

} // namespace PageSwap
