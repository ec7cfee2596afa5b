#include "library/ShotGrid.h"

#include "library/FormatWheel.h"
#include "library/ShotItem.h"

#include <QApplication>
#include <QDrag>
#include <QHelpEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QScrollBar>
#include <QStringListModel>
#include <QTimer>
#include <QToolTip>
#include <QUrl>

#include <algorithm>

namespace {

// Each cell is the tile plus half the spacing on every side, so neighbouring tiles sit one
// spacing apart and the grid's margins make up the rest of the insets.
constexpr int half = ShotGrid::spacing / 2;

} // namespace

ShotGrid::ShotGrid(QWidget* parent) : QListView(parent), names(new QStringListModel(this)) {
    setModel(names);
    setItemDelegate(new ShotItem(this));
    setViewMode(QListView::ListMode);
    setFlow(QListView::LeftToRight);
    setWrapping(true);
    setResizeMode(QListView::Adjust);
    setUniformItemSizes(true);
    setSpacing(0);
    setMovement(QListView::Static);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setDragEnabled(true);
    setDragDropMode(QAbstractItemView::DragOnly);
    setDefaultDropAction(Qt::CopyAction);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setFrameShape(QFrame::NoFrame);
    setMouseTracking(true);
    setAttribute(Qt::WA_TranslucentBackground);
    viewport()->setAutoFillBackground(false);
    setAutoFillBackground(false);
    setStyleSheet(QStringLiteral("QListView { background: transparent; }"));
    // The list view wraps a row once it reaches the last pixel, not past it: one pixel less
    // margin on the right lets a row that fits exactly stay whole.
    setViewportMargins(insetLeft - half, insetTop - half, insetRight - half - 1, insetBottom - half);
    // The grid's own bar would take its width from the tiles and wrap the rows early: it stays
    // off, and a thin one lies over the right inset instead.
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    bar = new QScrollBar(Qt::Vertical, this);
    bar->setStyleSheet(QStringLiteral(
        "QScrollBar:vertical { background: transparent; width: 8px; margin: 0; }"
        "QScrollBar::handle:vertical { background: rgba(255,255,255,60); border-radius: 4px; min-height: 24px; }"
        "QScrollBar::add-line, QScrollBar::sub-line { height: 0; }"
        "QScrollBar::add-page, QScrollBar::sub-page { background: transparent; }"));
    QScrollBar* inner = verticalScrollBar();
    connect(inner, &QScrollBar::rangeChanged, this, [this, inner](int min, int max) {
        bar->setRange(min, max);
        bar->setPageStep(inner->pageStep());
        bar->setVisible(max > min);
    });
    connect(inner, &QScrollBar::valueChanged, bar, &QScrollBar::setValue);
    connect(bar, &QScrollBar::valueChanged, inner, &QScrollBar::setValue);
    bar->hide();
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, &ShotGrid::selectionCountChanged);

    sparkleTimer = new QTimer(this);
    sparkleTimer->setInterval(16);
    connect(sparkleTimer, &QTimer::timeout, this, [this] {
        for (auto it = sparkles.begin(); it != sparkles.end();)
            it = it->elapsed() > ShotItem::sparkleMs ? sparkles.erase(it) : std::next(it);
        if (sparkles.isEmpty())
            sparkleTimer->stop();
        viewport()->update();
    });
}

void ShotGrid::setItems(const QStringList& files) {
    shiftPress.reset();
    names->setStringList(files);
    emit selectionCountChanged();
}

QStringList ShotGrid::files() const {
    return names->stringList();
}

