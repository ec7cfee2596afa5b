#include "card/RedactReview.h"

#include "card/CardGeometry.h"

#include <algorithm>
#include <cmath>

namespace {

QRectF spanned(double x1, double y1, double x2, double y2) {
    return QRectF(QPointF(std::min(x1, x2), std::min(y1, y2)), QPointF(std::max(x1, x2), std::max(y1, y2)));
}

} // namespace

void RedactReview::setDrawMode(bool on) {
    drawing = on;
    if (on)
        selMark.reset();
}

QRectF RedactReview::markRect(QRectF unit) const {
    return CardGeometry::unitBoxInImage(unit, imageRect);
}

QRectF RedactReview::normalized(QRectF r) const {
    const double w = imageRect.width(), h = imageRect.height();
    if (w <= 0 || h <= 0)
        return {};
    return {(r.left() - imageRect.left()) / w, (imageRect.bottom() - r.bottom()) / h, r.width() / w, r.height() / h};
}

QPointF RedactReview::handleCentre(QRectF r, int h) {
    const int dx = handleDirs[h][0], dy = handleDirs[h][1];
    const double x = dx < 0 ? r.left() : dx > 0 ? r.right() : r.center().x();
    // On screen the bottom edge is the larger y.
    const double y = dy < 0 ? r.bottom() : dy > 0 ? r.top() : r.center().y();
    return {x, y};
}

std::optional<int> RedactReview::markIndex(QPointF p) const {
    if (!rs)
        return std::nullopt;
    for (int i = int(rs->boxes.size()) - 1; i >= 0; --i)
        if (markRect(rs->boxes[size_t(i)]).adjusted(-hitSlop, -hitSlop, hitSlop, hitSlop).contains(p))
            return i;
    return std::nullopt;
}

std::optional<int> RedactReview::handle(QPointF p, int i) const {
    if (!rs || i < 0 || i >= int(rs->boxes.size()))
        return std::nullopt;
    const QRectF r = markRect(rs->boxes[size_t(i)]);
    for (int h = 0; h < 8; ++h) {
        const QPointF d = handleCentre(r, h) - p;
        if (std::hypot(d.x(), d.y()) <= handleReach)
            return h;
    }
    return std::nullopt;
}

bool RedactReview::press(QPointF p) {
    if (!rs || committing)
        return false;
    dragStart = p;
    if (drawing) {
        dragKind = Drag::Create;
        newRect = QRectF(p, QSizeF(0, 0));
        return true;
    }
    if (selMark) {
        if (const std::optional<int> h = handle(p, *selMark)) {
            dragKind = Drag::Resize;
            dragHandle = *h;
            dragFrom = markRect(rs->boxes[size_t(*selMark)]);
            return true;
        }
    }
    if (const std::optional<int> i = markIndex(p)) {
        selMark = i;
        dragKind = Drag::Move;
        dragFrom = markRect(rs->boxes[size_t(*i)]);
        return true;
    }
    selMark.reset();
    return false;
}

void RedactReview::drag(QPointF p) {
    const QPointF d = p - dragStart;
    switch (dragKind) {
    case Drag::None:
        return;
    case Drag::Move: {
        QRectF r = dragFrom.translated(d);
        r.moveLeft(std::max(imageRect.left(), std::min(r.left(), imageRect.right() - r.width())));
        r.moveTop(std::max(imageRect.top(), std::min(r.top(), imageRect.bottom() - r.height())));
        if (rs && selMark && *selMark < int(rs->boxes.size()))
            rs->boxes[size_t(*selMark)] = normalized(r);
        return;
    }
    case Drag::Create:
        newRect = spanned(dragStart.x(), dragStart.y(), p.x(), p.y()).intersected(imageRect);
        return;
    case Drag::Resize: {
        double left = dragFrom.left(), right = dragFrom.right(), top = dragFrom.top(), bottom = dragFrom.bottom();
        const int dx = handleDirs[dragHandle][0], dy = handleDirs[dragHandle][1];
        if (dx < 0)
            left += d.x();
        else if (dx > 0)
            right += d.x();
        if (dy < 0)
            bottom += d.y();
        else if (dy > 0)
            top += d.y();
        const QRectF r = spanned(left, top, right, bottom).intersected(imageRect);
        if (rs && selMark && *selMark < int(rs->boxes.size()) && r.width() > minResize && r.height() > minResize)
            rs->boxes[size_t(*selMark)] = normalized(r);
        return;
    }
    }
}

bool RedactReview::release() {
    const Drag kind = dragKind;
    dragKind = Drag::None;
    if (kind == Drag::None)
        return false;
    if (kind == Drag::Create) {
        const std::optional<QRectF> drawn = newRect;
        newRect.reset();
        if (!drawn || !rs || drawn->width() <= minNew || drawn->height() <= minNew)
            return false;
        rs->boxes.push_back(normalized(*drawn));
        setDrawMode(false);
        selMark = int(rs->boxes.size()) - 1;
    }
    return true;
}

bool RedactReview::deleteSelected() {
    if (!rs || !selMark || committing || *selMark < 0 || *selMark >= int(rs->boxes.size()))
        return false;
    rs->boxes.erase(rs->boxes.begin() + *selMark);
    selMark.reset();
    return true;
}

void RedactReview::validateSelection() {
    if (!rs || (selMark && (*selMark < 0 || *selMark >= int(rs->boxes.size()))))
        selMark.reset();
}

QString RedactReview::barText() const {
    if (drawing)
        return QStringLiteral("Drag over what to hide");
    if (selMark)
        return QStringLiteral("Drag to move \u00b7 handles resize");
    const size_t n = rs ? rs->boxes.size() : 0;
    return QString::number(n) + (n == 1 ? QStringLiteral(" box") : QStringLiteral(" boxes")) +
           QStringLiteral(" \u00b7 click one to edit");
}
