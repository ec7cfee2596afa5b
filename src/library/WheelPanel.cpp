#include "library/WheelPanel.h"

#include "library/WheelView.h"
#include "ui/UI.h"

#include <QPolygon>
#include <QRegion>

WheelPanel::WheelPanel()
    // Not a popup: that would grab the pointer from the program running the drag.
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::X11BypassWindowManagerHint |
                           Qt::WindowDoesNotAcceptFocus) {
    setWindowTitle(QStringLiteral("Pictolarium Format Wheel"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TranslucentBackground);
    setFixedSize(diameter, diameter);
    wheel = new WheelView(this);
    wheel->setGeometry(0, 0, diameter, diameter);
    composited = UI::composited();
    reshape();
}

void WheelPanel::reshape() {
    if (composited)
        return;
    const double disc = 48;
    QRegion shape(
        QRect(QPoint(diameter / 2 - int(disc), diameter / 2 - int(disc)), QSize(2 * int(disc), 2 * int(disc))),
        QRegion::Ellipse);
    for (int i = 0; i < wheel->options.size(); ++i)
        shape += QRegion(wheel->segmentPath(i).toFillPolygon().toPolygon());
    if (wheel->options.isEmpty())
        shape = QRegion(0, 0, diameter, diameter, QRegion::Ellipse);
    setMask(shape);
}
