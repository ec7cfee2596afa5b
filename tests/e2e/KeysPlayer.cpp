#include "KeysPlayer.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <cstdio>

QString Step::text() const {
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

QString describe(const Steps& steps) {
    QStringList parts;
    for (const Step& s : steps)
        parts.append(s.text());
    return parts.join(QStringLiteral(", "));
}

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

Steps stepsTo(int terminal, std::initializer_list<Step::Act> acts) {
    Steps steps;
    for (const Step::Act a : acts)
        steps.append(Step{a, terminal});
    return steps;
}

Player::Player(KeysStage& s, const QList<Kind>& kinds) : stage(s), desktop(s.desktop) {
    for (const Kind& k : kinds)
        titles += k.titles;
    template_ = desktop.home() + QStringLiteral("/template.png");
    Desktop::writeSecretsPicture(template_);
    QDir().mkpath(desktop.shotsFolder());
    for (const char* name : {"One.png", "Two.png"}) {
        QImage image(320, 200, QImage::Format_RGB32);
        image.fill(QColor(60, 60, 200));
        image.save(desktop.shotsFolder() + u'/' + QLatin1String(name));
    }
}

Outcome Player::play(const Kind& k, const Steps& steps, bool ours, Scene& scene) {
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
        bool taken = true, landed = false;
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
            // A terminal tells when the line has come; ours, or nobody, only by the time it takes one to.
            landed = Desktop::waitUntil([&] { return !landedIn(token).isEmpty(); }, typedMs, 20);
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
        Desktop::pause(step.act != Step::Type ? 400 : landed ? 100 : typedMs - 300);
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
    Desktop::waitUntil([&] { return !landedIn(last).isEmpty(); }, 1500);
    for (int t = 0; t < typed; ++t) {
        const QString where = landedIn(QStringLiteral("k%1").arg(t));
        out.lines.append(where.isEmpty() ? QStringLiteral("-") : where);
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

// Terminal A has the keyboard, B had it before, and C before that.
QString Player::landedIn(const QString& token) const {
    // Ended by Return, which the terminal logs as it comes: "k1" is no part of "k10".
    const QByteArray line = token.toLatin1();
    QString where;
    for (int i = 0; i < 3; ++i) {
        const QByteArray log = logged(stage.logs[i]);
        if (log.contains(line + '\r') || log.contains(line + '\n'))
            where = QChar(u'A' + i);
    }
    return where;
}

void Player::reset() {
    if (stage.hasManager()) {
        desktop.xdotool({"set_desktop", "0"});
        for (int i : {2, 1, 0})
            desktop.xdotool({"windowactivate", "--sync", QString::number(stage.terminals[i])});
    } else {
        stage.setFocus(0);
    }
    desktop.click(stage.terminalCentre(0));
    // A window manager tells when A has it; with none the keyboard follows the pointer there, and only time tells.
    if (stage.hasManager() &&
        Desktop::waitUntil([&] { return desktop.activeWindow() == stage.terminals[0]; }, 500, 20))
        Desktop::pause(150);
    else
        Desktop::pause(500);
    stage.clearLogs();
}

bool Player::openOurs(const Kind& k, Scene& scene, QList<quint32>& windows) {
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

bool Player::openStandIns(const Kind& k, const Scene& scene, QList<quint32>& windows,
                          QList<QProcess*>& standIns) {
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
bool Player::reopen(const Kind& k, bool ours, qsizetype step, Scene& scene, QList<quint32>& windows,
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

QPoint Player::pointer() {
    const QString out = desktop.run("xdotool", {"getmouselocation"});
    static const QRegularExpression at(QStringLiteral("x:(\\d+) y:(\\d+)"));
    const auto m = at.match(out);
    return QPoint(m.captured(1).toInt(), m.captured(2).toInt());
}

// Whatever is still open goes: the stand-ins, our windows by Escape (or a fresh start of the program when
// that does not close them), and the card, by Escape with the pointer on it.
void Player::escape(quint32 window, const QString& title, int goneMs) {
    if (stage.hasManager())
        desktop.xdotool({"windowactivate", "--sync", QString::number(window)});
    else
        stage.setFocus(window);
    Desktop::pause(200);
    desktop.key("Escape");
    desktop.waitVisible(title, false, goneMs);
}

void Player::cleanUp(const Kind& k, const QList<QProcess*>& standIns) {
    for (QProcess* p : standIns)
        if (p->state() != QProcess::NotRunning) {
            p->terminate();
            p->waitForFinished(2000);
        }
    bool left = false;
    // Seldom is any left: one look for all of them first.
    const bool anyLeft = desktop.visibleWindow(titles.join(u'|')) != 0;
    for (const QString& title : anyLeft ? titles : QStringList())
        for (int attempt = 0; attempt < 2; ++attempt) {
            const quint32 id = desktop.visibleWindow(title);
            if (!id)
                break;
            escape(id, title, 1500);
            left = left || (attempt == 1 && desktop.visibleWindow(title));
        }
    // The tiles selected for the preview stay selected in the hidden basket, and its next first Escape would
    // only clear them: cleared now, so that every row's basket opens as it did in the first.
    if (k.opens == Opens::Preview && !left && desktop.app()->state() == QProcess::Running) {
        desktop.key("super+shift+s");
        if (const quint32 id = desktop.waitVisible(basketTitle, true, 3000)) {
            for (int i = 0; i < 3 && desktop.visibleWindow(basketTitle); ++i)
                escape(id, basketTitle, 800);
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

namespace {

quint32 seedFor(Manager manager) {
    const QByteArray given = qgetenv("PICTOLARIUM_KEYS_SEED");
    if (given == "random")
        return QRandomGenerator::global()->generate() % 1000000;
    if (!given.isEmpty())
        return given.toUInt();
    return 6200 + quint32(manager);
}

} // namespace

void playGenerated(const QList<Kind>& kinds, Manager manager, int inCi, int all, const QList<int>& alsoInCi) {
    KeysStage stage(manager, hiddenTools);
    ASSERT_TRUE(stage.start()) << stage.error.toStdString();
    Player player(stage, kinds);
    const quint32 seed = seedFor(manager);
    const int count = qEnvironmentVariableIntValue("PICTOLARIUM_E2E_ALL_WAYS") == 1 ? all : inCi;
    // The panel menu's windows need the tray, which needs a window manager.
    QList<Kind> reachable;
    for (const Kind& k : kinds)
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
