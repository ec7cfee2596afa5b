#pragma once
// The basket: the user's screenshots and recent pictures in one floating panel that takes keys,
// shows on every desktop, and hides when the user turns elsewhere.

#include "library/BasketListing.h"

#include <QElapsedTimer>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class ClickAway;
class Desktops;
class GhostButton;
class PointerWatch;
class QLabel;
class QMenu;
class QPushButton;
class ShotGrid;

class LibraryPanel : public QWidget {
    Q_OBJECT
public:
    // What the panel needs from above and from the desktop; main hands it in before first use.
    struct Services {
        std::function<std::unique_ptr<PointerWatch>()> pointerWatch; // presses anywhere, for click-away
        Desktops* desktops = nullptr;                                // sticky window, desktop switches
        std::function<QMenu*()> makeMenu;                            // the panel menu, made anew each call
        // Where the panel icon is: it sits in another program\'s window, yet a press on it is ours.
        std::function<QRect()> statusItemArea;
        std::optional<BasketListing::Sources> sources; // where files are listed from
    };
    static void setServices(Services services);
    static LibraryPanel& shared();
    // "picto.shotsChanged": posted whenever a picture file was written or changed.
    static QString changed();

    // The program uses shared(); tests make their own.
    explicit LibraryPanel(Services services);
    ~LibraryPanel() override;

    // Hidden: shown centred on the screen holding the point (the pointer when none), listing
    // afresh. Shown but inactive: listed afresh and activated in place. Shown and active: hidden.
    // The current card closes first in every case.
    void toggle(std::optional<QPoint> near = std::nullopt);

    void reload();
    void pickTab(GhostButton* sender);
    // Tile size and columns from the panel's width.
    void fitTiles();
    void updateCount();
    void showAppMenu(QWidget* sender);
    void closeFromButton();

    BasketListing& listing() { return *files; }
    ShotGrid* collection = nullptr;
    QList<GhostButton*> tabButtons;
    QList<GhostButton*> actionButtons; // Copy, Convert, Compress, Share, Show in Files, Delete
    GhostButton* convertButton = nullptr;
    GhostButton* closeButton = nullptr;
    QPushButton* appButton = nullptr;
    QLabel* countLabel = nullptr;
    QLabel* actionLabel = nullptr;
    QWidget* emptyView = nullptr;
    QLabel* emptyTitle = nullptr;
    QLabel* emptyDetail = nullptr;

    static constexpr QSize initialSize{840, 586};
    static constexpr QSize minimumPanelSize{520, 320};
    // Columns and tile size for a panel this wide.
    static int columnsFor(int width);
    static QSize tileSizeFor(int width);

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void buildUI();
    void lostKey();
    void showListing();
    void showState();
    bool sinceDesktopChange(qint64 milliseconds) const;
    Qt::Edges edgesAt(QPoint local) const;
    void resizeByDrag(QPoint global);

    Services services;
    BasketListing* files = nullptr;
    std::unique_ptr<ClickAway> outsideClicks;
    bool observing = false;
    bool composited = false;
    QElapsedTimer desktopChangedAt; // invalid until the first switch
    struct EdgeDrag {
        Qt::Edges edges;
        QPoint start;
        QRect geometry;
    };
    std::optional<EdgeDrag> edgeDrag; // while an edge is dragged
};
