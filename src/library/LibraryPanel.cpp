#include "library/LibraryPanel.h"

#include "card/Thumbnail.h"
#include "imaging/ShotFiles.h"
#include "library/OwnAreaWatch.h"
#include "library/PreviewPanel.h"
#include "library/ShotGrid.h"
#include "platform/Desktops.h"
#include "platform/Dispatch.h"
#include "platform/Notifications.h"
#include "platform/PointerWatch.h"
#include "platform/WindowFocus.h"
#include "ui/Brand.h"
#include "ui/ClickAway.h"
#include "ui/GhostButton.h"
#include "ui/KeyRoute.h"
#include "ui/OwnWindows.h"
#include "ui/UI.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCursor>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QUrl>
#include <QWindow>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

// End-to-end tests read what the basket lists from standard error.
void trace(const QString& line) {
    static const bool on = qEnvironmentVariableIsSet("PICTOLARIUM_TRACE");
    if (on)
        std::fprintf(stderr, "basket: %s\n", qPrintable(line));
}

LibraryPanel::Services& pendingServices() {
    static LibraryPanel::Services services;
    return services;
}

constexpr int edgeGrip = 6;
// The header row and the margin above it: the part of the panel a title bar would be.
constexpr int topStrip = 18 + 44;
constexpr qint64 desktopGraceMs = 1000;

} // namespace

void LibraryPanel::setServices(Services services) {
    pendingServices() = std::move(services);
}

LibraryPanel& LibraryPanel::shared() {
    // Never deleted: hiding is the only way it goes away.
    static LibraryPanel* panel = new LibraryPanel(pendingServices());
    return *panel;
}

QString LibraryPanel::changed() {
    return ShotFiles::changed();
}

