#pragma once
// A throw-away X desktop for end-to-end tests: Xvfb on a free display, a window manager, a
// panel with a tray when asked, optionally a compositor, and a private HOME. Everything it
// starts is ended by pid when it goes.

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QJsonObject>
#include <QJsonValue>
#include <QProcess>
#include <QProcessEnvironment>
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
};
