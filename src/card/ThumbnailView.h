#pragma once
// The whole content of a card: the picture with its shadow, the format badge under it, the close button on
// its corner, and beneath it the pill of tools in the user's order with a label naming the tool under the
// pointer. It takes the pointer and the keys, drags the file out, and runs the file-changing tools.

#include "card/CardGeometry.h"
#include "card/CardLifetime.h"
#include "editors/EditStore.h"
#include "imaging/Shot.h"
#include "ui/KeyRoute.h"

#include <QDrag>
#include <QHash>
#include <QImage>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class CardRunner;
class Defaults;
class EditorWindow;
class FormatBadge;
class GhostButton;
class PDFSession;
class PageBar;
class Pill;
class QAbstractButton;
class QGraphicsOpacityEffect;
class QLabel;
class QPropertyAnimation;
class QPainter;
class RedactReview;

class ThumbnailView : public QWidget {
    Q_OBJECT
public:
    // `imageBox` replaces the default box the picture is fitted into.
    ThumbnailView(const Shot& shot, std::optional<QSizeF> imageBox, Defaults& defaults, QWidget* parent = nullptr);
    ~ThumbnailView() override;

    // Wired by the card window; each does nothing while unset.
    std::function<void()> onDone;
    std::function<void(bool)> onHover;
    std::function<void(CardLifetime::Hold, bool)> onHold;
    std::function<void(bool)> onHide;
    std::function<void()> onEngage;
    // The basket tool: opens or closes the basket.
    std::function<void()> onOpenLibrary;
    // The translate tool's language and side view (see ThumbnailPanel::Services).
    std::function<bool()> translationLanguageChosen;
    std::function<bool()> chooseTranslationLanguage;
    std::function<QWidget*(const QString& text, std::function<void()> onClose)> makeTranslateView;
    // The Delete keys are wanted: a review box is selected.
    std::function<void(bool)> onDeleteKeys;

    // A file size as the result toasts show it: "Zero KB", "512 bytes", "245 KB", "1.2 MB", "1.05 GB".
    static QString byteCount(qint64 bytes);

    // The default box a picture is fitted into, from the stored size setting.
    static QSizeF maxImage(const Defaults& defaults);

    // Takes a new picture file into the card: badge, format button and size follow it, and the basket is
    // told that pictures changed.
    void apply(const Shot& shot);
    void setHoverLabel(const std::optional<QString>& text);

    // Computes the picture's size and the card's; `initial` sizes the view itself, otherwise the window is
    // resized keeping its top-left corner.
    void layout(bool initial);
    void placeSubviews();
    // Lays the card out again and moves its window so that the picture stays where it is on screen.
    void relayoutKeepingImage();
    // Puts a view beside the picture (replacing one shown there) and holds the card while it shows;
    // removeSide() takes it away again and releases the card.
    void showSide(QWidget* view);
    void removeSide();

    // Escape backs out one level; at the top it closes the card.
    void escapePressed();
    // The runner through which every file-changing tool goes.
    bool run(const QString& label, std::function<std::pair<Shot, QString>()> work, std::function<void()> then = {});
    // Where card toasts go: the top centre of the picture on screen, or the pointer without a window.
    QPoint anchorPoint() const;

    // What an editor is given: where its result goes and, for the annotate editor, the way to the backdrop
    // editor. Every hook holds the card weakly.
    struct EditorHooks {
        // A written file and the message the card shows (crop, resize, rotate).
        std::function<void(const QUrl&, const QString&)> done;
        // A written file and the picture as rendered (annotate, backdrop).
        std::function<void(const QUrl&, const QImage&)> rendered;
        // "Add a backdrop", from the annotate editor: true when the backdrop editor is on its way and will
        // replace it.
        std::function<bool()> backdrop;
        // For the annotate editor: the file's stored edit, read beforehand, and the picture it edits in the form
        // its canvas draws with, made beforehand.
        std::optional<EditStore::Edit> storedEdit;
        QImage drawable;
    };
    // Makes an editor for a copy of the card's shot, not yet shown; throws UserError when it can't be made.
    using EditorMaker = std::function<EditorWindow*(const Shot&, const EditorHooks&)>;
    // The editors by tool id; a tool without one only counts as use of the card.
    QHash<QString, EditorMaker> editorMakers;

