#include "card/ScrollRecorder.h"

#include "capture/Capture.h"
#include "card/ThumbnailView.h"
#include "platform/Defaults.h"
#include "platform/fake/FakeWindowList.h"
#include "shortcuts/Shortcut.h"
#include "support/ToastText.h"
#include "support/UniqueRowsPage.h"
#include "ui/GhostButton.h"
#include "ui/Toast.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <vector>

namespace {

using Hold = CardLifetime::Hold;

constexpr int pageWidth = 128;
constexpr int titleRows = 12;
constexpr int viewRows = 100;
constexpr int footerRows = 6;
constexpr int frameRows = titleRows + viewRows + footerRows;

// A page in which every row differs from every other, so that frames of it line up at one shift only.
QImage page(int rows = 1200) {
    return UniqueRowsPage::make(pageWidth, rows, 4);
}

// A window showing `rows` rows of the page from the row `scroll`: a title bar above them and a fixed bar under
// them. The padding byte of every pixel is left at 0, as the display hands grabs over.
QImage frameAt(const QImage& source, int scroll, int rows = viewRows) {
    QImage frame(pageWidth, titleRows + rows + footerRows, QImage::Format_RGB32);
    for (int y = 0; y < frame.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(frame.scanLine(y));
        for (int x = 0; x < pageWidth; ++x) {
            QRgb pixel;
            if (y < titleRows)
                pixel = qRgb(40, 60, 100 + x % 50);
            else if (y < titleRows + rows)
                pixel = source.pixel(x, scroll + y - titleRows);
            else
                pixel = qRgb(200, 200 - 10 * (y - titleRows - rows), 190);
            line[x] = pixel & 0x00ffffffU;
        }
    }
    return frame;
}

QImage solid(QColor colour, QSize size = QSize(64, 40)) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

const QString stillFailure =
    QStringLiteral("Nothing changed on screen while recording \u2014 scroll the page, then press Super+Shift+D again");
const QString coverFailure =
    QStringLiteral("Another window lies over the page \u2014 move it aside, then record again");
const QString lineUpFailure = QStringLiteral("Couldn't line up the frames \u2014 scroll a little slower next time");

// Grabs answered from a script, each run when the test says: a null image stands for a failed grab. Where the
// covered script says so, another window lies over the grab's top left corner.
struct FakeScreen {
    std::deque<QImage> script;
    std::deque<bool> covered;
    std::vector<std::function<void()>> pending;
    int grabs = 0;

    ScrollRecorder::Services services() {
        ScrollRecorder::Services s;
        s.open = [this](quint32) {
            return std::function<ScrollRecorder::Grab()>([this] {
                const bool over = size_t(++grabs) <= covered.size() && covered[size_t(grabs) - 1];
                if (script.empty())
                    throw CaptureError(QStringLiteral("Window is gone"));
                QImage next = script.front();
                script.pop_front();
                if (next.isNull())
                    throw CaptureError(QStringLiteral("Window is gone"));
                return ScrollRecorder::Grab{next, false, over ? QList<QRect>{QRect(0, 0, 10, 10)} : QList<QRect>{}};
            });
        };
        s.background = [this](std::function<void()> block) { pending.push_back(std::move(block)); };
        s.mainThread = [](std::function<void()> block) { block(); };
        s.intervalMs = 0;
        s.settleMs = 0;
        s.showHint = false;
        return s;
    }
    // Lets every grab in flight finish.
    void deliver() {
        std::vector<std::function<void()>> now;
        now.swap(pending);
        for (auto& block : now)
            block();
    }
};

// What a recording handed to its completion.
struct Outcome {
    int calls = 0;
    std::optional<ScrollRecorder::Frames> frames;
    std::optional<QString> failure;

    ScrollRecorder::Completion completion() {
        return [this](const ScrollRecorder::Result& result) {
            ++calls;
            if (const auto* f = std::get_if<ScrollRecorder::Frames>(&result))
                frames = *f;
            else
                failure = std::get<ScrollCapture::Failure>(result).message;
        };
    }
};

Capture::WindowInfo someWindow() {
    return Capture::WindowInfo{42, 1, QStringLiteral("Editor"), QRect(100, 100, 400, 300)};
}

} // namespace

