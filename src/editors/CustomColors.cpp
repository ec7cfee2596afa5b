#include "editors/CustomColors.h"

#include "platform/Defaults.h"

#include <QStringList>
#include <QVariantList>

#include <cmath>

namespace {

const QString key = QStringLiteral("picto.customColors");

// Anything but an array of strings reads as no list at all.
QStringList stored(Defaults& defaults) {
    const std::optional<QVariantList> list = defaults.array(key);
    if (!list)
        return {};
    QStringList strings;
    for (const QVariant& value : *list) {
        if (value.typeId() != QMetaType::QString)
            return {};
        strings.append(value.toString());
    }
    return strings;
}

void store(Defaults& defaults, const QStringList& list) {
    QVariantList values;
    for (const QString& entry : list)
        values.append(entry);
    defaults.set(key, values);
}

} // namespace

QList<QColor> CustomColors::all(Defaults& defaults) {
    QList<QColor> colours;
    for (const QString& entry : stored(defaults))
        if (const std::optional<QColor> colour = color(entry))
            colours.append(*colour);
    return colours;
}

QList<QColor> CustomColors::all() {
    return all(Defaults::standard());
}

QString CustomColors::hex(const QColor& color) {
    const QColor rgb = color.toRgb();
    const auto byte = [](double component) { return int(std::lround(std::clamp(component, 0.0, 1.0) * 255)); };
    return QString::asprintf("#%02X%02X%02X", byte(rgb.redF()), byte(rgb.greenF()), byte(rgb.blueF()));
}

std::optional<QColor> CustomColors::color(const QString& hex) {
    qsizetype from = 0, to = hex.size();
    while (from < to && hex.at(from) == QLatin1Char('#'))
        ++from;
    while (to > from && hex.at(to - 1) == QLatin1Char('#'))
        --to;
    const QString digits = hex.mid(from, to - from);
    if (digits.size() != 6)
        return std::nullopt;
    bool ok = false;
    const long long value = digits.toLongLong(&ok, 16);
    if (!ok)
        return std::nullopt;
    return QColor::fromRgbF(float(((value >> 16) & 0xFF) / 255.0), float(((value >> 8) & 0xFF) / 255.0),
                            float((value & 0xFF) / 255.0), 1.0f);
}

void CustomColors::add(const QColor& color, Defaults& defaults) {
    QStringList list = stored(defaults);
    const QString entry = hex(color);
    list.removeAll(entry);
    list.prepend(entry);
    while (list.size() > limit)
        list.removeLast();
    store(defaults, list);
}

void CustomColors::add(const QColor& color) {
    add(color, Defaults::standard());
}

void CustomColors::remove(const QColor& color, Defaults& defaults) {
    QStringList list = stored(defaults);
    list.removeAll(hex(color));
    store(defaults, list);
}

void CustomColors::remove(const QColor& color) {
    remove(color, Defaults::standard());
}
