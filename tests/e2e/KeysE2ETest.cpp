// Which window the keys go to, with another program holding the keyboard first: a terminal whose shell logs
// every key it gets. Keys typed into our rename box, the basket and its preview, and the tour's dialogs land
// there and nowhere else; the card takes only what it grabs while the pointer rests on it.

#include "BasketDriver.h"
#include "KeysStage.h"
#include "ModelDesktop.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <poll.h>
#include <thread>

namespace {

QString shot(const QString& name) {
    return Desktop::shotsDir() + QStringLiteral("/keys-%1.png").arg(name);
}

} // namespace

// A redacted picture under review with a box selected, and the rename box opened from the pill with the pointer
// left on the card: Escape and BackSpace are the box's. The review box and the redacted file stay as they were.
TEST(Keys, TheRenameBoxTakesItsKeysOverACardUnderReview) {
    Desktop::Options o;
    o.tray = false;
    Desktop desktop(o);
    CardUnderReview review;
    ASSERT_NO_FATAL_FAILURE(openCardUnderReview(desktop, review));
    const quint32 card = review.card, terminal = review.terminal;
    const QString& log = review.log;
    const QString& redacted = review.redacted;
    const QRect large = review.large;
    // The address's box selected.
    desktop.click(review.at(400, 50));
    Desktop::pause(500);
    const QByteArray before = Desktop::digest(redacted);

    // Rename from the pill; the pointer stays on the card. Escape closes the box and only the box.
    auto openRename = [&] {
        desktop.click(desktop.pillButton(card, 2, true, 1));
        const quint32 box = desktop.waitVisible(QStringLiteral("^Rename$"), true, 15000);
        EXPECT_TRUE(Desktop::waitUntil([&] { return box && desktop.activeWindow() == box; }, 3000));
        return box;
    };
    ASSERT_NE(openRename(), 0u) << desktop.appStderr().toStdString();
    desktop.screenshot(shot(QStringLiteral("rename-over-review")));
    desktop.key("Escape");
    desktop.waitVisible(QStringLiteral("^Rename$"), false);
    EXPECT_EQ(desktop.visibleWindow(QStringLiteral("^Rename$")), 0u) << "Escape closes the box";
    EXPECT_NE(desktop.visibleWindow(QStringLiteral("^Pictolarium Card$")), 0u) << "and leaves the card";
    EXPECT_EQ(desktop.clientGeometry(card).width(), large.width()) << "still under review";
    EXPECT_TRUE(Desktop::waitUntil([&] { return desktop.activeWindow() == terminal; }, 3000))
        << "the box gave the keyboard to " << desktop.activeWindow() << ", not back to the terminal";

    // BackSpace empties the box's selected name; the selected review box stays.
    ASSERT_NE(openRename(), 0u);
    desktop.key("BackSpace");
    desktop.xdotool({QStringLiteral("type"), QStringLiteral("Kept")});
    desktop.key("Return");
    const QString renamed = desktop.shotsFolder() + QStringLiteral("/Kept.png");
    EXPECT_TRUE(Desktop::waitUntil([&] { return QFileInfo::exists(renamed); }, 5000)) << "BackSpace reached the box";
    Desktop::pause(800);
    desktop.screenshot(shot(QStringLiteral("renamed-under-review")));
    EXPECT_EQ(Desktop::digest(QFileInfo::exists(renamed) ? renamed : redacted), before)
        << "the redaction was rewritten";
    EXPECT_LT(qGray(QImage(QFileInfo::exists(renamed) ? renamed : redacted).pixel(400, 50)), 60)
        << "the address shows again";

    // Typed into the box, the keys went elsewhere: resting on the card, the pointer does not give it BackSpace.
    desktop.moveTo(review.at(400, 50));
    Desktop::pause(300);
    desktop.key("BackSpace");
    Desktop::pause(500);
    EXPECT_EQ(Desktop::digest(renamed), before) << "BackSpace removed the box without a click into the card";
    EXPECT_EQ(logged(log).size(), 1) << "BackSpace went to the terminal";
    QFile(log).open(QIODevice::WriteOnly | QIODevice::Truncate);
    // A click on the selected box gives the card its keys back: Delete removes it, and nothing of all this
    // reached the terminal.
    desktop.click(review.at(400, 50));
    Desktop::pause(300);
    desktop.key("Delete");
    EXPECT_TRUE(Desktop::waitUntil(
        [&] {
            const QByteArray now = Desktop::digest(renamed);
            return !now.isEmpty() && now != before;
        },
        5000))
        << "Delete on the review box";
    EXPECT_TRUE(logged(log).isEmpty()) << logged(log).toStdString();

    // The card number's box clicked, then, the pointer left there, a command typed for the terminal: its letters
    // went there, and so does the BackSpace after them. The box stays.
    Desktop::pause(500);
    const QByteArray kept = Desktop::digest(renamed);
    desktop.click(review.at(300, 120));
    Desktop::pause(300);
    desktop.xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("40"), QStringLiteral("ls")});
    desktop.key("BackSpace");
    desktop.xdotool({QStringLiteral("type"), QStringLiteral("a")});
    EXPECT_TRUE(Desktop::waitUntil([&] { return logged(log).size() == 4; }, 3000)) << logged(log).toStdString();
    Desktop::pause(500);
    EXPECT_EQ(Desktop::digest(renamed), kept) << "BackSpace typed for the terminal removed the box";
    EXPECT_LT(qGray(QImage(renamed).pixel(300, 120)), 60) << "the card number shows";
}

