// Screen capture speed on a virtual X display at 1920 × 1080 and 3840 × 2160: our screenshot tool
// against scrot and ImageMagick's import as whole processes, and the in-process window grab that
// the scroll recorder repeats. The screen shows a painted desktop (windows, text, a photo-like
// area) so that PNG compression has realistic work to do.

#include "SideBySide.h"
#include "capture/Capture.h"
#include "imaging/PngWriter.h"
#include "platform/x11/X11WindowList.h"
#include "platform/x11/XcbReply.h"

#include <QFileInfo>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <xcb/xcb.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <span>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

QImage paintedDesktop(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    QPainter p(&image);
    QLinearGradient sky(0, 0, width, height);
    sky.setColorAt(0, QColor(40, 70, 120));
    sky.setColorAt(1, QColor(150, 90, 160));
    p.fillRect(image.rect(), sky);
    QRandomGenerator random(42);
    const int scale = width / 1920;
    QFont mono(QStringLiteral("monospace"));
    mono.setPixelSize(13 * scale);
    p.setFont(mono);
    // A few overlapping windows full of text.
    for (int w = 0; w < 4; ++w) {
        const QRect frame(80 * scale + w * 380 * scale, 60 * scale + w * 160 * scale, 900 * scale, 600 * scale);
        p.fillRect(frame, Qt::white);
        p.fillRect(QRect(frame.topLeft(), QSize(frame.width(), 28 * scale)), QColor(220, 220, 225));
        p.setPen(Qt::black);
        for (int line = 0; line < 34; ++line) {
            QString text;
            const int words = 3 + int(random.bounded(10));
            for (int k = 0; k < words; ++k)
                text += QString::number(random.generate(), 36) + QLatin1Char(' ');
            p.drawText(frame.left() + 10 * scale, frame.top() + (44 + line * 16) * scale, text);
        }
    }
    // A photo-like area: smooth colour with grain, the hard case for PNG.
    const QRect photo(width / 2, height / 2, width / 3, height / 3);
    for (int y = photo.top(); y <= photo.bottom(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = photo.left(); x <= photo.right(); ++x) {
            const int grain = int(random.bounded(24));
            row[x] = qRgb((x * 255 / width + grain) & 255, (y * 255 / height + grain) & 255, (128 + grain) & 255);
        }
    }
    return image;
}

pid_t spawn(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int result = posix_spawnp(&pid, argv[0], &quiet, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&quiet);
    return result == 0 ? pid : -1;
}

int runToEnd(const std::vector<std::string>& args) {
    const pid_t pid = spawn(args);
    if (pid < 0)
        return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A virtual display showing the painted desktop in one full-screen window.
class Screen {
public:
    Screen(int width, int height) {
        for (int n = 150 + int(getpid() % 300); n < 1000 && !c; n += 7) {
            display = ":" + std::to_string(n);
            if (access(("/tmp/.X11-unix/X" + std::to_string(n)).c_str(), F_OK) == 0)
                continue;
            server = spawn({"Xvfb", display, "-noreset", "-nolisten", "tcp", "-screen", "0",
                            std::to_string(width) + "x" + std::to_string(height) + "x24"});
            for (int i = 0; i < 100 && !c; ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                xcb_connection_t* attempt = xcb_connect(display.c_str(), nullptr);
                if (!xcb_connection_has_error(attempt))
                    c = attempt;
                else
                    xcb_disconnect(attempt);
            }
            if (!c) {
                kill(server, SIGTERM);
                waitpid(server, nullptr, 0);
                server = -1;
            }
        }
        if (!c)
            return;
        setenv("DISPLAY", display.c_str(), 1);
        show(paintedDesktop(width, height));
    }
    ~Screen() {
        if (c)
            xcb_disconnect(c);
        if (server > 0) {
            kill(server, SIGTERM);
            waitpid(server, nullptr, 0);
        }
    }
    bool ok() const { return c != nullptr; }

    std::string display;
    xcb_window_t window = 0;

private:
    void show(const QImage& image) {
        xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
        const xcb_pixmap_t pixmap = xcb_generate_id(c);
        xcb_create_pixmap(c, 24, pixmap, screen->root, uint16_t(image.width()), uint16_t(image.height()));
        const xcb_gcontext_t gc = xcb_generate_id(c);
        xcb_create_gc(c, gc, pixmap, 0, nullptr);
        const size_t maxBytes = size_t(xcb_get_maximum_request_length(c)) * 4 - 64;
        const int rowsPerRequest = std::max<int>(1, int(maxBytes / size_t(image.bytesPerLine())));
        for (int y = 0; y < image.height(); y += rowsPerRequest) {
            const int rows = std::min(rowsPerRequest, image.height() - y);
            xcb_put_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, pixmap, gc, uint16_t(image.width()), uint16_t(rows), 0,
                          int16_t(y), 0, 24, uint32_t(rows * image.bytesPerLine()), image.constScanLine(y));
        }
        window = xcb_generate_id(c);
        const uint32_t values[] = {pixmap};
        xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, uint16_t(image.width()),
                          uint16_t(image.height()), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                          XCB_CW_BACK_PIXMAP, values);
        xcb_map_window(c, window);
        XcbReply<xcb_get_input_focus_reply_t> sync(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    }

    xcb_connection_t* c = nullptr;
    pid_t server = -1;
};

// Remembers each run's mean wall time so the summary can compare the tools.
class Reporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration)
                milliseconds[run.run_name.function_name] = run.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> milliseconds;
};

