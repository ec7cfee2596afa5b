#include "editors/SignaturePad.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QPushButton>

#include <cmath>

namespace {

constexpr double inkWidth = 2.6;
constexpr int renderScale = 3;

} // namespace

SignaturePad::SignaturePad(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::CrossCursor);
}

bool SignaturePad::hasInk() const {
    return std::any_of(strokes.begin(), strokes.end(), [](const QList<QPointF>& s) { return s.size() >= 2; });
}

void SignaturePad::clear() {
    strokes.clear();
    update();
    if (onChange)
        onChange();
}

QPainterPath SignaturePad::path(const QList<QPointF>& stroke) {
    QPainterPath path;
    if (stroke.isEmpty())
        return path;
    path.moveTo(stroke[0]);
    if (stroke.size() == 1) {
        path.lineTo(stroke[0] + QPointF(0.1, 0));
        return path;
    }
    for (qsizetype i = 1; i < stroke.size(); ++i)
        path.lineTo((stroke[i - 1] + stroke[i]) / 2);
    path.lineTo(stroke.last());
    return path;
}

std::optional<QImage> SignaturePad::render() const {
    bool any = false;
    double minX = 1e300, minY = 1e300, maxX = -1e300, maxY = -1e300;
    for (const QList<QPointF>& stroke : strokes)
        for (const QPointF& p : stroke) {
            minX = std::min(minX, p.x());
            minY = std::min(minY, p.y());
            maxX = std::max(maxX, p.x());
            maxY = std::max(maxY, p.y());
            any = true;
        }
    if (!any)
        return std::nullopt;
    const QRectF box = QRectF(QPointF(minX, minY), QPointF(maxX, maxY)).adjusted(-6, -6, 6, 6);
    const int w = int(box.width() * renderScale), h = int(box.height() * renderScale);
    if (w <= 0 || h <= 0)
        return std::nullopt;
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        return std::nullopt;
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(renderScale, renderScale);
    painter.translate(-box.topLeft());
    painter.setPen(QPen(Qt::black, inkWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    for (const QList<QPointF>& stroke : strokes)
        painter.drawPath(path(stroke));
    return image;
}

void SignaturePad::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    painter.drawRoundedRect(rect(), 12, 12);
    // The signing line sits at 30 % of the height from the bottom.
    const double lineY = height() - 0.3 * height();
    painter.setPen(QPen(QColor(0, 0, 0, int(0.18 * 255)), 1));
    painter.drawLine(QPointF(18, lineY), QPointF(width() - 18, lineY));
    if (!hasInk()) {
        QFont font = painter.font();
        font.setPixelSize(13);
        painter.setFont(font);
        painter.setPen(QColor(0, 0, 0, int(0.3 * 255)));
        const QString hint = QStringLiteral("Sign here");
        const double textWidth = QFontMetricsF(font).horizontalAdvance(hint);
        painter.drawText(QPointF((width() - textWidth) / 2, lineY - 8), hint);
    }
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(Qt::black, inkWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    for (const QList<QPointF>& stroke : strokes)
        painter.drawPath(path(stroke));
}

void SignaturePad::mousePressEvent(QMouseEvent* event) {
    strokes.append({event->position()});
    update();
}

void SignaturePad::mouseMoveEvent(QMouseEvent* event) {
    if (strokes.isEmpty() || !(event->buttons() & Qt::LeftButton))
        return;
    strokes.last().append(event->position());
    update();
}

void SignaturePad::mouseReleaseEvent(QMouseEvent*) {
    if (onChange)
        onChange();
}

SignatureDialog::SignatureDialog(QWidget* over) : QDialog(over) {
    setWindowTitle(QStringLiteral("Create signature"));
    setWindowFlag(Qt::WindowStaysOnTopHint);
    setFixedSize(460, 250);
    pad = new SignaturePad(this);
    pad->setGeometry(20, 34, 420, 150);

    auto* label = new QLabel(QStringLiteral("Draw with the touchpad or mouse"), this);
    QFont font = label->font();
    font.setPixelSize(11);
    label->setFont(font);
    label->setForegroundRole(QPalette::PlaceholderText);
    // Up to the Clear button, which would otherwise cover its end, on two lines where one is too short.
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    label->setGeometry(20, 204, 172, 32);

    auto* clear = new QPushButton(QStringLiteral("Clear"), this);
    clear->setGeometry(200, 206, 70, 28);
    clear->setAutoDefault(false);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setGeometry(280, 206, 70, 28);
    cancel->setAutoDefault(false);
    saveButton = new QPushButton(QStringLiteral("Save"), this);
    saveButton->setGeometry(360, 206, 80, 28);
    saveButton->setDefault(true);
    saveButton->setEnabled(false);

    connect(clear, &QPushButton::clicked, pad, &SignaturePad::clear);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(saveButton, &QPushButton::clicked, this, &QDialog::accept);
    pad->onChange = [this] { saveButton->setEnabled(pad->hasInk()); };
    if (over) {
        const QRect frame = over->frameGeometry();
        move(frame.center().x() - 230, frame.center().y() - 125);
    }
}

std::optional<QImage> SignatureDialog::draw(QWidget* over) {
    // The window it draws for can close while the dialog waits (the event loop still runs, and the global keys
    // with it): the dialog, its child, goes with it, so it lives on the heap and is only touched while it is there.
    const QPointer<QWidget> owner(over);
    const QPointer<SignatureDialog> dialog = new SignatureDialog(over);
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
    dialog->pad->setFocus();
    const bool accepted = dialog->exec() == QDialog::Accepted;
    if (!dialog)
        return std::nullopt;
    const std::optional<QImage> drawn = accepted ? dialog->pad->render() : std::nullopt;
    delete dialog.data();
    if (owner) {
        owner->raise();
        owner->activateWindow();
    }
    return drawn;
}
