#pragma once
// One backdrop: which fill, how much padding and how round the picture's corners are (both as fractions of
// the picture's longer side), whether it casts a shadow, and an optional saved colour in place of the fill.

#include <QJsonObject>
#include <QString>

#include <optional>

struct BackdropStyle {
    int fill = 0;
    double padding = 0.09;
    double corners = 0.024;
    bool shadow = true;
    std::optional<QString> customHex;

    bool operator==(const BackdropStyle&) const = default;

    // The one rule every user of a style applies: fill within the table, padding within 0.02 … 0.32 and
    // corners within 0 … 0.08, with values that are not numbers taken as the lower limit.
    BackdropStyle clamped() const;

    // "fill", "padding", "corners", "shadow" and, when present, "customHex"; values as they are.
    QJsonObject toJson() const;
    // Nothing when a required key is missing or of the wrong type; "customHex" may be missing or null.
    static std::optional<BackdropStyle> fromJson(const QJsonObject& object);
};
