#include "ui/GhostButton.h"

#include "ui/Prefs.h"
#include "ui/Symbols.h"
#include "ui/UI.h"

#include <QEnterEvent>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace {

QColor withAlpha(QColor colour, double alpha) {
    colour.setAlphaF(float(alpha));
    return colour;
}

QColor white(double alpha) {
    return withAlpha(Qt::white, alpha);
}

// Disabled content is drawn faint, as the platform's buttons draw theirs.
constexpr double kDisabledOpacity = 0.35;

} // namespace

GhostButton::GhostButton(const QString& name, const QString& symbolName, const QString& text, QSizeF size,
                         double symbolSize, QWidget* parent)
    : QAbstractButton(parent), label(name), symbol(symbolName) {
    const double s = Prefs::barScale();
    if (!symbol.isEmpty()) {
        symbolPoints = symbolSize * s;
        hasPicture = Symbols::has(symbol);
    } else if (!text.isEmpty()) {
        setText(text);
    }
    setFont(UI::font(12 * s, QFont::DemiBold));
    setFocusPolicy(Qt::NoFocus);
    setToolTip(QString());
    setFixedSize(qMax(1, qRound(size.width() * s)), qMax(1, qRound(size.height() * s)));
}

void GhostButton::setActive(bool value) {
    isActive = value;
    setContentTintColor(value ? UI::accent() : QColor(Qt::white));
    update();
}

void GhostButton::setTint(std::optional<QColor> value) {
    dot = std::move(value);
    update();
}

void GhostButton::setGlass(std::optional<Glass> value) {
    glassLook = value;
    if (value == Glass::done)
        setContentTintColor(UI::accent());
    update();
}

void GhostButton::setContentTintColor(const QColor& colour) {
    contentTint = colour;
    update();
}

QColor GhostButton::titleColor() const {
    return isActive ? UI::accent() : QColor(Qt::white);
}

void GhostButton::setPressing(bool value) {
    if (isPressing == value)
        return;
    isPressing = value;
    update();
}

void GhostButton::enterEvent(QEnterEvent* event) {
    QAbstractButton::enterEvent(event);
    isHovering = true;
    update();
    if (onHoverChange)
        onHoverChange(true);
}

void GhostButton::leaveEvent(QEvent* event) {
    QAbstractButton::leaveEvent(event);
    isHovering = false;
    update();
    if (onHoverChange)
        onHoverChange(false);
    // Leaving ends a press too, so the button is never left drawn pressed.
    setPressing(false);
}

void GhostButton::mousePressEvent(QMouseEvent* event) {
    if (isEnabled())
        setPressing(true);
    QAbstractButton::mousePressEvent(event);
}

void GhostButton::mouseReleaseEvent(QMouseEvent* event) {
    QAbstractButton::mouseReleaseEvent(event);
    setPressing(false);
}

void GhostButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (glassLook) {
        drawGlass(painter);
        drawContent(painter);
        return;
    }
    drawBackground(painter);
    if (dot) {
        const double diameter = isActive ? 14 : 12;
        const QPointF centre = QRectF(rect()).center();
        painter.setBrush(*dot);
        painter.setPen(QPen(white(0.6), 1));
        painter.drawEllipse(centre, diameter / 2, diameter / 2);
        return;
    }
    drawContent(painter);
}

namespace {

QPainterPath backgroundPath(const QRect& bounds) {
    const double r = std::max(0.0, std::min(bounds.height() / 2.0 - 2, 10.0));
    QPainterPath path;
    path.addRoundedRect(QRectF(bounds).adjusted(1, 1, -1, -1), r, r);
    return path;
}

void fillAndStrokeAccent(QPainter& painter, const QPainterPath& path, bool pressing) {
    painter.fillPath(path, withAlpha(UI::accent(), pressing ? 0.3 : 0.2));
    painter.strokePath(path, QPen(withAlpha(UI::accent(), 0.55), 1));
}

} // namespace

void GhostButton::drawBackground(QPainter& painter) const {
    const QPainterPath path = backgroundPath(rect());
    if (isActive)
        fillAndStrokeAccent(painter, path, isPressing);
    else if (isPressing)
        painter.fillPath(path, white(0.2));
    else if (isHovering)
        painter.fillPath(path, white(0.12));
}

void GhostButton::drawGlass(QPainter& painter) const {
    const QPainterPath path = backgroundPath(rect());
    if (glassLook == Glass::done) {
        fillAndStrokeAccent(painter, path, isPressing);
        return;
    }
    const double k = isPressing ? 0.8 : 1.0;
    QLinearGradient gradient(QPointF(0, 0), QPointF(0, height()));
    gradient.setColorAt(0, white((isHovering ? 0.2 : 0.12) * k));
    gradient.setColorAt(1, white((isHovering ? 0.1 : 0.05) * k));
    painter.fillPath(path, gradient);
}

void GhostButton::drawContent(QPainter& painter) const {
    painter.save();
    if (!isEnabled())
        painter.setOpacity(kDisabledOpacity);
    if (!symbol.isEmpty()) {
        const QImage picture = Symbols::image(symbol, symbolPoints, contentTint, devicePixelRatioF());
        if (!picture.isNull()) {
            const QSizeF size = picture.deviceIndependentSize();
            // Whole pixels keep thin strokes sharp.
            const QPointF origin(std::round((width() - size.width()) / 2), std::round((height() - size.height()) / 2));
            painter.drawImage(origin, picture);
        }
    } else if (!text().isEmpty()) {
        painter.setFont(font());
        painter.setPen(titleColor());
        painter.drawText(rect(), Qt::AlignCenter | Qt::TextSingleLine, text());
    }
    painter.restore();
}

void GhostButton::setSymbol(const QString& name) {
    if (symbol == name)
        return;
    symbol = name;
    hasPicture = Symbols::has(symbol);
    update();
}
