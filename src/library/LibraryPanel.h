#pragma once
// The basket: the user's screenshots and recent pictures in one floating panel that takes keys,
// shows on every desktop, and hides when the user turns elsewhere.

#include "imaging/ImageFormat.h"
#include "library/BasketListing.h"
#include "platform/Trash.h"

#include <QElapsedTimer>
#include <QPoint>
#include <QRect>
#include <QSet>
#include <QString>
#include <QUrl>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class ClickAway;
class Desktops;
class WindowFocus;
class GhostButton;
class PointerWatch;
class QLabel;
class QSpacerItem;
class QMenu;
class PreviewPanel;
class QKeyEvent;
class QPushButton;
class QThreadPool;
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
        // File work handed out by main; the desktop's own when left empty.
        std::function<Trash::Result(const QString&)> trash;
        std::function<bool(const QString&)> reveal;     // a file selected in the file manager
        std::function<bool(const QString&)> showFolder; // a folder in the file manager
        std::function<bool(const QUrl&)> openUrl;       // with the file's default application
        // Asks for a line of text (title, placeholder, button); nothing when cancelled.
        std::function<std::optional<QString>(const QString&, const QString&, const QString&)> ask;
        // Asks the window manager for the keyboard when it ignores our own request (after a desktop switch).
        WindowFocus* focus = nullptr;
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
    // Keeps the header's parts from being drawn over each other at narrow widths.
    void fitHeader();
    void updateCount();
    void showAppMenu(QWidget* sender);
    void closeFromButton();

    // The selected files in grid order.
    QStringList selectedURLs() const;
    // Newly written files go first in the grid, marked fresh and known; already listed ones stay put.
    void insertNew(const QStringList& newFiles);
    // A batch's new files listed first and selected, in place of its sources that went to the Trash.
    void showMade(const QStringList& chosen, const QStringList& made);
    // Selects exactly the tiles of these files that are listed, and updates the count.
    void selectFiles(const QStringList& chosen);
    void copySelected();
    // Share's "Copy Image": the picture alone, as PNG, once it is read; a file that can't be read says why.
    void copyImage(const QUrl& url);
    void shareSelected(QWidget* sender);
    void revealSelected();
    void deleteSelected();
    void showConvertMenu();
    void convertSelected(ImageFormat format);
    void resizeSelected();
    void compressSelected();
    // The tile's own menu of formats, at the tile's bottom right; tile is in screen coordinates.
    void formatMenu(const QString& file, const QRect& tile);
    void convertOne(const QString& file, ImageFormat format);
    // Whether a batch of those conversions is at work; what it makes reaches the grid when it ends.
    bool converting() const { return batch.has_value(); }
    void rename(const QString& file, const QRect& tile);
    // Moves the file to the name typed (extension kept, next free number when taken); the new path.
    std::optional<QString> commitRename(const QString& file, const QString& name);
    void openCard(const QString& file);
    // Opens the file with the desktop's default program; a failure, even one told only when the helper
    // ends, is said in the basket.
    void openWithDefaultApp(const QString& file);
    void escape();
    void openPreview();
    // Keys the basket answers itself, ahead of the grid's own; true when taken.
    bool handleKey(QKeyEvent* event);
    // The basket's message, centred 24 px above its bottom edge, for 1.6 s.
    void toast(const QString& text);
    // Width typed into the resize prompt: its digits ("1,600 px" is 1600); nothing below 16.
    static std::optional<int> widthFromAnswer(const QString& answer);

    // For the end-to-end tests: a line on standard error when PICTOLARIUM_TRACE is set.
    static void traceLine(const QString& line);
    // Thumbnails render here: min(4, cores) threads.
    static QThreadPool& thumbQueue();
    static constexpr int thumbPixels = 480;
    // A picture of the file at most maxPixels a side, for the tiles and the preview; null for what is not a
    // regular file, is not a picture, or claims too many pixels. Blocks only on reading a regular file.
    static QImage renderThumbnail(const QString& file, int maxPixels);
    QImage thumbnailFor(const QString& file);
    // On hiding: the thumbnails go but those of the first screenful, which the next show draws at once.
    void releaseThumbnails();
    QSet<QString> thumbsLoading;
    QStringList previewURLs;
    PreviewPanel* preview = nullptr;

    BasketListing& listing() { return *files; }
    ShotGrid* collection = nullptr;
    QList<GhostButton*> tabButtons;
    QList<GhostButton*> actionButtons; // Copy, Convert, Compress, Share, Show in Files, Delete
    GhostButton* convertButton = nullptr;
    GhostButton* closeButton = nullptr;
    QPushButton* appButton = nullptr;
    QLabel* countLabel = nullptr;
    QLabel* actionLabel = nullptr;
    // The header's gaps either side of its spacer and before the action pill, narrowed on a narrow panel.
    QList<QSpacerItem*> headerGaps;
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
    // Counts the cards asked for from the basket: only the last one asked for opens.
    quint64 cardsAsked = 0;
    // Counts the times the basket showed: a loss of the keyboard is acted on only while the basket that lost
    // it still shows, never on the next one the user toggled on meanwhile.
    quint64 showings = 0;
    void buildUI();
    void lostKey();
    void makeActive();
    void showListing();
    void showState();
    void startThumbnail(const QString& file);
    void takeThumbnail(const QString& file, const QImage& image);
    void wireTiles();
    QList<QUrl> targetFiles() const;
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
    // The top strip works as a title bar: a press there and the panel's top-left then, while it is held; the
    // panel moves once the pointer has gone a few pixels.
    struct StripDrag {
        QPoint start;
        QPoint topLeft;
        bool moving = false;
    };
    std::optional<StripDrag> stripDrag;
    void moveByDrag(QPoint global);

    // A batch of conversions at work on a worker; one at a time. `done` counts the files finished; a long batch
    // tells how far it got about once a second.
    struct Batch {
        QString verb; // "Converting", "Resizing", "Compressing"
        qsizetype total = 0;
        qsizetype done = 0;
        QElapsedTimer sinceTold;
    };
    std::optional<Batch> batch;
    // What a batch hands back to the panel once its work is done; run only while the panel lives.
    using Finish = std::function<void(LibraryPanel&)>;
    // Runs `work` on a worker with the busy cursor up; `work` calls its argument after each file.
    void runBatch(const QString& verb, qsizetype total, std::function<Finish(const std::function<void()>&)> work);
    void tellProgress();
    // While a batch runs, says how far it got and refuses another: true then.
    bool stillConverting();
};
