#include "editors/EditorWindow.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>

std::optional<QSize> EditorWindow::forcedCanvas;

QList<QPointer<EditorWindow>>& EditorWindow::open() {
    static QList<QPointer<EditorWindow>> windows;
    return windows;
}

EditorWindow::EditorWindow(QWidget* parent) : QWidget(parent, Qt::Window) {}

EditorWindow::~EditorWindow() {
    finish();
}

void EditorWindow::present(const QRect& growingFrom, int reserveBelow) {
    if (!open().contains(QPointer<EditorWindow>(this)))
        open().append(this);
    // The screen the source meets, else the primary one.
    QScreen* screen = nullptr;
    for (QScreen* candidate : QGuiApplication::screens())
        if (candidate->geometry().intersects(growingFrom)) {
            screen = candidate;
            break;
        }
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    // The canvas, not the whole window, is centred on the source.
    QRect frame(QPoint(), size());
    const QRect canvas = canvasFrame();
    const QPoint canvasOffset = canvas.isValid() ? canvas.center() - frameGeometry().center() : QPoint();
    frame.moveCenter(growingFrom.center() - canvasOffset);
    if (screen) {
        QRect area = screen->availableGeometry();
        area.setBottom(area.bottom() - reserveBelow);
        frame.moveLeft(qBound(area.left(), frame.left(), qMax(area.left(), area.right() - frame.width() + 1)));
        frame.moveTop(qBound(area.top(), frame.top(), qMax(area.top(), area.bottom() - frame.height() + 1)));
    }
    setGeometry(frame);
    show();
    raise();
    activateWindow();
}

QRect EditorWindow::canvasFrame() const {
    return frameGeometry();
}

void EditorWindow::closeEditor() {
    close();
}

void EditorWindow::closeEvent(QCloseEvent* event) {
    finish();
    QWidget::closeEvent(event);
}

void EditorWindow::finish() {
    open().removeAll(QPointer<EditorWindow>(this));
    open().removeAll(QPointer<EditorWindow>());
    if (auto callback = std::exchange(onClose, nullptr))
        callback();
}
