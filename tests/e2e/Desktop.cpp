#include "Desktop.h"
#include "support/NoRoomToWrite.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QRegularExpression>
#include <QThread>

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <unistd.h>

namespace {

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <typename T> using Reply = std::unique_ptr<T, FreeDeleter>;

struct Connection {
    explicit Connection(const QString& display) { c = xcb_connect(display.toUtf8().constData(), nullptr); }
    ~Connection() {
        if (c)
            xcb_disconnect(c);
    }
    bool ok() const { return c && !xcb_connection_has_error(c); }
    xcb_atom_t atom(const char* name) const {
        Reply<xcb_intern_atom_reply_t> r(
            xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(strlen(name)), name), nullptr));
        return r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
    }
    xcb_connection_t* c = nullptr;
};

// The threshold the program's stall watch reports above; a test fails on a stall of twice as long. A sanitizer
// build, several times slower, sets a larger one in the environment.
int stallWatchMs(const QProcessEnvironment& env) {
    const int ms = env.value(QStringLiteral("PICTOLARIUM_STALL_WATCH")).toInt();
    return ms > 0 ? ms : 250;
}

// Fails the test on each stall of the program's event loop past the limit, with what was running; those of its
// launch, before the loop first turned, pass.
void failOnStalls(const QString& err, int limitMs) {
    static const QRegularExpression report(
        QStringLiteral("pictolarium: stall of (\\d+) ms(?! during start-up)[^\n]*\n(?:    [^\n]*\n)*"));
    for (auto it = report.globalMatch(err); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        if (m.captured(1).toInt() > limitMs)
            ADD_FAILURE() << "the program stopped answering (limit " << limitMs << " ms):\n"
                          << m.captured(0).toStdString();
    }
}

} // namespace

Desktop::Desktop() : Desktop(Options{}) {}

Desktop::Desktop(Options options) : opts(options) {
    launch(options);
}

Desktop::~Desktop() {
    const QString app = appStderr();
    stopAll();
    failOnStalls(app, 2 * stallWatchMs(env));
    // What the programs said on their error output helps to read a failure; a passing test keeps quiet.
    if (!::testing::Test::HasFailure())
        return;
    auto tell = [](const QString& who, const QByteArray& text) {
        if (!text.trimmed().isEmpty())
            std::fprintf(stderr, "---- %s said:\n%s\n", qPrintable(who), text.right(4000).constData());
    };
    tell(QStringLiteral("pictolarium"), app.toUtf8());
    const QDir logs(dir.path() + QStringLiteral("/logs"));
    for (const QFileInfo& log : logs.entryInfoList(QDir::Files, QDir::Name)) {
        QFile file(log.filePath());
        if (file.open(QIODevice::ReadOnly))
            tell(log.completeBaseName(), file.readAll());
    }
}

QString Desktop::home() const {
    return dir.path() + QStringLiteral("/home");
}
QString Desktop::folder(const QString& name) const {
    const QString path = dir.path() + QLatin1Char('/') + name;
    QDir().mkpath(path);
    return path;
}

QString Desktop::runtimeDir() const {
    return dir.path() + QStringLiteral("/runtime");
}
QString Desktop::configHome() const {
    return dir.path() + QStringLiteral("/config");
}

bool Desktop::waitUntil(const std::function<bool()>& condition, int timeoutMs, int stepMs) {
    QElapsedTimer timer;
    timer.start();
    while (true) {
        if (condition())
            return true;
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, stepMs);
        QThread::msleep(stepMs);
    }
}

void Desktop::pause(int ms) {
    waitUntil([] { return false; }, ms);
}

QString Desktop::shotsDir() {
    const QString dir = QStringLiteral(E2E_SHOTS_DIR);
    QDir().mkpath(dir);
    return dir;
}

QJsonObject Desktop::typed(const char* type, const QJsonValue& value) {
    return QJsonObject{{QStringLiteral("t"), QLatin1String(type)}, {QStringLiteral("v"), value}};
}

QByteArray Desktop::digest(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256)
                                          : QByteArray();
}

qint64 Desktop::memoryKb(qint64 pid, const char* field) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix = QByteArray(field) + ':';
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').first().toLongLong();
    return -1;
}

