#include "editors/BackgroundCanvas.h"

#include "editors/Backdrop.h"
#include "editors/Beautify.h"
#include "editors/CustomColors.h"
#include "imaging/ImageConvert.h"
#include "ui/UI.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

BackgroundCanvas::BackgroundCanvas(const QImage& image, const BackdropStyle& given, QWidget* parent)
    : QWidget(parent), source(image) {
    const int longer = std::max(image.width(), image.height());
    preview = image;
    if (longer > previewLimit) {
        const int w = std::max(1, int(qint64(image.width()) * previewLimit / longer));
        const int h = std::max(1, int(qint64(image.height()) * previewLimit / longer));
        const QImage reduced = ImageConvert::scaled(image, w, h);
        if (!reduced.isNull())
            preview = reduced;
    }
    style = given.clamped();
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    rendered = Beautify::render(preview, style);
    update();
}

bool BackgroundCanvas::show(const BackdropStyle& next) {
    if (next == style)
        return false;
    style = next;
    rendered = Beautify::render(preview, style);
    update();
    return true;
}

std::optional<BackgroundCanvas::Geometry> BackgroundCanvas::geometry() const {
    if (!rendered || rendered->isNull())
        return std::nullopt;
    Geometry g;
    const double rw = rendered->width();
    const double rh = rendered->height();
    g.scale = std::min(width() / rw, height() / rh);
    const QSizeF size(rw * g.scale, rh * g.scale);
    g.imageRect = QRectF(QPointF(width() / 2.0 - size.width() / 2, height() / 2.0 - size.height() / 2), size);
    const double inset = double(std::llround(style.padding * previewLonger())) * g.scale;
    g.pictureRect = g.imageRect.adjusted(inset, inset, -inset, -inset);
    g.radius =
        std::min({previewLonger() * style.corners * g.scale, g.pictureRect.width() / 2, g.pictureRect.height() / 2});
    return g;
}

BackgroundCanvas::Zone BackgroundCanvas::zone(QPointF p, const Geometry& g) const {
    const QRectF& pic = g.pictureRect;
    const double k = std::max(16.0, g.radius);
    const QPointF handle(pic.left() + k, pic.top() + k);
    if (std::hypot(p.x() - handle.x(), p.y() - handle.y()) <= 15)
        return {Zone::Kind::corner, 0, 0};
    if (!g.imageRect.adjusted(-4, -4, 4, 4).contains(p))
        return {};
    if (pic.adjusted(8, 8, -8, -8).contains(p))
        return {};
    const int sideX = p.x() < pic.left() + 8 ? -1 : p.x() > pic.right() - 8 ? 1 : 0;
    // Our y runs down: the bottom band lies at large y.
    const int sideY = p.y() > pic.bottom() - 8 ? -1 : p.y() < pic.top() + 8 ? 1 : 0;
    if (sideX == 0 && sideY == 0)
        return {};
    return {Zone::Kind::padding, sideX, sideY};
}

void BackgroundCanvas::enterEvent(QEnterEvent*) {
    hovering = true;
    update();
}

void BackgroundCanvas::leaveEvent(QEvent*) {
    hovering = false;
    update();
    unsetCursor();
}

void BackgroundCanvas::mouseMoveEvent(QMouseEvent* event) {
    if (drag) {
        dragTo(event->position());
        return;
    }
    const std::optional<Geometry> g = geometry();
    if (!g)
        return;
    const Zone z = zone(event->position(), *g);
    if (z.kind == Zone::Kind::corner)
        setCursor(Qt::PointingHandCursor);
    else if (z.kind == Zone::Kind::none)
        setCursor(Qt::ArrowCursor);
    else if (z.sideX == 0)
        setCursor(Qt::SizeVerCursor);
    else if (z.sideY == 0)
        setCursor(Qt::SizeHorCursor);
    else
        setCursor(Qt::CrossCursor);
}