using KeysOverATranslation = ModelDesktop;

// A terminal running a long command has the keyboard and the pointer rests on a card's translation: Ctrl+C is the
// terminal's interrupt, as with the pointer anywhere else. The command ends, and the translation is not copied.
TEST_F(KeysOverATranslation, CtrlCWithThePointerRestingOnTheSideViewInterruptsTheTerminal) {
    ASSERT_TRUE(install("mirror\n"));
    ASSERT_NO_FATAL_FAILURE(
        openGreetingCard({{QStringLiteral("translateDefault"), Desktop::typed("string", QStringLiteral("en"))}}));
    QProcess* sleeper =
        desktop.start(QStringLiteral("xterm"), {"-title", "sleeper", "-geometry", "50x8+20+560", "-e", "sleep", "100"});
    const quint32 terminal = desktop.waitVisible(QStringLiteral("^sleeper$"), true, 8000);
    ASSERT_NE(terminal, 0u);
    const QRect before = desktop.clientGeometry(card);
    pressTranslate();
    ASSERT_TRUE(
        Desktop::waitUntil([&] { return desktop.clientGeometry(card).width() > before.width() + 100; }, 20000, 200));
    QString shown;
    ASSERT_TRUE(Desktop::waitUntil(
        [&] { return (shown = sideText()).contains(QStringLiteral("Good morning everyone")); }, 20000, 500))
        << shown.toStdString();

    const QRect frame = desktop.clientGeometry(card);
    desktop.click(desktop.clientGeometry(terminal).center());
    ASSERT_TRUE(Desktop::waitUntil([&] { return desktop.activeWindow() == terminal; }, 3000));
    desktop.moveTo(QPoint(frame.right() - 80, frame.center().y()));
    Desktop::pause(800);
    ASSERT_EQ(sleeper->state(), QProcess::Running);
    desktop.key("ctrl+c");
    EXPECT_TRUE(sleeper->waitForFinished(5000)) << "the command kept running: Ctrl+C went to the card";
    const QString copied = desktop.run(QStringLiteral(CLIPBOARD_PROBE_BIN), {});
    EXPECT_FALSE(copied.contains(QStringLiteral("Good morning"))) << copied.toStdString();
}

