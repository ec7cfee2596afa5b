#include "card/ToolbarPrefsWindow.h"

#include "platform/PointerWatch.h"
#include "ui/ClickAway.h"
#include "ui/KeyRoute.h"

#include "card/ToolbarPrefs.h"
#include "platform/Defaults.h"
#include "ui/Brand.h"
#include "ui/Symbols.h"
#include "ui/UI.h"

#include <QAbstractListModel>
#include <QCursor>
#include <QDrag>
#include <QDropEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QMimeData>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QStyledItemDelegate>

#include <cmath>

// How long after a capture stepped our windows aside a loss of the keyboard is put down to it.
constexpr qint64 lostKeyGraceMs = 1000;

namespace {

constexpr int rowWidth = 264;
constexpr int rowHeight = 28;
constexpr int symbolColumn = 22;
constexpr int boxSize = 14;

} // namespace

const QString ToolbarPrefsWindow::dragType = QStringLiteral("com.quillmerette.picto.toolrow");

// The rows as the list view sees them; the window keeps the lists and decides every change.
class ToolRows : public QAbstractListModel {
public:
    explicit ToolRows(ToolbarPrefsWindow* window) : QAbstractListModel(window), window(window) {}

    void reloadAll() {
        beginResetModel();
        endResetModel();
    }
    void reloadRow(int row) { emit dataChanged(index(row), index(row)); }

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : int(window->shownOrder().size());
    }

    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid() || index.row() >= window->shownOrder().size())
            return {};
        const QString& id = window->shownOrder().at(index.row());
        const std::optional<ToolbarPrefs::Entry> row = ToolbarPrefs::entry(id);
        if (!row)
            return {};
        switch (role) {
        case Qt::DisplayRole:
            return row->title;
        case Qt::CheckStateRole:
            return window->hiddenIds().contains(id) ? Qt::Unchecked : Qt::Checked;
        case Qt::UserRole:
            return id;
        case Qt::DecorationRole:
            return row->symbol;
        default:
            return {};
        }
    }

    Qt::ItemFlags flags(const QModelIndex& index) const override {
        if (!index.isValid())
            return Qt::ItemIsDropEnabled;
        // Rows are no drop targets of their own, so a drop over a row lands above or below it.
        return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled;
    }

    QStringList mimeTypes() const override { return {ToolbarPrefsWindow::dragType}; }
    Qt::DropActions supportedDragActions() const override { return Qt::MoveAction; }
    Qt::DropActions supportedDropActions() const override { return Qt::MoveAction; }

    QMimeData* mimeData(const QModelIndexList& indexes) const override {
        return indexes.isEmpty() ? nullptr : window->dragData(indexes.first().row());
    }

private:
    ToolbarPrefsWindow* window;
};

namespace {

// Draws a row: the symbol column, the box, the title and the drag grip. The selection that dragging
// needs is never shown.
class RowDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override { return {rowWidth, rowHeight}; }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        const QRect r = option.rect;
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        const double ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;

        // A symbol the icon table lacks leaves its column empty.
        const QImage symbol = Symbols::image(index.data(Qt::DecorationRole).toString(), 14, Brand::text(), ratio);
        if (!symbol.isNull()) {
            const QSizeF size = symbol.deviceIndependentSize();
            painter->drawImage(QPointF(r.left() + std::round((symbolColumn - size.width()) / 2),
                                       r.top() + std::round((r.height() - size.height()) / 2)),
                               symbol);
        }

