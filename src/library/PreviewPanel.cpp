#include "library/PreviewPanel.h"

#include "card/ThumbnailView.h"
#include "library/LibraryPanel.h"
#include "ui/Brand.h"
#include "ui/KeyRoute.h"
#include "ui/UI.h"

#include <QCursor>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QScreen>
#include <QThreadPool>

namespace {

// The preview decodes at most this many pixels a side: enough for any screen, bounded in memory.
constexpr int previewPixels = 2400;

} // namespace

PreviewPanel::PreviewPanel(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setObjectName(QStringLiteral("PreviewPanel"));
    setWindowTitle(QStringLiteral("Pictolarium Preview"));
    setFocusPolicy(Qt::StrongFocus);
}

void PreviewPanel::showFiles(const QStringList& files) {
    list = files;
    at = 0;
    if (list.isEmpty()) {
        hide();
        return;
    }
    if (!isVisible()) {
        QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
        if (!screen)
            screen = QGuiApplication::primaryScreen();
        const QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 1280, 800);
        const QSize size(int(area.width() * 0.7), int(area.height() * 0.7));
        setGeometry(QRect(area.center() - QPoint(size.width() / 2, size.height() / 2), size));
    }
    load();
    show();
    setFocus();
    KeyRoute::takeKeys(this);
}

void PreviewPanel::step(int by) {
    if (list.isEmpty())
        return;
    at = int((at + by + list.size()) % list.size());
    LibraryPanel::traceLine(QStringLiteral("preview: ") + caption());
    load();
}

QString PreviewPanel::caption() const {
    if (list.isEmpty())
        return {};
    return QStringLiteral("%1 of %2").arg(at + 1).arg(list.size());
}

void PreviewPanel::load() {
    image = QImage();
    pending = true;
    const int ticket = ++generation;
    const QString file = list.at(at);
    QPointer<PreviewPanel> self(this);
    LibraryPanel::thumbQueue().start([self, ticket, file] {
        // The same bounds as the tiles: no pipe is opened, no picture of too many pixels decoded.
        const QImage decoded = LibraryPanel::renderThumbnail(file, previewPixels);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, ticket, decoded] {
                if (self)
                    self->take(ticket, decoded);
            },
            Qt::QueuedConnection);
    });
    update();
}

void PreviewPanel::take(int ticket, const QImage& decoded) {
    if (ticket != generation)
        return;
    pending = false;
    image = decoded;
    update();
}

void PreviewPanel::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Space:
    case Qt::Key_Escape:
        // The keys go back to the basket, asked for before the preview goes so that the window manager does not
        // hand them to the window behind in between.
        if (parentWidget() && parentWidget()->isVisible())
            KeyRoute::takeKeys(parentWidget());
        hide();
        return;
    case Qt::Key_Right:
        step(1);
        return;
    case Qt::Key_Left:
        step(-1);
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

void PreviewPanel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.fillRect(rect(), QColor(18, 19, 20));
    const QRectF stage = QRectF(rect()).adjusted(24, 24, -24, -48);
    if (!image.isNull()) {
        const QSizeF size = QSizeF(image.size()).scaled(stage.size(), Qt::KeepAspectRatio);
        // Never blown up beyond the picture's own size.
        const QSizeF shown = size.width() > image.width() ? QSizeF(image.size()) : size;
        painter.drawImage(QRectF(stage.center() - QPointF(shown.width() / 2, shown.height() / 2), shown), image);
    } else if (!pending && !list.isEmpty()) {
        const QString file = list.at(at);
        painter.setPen(Brand::text());
        painter.setFont(UI::font(17, QFont::DemiBold));
        painter.drawText(stage.adjusted(0, 0, 0, -20), Qt::AlignCenter, QFileInfo(file).fileName());
        painter.setPen(Brand::muted());
        painter.setFont(UI::font(13, QFont::Normal));
        painter.drawText(stage.adjusted(0, 40, 0, 0), Qt::AlignCenter,
                         ThumbnailView::byteCount(QFileInfo(file).size()));
    }
    painter.setPen(QColor(255, 255, 255, 170));
    painter.setFont(UI::font(12, QFont::Medium));
    painter.drawText(QRectF(0, height() - 40, width(), 28), Qt::AlignCenter, caption());
}
