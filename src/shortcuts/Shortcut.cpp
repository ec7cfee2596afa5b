#include "shortcuts/Shortcut.h"

#include "platform/Defaults.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <cmath>
#include <limits>

namespace {

std::optional<int> integerOf(const QJsonValue& value) {
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (number != std::floor(number) || number < double(std::numeric_limits<int>::min()) ||
        number > double(std::numeric_limits<int>::max()))
        return std::nullopt;
    return int(number);
}

} // namespace

QString Shortcut::modifierWords(int mask) {
    QString words;
    if (mask & command)
        words += QStringLiteral("Super+");
    if (mask & control)
        words += QStringLiteral("Ctrl+");
    if (mask & option)
        words += QStringLiteral("Alt+");
    if (mask & shift)
        words += QStringLiteral("Shift+");
    return words;
}

QString Shortcut::display() const {
    return modifierWords(modifiers) + keyName;
}

QByteArray Shortcut::json() const {
    // QJsonObject sorts its keys; the stored form keeps the field order, so only the name goes
    // through the JSON writer, for its escaping.
    QByteArray name = QJsonDocument(QJsonArray{keyName}).toJson(QJsonDocument::Compact);
    name = name.mid(1, name.size() - 2);
    return "{\"keyCode\":" + QByteArray::number(keyCode) + ",\"modifiers\":" + QByteArray::number(modifiers) +
           ",\"keyName\":" + name + "}";
}

std::optional<Shortcut> Shortcut::fromJson(const QByteArray& data) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    const auto code = integerOf(object.value(QStringLiteral("keyCode")));
    const auto mask = integerOf(object.value(QStringLiteral("modifiers")));
    const QJsonValue name = object.value(QStringLiteral("keyName"));
    if (!code || !mask || !name.isString())
        return std::nullopt;
    return Shortcut{*code, *mask, name.toString()};
}

void Shortcut::save(const QString& key) const {
    save(key, Defaults::standard());
}

void Shortcut::save(const QString& key, Defaults& defaults) const {
    defaults.set(defaultsKey(key), json());
}

Shortcut Shortcut::load(const QString& key, const Shortcut& def) {
    return load(key, def, Defaults::standard());
}

Shortcut Shortcut::load(const QString& key, const Shortcut& def, const Defaults& defaults) {
    const std::optional<QByteArray> data = defaults.data(defaultsKey(key));
    if (!data)
        return def;
    return fromJson(*data).value_or(def);
}

const QHash<int, QString>& Shortcut::keyNames() {
    static const QHash<int, QString> names{
        {49, QStringLiteral("Space")},   {36, QStringLiteral("\u21a9")},  {48, QStringLiteral("\u21e5")},
        {51, QStringLiteral("\u232b")},  {117, QStringLiteral("\u2326")}, {53, QStringLiteral("\u238b")},
        {123, QStringLiteral("\u2190")}, {124, QStringLiteral("\u2192")}, {126, QStringLiteral("\u2191")},
        {125, QStringLiteral("\u2193")}, {115, QStringLiteral("Home")},   {119, QStringLiteral("End")},
        {116, QStringLiteral("PgUp")},   {121, QStringLiteral("PgDn")},   {122, QStringLiteral("F1")},
        {120, QStringLiteral("F2")},     {99, QStringLiteral("F3")},      {118, QStringLiteral("F4")},
        {96, QStringLiteral("F5")},      {97, QStringLiteral("F6")},      {98, QStringLiteral("F7")},
        {100, QStringLiteral("F8")},     {101, QStringLiteral("F9")},     {109, QStringLiteral("F10")},
        {103, QStringLiteral("F11")},    {111, QStringLiteral("F12")},
    };
    return names;
}

const QList<int>& Shortcut::functionKeyCodes() {
    static const QList<int> codes{122, 120, 99,  118, 96,  97,  98, 100, 101, 109,
                                  103, 111, 105, 107, 113, 106, 64, 79,  80};
    return codes;
}

std::optional<Shortcut> Shortcut::fromKey(int keyCode, int modifiers, const QString& characters) {
    const int mask = modifiers & (command | shift | option | control);
    if ((mask & ~shift) == 0 && !functionKeyCodes().contains(keyCode))
        return std::nullopt;
    const QString name = keyNames().contains(keyCode) ? keyNames().value(keyCode) : characters.toUpper().trimmed();
    if (name.isEmpty())
        return std::nullopt;
    return Shortcut{keyCode, mask, name};
}
