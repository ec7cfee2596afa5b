// Where the keyboard goes, judged against plain windows of another program. Each sequence of a user's moves (into
// a terminal by a click, its task-list button or Alt+Tab; one of our windows opened by its key or tool; away from
// it and back; closed by Escape, its button, Alt+F4 or the basket's key; a line typed) is played twice on the same
// desktop: once with our window, once with a plain terminal standing where ours stood and closing the same way.
// Every line typed must land in the same terminal both times. Sequences come from a seed, fixed here;
// PICTOLARIUM_KEYS_SEED=<n> (or "random") plays others, PICTOLARIUM_E2E_ALL_WAYS=1 plays many more of them, and
// PICTOLARIUM_KEYS_SHOTS=1 keeps a screenshot after each step. The plays are KeysPlayer's; the kinds of window of
// ours and the rows are here.

#include "KeysPlayer.h"

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace {

// An editor's close button ends the pill centred 10 below its top edge: 12 in from the pill's end, 30 wide.
std::function<QPoint(const QRect&)> closeAtTheTop(int pillWidth) {
    return [pillWidth](const QRect& r) { return QPoint(r.x() + (r.width() + pillWidth) / 2 - 27, r.top() + 28); };
}

// The shortcut dialog, from the panel menu: the capture key's row.
const QStringList shortcutRow = QStringList(6, "Down") + QStringList{"Right", "Right", "Down"};

const QList<Kind>& kinds() {
    static const QList<Kind> all{
        {.name = "basket",
         .titles = {basketTitle},
         .opens = Opens::BasketKey,
         .closesOnLeave = true,
         .button = [](const QRect& r) { return QPoint(r.right() - 31, r.top() + 40); },
         .hotKey = true},
        {.name = "preview",
         .titles = {basketTitle, QStringLiteral("^Pictolarium Preview$")},
         .opens = Opens::Preview,
         .closesOnLeave = true,
         .hotKey = true},
        {.name = "shortcut dialog",
         .titles = {QStringLiteral("^Shortcut for")},
         .opens = Opens::Menu,
         .menuKeys = shortcutRow,
         .button = [](const QRect& r) { return r.bottomRight() - QPoint(278, 33); },
         .recorder = true},
        // The window manager's own close button on the frame: top right, in openbox's theme and in icewm's.
        {.name = "Customize Toolbar",
         .titles = {QStringLiteral("^Customize Toolbar$")},
         .opens = Opens::Menu,
         .menuKeys = QStringList(6, "Up"),
         .closesOnLeave = true,
         .button = [](const QRect& r) { return QPoint(r.right() - 11, r.top() - 10); }},
        {.name = "tour",
         .titles = {QStringLiteral("^Pictolarium Tour$")},
         .opens = Opens::Menu,
         .menuKeys = {"Up", "Up"},
         .button = [](const QRect& r) { return r.topLeft() + QPoint(551, 42); }},
        {.name = "rename", .titles = {QStringLiteral("^Rename$")}, .opens = Opens::Tool, .tool = 4, .closesOnLeave = true},
        {.name = "annotate",
         .titles = {QStringLiteral("^Pictolarium Annotate$")},
         .opens = Opens::Tool,
         .tool = 0,
         .button = [](const QRect& r) { return QPoint(r.right() - 40, r.top() + r.height() / 2 - 125); }},
        {.name = "crop",
         .titles = {QStringLiteral("^Pictolarium Crop$")},
         .opens = Opens::Tool,
         .tool = 1,
         .button = closeAtTheTop(276)},
        {.name = "resize",
         .titles = {QStringLiteral("^Pictolarium Resize$")},
         .opens = Opens::Tool,
         .tool = 2,
         .button = closeAtTheTop(256)},
        {.name = "rotate",
         .titles = {QStringLiteral("^Pictolarium Rotate$")},
         .opens = Opens::Tool,
         .tool = 3,
         .button = closeAtTheTop(220)},
        {.name = "backdrop",
         .titles = {QStringLiteral("^Pictolarium Backdrop$")},
         .opens = Opens::Backdrop,
         .button = closeAtTheTop(224),
         .reopens = "^Pictolarium Annotate$"},
        // A dialog over a dialog, closed top first, then the one below by Escape.
        {.name = "change dialog over the tour",
         .titles = {QStringLiteral("^Pictolarium Tour$"), QStringLiteral("^Shortcut for")},
         .opens = Opens::TourChange,
         .menuKeys = {"Up", "Up"},
         .button = [](const QRect& r) { return r.bottomRight() - QPoint(278, 33); },
         .recorder = true,
         .fixedOnly = true},
        // The basket's key pressed while the tour shows: the basket opens over it.
        {.name = "basket over the tour",
         .titles = {QStringLiteral("^Pictolarium Tour$"), basketTitle},
         .opens = Opens::TourBasket,
         .menuKeys = {"Up", "Up"},
         .button = [](const QRect& r) { return QPoint(r.right() - 31, r.top() + 40); },
         .fixedOnly = true},
        {.name = "alert after the shortcut dialog",
         .titles = {QStringLiteral("^Couldn't register")},
         .opens = Opens::Refused,
         .menuKeys = shortcutRow,
         .button = [](const QRect& r) { return r.bottomRight() - QPoint(65, 33); },
         .fixedOnly = true},
        {.name = "signature pad over annotate",
         .titles = {QStringLiteral("^Pictolarium Annotate$"), QStringLiteral("^Create signature$")},
         .opens = Opens::Signature,
         .tool = 0,
         .button = [](const QRect& r) { return r.topLeft() + QPoint(315, 220); },
         .fixedOnly = true},
        {.name = "basket over the alert, from B",
         .titles = {QStringLiteral("^Couldn't register"), basketTitle},
         .opens = Opens::RefusedAwayBasket,
         .menuKeys = shortcutRow,
         .closesOnLeave = true,
         .hotKey = true,
         .fixedOnly = true},
        {.name = "basket over the alert",
         .titles = {QStringLiteral("^Couldn't register"), basketTitle},
         .opens = Opens::RefusedBasket,
         .menuKeys = shortcutRow,
         .closesOnLeave = true,
         .hotKey = true,
         .fixedOnly = true},
    };
    return all;
}

const Kind& kind(const char* name) {
    for (const Kind& k : kinds())
        if (QByteArray(k.name) == name)
            return k;
    std::abort();
}

// A fixed row: the kind of window and the steps, each toward terminal B where it goes to one.
struct Fixed {
    const char* kind;
    Steps steps;
};

Steps toB(std::initializer_list<Step::Act> acts) {
    return stepsTo(1, acts);
}

// The rows, or those of them numbered in `only` (all when empty), under the stage's window manager.
void playFixed(KeysStage& stage, const QList<Fixed>& rows, const QList<int>& only = {}) {
    Player player(stage, kinds());
    for (int i = 0; i < int(rows.size()); ++i) {
        if (!only.isEmpty() && !only.contains(i))
            continue;
        const Row row = compare(player, kind(rows[i].kind), rows[i].steps);
        std::fprintf(stderr, "keys: %s | %s\n", managerName(stage.manager), qPrintable(row.text));
        EXPECT_TRUE(row.pass) << managerName(stage.manager) << ": " << row.text.toStdString();
    }
}

void playGenerated(Manager manager, int inCi, int all, const QList<int>& alsoInCi = {}) {
    playGenerated(kinds(), manager, inCi, all, alsoInCi);
}

} // namespace