LibraryPanel::LibraryPanel(Services given)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint), services(std::move(given)) {
    setObjectName(QStringLiteral("LibraryPanel"));
    setWindowTitle(QStringLiteral("Pictolarium Basket"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    composited = UI::composited();
    if (composited)
        setAttribute(Qt::WA_TranslucentBackground);
    setMinimumSize(minimumPanelSize);
    resize(initialSize);

    BasketListing::Sources sources = services.sources ? *services.sources : BasketListing::standardSources({});
    QPointer<LibraryPanel> self(this);
    sources.visible = [self] { return self && self->isVisible(); };
    files = new BasketListing(std::move(sources), this);
    connect(files, &BasketListing::itemsChanged, this, &LibraryPanel::showListing);
    connect(files, &BasketListing::stateChanged, this, &LibraryPanel::showState);

    if (services.desktops)
        connect(services.desktops, &Desktops::currentDesktopChanged, this, [this] { desktopChangedAt.start(); });

    buildUI();
    qApp->installEventFilter(this);
}

LibraryPanel::~LibraryPanel() = default;

int LibraryPanel::columnsFor(int width) {
    const int columns = (width - 2 * ShotGrid::insetLeft + ShotGrid::spacing) / 264;
    return columns < 3 ? 2 : columns;
}

QSize LibraryPanel::tileSizeFor(int width) {
    const int c = columnsFor(width);
    const int tileWidth = int(std::floor(double(width - 2 * ShotGrid::insetLeft - (c - 1) * ShotGrid::spacing) / c));
    return {tileWidth, int(std::floor(0.63 * tileWidth)) + 22};
}

void LibraryPanel::fitTiles() {
    const QSize tile = tileSizeFor(width());
    if (tile == collection->tileSize())
        return;
    collection->setTileSize(tile);
    trace(QStringLiteral("%1 columns of %2 x %3").arg(columnsFor(width())).arg(tile.width()).arg(tile.height()));
}

void LibraryPanel::toggle(std::optional<QPoint> near) {
    Thumbnail::dismiss();
    if (!observing) {
        observing = true;
        QPointer<LibraryPanel> self(this);
        Notifications::defaultCenter().observe(changed(), this, [self](const QVariant& object) {
            if (!self)
                return;
            QString path;
            if (object.canConvert<QUrl>() && object.toUrl().isLocalFile())
                path = object.toUrl().toLocalFile();
            else if (object.typeId() == QMetaType::QString)
                path = object.toString();
            self->files->fileChanged(path);
        });
    }
    if (isVisible() && (isActiveWindow() || (preview && preview->isActiveWindow()))) {
        hide();
        return;
    }
    if (!outsideClicks)
        outsideClicks = std::make_unique<ClickAway>(
            this, std::make_unique<OwnAreaWatch>(services.pointerWatch ? services.pointerWatch() : nullptr,
                                                 services.statusItemArea));
    fitTiles();
    reload();
    if (isVisible()) {
        makeActive();
        return;
    }
    const QPoint point = near.value_or(QCursor::pos());
    QScreen* screen = QGuiApplication::screenAt(point);
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (screen) {
        const QRect area = screen->availableGeometry();
        move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
    }
    // Asked before the window is mapped, so the window manager places it on every desktop at once.
    winId();
    if (services.desktops)
        services.desktops->showOnAllDesktops(windowHandle());
    show();
    makeActive();
}

void LibraryPanel::makeActive() {
    raise();
    activateWindow();
    // Openbox keeps the keyboard from a program that is not in front, notably just after a desktop
    // switch: then ask as a pager would, or Escape and the arrows would go to another window.
    QPointer<LibraryPanel> self(this);
    Dispatch::after(150, this, [self] {
        if (!self || !self->isVisible() || self->isActiveWindow())
            return;
        if (WindowFocus* focus = self->services.focus)
            focus->activate(quint32(self->winId()));
    });
}

void LibraryPanel::reload() {
    files->reload();
}

void LibraryPanel::pickTab(GhostButton* sender) {
    for (GhostButton* button : std::as_const(tabButtons)) {
        button->setActive(button == sender);
        button->setContentTintColor(button == sender ? UI::accent() : QColor(Qt::white));
    }
    files->pickTab(sender ? tabButtons.indexOf(sender) : 0);
}

void LibraryPanel::updateCount() {
    const qsizetype n = collection->selectedFiles().size();
    // With nothing selected, the label says what the listing knows it lacks.
    countLabel->setText(n > 0 ? QString::number(n) + QStringLiteral(" selected") : files->note);
    fitHeader();
    trace(QStringLiteral("count: ") + countLabel->text());
    QPalette pal = countLabel->palette();
    pal.setColor(QPalette::WindowText, UI::accent());
    countLabel->setPalette(pal);
}

void LibraryPanel::showAppMenu(QWidget* sender) {
    if (!services.makeMenu || !sender)
        return;
    QMenu* menu = services.makeMenu();
    if (!menu)
        return;
    connect(menu, &QMenu::aboutToHide, menu, &QObject::deleteLater);
    menu->popup(sender->mapToGlobal(QPoint(0, sender->height() + 6)));
}

void LibraryPanel::closeFromButton() {
    hide();
}

void LibraryPanel::showListing() {
    // Listing anew keeps the chosen tiles that are still listed: the Recent search comes back after a
    // conversion has selected its new files.
    const QStringList chosen = collection->selectedFiles();
    collection->setItems(files->items);
    if (!chosen.isEmpty())
        selectFiles(chosen);
    QStringList names;
    for (const QString& file : std::as_const(files->items))
        names.append(QFileInfo(file).fileName());
    trace((files->showingRecent ? QStringLiteral("recent: ") : QStringLiteral("screenshots: ")) +
          names.join(QStringLiteral(" | ")));
    // Tiles of files new since the last look sparkle once, when first drawn.
}

void LibraryPanel::showState() {
    emptyView->setVisible(files->emptyShown);
    emptyTitle->setText(files->emptyTitle);
    emptyDetail->setText(files->emptyDetail);
    // A wrapping label asks for too little width of its own: as wide as its longest line, up to 380.
    int widest = 0;
    for (const QString& line : files->emptyDetail.split(u'\n'))
        widest = std::max(widest, emptyDetail->fontMetrics().horizontalAdvance(line));
    emptyDetail->setFixedWidth(std::min(380, widest + 4));
    if (files->emptyShown)
        trace(QStringLiteral("empty: ") + files->emptyTitle + QStringLiteral(" / ") + files->emptyDetail);
    updateCount();
}

bool LibraryPanel::sinceDesktopChange(qint64 milliseconds) const {
    return !desktopChangedAt.isValid() || desktopChangedAt.elapsed() >= milliseconds;
}

void LibraryPanel::lostKey() {
    // Switching desktops takes the focus for a moment; the panel is on every desktop and stays. So does a
    // capture that hides the panel for the moment of its grab: the loss of focus that brings is told late,
    // often once the panel is back. Shown again meanwhile, it has a new showing to lose.
    QPointer<LibraryPanel> self(this);
    KeyRoute::whenKeysLost(
        this, desktopGraceMs,
        [self, showing = showings] {
            return !self || self->showings != showing || !self->sinceDesktopChange(desktopGraceMs);
        },
        [self] {
            if (self)
                self->hide();
        });
}

bool LibraryPanel::event(QEvent* event) {
    if (event->type() == QEvent::WindowDeactivate)
        lostKey();
    else if (event->type() == QEvent::Show && !OwnWindows::steppedAside(this, 0))
        ++showings;
    else if (event->type() == QEvent::Hide && !event->spontaneous())
        releaseThumbnails();
    // The preview is part of the basket: it goes with it, whatever closed the basket.
    if (event->type() == QEvent::Hide && preview && preview->isVisible() && !OwnWindows::steppedAside(this, 0))
        preview->hide();
    return QWidget::event(event);
}

Qt::Edges LibraryPanel::edgesAt(QPoint local) const {
    Qt::Edges edges;
    if (local.x() < edgeGrip)
        edges |= Qt::LeftEdge;
    if (local.x() >= width() - edgeGrip)
        edges |= Qt::RightEdge;
    if (local.y() < edgeGrip)
        edges |= Qt::TopEdge;
    if (local.y() >= height() - edgeGrip)
        edges |= Qt::BottomEdge;
    return edges;
}

bool LibraryPanel::eventFilter(QObject* watched, QEvent* event) {
    // The panel has no frame of its own: a drag from along its edges resizes it, whichever child
    // lies there. Done here rather than by the window manager, which not every one offers for a
    // frameless window.
    const QEvent::Type type = event->type();
    // The preview holds the basket's keyboard while it shows: the user turning from it to another program (by
    // the window manager's switcher, where no click tells) turns from the basket.
    if (type == QEvent::WindowDeactivate && preview && watched == preview)
        lostKey();
    // The basket's keys come before the grid's own Space and Ctrl+A.
    if (type == QEvent::KeyPress) {
        auto* widget = qobject_cast<QWidget*>(watched);
        return widget && widget->window() == this && handleKey(static_cast<QKeyEvent*>(event));
    }
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseMove && type != QEvent::MouseButtonRelease)
        return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window() != this)
        return false;
    auto* mouse = static_cast<QMouseEvent*>(event);
    const QPoint global = mouse->globalPosition().toPoint();
    if (type == QEvent::MouseButtonRelease) {
        const bool ended = edgeDrag.has_value() || (stripDrag && stripDrag->moving);
        edgeDrag.reset();
        stripDrag.reset();
        return ended;
    }
    if (type == QEvent::MouseMove && edgeDrag) {
        resizeByDrag(global);
        return true;
    }
    if (type == QEvent::MouseMove && stripDrag && (mouse->buttons() & Qt::LeftButton)) {
        moveByDrag(global);
        return stripDrag->moving;
    }
    const Qt::Edges edges = edgesAt(mapFromGlobal(global));
    if (type == QEvent::MouseButtonPress) {
        if (mouse->button() != Qt::LeftButton)
            return false;
        if (!edges) {
            // The strip above the separator, away from its buttons, moves the panel as a title bar would.
            if (mapFromGlobal(global).y() < topStrip && !qobject_cast<QAbstractButton*>(widget))
                stripDrag = StripDrag{global, pos()};
            return false;
        }
        edgeDrag = EdgeDrag{edges, global, geometry()};
        return true;
    }
    if (mouse->buttons() == Qt::NoButton) {
        const bool diagonalDown = edges == (Qt::LeftEdge | Qt::TopEdge) || edges == (Qt::RightEdge | Qt::BottomEdge);
        const bool diagonalUp = edges == (Qt::RightEdge | Qt::TopEdge) || edges == (Qt::LeftEdge | Qt::BottomEdge);
        if (diagonalDown)
            setCursor(Qt::SizeFDiagCursor);
        else if (diagonalUp)
            setCursor(Qt::SizeBDiagCursor);
        else if (edges & (Qt::LeftEdge | Qt::RightEdge))
            setCursor(Qt::SizeHorCursor);
        else if (edges)
            setCursor(Qt::SizeVerCursor);
        else
            unsetCursor();
    }
    return false;
}

