#pragma once
// The window every picture editor is built on: it fits the canvas to the screen, opens with the canvas
// centred on what the user was looking at, lays the canvas out with its pills of buttons on a dark backing,
// and reports its closing, a cancel and failed edits. Editors add their canvas and buttons and write results.

#include "imaging/Shot.h"
#include "ui/KeyRoute.h"

#include <QImage>
#include <QList>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QUrl>
#include <QWidget>
#include <functional>
#include <optional>

class GhostButton;
class Pill;

class EditorWindow : public QWidget {
    Q_OBJECT
public:
    ~EditorWindow() override;

    // Called once when the window closes, whatever the reason, then cleared.
    std::function<void()> onClose;
    // Called once when the user cancels (the close button or Escape), just before the window closes.
    std::function<void()> onCancel;
    // What its opener does about a write of the edited picture: began on this thread when the work is queued,
    // and, whatever becomes of the window, ended on the worker as soon as the file is written (its URL) or the
    // work failed (nothing), before the window hears of it. The page of a document is put back then.
    struct WriteHooks {
        std::function<void()> began;
        std::function<void(const std::optional<QUrl>& written)> ended;
    };
    WriteHooks writeHooks;

    // While set during an editor's construction, its canvas is fitted into exactly this size.
    static std::optional<QSizeF> forcedCanvas;
    // The editors presented and not yet closed, in order of presentation.
    static QList<QPointer<EditorWindow>>& open();

    // What decides the canvas size; `visible` is the screen without panels.
    struct Sizing {
        QSize pixels;
        QRectF visible{0, 0, 1440, 900};
        double sizeScale = 0; // the stored "picto.sizeScale"
        double extraHeight = 0;
        bool sideBars = false;
        std::optional<QSizeF> forced;
    };
    // The canvas in whole pixels: the picture fitted into the forced size (enlarged if need be), or into a
    // share of the screen (never enlarged), each side at least one pixel.
    static QSize canvasSizeFor(const Sizing& in);
    // The canvas's share of the screen: 0.8 when unset, else the stored value within 0.5 … 1.2.
    static double sizeFactor(double stored);
    // Where a window of `size` goes so that its canvas (at `canvasOrigin`, `canvasSize` inside it) is centred
    // on `source`, kept inside `visible` less `reserveBelow` at the bottom; when it is too large, its left
    // and bottom edges stay inside. Without a screen the centred place as it is.
    static QPoint placedAt(const QRectF& source, QSize size, QPoint canvasOrigin, QSize canvasSize,
                           const std::optional<QRect>& visible, int reserveBelow);

    // Shows the window with its canvas centred on `growingFrom` (screen coordinates), on the screen that
    // rectangle meets, with `reserveBelow` pixels kept free at the bottom of that screen, and makes it active
    // unless the user has gone to another program since `asked`, the action it answers.
    void present(const QRect& growingFrom, int reserveBelow, std::optional<KeyRoute::Asked> asked = std::nullopt);
    // Centred on the primary screen.
    void present();
    // The canvas on screen: the first child widget that carries the canvas mark; the window without one.
    QRect canvasFrame() const;
    // The canvas's top-left corner inside the window.
    QPoint canvasOrigin() const { return origin; }
    QSize canvasSize() const { return canvas; }
    const Shot& shot() const { return editedShot; }
    // The picture's pixels as given at creation, upright.
    const QImage& image() const { return pixels; }
    bool sideBars() const { return withSideBars; }
    // Whether the edited picture is being written now.
    bool isWriting() const { return writing; }

    // The cancel sequence of the close button and Escape: onCancel once, then close().
    void cancel();
    // Shows a failed edit 30 pixels above the middle of the window's bottom edge for 2.5 s; the window stays.
    void fail(const std::exception& error);

    // The message of a result that replaced the file: the word, and when the old file could not go to the
    // Trash, why, and that both files were kept.
    static QString resultMessage(const QString& word, const QString& trashFailure);

    // "Close (Esc)", the button every editor's pills end with.
    GhostButton* closeButton();

protected:
    // Takes the shot's picture, read from its file by the caller off the thread that answers the user, and fixes
    // the canvas size. Throws ConvertError "Can't read <name>" when the shot has no pixels: such an editor can't
    // be shown.
    EditorWindow(const Shot& shot, double extraHeight, bool sideBars, const QString& title);

    // One horizontal pill above the canvas: the views, a divider and the close button. Sizes the window.
    Pill* addToolbar(const QList<QWidget*>& views);
    // A vertical pill on each side of the canvas; the close button heads the right one. Sizes the window.
    void addSideBars(const QList<QWidget*>& left, const QList<QWidget*>& right);

    // Return and Done. Escape cancels in every editor.
    virtual void finish() = 0;

    // What a write made: the file, and what runs on this thread once it is done, unless the window went meanwhile.
    struct Written {
        QUrl url;
        std::function<void()> then;
    };
    // Reading, changing and writing a very large picture take seconds: `work` runs on a worker while the window
    // stays, busy and deaf to Return and Escape, its buttons disabled; a failure it throws is shown with fail()
    // and the window stays. It must touch no widget. The program's end waits for it (FileWrites); once the end
    // has begun, none starts.
    void writeAway(std::function<Written()> work);

    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void placeCanvas(QPoint at);
    void floatingPill(QWidget* stack, const QRect& frame);
    void updateMask();
    void closed();
    void makeActive();

    Shot editedShot;
    QImage pixels;
    QSize canvas;
    QPoint origin{20, 20};
    bool withSideBars = false;
    bool composited = false;
    bool isClosed = false;
    bool writing = false;
    QList<Pill*> pills;
    std::optional<QPoint> dragFrom; // a move by hand where the window manager can't take it
};
