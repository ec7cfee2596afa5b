#include "editors/EditorWindow.h"

#include "editors/EditorCanvasMarker.h"
#include "imaging/ImageConvert.h"
#include "platform/Defaults.h"
#include "platform/Dispatch.h"
#include "platform/FileWrites.h"
#include "platform/Memory.h"
#include "ui/Divider.h"
#include "ui/GhostButton.h"
#include "ui/KeyRoute.h"
#include "ui/Pill.h"
#include "ui/Prefs.h"
#include "ui/Toast.h"
#include "ui/UI.h"

#include <QAbstractButton>
#include <QBoxLayout>
#include <QCloseEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QWindow>

#include <algorithm>
#include <cmath>

namespace {

constexpr double backingRadius = 4;
constexpr double shadowRadius = 14;
constexpr double shadowDrop = 4;

QWidget* stackOf(const QList<QWidget*>& views, QBoxLayout::Direction direction, QWidget* parent) {
    auto* stack = new QWidget(parent);
    auto* row = new QBoxLayout(direction, stack);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(2);
    row->setSizeConstraint(QLayout::SetFixedSize);
    const Qt::Alignment across = direction == QBoxLayout::LeftToRight ? Qt::AlignVCenter : Qt::AlignHCenter;
    for (QWidget* view : views)
        row->addWidget(view, 0, across);
    stack->adjustSize();
    return stack;
}

QRegion roundedRegion(const QRectF& r, double radius) {
    QPainterPath path;
    path.addRoundedRect(r, radius, radius);
    return QRegion(path.toFillPolygon().toPolygon());
}

} // namespace

std::optional<QSizeF> EditorWindow::forcedCanvas;

QList<QPointer<EditorWindow>>& EditorWindow::open() {
    static QList<QPointer<EditorWindow>> windows;
    return windows;
}

double EditorWindow::sizeFactor(double stored) {
    if (stored == 0)
        return 0.8;
    if (stored > 1.2)
        return 1.2;
    return stored >= 0.5 ? stored : 0.5; // NaN counts as too small
}

QSize EditorWindow::canvasSizeFor(const Sizing& in) {
    const double iw = std::max(1, in.pixels.width()), ih = std::max(1, in.pixels.height());
    double scale = 1;
    if (in.forced && in.forced->width() > 0 && in.forced->height() > 0) {
        scale = std::min(in.forced->width() / iw, in.forced->height() / ih);
    } else {
        const double s = Prefs::barScaleFor(in.sizeScale);
        const double k = sizeFactor(in.sizeScale);
        const double bars = in.sideBars ? 2 * (36 * s + 12) : 0;
        const double available = std::max(160.0, in.visible.width() * 0.6 * k - bars);
        const double high = std::max(160.0, in.visible.height() * 0.62 * k - in.extraHeight);
        scale = std::min({1.0, available / iw, high / ih});
    }
    // Whole pixels: the scales of the canvases are taken from this size, so they match what is drawn.
    return QSize(std::max(1, int(std::lround(iw * scale))), std::max(1, int(std::lround(ih * scale))));
}

QPoint EditorWindow::placedAt(const QRectF& source, QSize size, QPoint canvasOrigin, QSize canvasSize,
                              const std::optional<QRect>& visible, int reserveBelow) {
    double x = source.center().x() - canvasOrigin.x() - canvasSize.width() / 2.0;
    double y = source.center().y() - canvasOrigin.y() - canvasSize.height() / 2.0;
    if (visible) {
        const double left = visible->left(), top = visible->top();
        const double right = left + visible->width();
        const double bottom = top + visible->height() - reserveBelow;
        // Left and bottom win over right and top: the docked pill below must stay on the screen.
        x = std::max(left, std::min(right - size.width(), x));
        y = std::min(bottom - size.height(), std::max(top, y));
    }
    return QPoint(int(std::lround(x)), int(std::lround(y)));
}

EditorWindow::EditorWindow(const Shot& shot, double extraHeight, bool sideBars, const QString& title)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::NoDropShadowWindowHint),
      editedShot(shot), withSideBars(sideBars) {
    pixels = shot.image;
    if (pixels.isNull()) {
        const QString name = QFileInfo(shot.fileURL.toLocalFile()).fileName();
        throw ConvertError(QStringLiteral("Can't read ") + (name.isEmpty() ? shot.fileURL.toString() : name));
    }

    Sizing sizing;
    sizing.pixels = pixels.size();
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        sizing.visible = QRectF(screen->availableGeometry());
    sizing.sizeScale = Defaults::standard().doubleValue(QStringLiteral("picto.sizeScale"));
    sizing.extraHeight = extraHeight;
    sizing.sideBars = sideBars;
    sizing.forced = forcedCanvas;
    canvas = canvasSizeFor(sizing);

    setWindowTitle(title);
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_TranslucentBackground);
    // Asked once: the answer costs a round trip to the display.
    composited = UI::composited();
    resize(canvas.width() + 40, canvas.height() + int(std::lround(extraHeight)) + 20);
}

