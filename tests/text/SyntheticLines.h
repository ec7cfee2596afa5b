#pragma once
// Recognised lines made up by the tests: a text and its normalised box (origin lower left),
// its characters spread evenly over the box.

#include "text/TextLine.h"

#include <QStringList>
#include <ostream>
#include <vector>

// Readable failure messages for strings.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

inline TextVision::Line makeLine(const QString& text, double x, double y, double w, double h) {
    std::vector<QRectF> units;
    const double step = text.isEmpty() ? 0 : w / double(text.size());
    for (qsizetype i = 0; i < text.size(); ++i)
        units.push_back(text.at(i).isSpace() ? QRectF() : QRectF(x + step * double(i), y, step, h));
    return {text, QRectF(x, y, w, h), std::make_shared<const TextVision::Candidate>(text, units)};
}

inline QStringList textsOf(const std::vector<TextVision::Line>& lines) {
    QStringList out;
    for (const auto& line : lines)
        out << line.text;
    return out;
}
