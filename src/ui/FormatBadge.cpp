#include "ui/FormatBadge.h"

#include "ui/UI.h"

#include <QEnterEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

namespace {

QFont badgeFont() {
    QFont font = UI::monoFont(9.5);
    font.setWeight(QFont::DemiBold);
    return font;
}

} // namespace

FormatBadge::FormatBadge(QWidget* parent) : QWidget(parent) {
    label = new QLabel(this);
    label->setFont(badgeFont());
    label->setAlignment(Qt::AlignCenter);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, QColor(255, 255, 255, qRound(0.92 * 255)));
    label->setPalette(palette);
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
}

void FormatBadge::setText(const QString& text) {
    content = text;
    label->setText(text);
    setVisible(!text.isEmpty());
    updateGeometry();
    // Lay the label out again for its new width.
    resizeEvent(nullptr);
}

QSize FormatBadge::sizeHint() const {
    return QSize(label->sizeHint().width() + 12, 18);
}

void FormatBadge::resizeEvent(QResizeEvent* event) {
    if (event)
        QWidget::resizeEvent(event);
    const int h = label->sizeHint().height();
    label->setGeometry(6, (height() - h) / 2, qMax(0, width() - 12), h);
}

void FormatBadge::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()), 5, 5);
    painter.fillPath(path, QColor::fromRgbF(0.09f, 0.1f, 0.1f, 0.78f));
}

void FormatBadge::mousePressEvent(QMouseEvent* event) {
    if (onClick) {
        event->accept();
        onClick();
        return;
    }
    QWidget::mousePressEvent(event);
}

void FormatBadge::enterEvent(QEnterEvent* event) {
    // The action may be set or cleared at any time; the cursor follows it.
    if (onClick)
        setCursor(Qt::PointingHandCursor);
    else
        unsetCursor();
    QWidget::enterEvent(event);
}