QList<int> ShotGrid::selectedRows() const {
    QList<int> rows;
    for (const QModelIndex& index : selectionModel()->selectedIndexes())
        rows.append(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

QStringList ShotGrid::selectedFiles() const {
    const QStringList all = names->stringList();
    QStringList files;
    for (int row : selectedRows())
        if (row >= 0 && row < all.size())
            files.append(all.at(row));
    return files;
}

void ShotGrid::selectRows(const QList<int>& rows) {
    QItemSelection selection;
    for (int row : rows) {
        const QModelIndex index = names->index(row);
        if (index.isValid())
            selection.select(index, index);
    }
    selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    if (!rows.isEmpty())
        selectionModel()->setCurrentIndex(names->index(rows.first()), QItemSelectionModel::NoUpdate);
}

void ShotGrid::setTileSize(QSize size) {
    if (size == tile)
        return;
    tile = size;
    scheduleDelayedItemsLayout();
}

QRect ShotGrid::tileRect(int index) const {
    const QRect cell = visualRect(names->index(index));
    if (!cell.isValid())
        return {};
    // visualRect is in the viewport; the viewport sits inside the margins.
    return cell.adjusted(half, half, -half, -half).translated(viewport()->pos());
}

QRectF ShotGrid::paintedTile(const QModelIndex& index) const {
    return QRectF(visualRect(index)).adjusted(half, half, -half, -half);
}

QRect ShotGrid::globalTile(const QModelIndex& index) const {
    const QRect local = paintedTile(index).toRect();
    return QRect(viewport()->mapToGlobal(local.topLeft()), local.size());
}

QModelIndex ShotGrid::indexAt(const QPoint& point) const {
    const QModelIndex index = QListView::indexAt(point);
    if (index.isValid() && !paintedTile(index).contains(point))
        return {};
    return index;
}

void ShotGrid::refreshFile(const QString& file) {
    const int row = int(names->stringList().indexOf(file));
    if (row >= 0)
        update(names->index(row));
}

void ShotGrid::sparkle(const QString& file) {
    QElapsedTimer clock;
    clock.start();
    sparkles.insert(file, clock);
    if (!sparkleTimer->isActive())
        sparkleTimer->start();
}

double ShotGrid::sparkleProgress(const QString& file) const {
    const auto it = sparkles.constFind(file);
    if (it == sparkles.constEnd())
        return -1;
    return std::min(1.0, double(it->elapsed()) / ShotItem::sparkleMs);
}

void ShotGrid::mousePressEvent(QMouseEvent* event) {
    shiftPress.reset();
    const QPoint point = event->position().toPoint();
    const QModelIndex index = indexAt(point);
    const Qt::KeyboardModifiers keys = event->modifiers();
    const bool shift = keys & Qt::ShiftModifier;
    const bool command = keys & Qt::ControlModifier;
    if (event->button() == Qt::LeftButton && !shift && !command) {
        if (!index.isValid()) {
            clearSelection();
            emit selectionCleared();
            return;
        }
        const QString file = index.data().toString();
        switch (ShotItem::partAt(paintedTile(index), file, event->position())) {
        case ShotItem::Part::edit:
            emit openRequested(file);
            return;
        case ShotItem::Part::rename:
            emit renameRequested(file, globalTile(index));
            return;
        case ShotItem::Part::badge:
            emit formatRequested(file, globalTile(index));
            return;
        default:
            break;
        }
    }
    if (event->button() == Qt::LeftButton && shift && index.isValid() && selectionModel()->isSelected(index)) {
        // Decided when the button comes up or the pointer moves: a release takes this one tile
        // out, a move drags the whole selection as it stands.
        shiftPress = ShiftPress{index, point};
        return;
    }
    QListView::mousePressEvent(event);
}

void ShotGrid::mouseMoveEvent(QMouseEvent* event) {
    if (shiftPress) {
        if ((event->position().toPoint() - shiftPress->at).manhattanLength() >= QApplication::startDragDistance()) {
            shiftPress.reset();
            startDrag(Qt::CopyAction);
        }
        return;
    }
    QListView::mouseMoveEvent(event);
}

void ShotGrid::mouseReleaseEvent(QMouseEvent* event) {
    if (shiftPress) {
        const QPersistentModelIndex index = shiftPress->index;
        shiftPress.reset();
        if (index.isValid())
            selectionModel()->select(QModelIndex(index), QItemSelectionModel::Deselect);
        return;
    }
    QListView::mouseReleaseEvent(event);
}

void ShotGrid::mouseDoubleClickEvent(QMouseEvent* event) {
    const QModelIndex index = indexAt(event->position().toPoint());
    if (event->button() == Qt::LeftButton && index.isValid() &&
        ShotItem::partAt(paintedTile(index), index.data().toString(), event->position()) == ShotItem::Part::tile) {
        emit openRequested(index.data().toString());
        return;
    }
    QListView::mouseDoubleClickEvent(event);
}

void ShotGrid::startDrag(Qt::DropActions) {
    const QStringList files = selectedFiles();
    if (files.isEmpty())
        return;
    QList<QUrl> urls;
    for (const QString& file : files)
        urls.append(QUrl::fromLocalFile(file));
    FormatWheel::shared().libraryDragBegan(urls);
    auto* data = new QMimeData;
    data->setUrls(urls);
    auto* drag = new QDrag(this);
    drag->setMimeData(data);
    const QImage picture = thumbnailFor(files.first());
    if (!picture.isNull())
        drag->setPixmap(QPixmap::fromImage(picture.scaled(96, 96, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
    drag->exec(Qt::CopyAction);
}

bool ShotGrid::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const QModelIndex index = indexAt(help->pos());
        const auto* item = static_cast<ShotItem*>(itemDelegate());
        QString tip;
        if (index.isValid()) {
            const ShotItem::Part part = ShotItem::partAt(paintedTile(index), index.data().toString(), help->pos());
            if (part == ShotItem::Part::edit)
                tip = item->editButton.tip();
            else if (part == ShotItem::Part::rename)
                tip = item->renameButton.tip();
        }
        if (tip.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), tip, viewport());
        return true;
    }
    return QListView::viewportEvent(event);
}

void ShotGrid::resizeEvent(QResizeEvent* event) {
    QListView::resizeEvent(event);
    placeScrollBar();
}

void ShotGrid::placeScrollBar() {
    bar->setGeometry(width() - 14, insetTop, 8, std::max(0, height() - insetTop - insetBottom));
}
