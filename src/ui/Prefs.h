#pragma once
// The size factor of card and editor chrome, derived from the stored "picto.sizeScale".

class Defaults;

namespace Prefs {

// 0.87 when unset, 0.35 + 0.65 × min(v, 1) from 0.5 to 1.2, 1.0 above, 0.675 below or for NaN.
double barScale(const Defaults& defaults);
double barScale();
double barScaleFor(double stored);

} // namespace Prefs
