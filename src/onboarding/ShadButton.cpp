#include "onboarding/ShadButton.h"

#include "ui/Brand.h"
#include "ui/UI.h"

#include <QPainter>

ShadButton::ShadButton(const QString& title, bool isPrimary, bool isGhost, QWidget* parent)
    : QAbstractButton(parent), primary(isPrimary), ghost(isGhost && !isPrimary) {
    setText(title);
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_Hover);
}

void ShadButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath path;
    path.addRoundedRect(r, 9, 9);
    QColor titleColour;
    if (primary) {
        // Held down it looks the same: the green is the call to action either way.
        Brand::fillPrimary(painter, path, r, false);
        if (isHovering)
            painter.fillPath(path, QColor::fromRgbF(1, 1, 1, 0.12f));
        titleColour = Brand::onGreen();
    } else if (ghost) {
        if (isHovering)
            painter.fillPath(path, QColor::fromRgbF(1, 1, 1, 0.08f));
        titleColour = QColor::fromRgbF(1, 1, 1, 0.75f);
    } else {
        painter.fillPath(path, QColor::fromRgbF(1, 1, 1, isHovering ? 0.12f : 0.05f));
        painter.strokePath(path, QPen(Brand::lineStrong(), 1));
        titleColour = QColor::fromRgbF(1, 1, 1, 0.95f);
    }
    if (text().isEmpty())
        return;
    painter.setFont(UI::font(13, QFont::DemiBold));
    painter.setPen(titleColour);
    painter.drawText(rect(), Qt::AlignCenter, text());
}

void ShadButton::enterEvent(QEnterEvent* event) {
    isHovering = true;
    update();
    QAbstractButton::enterEvent(event);
}

void ShadButton::leaveEvent(QEvent* event) {
    isHovering = false;
    update();
    QAbstractButton::leaveEvent(event);
}
