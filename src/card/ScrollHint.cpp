#include "card/ScrollHint.h"

#include "app/Pill.h"
#include "app/UI.h"
#include "platform/x11/Compositor.h"

#include <QFontMetricsF>
#include <QLabel>
#include <QPainterPath>
#include <QRegion>
#include <QWidget>

#include <cmath>

namespace ScrollHint {

QWidget* create(const QString& text) {
    // Unmanaged, like the toast: a window manager would frame it and could hand it the focus, which would take
    // the scrolling away from the recorded window.
    auto* panel = new QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                                           Qt::WindowDoesNotAcceptFocus | Qt::WindowTransparentForInput |
                                           Qt::BypassWindowManagerHint);
    panel->setAttribute(Qt::WA_ShowWithoutActivating);
    panel->setAttribute(Qt::WA_TranslucentBackground);
    panel->setAttribute(Qt::WA_TransparentForMouseEvents);
    panel->setFocusPolicy(Qt::NoFocus);
    panel->setWindowTitle(QStringLiteral("Pictolarium Scroll Hint"));
    panel->setObjectName(QStringLiteral("scrollHint"));

    auto* label = new QLabel(text);
    label->setFont(UI::font(12, QFont::Medium));
    label->setTextFormat(Qt::PlainText);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, Qt::white);
    label->setPalette(palette);
    const QFontMetricsF metrics(label->font());
    const int labelWidth = int(std::ceil(metrics.horizontalAdvance(text)));
    const int labelHeight = int(std::ceil(metrics.height()));
    const int width = labelWidth + 2 * padding;

    auto* pill = new Pill(QRect(0, 0, width, height), panel);
    label->setParent(pill);
    label->setGeometry(padding, (height - labelHeight) / 2, labelWidth, labelHeight);
    panel->resize(width, height);
    if (!Compositor::active()) {
        // Without a compositor the clear corners would show black: the window is cut to the pill.
        QPainterPath outline;
        outline.addRoundedRect(QRectF(0, 0, width, height), pill->cornerRadius(), pill->cornerRadius());
        panel->setMask(QRegion(outline.toFillPolygon().toPolygon()));
    }
    return panel;
}

} // namespace ScrollHint
