// Global hot keys on a real X server: tap and hold, lock keys, a combination another program
// already holds, the change dialog and switching an action off.

#include "Desktop.h"
#include "platform/Dispatch.h"
#include "platform/x11/X11GlobalKeys.h"
#include "shortcuts/HotKeys.h"
#include "shortcuts/KeyCodes.h"
#include "shortcuts/TapHold.h"

#include <QDir>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace {

const QString grabkey = QStringLiteral(GRABKEY_BIN);

// The trace lines of tap and hold go to standard error; the tests start everything with it on.
void traceOn() {
    qputenv("PICTOLARIUM_TRACE", "1");
}

// Whether another client could grab the combination now: the probe lets go again at once.
bool comboFree(Desktop& desktop, const QString& key, const QString& modifiers) {
    int code = -1;
    desktop.run(grabkey, {key, modifiers}, &code);
    return code == 0;
}

// Presses and releases in one xdotool run, so the gaps between the steps are the sleeps given.
void type(Desktop& desktop, const QString& script) {
    desktop.xdotool(script.split(QLatin1Char(' ')));
}

class Output {
public:
    explicit Output(std::function<QString()> read) : read(std::move(read)) {}
    int count(const QString& line) { return read().count(line); }
    bool waitFor(const QString& line, int times = 1, int timeoutMs = 5000) {
        return Desktop::waitUntil([&] { return count(line) >= times; }, timeoutMs);
    }
    // Lets pending events arrive, then tells how often the line came.
    int settledCount(const QString& line, int ms = 700) {
        Desktop::waitUntil([] { return false; }, ms);
        return count(line);
    }

private:
    std::function<QString()> read;
};

const QString tap = QStringLiteral("hot action: capture tap");
const QString hold = QStringLiteral("hot action: capture hold");

} // namespace

TEST(HotKeys, TapHoldLockKeysAndQuickTaps) {
    traceOn();
    Desktop desktop;
    ASSERT_TRUE(desktop.ok()) << desktop.error().toStdString();
    desktop.run(QStringLiteral("xset"), {QStringLiteral("r"), QStringLiteral("on")});
    desktop.startApp();
    ASSERT_TRUE(desktop.waitForApp());
    ASSERT_TRUE(Desktop::waitUntil(
        [&] { return !comboFree(desktop, QStringLiteral("d"), QStringLiteral("super,shift")); }, 5000))
        << "the capture combination was never grabbed";
    for (const char* lock : {"super,shift,numlock", "super,shift,caps", "super,shift,numlock,caps"})
        EXPECT_FALSE(comboFree(desktop, QStringLiteral("d"), QString::fromLatin1(lock))) << lock;
    Output out([&] { return desktop.appStderr(); });

    struct Step {
        const char* name;
        QString script;
        int taps, holds; // totals after the step
    };
    const Step steps[] = {
        {"tap released after 0.1 s", QStringLiteral("keydown super+shift+d sleep 0.1 keyup super+shift+d"), 1, 0},
        // The capture hold starts a slice, which takes the keyboard until Escape ends it.
        {"hold for 1.5 s", QStringLiteral("keydown super+shift+d sleep 1.5 keyup super+shift+d sleep 1 key Escape"), 1,
         1},
        {"tap with NumLock on",
         QStringLiteral("key Num_Lock keydown super+shift+d sleep 0.1 keyup super+shift+d key Num_Lock"), 2, 1},
        {"tap with CapsLock on",
         QStringLiteral("key Caps_Lock keydown super+shift+d sleep 0.1 keyup super+shift+d key Caps_Lock"), 3, 1},
        // The second press is still down 0.28 s after the first one.
        {"two quick taps",
         QStringLiteral("keydown super+shift+d sleep 0.1 keyup super+shift+d sleep 0.05 keydown super+shift+d "
                        "sleep 0.15 keyup super+shift+d"),
         5, 1},
        {"modifiers let go before the key",
         QStringLiteral("keydown super+shift+d sleep 0.1 keyup super keyup shift keyup d"), 6, 1},
        // Typing a symbol the layout lacks remaps a spare key and back while ours is down.
        {"keyboard map changed while the key is down",
         QStringLiteral("keydown super+shift+d sleep 0.05 key U2766 sleep 0.05 keyup super+shift+d"), 7, 1},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        type(desktop, step.script);
        Desktop::waitUntil([&] { return out.count(tap) >= step.taps && out.count(hold) >= step.holds; }, 5000);
        EXPECT_EQ(out.settledCount(tap), step.taps) << desktop.appStderr().toStdString();
        EXPECT_EQ(out.count(hold), step.holds) << desktop.appStderr().toStdString();
    }

    // The hold runs while the key is still down.
    desktop.xdotool({QStringLiteral("keydown"), QStringLiteral("super+shift+d")});
    EXPECT_TRUE(out.waitFor(hold, 2, 1500));
    desktop.xdotool({QStringLiteral("keyup"), QStringLiteral("super+shift+d")});
    type(desktop, QStringLiteral("sleep 1 key Escape"));
    EXPECT_EQ(out.settledCount(tap), 7);

    // The other action: a hold, then a tap that toggles the basket.
    type(desktop, QStringLiteral("keydown super+shift+s sleep 1 keyup super+shift+s"));
    EXPECT_TRUE(out.waitFor(QStringLiteral("hot action: library hold")));
    EXPECT_EQ(out.settledCount(QStringLiteral("hot action: library tap")), 0);
    type(desktop, QStringLiteral("keydown super+shift+s sleep 0.1 keyup super+shift+s"));
    EXPECT_TRUE(out.waitFor(QStringLiteral("hot action: library tap")));
    EXPECT_TRUE(Desktop::waitUntil(
        [&] { return !desktop.windowsByName(QStringLiteral("Pictolarium Basket")).isEmpty(); }, 5000));
}

