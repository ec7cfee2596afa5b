#include "platform/DesktopHelper.h"

#include <QElapsedTimer>
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