TEST(ScrollRecorder, KeepsEveryGrabThatDiffersFromTheLastKeptOneWithinItsLimits) {
    const QImage a = solid(Qt::black), b = solid(Qt::white), c = solid(QColor(255, 0, 0)), d = solid(Qt::blue);
    const qint64 frameBytes = 64 * 40 * 4;
    struct Case {
        const char* name;
        std::vector<QImage> grabs; // null: the grab fails
        ScrollRecorder::Limits limits;
        std::vector<QImage> kept;
        bool endedByLimit;
        std::deque<bool> covered = {}; // another window over the grab
    };
    const Case cases[] = {
        {"a still window keeps its first grab only", {a, a, a, a}, {}, {a}, false},
        {"repeats are dropped, changes kept in order", {a, a, b, b, a, c}, {}, {a, b, a, c}, false},
        {"failed and empty grabs are skipped", {QImage(), a, QImage(), b, c}, {}, {a, b, c}, false},
        {"the frame limit ends the recording", {a, b, c, d, a}, {2, 0, 0}, {a, b}, true},
        {"the memory limit ends the recording", {a, b, c, d}, {1000, 3 * frameBytes, 0}, {a, b, c}, true},
        {"the row limit ends the recording", {a, b, c, d}, {1000, 0, 40 * 2 + 39}, {a, b}, true},
        {"exactly at the memory limit goes on", {a, b, c}, {1000, 3 * frameBytes, 0}, {a, b, c}, false},
        // what another window covers is not the page: the page ends before it, and the user is told why
        {"another window over a grab ends the recording", {a, b, c, d}, {}, {a, b}, false, {false, false, true}},
        {"another window over the first grab", {a, b, c}, {}, {}, false, {true}},
    };
    for (const Case& c : cases) {
        FakeScreen screen;
        ScrollRecorder::Services services = screen.services();
        services.limits = c.limits;
        ScrollRecorder recorder(services);
        for (const QImage& image : c.grabs)
            screen.script.push_back(image.isNull() ? QImage() : image);
        screen.covered = c.covered;
        const bool endedByCover = std::find(c.covered.begin(), c.covered.end(), true) != c.covered.end();
        Outcome outcome;
        recorder.start(someWindow(), outcome.completion());
        for (size_t i = 0; i < c.grabs.size(); ++i) {
            if (i > 0)
                recorder.tick();
            screen.deliver();
        }
        EXPECT_EQ(recorder.active(), !c.endedByLimit && !endedByCover) << c.name;
        recorder.end();
        EXPECT_EQ(outcome.calls, 1) << c.name;
        if (c.kept.size() < 2) {
            EXPECT_EQ(outcome.failure, endedByCover ? coverFailure : stillFailure) << c.name;
            continue;
        }
        ASSERT_TRUE(outcome.frames.has_value()) << c.name;
        EXPECT_EQ(outcome.frames->stoppedAtLimit, c.endedByLimit) << c.name;
        EXPECT_EQ(outcome.frames->stoppedCovered, endedByCover) << c.name;
        ASSERT_EQ(outcome.frames->images.size(), qsizetype(c.kept.size())) << c.name;
        for (size_t i = 0; i < c.kept.size(); ++i)
            EXPECT_EQ(outcome.frames->images[qsizetype(i)], c.kept[i]) << c.name << " frame " << i;
        // The recorder lets go of the frames once they are handed over.
        EXPECT_EQ(recorder.frameCount(), 0) << c.name;
    }
}

