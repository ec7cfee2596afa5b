#pragma once
// The review of a redacted picture on the enlarged card, without its widgets: which box is selected,
// drawing a new box, moving and resizing one by its eight handles. Points are the card view's (top-left
// origin); the boxes stay in the record's unit square with its origin at the bottom left, and are turned
// around only in markRect() and normalized().

#include "card/RedactMarks.h"

#include <QPointF>
#include <QRectF>

#include <optional>

class RedactReview {
public:
    enum class Drag { None, Move, Resize, Create };

    // Handles in order: bottom left, bottom middle, bottom right, left middle, right middle, top left,
    // top middle, top right; -1 the minimum edge (left, bottom), 0 the middle, 1 the maximum edge.
    static constexpr int handleDirs[8][2] = {{-1, -1}, {0, -1}, {1, -1}, {-1, 0}, {1, 0}, {-1, 1}, {0, 1}, {1, 1}};
    static constexpr double hitSlop = 3;
    static constexpr double handleReach = 9;
    static constexpr double minResize = 3;
    static constexpr double minNew = 4;

    // The record under review; none = no review.
    std::optional<RedactMarks::State> rs;
    QRectF imageRect;
    std::optional<int> selMark;
    bool committing = false;
    Drag dragKind = Drag::None;
    std::optional<QRectF> newRect;

    bool drawMode() const { return drawing; }
    // Turning drawing on clears the selection.
    void setDrawMode(bool on);

    QRectF markRect(QRectF unit) const;
    QRectF normalized(QRectF view) const;
    static QPointF handleCentre(QRectF viewRect, int handle);
    // The last box whose rectangle, grown by 3, holds the point.
    std::optional<int> markIndex(QPointF p) const;
    // The first handle of box `i` within 9 of the point.
    std::optional<int> handle(QPointF p, int i) const;

    // A press on the picture; true when the review takes it.
    bool press(QPointF p);
    void drag(QPointF p);
    // Ends a drag; true when the boxes are to be rendered again.
    bool release();
    // Removes the selected box; true when the boxes are to be rendered again.
    bool deleteSelected();
    // Drops a selection that no longer names a box.
    void validateSelection();
    // "Drag over what to hide", "Drag to move · handles resize" or "3 boxes · click one to edit".
    QString barText() const;

private:
    bool drawing = false;
    QPointF dragStart;
    QRectF dragFrom;
    int dragHandle = 0;
};
