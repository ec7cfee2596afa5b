#pragma once
// The drawings of the pages that stay that hold a secret though no reading of the page found it there: an
// annotation's look (a stamp drawn in white) goes, and the viewer draws the annotation from its words, if any; a
// drawing the page keeps but never draws leaves the page's own copy of its resources. What the page draws stays.

#define POINTERHOLDER_TRANSITION 4 // only the current qpdf interfaces
#include <qpdf/QPDF.hh>

#include <string>
#include <vector>

namespace HiddenDrawings {

void drop(QPDF& pdf, const std::vector<std::string>& secrets);

} // namespace HiddenDrawings