// The basket's preview with a terminal open: Space opens it, Space or Escape closes it, and the basket has
// the keyboard again each time (Escape then clears its selection rather than going anywhere else).
TEST(Keys, TheBasketKeepsTheKeyboardAcrossItsPreview) {
    Desktop::Options o;
    o.tray = false;
    Basket b(o);
    Desktop& desktop = b.desktop;
    ASSERT_TRUE(desktop.ok()) << desktop.error().toStdString();
    for (const QString& name : {QStringLiteral("One.png"), QStringLiteral("Two.png")}) {
        QDir().mkpath(desktop.shotsFolder());
        QImage image(320, 200, QImage::Format_RGB32);
        image.fill(name == u"One.png" ? QColor(200, 60, 60) : QColor(60, 60, 200));
        ASSERT_TRUE(image.save(desktop.shotsFolder() + u'/' + name));
    }
    desktop.startApp();
    ASSERT_TRUE(desktop.waitForApp()) << desktop.appStderr().toStdString();
    const QString log = desktop.home() + QStringLiteral("/keys.log");
    ASSERT_NE(desktop.keyLogTerminal(log), 0u);

    const QString title = QStringLiteral("^Pictolarium Basket$");
    ASSERT_TRUE(b.show());
    const quint32 basket = desktop.visibleWindow(title);
    ASSERT_NE(basket, 0u);
    ASSERT_TRUE(Desktop::waitUntil([&] { return desktop.activeWindow() == basket; }, 3000));
    desktop.key("ctrl+a");
    ASSERT_TRUE(Desktop::waitUntil([&] { return desktop.appStderr().contains("count: 2 selected"); }, 3000));

    for (const char* close : {"space", "Escape", "space"}) {
        SCOPED_TRACE(close);
        desktop.key("space");
        const quint32 preview = desktop.waitVisible(QStringLiteral("^Pictolarium Preview$"), true, 3000);
        ASSERT_NE(preview, 0u);
        EXPECT_TRUE(Desktop::waitUntil([&] { return desktop.activeWindow() == preview; }, 3000));
        desktop.key(QString::fromLatin1(close));
        desktop.waitVisible(QStringLiteral("^Pictolarium Preview$"), false, 3000);
        EXPECT_TRUE(Desktop::waitUntil([&] { return desktop.activeWindow() == basket; }, 3000))
            << "the keyboard went to " << desktop.activeWindow();
        EXPECT_NE(desktop.visibleWindow(title), 0u) << "the basket stays";
    }
    const qsizetype cleared = desktop.appStderr().count(QStringLiteral("count: \n"));
    desktop.key("Escape");
    EXPECT_TRUE(
        Desktop::waitUntil([&] { return desktop.appStderr().count(QStringLiteral("count: \n")) > cleared; }, 3000))
        << "the basket's Escape clears its selection";
    EXPECT_NE(desktop.visibleWindow(title), 0u);
    EXPECT_TRUE(logged(log).isEmpty()) << logged(log).toStdString();

    // The strip along its top moves it, as a title bar would, and keeps it on the screen.
    const QRect frame = desktop.clientGeometry(basket);
    const QPoint strip(frame.center().x(), frame.top() + 8);
    desktop.drag({strip, strip + QPoint(-150, 60)});
    EXPECT_TRUE(Desktop::waitUntil(
        [&] { return desktop.clientGeometry(basket).topLeft() == frame.topLeft() + QPoint(-150, 60); }, 3000))
        << "moved to " << desktop.clientGeometry(basket).x() << "," << desktop.clientGeometry(basket).y();
    const QPoint moved = strip + QPoint(-150, 60);
    desktop.drag({moved, moved + QPoint(2000, 2000)});
    Desktop::pause(300);
    const QRect kept = desktop.clientGeometry(basket);
    EXPECT_TRUE(QRect(0, 0, 1280, 800).contains(kept)) << kept.x() << "," << kept.y();
    EXPECT_NE(desktop.visibleWindow(title), 0u);

    // At its least width with a selection, kept for a person to look at: the header's parts side by side.
    desktop.xdotool(
        {QStringLiteral("windowsize"), QString::number(basket), QStringLiteral("520"), QStringLiteral("586")});
    desktop.key("ctrl+a");
    Desktop::pause(800);
    desktop.screenshot().copy(desktop.clientGeometry(basket)).save(shot(QStringLiteral("basket-520")));
}

