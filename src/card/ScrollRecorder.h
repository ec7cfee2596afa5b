#pragma once
// Records one window while the user scrolls it: the window is grabbed every 80 ms, each grab that differs from
// the last kept one is kept, and when the recording ends its starter gets the kept frames to stitch into one
// tall picture. The capture hot key ends a running recording instead of capturing.

#include "imaging/Shot.h"
#include "imaging/UserError.h"

#include <QImage>
#include <QList>
#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <variant>

class Defaults;
class QTimer;
class QWidget;

namespace ScrollCapture {

// Why a recording gave no picture; the card shows the message.
class Failure : public UserError {
public:
    using UserError::UserError;
};

// Turns the kept frames into the full page beside the card's file (runs off the main thread): frames that
// cannot be lined up with the last one kept are dropped, the rest are stitched, and the picture is written as
// "<name> full.png". Returns the card's next shot and the message to show. Throws Failure when fewer than two
// frames line up, and passes on the stitcher's and the file writer's errors.
// stoppedCovered: the recording ended because another window came over the page.
std::pair<Shot, QString> stitch(const Shot& base, const QList<QImage>& frames, bool stoppedAtLimit = false,
                                bool stoppedCovered = false);

// How many rows at the bottom are the same, pixel for pixel, in every frame: a window's bottom border, a
// horizontal scroll bar or a status bar. Those rows stand still while the page moves above them, so they must
// end the picture once rather than follow every frame's new rows.
int fixedBottomRows(const QList<QImage>& frames);

} // namespace ScrollCapture

class ScrollRecorder : public QObject {
    Q_OBJECT
public:
    // The kept frames of a recording, in grab order; stoppedAtLimit when the recording was ended because
    // keeping more would have gone past the limits.
    struct Frames {
        QList<QImage> images;
        bool stoppedAtLimit = false;
        // Ended because a grab could only be had with another window over the page: the frames before it are clean.
        bool stoppedCovered = false;
    };
    using Result = std::variant<Frames, ScrollCapture::Failure>;
    using Completion = std::function<void(const Result&)>;

    // What a recording may keep. The stitched picture is never larger than the frames it comes from, so
    // frames within the stitcher's limits also give a picture that can be written and read back.
    struct Limits {
        int frames = 1000;
        qint64 bytes = 0; // frame pixels at 4 bytes each; the stitcher's limit when 0
        qint64 rows = 0;  // the stitcher's limit when 0
    };

    // One grab: the window's pixels, and where they hold other windows' pixels (in the image's coordinates); own
    // when they were read from the window's own picture, which no other window is in.
    struct Grab {
        QImage image;
        bool own = false;
        QList<QRect> covered;
    };
    // Collaborators; tests hand in fakes.
    struct Services {
        // Grabs of one window for one recording: made as the recording starts, let go when it ends. A grab blocks,
        // may run on any thread, and throws when the window cannot be grabbed. Reads the window's own picture
        // where the display keeps one (Capture::recordWindow) when neither this nor grab is given.
        std::function<std::function<Grab()>(quint32)> open;
        // One grab of a window by id, read from the screen, for when open is not given.
        std::function<QImage(quint32)> grab;
        // Where a grab runs, and how its result comes back to the main thread.
        std::function<void(std::function<void()>)> background;
        std::function<void(std::function<void()>)> mainThread;
        // Between grabs; no timer at all when 0 (tests call tick()).
        int intervalMs = 80;
        // Before the first grab. Grabs read the screen, so whatever was just taken off it (the card that
        // started the recording) must be gone and the window under it redrawn. At once when 0.
        int settleMs = 150;
        bool showHint = true;
        Defaults* defaults = nullptr; // the standard settings when null
        Limits limits;
    };

    static ScrollRecorder& shared();
    ScrollRecorder();
    explicit ScrollRecorder(Services services);
    ~ScrollRecorder() override;

    // Replaces the collaborators; ignored while recording.
    void setServices(Services services);

    bool active() const { return recording; }

    // Begins recording the window; ignored (and the completion dropped) while a recording runs. When owner is
    // given and goes away meanwhile, the recording is cancelled.
    void start(const Capture::WindowInfo& window, Completion onFinish, QObject* owner = nullptr);

    // Ends the shared recorder's running recording and calls its completion; nothing when none runs.
    static void finish();
    // The same for this recorder.
    void end();

    // Ends the recording without calling its completion, when it was started for owner (any recording when
    // owner is null): the one who would take the frames is gone.
    void cancel(QObject* owner = nullptr);

    // One timer tick: starts a grab unless one is in flight.
    void tick() { grab(); }

    // "Scroll the page, then press Super+Shift+D again", with the stored capture shortcut.
    QString hintText() const;
    // Where the hint goes for a window, all in screen coordinates: 10 below the window, else 10 above it,
    // else 10 above the bottom of the visible area.
    static QPoint hintPosition(const QRect& window, const QSize& hint, const QRect& visible);
    // The rows of a grab of window (clipped to the desktop) that the hint does not cover: all of them when
    // it lies outside, else the larger part above or below it. In the grab's own coordinates.
    static QRect rowsClearOfHint(const QRect& window, const QRect& hint, const QRect& desktop);

    int frameCount() const { return int(frames.size()); }
    bool isGrabbing() const { return grabbing; }
    QWidget* hintPanel() const { return hint; }

private:
    void startGrabbing();
    void grab();
    void grabbed(quint64 recordingNumber, const QImage& image, bool differs, bool covered);
    void showHint(const Capture::WindowInfo& window);
    void stopRecording();
    QString shortcutDisplay() const;
    Limits effectiveLimits() const;

    Services services;
    bool recording = false;
    QTimer* timer = nullptr;
    QList<QImage> frames;
    std::optional<Capture::WindowInfo> window;
    QPointer<QWidget> hint;
    QRect clearRows; // of every grab, the rows the hint leaves alone; all when null
    Completion onFinish;
    bool grabbing = false;

    QPointer<QObject> owner;
    QMetaObject::Connection ownerGone;
    quint64 number = 0; // counts recordings: a grab that returns into a later one is dropped
    qint64 keptBytes = 0;
    qint64 keptRows = 0;
    bool stoppedAtLimit = false;
    bool stoppedCovered = false;
    // The running recording's grabs (Services::open); shared with the grab in flight.
    std::shared_ptr<std::function<Grab()>> session;
    // Grab results travel back holding this weakly, so none reaches a recorder that is gone.
    std::shared_ptr<ScrollRecorder*> self;
};
