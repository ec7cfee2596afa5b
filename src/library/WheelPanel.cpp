#include "library/WheelPanel.h"

#include "library/WheelView.h"
#include "ui/UI.h"

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
    if (!UI::composited())
        setMask(QRegion(0, 0, diameter, diameter, QRegion::Ellipse));
}
