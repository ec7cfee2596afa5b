#pragma once
// The basket's grid: listed files as tiles in rows from the top left, wrapped to the width.
// Until the picture tiles come, a tile is a plain card with the file's name.

#include <QListView>
#include <QStringList>

class QScrollBar;
class QStringListModel;

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

    QSize tileSize() const { return tile; }
    void setTileSize(QSize size);
    // Where tile i lies, in the grid's own coordinates (as laid out, scrolled to the top).
    QRect tileRect(int index) const;

signals:
    void selectionCountChanged();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void placeScrollBar();

    QStringListModel* names = nullptr;
    QScrollBar* bar = nullptr;
    QSize tile{236, 150};
};