TEST(KeysDifferential, Openbox) {
    playGenerated(Manager::Openbox, 5, 44);
}

// Where the pointer rests decides as much as where the user clicked: the window manager's own hand-back counts
// for nothing once the keyboard has moved by the pointer alone.
TEST(KeysDifferential, FocusFollowsThePointer) {
    playGenerated(Manager::FollowMouse, 3, 16);
}

// Nobody hands the keyboard on: a window that goes leaves it to the pointer, and only our own route can put it
// anywhere else.
TEST(KeysDifferential, NoWindowManager) {
    playGenerated(Manager::None, 3, 16);
}

TEST(KeysDifferential, IceWm) {
    playGenerated(Manager::IceWm, 3, 16);
}

// Fluxbox's Alt+Tab stops at every window that offers to take the focus: from an editor (6 and 7) it must reach
// a terminal, past the card, as it does from a plain window.
TEST(KeysDifferential, Fluxbox) {
    playGenerated(Manager::Fluxbox, 0, 16, {6, 7});
}

// Left for terminal B and come back to before closing: the keyboard goes to B, the last program the user had
// before ours, not to A, which had it when ours opened.
TEST(KeysDifferential, ComingBackBeforeClosing) {
    KeysStage stage(Manager::Openbox, hiddenTools);
    ASSERT_TRUE(stage.start()) << stage.error.toStdString();
    using S = Step;
    playFixed(stage, {
                         {"rotate", toB({S::Open, S::Click, S::Type, S::BackClick, S::Escape, S::Type})},
                         {"shortcut dialog", toB({S::Open, S::Click, S::Type, S::BackAltTab, S::Button, S::Type})},
                         {"tour", toB({S::Open, S::Task, S::Type, S::BackClick, S::Button, S::Type})},
                         {"annotate", toB({S::Open, S::Click, S::Type, S::BackClick, S::Button, S::Type})},
                         {"crop", toB({S::Open, S::Click, S::Type, S::BackTask, S::Button, S::Type})},
                         {"resize", toB({S::Open, S::Click, S::Type, S::Button, S::Type})},
                         {"rotate", toB({S::Open, S::Task, S::Type, S::BackAltTab, S::Button, S::Type})},
                         {"backdrop", toB({S::Open, S::Click, S::Type, S::BackClick, S::Button, S::Rest, S::Type})},
                         {"Customize Toolbar", toB({S::Open, S::Button, S::Type})},
                         {"Customize Toolbar", toB({S::Open, S::AltTab, S::Type, S::Type})},
                     });
}

