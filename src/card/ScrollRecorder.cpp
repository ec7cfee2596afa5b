#include "card/ScrollRecorder.h"

#include "capture/Capture.h"
#include "card/ScrollHint.h"
#include "card/Stitcher.h"
#include "card/StitcherRows.h"
#include "imaging/ImageConvert.h"
#include "imaging/ShotFiles.h"
#include "platform/Defaults.h"
#include "platform/Dispatch.h"
#include "shortcuts/Shortcut.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// The capture action's own default, so the hint names the key that ends the recording even before the user
// ever stored one.
const Shortcut captureDefault{2, Shortcut::command | Shortcut::shift, QStringLiteral("D")};

} // namespace

namespace ScrollCapture {

int fixedBottomRows(const QList<QImage>& frames) {
    return Stitcher::Rows::equalBottomRows(frames);
}

std::pair<Shot, QString> stitch(const Shot& base, const QList<QImage>& frames, bool stoppedAtLimit,
                                bool stoppedCovered) {
    QList<QImage> kept;
    QList<int> offsets;
    if (!frames.isEmpty())
        kept.append(frames.front());
    // A frame that cannot be lined up is dropped, and the next one is compared with the last frame kept.
    for (qsizetype i = 1; i < frames.size(); ++i) {
        const std::optional<int> rows = Stitcher::newRows(kept.back(), frames[i]);
        if (rows && *rows > 0) {
            kept.append(frames[i]);
            offsets.append(*rows);
        }
    }
    if (kept.size() < 2)
        throw Failure(QStringLiteral("Couldn't line up the frames \u2014 scroll a little slower next time"));
    // The last frame not joined, and not one scrolled back above the page so far: the page stops short of
    // where the recording ended, which the user is told rather than left to find out.
    bool endLost = false;
    if (frames.size() > 1 && frames.back().constBits() != kept.back().constBits()) {
        const std::optional<int> back = Stitcher::newRows(frames.back(), kept.back());
        endLost = !Stitcher::newRows(kept.back(), frames.back()) && !(back && *back > 0);
    }

    QImage image = Stitcher::stitchPage(kept, offsets);
    // Screen grabs have no alpha, but their padding byte is whatever the display left there; taken over as
    // alpha it would make parts of the page transparent (a window frame drawn by the window manager, say).
    if (std::none_of(kept.begin(), kept.end(), [](const QImage& frame) { return frame.hasAlphaChannel(); }))
        image.reinterpretAsFormat(QImage::Format_RGB32);
    const QUrl url = ShotFiles::savePNG(image, base.fileURL, QStringLiteral("full"));
    Shot next = base;
    next.fileURL = url;
    QImage loaded;
    try {
        loaded = ImageConvert::load(url);
    } catch (const UserError&) {
    }
    // The file holds this very picture: should it not load back, the card still shows what was written.
    next.image = loaded.isNull() ? image : loaded;
    QString message = QStringLiteral("Full page \u00B7 %1 frames").arg(kept.size());
    if (stoppedAtLimit)
        message += QStringLiteral(" \u2014 the recording stopped at its size limit");
    else if (stoppedCovered)
        message += QStringLiteral(" \u2014 another window came over the page, so the recording stopped there");
    else if (endLost)
        message += QStringLiteral(" \u2014 the end scrolled too fast to be joined; scroll a little slower next time");
    return {next, message};
}

} // namespace ScrollCapture

ScrollRecorder& ScrollRecorder::shared() {
    // Never destroyed: grab results and the capture hot key may still reach it while the program ends.
    static ScrollRecorder* recorder = new ScrollRecorder();
    return *recorder;
}

ScrollRecorder::ScrollRecorder() : ScrollRecorder(Services{}) {}

ScrollRecorder::ScrollRecorder(Services given) : self(std::make_shared<ScrollRecorder*>(this)) {
    setServices(std::move(given));
}

ScrollRecorder::~ScrollRecorder() {
    *self = nullptr;
    if (hint)
        delete hint.data();
}