// The tray menu holds the keyboard while it is open: the shortcuts it shows beside its items work from there.
// Super+Shift+D and Super+Shift+S are global keys, which the menu's own grab of the keyboard keeps from
// reaching us: the menu takes them itself, each press once, however long the key is held.
TEST(Keys, ShortcutsShownInTheOpenTrayMenuWorkFromThere) {
    Desktop desktop;
    ASSERT_TRUE(desktop.ok()) << desktop.error().toStdString();
    desktop.setEnvironment("PICTOLARIUM_TRACE", "1");
    desktop.run("xset", {"r", "on"});
    desktop.startApp();
    ASSERT_TRUE(desktop.waitForApp()) << desktop.appStderr().toStdString();
    const QPoint icon = desktop.trayIcon();
    ASSERT_FALSE(icon.isNull());
    const auto shots = [&] { return QDir(desktop.shotsFolder()).entryList(QDir::Files).size(); };
    const auto basket = [&] { return desktop.visibleWindow("^Pictolarium Basket$") != 0; };
    const struct {
        const char* keys;
        qsizetype shots;
        bool basket;
    } cases[] = {
        {"key super+shift+d", 1, false},
        // Held past a hold's time with the key repeating, modifiers let go first.
        {"keydown super+shift+d sleep 1.2 keyup super keyup shift keyup d", 2, false},
        {"key super+shift+s", 2, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.keys);
        desktop.click(icon);
        Desktop::pause(600);
        desktop.xdotool(QString::fromLatin1(c.keys).split(u' '));
        EXPECT_TRUE(Desktop::waitUntil([&] { return shots() == c.shots && basket() == c.basket; }, 5000));
        Desktop::pause(800);
        EXPECT_EQ(shots(), c.shots);
        // The screen-wide grab heard none of it: no second capture, no slice.
        EXPECT_FALSE(desktop.appStderr().contains("hot action:")) << desktop.appStderr().toStdString();
        desktop.key("Escape");
        Desktop::pause(400);
    }
    desktop.click(icon);
    Desktop::pause(600);
    desktop.screenshot(shot(QStringLiteral("tray-menu")));
    desktop.key("ctrl+q");
    EXPECT_TRUE(desktop.app()->waitForFinished(5000)) << "still running";
}

namespace {

// A plain window that asks not to be focused when it maps (a user time of 0). The window manager puts such a
// window right under the focused one in its focus order, so when ours closes its own fallback would pick this
// one: a terminal that gets the keyboard back then got it from the program, not from the window manager.
class QuietWindow {
public:
    explicit QuietWindow(const QString& display) : c(xcb_connect(display.toUtf8().constData(), nullptr)) {
        if (xcb_connection_has_error(c))
            return;
        xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
        window = xcb_generate_id(c);
        const uint32_t white = screen->white_pixel;
        xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, 900, 300, 200, 150, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_BACK_PIXEL, &white);
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, 5, "quiet");
        const char name[] = "_NET_WM_USER_TIME";
        xcb_intern_atom_reply_t* atom =
            xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(sizeof name - 1), name), nullptr);
        const uint32_t never = 0;
        if (atom)
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, atom->atom, XCB_ATOM_CARDINAL, 32, 1, &never);
        std::free(atom);
        xcb_flush(c);
    }
    ~QuietWindow() { xcb_disconnect(c); }
    void show(bool shown) {
        if (shown)
            xcb_map_window(c, window);
        else
            xcb_unmap_window(c, window);
        xcb_flush(c);
    }

private:
    xcb_connection_t* c;
    xcb_window_t window = 0;
};