void Desktop::launch(const Options& options) {
    for (const char* sub : {"home", "config", "data", "cache", "runtime"})
        QDir().mkpath(dir.path() + QLatin1Char('/') + QLatin1String(sub));
    QFile::setPermissions(runtimeDir(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome());
    env.insert(QStringLiteral("XDG_DATA_HOME"), dir.path() + QStringLiteral("/data"));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), dir.path() + QStringLiteral("/cache"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir());
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.insert(QStringLiteral("PICTOLARIUM_STALL_WATCH"), QString::number(stallWatchMs(env)));
    // The language model's warm-up at launch goes nowhere unless a test gives it a host of its own.
    env.insert(QStringLiteral("PICTOLARIUM_LLM_MODEL_URL"), QStringLiteral("http://127.0.0.1:1/model"));
    env.insert(QStringLiteral("PICTOLARIUM_LLM_ENGINE_URL"), QStringLiteral("http://127.0.0.1:1/engine"));

    // Parallel test processes race for displays; Xvfb refuses a taken one and we try the next.
    const int base = 200 + int(getpid() % 500);
    for (int attempt = 0; attempt < 40 && !started; ++attempt) {
        number = base + attempt * 7;
        if (QFileInfo::exists(QStringLiteral("/tmp/.X%1-lock").arg(number)) ||
            QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number)))
            continue;
        auto* p = new QProcess();
        p->setProcessEnvironment(env);
        p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p->setStandardOutputFile(QProcess::nullDevice());
        p->start(QStringLiteral("Xvfb"),
                 {display(), QStringLiteral("-noreset"), QStringLiteral("-nolisten"), QStringLiteral("tcp"),
                  QStringLiteral("-screen"), QStringLiteral("0"),
                  QStringLiteral("%1x%2x24").arg(options.size.width()).arg(options.size.height())});
        if (!p->waitForStarted(5000)) {
            delete p;
            failure = QStringLiteral("Xvfb did not start");
            return;
        }
        const bool up = waitUntil(
            [&] {
                if (p->state() != QProcess::Running)
                    return true;
                Connection c(display());
                return c.ok();
            },
            10000);
        if (up && p->state() == QProcess::Running) {
            xvfb = p;
            processes.emplace_back(p);
            started = true;
        } else {
            p->kill();
            p->waitForFinished(2000);
            delete p;
        }
    }
    if (!started) {
        failure = QStringLiteral("no free display for Xvfb");
        return;
    }
    env.insert(QStringLiteral("DISPLAY"), display());

    if (options.windowManager) {
        start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
        const bool wm = waitUntil(
            [&] {
                Connection c(display());
                if (!c.ok())
                    return false;
                const xcb_atom_t check = c.atom("_NET_SUPPORTING_WM_CHECK");
                xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c.c)).data->root;
                Reply<xcb_get_property_reply_t> r(
                    xcb_get_property_reply(c.c, xcb_get_property(c.c, 0, root, check, XCB_ATOM_WINDOW, 0, 1), nullptr));
                return r && xcb_get_property_value_length(r.get()) == 4;
            },
            10000);
        if (!wm) {
            started = false;
            failure = QStringLiteral("openbox did not start");
            return;
        }
    }
    if (options.compositor) {
        start(QStringLiteral("xcompmgr"));
        waitUntil([&] { return selectionOwned(QStringLiteral("_NET_WM_CM_S0")); }, 5000);
    }
    if (options.tray) {
        // A minimal panel: a tray at the bottom right, nothing else.
        const QString rc = dir.path() + QStringLiteral("/tint2rc");
        QFile f(rc);
        if (f.open(QIODevice::WriteOnly)) {
            f.write("panel_items = S\npanel_position = bottom right horizontal\npanel_size = 200 30\n"
                    "panel_background_id = 1\nbackground_color = #202020 100\nsystray_padding = 4 4 4\n"
                    "systray_icon_size = 22\nsystray_sort = ascending\n");
            f.close();
        }
        start(QStringLiteral("tint2"), {QStringLiteral("-c"), rc});
        if (!waitUntil([&] { return selectionOwned(QStringLiteral("_NET_SYSTEM_TRAY_S0")); }, 10000)) {
            started = false;
            failure = QStringLiteral("the tray did not start");
        }
    }
}

QProcess* Desktop::start(const QString& program, const QStringList& args) {
    auto* p = new QProcess();
    p->setProcessEnvironment(env);
    p->setStandardOutputFile(QProcess::nullDevice());
    p->setStandardErrorFile(folder(QStringLiteral("logs")) + QLatin1Char('/') + QFileInfo(program).fileName() +
                            QLatin1Char('-') + QString::number(processes.size()) + QStringLiteral(".err"));
    p->start(program, args);
    p->waitForStarted(5000);
    processes.emplace_back(p);
    return p;
}