// Read off the screen through the window list, a window beside the recorded one changes nothing; one that comes
// over it ends the recording with the frames taken before.
TEST(ScrollRecorder, ReadsTheWindowThroughTheWindowListAndStopsWhereAnotherCoversIt) {
    FakeWindowList desktop;
    desktop.desktop = solid(Qt::black, QSize(600, 400));
    const WindowList::Window recorded{42, 1, QStringLiteral("Editor"), QRect(100, 100, 150, 120)};
    desktop.list = {{7, 2, QStringLiteral("Browser"), QRect(260, 100, 100, 50)}, recorded}; // front to back
    Capture::setWindowList(&desktop);
    ScrollRecorder::Services services;
    services.background = services.mainThread = [](std::function<void()> block) { block(); };
    services.intervalMs = services.settleMs = 0;
    services.showHint = false;
    ScrollRecorder recorder(services);
    Outcome outcome;
    recorder.start(Capture::WindowInfo{42, 1, QStringLiteral("Editor"), recorded.frame}, outcome.completion());
    desktop.desktop.fill(Qt::white);
    recorder.tick();
    EXPECT_EQ(recorder.frameCount(), 2);
    desktop.list[0].frame.moveTo(200, 150);
    desktop.desktop.fill(Qt::red);
    recorder.tick();
    EXPECT_FALSE(recorder.active());
    Capture::setWindowList(nullptr);
    ASSERT_TRUE(outcome.frames.has_value());
    EXPECT_TRUE(outcome.frames->stoppedCovered);
    ASSERT_EQ(outcome.frames->images.size(), 2);
    EXPECT_EQ(outcome.frames->images[1].size(), recorded.frame.size());
    EXPECT_EQ(outcome.frames->images[1].pixel(0, 0), qRgb(255, 255, 255));
}

TEST(ScrollRecorder, OneGrabInFlightAndNoneLandsInAnotherRecording) {
    const QImage a = solid(Qt::black), b = solid(Qt::white), c = solid(Qt::red);
    FakeScreen screen;
    ScrollRecorder recorder(screen.services());
    screen.script = {a, b, c, a, b};
    Outcome first;
    recorder.start(someWindow(), first.completion());
    // Ticks while a grab is out are skipped, not queued.
    recorder.tick();
    recorder.tick();
    EXPECT_EQ(screen.grabs + int(screen.pending.size()), 1);
    screen.deliver();
    recorder.tick();
    screen.deliver();
    EXPECT_EQ(recorder.frameCount(), 2);

    // A grab that returns after the end is dropped; a second start meanwhile is ignored.
    recorder.tick();
    Outcome ignored;
    recorder.start(someWindow(), ignored.completion());
    recorder.end();
    recorder.end();
    screen.deliver();
    EXPECT_EQ(first.calls, 1);
    ASSERT_TRUE(first.frames.has_value());
    EXPECT_EQ(first.frames->images.size(), 2);
    EXPECT_EQ(ignored.calls, 0);

    // A grab of the last recording that returns into the next one is dropped too.
    Outcome second;
    recorder.start(someWindow(), second.completion());
    recorder.end();
    Outcome third;
    recorder.start(someWindow(), third.completion()); // its first grab is skipped: one is still out
    EXPECT_EQ(screen.pending.size(), 1u);
    screen.deliver();
    EXPECT_EQ(recorder.frameCount(), 0);
    recorder.tick();
    screen.deliver();
    EXPECT_EQ(recorder.frameCount(), 1);
    recorder.end();
    EXPECT_EQ(second.calls, 1);
    EXPECT_EQ(second.failure, stillFailure);
    EXPECT_EQ(third.failure, stillFailure);

    // Ending while idle does nothing at all.
    recorder.end();
    EXPECT_EQ(third.calls, 1);
}

