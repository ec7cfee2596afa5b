#include "editors/StylePreset.h"

#include <QJsonValue>

QString StylePreset::idString() const {
    return id.toString(QUuid::WithoutBraces).toUpper();
}

QJsonObject StylePreset::toJson() const {
    QJsonObject object{{QStringLiteral("id"), idString()}, {QStringLiteral("name"), name}};
    if (annotate)
        object.insert(QStringLiteral("annotate"), annotate->toJson());
    if (background)
        object.insert(QStringLiteral("background"), background->toJson());
    return object;
}

std::optional<StylePreset> StylePreset::fromJson(const QJsonObject& object) {
    const QJsonValue id = object.value(QStringLiteral("id"));
    const QJsonValue name = object.value(QStringLiteral("name"));
    if (!id.isString() || !name.isString())
        return std::nullopt;
    StylePreset preset;
    preset.id = QUuid::fromString(id.toString());
    if (preset.id.isNull())
        return std::nullopt;
    preset.name = name.toString();
    for (const auto& [key, kind] : {std::pair{"annotate", 0}, std::pair{"background", 1}}) {
        const QJsonValue value = object.value(QLatin1String(key));
        if (value.isUndefined() || value.isNull())
            continue;
        if (!value.isObject())
            return std::nullopt;
        if (kind == 0) {
            preset.annotate = AnnotateStyle::fromJson(value.toObject());
            if (!preset.annotate)
                return std::nullopt;
        } else {
            preset.background = BackdropStyle::fromJson(value.toObject());
            if (!preset.background)
                return std::nullopt;
        }
    }
    return preset;
}
