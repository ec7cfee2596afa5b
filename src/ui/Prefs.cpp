#include "ui/Prefs.h"

#include "platform/Defaults.h"

#include <algorithm>
#include <cmath>

namespace Prefs {

double barScaleFor(double v) {
    if (v == 0.0)
        return 0.87;
    if (v > 1.2)
        return 1.0;
    if (!(v >= 0.5)) // also NaN
        return 0.675;
    return 0.35 + 0.65 * std::min(v, 1.0);
}

double barScale(const Defaults& defaults) { return barScaleFor(defaults.doubleValue(QStringLiteral("picto.sizeScale"))); }

double barScale() { return barScale(Defaults::standard()); }

} // namespace Prefs
