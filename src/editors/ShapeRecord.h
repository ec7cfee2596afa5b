#pragma once
// The stored form of one annotation shape, its JSON, and the conversions to and from shapes.
// Reopened edits rely on this format staying readable.

#include "editors/Annotation.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <optional>
#include <vector>

struct ShapeRecord {
    QString type;
    std::vector<double> p; // the geometry flattened; rectangles as minX, minY, width, height
    QString text;
    qint64 n = 0;
    std::vector<double> color; // sRGB red, green, blue, alpha
    double width = 0;
    bool filled = false;
    std::optional<QByteArray> png; // a signature's picture as PNG bytes

    bool operator==(const ShapeRecord&) const = default;

    // Never fails; a signature whose picture cannot be encoded is stored without one.
    static ShapeRecord of(const Annotation::Shape& shape);
    // Nothing when the record cannot become a shape (wrong colour, unknown type, too few values,
    // a signature without a readable picture).
    std::optional<Annotation::Shape> shape() const;

    // Nothing when a number is not finite: JSON has no way to write it.
    std::optional<QJsonObject> toJson() const;
    // Nothing when a key is missing or holds the wrong type; extra keys are ignored.
    static std::optional<ShapeRecord> fromJson(const QJsonValue& value);
};

namespace ShapeRecords {

// A document {"shapes": [...]}, compact. Nothing when a record cannot be written.
std::optional<QByteArray> encode(const std::vector<ShapeRecord>& records);
// Nothing when the text is no such document or any record in it is malformed.
std::optional<std::vector<ShapeRecord>> decode(const QByteArray& json);

} // namespace ShapeRecords
