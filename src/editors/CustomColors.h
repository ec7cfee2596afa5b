#pragma once
// The colours the user picked outside the palette, newest first, at most twelve, kept as "#RRGGBB" under
// "picto.customColors". Nothing is cached: every call reads the settings afresh.

#include <QColor>
#include <QList>
#include <QString>

#include <optional>

class Defaults;

class CustomColors {
public:
    CustomColors() = delete;

    static constexpr int limit = 12;

    // The stored colours in stored order; entries that are no colour are skipped.
    static QList<QColor> all(Defaults& defaults);
    static QList<QColor> all();
    // "#" and six upper-case hexadecimal digits of the sRGB colour; alpha is dropped.
    static QString hex(const QColor& color);
    // Six hexadecimal digits after stripping "#" at either end; an opaque sRGB colour.
    static std::optional<QColor> color(const QString& hex);
    // Puts the colour first; an equal entry moves instead of repeating; the oldest beyond twelve go.
    static void add(const QColor& color, Defaults& defaults);
    static void add(const QColor& color);
    static void remove(const QColor& color, Defaults& defaults);
    static void remove(const QColor& color);
};