void registerFor(const std::string& size, Screen& screen, const QString& folder) {
    const std::string out = (folder + QStringLiteral("/out.png")).toStdString();
    const struct {
        const char* name;
        std::vector<std::string> command;
    } tools[] = {
        {"screencapture", {SCREENCAPTURE_BIN, "-D", "1", "-x", "-t", "png", out}},
        {"scrot", {"scrot", "-o", out}},
        {"import", {"import", "-window", "root", out}},
    };
    for (const auto& tool : tools) {
        const std::vector<std::string> command = tool.command;
        benchmark::RegisterBenchmark((std::string("process/") + tool.name + "/" + size).c_str(),
                                     [command, out](benchmark::State& state) {
                                         for (auto _ : state) {
                                             if (runToEnd(command) != 0)
                                                 state.SkipWithError("the tool failed");
                                             unlink(out.c_str());
                                         }
                                     })
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->Iterations(Quick::count(15));
    }
    const xcb_window_t window = screen.window;
    benchmark::RegisterBenchmark(("captureWindowModern/" + size).c_str(),
                                 [window, display = screen.display](benchmark::State& state) {
                                     X11WindowList list(QString::fromStdString(display));
                                     Capture::setWindowList(&list);
                                     for (auto _ : state) {
                                         QImage image = Capture::captureWindowModern(window);
                                         benchmark::DoNotOptimize(image.constBits());
                                     }
                                     Capture::setWindowList(nullptr);
                                 })
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->MinTime(Quick::minTime(1.0));
}

// The side-by-side rows: the whole-screen capture as a process against scrot, taken in turn, and our PNG
// writer on the very pixels scrot saved, its size and time against scrot's file and wall time.
void sideBySide(const std::string& size, const QString& folder) {
    const std::string ours = (folder + QStringLiteral("/ours.png")).toStdString();
    const std::string theirs = (folder + QStringLiteral("/scrot.png")).toStdString();
    const std::vector<std::string> screencapture = {SCREENCAPTURE_BIN, "-D", "1", "-x", "-t", "png", ours};
    const std::vector<std::string> scrot = {"scrot", "-o", theirs};
    bool failed = false;
    const SideBySide::Pair capture = SideBySide::interleaved(
        7, [&] { failed = runToEnd(screencapture) != 0 || failed; }, [&] { failed = runToEnd(scrot) != 0 || failed; });
    if (failed) {
        std::printf("bench_capture: screencapture or scrot failed\n");
        return;
    }
    SideBySide::row("whole-screen capture as a process, " + size, SideBySide::ms(capture.ours),
                    SideBySide::ms(capture.anchor) + " (scrot)", capture.ours / capture.anchor, "<= 0.20",
                    capture.loadFrom, capture.loadTo);

    const QImage pixels = QImage(QString::fromStdString(theirs)).convertToFormat(QImage::Format_RGB32);
    const qint64 scrotBytes = QFileInfo(QString::fromStdString(theirs)).size();
    QByteArray encoded;
    const SideBySide::Pair write = SideBySide::interleaved(
        7, [&] { encoded = PngWriter::encode(pixels); }, [&] { runToEnd(scrot); });
    const auto kb = [](qint64 bytes) { return std::to_string((bytes + 512) / 1024) + " KiB"; };
    SideBySide::row("PNG size of the same pixels, " + size, kb(encoded.size()), kb(scrotBytes) + " (scrot's file)",
                    scrotBytes > 0 ? double(encoded.size()) / double(scrotBytes) : -1, "<= 1.00", write.loadFrom,
                    write.loadTo);
    const bool large = size.rfind("3840", 0) == 0;
    SideBySide::row("PNG write against scrot's wall time, " + size, SideBySide::ms(write.ours),
                    SideBySide::ms(write.anchor) + " (scrot, whole run)", write.ours / write.anchor,
                    large ? "<= 0.25, <= 25 ms" : "<= 0.25", write.loadFrom, write.loadTo);
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    QTemporaryDir folder;
    Reporter reporter;
    const std::pair<int, int> sizes[] = {{1920, 1080}, {3840, 2160}};
    for (const auto& [width, height] : std::span(sizes).first(Quick::on() ? 1 : std::size(sizes))) {
        const std::string size = std::to_string(width) + "x" + std::to_string(height);
        Screen screen(width, height);
        if (!screen.ok()) {
            std::fprintf(stderr, "bench_capture: could not start Xvfb at %s\n", size.c_str());
            return 1;
        }
        registerFor(size, screen, folder.path());
        benchmark::RunSpecifiedBenchmarks(&reporter);
        benchmark::ClearRegisteredBenchmarks();
        sideBySide(size, folder.path());
    }
    std::printf("\nsummary (mean wall time per capture):\n");
    for (const auto& [width, height] : std::span(sizes).first(Quick::on() ? 1 : std::size(sizes))) {
        const std::string size = std::to_string(width) + "x" + std::to_string(height);
        const double ours = reporter.milliseconds["process/screencapture/" + size];
        const double scrot = reporter.milliseconds["process/scrot/" + size];
        const double import = reporter.milliseconds["process/import/" + size];
        const double grab = reporter.milliseconds["captureWindowModern/" + size];
        std::printf("  %-10s screencapture %7.1f ms  scrot %7.1f ms  import %7.1f ms  ours/scrot %.2f  "
                    "in-process grab %5.1f ms\n",
                    size.c_str(), ours, scrot, import, scrot > 0 ? ours / scrot : 0.0, grab);
    }
    benchmark::Shutdown();
    return 0;
}