QString Desktop::run(const QString& program, const QStringList& args, int* exitCode, int timeoutMs) {
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(1000);
        if (exitCode)
            *exitCode = -1;
        return {};
    }
    if (exitCode)
        *exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return QString::fromUtf8(p.readAllStandardOutput());
}

QProcess* Desktop::startApp(const QStringList& args) {
    // A returning user unless the test asks for a first run: the tour would cover the screen.
    if (!opts.firstRun) {
        const QString folder = configHome() + QStringLiteral("/Pictolarium");
        QDir().mkpath(folder);
        QFile file(folder + QStringLiteral("/org.pictolarium.Pictolarium.json"));
        QJsonObject settings;
        if (file.open(QIODevice::ReadOnly))
            settings = QJsonDocument::fromJson(file.readAll()).object();
        file.close();
        if (!settings.contains(QStringLiteral("onboardingSeen"))) {
            settings[QStringLiteral("onboardingSeen")] =
                QJsonObject{{QStringLiteral("t"), QStringLiteral("bool")}, {QStringLiteral("v"), true}};
            if (file.open(QIODevice::WriteOnly))
                file.write(QJsonDocument(settings).toJson());
        }
    }
    auto* p = new QProcess();
    p->setProcessEnvironment(env);
    p->setStandardOutputFile(QProcess::nullDevice());
    p->setReadChannel(QProcess::StandardError);
    QObject::connect(p, &QProcess::readyReadStandardError, [this, p] { appErr += p->readAllStandardError(); });
    if (opts.noRoomToWrite)
        p->setChildProcessModifier([] { NoRoomToWrite::forThisChild(); });
    p->start(QStringLiteral(PICTOLARIUM_BIN), args);
    p->waitForStarted(5000);
    processes.emplace_back(p);
    appProcess = p;
    return p;
}

bool Desktop::waitForApp(int timeoutMs) {
    const QString socket = runtimeDir() + QStringLiteral("/pictolarium.socket");
    return waitUntil(
               [&] { return QFileInfo::exists(socket) || (appProcess && appProcess->state() != QProcess::Running); },
               timeoutMs) &&
           appProcess && appProcess->state() == QProcess::Running;
}

QString Desktop::appStderr() {
    if (appProcess)
        appErr += appProcess->readAllStandardError();
    return QString::fromUtf8(appErr);
}

void Desktop::xdotool(const QStringList& args) {
    run(QStringLiteral("xdotool"), args);
}

QImage Desktop::screenshot(const QString& savePath) {
    const QString path = savePath.isEmpty() ? dir.path() + QStringLiteral("/screen.png") : savePath;
    run(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"), path});
    return QImage(path);
}

bool Desktop::selectionOwned(const QString& selection) const {
    Connection c(display());
    if (!c.ok())
        return false;
    const xcb_atom_t atom = c.atom(selection.toLatin1().constData());
    Reply<xcb_get_selection_owner_reply_t> r(
        xcb_get_selection_owner_reply(c.c, xcb_get_selection_owner(c.c, atom), nullptr));
    return r && r->owner != XCB_WINDOW_NONE;
}

QList<quint32> Desktop::windowsByName(const QString& pattern) {
    int code = 0;
    const QString out =
        run(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--name"), pattern}, &code);
    QList<quint32> ids;
    for (const QString& line : out.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        ids.append(line.trimmed().toUInt());
    return ids;
}

QRect Desktop::clientGeometry(quint32 window) {
    const QString out = run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), QString::number(window)});
    auto field = [&](const char* name) {
        const QRegularExpression re(QStringLiteral("%1:\\s+(-?\\d+)").arg(QLatin1String(name)));
        return re.match(out).captured(1).toInt();
    };
    return QRect(field("Absolute upper-left X"), field("Absolute upper-left Y"), field("Width"), field("Height"));
}

void Desktop::moveTo(QPoint point) {
    xdotool({QStringLiteral("mousemove"), QString::number(point.x()), QString::number(point.y())});
}