// A task list of the panel's kind: a strip that never takes the keyboard and, as a button in it is let go, asks
// the window manager to make `target` active, as a pager. It answers at once, from a thread of its own, as a
// panel would while we handle the press.
class TaskList {
public:
    TaskList(const QString& display, quint32 target) : c(xcb_connect(display.toUtf8().constData(), nullptr)) {
        if (xcb_connection_has_error(c))
            return;
        xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
        strip = xcb_generate_id(c);
        const uint32_t values[] = {screen->white_pixel, XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_BUTTON_RELEASE};
        xcb_create_window(c, XCB_COPY_FROM_PARENT, strip, screen->root, 400, 760, 300, 30, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK,
                          values);
        const xcb_atom_t type = atom("_NET_WM_WINDOW_TYPE"), dock = atom("_NET_WM_WINDOW_TYPE_DOCK");
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, strip, type, XCB_ATOM_ATOM, 32, 1, &dock);
        const xcb_atom_t active = atom("_NET_ACTIVE_WINDOW");
        const xcb_window_t root = screen->root;
        xcb_map_window(c, strip);
        xcb_flush(c);
        listening = std::thread([this, target, active, root] {
            pollfd fd{xcb_get_file_descriptor(c), POLLIN, 0};
            while (!stop) {
                poll(&fd, 1, 50);
                while (xcb_generic_event_t* event = xcb_poll_for_event(c)) {
                    if ((event->response_type & 0x7f) == XCB_BUTTON_RELEASE) {
                        xcb_client_message_event_t message{};
                        message.response_type = XCB_CLIENT_MESSAGE;
                        message.format = 32;
                        message.window = target;
                        message.type = active;
                        message.data.data32[0] = 2;
                        xcb_send_event(c, 0, root,
                                       XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                                       reinterpret_cast<const char*>(&message));
                        xcb_flush(c);
                    }
                    std::free(event);
                }
            }
        });
    }
    ~TaskList() {
        stop = true;
        if (listening.joinable())
            listening.join();
        xcb_disconnect(c);
    }
    // Wherever the window manager put it.
    quint32 window() const { return strip; }

private:
    xcb_atom_t atom(const char* name) {
        xcb_intern_atom_reply_t* reply =
            xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr);
        const xcb_atom_t a = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(reply);
        return a;
    }

    xcb_connection_t* c;
    xcb_window_t strip = 0;
    std::atomic<bool> stop{false};
    std::thread listening;
};

} // namespace

