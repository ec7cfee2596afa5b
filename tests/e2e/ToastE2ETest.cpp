#include "Desktop.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QThread>
#include <gtest/gtest.h>

#include <unistd.h>

namespace {

// The widget probe on the desktop: commands in, reports out.
class Probe {
public:
    explicit Probe(Desktop& desktop) {
        process.setProcessEnvironment(desktop.environment());
        process.setProcessChannelMode(QProcess::SeparateChannels);
        process.setStandardErrorFile(QProcess::nullDevice());
        process.start(QStringLiteral(WIDGET_PROBE_BIN), {});
        process.waitForStarted(5000);
        ready = !waitFor(QStringLiteral("ready"), 10000).isEmpty();
    }
    ~Probe() {
        if (process.state() == QProcess::NotRunning)
            return;
        ::kill(pid_t(process.processId()), SIGTERM);
        if (!process.waitForFinished(2000)) {
            process.kill();
            process.waitForFinished(2000);
        }
    }

    void send(const QString& line) {
        process.write((line + QLatin1Char('\n')).toUtf8());
        process.waitForBytesWritten(1000);
    }

    // Waits for a report starting with prefix; returns the whole line, or empty after the timeout.
    QString waitFor(const QString& prefix, int timeoutMs = 5000) {
        QString found;
        Desktop::waitUntil(
            [&] {
                output += QString::fromUtf8(process.readAllStandardOutput());
                const QStringList lines = output.split(QLatin1Char('\n'));
                for (int i = 0; i + 1 < lines.size(); ++i)
                    if (lines.at(i).startsWith(prefix)) {
                        found = lines.at(i);
                        // Later waits look only at what came after.
                        output = lines.mid(i + 1).join(QLatin1Char('\n'));
                        return true;
                    }
                return false;
            },
            timeoutMs, 20);
        return found;
    }

    bool ready = false;

private:
    QProcess process;
    QString output;
};

QList<quint32> visibleWindows(Desktop& desktop, const QString& name) {
    const QString out = desktop.run(QStringLiteral("xdotool"),
                                    {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                     QStringLiteral("--name"), QStringLiteral("^") + name + QStringLiteral("$")});
    QList<quint32> ids;
    for (const QString& line : out.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        ids.append(line.trimmed().toUInt());
    return ids;
}

quint32 waitForWindow(Desktop& desktop, const QString& name, int timeoutMs = 8000) {
    quint32 id = 0;
    Desktop::waitUntil(
        [&] {
            const auto ids = visibleWindows(desktop, name);
            id = ids.isEmpty() ? 0 : ids.first();
            return id != 0;
        },
        timeoutMs, 100);
    return id;
}

void click(Desktop& desktop, QPoint at, const char* button = "1") {
    desktop.xdotool({QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y())});
    desktop.xdotool({QStringLiteral("click"), QString::fromLatin1(button)});
}

// An xterm whose typing goes into a file, focused; its window id, or 0.
quint32 startTypingTerminal(Desktop& desktop, const QString& file, QRect geometry) {
    desktop.start(QStringLiteral("xterm"),
                  {QStringLiteral("-title"), QStringLiteral("typing"), QStringLiteral("-geometry"),
                   QStringLiteral("60x10+%1+%2").arg(geometry.x()).arg(geometry.y()), QStringLiteral("-e"),
                   QStringLiteral("sh"), QStringLiteral("-c"), QStringLiteral("cat > '%1'").arg(file)});
    const quint32 id = waitForWindow(desktop, QStringLiteral("typing"));
    if (id)
        desktop.xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), QString::number(id)});
    return id;
}

class ToastDesktop : public ::testing::TestWithParam<bool> {
protected:
    static Desktop::Options options() {
        Desktop::Options o;
        o.tray = false;
        o.compositor = GetParam();
        return o;
    }
    QString mode() const { return GetParam() ? QStringLiteral("composited") : QStringLiteral("plain"); }
};

} // namespace

