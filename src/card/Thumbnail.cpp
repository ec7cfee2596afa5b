#include "card/Thumbnail.h"

#include "app/Brand.h"

#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QScreen>
#include <QVBoxLayout>

namespace {
QPointer<ThumbnailPanel>& slot() {
    static QPointer<ThumbnailPanel> panel;
    return panel;
}
} // namespace

ThumbnailPanel::ThumbnailPanel(const Shot& shot, std::shared_ptr<PDFSession> pdf)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus),
      current(shot), session(std::move(pdf)) {
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Pictolarium Card"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    picture = new QLabel(this);
    const QImage scaled = shot.image.scaled(QSize(360, 360), Qt::KeepAspectRatio, Qt::SmoothTransformation);
    picture->setPixmap(QPixmap::fromImage(scaled));
    layout->addWidget(picture);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Brand::background());
    setPalette(pal);
    setAutoFillBackground(true);
}

void ThumbnailPanel::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        close();
}

namespace Thumbnail {

void open(const Shot& shot, std::shared_ptr<PDFSession> pdf, QPoint at) {
    dismiss();
    auto* panel = new ThumbnailPanel(shot, std::move(pdf));
    panel->adjustSize();
    QRect frame(at, panel->size());
    if (QScreen* screen = QGuiApplication::screenAt(at)) {
        const QRect area = screen->availableGeometry();
        frame.moveLeft(qMin(frame.left(), area.right() - frame.width()));
        frame.moveTop(qMin(frame.top(), area.bottom() - frame.height()));
    }
    panel->move(frame.topLeft());
    panel->show();
    slot() = panel;
}

void dismiss() {
    if (slot())
        slot()->close();
    slot() = nullptr;
}

ThumbnailPanel* current() { return slot(); }

} // namespace Thumbnail