// Terminal A has the keyboard and terminal B stands beside it. Each window of ours that takes keys is opened over
// A and left in each way a person leaves it; the next line typed goes where the user put the keyboard: back to A
// when they closed ours by its own means, to B when they turned to B (a click in it, its button in a task list,
// the window manager's switch), whether or not the window manager had moved the keyboard when ours closed.
// PICTOLARIUM_E2E_ALL_WAYS=1 runs every pairing; otherwise a few that stand for the rest.
TEST(Keys, TheNextLineGoesToTheTerminalTheUserLeftUsFor) {
    Desktop desktop;
    ASSERT_TRUE(desktop.ok()) << desktop.error().toStdString();
    // The card's pill with rotate, redact and rename alone, for an editor and the rename box.
    ASSERT_TRUE(desktop.writeCardSettings(
        {"annotate", "crop", "resize", "text", "pin", "translate", "cutout", "scroll", "compress", "library"}));
    const QString picture = desktop.home() + QStringLiteral("/Notes.png");
    ASSERT_TRUE(Desktop::writeSecretsPicture(picture));
    desktop.startApp();
    ASSERT_TRUE(desktop.waitForApp()) << desktop.appStderr().toStdString();
    const QString logA = desktop.home() + QStringLiteral("/a.log"), logB = desktop.home() + QStringLiteral("/b.log");
    const quint32 a = desktop.keyLogTerminal(logA, {20, 40}, QStringLiteral("keylogA"));
    const quint32 b = desktop.keyLogTerminal(logB, {20, 400}, QStringLiteral("keylogB"));
    ASSERT_TRUE(a && b);
    const QPoint icon = desktop.trayIcon();
    ASSERT_FALSE(icon.isNull());
    QuietWindow quiet(desktop.display());
    TaskList taskList(desktop.display(), b);

    const auto menu = [&](const QStringList& keys) {
        desktop.click(icon);
        Desktop::pause(500);
        desktop.xdotool(QStringList{"key", "--delay", "80"} + keys + QStringList{"Return"});
    };
    // The card's tool `index` (rotate, redact, rename), on a card opened anew.
    const auto cardTool = [&](int index) {
        const quint32 card = desktop.openCard(picture, desktop.visibleWindow(QStringLiteral("^Pictolarium Card$")));
        if (card)
            desktop.click(desktop.pillButton(card, 3, true, index));
    };
    struct Window {
        const char* name;
        const char* title;
        std::function<void()> open;
        const char* close; // the key that closes it by its own means
        QPoint button;     // from its bottom right, a button of its own that closes it; null if none
    };
    const Window windows[] = {
        {"basket", "^Pictolarium Basket$", [&] { desktop.key("super+shift+s"); }, "Escape", {}},
        {"toolbar", "^Customize Toolbar$", [&] { menu(QStringList(6, "Up")); }, "alt+F4", {}},
        {"shortcut",
         "^Shortcut for",
         [&] {
             menu(QStringList(6, "Down") + QStringList{"Right", "Right", "Down"});
         },
         "Escape",
         {278, 33}},
        {"tour",
         "^Pictolarium Tour$",
         [&] {
             menu({"Up", "Up"});
         },
         "Escape",
         {}},
        {"editor", "^Pictolarium Rotate$", [&] { cardTool(0); }, "Escape", {}},
        {"rename", "^Rename$", [&] { cardTool(2); }, "Escape", {}},
    };
    enum Way { Key, HotKey, Button, Click, TaskBar, Switch, Back };
    const struct {
        Way way;
        const char* name;
        bool toA;
    } ways[] = {
        {Key, "its key", true},
        {HotKey, "the hot key", true},
        {Button, "its button", true},
        {Click, "a click in B", false},
        {TaskBar, "B's task-list button", false},
        {Switch, "the window manager's switch", false},
        // Typed into B, then back to ours and closed by its key: B had the keyboard last.
        {Back, "B, then back and its key", false},
    };
    const bool all = qEnvironmentVariableIntValue("PICTOLARIUM_E2E_ALL_WAYS") == 1;
    const auto inCi = [](const Window& w, Way way) {
        return (QByteArray(w.name) == "basket" && (way == Key || way == Click || way == TaskBar)) ||
               (QByteArray(w.name) == "toolbar" && way == Click) ||
               (way == Back && (QByteArray(w.name) == "editor" || QByteArray(w.name) == "shortcut"));
    };
    QStringList table;
    for (const Window& w : windows) {
        for (const auto& way : ways) {
            if (way.way == HotKey && QByteArray(w.name) != "basket")
                continue; // the hot key opens and closes the basket alone
            if (way.way == Button && w.button.isNull())
                continue;
            // The shortcut dialog records the combination pressed, Alt+Tab as any other.
            if (way.way == Switch && QByteArray(w.name) == "shortcut")
                continue;
            // The basket, the toolbar's window and the rename box close on a click elsewhere: nothing to come back to.
            if (way.way == Back && QByteArrayList{"basket", "toolbar", "rename"}.contains(w.name))
                continue;
            if (!all && !inCi(w, way.way))
                continue;
            SCOPED_TRACE(QStringLiteral("%1, %2").arg(QLatin1String(w.name), QLatin1String(way.name)).toStdString());
            desktop.xdotool({"windowactivate", "--sync", QString::number(a)});
            ASSERT_TRUE(Desktop::waitUntil([&] { return desktop.activeWindow() == a; }, 3000));
            QFile(logA).open(QIODevice::WriteOnly | QIODevice::Truncate);
            QFile(logB).open(QIODevice::WriteOnly | QIODevice::Truncate);
            w.open();
            const quint32 ours = desktop.waitVisible(QLatin1String(w.title), true, 5000);
            ASSERT_NE(ours, 0u) << desktop.appStderr().toStdString();
            if (!Desktop::waitUntil([&] { return desktop.activeWindow() == ours; }, 3000))
                desktop.screenshot(shot(QStringLiteral("not-active-%1").arg(QLatin1String(w.name))));
            ASSERT_EQ(desktop.activeWindow(), ours);
            // Where A should get the keys back, the window manager's own choice is another window.
            if (way.toA) {
                quiet.show(true);
                ASSERT_TRUE(Desktop::waitUntil([&] { return !desktop.windowsByName("^quiet$").isEmpty(); }, 3000));
                Desktop::pause(300);
                ASSERT_EQ(desktop.activeWindow(), ours) << "the quiet window took the keyboard";
            }
            const QRect frame = desktop.clientGeometry(ours);
            switch (way.way) {
            case Key:
                desktop.key(QLatin1String(w.close));
                break;
            case HotKey:
                desktop.key("super+shift+s");
                break;
            case Button:
                desktop.click(frame.bottomRight() - w.button);
                break;
            case Click:
                desktop.click(desktop.clientGeometry(b).center());
                break;
            case TaskBar:
                desktop.click(desktop.clientGeometry(taskList.window()).center());
                break;
            case Switch: // from ours, A comes first in the window manager's order, then B
                desktop.xdotool({"keydown", "alt", "key", "--delay", "150", "Tab", "Tab", "keyup", "alt"});
                break;
            case Back:
                desktop.click(desktop.clientGeometry(b).center());
                Desktop::waitUntil([&] { return desktop.activeWindow() == b; }, 3000);
                desktop.xdotool({"type", "--delay", "40", "echo"});
                Desktop::waitUntil([&] { return logged(logB).startsWith("echo"); }, 2000);
                QFile(logB).open(QIODevice::WriteOnly | QIODevice::Truncate);
                desktop.xdotool({"windowactivate", "--sync", QString::number(ours)});
                Desktop::waitUntil([&] { return desktop.activeWindow() == ours; }, 3000);
                Desktop::pause(300);
                desktop.key(QLatin1String(w.close));
                break;
            }
            desktop.waitVisible(QLatin1String(w.title), false, 3000);
            Desktop::pause(300);
            desktop.xdotool({"type", "--delay", "40", "ls"});
            desktop.key("Return");
            const auto got = [&](const QString& log) { return logged(log).startsWith("ls"); };
            Desktop::waitUntil([&] { return got(logA) || got(logB); }, 2000);
            const QString to = got(logA) ? "A" : got(logB) ? "B" : "neither";
            table.append(QStringLiteral("%1 | %2 | %3").arg(QLatin1String(w.name), QLatin1String(way.name), to));
            std::fprintf(stderr, "keys: %s (active %u)\n", qPrintable(table.last()), desktop.activeWindow());
            EXPECT_EQ(to.toStdString(), way.toA ? "A" : "B")
                << "A: " << logged(logA).toStdString() << " B: " << logged(logB).toStdString();
            quiet.show(false);
            // Whatever is still open is closed, for the next row.
            if (desktop.visibleWindow(QLatin1String(w.title))) {
                desktop.xdotool({"windowactivate", "--sync", QString::number(ours)});
                if (w.button.isNull())
                    desktop.key("alt+F4");
                else // a dialog that takes a key combination would take Alt+F4 for one
                    desktop.click(desktop.clientGeometry(ours).bottomRight() - w.button);
            }
            desktop.waitVisible(QLatin1String(w.title), false, 3000);
        }
    }
    std::fprintf(stderr, "%s\n", qPrintable(table.join(u'\n')));
}

