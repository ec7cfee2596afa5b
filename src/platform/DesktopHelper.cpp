#include "platform/DesktopHelper.h"

#include "platform/MimeApps.h"

#include <QElapsedTimer>
#include <QMimeDatabase>
#include <QProcess>

bool DesktopHelper::start(const QString& program, const QStringList& arguments, std::function<void(int)> failed) {
    // No parent: deleting a running QProcess kills it, so it goes only once it has ended.
    auto* process = new QProcess;
    process->setProgram(program);
    process->setArguments(arguments);
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer clock;
    clock.start();
    QObject::connect(process, &QProcess::finished, process,
                     [process, clock, failed = std::move(failed)](int code, QProcess::ExitStatus status) {
                         process->deleteLater();
                         if (clock.elapsed() > listenMs || !failed)
                             return;
                         if (status == QProcess::CrashExit)
                             failed(-1);
                         else if (code != 0)
                             failed(code);
                     });
    process->start();
    if (!process->waitForStarted(5000)) {
        delete process;
        return false;
    }
    return true;
}

DesktopHelper::Opened DesktopHelper::openFile(const QString& file, std::function<void(int)> failed) {
    const QList<MimeApps::Handler> handlers = MimeApps::handlers(QMimeDatabase().mimeTypeForFile(file).name());
    if (handlers.isEmpty() || !MimeApps::isOwn(handlers.first()))
        return start(QStringLiteral("xdg-open"), {file}, std::move(failed)) ? Opened::started : Opened::notStarted;
    for (const MimeApps::Handler& handler : handlers) {
        if (MimeApps::isOwn(handler))
            continue;
        const std::optional<MimeApps::Command> command = MimeApps::command(handler, file);
        if (!command)
            continue;
        // The application's own exit status means nothing to the caller: only that it gave up.
        const bool started = start(command->program, command->arguments, [failed](int status) {
            if (failed)
                failed(status < 0 ? status : 1);
        });
        return started ? Opened::started : Opened::notStarted;
    }
    return Opened::noApplication;
}