QRect Desktop::windowGeometry(quint32 window) {
    const QString out = run(QStringLiteral("xdotool"), {QStringLiteral("getwindowgeometry"), QString::number(window)});
    static const QRegularExpression pos(QStringLiteral("Position: (-?\\d+),(-?\\d+)"));
    static const QRegularExpression size(QStringLiteral("Geometry: (\\d+)x(\\d+)"));
    const auto p = pos.match(out), s = size.match(out);
    if (!p.hasMatch() || !s.hasMatch())
        return {};
    return QRect(p.captured(1).toInt(), p.captured(2).toInt(), s.captured(1).toInt(), s.captured(2).toInt());
}

quint32 Desktop::activeWindow() {
    return run(QStringLiteral("xdotool"), {QStringLiteral("getactivewindow")}).trimmed().toUInt();
}

void Desktop::killDisplay() {
    terminate(xvfb);
}

void Desktop::terminate(QProcess* process) {
    if (!process || process->state() == QProcess::NotRunning)
        return;
    process->terminate();
    if (!process->waitForFinished(2000)) {
        process->kill();
        process->waitForFinished(2000);
    }
}

void Desktop::stopAll() {
    // Newest first: the app before the panel, the panel before the window manager, Xvfb last.
    for (auto it = processes.rbegin(); it != processes.rend(); ++it)
        terminate(it->get());
    processes.clear();
}

bool Desktop::writeCardSettings(const QStringList& hiddenTools, const QJsonObject& extra) {
    QJsonObject settings = extra;
    settings[QStringLiteral("picto.sizeScale")] = typed("double", 1.0);
    for (const char* flag :
         {"picto.toolShareSecondLastV6", "picto.toolResizeRotateV5", "picto.toolOrderV2", "onboardingSeen"})
        settings[QLatin1String(flag)] = typed("bool", true);
    QJsonArray hidden;
    for (const QString& id : hiddenTools)
        hidden.append(typed("string", id));
    settings[QStringLiteral("picto.toolHidden")] = typed("array", hidden);
    QDir().mkpath(configHome() + QStringLiteral("/Pictolarium"));
    QFile file(configHome() + QStringLiteral("/Pictolarium/org.pictolarium.Pictolarium.json"));
    return file.open(QIODevice::WriteOnly) && file.write(QJsonDocument(settings).toJson()) > 0 && file.flush();
}

quint32 Desktop::visibleWindow(const QString& title) {
    const QString out = run(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                                        QStringLiteral("--name"), title});
    return out.split(QLatin1Char('\n'), Qt::SkipEmptyParts).value(0).trimmed().toUInt();
}

quint32 Desktop::waitVisible(const QString& title, bool shown, int timeoutMs) {
    quint32 id = 0;
    waitUntil([&] { return ((id = visibleWindow(title)) != 0) == shown; }, timeoutMs, 100);
    pause(300);
    return id;
}

void Desktop::click(QPoint at, int count) {
    moveTo(at);
    pause(150);
    QStringList args{QStringLiteral("click")};
    if (count > 1)
        args << QStringLiteral("--repeat") << QString::number(count) << QStringLiteral("--delay")
             << QStringLiteral("80");
    xdotool(args << QStringLiteral("1"));
}

void Desktop::drag(const QList<QPoint>& path, int steps) {
    moveTo(path.first());
    pause(100);
    xdotool({QStringLiteral("mousedown"), QStringLiteral("1")});
    // A press that starts a window move is handed to the window manager, which takes the pointer where it finds it:
    // give it the time, on a busy machine, to take it before the first step.
    pause(120);
    for (qsizetype i = 1; i < path.size(); ++i)
        for (int step = 1; step <= steps; ++step) {
            moveTo(path[i - 1] + (path[i] - path[i - 1]) * step / steps);
            pause(15);
        }
    // Let the last step land first: a window manager moving a window drops motion that comes after the release.
    pause(80);
    xdotool({QStringLiteral("mouseup"), QStringLiteral("1")});
    pause(200);
}

void Desktop::key(const QString& keys) {
    xdotool({QStringLiteral("key"), keys});
}

quint32 Desktop::openCard(const QString& path, quint32 previous) {
    moveTo(QPoint(640, 400));
    run(QStringLiteral(PICTOLARIUM_BIN), {path});
    quint32 card = 0;
    waitUntil([&] { return (card = visibleWindow(QStringLiteral("^Pictolarium Card$"))) != 0 && card != previous; },
              8000, 100);
    pause(400);
    return card != previous ? card : 0;
}

