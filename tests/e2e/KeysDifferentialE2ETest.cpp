// Where the keyboard goes, judged against plain windows of another program. Each sequence of a user's moves (into
// a terminal by a click, its task-list button or Alt+Tab; one of our windows opened by its key or tool; away from
// it and back; closed by Escape, its button, Alt+F4 or the basket's key; a line typed) is played twice on the same
// desktop: once with our window, once with a plain terminal standing where ours stood and closing the same way.
// Every line typed must land in the same terminal both times. Sequences come from a seed, fixed here;
// PICTOLARIUM_KEYS_SEED=<n> (or "random") plays others, PICTOLARIUM_E2E_ALL_WAYS=1 plays many more of them, and
// PICTOLARIUM_KEYS_SHOTS=1 keeps a screenshot after each step.

#include "KeysStage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QImage>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <random>

namespace {

// The card's pill: annotate, crop, resize, rotate and rename, then share.
const QStringList hiddenTools{"text", "pin", "translate", "redact", "cutout", "scroll", "compress", "library"};
constexpr int pillTools = 5;

// Over the tour, its Change button's dialog; over annotate, its signature pad; the alert that a combination
// saved in the shortcut dialog is another program's, once that dialog has gone; the basket by its key over that
// alert, from where the user was or after a click into terminal B.
enum class Opens {
    BasketKey,
    Preview,
    Menu,
    Tool,
    Backdrop,
    TourChange,
    Signature,
    Refused,
    TourBasket,
    RefusedBasket,
    RefusedAwayBasket
};

struct Kind {
    const char* name;
    // The windows it opens, in order; the last is the one the sequence is about, the others close after it.
    QStringList titles;
    Opens opens;
    QStringList menuKeys = {};
    int tool = -1;
    // It goes when the user turns to another program.
    bool closesOnLeave = false;
    // Its close button, from its client area; none when null.
    std::function<QPoint(const QRect&)> button = {};
    // The basket's key closes it.
    bool hotKey = false;
    // It records key combinations, Alt+Tab and Alt+F4 among them.
    bool recorder = false;
    // The window of ours that comes back, with the keyboard, when it closes.
    const char* reopens = nullptr;
    // Played in the fixed rows alone.
    bool fixedOnly = false;
};

const QString basketTitle = QStringLiteral("^Pictolarium Basket$");
// A combination another program holds in the rows that need one.
const char* const heldElsewhere = "super+shift+y";

// An editor's close button ends the pill centred 10 below its top edge: 12 in from the pill's end, 30 wide.
std::function<QPoint(const QRect&)> closeAtTheTop(int pillWidth) {
    return [pillWidth](const QRect& r) { return QPoint(r.x() + (r.width() + pillWidth) / 2 - 27, r.top() + 28); };
}

const QList<Kind>& kinds() {
    static const QList<Kind> all{
        {"basket",
         {basketTitle},
         Opens::BasketKey,
         {},
         -1,
         true,
         [](const QRect& r) { return QPoint(r.right() - 31, r.top() + 40); },
         true},
        {"preview", {basketTitle, QStringLiteral("^Pictolarium Preview$")}, Opens::Preview, {}, -1, true, {}, true},
        {"shortcut dialog",
         {QStringLiteral("^Shortcut for")},
         Opens::Menu,
         QStringList(6, "Down") + QStringList{"Right", "Right", "Down"},
         -1,
         false,
         [](const QRect& r) { return r.bottomRight() - QPoint(278, 33); },
         false,
         true},
        // The window manager's own close button on the frame: top right, in openbox's theme and in icewm's.
        {"Customize Toolbar",
         {QStringLiteral("^Customize Toolbar$")},
         Opens::Menu,
         QStringList(6, "Up"),
         -1,
         true,
         [](const QRect& r) { return QPoint(r.right() - 11, r.top() - 10); }},
        {"tour",
         {QStringLiteral("^Pictolarium Tour$")},
         Opens::Menu,
         {"Up", "Up"},
         -1,
         false,
         [](const QRect& r) { return r.topLeft() + QPoint(551, 42); }},
        {"rename", {QStringLiteral("^Rename$")}, Opens::Tool, {}, 4, true},
        {"annotate",
         {QStringLiteral("^Pictolarium Annotate$")},
         Opens::Tool,
         {},
         0,
         false,
         [](const QRect& r) { return QPoint(r.right() - 40, r.top() + r.height() / 2 - 125); }},
        {"crop", {QStringLiteral("^Pictolarium Crop$")}, Opens::Tool, {}, 1, false, closeAtTheTop(276)},
        {"resize", {QStringLiteral("^Pictolarium Resize$")}, Opens::Tool, {}, 2, false, closeAtTheTop(256)},
        {"rotate", {QStringLiteral("^Pictolarium Rotate$")}, Opens::Tool, {}, 3, false, closeAtTheTop(220)},
        {"backdrop",
         {QStringLiteral("^Pictolarium Backdrop$")},
         Opens::Backdrop,
         {},
         -1,
         false,
         closeAtTheTop(224),
         false,
         false,
         "^Pictolarium Annotate$"},
        // A dialog over a dialog, closed top first, then the one below by Escape.
        {"change dialog over the tour",
         {QStringLiteral("^Pictolarium Tour$"), QStringLiteral("^Shortcut for")},
         Opens::TourChange,
         {"Up", "Up"},
         -1,
         false,
         [](const QRect& r) { return r.bottomRight() - QPoint(278, 33); },
         false,
         true,
         nullptr,
         true},
        // The basket's key pressed while the tour shows: the basket opens over it.
        {"basket over the tour",
         {QStringLiteral("^Pictolarium Tour$"), basketTitle},
         Opens::TourBasket,
         {"Up", "Up"},
         -1,
         false,
         [](const QRect& r) { return QPoint(r.right() - 31, r.top() + 40); },
         false,
         false,
         nullptr,
         true},
        {"alert after the shortcut dialog",
         {QStringLiteral("^Couldn't register")},
         Opens::Refused,
         QStringList(6, "Down") + QStringList{"Right", "Right", "Down"},
         -1,
         false,
         [](const QRect& r) { return r.bottomRight() - QPoint(65, 33); },
         false,
         false,
         nullptr,
         true},
        {"signature pad over annotate",
         {QStringLiteral("^Pictolarium Annotate$"), QStringLiteral("^Create signature$")},
         Opens::Signature,
         {},
         0,
         false,
         [](const QRect& r) { return r.topLeft() + QPoint(315, 220); },
         false,
         false,
         nullptr,
         true},
        {"basket over the alert, from B",
         {QStringLiteral("^Couldn't register"), basketTitle},
         Opens::RefusedAwayBasket,
         QStringList(6, "Down") + QStringList{"Right", "Right", "Down"},
         -1,
         false,
         {},
         true,
         false,
         nullptr,
         true},
        {"basket over the alert",
         {QStringLiteral("^Couldn't register"), basketTitle},
         Opens::RefusedBasket,
         QStringList(6, "Down") + QStringList{"Right", "Right", "Down"},
         -1,
         false,
         {},
         true,
         false,
         nullptr,
         true},
    };
    return all;
}

const Kind& kind(const char* name) {
    for (const Kind& k : kinds())
        if (QByteArray(k.name) == name)
            return k;
    std::abort();
}

struct Step {
    enum Act {
        Click,
        Task,
        AltTab,
        Type,
        Open,
        BackClick,
        BackTask,
        BackAltTab,
        Escape,
        Button,
        AltF4,
        HotKey,
        Rest,
        // The window manager's own ways away: the window in front minimised, the second desktop and the first.
        Minimize,
        OtherDesktop,
        HomeDesktop
    };
    Act act;
    int terminal = 0;

