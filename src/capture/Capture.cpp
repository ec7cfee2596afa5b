#include "capture/Capture.h"

#include "imaging/ShotFiles.h"
#include "platform/WindowList.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QLocale>
#include <QPointer>
#include <QProcess>
#include <QStandardPaths>

#include <memory>

namespace Capture {

namespace {

// A window or screen capture takes well under a second; a tool stuck far longer than that must not
// freeze the program for good.
constexpr int toolTimeoutMs = 20000;

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

QString screencapture(quint32 window, const QString& target) {
    QProcess process;
    launch(process, QStringList{QStringLiteral("-l"), QString::number(window), QStringLiteral("-o")} + common(target));
    const bool exited = finish(process);
    const QString text = QString::fromUtf8(process.readAllStandardError()).trimmed();
    const QString written = writtenPath(target, process.readAllStandardOutput());
    if (exited && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0 && QFileInfo::exists(written))
        return written;
    if (!text.isEmpty() && !text.contains(QStringLiteral("could not create image")))
        throw CaptureError(text);
    // There is no permission to ask for here: a tool that fails without saying why still failed.
    throw CaptureError(QStringLiteral("Capture failed"));
}

Shot capture(const WindowInfo& window) {
    const QString target = shotPath(ShotFiles::shotsFolder(), window.app, QDateTime::currentDateTime());
    const QString written = screencapture(window.id, target);
    QImage image = load(written);
    if (image.isNull())
        throw CaptureError(QStringLiteral("Capture failed"));
    return Shot{QUrl::fromLocalFile(written), std::move(image), window.app, window};
}

Shot screenUnderCursor() {
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
    const QString target = shotPath(ShotFiles::shotsFolder(), QStringLiteral("Screen"), QDateTime::currentDateTime());
    const qsizetype position = list().screens().indexOf(chosen);
    const int display = position < 0 ? 1 : int(position) + 1;

    QProcess process;
    process.setStandardErrorFile(QProcess::nullDevice());
    launch(process, QStringList{QStringLiteral("-D"), QString::number(display)} + common(target));
    finish(process);
    const QString written = writtenPath(target, process.readAllStandardOutput());
    if (QFileInfo::exists(written)) {
        QImage image = load(written);
        if (!image.isNull())
            return Shot{QUrl::fromLocalFile(written), std::move(image), QStringLiteral("Screen"), std::nullopt};
    }
    throw CaptureError(QStringLiteral("Capture failed"));
}

void region(std::function<void(std::optional<Shot>)> completion) {
    const QString target = shotPath(ShotFiles::shotsFolder(), QStringLiteral("Slice"), QDateTime::currentDateTime());
    auto done = std::make_shared<std::function<void(std::optional<Shot>)>>(std::move(completion));
    auto* process = new QProcess();
    process->setStandardErrorFile(QProcess::nullDevice());
    process->setProgram(tool());
    process->setArguments(QStringList{QStringLiteral("-i"), QStringLiteral("-s")} + common(target));
    // The process object lives on the calling thread, but the result belongs to the main thread.
    QObject::connect(
        process, &QProcess::finished, QCoreApplication::instance(),
        [process, target, done] {
            const QString written = writtenPath(target, process->readAllStandardOutput());
            process->deleteLater();
            std::optional<Shot> shot;
            if (QFileInfo::exists(written)) {
                QImage image = load(written);
                if (!image.isNull())
                    shot = Shot{QUrl::fromLocalFile(written), std::move(image), QStringLiteral("Slice"), std::nullopt};
            }
            (*done)(std::move(shot));
        },
        Qt::QueuedConnection);
    process->start();
    if (!process->waitForStarted(toolTimeoutMs)) {
        // Neither finished nor our handler will come for a process that never ran.
        QObject::disconnect(process, &QProcess::finished, nullptr, nullptr);
        delete process;
        (*done)(std::nullopt);
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

} // namespace Capture
