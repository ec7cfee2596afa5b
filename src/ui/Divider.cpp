#include "ui/Divider.h"

#include "ui/Prefs.h"

#include <QPainter>

Divider::Divider(double length, bool across, QWidget* parent) : QWidget(parent) {
    const int scaled = qMax(1, qRound(length * Prefs::barScale()));
    if (across)
        setFixedSize(scaled, 1);
    else
        setFixedSize(1, scaled);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void Divider::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), QColor(255, 255, 255, qRound(0.18 * 255)));
}
