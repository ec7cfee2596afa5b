#pragma once
// Putting a picture in place of what a page showed. The page object itself stays, so every link, outline
// entry, named destination and form field that leads to it still does; what the page drew goes, and the
// writer then leaves out whatever nothing else refers to: the old content streams, the resources only that
// page used, its thumbnail.

#define POINTERHOLDER_TRANSITION 4 // only the current qpdf interfaces
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

#include <map>
#include <set>
#include <vector>

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

// How many pages list each annotation. Some documents put one annotation on several pages: a page that is
// replaced changes only its own copy of it, and an annotation leaves the document only with its last page.
class Listings {
public:
    explicit Listings(const std::vector<QPDFPageObjectHelper>& pages);
    int pages(QPDFObjectHandle annot) const;
    // One page no longer lists the annotation; true when no page does.
    bool leave(QPDFObjectHandle annot);
    // A page lists the copy in place of the annotation.
    void swap(QPDFObjectHandle annot, QPDFObjectHandle copy);

private:
    std::map<QPDFObjGen, int> count;
};

// The page now shows the picture and nothing else. Annotations stay, placed where they were on the page
// as shown, except on a redacted page, which keeps only its links within the document.
void replace(QPDF& pdf, QPDFPageObjectHelper page, const Picture& picture, Listings* listed, Leftovers* left);

// Takes the replaced pages' old marked content and dropped annotations out of the structure tree, and out
// of the form the fields that lost a widget and have none left that a page shows, so that nothing keeps them
// in the file.
void forget(QPDF& pdf, const Listings& listed, const Leftovers& left);

} // namespace PageSwap