TEST_P(ToastDesktop, AppearsAboveThePointerAndLeavesTheFocusAlone) {
    Desktop desktop(options());
    ASSERT_TRUE(desktop.ok()) << desktop.error().toStdString();
    ASSERT_EQ(desktop.selectionOwned(QStringLiteral("_NET_WM_CM_S0")), GetParam());
    Probe probe(desktop);
    ASSERT_TRUE(probe.ready);
    // A coloured window under the toast shows whether its corners are clear.
    probe.send(QStringLiteral("target 300 150 500 300"));
    ASSERT_FALSE(probe.waitFor(QStringLiteral("target-shown")).isEmpty());
    ASSERT_NE(waitForWindow(desktop, QStringLiteral("Probe Target")), 0u);

    const QString typed = desktop.home() + QStringLiteral("/typed.txt");
    const quint32 terminal = startTypingTerminal(desktop, typed, QRect(20, 500, 0, 0));
    ASSERT_NE(terminal, 0u);
    ASSERT_TRUE(Desktop::waitUntil([&] { return desktop.activeWindow() == terminal; }, 5000));

    const QPoint pointer(550, 300);
    desktop.xdotool({QStringLiteral("mousemove"), QString::number(pointer.x()), QString::number(pointer.y())});
    probe.send(QStringLiteral("toast 550 300 6 Copied 3 lines of text"));
    ASSERT_FALSE(probe.waitFor(QStringLiteral("toast-shown")).isEmpty());
    const quint32 toast = waitForWindow(desktop, QStringLiteral("Pictolarium Toast"));
    ASSERT_NE(toast, 0u);

    const QRect frame = desktop.windowGeometry(toast);
    EXPECT_EQ(frame.height(), 32);
    EXPECT_NEAR(frame.center().x(), pointer.x(), 2);
    EXPECT_NEAR(frame.y() + frame.height(), pointer.y() - 14, 2);

    // The terminal keeps the keyboard: what is typed now lands in its file.
    EXPECT_EQ(desktop.activeWindow(), terminal);
    desktop.xdotool(
        {QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("30"), QStringLiteral("still here\n")});
    EXPECT_TRUE(Desktop::waitUntil(
        [&] {
            QFile f(typed);
            return f.open(QIODevice::ReadOnly) && f.readAll().contains("still here");
        },
        5000));
    EXPECT_EQ(desktop.activeWindow(), terminal);

    QImage screen;
    Desktop::waitUntil(
        [&] {
            screen = desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/toast-%1.png").arg(mode()));
            // Faded in: the middle of the pill is dark.
            return !screen.isNull() && qGray(screen.pixel(frame.x() + 6, frame.center().y())) < 50;
        },
        3000, 100);
    ASSERT_FALSE(screen.isNull());
    // White text on the dark pill.
    int bright = 0;
    for (int x = frame.x() + 13; x < frame.right() - 13; ++x)
        for (int y = frame.y() + 8; y < frame.bottom() - 8; ++y)
            if (qGray(screen.pixel(x, y)) > 200)
                ++bright;
    EXPECT_GT(bright, 30);
    // The corners show the window beneath, not black.
    const QColor corner = screen.pixelColor(frame.topLeft());
    EXPECT_GT(corner.blue(), 100) << corner.name().toStdString();
}

TEST_P(ToastDesktop, LetsClicksThroughToTheWindowBelow) {
    Desktop desktop(options());
    ASSERT_TRUE(desktop.ok()) << desktop.error().toStdString();
    Probe probe(desktop);
    ASSERT_TRUE(probe.ready);
    probe.send(QStringLiteral("target 300 150 500 300"));
    ASSERT_NE(waitForWindow(desktop, QStringLiteral("Probe Target")), 0u);
    probe.send(QStringLiteral("toast 550 350 6 Click through me"));
    const quint32 toast = waitForWindow(desktop, QStringLiteral("Pictolarium Toast"));
    ASSERT_NE(toast, 0u);
    const QRect frame = desktop.windowGeometry(toast);
    probe.waitFor(QStringLiteral("target-pressed"), 200); // nothing yet; clears the report buffer

    click(desktop, frame.center());
    const QString pressed = probe.waitFor(QStringLiteral("target-pressed"));
    ASSERT_FALSE(pressed.isEmpty()) << "the click did not reach the window under the toast";
    EXPECT_EQ(pressed, QStringLiteral("target-pressed %1 %2").arg(frame.center().x()).arg(frame.center().y()));
}

TEST_P(ToastDesktop, IsReplacedByTheNextAndFadesOnItsTimers) {
    Desktop desktop(options());
    ASSERT_TRUE(desktop.ok()) << desktop.error().toStdString();
    Probe probe(desktop);
    ASSERT_TRUE(probe.ready);

    probe.send(QStringLiteral("toast 400 300 1 First message"));
    const quint32 first = waitForWindow(desktop, QStringLiteral("Pictolarium Toast"));
    ASSERT_NE(first, 0u);
    probe.send(QStringLiteral("toast 700 500 4 Second"));
    ASSERT_FALSE(probe.waitFor(QStringLiteral("toast-shown")).isEmpty());
    ASSERT_FALSE(probe.waitFor(QStringLiteral("toast-shown")).isEmpty());
    quint32 second = 0;
    ASSERT_TRUE(Desktop::waitUntil(
        [&] {
            const auto ids = visibleWindows(desktop, QStringLiteral("Pictolarium Toast"));
            second = ids.size() == 1 ? ids.first() : 0;
            return second != 0 && second != first;
        },
        3000));
    EXPECT_NEAR(desktop.windowGeometry(second).center().x(), 700, 2);

    // Well after the first one's time is up, the second still shows.
    QThread::msleep(1800);
    EXPECT_EQ(visibleWindows(desktop, QStringLiteral("Pictolarium Toast")), QList<quint32>{second});
    desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/toast-replaced-%1.png").arg(mode()));

    // Then it fades and is ordered out, whether or not the fade can be seen.
    EXPECT_TRUE(Desktop::waitUntil(
        [&] { return visibleWindows(desktop, QStringLiteral("Pictolarium Toast")).isEmpty(); }, 6000, 100));
}