    bool leaves() const {
        return act == Click || act == Task || act == AltTab || act == Minimize || act == OtherDesktop ||
               act == HomeDesktop;
    }
    QString text() const {
        const QChar t(u'A' + terminal);
        switch (act) {
        case Click:
            return QStringLiteral("click %1").arg(t);
        case Task:
            return QStringLiteral("%1's task button").arg(t);
        case AltTab:
            return QStringLiteral("Alt+Tab");
        case Type:
            return QStringLiteral("type");
        case Open:
            return QStringLiteral("OPEN");
        case BackClick:
            return QStringLiteral("back by a click");
        case BackTask:
            return QStringLiteral("back by its task button");
        case BackAltTab:
            return QStringLiteral("back by Alt+Tab");
        case Escape:
            return QStringLiteral("Escape");
        case Button:
            return QStringLiteral("its close button");
        case AltF4:
            return QStringLiteral("Alt+F4");
        case HotKey:
            return QStringLiteral("the basket's key");
        case Rest:
            return QStringLiteral("Escape for the rest");
        case Minimize:
            return QStringLiteral("minimised");
        case OtherDesktop:
            return QStringLiteral("to desktop 2");
        case HomeDesktop:
            return QStringLiteral("back to desktop 1");
        }
        return {};
    }
};

using Steps = QList<Step>;

QString describe(const Steps& steps) {
    QStringList parts;
    for (const Step& s : steps)
        parts.append(s.text());
    return parts.join(QStringLiteral(", "));
}

// A user's moves around one window of ours, starting in terminal A. Ways that need a window manager are left out
// without one; typing comes only after the user turned to a terminal, so the plays differ only where the keyboard
// went, not in what our window makes of keys typed into it on purpose.
Steps generate(std::mt19937& rng, const Kind& k, bool manager) {
    const auto pick = [&](int n) { return int(rng() % unsigned(n)); };
    const auto leave = [&](int& at, bool fromOurs) {
        QList<Step::Act> ways{Step::Click};
        if (manager) {
            ways.append(Step::Task);
            if (!(fromOurs && k.recorder))
                ways.append(Step::AltTab);
        }
        const Step::Act way = ways[pick(int(ways.size()))];
        const int to = way == Step::AltTab ? -1 : (at + 1 + pick(2)) % 3;
        at = to;
        return Step{way, std::max(0, to)};
    };
    Steps steps;
    int at = 0;
    for (int i = pick(3); i > 0; --i) {
        steps.append(leave(at, false));
        steps.append(Step{Step::Type});
    }
    steps.append(Step{Step::Open});
    bool open = true, ours = true;
    for (int round = pick(3); round > 0 && open; --round) {
        steps.append(leave(at, ours));
        ours = false;
        open = !k.closesOnLeave;
        steps.append(Step{Step::Type});
        if (open && pick(4) != 0) {
            QList<Step::Act> back{Step::BackClick};
            if (manager)
                back << Step::BackTask << Step::BackAltTab;
            steps.append(Step{back[pick(int(back.size()))]});
            ours = true;
        }
    }
    if (open) {
        QList<Step::Act> close;
        if (ours) {
            close.append(Step::Escape);
            if (manager && !k.recorder)
                close.append(Step::AltF4);
        }
        if (k.button)
            close.append(Step::Button);
        if (k.hotKey)
            close.append(Step::HotKey);
        if (close.isEmpty()) {
            steps.append(Step{Step::BackClick});
            close.append(Step::Escape);
        }
        const Step::Act way = close[pick(int(close.size()))];
        steps.append(Step{way});
        if ((k.titles.size() > 1 || k.reopens) && way != Step::HotKey)
            steps.append(Step{Step::Rest});
    }
    steps.append(Step{Step::Type});
    return steps;
}

// What the play with our window found, for the play with the stand-ins: where ours stood, where the pointer was
// left once they showed, and which steps could be taken at all.
struct Scene {
    QList<QRect> rects;
    QList<QStringList> properties;
    // The window of the chain each is transient for; -1 for none, -2 for the root window.
    QList<int> transient;
    // The window that came back as ours closed, by the step that closed it, where one did.
    QHash<qsizetype, QRect> reopened;
    QStringList reopenedProperties;
    QPoint pointer;
    QList<bool> taken;
    // The steps that closed ours by what was typed into it (Return on a dialog or an editor).
    QList<qsizetype> closedByTyping;
};

struct Outcome {
    // Per typed line, the terminal it landed in: "A", "B", "C", or "-" (the window in ours' place, or nowhere).
    QStringList lines;
    QStringList notes;
    bool opened = false;
    // The window the sequence is about still shows after the last step.
    bool left = false;
};

class Player {
public:
    explicit Player(KeysStage& s) : stage(s), desktop(s.desktop) {
        template_ = desktop.home() + QStringLiteral("/template.png");
        Desktop::writeSecretsPicture(template_);
        QDir().mkpath(desktop.shotsFolder());
        for (const char* name : {"One.png", "Two.png"}) {
            QImage image(320, 200, QImage::Format_RGB32);
            image.fill(QColor(60, 60, 200));
            image.save(desktop.shotsFolder() + u'/' + QLatin1String(name));
        }
    }

