#pragma once
// The fifteen fills a backdrop can have, and the round sample that stands for one in menus.

#include <QColor>
#include <QIcon>
#include <QLinearGradient>
#include <QList>
#include <QPainter>
#include <QString>

#include <optional>

class Backdrop {
public:
    Backdrop() = delete;

    struct Fill {
        QString name;
        // Evenly spaced gradient stops; absent for the transparent fill.
        std::optional<QList<QColor>> colors;
        // Degrees counter-clockwise from the x axis with y pointing up: 315 runs from top left to bottom right.
        double angle = 0;
    };

    static const QList<Fill>& all();
    // A flat fill of one colour, named by its hex text, as saved colours are shown.
    static Fill flat(const QColor& color, const QString& name);
    // A round sample of the fill, size × size, drawn afresh at every size it is asked for.
    static QIcon swatch(const Fill& fill, double size);
    // Paints the sample into `rect`: the oval 1 inside it, the gradient (or faint white), a white rim.
    static void paintSwatch(QPainter& painter, const QRectF& rect, const Fill& fill);
    // The stops and direction of a gradient that runs across `rect` at `angle` (y-up degrees), covering it
    // exactly along that direction and painting on beyond both ends.
    static QLinearGradient gradient(const QRectF& rect, const QList<QColor>& colors, double angle);
};