TEST(HotKeys, AHeldKeyIsOnePressWithOrWithoutDetectableAutoRepeat) {
    Desktop desktop;
    ASSERT_TRUE(desktop.ok()) << desktop.error().toStdString();
    desktop.run(QStringLiteral("xset"),
                {QStringLiteral("r"), QStringLiteral("rate"), QStringLiteral("200"), QStringLiteral("40")});
    for (const bool detectable : {true, false}) {
        SCOPED_TRACE(detectable ? "detectable auto-repeat" : "release/press pairs");
        X11GlobalKeys keys(desktop.display().toUtf8(), nullptr, detectable);
        ASSERT_TRUE(keys.connected());
        EXPECT_EQ(keys.detectableAutoRepeat(), detectable);
        const quint32 handle = keys.grab('d', GlobalKeys::Super | GlobalKeys::Shift);
        ASSERT_NE(handle, 0u);
        int presses = 0, releases = 0;
        QObject::connect(&keys, &GlobalKeys::pressed, [&](quint32 h) { presses += h == handle; });
        QObject::connect(&keys, &GlobalKeys::released, [&](quint32 h) { releases += h == handle; });

        // About 25 repeats at 40 a second after 0.2 s.
        type(desktop, QStringLiteral("keydown super+shift+d sleep 0.8 keyup super+shift+d"));
        Desktop::waitUntil([&] { return releases > 0; }, 2000);
        Desktop::waitUntil([] { return false; }, 200);
        EXPECT_EQ(presses, 1);
        EXPECT_EQ(releases, 1);
    }
}