    Outcome play(const Kind& k, const Steps& steps, bool ours, Scene& scene) {
        Outcome out;
        if (ours)
            scene = Scene{};
        reset();
        QList<QProcess*> standIns;
        QList<quint32> windows;
        int typed = 0;
        // Minimised, it shows nowhere but in the task list.
        bool minimised = false;
        // The window in front: the one the sequence is about, then the one that came back when it closed.
        QString current = k.titles.last();
        const auto shows = [&] {
            if (ours)
                return desktop.visibleWindow(current) != 0;
            return !standIns.isEmpty() && standIns.last()->state() != QProcess::NotRunning;
        };
        const auto hasKeyboard = [&] {
            const quint32 f = stage.focused();
            return f && windows.contains(f);
        };
        const auto endStandIns = [&] {
            for (QProcess* p : standIns)
                if (p->state() != QProcess::NotRunning) {
                    p->terminate();
                    p->waitForFinished(2000);
                }
        };
        for (qsizetype i = 0; i < steps.size(); ++i) {
            const Step& step = steps[i];
            bool taken = true;
            switch (step.act) {
            case Step::Click:
                desktop.click(stage.terminalCentre(step.terminal));
                break;
            case Step::Task: {
                const QList<QPoint> buttons = stage.taskButtons();
                taken = buttons.size() > step.terminal;
                if (taken)
                    desktop.click(buttons[step.terminal]);
                break;
            }
            case Step::AltTab:
            case Step::BackAltTab:
                // Alt held a while around the Tab, as a hand does: a switcher that shows a list acts on the release.
                desktop.xdotool({"keydown", "alt", "sleep", "0.15", "key", "Tab", "sleep", "0.3", "keyup", "alt"});
                break;
            case Step::Type: {
                // Where what is typed closes ours, it closes the stand-in that gets it as well.
                const bool showing = shows(), receiving = !ours && hasKeyboard();
                const QString token = QStringLiteral("k%1").arg(typed++);
                desktop.xdotool({"type", "--delay", "40", token});
                desktop.key("Return");
                Desktop::pause(300);
                const bool closedOurs = ours && showing && !shows();
                if (closedOurs)
                    scene.closedByTyping.append(i);
                const bool closedPlain = receiving && scene.closedByTyping.contains(i) && !standIns.isEmpty();
                if (closedPlain)
                    standIns.last()->terminate();
                // Committed by Return, the window brings back the one it came from, as its close would.
                if ((closedOurs || closedPlain) && k.reopens && current != QLatin1String(k.reopens) &&
                    reopen(k, ours, i, scene, windows, standIns))
                    current = QLatin1String(k.reopens);
                break;
            }
            case Step::Open:
                out.opened = ours ? openOurs(k, scene, windows) : openStandIns(k, scene, windows, standIns);
                if (!out.opened) {
                    out.notes.append(QStringLiteral("did not open"));
                    cleanUp(k, standIns);
                    return out;
                }
                break;
            case Step::BackClick: {
                taken = shows();
                if (taken) {
                    const QRect r = scene.rects.last();
                    desktop.click(k.opens == Opens::BasketKey ? QPoint(r.center().x(), r.top() + 8) : r.center());
                }
                break;
            }
            case Step::BackTask: {
                // Our window has a button when the list holds one more than the terminals; the stand-in only
                // where ours had one, since no user could have taken this way otherwise.
                const QList<QPoint> buttons = stage.taskButtons();
                taken = (shows() || minimised) && buttons.size() > 3 && (ours || scene.taken.value(i));
                if (taken)
                    desktop.click(buttons.last());
                minimised = minimised && !taken;
                break;
            }
            case Step::Escape:
                desktop.key("Escape");
                break;
            case Step::Rest:
                desktop.key("Escape");
                // The basket keeps the tiles selected for the preview: its first Escape clears them, the second
                // hides it. Pressed in both plays; the stand-in, gone at the first, leaves the second to whoever
                // has the keyboard then.
                if (k.opens == Opens::Preview) {
                    Desktop::pause(300);
                    desktop.key("Escape");
                }
                break;
            case Step::Button: {
                // Where the button shows: a stand-in the window manager placed by its frame sits a title bar lower.
                const qsizetype top = scene.rects.size() - 1;
                desktop.click(k.button(ours || windows.size() <= top ? scene.rects.last()
                                                                     : desktop.clientGeometry(windows[top])));
                break;
            }
            case Step::AltF4:
                // Never into a terminal: the user pressed it on our window, which should have the keyboard.
                taken = hasKeyboard();
                if (taken)
                    desktop.key("alt+F4");
                break;
            case Step::Minimize:
                taken = shows() && !windows.isEmpty();
                if (taken)
                    desktop.xdotool({"windowminimize", QString::number(windows.last())});
                minimised = taken;
                break;
            case Step::OtherDesktop:
            case Step::HomeDesktop:
                desktop.xdotool({"set_desktop", step.act == Step::OtherDesktop ? "1" : "0"});
                break;
            case Step::HotKey:
                if (ours)
                    desktop.key("super+shift+s");
                else if (k.opens == Opens::RefusedBasket || k.opens == Opens::RefusedAwayBasket)
                    standIns.last()->terminate(); // the basket alone: the alert waits for its answer
                else // the program closes its windows by a key of its own, wherever the keyboard is
                    endStandIns();
                break;
            }
            const bool closing = step.act == Step::Escape || step.act == Step::Button || step.act == Step::AltF4;
            if (closing && k.reopens && taken && current != QLatin1String(k.reopens) &&
                reopen(k, ours, i, scene, windows, standIns))
                current = QLatin1String(k.reopens);
            if (ours)
                scene.taken.append(taken);
            if (!taken)
                out.notes.append(QStringLiteral("%1 not taken").arg(step.text()));
            Desktop::pause(step.act == Step::Type ? 300 : 400);
            if (qEnvironmentVariableIsSet("PICTOLARIUM_KEYS_SHOTS"))
                desktop.screenshot(
                    Desktop::shotsDir() +
                    QStringLiteral("/keysdiff-%1-%2-%3.png").arg(++shots).arg(ours ? "ours" : "plain").arg(i));
            // A window that goes when the user turns to another program goes whether or not the keyboard went
            // along (with no window manager it stays where it was): the stand-ins go as the program closes them.
            // Alt+Tab turns to another program only where it took the keyboard out of the program's windows (a
            // switcher that stops at every window goes from the preview to the basket first).
            if (!ours && step.leaves() && k.closesOnLeave && (step.act != Step::AltTab || !hasKeyboard()))
                endStandIns();
        }
        const QString last = QStringLiteral("k%1").arg(typed - 1);
        Desktop::waitUntil(
            [&] {
                for (const QString& log : stage.logs)
                    if (logged(log).contains(last.toLatin1()))
                        return true;
                return false;
            },
            1500);
        for (int t = 0; t < typed; ++t) {
            const QByteArray token = QStringLiteral("k%1").arg(t).toLatin1();
            QString where = QStringLiteral("-");
            for (int i = 0; i < 3; ++i)
                if (logged(stage.logs[i]).contains(token))
                    where = QChar(u'A' + i);
            out.lines.append(where);
        }
        out.left = shows();
        if (out.left)
            out.notes.append(QStringLiteral("still open at the end"));
        // Minimised, ours shows nowhere for the clean-up to find it: back on the screen first.
        if (ours && minimised && !windows.isEmpty())
            desktop.xdotool({"windowactivate", "--sync", QString::number(windows.last())});
        cleanUp(k, standIns);
        return out;
    }

private:
    // Terminal A has the keyboard, B had it before, and C before that.
    void reset() {
        if (stage.hasManager()) {
            desktop.xdotool({"set_desktop", "0"});
            for (int i : {2, 1, 0})
                desktop.xdotool({"windowactivate", "--sync", QString::number(stage.terminals[i])});
        } else {
            stage.setFocus(0);
        }
        desktop.click(stage.terminalCentre(0));
        Desktop::pause(500);
        stage.clearLogs();
    }