// A dialog over a dialog of ours: the top one closed, then the one below it. The keyboard goes back down the
// chain and then to the program the user had last, alike where the window manager hands it back by itself and
// where the pointer alone decides.
TEST(KeysDifferential, ADialogOverADialog) {
    using S = Step;
    const QList<Fixed> rows{
        {"change dialog over the tour", toB({S::Open, S::Escape, S::Rest, S::Type})},
        {"change dialog over the tour", toB({S::Open, S::Click, S::Type, S::BackClick, S::Button, S::Rest, S::Type})},
        {"signature pad over annotate", toB({S::Open, S::Button, S::Rest, S::Type})},
        {"basket over the tour", toB({S::Open, S::Escape, S::Rest, S::Type})},
        {"basket over the tour", toB({S::Open, S::Button, S::Rest, S::Type})},
        {"signature pad over annotate", toB({S::Open, S::Click, S::Type, S::BackClick, S::Escape, S::Rest, S::Type})},
        // Last: the refused combination stays saved for the action.
        {"alert after the shortcut dialog", toB({S::Open, S::Escape, S::Type})},
        // The alert waits for its answer while the basket shows over it: the basket still closes, and the
        // keyboard goes back to the alert, or to B where the user went before opening the basket, however the
        // basket closes.
        {"basket over the alert", toB({S::Open, S::Escape, S::Type})},
        {"basket over the alert, from B", toB({S::Open, S::HotKey, S::Type})},
        {"basket over the alert, from B", toB({S::Open, S::Escape, S::Type})},
    };
    for (const Manager manager : {Manager::Openbox, Manager::FollowMouse}) {
        KeysStage stage(manager, hiddenTools);
        ASSERT_TRUE(stage.start()) << stage.error.toStdString();
        // Its own answer tells that it holds the combination: a second grab to check would race it.
        QProcess holder;
        holder.setProcessEnvironment(stage.desktop.environment());
        holder.start(QStringLiteral(GRABKEY_BIN), {"y", "super,shift", "--hold"});
        ASSERT_TRUE(holder.waitForReadyRead(5000));
        ASSERT_TRUE(holder.readAll().startsWith("grabbed")) << "the other program holds no combination";
        playFixed(stage, rows);
        holder.terminate();
        holder.waitForFinished(2000);
    }
}