        // The box is drawn in the look's colours: the platform style's box vanishes on the dark background.
        const QRectF box(r.left() + symbolColumn + 8 + 0.5, r.top() + (r.height() - boxSize) / 2.0 + 0.5, boxSize - 1,
                         boxSize - 1);
        const bool ticked = index.data(Qt::CheckStateRole).toInt() == Qt::Checked;
        if (ticked) {
            painter->setPen(QPen(Brand::greenDeep(), 1));
            painter->setBrush(Brand::green());
        } else {
            painter->setPen(QPen(Brand::lineStrong(), 1));
            painter->setBrush(Brand::surface());
        }
        painter->drawRoundedRect(box, 3.5, 3.5);
        if (ticked) {
            painter->setPen(QPen(Brand::onGreen(), 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            painter->setBrush(Qt::NoBrush);
            const QPointF o = box.topLeft();
            const QPointF tick[] = {o + QPointF(3.2, 7.0), o + QPointF(5.8, 9.6), o + QPointF(10.4, 4.0)};
            painter->drawPolyline(tick, 3);
        }

        const QFont font = UI::font(13, QFont::Normal);
        painter->setFont(font);
        painter->setPen(Brand::text());
        // A checkbox control is a little wider than its box; the title keeps the control's distance.
        const int titleLeft = int(std::ceil(box.right())) + 6;
        const QRect title(titleLeft, r.top(), r.right() - titleLeft - 16, r.height());
        painter->drawText(title, Qt::AlignVCenter | Qt::AlignLeft,
                          QFontMetrics(font).elidedText(index.data().toString(), Qt::ElideRight, title.width()));

        QColor grip = Brand::muted();
        grip.setAlphaF(0.55);
        const QImage handle = Symbols::image(QStringLiteral("line.3.horizontal"), 11, grip, ratio);
        if (!handle.isNull()) {
            const QSizeF size = handle.deviceIndependentSize();
            painter->drawImage(
                QPointF(r.left() + r.width() - size.width(), r.top() + std::round((r.height() - size.height()) / 2)),
                handle);
        }
        painter->restore();
    }
};

// A list whose drags carry only our row payload and whose drops go through the window's rules; the
// stock move handling would remove or reorder rows behind the window's back.
class ToolTable : public QListView {
public:
    ToolTable(ToolbarPrefsWindow* owner, QWidget* parent) : QListView(parent), owner(owner) {}

protected:
    void startDrag(Qt::DropActions) override {
        const QModelIndex index = currentIndex();
        QMimeData* data = index.isValid() ? owner->dragData(index.row()) : nullptr;
        if (!data)
            return;
        auto* drag = new QDrag(this);
        drag->setMimeData(data);
        drag->setPixmap(viewport()->grab(visualRect(index)));
        drag->setHotSpot(viewport()->mapFromGlobal(QCursor::pos()) - visualRect(index).topLeft());
        drag->exec(Qt::MoveAction);
    }

    void dropEvent(QDropEvent* event) override {
        const QPoint at = event->position().toPoint();
        const QModelIndex index = indexAt(at);
        // A drop on a row lands above it, wherever on the row it falls; below the last row, at the end.
        const int row = index.isValid() ? index.row() : model()->rowCount();
        if (owner->acceptDrop(event->mimeData(), row)) {
            event->setDropAction(Qt::MoveAction);
            event->accept();
        } else {
            event->ignore();
        }
        setState(NoState);
        stopAutoScroll();
        viewport()->update();
    }

private:
    ToolbarPrefsWindow* owner;
};

} // namespace

ToolbarPrefsWindow::ToolbarPrefsWindow(Defaults& store, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint),
      defaults(store) {
    order = ToolbarPrefs::order(defaults);
    hidden = ToolbarPrefs::hidden(defaults);

    setWindowTitle(QStringLiteral("Customize Toolbar"));
    setFixedSize(300, 472);
    QPalette look = palette();
    look.setColor(QPalette::Window, Brand::background());
    look.setColor(QPalette::WindowText, Brand::text());
    look.setColor(QPalette::Base, Brand::background());
    look.setColor(QPalette::Text, Brand::text());
    look.setColor(QPalette::Button, Brand::surface());
    look.setColor(QPalette::ButtonText, Brand::text());
    setPalette(look);
    setAutoFillBackground(true);

    rows = new ToolRows(this);
    auto* list = new ToolTable(this, this);
    table = list;
    table->setModel(rows);
    table->setItemDelegate(new RowDelegate(table));
    // 400 high: the 14 rows and a strip below the last one to drop a row at the end.
    table->setGeometry(18, 8, rowWidth, 400);
    table->setFrameShape(QFrame::NoFrame);
    table->setFocusPolicy(Qt::NoFocus);
    table->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    table->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    table->setUniformItemSizes(true);
    table->setSpacing(0);
    table->setSelectionMode(QAbstractItemView::SingleSelection); // dragging starts from the pressed row
    table->setDragEnabled(true);
    table->setAcceptDrops(true);
    table->setDropIndicatorShown(true);
    table->setDragDropMode(QAbstractItemView::DragDrop);
    table->setDefaultDropAction(Qt::MoveAction);
    table->viewport()->setAutoFillBackground(false);
    table->setStyleSheet(QStringLiteral("QListView { background: transparent; }"));
    connect(table, &QListView::clicked, this, [this](const QModelIndex& index) { rowClicked(index.row()); });

    auto* hint = new QLabel(QStringLiteral("Drag to reorder"), this);
    hint->setFont(UI::font(11, QFont::Normal));
    QPalette muted = hint->palette();
    muted.setColor(QPalette::WindowText, Brand::muted());
    hint->setPalette(muted);
    hint->adjustSize();
    hint->move(18, height() - 18 - hint->height());

    reset = new QPushButton(QStringLiteral("Reset"), this);
    reset->adjustSize();
    reset->move(width() - 14 - reset->width(), hint->geometry().center().y() - reset->height() / 2);
    connect(reset, &QPushButton::clicked, this, &ToolbarPrefsWindow::resetTapped);

    // A click elsewhere on the screen, outside our windows, closes (hides) the window.
    clickAway = std::make_unique<ClickAway>(this, pointerWatchMaker() ? pointerWatchMaker()() : nullptr);
}

