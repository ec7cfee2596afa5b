#include "editors/Annotation.h"

#include <QColor>

#include <algorithm>
#include <cmath>

namespace Annotation {

QColor Color::qcolor() const {
    auto unit = [](double v) { return std::isfinite(v) ? std::clamp(v, 0.0, 1.0) : 0.0; };
    return QColor::fromRgbF(float(unit(r)), float(unit(g)), float(unit(b)), float(unit(a)));
}

Color Color::from(const QColor& color) {
    const QColor rgb = color.toRgb();
    if (!rgb.isValid())
        return {1, 0, 0, 1};
    return {rgb.redF(), rgb.greenF(), rgb.blueF(), rgb.alphaF()};
}

namespace {

struct ToolName {
    Tool tool;
    const char16_t* name;
};

constexpr ToolName toolNames[] = {
    {Tool::Select, u"select"},   {Tool::Arrow, u"arrow"}, {Tool::Line, u"line"},           {Tool::Box, u"box"},
    {Tool::Ellipse, u"ellipse"}, {Tool::Pen, u"pen"},     {Tool::Highlight, u"highlight"}, {Tool::Marker, u"marker"},
    {Tool::Blur, u"blur"},       {Tool::Text, u"text"},   {Tool::Number, u"number"},
};

} // namespace

QString rawValue(Tool tool) {
    for (const ToolName& entry : toolNames)
        if (entry.tool == tool)
            return QString::fromUtf16(entry.name);
    return {};
}

std::optional<Tool> toolFromRawValue(const QString& name) {
    for (const ToolName& entry : toolNames)
        if (name == QStringView(entry.name))
            return entry.tool;
    return std::nullopt;
}

Color white() {
    return {1, 1, 1, 1};
}
Color black() {
    return {0, 0, 0, 1};
}
Color systemRed() {
    return {1.0, 0.231, 0.188, 1};
}

const std::vector<Color>& palette() {
    static const std::vector<Color> colors = {
        {0.93, 0.31, 0.2, 1},
        {1.0, 0.75, 0.0, 1},
        {0.0, 0.41, 0.87, 1},
        {0.04, 0.56, 0.24, 1},
        black(),
        white(),
        {1.0, 0.55, 0.0, 1},
        {0.98, 0.36, 0.62, 1},
        {0.55, 0.32, 0.85, 1},
        {0.0, 0.65, 0.65, 1},
        {0.5, 0.33, 0.2, 1},
        {0.5, 0.5, 0.5, 1},
    };
    return colors;
}

bool sameColor(const Color& a, const Color& b) {
    return std::abs(a.r - b.r) < 0.01 && std::abs(a.g - b.g) < 0.01 && std::abs(a.b - b.b) < 0.01 &&
           std::abs(a.a - b.a) < 0.01;
}

Color paletteMatch(const Color& color) {
    for (const Color& entry : palette())
        if (sameColor(entry, color))
            return entry;
    return color;
}

double strokeUnit(int pictureHeight) {
    return std::max(pictureHeight / 300.0, 2.0);
}

} // namespace Annotation
