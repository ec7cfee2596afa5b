// The format wheel polls the pointer 25 times a second for the life of the program. How long one look
// takes on an X server, and what the poll costs an otherwise idle program: CPU time over a stretch of
// idle event loop with the wheel watching and without it (60 s each; WHEEL_IDLE_SECONDS changes that).

#include "library/FormatWheel.h"
#include "platform/Defaults.h"
#include "platform/x11/X11DragProbe.h"

#include "Quick.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>
#include <xcb/xcb.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

// An X server of our own, so the figures don't depend on what else the display is doing.
class Server {
public:
    Server() {
        for (int n = 420 + int(getpid() % 200); n < 1000 && !up; n += 11) {
            display = ":" + std::to_string(n);
            if (access(("/tmp/.X11-unix/X" + std::to_string(n)).c_str(), F_OK) == 0)
                continue;
            std::string screen = "1280x800x24";
            const char* argv[] = {"Xvfb", display.c_str(), "-noreset", "-nolisten", "tcp", "-screen",
                                  "0",    screen.c_str(),  nullptr};
            if (posix_spawnp(&pid, "Xvfb", nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
                return;
            for (int i = 0; i < 100 && !up; ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                xcb_connection_t* c = xcb_connect(display.c_str(), nullptr);
                up = !xcb_connection_has_error(c);
                xcb_disconnect(c);
            }
            if (!up) {
                kill(pid, SIGTERM);
                waitpid(pid, nullptr, 0);
                pid = -1;
            }
        }
        if (up)
            setenv("DISPLAY", display.c_str(), 1);
    }
    ~Server() {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
    }
    bool up = false;
    std::string display;

private:
    pid_t pid = -1;
};

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

struct Rig {
    QTemporaryDir dir;
    Defaults defaults{dir.path(), QStringLiteral("bench")};
    std::unique_ptr<X11DragProbe> probe = X11DragProbe::open();
};

Rig* rig = nullptr;

void tick(benchmark::State& state) {
    FormatWheel wheel(rig->probe.get(), rig->defaults);
    for (auto _ : state)
        wheel.tick();
}

// Runs the event loop idle for the stretch and reports the share of one core it used.
void idle(benchmark::State& state) {
    const bool watching = state.range(0) != 0;
    const int seconds = qEnvironmentVariableIntValue("WHEEL_IDLE_SECONDS") > 0
                            ? qEnvironmentVariableIntValue("WHEEL_IDLE_SECONDS")
                            : Quick::count(60);
    for (auto _ : state) {
        FormatWheel wheel(rig->probe.get(), rig->defaults);
        if (watching)
            wheel.start();
        const double before = cpuSeconds();
        QTimer::singleShot(seconds * 1000, qApp, &QCoreApplication::quit);
        QApplication::exec();
        state.counters["core_percent"] = (cpuSeconds() - before) / seconds * 100.0;
    }
}

} // namespace

int main(int argc, char** argv) {
    Server server;
    if (!server.up) {
        std::fprintf(stderr, "bench_wheel: could not start Xvfb\n");
        return 1;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    Rig theRig;
    if (!theRig.probe) {
        std::fprintf(stderr, "bench_wheel: the display has no XFixes\n");
        return 1;
    }
    rig = &theRig;
    benchmark::Initialize(&argc, argv);
    benchmark::RegisterBenchmark("wheel/tick", tick)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("wheel/idle_stopped", idle)->Arg(0)->Iterations(1)->Unit(benchmark::kSecond);
    benchmark::RegisterBenchmark("wheel/idle_watching", idle)->Arg(1)->Iterations(1)->Unit(benchmark::kSecond);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    rig = nullptr;
    return 0;
}
