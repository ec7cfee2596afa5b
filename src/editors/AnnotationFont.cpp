#include "editors/AnnotationFont.h"

#include "ui/UI.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QHash>
#include <QTransform>

namespace AnnotationFont {

namespace {

constexpr double reference = 100;

QFont face(bool bold) {
    static bool registered = [] {
        // The program registers the faces at start; a caller that did not gets them here.
        if (!QFontDatabase::hasFamily(QStringLiteral("Inter")))
            UI::registerFonts();
        return true;
    }();
    Q_UNUSED(registered);
    QFont font = UI::font(reference, bold ? QFont::Bold : QFont::Medium);
    font.setHintingPreference(QFont::PreferNoHinting);
    font.setKerning(true);
    return font;
}

const QFont& medium() {
    static const QFont font = face(false);
    return font;
}

const QFont& bold() {
    static const QFont font = face(true);
    return font;
}

// Outlines are shaped once per line of text; the store is emptied when it grows large, which only
// costs reshaping.
const QPainterPath& referencePath(const QString& line, bool isBold) {
    static QHash<QString, QPainterPath> regular, heavy;
    auto& store = isBold ? heavy : regular;
    auto it = store.constFind(line);
    if (it != store.constEnd())
        return *it;
    if (store.size() > 2000)
        store.clear();
    QPainterPath path;
    path.addText(QPointF(0, 0), isBold ? bold() : medium(), line);
    return *store.insert(line, path);
}

} // namespace

QPainterPath linePath(const QString& line, double size, bool isBold) {
    if (line.isEmpty())
        return {};
    const double k = size / reference;
    return QTransform::fromScale(k, k).map(referencePath(line, isBold));
}

double lineWidth(const QString& line, double size) {
    if (line.isEmpty())
        return 0;
    static QFontMetricsF metrics(medium());
    return metrics.horizontalAdvance(line) * size / reference;
}

double capHeight(double size, bool isBold) {
    static const double regularCap = QFontMetricsF(medium()).capHeight();
    static const double boldCap = QFontMetricsF(bold()).capHeight();
    return (isBold ? boldCap : regularCap) * size / reference;
}

} // namespace AnnotationFont