    // Opens the tool's editor, growing from the picture (or the open editor's canvas, which it replaces), and
    // docks the card's pill under it; the tool of the open editor closes it instead.
    void openEditor(const QString& tool);
    // Closes the open editor the ordinary way: the card grows back where the canvas was and runs again. An
    // editor still being read does not open.
    void closeEditor();
    // The card's own close: the editor goes without the card growing back, and nothing reopens one.
    void closeEditors();
    // On close: the shown PDF page goes back into the document when it changed, and "Saved <name>" shows.
    void finishPDF();
    // The page stepper under the picture, for a PDF of two pages or more.
    void buildPageBar();
    // Commits the shown page and shows the page `delta` away; nothing while a tool runs or past either end.
    void stepPage(int delta);

    void setPillOnly(bool value);

    const Shot& shot() const { return current; }
    QRectF imageRect() const { return cardGeometry.imageRect; }
    const CardGeometry::Layout& cardLayout() const { return cardGeometry; }
    bool isPillOnly() const { return pillOnly; }
    bool isHovering() const { return hovering; }
    bool isBusy() const;
    // A drag-out is under way: the view must outlive it.
    bool isDragging() const { return dragging; }

    // Held across every nested event loop the card runs (menus, dialogs, pickers): a card replaced or
    // dismissed meanwhile stays allocated until the loop has returned, then goes.
    class NestedLoop {
    public:
        explicit NestedLoop(ThumbnailView* view);
        ~NestedLoop();
        NestedLoop(const NestedLoop&) = delete;
        NestedLoop& operator=(const NestedLoop&) = delete;

    private:
        QPointer<ThumbnailView> view;
    };
    bool inNestedLoop() const { return nestedLoops > 0 || dragging; }
    // A dropped file is read by the receiving program after the drop: the drag answers it until it is done.
    bool dropInFlight() const { return !droppedDrag.isNull(); }

    double pillHeight = 0;
    Pill* pill = nullptr;
    Pill* hoverPill = nullptr;
    QLabel* hoverLabel = nullptr;
    FormatBadge* badge = nullptr;
    QAbstractButton* closeButton = nullptr;
    GhostButton* formatButton = nullptr;
    GhostButton* compressButton = nullptr;
    QWidget* pillStack = nullptr;
    // Every tool built, hidden ones included, by id.
    QHash<QString, GhostButton*> tools;
    // The row as shown, left to right: tool ids, "|" for a divider and "format" for the format button.
    QStringList rowOrder() const;

    QPointer<QWidget> sideView;
    std::shared_ptr<PDFSession> pdf;
    PageBar* pageBar = nullptr;
    // A page step is putting the shown page back or drawing the next one on a worker.
    bool stepping = false;
    QPointer<EditorWindow> currentEditor;
    std::optional<QString> currentTool;
    // The tool whose editor waits for its picture to be read.
    std::optional<QString> loadingTool;

    // The tools' actions, each run by its id from the tool row.
    void triggerTool(const QString& id);
    void showFormats();
    void convertTo(const QString& rawFormat);
    void compressTapped();
    void openLibrary();
    void closeTapped();
    // Starts recording the card's window while the user scrolls it, or ends the running recording. The card
    // hides while it records and comes back with the full page.
    void scrollCapture();
    // Reads the picture's text and codes off the UI thread and puts them on the clipboard.
    void copyText();
    // Reads the picture's main text and shows its translation beside the picture.
    void translate();
    // Writes "<name> cutout.png" with the background made transparent.
    void cutout();
    // The share menu under the share button.
    void share();
    // Suggests a name from the picture's text and renames the file in its folder.
    void rename();
    // Turns the picture into a sticky note on the same place of the screen and closes the card.
    void pin();

