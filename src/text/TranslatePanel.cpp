#include "text/TranslatePanel.h"

#include "platform/Defaults.h"

#include <algorithm>

namespace TranslatePanel {

double scaleFor(double stored) {
    if (stored == 0)
        return 1.0;
    if (stored > 1.2)
        return 1.2;
    if (stored >= 0.5 && stored <= 1.2)
        return std::clamp(stored / 0.8, 0.8, 1.2);
    return 0.8;
}

double scale(const Defaults& defaults) {
    return scaleFor(defaults.doubleValue(QStringLiteral("picto.sizeScale")));
}

double scale() {
    return scale(Defaults::standard());
}

} // namespace TranslatePanel
