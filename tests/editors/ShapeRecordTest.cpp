// Shape records: the stored JSON form, what a record turns into, and damaged documents.

#include "editors/ShapeRecord.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <functional>
#include <gtest/gtest.h>

using namespace Annotation;

namespace {

QByteArray golden() {
    QFile file(QStringLiteral(GOLDEN_SHAPES));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    return file.readAll();
}

QByteArray compact(const QByteArray& json) {
    return QJsonDocument::fromJson(json).toJson(QJsonDocument::Compact);
}

// A document of one valid box record after the change.
QByteArray document(const std::function<void(QJsonObject&)>& change = {}) {
    QJsonObject r{{QStringLiteral("type"), QStringLiteral("box")},
                  {QStringLiteral("p"), QJsonArray{1, 2, 3, 4}},
                  {QStringLiteral("text"), QString()},
                  {QStringLiteral("n"), 0},
                  {QStringLiteral("color"), QJsonArray{0, 0, 0, 1}},
                  {QStringLiteral("width"), 2},
                  {QStringLiteral("filled"), false}};
    if (change)
        change(r);
    return QJsonDocument(QJsonObject{{QStringLiteral("shapes"), QJsonArray{r}}}).toJson(QJsonDocument::Compact);
}

std::function<void(QJsonObject&)> set(const char* key, const QJsonValue& value) {
    return [key, value](QJsonObject& r) { r.insert(QString::fromLatin1(key), value); };
}

std::function<void(QJsonObject&)> drop(const char* key) {
    return [key](QJsonObject& r) { r.remove(QString::fromLatin1(key)); };
}

ShapeRecord record(const char* type, std::vector<double> p, std::vector<double> color = {0, 0, 0, 1},
                   std::optional<QByteArray> png = {}) {
    ShapeRecord r;
    r.type = QString::fromLatin1(type);
    r.p = std::move(p);
    r.color = std::move(color);
    r.width = 2;
    r.png = std::move(png);
    return r;
}

} // namespace

TEST(ShapeRecordTest, GoldenDocumentOfEveryKindReadsAndWritesBackUnchanged) {
    const auto records = ShapeRecords::decode(golden());
    ASSERT_TRUE(records);
    ASSERT_EQ(records->size(), 12u);
    const auto written = ShapeRecords::encode(*records);
    ASSERT_TRUE(written);
    EXPECT_EQ(compact(*written).toStdString(), compact(golden()).toStdString());

    // Through shapes and back: the same numbers, text and n; the signature keeps its picture.
    for (const ShapeRecord& r : *records) {
        const auto shape = r.shape();
        ASSERT_TRUE(shape) << r.type.toStdString();
        ShapeRecord again = ShapeRecord::of(*shape);
        if (r.png) {
            ASSERT_TRUE(again.png);
            EXPECT_EQ(ShapeRecord(again).shape()->image, r.shape()->image);
            again.png = r.png;
        }
        EXPECT_EQ(again, r) << r.type.toStdString();
    }
    EXPECT_EQ(std::get<Number>((*records)[10].shape()->kind).n, -9007199254740993LL);
}

TEST(ShapeRecordTest, MalformedDocumentsAreRefusedWhole) {
    const std::vector<std::pair<QByteArray, const char*>> cases = {
        {document().left(40), "truncated"},
        {R"({"shapes":{}})", "shapes not an array"},
        {R"({"other":[]})", "no shapes"},
        {document(set("n", 1.5)), "fractional n"},
        {document(set("n", 1e30)), "n beyond 64 bits"},
        {document(set("filled", 1)), "filled as a number"},
        {document(set("p", QJsonArray{QStringLiteral("x")})), "p of strings"},
        {document(set("color", QStringLiteral("red"))), "colour as a string"},
        {document(set("width", QJsonValue::Null)), "width null"},
        {document(drop("text")), "text missing"},
        {document(set("type", 3)), "type a number"},
        {document(set("png", QStringLiteral("@@@"))), "png not base64"},
        {document(set("png", 5)), "png a number"},
        {document(set("png", QStringLiteral("QUI"))), "png without padding"},
    };
    for (const auto& [json, why] : cases)
        EXPECT_FALSE(ShapeRecords::decode(json)) << why;
    // Extra keys and a null picture are fine.
    EXPECT_TRUE(ShapeRecords::decode(document([](QJsonObject& r) {
        r.insert(QStringLiteral("png"), QJsonValue::Null);
        r.insert(QStringLiteral("x"), QJsonArray());
    })));
}

