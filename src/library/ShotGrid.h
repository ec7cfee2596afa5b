#pragma once
// The basket's grid: listed files as picture tiles in rows from the top left, wrapped to the
// width. A press in a gap clears the selection; Shift on a selected tile takes that tile out on
// release or drags the whole selection when moved; tiles dragged out go as file URLs.

#include <QElapsedTimer>
#include <QHash>
#include <QImage>
#include <QListView>
#include <QStringList>

#include <functional>
#include <optional>

class QScrollBar;
class QStringListModel;
class QTimer;

class ShotGrid : public QListView {
    Q_OBJECT
public:
    static constexpr int insetLeft = 22;
    static constexpr int insetTop = 18;
    static constexpr int insetRight = 22;
    static constexpr int insetBottom = 24;
    static constexpr int spacing = 14;

    explicit ShotGrid(QWidget* parent = nullptr);

    // Shows these files, in this order; the selection is cleared.
    void setItems(const QStringList& files);
    QStringList files() const;
    // Files of the selected tiles, in grid order.
    QStringList selectedFiles() const;
    // Rows of the selected tiles, ascending.
    QList<int> selectedRows() const;
    void selectRows(const QList<int>& rows);

    QSize tileSize() const { return tile; }
    void setTileSize(QSize size);
    // Where tile i lies, in the grid's own coordinates (as laid out, scrolled to the top).
    QRect tileRect(int index) const;

    // The picture of a file's tile, asked for whenever the tile is drawn; null while it has none.
    std::function<QImage(const QString&)> thumbnail;
    QImage thumbnailFor(const QString& file) const { return thumbnail ? thumbnail(file) : QImage(); }
    // Redraws the tile of that file, wherever it now is.
    void refreshFile(const QString& file);

    // The tile plays its arrival once; the repaint timer runs only while one plays.
    void sparkle(const QString& file);
    // -1 when the file's tile is not sparkling, else how far it has got, 0 to 1.
    double sparkleProgress(const QString& file) const;

    // Only the painted tile counts, not the gap around it.
    QModelIndex indexAt(const QPoint& point) const override;

signals:
    void selectionCountChanged();
    // A plain press in a gap cleared the selection.
    void selectionCleared();
    void openRequested(const QString& file);
    // A tile's rename button or format badge; the tile's frame on screen.
    void renameRequested(const QString& file, const QRect& tile);
    void formatRequested(const QString& file, const QRect& tile);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void startDrag(Qt::DropActions supportedActions) override;
    bool viewportEvent(QEvent* event) override;

private:
    void placeScrollBar();
    QRectF paintedTile(const QModelIndex& index) const;
    QRect globalTile(const QModelIndex& index) const;

    QStringListModel* names = nullptr;
    QScrollBar* bar = nullptr;
    QSize tile{236, 150};
    QHash<QString, QElapsedTimer> sparkles;
    QTimer* sparkleTimer = nullptr;
    // A Shift press on a selected tile: it leaves the selection if the button comes up unmoved.
    struct ShiftPress {
        QPersistentModelIndex index;
        QPoint at;
    };
    std::optional<ShiftPress> shiftPress;
};