void BackgroundCanvas::mousePressEvent(QMouseEvent* event) {
    setFocus();
    const std::optional<Geometry> g = geometry();
    if (!g || event->button() != Qt::LeftButton)
        return;
    const Zone z = zone(event->position(), *g);
    if (z.kind == Zone::Kind::padding)
        drag = Drag{
            Drag::Kind::padding, z.sideX, z.sideY, event->position(), previewLonger() * style.padding, 0, g->scale};
    else if (z.kind == Zone::Kind::corner)
        drag = Drag{Drag::Kind::corners, 0, 0, event->position(), 0, g->radius, g->scale};
}

void BackgroundCanvas::dragTo(QPointF p) {
    const double Lp = previewLonger();
    BackdropStyle next = style;
    if (drag->kind == Drag::Kind::padding) {
        double sum = 0;
        int count = 0;
        // Inward is positive: towards the picture's middle the padding grows.
        if (drag->sideX != 0) {
            sum += drag->sideX < 0 ? p.x() - drag->start.x() : drag->start.x() - p.x();
            ++count;
        }
        if (drag->sideY != 0) {
            sum += drag->sideY < 0 ? drag->start.y() - p.y() : p.y() - drag->start.y();
            ++count;
        }
        const double delta = count ? sum / count : 0;
        const double s = drag->scale > 0.0001 ? drag->scale : 0.0001;
        next.padding = (drag->padPx + delta / s) / Lp;
        next = next.clamped();
        chip = QStringLiteral("Padding %1 %").arg(std::llround(next.padding * 100));
    } else {
        const std::optional<Geometry> g = geometry();
        if (!g)
            return;
        const auto along = [&](QPointF q) {
            return ((q.y() - g->pictureRect.top()) + (q.x() - g->pictureRect.left())) / 2;
        };
        const double radius = drag->radiusView + along(p) - along(drag->start);
        next.corners = std::max(radius, 0.0) / std::max(drag->scale, 0.0001) / Lp;
        next = next.clamped();
        const double Ls = std::max(source.width(), source.height());
        chip = QStringLiteral("Corners %1 px").arg(std::llround(next.corners * Ls));
    }
    if (show(next) && onStyleChange)
        onStyleChange(next);
    update();
}

void BackgroundCanvas::mouseReleaseEvent(QMouseEvent*) {
    drag.reset();
    chip.reset();
    update();
}

bool BackgroundCanvas::transparentFill() const {
    if (style.customHex && CustomColors::color(*style.customHex))
        return false;
    return !Backdrop::all().at(style.clamped().fill).colors;
}

void BackgroundCanvas::paintEvent(QPaintEvent*) {
    const std::optional<Geometry> g = geometry();
    if (!g)
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    if (transparentFill()) {
        // The transparent margin would vanish into the dark window without a faint backing.
        QPainterPath backing;
        backing.addRoundedRect(g->imageRect, 6, 6);
        painter.fillPath(backing, QColor(255, 255, 255, int(0.07 * 255)));
    }
    painter.drawImage(g->imageRect, *rendered);
    if (!hovering && !drag)
        return;
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor(255, 255, 255, int(0.4 * 255)), 1));
    painter.drawRoundedRect(g->pictureRect, g->radius, g->radius);
    const double k = std::max(16.0, g->radius);
    painter.setBrush(Qt::white);
    painter.setPen(QPen(UI::accent(), 1.5));
    painter.drawEllipse(QPointF(g->pictureRect.left() + k, g->pictureRect.top() + k), 5.5, 5.5);
    if (chip) {
        QFont font = UI::monoFont(11);
        font.setWeight(QFont::DemiBold);
        painter.setFont(font);
        const QFontMetricsF metrics(font);
        const double tw = metrics.horizontalAdvance(*chip);
        const double th = metrics.height();
        const QRectF box(width() / 2.0 - tw / 2 - 9, 16, tw + 18, th + 6);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor::fromRgbF(0.08f, 0.08f, 0.08f, 0.85f));
        painter.drawRoundedRect(box, box.height() / 2, box.height() / 2);
        painter.setPen(Qt::white);
        painter.drawText(box.adjusted(9, 3, -9, -3), Qt::AlignLeft | Qt::AlignVCenter, *chip);
    }
}
