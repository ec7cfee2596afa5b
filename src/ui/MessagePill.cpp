#include "ui/MessagePill.h"

#include "ui/Pill.h"
#include "ui/UI.h"

#include <QFontMetricsF>
#include <QLabel>
#include <QPainterPath>
#include <QRegion>
#include <QWidget>

#include <cmath>

namespace MessagePill {

QWidget* make(const QString& text, int height, int padding, const QString& title, const QString& objectName,
              int maxWidth) {
    // Unmanaged (override-redirect): a window manager's frame would catch the clicks the pill lets
    // through, and could hand it the focus.
    auto* window = new QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                                            Qt::WindowDoesNotAcceptFocus | Qt::WindowTransparentForInput |
                                            Qt::BypassWindowManagerHint);
    window->setAttribute(Qt::WA_ShowWithoutActivating);
    window->setAttribute(Qt::WA_TranslucentBackground);
    window->setAttribute(Qt::WA_TransparentForMouseEvents);
    window->setFocusPolicy(Qt::NoFocus);
    window->setObjectName(objectName);
    window->setWindowTitle(title);

    auto* label = new QLabel(text);
    label->setFont(UI::font(12, QFont::Medium));
    label->setTextFormat(Qt::PlainText);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, Qt::white);
    label->setPalette(palette);
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    // The label's fitted size: its text's advance, whole pixels.
    const QFontMetricsF metrics(label->font());
    int labelWidth = int(std::ceil(metrics.horizontalAdvance(text)));
    int labelHeight = int(std::ceil(metrics.height()));
    if (maxWidth > 0 && labelWidth + 2 * padding > maxWidth) {
        // Wrapped: the lines keep the one-line pill's margin above and below them.
        const int margin = std::max(0, (height - labelHeight) / 2);
        labelWidth = std::max(1, maxWidth - 2 * padding);
        label->setWordWrap(true);
        const QRectF lines = metrics.boundingRect(QRectF(0, 0, labelWidth, 1e6), Qt::TextWordWrap, text);
        labelHeight = int(std::ceil(lines.height()));
        labelWidth = std::min(labelWidth, int(std::ceil(lines.width())) + 1);
        height = std::max(height, labelHeight + 2 * margin);
    }
    const int width = labelWidth + 2 * padding;

    auto* pill = new Pill(QRect(0, 0, width, height), window);
    label->setParent(pill);
    label->setGeometry(padding, (height - labelHeight) / 2, labelWidth, labelHeight);
    window->resize(width, height);
    if (!UI::composited()) {
        QPainterPath outline;
        outline.addRoundedRect(QRectF(0, 0, width, height), pill->cornerRadius(), pill->cornerRadius());
        window->setMask(QRegion(outline.toFillPolygon().toPolygon()));
    }
    return window;
}

} // namespace MessagePill
