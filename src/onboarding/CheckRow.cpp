#include "onboarding/CheckRow.h"

#include "ui/Brand.h"
#include "ui/Symbols.h"
#include "ui/UI.h"

#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>

namespace {

QColor accent(double alpha) {
    QColor c = UI::accent();
    c.setAlphaF(float(alpha));
    return c;
}

} // namespace

CheckRow::CheckRow(const QString& titleText, const QString& detailText, const QString& symbolName, QWidget* parent)
    : QAbstractButton(parent), title(titleText), detail(detailText), pill(new StatusPill(this)), symbol(symbolName) {
    setFocusPolicy(Qt::NoFocus);
    setFixedSize(268, 58);
    setAccessibleName(title);
}

void CheckRow::setResult(bool ok, const QString& pillText, bool act) {
    if (pill->on != ok || pill->text != pillText || pill->actionable != act) {
        pill->on = ok;
        pill->text = pillText;
        pill->actionable = act;
        pill->update();
    }
    canAct = act;
    setCursor(act ? Qt::PointingHandCursor : Qt::ArrowCursor);
}

void CheckRow::resizeEvent(QResizeEvent*) {
    pill->setGeometry(width() - 12 - 72, (height() - 26) / 2, 72, 26);
}

void CheckRow::mousePressEvent(QMouseEvent* event) {
    // A row with nothing to offer passes the press on, so the panel can be dragged by it.
    if (!canAct) {
        event->ignore();
        return;
    }
    QAbstractButton::mousePressEvent(event);
}

void CheckRow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath box;
    box.addRoundedRect(r, 12, 12);
    QLinearGradient shade(r.bottomLeft(), r.topRight());
    shade.setColorAt(0, QColor::fromRgbF(1, 1, 1, 0.08f));
    shade.setColorAt(1, QColor::fromRgbF(1, 1, 1, 0.025f));
    painter.fillPath(box, shade);
    painter.strokePath(box, QPen(QColor::fromRgbF(1, 1, 1, 0.1f), 1));

    const QRectF tile(12, (height() - 34) / 2.0, 34, 34);
    QPainterPath tilePath;
    tilePath.addRoundedRect(tile.adjusted(0.5, 0.5, -0.5, -0.5), 9, 9);
    painter.fillPath(tilePath, accent(0.16));
    painter.strokePath(tilePath, QPen(accent(0.35), 1));
    const QImage picture = Symbols::image(symbol, 16, UI::accent(), devicePixelRatioF());
    if (!picture.isNull())
        painter.drawImage(QRectF(tile.center().x() - 8, tile.center().y() - 8, 16, 16), picture);

    const double textX = tile.right() + 12;
    const double textWidth = width() - textX - 12 - 72 - 8;
    const QFont titleFont = UI::font(13.5, QFont::DemiBold);
    const QFont detailFont = UI::font(12);
    const QFontMetricsF tm(titleFont), dm(detailFont);
    const double block = tm.height() + 2 + dm.height();
    const double top = (height() - block) / 2;
    painter.setFont(titleFont);
    painter.setPen(Qt::white);
    painter.drawText(QRectF(textX, top, textWidth, tm.height()), Qt::AlignLeft | Qt::AlignVCenter,
                     tm.elidedText(title, Qt::ElideRight, textWidth));
    painter.setFont(detailFont);
    painter.setPen(QColor::fromRgbF(1, 1, 1, 0.62f));
    painter.drawText(QRectF(textX, top + tm.height() + 2, textWidth, dm.height()), Qt::AlignLeft | Qt::AlignVCenter,
                     dm.elidedText(detail, Qt::ElideRight, textWidth));
}