EditorWindow::~EditorWindow() {
    closed();
    // An editor holds the picture several times over (loaded, shown, drawn on): give those pages back.
    Memory::giveBackSoon();
}

QString EditorWindow::resultMessage(const QString& word, const QString& trashFailure) {
    return trashFailure.isEmpty() ? word : word + QStringLiteral(" \u2014 ") + trashFailure;
}

GhostButton* EditorWindow::closeButton() {
    auto* button =
        new GhostButton(QStringLiteral("Close (Esc)"), QStringLiteral("xmark"), QString(), QSizeF(30, 28), 12);
    button->setGlass(GhostButton::Glass::close);
    connect(button, &QAbstractButton::clicked, this, &EditorWindow::cancel);
    return button;
}

void EditorWindow::placeCanvas(QPoint at) {
    for (QObject* child : children()) {
        auto* widget = qobject_cast<QWidget*>(child);
        if (!widget || !dynamic_cast<EditorCanvasMarker*>(widget))
            continue;
        widget->setGeometry(QRect(at, canvas));
        origin = at;
        update();
        return;
    }
}

void EditorWindow::floatingPill(QWidget* stack, const QRect& frame) {
    auto* pill = new Pill(frame, this);
    stack->setParent(pill);
    const QSize size = stack->sizeHint();
    stack->setGeometry((frame.width() - size.width()) / 2, (frame.height() - size.height()) / 2, size.width(),
                       size.height());
    stack->show();
    pill->show();
    pills.append(pill);
}

Pill* EditorWindow::addToolbar(const QList<QWidget*>& views) {
    const double s = Prefs::barScale();
    QList<QWidget*> row = views;
    row.append(new Divider(16, false));
    row.append(closeButton());
    QWidget* stack = stackOf(row, QBoxLayout::LeftToRight, this);

    const int pillHeight = int(std::lround(36 * s));
    const int pillWidth = stack->sizeHint().width() + 24;
    const int w = std::max(canvas.width(), pillWidth) + 40;
    const int h = canvas.height() + 32 + pillHeight + 10;
    setFixedSize(w, h);
    // The pill 10 below the top edge, the canvas 12 below the pill and 20 above the bottom edge.
    placeCanvas(QPoint((w - canvas.width()) / 2, 10 + pillHeight + 12));
    floatingPill(stack, QRect((w - pillWidth) / 2, 10, pillWidth, pillHeight));
    updateMask();
    return pills.last();
}

void EditorWindow::addSideBars(const QList<QWidget*>& left, const QList<QWidget*>& right) {
    const double s = Prefs::barScale();
    QList<QWidget*> rightViews{closeButton(), new Divider(16, true)};
    rightViews.append(right);
    QWidget* leftStack = stackOf(left, QBoxLayout::TopToBottom, this);
    QWidget* rightStack = stackOf(rightViews, QBoxLayout::TopToBottom, this);

    const int least = int(std::lround(36 * s));
    const int lw = std::max(least, leftStack->sizeHint().width() + 10);
    const int rw = std::max(least, rightStack->sizeHint().width() + 10);
    const int lh = leftStack->sizeHint().height() + 16;
    const int rh = rightStack->sizeHint().height() + 16;
    const int w = canvas.width() + lw + rw + 64;
    const int h = std::max({canvas.height(), lh, rh}) + 40;
    setFixedSize(w, h);
    placeCanvas(QPoint(lw + 32, (h - canvas.height()) / 2));
    floatingPill(leftStack, QRect(20, (h - lh) / 2, lw, lh));
    floatingPill(rightStack, QRect(w - 20 - rw, (h - rh) / 2, rw, rh));
    updateMask();
}

void EditorWindow::updateMask() {
    if (composited) {
        clearMask();
        return;
    }
    // Without a compositor clear pixels show black: the window is cut to the backing and the pills.
    QRegion region = roundedRegion(QRectF(QRect(origin, canvas)), backingRadius);
    for (const Pill* pill : pills)
        region += roundedRegion(QRectF(pill->geometry()), pill->cornerRadius());
    setMask(region);
}

void EditorWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF backing(QRect(origin, canvas));
    // A soft shadow below the backing: rings of fading black stand in for a blur.
    if (composited) {
        painter.setPen(Qt::NoPen);
        const int rings = int(shadowRadius);
        for (int i = rings; i >= 1; --i) {
            const double t = double(i) / rings;
            painter.setBrush(QColor(0, 0, 0, int(std::lround(0.45 * 255 * (1 - t) * (1 - t) / 5))));
            painter.drawRoundedRect(backing.adjusted(-i, -i, i, i).translated(0, shadowDrop), backingRadius + i,
                                    backingRadius + i);
        }
    }
    painter.setBrush(QColor(26, 26, 26));
    painter.setPen(QPen(QColor(255, 255, 255, int(std::lround(0.12 * 255))), 1));
    painter.drawRoundedRect(backing.adjusted(0.5, 0.5, -0.5, -0.5), backingRadius, backingRadius);
}