void ScrollRecorder::setServices(Services given) {
    if (recording)
        return;
    if (!given.open && given.grab)
        given.open = [grab = given.grab](quint32 id) {
            return std::function<Grab()>([grab, id] { return Grab{grab(id), false, {}}; });
        };
    if (!given.open)
        given.open = [](quint32 id) {
            std::shared_ptr<WindowList::Recording> reader = Capture::recordWindow(id);
            return std::function<Grab()>([reader, id] {
                if (!reader)
                    return Grab{Capture::captureWindowModern(id), false, {}};
                QString why;
                WindowList::Recording::Pixels pixels = reader->grab(&why);
                if (pixels.image.isNull())
                    throw CaptureError(why.isEmpty() ? QStringLiteral("Capture failed") : why);
                return Grab{std::move(pixels.image), pixels.own, std::move(pixels.covered)};
            });
        };
    if (!given.background)
        given.background = [](std::function<void()> block) { Dispatch::global(std::move(block)); };
    if (!given.mainThread)
        given.mainThread = [](std::function<void()> block) { Dispatch::main(std::move(block)); };
    services = std::move(given);
}

ScrollRecorder::Limits ScrollRecorder::effectiveLimits() const {
    Limits limits = services.limits;
    if (limits.bytes <= 0)
        limits.bytes = Stitcher::maxStitchBytes;
    if (limits.rows <= 0)
        limits.rows = Stitcher::maxStitchRows;
    return limits;
}

QString ScrollRecorder::shortcutDisplay() const {
    const Defaults& defaults = services.defaults ? *services.defaults : Defaults::standard();
    return Shortcut::load(QStringLiteral("capture"), captureDefault, defaults).display();
}

QString ScrollRecorder::hintText() const {
    return QStringLiteral("Scroll the page, then press ") + shortcutDisplay() + QStringLiteral(" again");
}

void ScrollRecorder::start(const Capture::WindowInfo& recorded, Completion completion, QObject* starter) {
    if (recording)
        return;
    recording = true;
    ++number;
    window = recorded;
    frames.clear();
    keptBytes = 0;
    keptRows = 0;
    stoppedAtLimit = false;
    stoppedCovered = false;
    clearRows = QRect();
    onFinish = std::move(completion);
    session = std::make_shared<std::function<Grab()>>(services.open(recorded.id));
    owner = starter;
    if (starter) {
        // Nobody is left to take the frames: grabbing on would only pile them up.
        ownerGone = connect(starter, &QObject::destroyed, this, [this, started = number] {
            if (recording && number == started) {
                onFinish = nullptr;
                frames.clear();
                stopRecording();
            }
        });
    }
    if (services.showHint)
        showHint(recorded);
    if (services.settleMs > 0)
        QTimer::singleShot(services.settleMs, this, [this, started = number] {
            if (recording && number == started)
                startGrabbing();
        });
    else
        startGrabbing();
}

void ScrollRecorder::startGrabbing() {
    grab();
    if (services.intervalMs > 0) {
        timer = new QTimer(this);
        timer->setTimerType(Qt::PreciseTimer);
        timer->setInterval(services.intervalMs);
        connect(timer, &QTimer::timeout, this, &ScrollRecorder::grab);
        timer->start();
    }
}

void ScrollRecorder::finish() {
    shared().end();
}

void ScrollRecorder::end() {
    if (!recording)
        return;
    stopRecording();
    const Completion done = std::move(onFinish);
    onFinish = nullptr;
    const QString display = shortcutDisplay();
    // The frames go to the completion; the recorder keeps none of them once it is idle.
    Frames result{std::move(frames), stoppedAtLimit, stoppedCovered};
    frames.clear();
    keptBytes = 0;
    keptRows = 0;
    if (!done)
        return;
    if (result.images.size() < 2 && stoppedCovered)
        done(ScrollCapture::Failure(
            QStringLiteral("Another window lies over the page \u2014 move it aside, then record again")));
    else if (result.images.size() < 2)
        done(ScrollCapture::Failure(QStringLiteral("Nothing changed on screen while recording \u2014 scroll the page, "
                                                   "then press ") +
                                    display + QStringLiteral(" again")));
    else
        done(result);
}

void ScrollRecorder::cancel(QObject* starter) {
    if (!recording || (starter && owner != starter))
        return;
    onFinish = nullptr;
    frames.clear();
    keptBytes = 0;
    keptRows = 0;
    stopRecording();
}

void ScrollRecorder::stopRecording() {
    recording = false;
    if (timer) {
        timer->stop();
        timer->deleteLater();
        timer = nullptr;
    }
    if (hint)
        hint->hide();
    // A grab in flight keeps its own hold on the window's picture.
    session.reset();
    if (ownerGone)
        disconnect(ownerGone);
    owner = nullptr;
}