TEST(ScrollRecorder, EndsWithoutACompletionWhenItsCardGoes) {
    const QImage a = solid(Qt::black), b = solid(Qt::white);
    struct Case {
        const char* name;
        bool destroyOwner;   // else the owner cancels
        bool cancelsAnother; // cancel() names an object that did not start the recording
    };
    const Case cases[] = {
        {"the owner is destroyed", true, false},
        {"the owner cancels", false, false},
        {"another object cannot cancel", false, true},
    };
    for (const Case& c : cases) {
        FakeScreen screen;
        ScrollRecorder recorder(screen.services());
        screen.script = {a, b, a, b};
        auto owner = std::make_unique<QObject>();
        QObject stranger;
        Outcome outcome;
        recorder.start(someWindow(), outcome.completion(), owner.get());
        screen.deliver();
        recorder.tick();
        if (c.destroyOwner)
            owner.reset();
        else
            recorder.cancel(c.cancelsAnother ? &stranger : owner.get());
        screen.deliver();
        if (c.cancelsAnother) {
            EXPECT_TRUE(recorder.active()) << c.name;
            EXPECT_EQ(recorder.frameCount(), 2) << c.name;
            recorder.end();
            EXPECT_EQ(outcome.calls, 1) << c.name;
            continue;
        }
        EXPECT_FALSE(recorder.active()) << c.name;
        // Nothing is kept for nobody, and no later grab starts.
        EXPECT_EQ(recorder.frameCount(), 0) << c.name;
        recorder.tick();
        EXPECT_TRUE(screen.pending.empty()) << c.name;
        recorder.end();
        EXPECT_EQ(outcome.calls, 0) << c.name;
    }
}

TEST(ScrollRecorder, TheTimerGrabsAfterTheScreenSettledAndStopsAtTheEnd) {
    FakeScreen screen;
    ScrollRecorder::Services services = screen.services();
    services.background = [](std::function<void()> block) { block(); };
    services.intervalMs = 5;
    services.settleMs = 30;
    for (int i = 0; i < 1000; ++i)
        screen.script.push_back(solid(i % 2 ? Qt::white : Qt::black));
    ScrollRecorder recorder(services);
    Outcome outcome;
    recorder.start(someWindow(), outcome.completion());
    // Nothing is grabbed at once: the window that started the recording may still be on the screen.
    EXPECT_EQ(screen.grabs, 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return screen.grabs >= 3; }, 5000));
    recorder.end();
    const int grabs = screen.grabs;
    QTest::qWait(50);
    EXPECT_EQ(screen.grabs, grabs);
    ASSERT_TRUE(outcome.frames.has_value());
    EXPECT_EQ(outcome.frames->images.size(), grabs);
}

