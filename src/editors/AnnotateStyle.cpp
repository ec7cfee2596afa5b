#include "editors/AnnotateStyle.h"

#include <QJsonValue>

#include <algorithm>
#include <cmath>

QJsonObject AnnotateStyle::toJson() const {
    QJsonObject object{{QStringLiteral("color"), color}, {QStringLiteral("filled"), filled}};
    if (thickness)
        object.insert(QStringLiteral("thickness"), *thickness);
    return object;
}

std::optional<AnnotateStyle> AnnotateStyle::fromJson(const QJsonObject& object) {
    const QJsonValue color = object.value(QStringLiteral("color"));
    const QJsonValue filled = object.value(QStringLiteral("filled"));
    const QJsonValue thickness = object.value(QStringLiteral("thickness"));
    if (!color.isDouble() || !filled.isBool())
        return std::nullopt;
    const double index = color.toDouble();
    if (index != std::floor(index) || std::abs(index) > 2147483647.0)
        return std::nullopt;
    if (!thickness.isUndefined() && !thickness.isNull() && !thickness.isDouble())
        return std::nullopt;
    AnnotateStyle style;
    style.color = int(index);
    style.filled = filled.toBool();
    if (thickness.isDouble())
        style.thickness = thickness.toDouble();
    return style;
}

double AnnotateStyle::appliedThickness() const {
    if (!thickness || !std::isfinite(*thickness))
        return 1.0;
    // An unbounded width would make every later edit of the picture unstorable.
    return std::clamp(*thickness, 0.25, 10.0);
}