QRect EditorWindow::canvasFrame() const {
    for (QObject* child : children()) {
        auto* widget = qobject_cast<QWidget*>(child);
        if (widget && dynamic_cast<EditorCanvasMarker*>(widget))
            return QRect(widget->mapToGlobal(QPoint(0, 0)), widget->size());
    }
    return frameGeometry();
}

void EditorWindow::present(const QRect& growingFrom, int reserveBelow, std::optional<KeyRoute::Asked> asked) {
    if (!open().contains(QPointer<EditorWindow>(this)))
        open().append(this);
    const QScreen* screen = nullptr;
    for (const QScreen* candidate : QGuiApplication::screens())
        if (candidate->geometry().intersects(growingFrom)) {
            screen = candidate;
            break;
        }
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    std::optional<QRect> visible;
    if (screen)
        visible = screen->availableGeometry();
    move(placedAt(QRectF(growingFrom), size(), origin, canvas, visible, reserveBelow));
    // Come late, after the user turned to another program: it shows, and the keys typed there stay there.
    if (asked && KeyRoute::leftSince(*asked)) {
        KeyRoute::showAside(this);
        raise();
        return;
    }
    show();
    raise();
    makeActive();
}

void EditorWindow::present() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    present(screen ? screen->availableGeometry() : QRect(0, 0, 1440, 900), 0);
}

void EditorWindow::makeActive() {
    KeyRoute::takeKeys(this);
}

void EditorWindow::cancel() {
    if (auto callback = std::exchange(onCancel, nullptr))
        callback();
    close();
}

void EditorWindow::fail(const std::exception& error) {
    const QRect frame = frameGeometry();
    const QString text = QString::fromUtf8(error.what());
    Toast::show(text, QPoint(frame.center().x(), frame.top() + frame.height() - 30), 2.5);
}

void EditorWindow::writeAway(std::function<Written()> work) {
    if (writing)
        return;
    // It stays until the file is written, so that the new file always reaches the card.
    writing = true;
    // The canvas and its fields hear nothing until then: a stroke drawn or undone meanwhile would not be in the
    // file, and the window closes once it is written.
    for (QWidget* child : findChildren<QWidget*>())
        child->installEventFilter(this);
    setCursor(Qt::BusyCursor);
    for (QAbstractButton* button : findChildren<QAbstractButton*>())
        button->setEnabled(false);
    if (writeHooks.began)
        writeHooks.began();
    QPointer<EditorWindow> self(this);
    Dispatch::global([self, work = std::move(work), ended = writeHooks.ended] {
        Written written;
        const QString failure = failureOf([&] {
            const FileWrites::Scope scope;
            if (!scope.admitted())
                throw ConvertError(FileWrites::endingText());
            written = work();
        });
        if (ended)
            ended(failure.isEmpty() ? std::optional<QUrl>(written.url) : std::nullopt);
        Dispatch::main([self, then = std::move(written.then), failure] {
            if (!self)
                return;
            self->writing = false;
            for (QWidget* child : self->findChildren<QWidget*>())
                child->removeEventFilter(self);
            self->unsetCursor();
            for (QAbstractButton* button : self->findChildren<QAbstractButton*>())
                button->setEnabled(true);
            if (!failure.isEmpty())
                self->fail(ConvertError(failure));
            else if (then)
                then();
        });
    });
}

void EditorWindow::keyPressEvent(QKeyEvent* event) {
    // Neither a second Done nor a cancel while the file is being written: the window closes once it is.
    if (writing) {
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Escape) {
        cancel();
        return;
    }
    if (event->key() == Qt::Key_Return) {
        finish();
        return;
    }
    QWidget::keyPressEvent(event);
}

bool EditorWindow::eventFilter(QObject* watched, QEvent* event) {
    if (!writing || watched == this || !watched->isWidgetType() || static_cast<QWidget*>(watched)->window() != this)
        return QWidget::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::InputMethod:
    case QEvent::ContextMenu:
    case QEvent::TabletPress:
    case QEvent::TabletMove:
    case QEvent::TabletRelease:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
        return true;
    default:
        return QWidget::eventFilter(watched, event);
    }
}

void EditorWindow::closeEvent(QCloseEvent* event) {
    closed();
    QWidget::closeEvent(event);
}

void EditorWindow::closed() {
    isClosed = true;
    open().removeAll(QPointer<EditorWindow>(this));
    open().removeAll(QPointer<EditorWindow>());
    if (auto callback = std::exchange(onClose, nullptr))
        callback();
}

void EditorWindow::mousePressEvent(QMouseEvent* event) {
    // A press on the chrome moves the window; the canvas takes its own presses.
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    if (windowHandle() && windowHandle()->startSystemMove())
        return;
    dragFrom = event->globalPosition().toPoint() - pos();
}

void EditorWindow::mouseMoveEvent(QMouseEvent* event) {
    if (dragFrom && (event->buttons() & Qt::LeftButton))
        move(event->globalPosition().toPoint() - *dragFrom);
}

void EditorWindow::mouseReleaseEvent(QMouseEvent* event) {
    dragFrom.reset();
    QWidget::mouseReleaseEvent(event);
}
