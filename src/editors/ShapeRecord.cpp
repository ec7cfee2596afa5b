#include "editors/ShapeRecord.h"

#include <QBuffer>
#include <QImageReader>
#include <QImageWriter>
#include <QJsonArray>
#include <QJsonDocument>

#include <cmath>
#include <limits>

using namespace Annotation;

namespace {

void put(std::vector<double>& p, const QPointF& point) {
    p.push_back(point.x());
    p.push_back(point.y());
}

void put(std::vector<double>& p, const QRectF& rect) {
    const QRectF r = rect.normalized();
    p.insert(p.end(), {r.x(), r.y(), r.width(), r.height()});
}

QPointF pointAt(const std::vector<double>& p, size_t i) {
    return {p[i], p[i + 1]};
}
QRectF rectAt(const std::vector<double>& p, size_t i) {
    return {p[i], p[i + 1], p[i + 2], p[i + 3]};
}

QList<QPointF> points(const std::vector<double>& p) {
    QList<QPointF> out;
    out.reserve(qsizetype(p.size() / 2));
    for (size_t i = 0; i + 1 < p.size(); i += 2)
        out.push_back(pointAt(p, i));
    return out;
}

std::optional<QByteArray> pngOf(const QImage& image) {
    if (image.isNull())
        return std::nullopt;
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    if (!writer.write(image) || bytes.isEmpty())
        return std::nullopt;
    return bytes;
}

// The reader's allocation limit refuses pictures that claim an absurd size.
QImage imageOf(const QByteArray& bytes) {
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    return reader.read();
}

bool finite(const std::vector<double>& values) {
    for (double v : values)
        if (!std::isfinite(v))
            return false;
    return true;
}

QJsonArray numbers(const std::vector<double>& values) {
    QJsonArray array;
    for (double v : values)
        array.append(v);
    return array;
}

std::optional<std::vector<double>> readNumbers(const QJsonValue& value) {
    if (!value.isArray())
        return std::nullopt;
    const QJsonArray array = value.toArray();
    std::vector<double> out;
    out.reserve(size_t(array.size()));
    for (const QJsonValue& v : array) {
        if (!v.isDouble())
            return std::nullopt;
        out.push_back(v.toDouble());
    }
    return out;
}

} // namespace

ShapeRecord ShapeRecord::of(const Shape& shape) {
    ShapeRecord record;
    record.color = {shape.color.r, shape.color.g, shape.color.b, shape.color.a};
    record.width = shape.width;
    record.filled = shape.filled;
    std::visit(
        [&](const auto& k) {
            using K = std::decay_t<decltype(k)>;
            if constexpr (std::is_same_v<K, Arrow>) {
                record.type = QStringLiteral("arrow");
                put(record.p, k.tail), put(record.p, k.head);
            } else if constexpr (std::is_same_v<K, Line>) {
                record.type = QStringLiteral("line");
                put(record.p, k.start), put(record.p, k.end);
            } else if constexpr (std::is_same_v<K, Box>) {
                record.type = QStringLiteral("box");
                put(record.p, k.rect);
            } else if constexpr (std::is_same_v<K, Ellipse>) {
                record.type = QStringLiteral("ellipse");
                put(record.p, k.rect);
            } else if constexpr (std::is_same_v<K, Pen>) {
                record.type = QStringLiteral("pen");
                for (const QPointF& q : k.points)
                    put(record.p, q);
            } else if constexpr (std::is_same_v<K, Highlight>) {
                record.type = QStringLiteral("highlight");
                for (const QPointF& q : k.points)
                    put(record.p, q);
            } else if constexpr (std::is_same_v<K, Marker>) {
                record.type = QStringLiteral("marker");
                for (const QRectF& r : k.rects)
                    put(record.p, r);
            } else if constexpr (std::is_same_v<K, Blur>) {
                record.type = QStringLiteral("blur");
                put(record.p, k.rect);
            } else if constexpr (std::is_same_v<K, Text>) {
                record.type = QStringLiteral("text");
                put(record.p, k.anchor);
                record.text = k.text;
            } else if constexpr (std::is_same_v<K, Number>) {
                record.type = QStringLiteral("number");
                put(record.p, k.centre);
                record.n = k.n;
            } else {
                record.type = QStringLiteral("signature");
                put(record.p, k.rect);
                record.png = pngOf(shape.image);
            }
        },
        shape.kind);
    return record;
}

