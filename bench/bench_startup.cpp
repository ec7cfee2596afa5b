// The program on a virtual desktop with a tray and no compositor: a cold start until its tray icon is
// painted, against another tray screenshot tool started the same way, in turn; and the capture key's
// release until the new card is painted. Painted means: seen in the screen's pixels. The tray shows a
// docked icon's window black until its program draws into it, so the icon counts only once it is drawn.

#include "Desktop.h"
#include "SideBySide.h"

#include "Quick.h"

#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>

#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

const QSize screenSize{1280, 800};
const QRect tray(screenSize.width() - 200, screenSize.height() - 30, 200, 30);

class Screen {
public:
    explicit Screen(const QString& display) : c(xcb_connect(display.toUtf8().constData(), nullptr)) {
        root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    }
    ~Screen() { xcb_disconnect(c); }
    bool ok() const { return !xcb_connection_has_error(c); }

    std::vector<quint8> pixels(const QRect& area) {
        xcb_get_image_reply_t* reply =
            xcb_get_image_reply(c,
                                xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, root, int16_t(area.x()), int16_t(area.y()),
                                              uint16_t(area.width()), uint16_t(area.height()), ~0u),
                                nullptr);
        std::vector<quint8> out;
        if (reply) {
            const quint8* data = xcb_get_image_data(reply);
            out.assign(data, data + xcb_get_image_data_length(reply));
            std::free(reply);
        }
        return out;
    }

private:
    xcb_connection_t* c;
    xcb_window_t root = 0;
};

enum class Change { Any, Drawn };

// Pixels of `a` that differ from `b`; with Drawn, only those that are not black, as a window nobody has
// drawn into yet shows.
int differing(const std::vector<quint8>& a, const std::vector<quint8>& b, Change change = Change::Any) {
    if (a.size() != b.size())
        return INT32_MAX;
    int n = 0;
    for (size_t i = 0; i + 3 < a.size(); i += 4)
        n += (a[i] != b[i] || a[i + 1] != b[i + 1] || a[i + 2] != b[i + 2]) &&
             (change == Change::Any || (a[i] | a[i + 1] | a[i + 2]) != 0);
    return n;
}

// Milliseconds from `since` until at least `pixels` pixels of the area differ from `before`; -1 after
// the timeout.
double untilChanged(Screen& screen, const QRect& area, const std::vector<quint8>& before, int pixels,
                    const QElapsedTimer& since, int timeoutMs = 10000, Change change = Change::Any) {
    while (since.elapsed() < timeoutMs) {
        if (differing(screen.pixels(area), before, change) >= pixels)
            return double(since.nsecsElapsed()) / 1e6;
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    return -1;
}

void waitBack(Screen& screen, const QRect& area, const std::vector<quint8>& before) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 5000 && differing(screen.pixels(area), before) > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

struct Start {
    double docked = -1; // the icon's window shows in the tray, still black
    double drawn = -1;  // the icon is drawn into it
};

// Starts the program, times it until its icon shows in the tray, and ends it again.
Start coldStart(Desktop& desktop, Screen& screen, const QString& program, const std::vector<quint8>& emptyTray) {
    QProcess process;
    process.setProcessEnvironment(desktop.environment());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    process.start(program, {});
    Start start;
    start.docked = untilChanged(screen, tray, emptyTray, 30, timer);
    start.drawn = untilChanged(screen, tray, emptyTray, 30, timer, 10000, Change::Drawn);
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(2000);
    }
    waitBack(screen, tray, emptyTray);
    return start;
}

QString sessionBus() {
    QProcess bus;
    bus.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--fork"),
                                              QStringLiteral("--print-address=1"), QStringLiteral("--print-pid=1")});
    bus.waitForFinished(5000);
    const QStringList lines = QString::fromUtf8(bus.readAllStandardOutput()).split(QLatin1Char('\n'));
    return lines.value(0).trimmed() + QLatin1Char('\n') + lines.value(1).trimmed();
}