TEST(HotKeys, ACombinationHeldElsewhereShowsTheAlertAndKeepsNothing) {
    traceOn();
    struct Case {
        const char* name;
        const char* held;               // what the other program grabs
        std::vector<const char*> freed; // lock variants we got before the refusal and must let go
    };
    // Grabbing only the NumLock variant lets our first grabs through and refuses a later one.
    const Case cases[] = {
        {"plain combination", "super,shift", {"super,shift,caps", "super,shift,numlock", "super,shift,numlock,caps"}},
        {"NumLock variant only",
         "super,shift,numlock",
         {"super,shift", "super,shift,caps", "super,shift,numlock,caps"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Desktop desktop;
        ASSERT_TRUE(desktop.ok()) << desktop.error().toStdString();
        QProcess other;
        other.setProcessEnvironment(desktop.environment());
        other.start(grabkey, {QStringLiteral("d"), QString::fromLatin1(c.held), QStringLiteral("--hold")});
        ASSERT_TRUE(other.waitForReadyRead(5000));
        ASSERT_EQ(other.readAll().trimmed(), QByteArray("grabbed"));

        desktop.startApp();
        ASSERT_TRUE(desktop.waitForApp());
        const QString title = QStringLiteral("Couldn't register Super.Shift.D"); // a pattern: "+" repeats
        ASSERT_TRUE(Desktop::waitUntil([&] { return !desktop.windowsByName(title).isEmpty(); }, 8000));
        // What the alert says, as traced just before it was shown.
        const QString said =
            QStringLiteral("alert: Couldn't register Super+Shift+D | Another app probably uses that shortcut. Pick a "
                           "different one for \u201c"
                           "Capture  \u00b7  tap = window, hold = drag a piece\u201d under Shortcuts in the menu.");
        EXPECT_TRUE(Desktop::waitUntil([&] { return desktop.appStderr().contains(said); }, 3000))
            << desktop.appStderr().toStdString();
        desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/hotkeys-alert-%1.png").arg(&c == cases ? 1 : 2));

        // Nothing of ours is left on the plain combination: another client can take it, and a press
        // runs nothing.
        for (const char* variant : c.freed)
            EXPECT_TRUE(comboFree(desktop, QStringLiteral("d"), QString::fromLatin1(variant))) << variant;
        const quint32 alert = desktop.windowsByName(title).value(0);
        desktop.xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), QString::number(alert)});
        desktop.xdotool({QStringLiteral("key"), QStringLiteral("Return")});
        EXPECT_TRUE(Desktop::waitUntil([&] { return desktop.windowsByName(title).isEmpty(); }, 5000));
        type(desktop, QStringLiteral("keydown super+shift+d sleep 0.1 keyup super+shift+d"));
        Output out([&] { return desktop.appStderr(); });
        EXPECT_EQ(out.settledCount(tap), 0);

        // The loop went on with the other action after the alert.
        EXPECT_FALSE(comboFree(desktop, QStringLiteral("s"), QStringLiteral("super,shift")));
        other.terminate();
        other.waitForFinished(2000);
    }
}

namespace {

// The hot actions without the rest of the program, taking commands on standard input.
class Host {
public:
    explicit Host(Desktop& desktop) {
        process.setProcessEnvironment(desktop.environment());
        process.start(QStringLiteral(HOTKEYHOST_BIN));
        process.waitForStarted(5000);
    }
    ~Host() {
        process.closeWriteChannel();
        if (!process.waitForFinished(2000)) {
            process.terminate();
            process.waitForFinished(2000);
        }
    }
    void send(const QString& line) { process.write((line + QLatin1Char('\n')).toUtf8()); }
    bool waitForLine(const QString& line, int timeoutMs = 8000) {
        return Desktop::waitUntil(
            [&] {
                out += QString::fromUtf8(process.readAllStandardOutput());
                err += QString::fromUtf8(process.readAllStandardError());
                if (!out.contains(line + QLatin1Char('\n')))
                    return false;
                out.remove(0, out.indexOf(line + QLatin1Char('\n')) + line.size() + 1);
                return true;
            },
            timeoutMs);
    }
    QString errors() {
        err += QString::fromUtf8(process.readAllStandardError());
        return err;
    }
    QProcess process;

private:
    QString out, err;
};

} // namespace