QPoint Desktop::pillButton(quint32 card, int tools, bool share, int index) {
    const QRect frame = clientGeometry(card);
    const int width = 8 + tools * 32 - 2 + 5 + 64 + (share ? 5 + 30 : 0) + 8;
    const int left = frame.center().x() - width / 2 + 8;
    const int x = index < tools    ? left + index * 32 + 15
                  : index == tools ? left + tools * 32 - 2 + 5 + 32
                                   : left + tools * 32 - 2 + 5 + 64 + 5 + 15;
    return QPoint(x, frame.bottom() - 22 - 18);
}

QJsonValue Desktop::setting(const QString& key) {
    QFile file(configHome() + QStringLiteral("/Pictolarium/org.pictolarium.Pictolarium.json"));
    if (!file.open(QIODevice::ReadOnly))
        return QJsonValue(QJsonValue::Undefined);
    return QJsonDocument::fromJson(file.readAll()).object().value(key).toObject().value(QStringLiteral("v"));
}

QRect Desktop::pictureOnScreen(const QImage& screen, const QRect& card) {
    QRect found;
    for (int y = card.top(); y <= card.bottom() - 84; ++y) {
        int start = -1;
        for (int x = card.left(); x <= card.right() + 1; ++x) {
            const QColor c = screen.rect().contains(x, y) ? screen.pixelColor(x, y) : QColor(Qt::black);
            const bool white = x <= card.right() && c.red() > 245 && c.green() > 245 && c.blue() > 245;
            if (white && start < 0)
                start = x;
            if (!white && start >= 0) {
                if (x - start >= 40)
                    found |= QRect(start, y, x - start, 1);
                start = -1;
            }
        }
    }
    return found;
}

bool Desktop::writeSecretsPicture(const QString& path) {
    QImage image(900, 400, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(28);
    painter.setFont(font);
    painter.setPen(QColor(20, 20, 20));
    painter.drawText(30, 60, QStringLiteral("Write to jane.doe@example.com today"));
    painter.drawText(30, 130, QStringLiteral("Card 4111 1111 1111 1111 expires soon"));
    painter.end();
    return image.save(path);
}

bool Desktop::waitToast(bool shown, int timeoutMs) {
    return waitUntil([&] { return (visibleWindow(QStringLiteral("^Pictolarium Toast$")) != 0) == shown; }, timeoutMs,
                     50);
}

QPoint Desktop::trayIcon() {
    QPoint at;
    waitUntil(
        [&] {
            const QString out = run(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--classname"),
                                                                QStringLiteral("pictolarium")});
            for (const QString& id : out.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
                if (const QRect r = windowGeometry(id.toUInt()); r.width() <= 32 && r.top() > opts.size.height() - 100)
                    at = r.center();
            return !at.isNull();
        },
        8000, 200);
    return at;
}

quint32 Desktop::keyLogTerminal(const QString& log, QPoint at, const QString& title) {
    QFile(log).open(QIODevice::WriteOnly); // empty, so that any byte in it came from a key
    const QString script = QStringLiteral("trap 'printf INT >> \"$0\"' INT; stty -icanon -echo min 1; "
                                          "while :; do dd bs=1 count=1 >> \"$0\" 2>/dev/null; done");
    start(QStringLiteral("xterm"), {QStringLiteral("-title"), title, QStringLiteral("-geometry"),
                                    QStringLiteral("50x8+%1+%2").arg(at.x()).arg(at.y()), QStringLiteral("-e"),
                                    QStringLiteral("sh"), QStringLiteral("-c"), script, log});
    quint32 id = 0;
    waitUntil(
        [&] {
            id = windowsByName(u'^' + title + u'$').value(0);
            return id != 0;
        },
        8000, 100);
    if (!id)
        return 0;
    xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), QString::number(id)});
    if (!waitUntil([&] { return activeWindow() == id; }, 3000)) // no window manager to ask: given it directly
        xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), QString::number(id)});
    // The shell is reading before the first key is typed.
    pause(300);
    // A key of our own must reach the log, or a test that finds it empty would prove nothing; emptied again after.
    const auto logged = [&] {
        QFile file(log);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    key(QStringLiteral("x"));
    if (!waitUntil([&] { return logged() == "x"; }, 5000))
        return 0;
    QFile(log).open(QIODevice::WriteOnly | QIODevice::Truncate);
    pause(100);
    return id;
}
