#pragma once
// A named style the user kept: an annotate style, a backdrop style, or (after saving the same name from
// both editors) both.

#include "editors/AnnotateStyle.h"
#include "editors/BackdropStyle.h"

#include <QJsonObject>
#include <QString>
#include <QUuid>

#include <optional>

struct StylePreset {
    QUuid id;
    QString name;
    std::optional<AnnotateStyle> annotate;
    std::optional<BackdropStyle> background;

    // The id as 36 upper-case characters without braces, as it is stored and matched.
    QString idString() const;
    QJsonObject toJson() const;
    // Nothing when "id" is not a UUID, "name" is not a string, or a present style does not decode.
    static std::optional<StylePreset> fromJson(const QJsonObject& object);
};
