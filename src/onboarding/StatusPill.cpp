#include "onboarding/StatusPill.h"

#include "ui/Brand.h"
#include "ui/UI.h"

#include <QPainter>

StatusPill::StatusPill(QWidget* parent) : QWidget(parent) {}

void StatusPill::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath path;
    path.addRoundedRect(r, r.height() * 0.5, r.height() * 0.5);
    QColor accent = UI::accent();
    if (on) {
        QColor tint = accent;
        tint.setAlphaF(0.14f);
        painter.fillPath(path, tint);
        QColor edge = accent;
        edge.setAlphaF(0.5f);
        painter.strokePath(path, QPen(edge, 1));
    } else if (actionable) {
        Brand::fillPrimary(painter, path, r, false);
    } else {
        painter.fillPath(path, QColor::fromRgbF(1, 1, 1, 0.06f));
        painter.strokePath(path, QPen(QColor::fromRgbF(1, 1, 1, 0.22f), 1));
    }
    painter.setFont(UI::font(12, QFont::DemiBold));
    painter.setPen(on ? accent : actionable ? UI::onAccent() : QColor::fromRgbF(1, 1, 1, 0.78f));
    painter.drawText(rect(), Qt::AlignCenter, text);
}
