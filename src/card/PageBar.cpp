#include "card/PageBar.h"

#include "ui/Brand.h"
#include "ui/GhostButton.h"
#include "ui/UI.h"

#include <QLabel>
#include <QPainter>

PageBar::PageBar(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::NoFocus);
    resize(96, 20);
    prev = new GhostButton(QStringLiteral("Previous page"), QStringLiteral("chevron.left"), QString(), QSizeF(22, 20),
                           9, this);
    next = new GhostButton(QStringLiteral("Next page"), QStringLiteral("chevron.right"), QString(), QSizeF(22, 20), 9,
                           this);
    label = new QLabel(this);
    label->setAlignment(Qt::AlignCenter);
    label->setTextFormat(Qt::PlainText);
    label->setFont(UI::monoFont(10));
    QPalette colours = label->palette();
    colours.setColor(QPalette::WindowText, QColor(255, 255, 255, qRound(0.92 * 255)));
    label->setPalette(colours);
    connect(prev, &QAbstractButton::clicked, this, [this] {
        if (onStep)
            onStep(-1);
    });
    connect(next, &QAbstractButton::clicked, this, [this] {
        if (onStep)
            onStep(1);
    });
}

void PageBar::set(int page, int count) {
    label->setText(QString::number(page) + QStringLiteral(" / ") + QString::number(count));
    // A disabled button draws itself dimmed to 0.35.
    prev->setEnabled(page >= 2);
    next->setEnabled(page < count);
    resizeEvent(nullptr);
}

void PageBar::resizeEvent(QResizeEvent*) {
    prev->setGeometry(2, 0, 22, height());
    next->setGeometry(width() - 24, 0, 22, height());
    const int textHeight = label->sizeHint().height();
    label->setGeometry(24, (height() - textHeight) / 2, width() - 48, textHeight);
}

void PageBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Brand::line(), 1));
    painter.setBrush(QColor::fromRgbF(0.09f, 0.1f, 0.1f, 0.78f));
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
}