// Ways away that are the window manager's alone: the window minimised and brought back by its task button, the
// second desktop and back, a window of ours opened on the second desktop, the switcher's Alt+Tab. A window of ours
// that closes on the second desktop hands the keyboard to nothing left on the first, as a plain one does: asked to
// activate it, icewm took the user back there. Under jwm, the card showing as its editor is minimised is passed by,
// not offered the keyboard it would keep from everyone. PICTOLARIUM_KEYS_MANAGER=<its name> plays them under one
// alone.
TEST(KeysDifferential, LeftByTheWindowManager) {
    using S = Step;
    const QList<Fixed> rows{
        {"rotate", toB({S::Open, S::OtherDesktop, S::Type, S::HomeDesktop, S::Escape, S::Type})},
        {"shortcut dialog", toB({S::Open, S::OtherDesktop, S::Type, S::HomeDesktop, S::Button, S::Type})},
        {"crop", toB({S::Open, S::Click, S::Type, S::OtherDesktop, S::HomeDesktop, S::BackClick, S::Escape, S::Type})},
        {"annotate", toB({S::Open, S::Minimize, S::Type, S::BackTask, S::Escape, S::Type})},
        {"rotate",
         toB({S::Open, S::Click, S::Type, S::BackClick, S::Minimize, S::Type, S::BackTask, S::AltF4, S::Type})},
        {"rename", toB({S::Open, S::OtherDesktop, S::Type, S::HomeDesktop, S::Type})},
        {"resize", toB({S::OtherDesktop, S::Open, S::Escape, S::Type, S::HomeDesktop, S::Type})},
        {"shortcut dialog", toB({S::OtherDesktop, S::Open, S::Button, S::Type, S::HomeDesktop, S::Type})},
        // The window manager's switcher from the preview: openbox goes straight to A, and the basket goes with it.
        {"preview", toB({S::Open, S::AltTab, S::Type, S::Type})},
    };
    // In CI, openbox plays every row, icewm those that close a window on the second desktop, jwm those that
    // minimise; PICTOLARIUM_E2E_ALL_WAYS=1 plays every row under each.
    const bool allWays = qEnvironmentVariableIntValue("PICTOLARIUM_E2E_ALL_WAYS") == 1;
    const struct {
        Manager manager;
        QList<int> inCi;
    } managers[] = {
        {Manager::Openbox, {0, 1, 2, 3, 4, 5, 6, 7, 8}}, {Manager::IceWm, {0, 6, 7}}, {Manager::Jwm, {3, 4}}};
    const QByteArray only = qgetenv("PICTOLARIUM_KEYS_MANAGER");
    for (const auto& [manager, inCi] : managers) {
        if (!only.isEmpty() && only != managerName(manager))
            continue;
        KeysStage stage(manager, hiddenTools);
        ASSERT_TRUE(stage.start()) << stage.error.toStdString();
        playFixed(stage, rows, allWays ? QList<int>{} : inCi);
    }
}

// A window manager none of the others resembles: its Alt+Tab walks the windows as they are stacked, not as they
// had the keyboard.
TEST(KeysDifferential, Jwm) {
    playGenerated(Manager::Jwm, 3, 16);
}

// The pointer resting on a card under review, its box over the card number selected, while the terminal the user
// clicked back into has the keyboard: the keys typed for the terminal reach it just as they do with the pointer
// elsewhere, and the box stays where it was.
TEST(KeysDifferential, KeysForATerminalPassOverACardUnderReview) {
    Desktop::Options o;
    o.tray = false;
    Desktop desktop(o);
    CardUnderReview review;
    ASSERT_NO_FATAL_FAILURE(openCardUnderReview(desktop, review));
    const quint32 terminal = review.terminal;
    const QString& log = review.log;
    const QString& redacted = review.redacted;
    // The card number's box selected.
    const QPoint box = review.at(300, 120);
    desktop.click(box);
    Desktop::pause(500);
    const QByteArray before = Desktop::digest(redacted);

    const auto typeAt = [&](QPoint rest) {
        desktop.click(desktop.clientGeometry(terminal).center());
        desktop.moveTo(rest);
        Desktop::pause(400);
        QFile(log).open(QIODevice::WriteOnly | QIODevice::Truncate);
        desktop.xdotool({"type", "--delay", "40", "ls -l"});
        // One at a time: an interrupt empties the terminal's input of what its shell has not read yet.
        for (const char* key : {"BackSpace", "Delete", "ctrl+c", "a", "Return"}) {
            desktop.key(QLatin1String(key));
            Desktop::pause(200);
        }
        Desktop::waitUntil([&] { return logged(log).endsWith('\n') || logged(log).endsWith('\r'); }, 2000);
        Desktop::pause(300);
        return logged(log);
    };
    const QByteArray away = typeAt(QPoint(5, 795));
    ASSERT_TRUE(away.startsWith("ls -l")) << away.toStdString();
    const QByteArray over = typeAt(box);
    EXPECT_EQ(over.toStdString(), away.toStdString()) << "with the pointer on the card";
    Desktop::pause(500);
    EXPECT_EQ(Desktop::digest(redacted).toHex().toStdString(), before.toHex().toStdString())
        << "the redaction was rewritten";
    EXPECT_NE(desktop.visibleWindow(QStringLiteral("^Pictolarium Card$")), 0u);
}
