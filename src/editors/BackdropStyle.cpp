#include "editors/BackdropStyle.h"

#include "editors/Backdrop.h"

#include <QJsonValue>

#include <algorithm>
#include <cmath>

BackdropStyle BackdropStyle::clamped() const {
    BackdropStyle out = *this;
    out.fill = std::max(std::min(fill, int(Backdrop::all().size()) - 1), 0);
    // Written so that NaN fails the comparison and lands on the lower limit.
    out.padding = std::min(padding, 0.32);
    if (!(out.padding >= 0.02))
        out.padding = 0.02;
    out.corners = std::min(corners, 0.08);
    if (!(out.corners >= 0))
        out.corners = 0;
    return out;
}

QJsonObject BackdropStyle::toJson() const {
    QJsonObject object{{QStringLiteral("fill"), fill},
                       {QStringLiteral("padding"), padding},
                       {QStringLiteral("corners"), corners},
                       {QStringLiteral("shadow"), shadow}};
    if (customHex)
        object.insert(QStringLiteral("customHex"), *customHex);
    return object;
}

std::optional<BackdropStyle> BackdropStyle::fromJson(const QJsonObject& object) {
    const QJsonValue fill = object.value(QStringLiteral("fill"));
    const QJsonValue padding = object.value(QStringLiteral("padding"));
    const QJsonValue corners = object.value(QStringLiteral("corners"));
    const QJsonValue shadow = object.value(QStringLiteral("shadow"));
    const QJsonValue hex = object.value(QStringLiteral("customHex"));
    if (!fill.isDouble() || !padding.isDouble() || !corners.isDouble() || !shadow.isBool())
        return std::nullopt;
    // An integer key: a fraction or a number beyond int does not decode.
    const double index = fill.toDouble();
    if (index != std::floor(index) || std::abs(index) > 2147483647.0)
        return std::nullopt;
    if (!hex.isUndefined() && !hex.isNull() && !hex.isString())
        return std::nullopt;
    BackdropStyle style;
    style.fill = int(index);
    style.padding = padding.toDouble();
    style.corners = corners.toDouble();
    style.shadow = shadow.toBool();
    if (hex.isString())
        style.customHex = hex.toString();
    return style;
}