void ScrollRecorder::grab() {
    if (!recording || !window || grabbing || !session)
        return;
    grabbing = true;
    const quint64 recordingNumber = number;
    const QImage last = frames.isEmpty() ? QImage() : frames.back();
    std::weak_ptr<ScrollRecorder*> weak = self;
    services.background([weak, recordingNumber, last, clear = clearRows, grabWindow = session,
                         back = services.mainThread] {
        Grab grabbed;
        try {
            grabbed = (*grabWindow)();
        } catch (...) {
            // A window that went away or a screen that cannot be read: the tick is skipped.
            grabbed = Grab{};
        }
        QImage image = grabbed.image;
        // The hint is our own window: where it had to go over the recorded one on the screen, its rows are left
        // out of every frame rather than stitched into the page. The window's own picture never shows it.
        QRect kept = image.rect();
        if (!image.isNull() && !grabbed.own && !clear.isNull()) {
            kept = clear.intersected(image.rect());
            image = kept.isEmpty() ? QImage() : image.copy(kept);
        }
        // Another window over what is kept would be stitched into the page as if it were the page.
        const bool covered = !image.isNull() && std::any_of(grabbed.covered.begin(), grabbed.covered.end(),
                                                            [&](const QRect& part) { return part.intersects(kept); });
        // Compared here, off the main thread: no other grab runs meanwhile, so the last kept frame cannot
        // change before this result is back.
        const bool differs = covered || image.isNull() || last.isNull() || Stitcher::changed(last, image);
        back([weak, recordingNumber, image, differs, covered] {
            if (const std::shared_ptr<ScrollRecorder*> alive = weak.lock(); alive && *alive)
                (*alive)->grabbed(recordingNumber, image, differs, covered);
        });
    });
}

void ScrollRecorder::grabbed(quint64 recordingNumber, const QImage& image, bool differs, bool covered) {
    grabbing = false;
    if (!recording || recordingNumber != number || image.isNull())
        return;
    if (covered) {
        // No frame without the other window can be had: the page so far is stitched, and the user told why it
        // ends there.
        stoppedCovered = true;
        end();
        return;
    }
    if (!frames.isEmpty() && !differs)
        return;
    const Limits limits = effectiveLimits();
    const qint64 bytes = qint64(image.width()) * image.height() * 4;
    if (frames.size() >= limits.frames || keptBytes + bytes > limits.bytes || keptRows + image.height() > limits.rows) {
        // Keeping more would give a picture too large to write and read back: stitch what there is.
        stoppedAtLimit = true;
        end();
        return;
    }
    frames.append(image);
    keptBytes += bytes;
    keptRows += image.height();
}

QPoint ScrollRecorder::hintPosition(const QRect& window, const QSize& size, const QRect& visible) {
    const int x = int(std::lround(window.x() + window.width() / 2.0 - size.width() / 2.0));
    const int visibleBottom = visible.y() + visible.height();
    int y = window.y() + window.height() + 10;
    if (y + size.height() > visibleBottom)
        y = window.y() - 10 - size.height();
    if (y < visible.y())
        y = visibleBottom - 10 - size.height();
    return QPoint(x, y);
}

void ScrollRecorder::showHint(const Capture::WindowInfo& recorded) {
    QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    if (hint)
        hint->deleteLater();
    clearRows = QRect();
    QWidget* panel = ScrollHint::create(hintText());
    panel->move(hintPosition(recorded.bounds, panel->size(), screen->availableGeometry()));
    clearRows = rowsClearOfHint(recorded.bounds, panel->frameGeometry(), screen->virtualGeometry());
    panel->show();
    hint = panel;
}

QRect ScrollRecorder::rowsClearOfHint(const QRect& window, const QRect& hint, const QRect& desktop) {
    const QRect grabbed = window.intersected(desktop);
    // A couple of rows more on either side: the pill's shadow and antialiased edge.
    const QRect covered = hint.adjusted(0, -2, 0, 2).intersected(grabbed);
    if (grabbed.isEmpty() || covered.isEmpty())
        return {};
    const int above = covered.top() - grabbed.top();
    const int below = grabbed.bottom() - covered.bottom();
    if (above >= below)
        return QRect(0, 0, grabbed.width(), above);
    return QRect(0, covered.bottom() + 1 - grabbed.top(), grabbed.width(), below);
}