void startupRow(Desktop& desktop, Screen& screen) {
    const QString peer = QStandardPaths::findExecutable(QStringLiteral("flameshot"));
    if (peer.isEmpty()) {
        std::printf("bench_startup: flameshot is not installed; no start-up row\n");
        return;
    }
    const std::vector<quint8> emptyTray = screen.pixels(tray);
    const QString ours = QStringLiteral(PICTOLARIUM_BIN);
    coldStart(desktop, screen, ours, emptyTray); // settles the settings and folders of a first run
    coldStart(desktop, screen, peer, emptyTray);
    const double loadFrom = SideBySide::load();
    std::vector<double> a, b, dockedA, dockedB;
    for (int i = 0; i < Quick::count(7); ++i) {
        const Start mineNow = coldStart(desktop, screen, ours, emptyTray);
        const Start theirsNow = coldStart(desktop, screen, peer, emptyTray);
        a.push_back(mineNow.drawn);
        b.push_back(theirsNow.drawn);
        dockedA.push_back(mineNow.docked);
        dockedB.push_back(theirsNow.docked);
    }
    const double mine = SideBySide::median(a), theirs = SideBySide::median(b);
    std::printf("bench_startup: the icon's window docked, not yet drawn: %.1f ms, flameshot %.1f ms\n",
                SideBySide::median(dockedA), SideBySide::median(dockedB));
    SideBySide::row("cold start until the tray icon is painted", SideBySide::ms(mine),
                    SideBySide::ms(theirs) + " (flameshot)", mine > 0 && theirs > 0 ? mine / theirs : -1,
                    "<= 0.80 at load 1-3", loadFrom, SideBySide::load());
}

// Taps the capture key with the pointer mid-screen: the card shows a screenshot of the screen at once.
void cardRow(Desktop& desktop, Screen& screen) {
    QProcess app;
    app.setProcessEnvironment(desktop.environment());
    app.setStandardOutputFile(QProcess::nullDevice());
    app.setStandardErrorFile(QProcess::nullDevice());
    app.start(QStringLiteral(PICTOLARIUM_BIN), {});
    QElapsedTimer started;
    started.start();
    untilChanged(screen, tray, screen.pixels(tray), 30, started);
    QProcess keys; // one xdotool reading its commands, so each key goes out at once
    keys.setProcessEnvironment(desktop.environment());
    keys.start(QStringLiteral("xdotool"), {QStringLiteral("-")});
    keys.waitForStarted(5000);
    keys.write("mousemove 640 400\n");
    const QRect around(640 - 400, 400 - 300, 800, 600);
    const double loadFrom = SideBySide::load();
    std::vector<double> times;
    for (int i = 0; i < Quick::size(8, 2); ++i) {
        Desktop::pause(300);
        const std::vector<quint8> before = screen.pixels(around);
        keys.write("keydown super+shift+d\n");
        keys.waitForBytesWritten();
        Desktop::pause(40);
        QElapsedTimer released;
        keys.write("keyup super+shift+d\n");
        keys.waitForBytesWritten();
        released.start();
        const double ms = untilChanged(screen, around, before, 400, released, 5000);
        if (ms >= 0 && i > 0)
            times.push_back(ms);
        keys.write("key Escape\n");
        keys.waitForBytesWritten();
        waitBack(screen, around, before);
    }
    keys.closeWriteChannel();
    keys.waitForFinished(2000);
    app.terminate();
    app.waitForFinished(5000);
    if (times.empty()) {
        std::printf("bench_startup: no card came\n");
        return;
    }
    SideBySide::row("capture key released until the card is painted, no compositor",
                    SideBySide::ms(SideBySide::median(times)), "-", -1, "<= 30 ms at load <= 2", loadFrom,
                    SideBySide::load());
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication qt(argc, argv);
    Desktop::Options options;
    options.size = screenSize;
    Desktop desktop(options);
    if (!desktop.ok()) {
        std::printf("bench_startup: %s\n", qPrintable(desktop.error()));
        return 0;
    }
    const QStringList bus = sessionBus().split(QLatin1Char('\n'));
    if (!bus.value(0).isEmpty())
        desktop.setEnvironment(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.value(0));
    desktop.run(QStringLiteral("xsetroot"), {QStringLiteral("-solid"), QStringLiteral("#3a6ea5")});
    Screen screen(desktop.display());
    if (screen.ok()) {
        startupRow(desktop, screen);
        cardRow(desktop, screen);
    }
    if (const qint64 pid = bus.value(1).toLongLong(); pid > 0)
        QProcess::execute(QStringLiteral("kill"), {QString::number(pid)});
    return 0;
}