// A picture that takes seconds to read: Annotate tapped on its card, then straight into terminal B to type a
// command. The editor comes once the picture is read, after the user has left: it takes no key, the whole
// line with its Return is the terminal's, and nothing is written.
TEST(Keys, AnEditorThatComesLateLeavesTheKeysWithTheProgramTheUserWentTo) {
    Desktop desktop;
    ASSERT_TRUE(desktop.ok()) << desktop.error().toStdString();
    ASSERT_TRUE(desktop.writeCardSettings({"crop", "resize", "rotate", "text", "pin", "translate", "redact", "cutout",
                                           "scroll", "rename", "compress", "share", "library"}));
    // Noise, which no compression shrinks, over some 70 million pixels: over a second to read on a fast machine.
    const QString picture = desktop.home() + QStringLiteral("/Large.png");
    {
        QImage large(9600, 7200, QImage::Format_RGB32);
        quint32 seed = 12345;
        for (int y = 0; y < large.height(); ++y) {
            auto* line = reinterpret_cast<quint32*>(large.scanLine(y));
            for (int x = 0; x < large.width(); ++x) {
                seed = seed * 1664525u + 1013904223u;
                line[x] = 0xff000000u | (seed >> 8);
            }
        }
        ASSERT_TRUE(large.save(picture, "PNG", 90));
    }
    desktop.startApp();
    ASSERT_TRUE(desktop.waitForApp()) << desktop.appStderr().toStdString();
    const QString logA = desktop.home() + QStringLiteral("/a.log"), logB = desktop.home() + QStringLiteral("/b.log");
    const quint32 a = desktop.keyLogTerminal(logA, {20, 40}, QStringLiteral("keylogA"));
    const quint32 b = desktop.keyLogTerminal(logB, {20, 420}, QStringLiteral("keylogB"));
    ASSERT_TRUE(a && b);
    const quint32 card = desktop.openCard(picture);
    ASSERT_NE(card, 0u) << desktop.appStderr().toStdString();
    const auto files = [&] {
        return QDir(desktop.home()).entryList(QDir::Files).size() +
               QDir(desktop.shotsFolder()).entryList(QDir::Files).size();
    };
    const qsizetype before = files();
    const QString editor = QStringLiteral("^Pictolarium Annotate$");
    // Into the terminal that has the keyboard, and into another one: either way the user went there.
    for (const quint32 to : {b, a}) {
        SCOPED_TRACE(to == a ? "A, which had the keyboard" : "B");
        desktop.xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), QString::number(a)});
        ASSERT_TRUE(Desktop::waitUntil([&] { return desktop.activeWindow() == a; }, 3000));
        QFile(logA).open(QIODevice::WriteOnly | QIODevice::Truncate);
        QFile(logB).open(QIODevice::WriteOnly | QIODevice::Truncate);
        const QString log = to == a ? logA : logB;
        desktop.click(desktop.pillButton(card, 1, false, 0));
        Desktop::pause(150);
        desktop.click(desktop.clientGeometry(to).center());
        ASSERT_EQ(desktop.visibleWindow(editor), 0u) << "the picture was read before the user left: nothing to show";
        // The editor may come while the line is typed: from then on the keys must still be the terminal's.
        desktop.xdotool(
            {QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("40"), QStringLiteral("ls -l")});
        const quint32 annotate = desktop.waitVisible(editor, true, 15000);
        ASSERT_NE(annotate, 0u) << desktop.appStderr().toStdString();
        Desktop::pause(700);
        desktop.screenshot(shot(QStringLiteral("late-editor")));
        EXPECT_EQ(desktop.activeWindow(), to) << "the editor took the keyboard";
        desktop.key("Return");
        EXPECT_TRUE(Desktop::waitUntil([&] { return logged(log).contains('\r') || logged(log).contains('\n'); }, 3000));
        EXPECT_EQ(logged(log).trimmed().toStdString(), "ls -l");
        Desktop::pause(1500);
        EXPECT_EQ(files(), before) << "a file was written";
        // The editor shows, for the user to come back to; its close button's key closes it for the next round.
        EXPECT_NE(desktop.visibleWindow(editor), 0u);
        desktop.xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), QString::number(annotate)});
        desktop.key("Escape");
        ASSERT_EQ(desktop.waitVisible(editor, false, 5000), 0u);
        Desktop::pause(500);
    }
}
