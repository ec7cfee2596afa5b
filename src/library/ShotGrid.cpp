#include "library/ShotGrid.h"

#include "ui/Brand.h"
#include "ui/UI.h"

#include <QFileInfo>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QStringListModel>
#include <QStyledItemDelegate>

#include <algorithm>

namespace {

// Each cell is the tile plus half the spacing on every side, so neighbouring tiles sit one
// spacing apart and the grid's margins make up the rest of the insets.
constexpr int half = ShotGrid::spacing / 2;

class NameTile final : public QStyledItemDelegate {
public:
    NameTile(ShotGrid* grid) : QStyledItemDelegate(grid), grid(grid) {}

    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override {
        return grid->tileSize() + QSize(ShotGrid::spacing, ShotGrid::spacing);
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        const QRectF rect = QRectF(option.rect).adjusted(half, half, -half, -half);
        const bool selected = option.state & QStyle::State_Selected;
        const bool hovered = option.state & QStyle::State_MouseOver;
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        QPainterPath path;
        path.addRoundedRect(rect.adjusted(0.5, 0.5, -0.5, -0.5), 12, 12);
        painter->fillPath(path, QColor(255, 255, 255, hovered ? 26 : 15));
        painter->setPen(selected ? QPen(UI::accent(), 2) : QPen(QColor(255, 255, 255, 28), 1));
        painter->drawPath(path);
        painter->setFont(UI::font(12, QFont::Medium));
        painter->setPen(Brand::text());
        const QString name = QFileInfo(index.data().toString()).fileName();
        const QRectF text = rect.adjusted(12, 0, -12, -10);
        painter->drawText(text, Qt::AlignHCenter | Qt::AlignBottom,
                          painter->fontMetrics().elidedText(name, Qt::ElideMiddle, int(text.width())));
        painter->restore();
    }

private:
    ShotGrid* grid;
};

} // namespace

ShotGrid::ShotGrid(QWidget* parent) : QListView(parent), names(new QStringListModel(this)) {
    setModel(names);
    setItemDelegate(new NameTile(this));
    setViewMode(QListView::ListMode);
    setFlow(QListView::LeftToRight);
    setWrapping(true);
    setResizeMode(QListView::Adjust);
    setUniformItemSizes(true);
    setSpacing(0);
    setMovement(QListView::Static);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
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
}

void ShotGrid::setItems(const QStringList& files) {
    names->setStringList(files);
    emit selectionCountChanged();
}

QStringList ShotGrid::files() const {
    return names->stringList();
}

QStringList ShotGrid::selectedFiles() const {
    QModelIndexList rows = selectionModel()->selectedIndexes();
    std::sort(rows.begin(), rows.end(), [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    QStringList files;
    for (const QModelIndex& row : rows)
        files.append(row.data().toString());
    return files;
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

void ShotGrid::resizeEvent(QResizeEvent* event) {
    QListView::resizeEvent(event);
    placeScrollBar();
}

void ShotGrid::placeScrollBar() {
    bar->setGeometry(width() - 14, insetTop, 8, std::max(0, height() - insetTop - insetBottom));
}
