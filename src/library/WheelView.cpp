#include "library/WheelView.h"

#include "ui/UI.h"

#include <QDragEnterEvent>
#include <QMimeData>
#include <QPainter>
#include <QPointer>
#include <QTimer>
#include <QtMath>

#include <cmath>

namespace {

const QColor base = QColor::fromRgbF(0.11f, 0.117f, 0.121f, 0.94f);
constexpr double labelRadius = 111;
constexpr double discDiameter = 96;

// Text centred on a point, cut with an ellipsis when wider than the box, as high as it needs.
void drawCentred(QPainter& painter, const QString& text, QPointF centre, double width, const QFont& font,
                 const QColor& colour) {
    painter.setFont(font);
    painter.setPen(colour);
    const QFontMetricsF metrics(font);
    const QString shown = metrics.elidedText(text, Qt::ElideRight, width);
    const double height = std::min(60.0, metrics.height());
    painter.drawText(QRectF(centre.x() - width / 2, centre.y() - height / 2, width, height), Qt::AlignCenter, shown);
}

} // namespace

QString WheelView::Option::title() const {
    return target ? target->title() : QStringLiteral("Compress");
}

WheelView::WheelView(QWidget* parent) : QWidget(parent) {
    setAcceptDrops(true);
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_NoSystemBackground);
}

QPointF WheelView::center() const {
    return QRectF(rect()).center();
}

double WheelView::step() const {
    return 360.0 / std::max<qsizetype>(options.size(), 1);
}

std::optional<int> WheelView::segment(QPointF at) const {
    if (options.isEmpty())
        return std::nullopt;
    // Angles grow counter-clockwise with y upwards, so the screen's y is turned over here.
    const double dx = at.x() - center().x();
    const double dy = center().y() - at.y();
    const double r = std::sqrt(dx * dx + dy * dy);
    if (r < innerR || r > outerR)
        return std::nullopt;
    double a = std::atan2(dy, dx);
    if (a < 0)
        a += 2 * M_PI;
    const double stepRad = qDegreesToRadians(step());
    double t = M_PI / 2 + stepRad / 2 - a;
    while (t < 0)
        t += 2 * M_PI;
    return int(std::floor(t / stepRad)) % int(options.size());
}

QPainterPath WheelView::segmentPath(int index) const {
    const double hi = 90 + step() / 2 - index * step();
    const double lo = hi - step();
    const double from = lo + gapDegrees, to = hi - gapDegrees;
    const QPointF c = center();
    const double outer = outerR - 2, inner = innerR + 2;
    // QPainterPath's angles run counter-clockwise on the screen, as the wheel's do.
    QPainterPath path;
    path.arcMoveTo(QRectF(c.x() - outer, c.y() - outer, 2 * outer, 2 * outer), from);
    path.arcTo(QRectF(c.x() - outer, c.y() - outer, 2 * outer, 2 * outer), from, to - from);
    path.arcTo(QRectF(c.x() - inner, c.y() - inner, 2 * inner, 2 * inner), to, from - to);
    path.closeSubpath();
    return path;
}

void WheelView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    const QPointF c = center();
    const QFont titleFont = UI::font(12.5, QFont::DemiBold);
    for (int i = 0; i < options.size(); ++i) {
        const bool lit = highlighted == i;
        const QPainterPath path = segmentPath(i);
        painter.fillPath(path, lit ? UI::accent() : base);
        painter.strokePath(path, QPen(QColor(255, 255, 255, 26), 1));
        const double angle = qDegreesToRadians(90 - i * step());
        const QPointF at(c.x() + labelRadius * std::cos(angle), c.y() - labelRadius * std::sin(angle));
        drawCentred(painter, options.at(i).title(), at, 90, titleFont, lit ? UI::onAccent() : Qt::white);
    }
    QColor disc = base;
    disc.setAlphaF(0.85f);
    painter.setPen(Qt::NoPen);
    painter.setBrush(disc);
    painter.drawEllipse(c, discDiameter / 2, discDiameter / 2);
    drawCentred(painter, label, c - QPointF(0, 7), 88, UI::font(12, QFont::Bold), Qt::white);
    drawCentred(painter, QStringLiteral("Convert"), c + QPointF(0, 9), 88, UI::font(10.5), QColor(255, 255, 255, 178));
}

void WheelView::track(QDropEvent* event) {
    // A hidden wheel still hears of a drag whose program has not yet looked at what is under the pointer.
    const std::optional<int> now = isVisible() ? segment(event->position()) : std::nullopt;
    if (now != highlighted) {
        highlighted = now;
        ++changes;
        update();
    }
    if (now) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void WheelView::dragEnterEvent(QDragEnterEvent* event) {
    // Taken everywhere, so that moves keep coming; whether a drop is welcome is decided per position.
    track(event);
    event->accept();
}

void WheelView::dragMoveEvent(QDragMoveEvent* event) {
    track(event);
}

void WheelView::dragLeaveEvent(QDragLeaveEvent*) {
    if (highlighted) {
        highlighted.reset();
        ++changes;
    }
    update();
}

void WheelView::dropEvent(QDropEvent* event) {
    // A wheel the user no longer sees converts nothing.
    const std::optional<int> index = isVisible() ? segment(event->position()) : std::nullopt;
    if (!index) {
        event->ignore();
        return;
    }
    QList<QUrl> files;
    if (const QMimeData* data = event->mimeData())
        for (const QUrl& url : data->urls())
            if (url.isLocalFile())
                files.append(url);
    const Option chosen = options.at(*index);
    event->setDropAction(Qt::CopyAction);
    event->accept();
    // The drag's own loop is still unwinding: the owner hears of the drop once it has.
    QPointer<WheelView> self(this);
    QTimer::singleShot(0, this, [self, chosen, files] {
        if (self && self->onDrop)
            self->onDrop(chosen, files);
    });
}
