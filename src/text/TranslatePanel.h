#pragma once
// The size factor of the translate card's result text, from the card-and-editor size setting.

class Defaults;

namespace TranslatePanel {

// 1.0 when unset, the stored value / 0.8 between 0.5 and 1.2 kept within 0.8 … 1.2, 1.2 above,
// 0.8 below or for NaN. Read anew at every use.
double scale(const Defaults& defaults);
double scale();
double scaleFor(double stored);

} // namespace TranslatePanel