    bool openOurs(const Kind& k, Scene& scene, QList<quint32>& windows) {
        const auto menu = [&] {
            desktop.click(stage.trayIcon());
            Desktop::pause(500);
            desktop.xdotool(QStringList{"key", "--delay", "80"} + k.menuKeys + QStringList{"Return"});
        };
        const auto basket = [&] {
            // The first press may come before the program holds its keys.
            for (int i = 0; i < 3 && !desktop.visibleWindow(basketTitle); ++i) {
                desktop.key("super+shift+s");
                desktop.waitVisible(basketTitle, true, 2000);
            }
            return desktop.visibleWindow(basketTitle) != 0;
        };
        switch (k.opens) {
        case Opens::BasketKey:
            basket();
            break;
        case Opens::Preview:
            if (basket()) {
                Desktop::pause(300);
                desktop.key("ctrl+a");
                Desktop::pause(300);
                desktop.key("space");
            }
            break;
        case Opens::Menu:
            menu();
            break;
        case Opens::Refused:
        case Opens::RefusedBasket:
        case Opens::RefusedAwayBasket:
            menu();
            if (!desktop.waitVisible(QStringLiteral("^Shortcut for"), true, 8000))
                return false;
            // Held by another program (see heldElsewhere): Save is refused once the dialog has gone.
            Desktop::pause(500);
            desktop.key(heldElsewhere);
            Desktop::pause(300);
            desktop.key("Return");
            if (k.opens == Opens::RefusedBasket || k.opens == Opens::RefusedAwayBasket) {
                if (!desktop.waitVisible(k.titles.first(), true, 8000))
                    return false;
                Desktop::pause(600);
                if (k.opens == Opens::RefusedAwayBasket) {
                    desktop.click(stage.terminalCentre(1));
                    Desktop::pause(500);
                }
                basket();
            }
            break;
        case Opens::TourBasket:
            menu();
            if (!desktop.waitVisible(k.titles.first(), true, 8000))
                return false;
            Desktop::pause(600);
            basket();
            break;
        case Opens::TourChange: {
            menu();
            const quint32 tour = desktop.waitVisible(k.titles.first(), true, 8000);
            if (!tour)
                return false;
            // The page of the capture key, its Change button beside the key caps.
            Desktop::pause(600);
            desktop.key("Right");
            Desktop::pause(900);
            desktop.click(desktop.clientGeometry(tour).topLeft() + QPoint(274, 427));
            break;
        }
        case Opens::Tool:
        case Opens::Backdrop:
        case Opens::Signature: {
            const QString copy = desktop.home() + QStringLiteral("/Shot %1.png").arg(++cards);
            QFile::copy(template_, copy);
            const quint32 card = desktop.openCard(copy, desktop.visibleWindow(QStringLiteral("^Pictolarium Card$")));
            if (!card)
                return false;
            desktop.click(desktop.pillButton(card, pillTools, true, k.opens == Opens::Tool ? k.tool : 0));
            if (k.opens == Opens::Backdrop) {
                const quint32 annotate = desktop.waitVisible(QStringLiteral("^Pictolarium Annotate$"), true, 8000);
                if (!annotate)
                    return false;
                Desktop::pause(300);
                const QRect w = desktop.clientGeometry(annotate);
                desktop.click(QPoint(w.x() + w.width() - 40, w.y() + w.height() / 2 - 91 + 30 * 4));
            }
            if (k.opens == Opens::Signature) {
                const quint32 annotate = desktop.waitVisible(k.titles.first(), true, 8000);
                if (!annotate)
                    return false;
                Desktop::pause(300);
                const QRect w = desktop.clientGeometry(annotate);
                desktop.click(QPoint(w.x() + w.width() - 40, w.y() + w.height() / 2 - 91 + 30 * 3));
                Desktop::pause(500);
                desktop.key("Down");
                desktop.key("Return");
            }
            break;
        }
        }
        if (!desktop.waitVisible(k.titles.last(), true, 8000))
            return false;
        scene.rects.clear();
        scene.properties.clear();
        scene.transient.clear();
        for (const QString& title : k.titles) {
            const quint32 id = desktop.visibleWindow(title);
            windows.append(id);
            scene.rects.append(desktop.clientGeometry(id));
            quint32 parent = 0;
            scene.properties.append(stage.properties(id, &parent));
            scene.transient.append(parent == stage.rootWindow() ? -2 : parent ? int(windows.indexOf(parent)) : -1);
        }
        if (stage.hasManager())
            Desktop::waitUntil([&] { return desktop.activeWindow() == windows.last(); }, 3000);
        Desktop::pause(300);
        scene.pointer = pointer();
        return true;
    }

