#pragma once
// The annotate editor's part of a style preset: a palette index, the thickness factor and the fill flag.

#include <QJsonObject>

#include <optional>

struct AnnotateStyle {
    int color = 0;
    std::optional<double> thickness;
    bool filled = false;

    bool operator==(const AnnotateStyle&) const = default;

    // "color", "filled" and, when present, "thickness".
    QJsonObject toJson() const;
    // Nothing when "color" is not an integer or "filled" not a boolean; "thickness" may be missing.
    static std::optional<AnnotateStyle> fromJson(const QJsonObject& object);
    // A stored thickness made usable: within 0.25 … 10, and 1 when absent or not finite.
    double appliedThickness() const;
};