ToolbarPrefsWindow::~ToolbarPrefsWindow() = default;

void ToolbarPrefsWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

bool ToolbarPrefsWindow::event(QEvent* event) {
    if (event->type() == QEvent::WindowDeactivate)
        lostKey();
    return QWidget::event(event);
}

void ToolbarPrefsWindow::lostKey() {
    // A capture that hides our windows for the moment of its grab takes the focus too: that is no leaving.
    KeyRoute::whenKeysLost(this, lostKeyGraceMs, {}, [self = QPointer<ToolbarPrefsWindow>(this)] {
        if (self)
            self->close();
    });
}

std::function<std::unique_ptr<PointerWatch>()>& ToolbarPrefsWindow::pointerWatchMaker() {
    static std::function<std::unique_ptr<PointerWatch>()> make;
    return make;
}

void ToolbarPrefsWindow::setPointerWatch(std::function<std::unique_ptr<PointerWatch>()> make) {
    pointerWatchMaker() = std::move(make);
}

ToolbarPrefsWindow& ToolbarPrefsWindow::shared() {
    // Kept for the life of the process, so the next show() brings back the same window.
    static ToolbarPrefsWindow* window = new ToolbarPrefsWindow(Defaults::standard());
    return *window;
}

void ToolbarPrefsWindow::show() {
    shared().present();
}

void ToolbarPrefsWindow::reload() {
    order = ToolbarPrefs::order(defaults);
    hidden = ToolbarPrefs::hidden(defaults);
    rows->reloadAll();
}

void ToolbarPrefsWindow::present() {
    reload();
    QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (screen) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    QWidget::show();
    raise();
    activateWindow();
}

void ToolbarPrefsWindow::rowClicked(int row) {
    if (row < 0 || row >= order.size())
        return;
    const QString& id = order.at(row);
    if (!hidden.remove(id))
        hidden.insert(id);
    ToolbarPrefs::storeHidden(defaults, hidden);
    rows->reloadRow(row);
}

QMimeData* ToolbarPrefsWindow::dragData(int row) const {
    if (row < 0 || row >= order.size())
        return nullptr;
    auto* data = new QMimeData;
    data->setData(dragType, QByteArray::number(row));
    return data;
}

bool ToolbarPrefsWindow::acceptDrop(const QMimeData* data, int row) {
    if (!data || !data->hasFormat(dragType))
        return false;
    const QByteArray text = data->data(dragType);
    bool ok = false;
    const qlonglong from = text.isEmpty() ? -1 : text.toLongLong(&ok, 10);
    if (!ok || from < 0 || from >= order.size())
        return false;
    const QString id = order.takeAt(from);
    const qlonglong target = from < row ? qlonglong(row) - 1 : qlonglong(row);
    order.insert(qBound<qlonglong>(0, target, order.size()), id);
    ToolbarPrefs::storeOrder(defaults, order);
    rows->reloadAll();
    return true;
}

void ToolbarPrefsWindow::resetTapped() {
    defaults.remove(ToolbarPrefs::orderKey);
    defaults.remove(ToolbarPrefs::hiddenKey);
    reload();
}