std::optional<Shape> ShapeRecord::shape() const {
    if (color.size() != 4)
        return std::nullopt;
    Shape out;
    out.color = paletteMatch({color[0], color[1], color[2], color[3]});
    out.width = width;
    out.filled = filled;
    const size_t count = p.size();
    if (type == u"arrow" || type == u"line") {
        if (count < 4)
            return std::nullopt;
        if (type == u"arrow")
            out.kind = Arrow{pointAt(p, 0), pointAt(p, 2)};
        else
            out.kind = Line{pointAt(p, 0), pointAt(p, 2)};
    } else if (type == u"box" || type == u"ellipse" || type == u"blur") {
        if (count < 4)
            return std::nullopt;
        const QRectF r = rectAt(p, 0);
        if (type == u"box")
            out.kind = Box{r};
        else if (type == u"ellipse")
            out.kind = Ellipse{r};
        else
            out.kind = Blur{r};
    } else if (type == u"pen") {
        out.kind = Pen{points(p)};
    } else if (type == u"highlight") {
        out.kind = Highlight{points(p)};
    } else if (type == u"marker") {
        Marker marker;
        for (size_t i = 0; i + 3 < count; i += 4)
            marker.rects.push_back(rectAt(p, i));
        out.kind = marker;
    } else if (type == u"text") {
        if (count < 2)
            return std::nullopt;
        out.kind = Text{text, pointAt(p, 0)};
    } else if (type == u"number") {
        if (count < 2)
            return std::nullopt;
        out.kind = Number{n, pointAt(p, 0)};
    } else if (type == u"signature") {
        if (count < 4 || !png)
            return std::nullopt;
        out.image = imageOf(*png);
        if (out.image.isNull())
            return std::nullopt;
        out.kind = Signature{rectAt(p, 0)};
    } else {
        return std::nullopt;
    }
    return out;
}

std::optional<QJsonObject> ShapeRecord::toJson() const {
    if (!finite(p) || !finite(color) || !std::isfinite(width))
        return std::nullopt;
    QJsonObject object{
        {QStringLiteral("type"), type},     {QStringLiteral("p"), numbers(p)},         {QStringLiteral("text"), text},
        {QStringLiteral("n"), n},           {QStringLiteral("color"), numbers(color)}, {QStringLiteral("width"), width},
        {QStringLiteral("filled"), filled},
    };
    if (png)
        object.insert(QStringLiteral("png"), QString::fromLatin1(png->toBase64()));
    return object;
}

std::optional<ShapeRecord> ShapeRecord::fromJson(const QJsonValue& value) {
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject o = value.toObject();
    const QJsonValue type = o.value(QStringLiteral("type"));
    const QJsonValue text = o.value(QStringLiteral("text"));
    const QJsonValue n = o.value(QStringLiteral("n"));
    const QJsonValue width = o.value(QStringLiteral("width"));
    const QJsonValue filled = o.value(QStringLiteral("filled"));
    if (!type.isString() || !text.isString() || !n.isDouble() || !width.isDouble() || !filled.isBool())
        return std::nullopt;
    // An integral number that fits 64 bits converts whatever the fallback; anything else gives the fallback.
    const qint64 number = n.toInteger(0);
    if (number != n.toInteger(1))
        return std::nullopt;
    auto p = readNumbers(o.value(QStringLiteral("p")));
    auto color = readNumbers(o.value(QStringLiteral("color")));
    if (!p || !color)
        return std::nullopt;
    ShapeRecord record;
    record.type = type.toString();
    record.p = std::move(*p);
    record.text = text.toString();
    record.n = number;
    record.color = std::move(*color);
    record.width = width.toDouble();
    record.filled = filled.toBool();
    const QJsonValue png = o.value(QStringLiteral("png"));
    if (png.isString()) {
        // Padding is required: text of the standard alphabet always comes in groups of four.
        const QByteArray text = png.toString().toLatin1();
        auto decoded = QByteArray::fromBase64Encoding(text, QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded || text.size() % 4 != 0)
            return std::nullopt;
        record.png = std::move(*decoded);
    } else if (!png.isNull() && !png.isUndefined()) {
        return std::nullopt;
    }
    return record;
}

namespace ShapeRecords {

std::optional<QByteArray> encode(const std::vector<ShapeRecord>& records) {
    QJsonArray shapes;
    for (const ShapeRecord& record : records) {
        auto object = record.toJson();
        if (!object)
            return std::nullopt;
        shapes.append(*object);
    }
    return QJsonDocument(QJsonObject{{QStringLiteral("shapes"), shapes}}).toJson(QJsonDocument::Compact);
}

std::optional<std::vector<ShapeRecord>> decode(const QByteArray& json) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonValue shapes = document.object().value(QStringLiteral("shapes"));
    if (!shapes.isArray())
        return std::nullopt;
    std::vector<ShapeRecord> records;
    for (const QJsonValue& value : shapes.toArray()) {
        auto record = ShapeRecord::fromJson(value);
        if (!record)
            return std::nullopt;
        records.push_back(std::move(*record));
    }
    return records;
}

} // namespace ShapeRecords