TEST(ScrollRecorder, HintNamesTheStoredShortcutAndSitsBesideTheWindow) {
    Defaults& defaults = Defaults::standard();
    ScrollRecorder recorder;
    EXPECT_EQ(recorder.hintText(), QStringLiteral("Scroll the page, then press Super+Shift+D again"));
    Shortcut{40, Shortcut::control | Shortcut::option, QStringLiteral("K")}.save(QStringLiteral("capture"), defaults);
    EXPECT_EQ(recorder.hintText(), QStringLiteral("Scroll the page, then press Ctrl+Alt+K again"));
    defaults.remove(Shortcut::defaultsKey(QStringLiteral("capture")));

    struct Case {
        const char* name;
        QRect window;
        QRect visible;
        QPoint at;
    };
    const QSize hint(300, 34);
    const Case cases[] = {
        {"below the window", {100, 100, 400, 300}, {0, 0, 1280, 770}, {150, 410}},
        {"just fits below", {100, 100, 400, 626}, {0, 0, 1280, 770}, {150, 736}},
        {"the window reaches the bottom: above it", {100, 400, 400, 360}, {0, 0, 1280, 770}, {150, 356}},
        {"no room either way: above the bottom of the visible area", {0, 20, 1280, 740}, {0, 0, 1280, 770}, {490, 726}},
        {"a second monitor", {1500, 900, 401, 100}, {1280, 24, 1920, 1000}, {1551, 856}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ScrollRecorder::hintPosition(c.window, hint, c.visible), c.at) << c.name;

    // Where the hint has to go over the window, every grab keeps only the larger part clear of it.
    struct Clear {
        const char* name;
        QRect window, hintAt;
        QRect rows;
    } clear[] = {
        {"beside the window", {100, 100, 400, 300}, {150, 410, 300, 34}, {}},
        {"over its bottom", {0, 20, 1280, 740}, {490, 726, 300, 34}, {0, 0, 1280, 704}},
        {"over its top", {0, 0, 1280, 740}, {490, 10, 300, 34}, {0, 46, 1280, 694}},
        {"the window partly off the desktop", {0, -100, 1280, 900}, {490, 726, 300, 34}, {0, 0, 1280, 724}},
    };
    for (const Clear& c : clear)
        EXPECT_EQ(ScrollRecorder::rowsClearOfHint(c.window, c.hintAt, QRect(0, 0, 1280, 800)), c.rows) << c.name;

    // The panel goes when the recording ends.
    FakeScreen screen;
    ScrollRecorder::Services services = screen.services();
    services.showHint = true;
    ScrollRecorder shown(services);
    shown.start(someWindow(), {});
    ASSERT_NE(shown.hintPanel(), nullptr);
    EXPECT_TRUE(shown.hintPanel()->isVisible());
    shown.end();
    EXPECT_FALSE(shown.hintPanel()->isVisible());
}

TEST(ScrollCapture, StitchesTheKeptFramesIntoThePageBesideTheCardsFile) {
    const QImage source = page();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString file = dir.filePath(QStringLiteral("Editor 2024-01-01 at 10.00.00.png"));
    ASSERT_TRUE(frameAt(source, 0).save(file));
    const Shot base{QUrl::fromLocalFile(file), frameAt(source, 0), QStringLiteral("Editor"), someWindow()};

    // Scrolled by 37, not at all, then a frame of another page entirely, then on by 60, 50 and 5 rows.
    const QImage stranger = frameAt(page(300).mirrored(true, true), 50);
    const QList<QImage> frames = {frameAt(source, 0),  frameAt(source, 37),  frameAt(source, 37), stranger,
                                  frameAt(source, 97), frameAt(source, 147), frameAt(source, 152)};
    const auto [next, message] = ScrollCapture::stitch(base, frames);
    EXPECT_EQ(message, QStringLiteral("Full page \u00B7 5 frames"));
    EXPECT_EQ(next.fileURL.fileName(), QStringLiteral("Editor 2024-01-01 at 10.00.00 full.png"));
    EXPECT_EQ(next.appName, base.appName);
    ASSERT_TRUE(next.window.has_value());
    EXPECT_EQ(next.window->id, base.window->id);
    const QImage expected = frameAt(source, 0, viewRows + 152).convertToFormat(QImage::Format_ARGB32);
    // The title bar once on top, every page row once, the fixed bar once at the bottom; opaque throughout.
    EXPECT_TRUE(QImage(next.fileURL.toLocalFile()).convertToFormat(QImage::Format_ARGB32) == expected);
    EXPECT_TRUE(next.image.convertToFormat(QImage::Format_ARGB32) == expected);
    EXPECT_TRUE(QFileInfo::exists(file));

    // A second run on the same file takes the next free name; a recording cut short says so.
    const auto [again, cutShort] = ScrollCapture::stitch(base, frames, true);
    EXPECT_EQ(again.fileURL.fileName(), QStringLiteral("Editor 2024-01-01 at 10.00.00 full 2.png"));
    EXPECT_EQ(cutShort, QStringLiteral("Full page \u00B7 5 frames \u2014 the recording stopped at its size limit"));
    const auto [covered, coveredNote] = ScrollCapture::stitch(base, frames, false, true);
    EXPECT_EQ(coveredNote, QStringLiteral("Full page \u00B7 5 frames \u2014 another window came over the page, so the "
                                          "recording stopped there"));

    // A last jump too far to join is said, not silently left out; a last frame scrolled back up is not.
    const auto [lost, tooFast] =
        ScrollCapture::stitch(base, {frameAt(source, 0), frameAt(source, 37), frameAt(source, 37 + viewRows + 40)});
    EXPECT_EQ(tooFast,
              QStringLiteral("Full page \u00B7 2 frames \u2014 the end scrolled too fast to be joined; scroll a "
                             "little slower next time"));
    const auto [backUp, fine] =
        ScrollCapture::stitch(base, {frameAt(source, 0), frameAt(source, 60), frameAt(source, 30)});
    EXPECT_EQ(fine, QStringLiteral("Full page \u00B7 2 frames"));
}

TEST(ScrollCapture, FailsWithTheUsersWordsAndWritesNothing) {
    const QImage source = page();
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("Shot.png"));
    ASSERT_TRUE(frameAt(source, 0).save(file));

    struct Case {
        const char* name;
        QString beside;
        QList<QImage> frames;
        QString message; // empty: any message
    };
    const QList<Case> cases = {
        {"one frame", file, {frameAt(source, 0)}, lineUpFailure},
        {"nothing moved", file, {frameAt(source, 0), frameAt(source, 0)}, lineUpFailure},
        {"frames of another size",
         file,
         {frameAt(source, 0), frameAt(source, 30).scaled(pageWidth, 90)},
         lineUpFailure},
        {"the card's folder is gone",
         dir.filePath(QStringLiteral("gone/Shot.png")),
         {frameAt(source, 0), frameAt(source, 40)},
         QString()},
    };
    for (const Case& c : cases) {
        const QStringList before = QDir(QFileInfo(c.beside).path()).entryList(QDir::Files);
        const Shot base{QUrl::fromLocalFile(c.beside), frameAt(source, 0), QStringLiteral("Editor"), someWindow()};
        try {
            ScrollCapture::stitch(base, c.frames);
            ADD_FAILURE() << c.name << ": stitched";
        } catch (const UserError& error) {
            if (!c.message.isEmpty())
                EXPECT_EQ(error.message, c.message) << c.name;
            else
                EXPECT_FALSE(error.message.isEmpty()) << c.name;
        }
        EXPECT_EQ(QDir(QFileInfo(c.beside).path()).entryList(QDir::Files), before) << c.name;
    }
}