    bool openStandIns(const Kind& k, const Scene& scene, QList<quint32>& windows, QList<QProcess*>& standIns) {
        for (qsizetype i = 0; i < scene.rects.size(); ++i) {
            const QRect& rect = scene.rects[i];
            QRect button;
            if (i == scene.rects.size() - 1 && k.button)
                button = QRect(k.button(rect) - rect.topLeft() - QPoint(8, 8), QSize(17, 17));
            QStringList properties = scene.properties[i];
            const int parent = scene.transient[i];
            if (parent == -2 || (parent >= 0 && parent < windows.size()))
                properties.append(stage.transientSpec(parent == -2 ? stage.rootWindow() : windows[parent]));
            if (i == 1 && k.opens == Opens::RefusedAwayBasket) {
                desktop.click(stage.terminalCentre(1));
                Desktop::pause(500);
            }
            QProcess* process = nullptr;
            const quint32 id = stage.openStandIn(rect, button, properties, &process);
            if (process)
                standIns.append(process);
            if (!id)
                return false;
            windows.append(id);
        }
        desktop.moveTo(scene.pointer);
        return true;
    }

    // Ours closed and another of ours came back in its place: the stand-in's program does the same.
    // Whether one came back.
    bool reopen(const Kind& k, bool ours, qsizetype step, Scene& scene, QList<quint32>& windows,
                QList<QProcess*>& standIns) {
        if (ours) {
            const quint32 id = desktop.waitVisible(QLatin1String(k.reopens), true, 3000);
            if (id) {
                // Shown is not yet holding the keyboard, and under load the next key can come in between: it goes
                // on once the window has it, as the stand-in's play does.
                Desktop::waitUntil(
                    [&] { return stage.hasManager() ? desktop.activeWindow() == id : stage.focused() == id; }, 3000);
                scene.reopened.insert(step, desktop.clientGeometry(id));
                scene.reopenedProperties = stage.properties(id, nullptr);
                windows.append(id);
            }
            return id != 0;
        }
        if (!scene.reopened.contains(step) ||
            !Desktop::waitUntil([&] { return standIns.last()->state() == QProcess::NotRunning; }, 2000))
            return false;
        QProcess* process = nullptr;
        const quint32 id = stage.openStandIn(scene.reopened.value(step), {}, scene.reopenedProperties, &process);
        if (id)
            windows.append(id);
        if (process)
            standIns.append(process);
        return id != 0;
    }