void LibraryPanel::moveByDrag(QPoint global) {
    const QPoint delta = global - stripDrag->start;
    if (!stripDrag->moving && delta.manhattanLength() < QApplication::startDragDistance())
        return;
    stripDrag->moving = true;
    QRect frame(stripDrag->topLeft + delta, size());
    // Kept on the screen the pointer is on: all of it when it fits, else its top strip.
    if (const QScreen* screen = QGuiApplication::screenAt(global)) {
        const QRect area = screen->availableGeometry();
        frame.moveLeft(std::clamp(frame.left(), area.left(), std::max(area.left(), area.right() + 1 - frame.width())));
        frame.moveTop(std::clamp(frame.top(), area.top(), std::max(area.top(), area.bottom() + 1 - frame.height())));
    }
    move(frame.topLeft());
}

void LibraryPanel::resizeByDrag(QPoint global) {
    const QPoint delta = global - edgeDrag->start;
    QRect frame = edgeDrag->geometry;
    const QSize least = minimumSize();
    // The opposite edge stays where it was; the panel never gets smaller than its minimum.
    if (edgeDrag->edges & Qt::LeftEdge)
        frame.setLeft(std::min(frame.left() + delta.x(), frame.right() + 1 - least.width()));
    if (edgeDrag->edges & Qt::RightEdge)
        frame.setRight(std::max(frame.right() + delta.x(), frame.left() - 1 + least.width()));
    if (edgeDrag->edges & Qt::TopEdge)
        frame.setTop(std::min(frame.top() + delta.y(), frame.bottom() + 1 - least.height()));
    if (edgeDrag->edges & Qt::BottomEdge)
        frame.setBottom(std::max(frame.bottom() + delta.y(), frame.top() - 1 + least.height()));
    // A dragged edge stops at the screen's free area (not under a panel or off the screen), or where it
    // already stood when it started outside it.
    if (const QScreen* screen = QGuiApplication::screenAt(edgeDrag->geometry.center())) {
        const QRect area = screen->availableGeometry();
        const QRect from = edgeDrag->geometry;
        if (edgeDrag->edges & Qt::LeftEdge)
            frame.setLeft(std::max(frame.left(), std::min(area.left(), from.left())));
        if (edgeDrag->edges & Qt::RightEdge)
            frame.setRight(std::min(frame.right(), std::max(area.right(), from.right())));
        if (edgeDrag->edges & Qt::TopEdge)
            frame.setTop(std::max(frame.top(), std::min(area.top(), from.top())));
        if (edgeDrag->edges & Qt::BottomEdge)
            frame.setBottom(std::min(frame.bottom(), std::max(area.bottom(), from.bottom())));
    }
    setGeometry(frame);
}