TEST(ScrollCapture, FixedBottomRowsAreTheRowsEqualInEveryFrame) {
    const QImage source = page();
    QImage otherFormat = frameAt(source, 20).convertToFormat(QImage::Format_ARGB32);
    struct Case {
        const char* name;
        QList<QImage> frames;
        int rows;
    };
    const QList<Case> cases = {
        {"no frame", {}, 0},
        {"one frame", {frameAt(source, 0)}, 0},
        {"the fixed bar", {frameAt(source, 0), frameAt(source, 20), frameAt(source, 45)}, footerRows},
        {"identical frames are fixed throughout", {frameAt(source, 5), frameAt(source, 5)}, frameRows},
        {"frames of another size", {frameAt(source, 0), frameAt(source, 20).copy(0, 0, pageWidth, 100)}, 0},
        {"frames of another format", {frameAt(source, 0), otherFormat}, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ScrollCapture::fixedBottomRows(c.frames), c.rows) << c.name;
}

namespace {

// A card view inside a window of its own, wired as the card window wires it, recording through fakes.
struct RecordingCard {
    explicit RecordingCard(std::optional<Capture::WindowInfo> window) {
        const QString file = dir.filePath(QStringLiteral("Editor 2024-01-01 at 10.00.00.png"));
        frameAt(source, 0).save(file);
        ScrollRecorder::shared().setServices(screen.services());
        card = std::make_unique<QWidget>();
        view = new ThumbnailView(Shot{QUrl::fromLocalFile(file), frameAt(source, 0), QStringLiteral("Editor"), window},
                                 std::nullopt, Defaults::standard(), card.get());
        view->onHold = [this](Hold reason, bool on) {
            if (reason == Hold::Recording)
                holds.push_back(on);
        };
        view->onHide = [this](bool hide) { hides.push_back(hide); };
    }
    ~RecordingCard() {
        ScrollRecorder::shared().cancel();
        ScrollRecorder::shared().setServices({});
    }
    GhostButton* button() const { return view->tools.value(QStringLiteral("scroll")); }
    void scrollTo(int row) {
        screen.script.push_back(frameAt(source, row));
        ScrollRecorder::shared().tick();
        screen.deliver();
    }

    QImage source = page();
    QTemporaryDir dir;
    FakeScreen screen;
    std::unique_ptr<QWidget> card;
    ThumbnailView* view = nullptr;
    std::vector<bool> holds;
    std::vector<bool> hides;
};

} // namespace

TEST(ScrollTool, RecordsTheCardsWindowAndTakesTheFullPage) {
    RecordingCard card(someWindow());
    card.screen.script.push_back(frameAt(card.source, 0));
    card.view->triggerTool(QStringLiteral("scroll"));
    EXPECT_TRUE(ScrollRecorder::shared().active());
    EXPECT_EQ(card.holds, std::vector<bool>{true});
    EXPECT_EQ(card.hides, std::vector<bool>{true});
    EXPECT_TRUE(card.button()->active());
    card.screen.deliver();
    card.scrollTo(50);
    card.scrollTo(120);

    // The capture key ends it: the card comes back, its button goes dark, and the page is stitched.
    ScrollRecorder::finish();
    EXPECT_FALSE(ScrollRecorder::shared().active());
    EXPECT_EQ(card.hides, (std::vector<bool>{true, false}));
    EXPECT_FALSE(card.button()->active());
    EXPECT_EQ(card.holds, (std::vector<bool>{true, false}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return card.view->shot().fileURL.fileName().endsWith(u" full.png"); }, 10000));
    EXPECT_EQ(card.view->shot().image.height(), frameRows + 120);
    EXPECT_TRUE(QTest::qWaitFor([&] { return toastText() == QStringLiteral("Full page \u00B7 3 frames"); }, 5000));
    EXPECT_FALSE(card.view->isBusy());
}

