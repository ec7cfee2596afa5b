#include "editors/PresetStore.h"

#include "platform/Defaults.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace {

std::optional<QList<StylePreset>> decode(const QByteArray& data) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return std::nullopt;
    QList<StylePreset> list;
    for (const QJsonValue& value : document.array()) {
        if (!value.isObject())
            return std::nullopt;
        const std::optional<StylePreset> preset = StylePreset::fromJson(value.toObject());
        if (!preset)
            return std::nullopt;
        list.append(*preset);
    }
    return list;
}

} // namespace

QString PresetStore::key() {
    return QStringLiteral("picto.stylePresets");
}

QString PresetStore::unreadableKey() {
    return QStringLiteral("picto.stylePresets.unreadable");
}

QList<StylePreset> PresetStore::all(const Defaults& defaults) {
    const std::optional<QByteArray> data = defaults.data(key());
    if (!data)
        return {};
    return decode(*data).value_or(QList<StylePreset>());
}

QList<StylePreset> PresetStore::all() {
    return all(Defaults::standard());
}

bool PresetStore::setAll(const QList<StylePreset>& presets, Defaults& defaults) {
    const QVariant stored = defaults.object(key());
    const bool readable =
        !stored.isValid() || (stored.typeId() == QMetaType::QByteArray && decode(stored.toByteArray()));
    if (!readable && !defaults.set(unreadableKey(), stored))
        return false;
    QJsonArray array;
    for (const StylePreset& preset : presets)
        array.append(preset.toJson());
    // A number JSON can't carry (infinity, NaN) would store a list that no longer reads back: keep the old one.
    const QByteArray encoded = QJsonDocument(array).toJson(QJsonDocument::Compact);
    if (!decode(encoded))
        return false;
    return defaults.set(key(), encoded);
}

bool PresetStore::setAll(const QList<StylePreset>& presets) {
    return setAll(presets, Defaults::standard());
}