void LibraryPanel::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    fitTiles();
    fitHeader();
    if (!composited) {
        // Without a compositor the clear corners would show black: cut them off instead.
        QPainterPath path;
        path.addRoundedRect(QRectF(rect()), 12, 12);
        setMask(QRegion(path.toFillPolygon().toPolygon()));
    }
}

void LibraryPanel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), 12, 12);
    QColor backdrop = Brand::background();
    // Without a blur behind it, only a trace of what lies under it may show (no more than through the card's
    // pills), or a page behind the empty state and the tiles' names would read through.
    backdrop.setAlphaF(composited ? 0.99 : 1.0);
    painter.fillPath(shape, backdrop);
    // A soft green glow from above the top edge: an ellipse half as wide as the panel and most
    // of its height deep.
    const double rx = 0.5 * width();
    const double ry = 0.85 * height();
    const QPointF centre(0.5 * width(), -0.1 * height());
    QRadialGradient glow(QPointF(0, 0), 1.0);
    QColor green = Brand::green();
    green.setAlphaF(0.14);
    glow.setColorAt(0, green);
    green.setAlphaF(0);
    glow.setColorAt(1, green);
    painter.save();
    painter.setClipPath(shape);
    painter.translate(centre);
    painter.scale(rx, ry);
    painter.fillRect(QRectF(-1, -1, 2, 2), glow);
    painter.restore();
}