TEST(ScrollTool, FailuresAndTheCardGoingLeaveTheCardAsItWas) {
    enum class Ending { captureKey, toolAgain, closeCard, deleteCard };
    struct Case {
        const char* name;
        bool window;
        Ending ending;
        QString toast;
    };
    const Case cases[] = {
        {"no window to scroll", false, Ending::captureKey, QStringLiteral("No window to scroll")},
        {"nothing scrolled, ended by the key", true, Ending::captureKey, stillFailure},
        {"nothing scrolled, ended by the tool", true, Ending::toolAgain, stillFailure},
        {"the card closes while recording", true, Ending::closeCard, QString()},
        {"the card is deleted while recording", true, Ending::deleteCard, QString()},
    };
    for (const Case& c : cases) {
        Toast::hide();
        RecordingCard card(c.window ? std::optional<Capture::WindowInfo>(someWindow()) : std::nullopt);
        const Shot before = card.view->shot();
        card.screen.script = {frameAt(card.source, 0), frameAt(card.source, 0)};
        card.view->triggerTool(QStringLiteral("scroll"));
        EXPECT_EQ(ScrollRecorder::shared().active(), c.window) << c.name;
        card.screen.deliver();
        switch (c.ending) {
        case Ending::captureKey:
            ScrollRecorder::finish();
            break;
        case Ending::toolAgain:
            card.view->triggerTool(QStringLiteral("scroll"));
            break;
        case Ending::closeCard:
            card.card->close();
            break;
        case Ending::deleteCard:
            card.card.reset();
            break;
        }
        EXPECT_FALSE(ScrollRecorder::shared().active()) << c.name;
        EXPECT_EQ(toastText(), c.toast) << c.name;
        if (c.ending == Ending::deleteCard)
            continue;
        // Held exactly as long as the recording ran; the picture and its file untouched.
        const std::vector<bool> heldAndReleased = c.window ? std::vector<bool>{true, false} : std::vector<bool>{};
        EXPECT_EQ(card.holds, heldAndReleased) << c.name;
        EXPECT_EQ(card.view->shot().fileURL, before.fileURL) << c.name;
        EXPECT_EQ(QDir(card.dir.path()).entryList(QDir::Files).size(), 1) << c.name;
        if (c.ending != Ending::closeCard) {
            EXPECT_EQ(card.hides, heldAndReleased) << c.name;
        }
    }
}
