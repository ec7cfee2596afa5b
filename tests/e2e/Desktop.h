#pragma once
// A throw-away X desktop for end-to-end tests: Xvfb on a free display, a window manager, a
// panel with a tray when asked, optionally a compositor, and a private HOME. Everything it
// starts is ended by pid when it goes. The program runs with its stall watch on (250 ms unless the environment
// sets PICTOLARIUM_STALL_WATCH), and a stall of its event loop over twice that fails the test when the desktop
// goes; the launch, up to the loop's first turn, is let pass.

#include <QImage>
#include <QJsonObject>
#include <QJsonValue>
#include <QPoint>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <vector>

class Desktop {
public:
    struct Options {
        bool windowManager = true;
        bool tray = true;
        bool compositor = false;
        // A first run shows the welcome tour; other tests start as a returning user.
        bool firstRun = false;
        // The program (and its tools) can write no file, which binds root as a read-only folder does not.
        bool noRoomToWrite = false;
        QSize size{1280, 800};
    };

    Desktop();
    explicit Desktop(Options options);
    ~Desktop();
    Desktop(const Desktop&) = delete;
    Desktop& operator=(const Desktop&) = delete;

    bool ok() const { return started; }
    QString error() const { return failure; }
    QString display() const { return QStringLiteral(":") + QString::number(number); }
    QString home() const;
    QString runtimeDir() const;
    QString configHome() const;
    QString shotsFolder() const { return home() + QStringLiteral("/Pictures/Pictolarium"); }
    QProcessEnvironment environment() const { return env; }
    // For programs started afterwards, the app among them.
    void setEnvironment(const QString& name, const QString& value) { env.insert(name, value); }
    // A folder of the temporary tree, created on first use.
    QString folder(const QString& name) const;

    // Starts a program on this desktop; it is ended when the desktop goes.
    QProcess* start(const QString& program, const QStringList& args = {});
    // Runs a program to completion (or the timeout); returns its standard output.
    QString run(const QString& program, const QStringList& args, int* exitCode = nullptr, int timeoutMs = 15000);

    // The program under test. waitReady waits until it listens for later launches.
    QProcess* startApp(const QStringList& args = {});
    bool waitForApp(int timeoutMs = 10000);
    QProcess* app() const { return appProcess; }
    QString appStderr();

    // Ends the X server under everything on it, as a logout or a display restart does.
    void killDisplay();

    void xdotool(const QStringList& args);
    void moveTo(QPoint point);
    QImage screenshot(const QString& savePath = {});

    // X queries through our own connection.
    bool selectionOwned(const QString& selection) const;
    QList<quint32> windowsByName(const QString& pattern);
    QRect windowGeometry(quint32 window);
    // The client area as the server has it, whatever frame the window manager put around it
    // (xdotool reports reparented windows off by the frame).
    QRect clientGeometry(quint32 window);
    quint32 activeWindow();

    static bool waitUntil(const std::function<bool()>& condition, int timeoutMs, int stepMs = 50);
    // Lets the event loop and the other programs run for a while.
    static void pause(int ms);
    // Where screenshots for a person to look at are kept (created on first use).
    static QString shotsDir();
    // One stored setting as the program writes it: {"t": type, "v": value}.
    static QJsonObject typed(const char* type, const QJsonValue& value);
    // A file's SHA-256; empty when it cannot be read.
    static QByteArray digest(const QString& path);
    // A figure of a process's memory in kB from /proc: "VmRSS" what it holds now, "VmHWM" the most it held;
    // -1 when it cannot be read.
    static qint64 memoryKb(qint64 pid, const char* field = "VmRSS");

    // For tests that work a card and its editors: the settings of a returning user at size 1 with every pill
    // tool in `hiddenTools` hidden (the tour and the tool-order migrations already done), plus `extra`.
    bool writeCardSettings(const QStringList& hiddenTools, const QJsonObject& extra = {});
    // The first visible window whose name matches, 0 if none; waiting until one is (or none is) shown.
    quint32 visibleWindow(const QString& title);
    quint32 waitVisible(const QString& title, bool shown = true, int timeoutMs = 5000);
    void click(QPoint at, int count = 1);
    // Button 1 held along the path, each leg in `steps` moves.
    void drag(const QList<QPoint>& path, int steps = 10);
    void key(const QString& keys);

private:
    void launch(const Options& options);
    void stopAll();
    void terminate(QProcess* process);

    Options opts;
    QTemporaryDir dir;
    QProcessEnvironment env;
    int number = 0;
    bool started = false;
    QString failure;
    QProcess* xvfb = nullptr;
    QProcess* appProcess = nullptr;
    QByteArray appErr;
    std::vector<std::unique_ptr<QProcess>> processes;

public:
    // For tests that work a card and its tools.
    // Opens a picture as a card with the pointer mid-screen: the card's window once shown, other than `previous`
    // (which may still be fading out); 0 if none came.
    quint32 openCard(const QString& path, quint32 previous = 0);
    // The centre of a button of a card's pill at size 1: `tools` tools 30 wide and 2 apart, a divider, the format
    // button, and with `share` another divider and share. Index `tools` is the format button, `tools + 1` share.
    QPoint pillButton(quint32 card, int tools, bool share, int index);
    // One stored setting's value; undefined when it is not stored.
    QJsonValue setting(const QString& key);
    // The white picture inside a card's window, found on the screen: rows with a long white run above the pill
    // (whose symbols and the close button's cross are white too, but short).
    static QRect pictureOnScreen(const QImage& screen, const QRect& card);
    // A white 900 × 400 picture with an e-mail address (across 400, 50) and a card number (across 300, 120) in
    // plain dark type, for the redact tool.
    static bool writeSecretsPicture(const QString& path);
    // Waits until a toast is shown (or none is).
    bool waitToast(bool shown = true, int timeoutMs = 3000);
    // The centre of our icon docked in the panel's tray at the bottom; null if none came.
    QPoint trayIcon();
    // Another program holding the keyboard: an xterm titled "keylog" whose shell writes every byte typed into
    // it to `log`, and "INT" for an interrupt (Ctrl+C), which it survives. Focused, and seen to log a key of its
    // own before the log is emptied; its window id, or 0. A second one needs a title of its own.
    quint32 keyLogTerminal(const QString& log, QPoint at = {20, 560}, const QString& title = QStringLiteral("keylog"));
};
