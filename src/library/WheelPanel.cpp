#include "library/WheelPanel.h"

#include "library/WheelView.h"
#include "ui/UI.h"

#include <QRegion>

#include <cmath>

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
    // The whole outer disc, gaps, rims and centre included: a hole there would hand a drop aimed at the wheel to
    // whatever window lies behind it, and a file manager there takes it as a move. The disc reaches a pixel past
    // the ring's hit radius, so no point the view counts as a segment falls outside it.
    const int r = int(std::ceil(WheelView::outerR)) + 1;
    const int c = diameter / 2;
    setMask(QRegion(c - r, c - r, 2 * r, 2 * r, QRegion::Ellipse));
}