    QPoint pointer() {
        const QString out = desktop.run("xdotool", {"getmouselocation"});
        static const QRegularExpression at(QStringLiteral("x:(\\d+) y:(\\d+)"));
        const auto m = at.match(out);
        return QPoint(m.captured(1).toInt(), m.captured(2).toInt());
    }

    // Whatever is still open goes: the stand-ins, our windows by Escape (or a fresh start of the program when
    // that does not close them), and the card, by Escape with the pointer on it.
    void cleanUp(const Kind& k, const QList<QProcess*>& standIns) {
        for (QProcess* p : standIns)
            if (p->state() != QProcess::NotRunning) {
                p->terminate();
                p->waitForFinished(2000);
            }
        bool left = false;
        for (const Kind& k : kinds())
            for (const QString& title : k.titles)
                for (int attempt = 0; attempt < 2; ++attempt) {
                    const quint32 id = desktop.visibleWindow(title);
                    if (!id)
                        break;
                    if (stage.hasManager())
                        desktop.xdotool({"windowactivate", "--sync", QString::number(id)});
                    else
                        stage.setFocus(id);
                    Desktop::pause(200);
                    desktop.key("Escape");
                    desktop.waitVisible(title, false, 1500);
                    left = left || (attempt == 1 && desktop.visibleWindow(title));
                }
        // The tiles selected for the preview stay selected in the hidden basket, and its next first Escape would
        // only clear them: cleared now, so that every row's basket opens as it did in the first.
        if (k.opens == Opens::Preview && !left && desktop.app()->state() == QProcess::Running) {
            desktop.key("super+shift+s");
            if (const quint32 id = desktop.waitVisible(basketTitle, true, 3000)) {
                for (int i = 0; i < 3 && desktop.visibleWindow(basketTitle); ++i) {
                    if (stage.hasManager())
                        desktop.xdotool({"windowactivate", "--sync", QString::number(id)});
                    else
                        stage.setFocus(id);
                    Desktop::pause(200);
                    desktop.key("Escape");
                    desktop.waitVisible(basketTitle, false, 800);
                }
                left = desktop.visibleWindow(basketTitle) != 0;
            }
        }
        if (left || desktop.app()->state() == QProcess::NotRunning)
            stage.restartApp();
        if (stage.hasManager())
            desktop.xdotool({"set_desktop", "0"});
        if (const quint32 card = desktop.visibleWindow(QStringLiteral("^Pictolarium Card$"))) {
            desktop.moveTo(desktop.clientGeometry(card).center());
            Desktop::pause(300);
            desktop.key("Escape");
            desktop.waitVisible(QStringLiteral("^Pictolarium Card$"), false, 2000);
        }
        if (!stage.hasManager())
            stage.setFocus(0);
    }

