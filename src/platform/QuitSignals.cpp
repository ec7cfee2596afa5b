#include "platform/QuitSignals.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QList>
#include <QSocketNotifier>
#include <QString>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr int handled[] = {SIGTERM, SIGINT, SIGHUP};
int pipeEnds[2] = {-1, -1};
struct sigaction previous[std::size(handled)];

void onBrokenPipe(int) {}

void onSignal(int signal) {
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signal);
    // Async-signal-safe; a full pipe means a quit is already on its way.
    [[maybe_unused]] const ssize_t n = ::write(pipeEnds[1], &byte, 1);
    errno = saved;
}

QtMessageHandler previousHandler = nullptr;
std::function<void()>* displayLostEnd = nullptr;
std::atomic<bool> displayLost{false};

void watchMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (previousHandler)
        previousHandler(type, context, message);
    else
        std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
    // The toolkit's display backend says this just before it calls exit(1), on whichever of its threads noticed.
    if (type != QtWarningMsg || !message.startsWith(QLatin1String("The X11 connection broke")))
        return;
    if (displayLost.exchange(true)) {
        // Another thread is ending the process in order: this one must not reach the toolkit's exit().
        for (;;)
            std::this_thread::sleep_for(std::chrono::hours(1));
    }
    std::fprintf(stderr, "pictolarium: the display went away; quitting.\n");
    if (displayLostEnd && *displayLostEnd)
        (*displayLostEnd)();
    std::fflush(nullptr);
    std::_Exit(1);
}

} // namespace

void QuitSignals::waitForChildren(int timeoutMs) {
    const auto children = [] {
        QList<pid_t> pids;
        for (const QString& task :
             QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            QFile list(QStringLiteral("/proc/self/task/") + task + QStringLiteral("/children"));
            if (list.open(QIODevice::ReadOnly))
                for (const QByteArray& pid : list.readAll().split(' '))
                    if (const int n = pid.trimmed().toInt(); n > 0)
                        pids.append(pid_t(n));
        }
        // A child that has ended but is not reaped yet is done with its files.
        pids.removeIf([](pid_t pid) {
            QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
            if (!stat.open(QIODevice::ReadOnly))
                return true;
            const QByteArray line = stat.readAll();
            return line.mid(line.lastIndexOf(')') + 2, 1) == "Z";
        });
        return pids;
    };
    QElapsedTimer clock;
    clock.start();
    while (!children().isEmpty() && clock.elapsed() < timeoutMs)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

void QuitSignals::endOnDisplayLoss(std::function<void()> orderlyEnd) {
    static std::function<void()> kept;
    kept = std::move(orderlyEnd);
    displayLostEnd = &kept;
    if (!previousHandler)
        previousHandler = qInstallMessageHandler(watchMessages);
}

QuitSignals::QuitSignals(QObject* parent) : QObject(parent) {
    if (::pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    notifier = new QSocketNotifier(pipeEnds[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] {
        unsigned char byte = 0;
        while (::read(pipeEnds[0], &byte, 1) == 1)
            emit quitRequested(int(byte));
    });
    // A write to a peer that went away (the display's socket at a logout, a helper's pipe) comes back as an
    // error for its owner to handle instead of ending the program. A handler rather than ignoring the signal, so
    // that the programs we start get the default back when they are executed.
    struct sigaction brokenPipe {};
    brokenPipe.sa_handler = onBrokenPipe;
    sigemptyset(&brokenPipe.sa_mask);
    brokenPipe.sa_flags = SA_RESTART;
    ::sigaction(SIGPIPE, &brokenPipe, nullptr);
    for (size_t i = 0; i < std::size(handled); ++i) {
        struct sigaction action {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(handled[i], &action, &previous[i]);
    }
}

QuitSignals::~QuitSignals() {
    if (!notifier)
        return;
    for (size_t i = 0; i < std::size(handled); ++i)
        ::sigaction(handled[i], &previous[i], nullptr);
    delete notifier;
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);
    pipeEnds[0] = pipeEnds[1] = -1;
}