TEST(ShapeRecordTest, RecordsThatMakeNoShapeAreDroppedAlone) {
    const QByteArray huge = QByteArray::fromBase64(
        "iVBORw0KGgoAAAANSUhEUgABhqAAAYagCAYAAACoUgvIAAAAC0lEQVR4nGNggAEAAAoAAX+AdF4AAAAASUVORK5CYII=");
    const std::tuple<ShapeRecord, bool, const char*> cases[] = {
        {record("box", {1, 2, 3, 4}, {0, 0, 0}), false, "three colour values"},
        {record("box", {1, 2, 3, 4}, {0, 0, 0, 1, 0}), false, "five colour values"},
        {record("box", {1, 2, 3}), false, "box of three values"},
        {record("box", {1, 2, 3, 4, 5}), true, "box of five values"},
        {record("arrow", {1, 2, 3}), false, "arrow of three values"},
        {record("text", {1}), false, "text without anchor"},
        {record("number", {1, 2}), true, "number"},
        {record("pen", {}), true, "empty pen"},
        {record("marker", {}), true, "empty marker"},
        {record("Box", {1, 2, 3, 4}), false, "capitalised type"},
        {record("signature", {0, 0, 10, 10}), false, "signature without png"},
        {record("signature", {0, 0, 10, 10}, {0, 0, 0, 1}, "not a picture"), false, "png that is no picture"},
        {record("signature", {0, 0, 10, 10}, {0, 0, 0, 1}, huge), false, "png claiming 100000 x 100000"},
    };
    for (const auto& [r, makesShape, why] : cases)
        EXPECT_EQ(r.shape().has_value(), makesShape) << why;

    // Odd counts drop the unpaired rest.
    EXPECT_EQ(std::get<Pen>(record("pen", {1, 2, 3, 4, 5}).shape()->kind).points, (QList<QPointF>{{1, 2}, {3, 4}}));
    EXPECT_EQ(std::get<Marker>(record("marker", {1, 2, 3, 4, 5, 6, 7}).shape()->kind).rects.size(), 1);
}

TEST(ShapeRecordTest, ColoursSnapToThePaletteOnlyWithinOneHundredth) {
    const Color red = palette()[0];
    EXPECT_EQ(record("box", {0, 0, 1, 1}, {red.r + 0.009, red.g - 0.009, red.b, 1}).shape()->color, red);
    EXPECT_EQ(record("box", {0, 0, 1, 1}, {red.r + 0.02, red.g, red.b, 1}).shape()->color,
              (Color{red.r + 0.02, red.g, red.b, 1}));
}

TEST(ShapeRecordTest, ShapesBecomeRecordsAndToolsAreNamedExactly) {
    // A box dragged from top right to bottom left is stored by its lower-left corner.
    Shape box{Box{QRectF(QPointF(50, 40), QPointF(10, 5))}, palette()[2], 3, true, {}};
    EXPECT_EQ(ShapeRecord::of(box).p, (std::vector<double>{10, 5, 40, 35}));
    // JSON cannot hold infinities or NaN: the document is not written rather than written wrong.
    Shape broken{Line{QPointF(0, 0), QPointF(qQNaN(), 1)}, palette()[0], 2, false, {}};
    EXPECT_FALSE(ShapeRecords::encode({ShapeRecord::of(broken)}));

    EXPECT_EQ(toolFromRawValue(QStringLiteral("select")), Tool::Select);
    EXPECT_EQ(toolFromRawValue(QStringLiteral("Select")), std::nullopt);
}