TEST(HotKeys, TheDialogRecordsSavesResetsAndCancelsAndTheGrabFollows) {
    traceOn();
    Desktop desktop;
    ASSERT_TRUE(desktop.ok()) << desktop.error().toStdString();
    Host host(desktop);
    ASSERT_TRUE(host.waitForLine(QStringLiteral("ready")));
    Output out([&] { return host.errors(); });
    ASSERT_FALSE(comboFree(desktop, QStringLiteral("d"), QStringLiteral("super,shift")));

    const QString dialog = QStringLiteral("Shortcut for");
    const auto openDialog = [&] {
        host.send(QStringLiteral("change capture"));
        if (!Desktop::waitUntil([&] { return !desktop.windowsByName(dialog).isEmpty(); }, 8000))
            return false;
        // The recorder holds the keyboard once the window is up and focused.
        return Desktop::waitUntil(
            [&] {
                int code = -1;
                desktop.run(grabkey, {QStringLiteral("--keyboard")}, &code);
                return code == 1;
            },
            5000);
    };

    // The combination registered now is recorded, not fired; then a new one replaces it.
    ASSERT_TRUE(openDialog());
    desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/hotkeys-dialog-open.png"));
    type(desktop, QStringLiteral("keydown super+shift+d sleep 0.1 keyup super+shift+d"));
    EXPECT_EQ(out.settledCount(tap) + out.count(hold), 0) << "the global key fired inside the recorder";
    type(desktop, QStringLiteral("keydown ctrl+alt+k sleep 0.05 keyup ctrl+alt+k"));
    type(desktop, QStringLiteral("keydown ctrl+shift"));
    Desktop::waitUntil([] { return false; }, 300);
    desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/hotkeys-dialog-modifiers.png"));
    type(desktop, QStringLiteral("keyup ctrl+shift"));
    Desktop::waitUntil([] { return false; }, 300);
    desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/hotkeys-dialog-recorded.png"));
    desktop.xdotool({QStringLiteral("key"), QStringLiteral("Return")}); // Save is the default button
    ASSERT_TRUE(host.waitForLine(QStringLiteral("changed 1")));
    EXPECT_TRUE(out.count(QStringLiteral("shortcut of capture: Ctrl+Alt+K")) == 1) << host.errors().toStdString();
    EXPECT_TRUE(comboFree(desktop, QStringLiteral("d"), QStringLiteral("super,shift")));
    EXPECT_FALSE(comboFree(desktop, QStringLiteral("k"), QStringLiteral("ctrl,alt")));
    type(desktop, QStringLiteral("keydown ctrl+alt+k sleep 0.1 keyup ctrl+alt+k"));
    EXPECT_TRUE(out.waitFor(tap));

    // Recording the combination that is registered now and saving keeps it.
    ASSERT_TRUE(openDialog());
    type(desktop, QStringLiteral("keydown ctrl+alt+k sleep 0.05 keyup ctrl+alt+k"));
    EXPECT_EQ(out.settledCount(tap), 1);
    desktop.xdotool({QStringLiteral("key"), QStringLiteral("Return")});
    ASSERT_TRUE(host.waitForLine(QStringLiteral("changed 1")));
    EXPECT_FALSE(comboFree(desktop, QStringLiteral("k"), QStringLiteral("ctrl,alt")));

    // The basket's combination is refused with a line that says so, and the dialog grows to hold it.
    // Cancel (Escape) changes nothing.
    ASSERT_TRUE(openDialog());
    const quint32 window = desktop.windowsByName(dialog).value(0);
    const QRect before = desktop.clientGeometry(window);
    type(desktop, QStringLiteral("keydown super+shift+s sleep 0.05 keyup super+shift+s"));
    Desktop::waitUntil([&] { return desktop.clientGeometry(window).height() > before.height(); }, 2000);
    desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/hotkeys-dialog-clash.png"));
    EXPECT_GT(desktop.clientGeometry(window).height(), before.height()) << "the line took room from the others";
    type(desktop, QStringLiteral("keydown super+alt+j sleep 0.05 keyup super+alt+j"));
    desktop.xdotool({QStringLiteral("key"), QStringLiteral("Escape")});
    ASSERT_TRUE(host.waitForLine(QStringLiteral("changed 0")));
    EXPECT_FALSE(comboFree(desktop, QStringLiteral("k"), QStringLiteral("ctrl,alt")));
    EXPECT_TRUE(comboFree(desktop, QStringLiteral("j"), QStringLiteral("super,alt")));

    // Reset: Tab leaves the recorder for the buttons (Cancel, Reset to Default, Save).
    ASSERT_TRUE(openDialog());
    type(desktop, QStringLiteral("key Tab key Tab key space"));
    ASSERT_TRUE(host.waitForLine(QStringLiteral("changed 1")));
    EXPECT_TRUE(out.count(QStringLiteral("shortcut of capture: Super+Shift+D")) == 1) << host.errors().toStdString();
    EXPECT_TRUE(comboFree(desktop, QStringLiteral("k"), QStringLiteral("ctrl,alt")));
    EXPECT_FALSE(comboFree(desktop, QStringLiteral("d"), QStringLiteral("super,shift")));

    // Switching the action off lets go of its key at once; on again takes it back.
    host.send(QStringLiteral("enable capture 0"));
    ASSERT_TRUE(host.waitForLine(QStringLiteral("enabled 0")));
    EXPECT_TRUE(comboFree(desktop, QStringLiteral("d"), QStringLiteral("super,shift")));
    type(desktop, QStringLiteral("keydown super+shift+d sleep 0.1 keyup super+shift+d"));
    EXPECT_EQ(out.settledCount(tap), 1);
    host.send(QStringLiteral("enable capture 1"));
    ASSERT_TRUE(host.waitForLine(QStringLiteral("enabled 1")));
    EXPECT_FALSE(comboFree(desktop, QStringLiteral("d"), QStringLiteral("super,shift")));
    type(desktop, QStringLiteral("keydown super+shift+d sleep 0.1 keyup super+shift+d"));
    EXPECT_TRUE(out.waitFor(tap, 2));
}

