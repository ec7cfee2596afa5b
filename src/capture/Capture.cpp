#include "capture/Capture.h"

#include "imaging/ShotFiles.h"
#include "platform/Dispatch.h"
#include "platform/WindowList.h"
#include "ui/OwnWindows.h"
#include "ui/UI.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QLocale>
#include <QPointer>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

#include <memory>
#include <utility>

namespace Capture {

namespace {

// A window or screen capture takes well under a second; a tool stuck far longer than that must not
// freeze the program for good.
constexpr int toolTimeoutMs = 20000;
// Nobody drags one slice for ten minutes; a slice left open that long was forgotten (or is stuck)
// and must not keep the screen frozen under its overlay.
constexpr int sliceTimeoutMs = 10 * 60 * 1000;

WindowList* injectedList = nullptr;
QString injectedTool;

// Until the program hands in its desktop there is nothing to capture.
class NoDesktop final : public WindowList {
public:
    QList<Window> windows() override { return {}; }
    std::optional<Window> window(quint32) override { return std::nullopt; }
    QPoint pointer() override { return {}; }
    QList<QRect> screens() override { return {}; }
    QImage grab(const QRect&, QString* error) override {
        if (error)
            *error = QStringLiteral("No screen to capture");
        return {};
    }
};

WindowList& list() {
    if (injectedList)
        return *injectedList;
    static NoDesktop none;
    return none;
}

QImage load(const QString& path) {
    QImageReader reader(path);
    return reader.read();
}

// Our tool prints the path it wrote, which differs from the target when another file took that
// name between our test and its write. Only a sibling of the target is believed.
QString writtenPath(const QString& target, const QByteArray& output) {
    const QStringList lines = QString::fromUtf8(output).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    if (!lines.isEmpty()) {
        const QString reported = lines.last().trimmed();
        if (QFileInfo(reported).absolutePath() == QFileInfo(target).absolutePath())
            return reported;
    }
    return target;
}

// The folder as people say it: under the home folder it starts with "~".
QString shown(const QString& path) {
    const QString home = QDir::homePath();
    if (path == home)
        return QStringLiteral("~");
    if (path.startsWith(home + QLatin1Char('/')))
        return QLatin1Char('~') + path.mid(home.size());
    return path;
}

QString quoted(const QString& path) {
    return QStringLiteral("\u201c") + shown(path) + QStringLiteral("\u201d");
}

// The tool's own report, after "pictolarium-screencapture: ", turned into a sentence for the user.
// Its system errors come in the C locale's words, which is what is matched here.
QString ourWords(const QString& toolText, const QString& folder) {
    if (toolText.contains(QStringLiteral("No space left")) || toolText.contains(QStringLiteral("quota exceeded")))
        return QStringLiteral("Can't save the screenshot in ") + quoted(folder) + QStringLiteral(": the disk is full.");
    if (toolText.contains(QStringLiteral("Read-only file system")) ||
        toolText.contains(QStringLiteral("Permission denied")) ||
        toolText.contains(QStringLiteral("Operation not permitted")))
        return QStringLiteral("Can't save the screenshot in ") + quoted(folder) +
               QStringLiteral(": the folder is read-only.");
    // A file-size limit of the session or of the folder's file system.
    if (toolText.contains(QStringLiteral("File too large")))
        return QStringLiteral("Can't save the screenshot in ") + quoted(folder) +
               QStringLiteral(": the file is larger than this system allows.");
    if (toolText.contains(QStringLiteral("No such file or directory")) ||
        toolText.contains(QStringLiteral("Not a directory")))
        return QStringLiteral("Can't save the screenshot: the folder ") + quoted(folder) + QStringLiteral(" is gone.");
    if (toolText.contains(QStringLiteral("cannot write")))
        return QStringLiteral("Can't save the screenshot in ") + quoted(folder) + QLatin1Char('.');
    if (toolText.contains(QStringLiteral("not on screen")) || toolText.contains(QStringLiteral("no window ")) ||
        toolText.contains(QStringLiteral("off screen")))
        return QStringLiteral("The window was gone before it could be captured.");
    if (toolText.contains(QStringLiteral("cannot open the display")))
        return QStringLiteral("Can't reach the display to capture it.");
    if (toolText.contains(QStringLiteral("could not grab")))
        return QStringLiteral("Another program holds the keyboard or the pointer, so the slice could not start.");
    if (toolText.contains(QStringLiteral("left open too long")))
        return QStringLiteral("The slice was left open too long and was closed.");
    if (toolText.contains(QStringLiteral("slice overlay")))
        return QStringLiteral("The slice could not start: its overlay did not appear on the screen.");
    if (toolText.contains(QStringLiteral("lost the connection")))
        return QStringLiteral("The connection to the display was lost during the capture.");
    if (toolText.contains(QStringLiteral("not supported")))
        return QStringLiteral("The display's colour format is not supported.");
    return QStringLiteral("Capture failed");
}

QStringList common(const QString& target) {
    return {QStringLiteral("-x"), QStringLiteral("-t"), QStringLiteral("png"), target};
}

// Starts the tool; throws the launcher's own message when it cannot run at all.
void launch(QProcess& process, const QStringList& arguments) {
    process.setProgram(tool());
    process.setArguments(arguments);
    process.start();
    if (!process.waitForStarted(toolTimeoutMs))
        throw UserError(process.errorString());
}

bool finish(QProcess& process) {
    if (process.waitForFinished(toolTimeoutMs))
        return true;
    process.kill();
    process.waitForFinished(1000);
    return false;
}

} // namespace

void setWindowList(WindowList* windowList) {
    injectedList = windowList;
}

void setTool(const QString& path) {
    injectedTool = path;
}

QString tool() {
    if (!injectedTool.isEmpty())
        return injectedTool;
    const QString name = QStringLiteral("pictolarium-screencapture");
    const QString here = QCoreApplication::applicationDirPath();
    for (const QString& candidate :
         {here + QLatin1Char('/') + name, here + QStringLiteral("/../tools/screencapture/") + name}) {
        if (QFileInfo(candidate).isExecutable())
            return QDir::cleanPath(candidate);
    }
    const QString onPath = QStandardPaths::findExecutable(name);
    return onPath.isEmpty() ? name : onPath;
}

QList<WindowInfo> windows() {
    const qint64 own = QCoreApplication::applicationPid();
    QList<WindowInfo> result;
    for (const WindowList::Window& w : list().windows()) {
        if (!w.normal || !w.visible)
            continue;
        if (w.frame.width() <= 40 || w.frame.height() <= 40)
            continue;
        if (w.pid == own)
            continue;
        if (w.opacity && *w.opacity <= 0.05)
            continue;
        result.append({w.id, w.pid, w.app.isEmpty() ? QStringLiteral("Window") : w.app, w.frame});
    }
    return result;
}

QPoint mouseCG() {
    return list().pointer();
}

std::optional<WindowInfo> windowUnderCursor() {
    const QPoint mouse = mouseCG();
    for (const WindowInfo& w : windows())
        if (w.bounds.contains(mouse))
            return w;
    return std::nullopt;
}

QString shotPath(const QString& folder, const QString& source, const QDateTime& at) {
    QString word = source;
    word.replace(QLatin1Char('/'), QLatin1Char('-'));
    const QString base = folder + QLatin1Char('/') + word + QLatin1Char(' ') +
                         QLocale().toString(at, QStringLiteral("yyyy-MM-dd 'at' HH.mm.ss"));
    QString path = base + QStringLiteral(".png");
    for (int n = 2; QFileInfo::exists(path); ++n)
        path = base + QLatin1Char(' ') + QString::number(n) + QStringLiteral(".png");
    return path;
}

QString folderProblem(const QString& folder) {
    const QFileInfo info(folder);
    if (info.exists() && !info.isDir())
        return QStringLiteral("Can't save screenshots: ") + quoted(folder) +
               QStringLiteral(" is a file, not a folder. Move it away and try again.");
    if (!info.exists()) {
        // Made here rather than by the folder's getter, which has no way to say why it failed.
        if (QDir().mkpath(folder) && QFileInfo(folder).isDir())
            return {};
        // The deepest part of the path that exists is where it went wrong.
        QString existing = info.absolutePath();
        while (!QFileInfo::exists(existing) && QFileInfo(existing).absolutePath() != existing)
            existing = QFileInfo(existing).absolutePath();
        if (!QFileInfo(existing).isDir())
            return QStringLiteral("Can't save screenshots in ") + quoted(folder) + QStringLiteral(": ") +
                   quoted(existing) + QStringLiteral(" is a file, not a folder.");
        return QStringLiteral("Can't save screenshots: the folder ") + quoted(folder) +
               QStringLiteral(" can't be made, because ") + quoted(existing) + QStringLiteral(" is read-only.");
    }
    if (!info.isWritable())
        return QStringLiteral("Can't save screenshots in ") + quoted(folder) +
               QStringLiteral(": the folder is read-only.");
    return {};
}

namespace {

// The screenshot folder, ready to take a file, or a CaptureError saying why it is not.
QString readyFolder() {
    const QString folder = ShotFiles::shotsFolder();
    const QString problem = folderProblem(folder);
    if (!problem.isEmpty())
        throw CaptureError(problem);
    return folder;
}

QString toolReport(QProcess& process) {
    QString text = QString::fromUtf8(process.readAllStandardError()).trimmed();
    const QString prefix = QStringLiteral("pictolarium-screencapture: ");
    if (text.startsWith(prefix))
        text = text.mid(prefix.size());
    return text;
}

} // namespace

QString screencapture(quint32 window, const QString& target) {
    QProcess process;
    launch(process, QStringList{QStringLiteral("-l"), QString::number(window), QStringLiteral("-o")} + common(target));
    const bool exited = finish(process);
    const QString text = toolReport(process);
    const QString written = writtenPath(target, process.readAllStandardOutput());
    if (exited && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0 && QFileInfo::exists(written))
        return written;
    if (!text.isEmpty() && !text.contains(QStringLiteral("could not create image")))
        throw CaptureError(ourWords(text, QFileInfo(target).absolutePath()));
    // There is no permission to ask for here: a tool that fails without saying why still failed.
    throw CaptureError(QStringLiteral("Capture failed"));
}

namespace {

// A window or screen capture in its two halves: what is asked on the main thread (the folder, the name, our
// windows stepping aside) and the grab itself, which runs the tool and reads its picture on any thread.
struct Grab {
    std::optional<WindowInfo> window; // the monitor numbered `display` when none
    int display = 1;
    QString target;
    QString app;
    std::function<void()> showAgain = [] {};
    int repaintWait = 0; // how long what our windows uncovered takes to be painted, before the grab
};

// `waitHere`: the repaint is waited for on this thread; otherwise by take().
Grab prepare(const std::optional<WindowInfo>& window, bool waitHere) {
    Grab grab;
    grab.window = window;
    if (window) {
        grab.app = window->app;
        grab.target = shotPath(readyFolder(), window->app, QDateTime::currentDateTime());
        // Under a compositor the tool copies the window's own picture, which nothing of ours covers: the
        // card stays put. Without one it copies the screen, so our windows must step aside for the moment.
        if (!UI::composited())
            grab.showAgain = OwnWindows::hideOver(window->bounds, &grab.repaintWait);
        if (waitHere)
            QThread::msleep(static_cast<unsigned long>(std::exchange(grab.repaintWait, 0)));
        return grab;
    }
    const QPoint mouse = mouseCG();
    const QList<QRect> screens = list().screens();
    if (screens.isEmpty())
        throw CaptureError(QStringLiteral("No screen to capture"));
    QRect chosen = screens.first();
    for (const QRect& s : screens) {
        if (s.contains(mouse)) {
            chosen = s;
            break;
        }
    }
    grab.app = QStringLiteral("Screen");
    grab.target = shotPath(readyFolder(), grab.app, QDateTime::currentDateTime());
    grab.display = int(screens.indexOf(chosen)) + 1;
    grab.showAgain = OwnWindows::hideOver(chosen, &grab.repaintWait);
    if (waitHere)
        QThread::msleep(static_cast<unsigned long>(std::exchange(grab.repaintWait, 0)));
    return grab;
}

Shot take(const Grab& grab) {
    QThread::msleep(static_cast<unsigned long>(grab.repaintWait));
    if (grab.window) {
        const QString written = screencapture(grab.window->id, grab.target);
        QImage image = load(written);
        if (image.isNull())
            throw CaptureError(QStringLiteral("Capture failed"));
        return Shot{QUrl::fromLocalFile(written), std::move(image), grab.app, grab.window};
    }
    QProcess process;
    launch(process, QStringList{QStringLiteral("-D"), QString::number(grab.display)} + common(grab.target));
    finish(process);
    const QString text = toolReport(process);
    const QString written = writtenPath(grab.target, process.readAllStandardOutput());
    if (QFileInfo::exists(written)) {
        QImage image = load(written);
        if (!image.isNull())
            return Shot{QUrl::fromLocalFile(written), std::move(image), grab.app, std::nullopt};
    }
    throw CaptureError(text.isEmpty() ? QStringLiteral("Capture failed")
                                      : ourWords(text, QFileInfo(grab.target).absolutePath()));
}

Shot takeHere(const Grab& grab) {
    try {
        Shot shot = take(grab);
        grab.showAgain();
        return shot;
    } catch (...) {
        grab.showAgain();
        throw;
    }
}

// A capture under way on a worker: another asked meanwhile is not started.
bool grabbing = false;

} // namespace

Shot capture(const WindowInfo& window) {
    return takeHere(prepare(window, true));
}

Shot screenUnderCursor() {
    return takeHere(prepare(std::nullopt, true));
}

void underCursor(std::function<void(const Shot&)> done, std::function<void(const QString&)> failed) {
    if (grabbing)
        return;
    std::shared_ptr<Grab> grab;
    try {
        grab = std::make_shared<Grab>(prepare(windowUnderCursor(), false));
    } catch (const UserError& error) {
        failed(error.message);
        return;
    }
    grabbing = true;
    // The tool writes and we read back a PNG the size of the window or screen: a large one takes longer than
    // the user may wait for an answer.
    Dispatch::global([grab, done = std::move(done), failed = std::move(failed)] {
        std::optional<Shot> shot;
        const QString why = failureOf([&] { shot = take(*grab); }, QStringLiteral("Capture failed"));
        Dispatch::main([grab, shot = std::move(shot), why, done, failed] {
            grabbing = false;
            grab->showAgain();
            if (shot)
                done(*shot);
            else
                failed(why);
        });
    });
}

void region(std::function<void(std::optional<Shot>)> completion, std::function<void(QString)> failed) {
    auto done = std::make_shared<std::function<void(std::optional<Shot>)>>(std::move(completion));
    auto tell = std::make_shared<std::function<void(QString)>>(std::move(failed));
    auto fail = [done, tell](const QString& why) {
        if (*tell)
            (*tell)(why);
        (*done)(std::nullopt);
    };
    QString target;
    try {
        target = shotPath(readyFolder(), QStringLiteral("Slice"), QDateTime::currentDateTime());
    } catch (const UserError& error) {
        fail(error.message);
        return;
    }
    // The overlay freezes the screen as it opens: our windows must be gone by then. They come back
    // when the slice ends, just before its card replaces the old one.
    auto showAgain = std::make_shared<std::function<void()>>(OwnWindows::hideOver({}));
    auto* process = new QProcess();
    process->setProgram(tool());
    process->setArguments(QStringList{QStringLiteral("-i"), QStringLiteral("-s")} + common(target));
    // The process object lives on the calling thread, but the result belongs to the main thread.
    QObject::connect(
        process, &QProcess::finished, QCoreApplication::instance(),
        [process, target, done, fail, showAgain](int code, QProcess::ExitStatus status) {
            const QString written = writtenPath(target, process->readAllStandardOutput());
            const QString text = toolReport(*process);
            const bool timedOut = process->property("timedOut").toBool();
            process->deleteLater();
            (*showAgain)();
            std::optional<Shot> shot;
            if (code == 0 && status == QProcess::NormalExit && QFileInfo::exists(written)) {
                QImage image = load(written);
                if (!image.isNull())
                    shot = Shot{QUrl::fromLocalFile(written), std::move(image), QStringLiteral("Slice"), std::nullopt};
                else
                    return fail(QStringLiteral("The slice was saved, but it can't be read back."));
            }
            if (shot)
                return (*done)(std::move(shot));
            if (timedOut)
                return fail(QStringLiteral("The slice was left open too long and was closed."));
            // A cancelled slice (Escape, a click without a drag) exits without a word: nothing to say.
            if (text.isEmpty())
                return (*done)(std::nullopt);
            fail(ourWords(text, QFileInfo(target).absolutePath()));
        },
        Qt::QueuedConnection);
    QTimer::singleShot(sliceTimeoutMs, process, [process] {
        process->setProperty("timedOut", true);
        process->kill();
    });
    process->start();
    if (!process->waitForStarted(toolTimeoutMs)) {
        // Neither finished nor our handler will come for a process that never ran.
        QObject::disconnect(process, &QProcess::finished, nullptr, nullptr);
        const QString why = process->errorString();
        delete process;
        (*showAgain)();
        fail(QStringLiteral("The slice tool can't be started: ") + why);
    }
}

QImage captureWindowModern(quint32 window) {
    const std::optional<WindowList::Window> found = list().window(window);
    if (!found)
        throw CaptureError(QStringLiteral("Window is gone"));
    QString why;
    QImage image = list().grab(found->frame, &why);
    if (image.isNull())
        throw UserError(why.isEmpty() ? QStringLiteral("Capture failed") : why);
    return image;
}

std::unique_ptr<WindowList::Recording> recordWindow(quint32 window) {
    return list().record(window);
}

} // namespace Capture