TEST_P(ToastDesktop, ClickAwayClosesOnAClickInAnotherClientOnly) {
    Desktop desktop(options());
    ASSERT_TRUE(desktop.ok()) << desktop.error().toStdString();
    Probe probe(desktop);
    ASSERT_TRUE(probe.ready);
    const quint32 terminal =
        startTypingTerminal(desktop, desktop.home() + QStringLiteral("/ignored.txt"), QRect(20, 20, 0, 0));
    ASSERT_NE(terminal, 0u);

    probe.send(QStringLiteral("other 100 500 200 120"));
    ASSERT_NE(waitForWindow(desktop, QStringLiteral("Probe Other")), 0u);
    probe.send(QStringLiteral("clickaway 600 300 300 200"));
    EXPECT_EQ(probe.waitFor(QStringLiteral("clickaway-watch")), QStringLiteral("clickaway-watch x11"));
    const quint32 watched = waitForWindow(desktop, QStringLiteral("Probe ClickAway"));
    ASSERT_NE(watched, 0u);
    const QRect frame = desktop.windowGeometry(watched);
    desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/clickaway-%1.png").arg(mode()));

    // Inside it, or in another window of the same program: it stays.
    click(desktop, frame.center());
    click(desktop, frame.center(), "3");
    click(desktop, QPoint(200, 560));
    EXPECT_TRUE(probe.waitFor(QStringLiteral("clickaway-closed"), 1500).isEmpty());
    EXPECT_FALSE(visibleWindows(desktop, QStringLiteral("Probe ClickAway")).isEmpty());

    // Scrolling elsewhere is not a click.
    desktop.xdotool({QStringLiteral("mousemove"), QStringLiteral("100"), QStringLiteral("80")});
    desktop.xdotool({QStringLiteral("click"), QStringLiteral("5")});
    EXPECT_TRUE(probe.waitFor(QStringLiteral("clickaway-closed"), 1000).isEmpty());

    // A click in the terminal closes it.
    click(desktop, QPoint(100, 80));
    EXPECT_FALSE(probe.waitFor(QStringLiteral("clickaway-closed"), 3000).isEmpty());
    EXPECT_TRUE(
        Desktop::waitUntil([&] { return visibleWindows(desktop, QStringLiteral("Probe ClickAway")).isEmpty(); }, 3000));
}

INSTANTIATE_TEST_SUITE_P(Compositing, ToastDesktop, ::testing::Bool(), [](const ::testing::TestParamInfo<bool>& info) {
    return info.param ? std::string("WithCompositor") : std::string("WithoutCompositor");
});

TEST(WidgetGallery, ShowsEveryLookAtTwoSizes) {
    Desktop::Options o;
    o.tray = false;
    o.compositor = true;
    Desktop desktop(o);
    ASSERT_TRUE(desktop.ok()) << desktop.error().toStdString();
    Probe probe(desktop);
    ASSERT_TRUE(probe.ready);
    probe.send(QStringLiteral("gallery 20 20 1.2"));
    ASSERT_FALSE(probe.waitFor(QStringLiteral("gallery-shown")).isEmpty());
    probe.send(QStringLiteral("gallery 20 400 0.5"));
    ASSERT_FALSE(probe.waitFor(QStringLiteral("gallery-shown")).isEmpty());
    Desktop::waitUntil([&] { return visibleWindows(desktop, QStringLiteral("Probe Gallery")).size() == 2; }, 5000);
    QThread::msleep(500);
    const QImage screen = desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/widgets-gallery.png"));
    ASSERT_FALSE(screen.isNull());

    probe.send(QStringLiteral("symbols 660 20"));
    ASSERT_FALSE(probe.waitFor(QStringLiteral("symbols-shown")).isEmpty());
    ASSERT_NE(waitForWindow(desktop, QStringLiteral("Probe Symbols")), 0u);
    QThread::msleep(300);
    ASSERT_FALSE(desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/widgets-symbols.png")).isNull());
}