    // Paints over sensitive text found in the picture (and on the PDF's other pages) into a new file beside
    // it, and keeps the boxes for the review.
    void redact();
    // Enlarges the card, or returns it to its normal size; enlarged, a redacted picture can be reviewed.
    void toggleLarge();
    // Reads the review's record for the shown file.
    void syncRedact();
    void updateRedactBar();
    // Removes the selected review box and renders the file again.
    void deleteSelected();
    // Renders the redacted file again from the unredacted one with the review's boxes, off the main thread.
    void commitBoxes();
    bool isLarge() const { return large; }
    // The review as it stands, for the tests; null until the card was first enlarged or redacted.
    RedactReview* reviewState() const { return review.get(); }
    Pill* redactBar = nullptr;
    GhostButton* addBoxButton = nullptr;
    GhostButton* deleteBoxButton = nullptr;
    QLabel* barLabel = nullptr;

signals:
    // A drag-out or a run finished: a card closed meanwhile may now be deleted.
    void settled();

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    GhostButton* tool(const QString& id, const QString& symbol, const QString& title);
    void buildPill();
    QString formatName() const;
    // The badge names what the card stands for: the document on a PDF's card, not its page's picture file.
    QString badgeText() const;
    void hold(CardLifetime::Hold reason, bool on);
    // Makes the tool's editor for `shot`, whose picture has been read, and shows it in place of an open one; for
    // the annotate editor, with what was made for it beforehand.
    void showEditor(const QString& tool, const Shot& shot, std::optional<EditStore::Edit> stored, QImage drawable);
    // Drops the editor waiting for its picture, if any.
    void stopLoadingEditor();
    void editorClosed(const QString& tool);
    void backdropClosed();
    QRect pictureOnScreen() const;
    EditorHooks editorHooks(const QString& tool);
    void installEditors();
    void toastAfterEditor(const QString& message);
    void renameTo(const QString& name);
    void engage();
    void startDragOut();
    void updateMask();
    const QImage& shadowImage();
    const QImage& shownPicture();
    bool reviewActive() const;
    void setDrawMode(bool on);
    void buildRedactBar();
    void addBoxTapped();
    void deleteBoxTapped();
    bool redactMouseDown(QPointF p);
    bool redactDragging() const;
    void redactDragged(QPointF p);
    void redactMouseUp();
    // Escape's steps inside the enlarged card; false when there is none left and the card should close.
    bool escapeReview();
    bool paintReview(QPainter& painter);
    void drawRedactEdit(QPainter& painter);

    Defaults& defaults;
    Shot current;
    double barScale = 1;
    double sizeScale = 0;
    QSizeF imageBox;
    QSizeF normalBox;
    bool large = false;
    bool pillOnly = false;
    bool hovering = false;
    bool dragging = false;
    QPointer<QDrag> droppedDrag;
    int nestedLoops = 0;
    // Counts every new picture the card took, so late work can tell whether the picture changed meanwhile.
    int pictureChanges = 0;
    bool switching = false;        // the open editor closes because another replaces it
    bool returnToAnnotate = false; // the backdrop editor came from the annotate editor
    bool closedForGood = false;    // the card has closed: no editor opens for it any more
    QPointer<QObject> editorLoad;  // the reading of the picture for loadingTool's editor; deleted, it stops
    KeyRoute::Asked editorAsked;   // the tap that editor answers
    quint64 editorReading = 0;     // its "Reading <name>…" toast
    bool composited = false;
    bool hoverWanted = false;           // a tool's name is (or is becoming) shown
    std::optional<QPointF> mouseDownAt; // the press that may become a drag-out, in view coordinates
    CardGeometry::Layout cardGeometry;
    std::unique_ptr<CardRunner> runner;
    QGraphicsOpacityEffect* hoverFade = nullptr;
    QPointer<QPropertyAnimation> hoverAnimation;
    QImage shadowCache;
    QImage pictureCache;
    qint64 smoothingKey = 0; // the picture whose smooth reduction a worker is making, 0 for none
    // The redaction review.
    std::unique_ptr<RedactReview> review;
    QImage rsImage; // the unredacted picture
    QUrl rsURL;
    bool redactTouched = false;
    bool secondClick = false; // the press held is the second of a double-click
    std::optional<QPointF> smallCenter;
    QWidget* barStack = nullptr;
};