// Tap or hold is the length of the press on the server's clock, however late the main thread
// reads the key events.
TEST(HotKeys, TapOrHoldByTheServersClockWhileTheMainThreadIsBusy) {
    Desktop desktop;
    ASSERT_TRUE(desktop.ok()) << desktop.error().toStdString();
    X11GlobalKeys keys(desktop.display().toUtf8());
    ASSERT_TRUE(keys.connected());
    HotKeys hotKeys(keys);
    QHash<QString, bool> held, fired;
    QStringList log;
    int pressesRead = 0;
    TapHold machine(
        held, fired,
        [&](int ms, const QObject* owner, std::function<void()> block) {
            hotKeys.settleThen(ms, owner, std::move(block));
        },
        [&](const QString& key) { log << key + QStringLiteral(" tap"); },
        [&](const QString& key) { log << key + QStringLiteral(" hold"); });
    std::function<void()> whilePressed;
    const Shortcut shortcut{KeyCodes::keyCode('d').value_or(0), Shortcut::command | Shortcut::shift,
                            QStringLiteral("D")};
    ASSERT_TRUE(hotKeys.registerShortcut(
        shortcut, [&] { machine.keyReleased(QStringLiteral("capture"), hotKeys.eventTime()); },
        [&] {
            ++pressesRead;
            machine.keyPressed(QStringLiteral("capture"), hotKeys.eventTime());
            if (whilePressed)
                whilePressed();
        }));

    const auto typeLater = [&](const QString& script) {
        auto* xdotool = new QProcess;
        xdotool->setProcessEnvironment(desktop.environment());
        xdotool->start(QStringLiteral("xdotool"), script.split(QLatin1Char(' ')));
        return xdotool;
    };

    // xdotool's first use of the modifiers may change the keyboard map, after which the grabs are
    // made again: a press then is not what this test is about.
    type(desktop, QStringLiteral("keydown super+shift+d sleep 0.05 keyup super+shift+d"));
    ASSERT_TRUE(Desktop::waitUntil([&] { return !log.isEmpty() && !held.value(QStringLiteral("capture")); }, 5000));
    Desktop::waitUntil([] { return false; }, 300);
    log.clear();
    pressesRead = 0;
    {
        SCOPED_TRACE("a 40 ms tap, the main thread busy for 0.5 s after reading its press");
        // Queued behind what the press set going, as other work of the program would be; midway it
        // grabs another key, as a card does for Escape, and the grab's reply brings the release with it
        // off the socket, where nothing tells the event loop about it.
        whilePressed = [&] {
            Dispatch::main([&] {
                QThread::msleep(250);
                keys.ungrab(keys.grab('e', GlobalKeys::Super | GlobalKeys::Shift));
                QThread::msleep(250);
            });
        };
        std::unique_ptr<QProcess> xdotool(
            typeLater(QStringLiteral("keydown super+shift+d sleep 0.04 keyup super+shift+d")));
        EXPECT_TRUE(Desktop::waitUntil([&] { return !log.isEmpty(); }, 10000));
        Desktop::waitUntil([] { return false; }, 500);
        EXPECT_EQ(log.join(QLatin1Char(',')).toStdString(), "capture tap");
        xdotool->waitForFinished();
    }
    log.clear();
    whilePressed = nullptr;
    {
        SCOPED_TRACE("a 0.4 s hold, press and release read together");
        // The main thread waits for xdotool without reading any event.
        std::unique_ptr<QProcess> xdotool(
            typeLater(QStringLiteral("keydown super+shift+d sleep 0.4 keyup super+shift+d")));
        ASSERT_TRUE(xdotool->waitForFinished(10000));
        EXPECT_TRUE(Desktop::waitUntil([&] { return !log.isEmpty(); }, 5000));
        Desktop::waitUntil([] { return false; }, 500);
        EXPECT_EQ(log.join(QLatin1Char(',')).toStdString(), "capture hold");
    }
    EXPECT_EQ(pressesRead, 2);
}