    KeysStage& stage;
    Desktop& desktop;
    QString template_;
    int cards = 0;
    int shots = 0;
};

// A row: the sequence, what each play found, and whether they agree.
struct Row {
    QString text;
    bool pass;
};

Row compare(Player& player, const Kind& k, const Steps& steps) {
    Scene scene;
    const Outcome ours = player.play(k, steps, true, scene);
    const Outcome plain = ours.opened ? player.play(k, steps, false, scene) : Outcome{};
    const bool pass = ours.opened && plain.opened && ours.lines == plain.lines && ours.left == plain.left;
    QString text = QStringLiteral("%1 | %2 | ours %3 | plain %4 | %5")
                       .arg(QLatin1String(k.name), describe(steps), ours.lines.join(u','), plain.lines.join(u','),
                            pass ? QStringLiteral("pass") : QStringLiteral("FAIL"));
    if (!ours.notes.isEmpty())
        text += QStringLiteral(" (ours: %1)").arg(ours.notes.join(QStringLiteral("; ")));
    if (!plain.notes.isEmpty())
        text += QStringLiteral(" (plain: %1)").arg(plain.notes.join(QStringLiteral("; ")));
    return {text, pass};
}

quint32 seedFor(Manager manager) {
    const QByteArray given = qgetenv("PICTOLARIUM_KEYS_SEED");
    if (given == "random")
        return QRandomGenerator::global()->generate() % 1000000;
    if (!given.isEmpty())
        return given.toUInt();
    return 6200 + quint32(manager);
}

// The first `inCi` sequences in CI, `all` with PICTOLARIUM_E2E_ALL_WAYS=1; `alsoInCi`, by their numbers, in CI too.
void playGenerated(Manager manager, int inCi, int all, const QList<int>& alsoInCi = {}) {
    KeysStage stage(manager, hiddenTools);
    ASSERT_TRUE(stage.start()) << stage.error.toStdString();
    Player player(stage);
    const quint32 seed = seedFor(manager);
    const int count = qEnvironmentVariableIntValue("PICTOLARIUM_E2E_ALL_WAYS") == 1 ? all : inCi;
    // The panel menu's windows need the tray, which needs a window manager.
    QList<Kind> reachable;
    for (const Kind& k : kinds())
        if ((stage.hasManager() || k.opens != Opens::Menu) && !k.fixedOnly)
            reachable.append(k);
    QStringList table;
    // One sequence alone, to look at again: PICTOLARIUM_KEYS_ONLY=<its number>.
    const QByteArray only = qgetenv("PICTOLARIUM_KEYS_ONLY");
    QList<int> played;
    for (int i = 0; i < std::max(all, only.toInt() + 1); ++i)
        if (only.isEmpty() ? i < count || alsoInCi.contains(i) : only.toInt() == i)
            played.append(i);
    for (const int i : played) {
        std::mt19937 rng(seed * 1000 + quint32(i));
        const Kind& k = reachable[int((quint32(i) + seed) % quint32(reachable.size()))];
        const Steps steps = generate(rng, k, stage.hasManager());
        const Row row = compare(player, k, steps);
        table.append(QStringLiteral("%1 #%2 | %3").arg(seed).arg(i).arg(row.text));
        std::fprintf(stderr, "keys: %s | %s\n", managerName(manager), qPrintable(table.last()));
        EXPECT_TRUE(row.pass) << "seed " << seed << ", sequence " << i << " (PICTOLARIUM_KEYS_SEED=" << seed
                              << " PICTOLARIUM_KEYS_ONLY=" << i << ")"
                              << " under " << managerName(manager) << ":\n"
                              << row.text.toStdString();
    }
    std::fprintf(stderr, "%s, seed %u:\n%s\n", managerName(manager), seed, qPrintable(table.join(u'\n')));
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
    Player player(stage);
    const auto from = [](std::initializer_list<Step::Act> acts) {
        Steps steps;
        for (Step::Act a : acts)
            steps.append(Step{a, 1});
        return steps;
    };
    using S = Step;
    const struct {
        const char* kind;
        Steps steps;
    } rows[] = {
        {"rotate", from({S::Open, S::Click, S::Type, S::BackClick, S::Escape, S::Type})},
        {"shortcut dialog", from({S::Open, S::Click, S::Type, S::BackAltTab, S::Button, S::Type})},
        {"tour", from({S::Open, S::Task, S::Type, S::BackClick, S::Button, S::Type})},
        {"annotate", from({S::Open, S::Click, S::Type, S::BackClick, S::Button, S::Type})},
        {"crop", from({S::Open, S::Click, S::Type, S::BackTask, S::Button, S::Type})},
        {"resize", from({S::Open, S::Click, S::Type, S::Button, S::Type})},
        {"rotate", from({S::Open, S::Task, S::Type, S::BackAltTab, S::Button, S::Type})},
        {"backdrop", from({S::Open, S::Click, S::Type, S::BackClick, S::Button, S::Rest, S::Type})},
        {"Customize Toolbar", from({S::Open, S::Button, S::Type})},
        {"Customize Toolbar", from({S::Open, S::AltTab, S::Type, S::Type})},
    };
    for (const auto& r : rows) {
        const Row row = compare(player, kind(r.kind), r.steps);
        std::fprintf(stderr, "keys: %s\n", qPrintable(row.text));
        EXPECT_TRUE(row.pass) << row.text.toStdString();
    }
}

// A dialog over a dialog of ours: the top one closed, then the one below it. The keyboard goes back down the
// chain and then to the program the user had last, alike where the window manager hands it back by itself and
// where the pointer alone decides.
TEST(KeysDifferential, ADialogOverADialog) {
    const auto from = [](std::initializer_list<Step::Act> acts) {
        Steps steps;
        for (Step::Act a : acts)
            steps.append(Step{a, 1});
        return steps;
    };
    using S = Step;
    const struct {
        const char* kind;
        Steps steps;
    } rows[] = {
        {"change dialog over the tour", from({S::Open, S::Escape, S::Rest, S::Type})},
        {"change dialog over the tour", from({S::Open, S::Click, S::Type, S::BackClick, S::Button, S::Rest, S::Type})},
        {"signature pad over annotate", from({S::Open, S::Button, S::Rest, S::Type})},
        {"basket over the tour", from({S::Open, S::Escape, S::Rest, S::Type})},
        {"basket over the tour", from({S::Open, S::Button, S::Rest, S::Type})},
        {"signature pad over annotate", from({S::Open, S::Click, S::Type, S::BackClick, S::Escape, S::Rest, S::Type})},
        // Last: the refused combination stays saved for the action.
        {"alert after the shortcut dialog", from({S::Open, S::Escape, S::Type})},
        // The alert waits for its answer while the basket shows over it: the basket still closes, and the
        // keyboard goes back to the alert, or to B where the user went before opening the basket, however the
        // basket closes.
        {"basket over the alert", from({S::Open, S::Escape, S::Type})},
        {"basket over the alert, from B", from({S::Open, S::HotKey, S::Type})},
        {"basket over the alert, from B", from({S::Open, S::Escape, S::Type})},
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
        Player player(stage);
        for (const auto& r : rows) {
            const Row row = compare(player, kind(r.kind), r.steps);
            std::fprintf(stderr, "keys: %s | %s\n", managerName(manager), qPrintable(row.text));
            EXPECT_TRUE(row.pass) << managerName(manager) << ": " << row.text.toStdString();
        }
        holder.terminate();
        holder.waitForFinished(2000);
    }
}

// Ways away that are the window manager's alone: the window minimised and brought back by its task button, the
// second desktop and back, a window of ours opened on the second desktop. A window of ours that closes there hands
// the keyboard to nothing left on the first desktop, as a plain one does: asked to activate it, icewm took the user
// back there. Under jwm, the card showing as its editor is minimised is passed by, not offered the keyboard it would
// keep from everyone. PICTOLARIUM_KEYS_MANAGER=<its name> plays them under one alone.
TEST(KeysDifferential, LeftByTheWindowManager) {
    const auto from = [](std::initializer_list<Step::Act> acts) {
        Steps steps;
        for (Step::Act a : acts)
            steps.append(Step{a, 1});
        return steps;
    };
    using S = Step;
    const struct {
        const char* kind;
        Steps steps;
    } rows[] = {
        {"rotate", from({S::Open, S::OtherDesktop, S::Type, S::HomeDesktop, S::Escape, S::Type})},
        {"shortcut dialog", from({S::Open, S::OtherDesktop, S::Type, S::HomeDesktop, S::Button, S::Type})},
        {"crop", from({S::Open, S::Click, S::Type, S::OtherDesktop, S::HomeDesktop, S::BackClick, S::Escape, S::Type})},
        {"annotate", from({S::Open, S::Minimize, S::Type, S::BackTask, S::Escape, S::Type})},
        {"rotate",
         from({S::Open, S::Click, S::Type, S::BackClick, S::Minimize, S::Type, S::BackTask, S::AltF4, S::Type})},
        {"rename", from({S::Open, S::OtherDesktop, S::Type, S::HomeDesktop, S::Type})},
        {"resize", from({S::OtherDesktop, S::Open, S::Escape, S::Type, S::HomeDesktop, S::Type})},
        {"shortcut dialog", from({S::OtherDesktop, S::Open, S::Button, S::Type, S::HomeDesktop, S::Type})},
    };
    // In CI, openbox plays every row, icewm those that close a window on the second desktop, jwm those that
    // minimise; PICTOLARIUM_E2E_ALL_WAYS=1 plays every row under each.
    const bool allWays = qEnvironmentVariableIntValue("PICTOLARIUM_E2E_ALL_WAYS") == 1;
    const struct {
        Manager manager;
        QList<int> inCi;
    } managers[] = {{Manager::Openbox, {0, 1, 2, 3, 4, 5, 6, 7}}, {Manager::IceWm, {0, 6, 7}}, {Manager::Jwm, {3, 4}}};
    const QByteArray only = qgetenv("PICTOLARIUM_KEYS_MANAGER");
    for (const auto& [manager, inCi] : managers) {
        if (!only.isEmpty() && only != managerName(manager))
            continue;
        KeysStage stage(manager, hiddenTools);
        ASSERT_TRUE(stage.start()) << stage.error.toStdString();
        Player player(stage);
        for (int i = 0; i < int(std::size(rows)); ++i) {
            if (!allWays && !inCi.contains(i))
                continue;
            const auto& r = rows[i];
            const Row row = compare(player, kind(r.kind), r.steps);
            std::fprintf(stderr, "keys: %s | %s\n", managerName(manager), qPrintable(row.text));
            EXPECT_TRUE(row.pass) << managerName(manager) << ": " << row.text.toStdString();
        }
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
