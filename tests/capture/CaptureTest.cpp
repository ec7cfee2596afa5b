#include "capture/Capture.h"
#include "imaging/ShotFiles.h"
#include "platform/fake/FakeWindowList.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <unistd.h>

namespace {

using Window = WindowList::Window;

Window window(quint32 id, QRect frame, QString app = QStringLiteral("App")) {
    Window w;
    w.id = id;
    w.pid = 4000 + qint32(id);
    w.app = std::move(app);
    w.frame = frame;
    return w;
}

class CaptureTest : public ::testing::Test {
protected:
    void SetUp() override {
        Capture::setWindowList(&desktop);
        QDir(ShotFiles::shotsFolder()).removeRecursively();
        fixture = dir.filePath(QStringLiteral("fixture.png"));
        QImage picture(30, 20, QImage::Format_RGB32);
        picture.fill(Qt::darkCyan);
        ASSERT_TRUE(picture.save(fixture));
    }
    void TearDown() override {
        Capture::setWindowList(nullptr);
        Capture::setTool({});
    }

    // A stand-in for the screenshot tool: records its arguments, then runs the given shell lines
    // with $target set to its last argument.
    void fakeTool(const QString& body) {
        const QString path = dir.filePath(QStringLiteral("tool.sh"));
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        const QString script =
            QStringLiteral("#!/bin/sh\necho \"$@\" > '%1'\nfor target; do :; done\nfixture='%2'\n%3\n")
                .arg(dir.filePath(QStringLiteral("args")), fixture, body);
        f.write(script.toUtf8());
        f.close();
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        Capture::setTool(path);
    }
    QString toolArguments() {
        QFile f(dir.filePath(QStringLiteral("args")));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()).trimmed() : QString();
    }
    QStringList shots() { return QDir(ShotFiles::shotsFolder()).entryList(QDir::Files | QDir::Hidden); }

    FakeWindowList desktop;
    QTemporaryDir dir;
    QString fixture;
};

TEST_F(CaptureTest, ListsOnlyWindowsWorthCapturingAndPicksTheFrontOneUnderThePointer) {
    const auto with = [](auto tweak, QString app = QStringLiteral("App")) {
        Window w = window(1, QRect(0, 0, 300, 300), std::move(app));
        tweak(w);
        return w;
    };
    struct Case {
        const char* name;
        Window w;
        bool listed;
    };
    const Case cases[] = {
        {"40 wide", window(1, QRect(0, 0, 40, 300)), false},
        {"40 high", window(2, QRect(0, 0, 300, 40)), false},
        {"41 x 41", window(3, QRect(0, 0, 41, 41)), true},
        {"alpha 0.05", with([](Window& w) { w.opacity = 0.05; }), false},
        {"alpha 0.06", with([](Window& w) { w.opacity = 0.06; }), true},
        {"our own", with([](Window& w) { w.pid = qint32(QCoreApplication::applicationPid()); }), false},
        {"a dock", with([](Window& w) { w.normal = false; }), false},
        {"minimised", with([](Window& w) { w.visible = false; }), false},
        // the window does not say: still listed
        {"no class", with([](Window& w) { w.pid = 0; }, QString()), true},
    };
    for (const Case& c : cases) {
        desktop.list = {c.w};
        desktop.mouse = QPoint(10, 10);
        const QList<Capture::WindowInfo> listed = Capture::windows();
        EXPECT_EQ(listed.size(), c.listed ? 1 : 0) << c.name;
        EXPECT_EQ(Capture::windowUnderCursor().has_value(), c.listed) << c.name;
    }
    desktop.list = {cases[std::size(cases) - 1].w};
    EXPECT_EQ(Capture::windows().value(0).app, QStringLiteral("Window"));

    // Front to back: the first window holding the point wins; right and bottom edges are outside.
    desktop.list = {window(20, QRect(100, 100, 200, 100), QStringLiteral("Front")),
                    window(21, QRect(50, 50, 400, 400), QStringLiteral("Back"))};
    const struct {
        QPoint mouse;
        const char* expected;
    } points[] = {{{100, 100}, "Front"}, {{299, 199}, "Front"}, {{300, 150}, "Back"}, {{49, 60}, nullptr}};
    for (const auto& p : points) {
        desktop.mouse = p.mouse;
        const auto under = Capture::windowUnderCursor();
        if (!p.expected)
            EXPECT_FALSE(under.has_value()) << p.mouse.x() << "," << p.mouse.y();
        else
            EXPECT_EQ(under.value_or(Capture::WindowInfo{}).app, QLatin1String(p.expected))
                << p.mouse.x() << "," << p.mouse.y();
    }
}

TEST_F(CaptureTest, NamesFilesBySourceAndSecondAndNumbersCollisions) {
    const QString folder = dir.path();
    const QDateTime at(QDate(2026, 12, 6), QTime(13, 5, 9));
    EXPECT_EQ(Capture::shotPath(folder, QStringLiteral("Screen"), at),
              folder + QStringLiteral("/Screen 2026-12-06 at 13.05.09.png"));
    EXPECT_EQ(Capture::shotPath(folder, QStringLiteral("A/B/C"), at),
              folder + QStringLiteral("/A-B-C 2026-12-06 at 13.05.09.png"));
    for (const QString& expected :
         {QStringLiteral("Slice 2026-12-06 at 13.05.09.png"), QStringLiteral("Slice 2026-12-06 at 13.05.09 2.png"),
          QStringLiteral("Slice 2026-12-06 at 13.05.09 3.png")}) {
        const QString path = Capture::shotPath(folder, QStringLiteral("Slice"), at);
        EXPECT_EQ(QFileInfo(path).fileName(), expected);
        QFile(path).open(QIODevice::WriteOnly);
    }
}

TEST_F(CaptureTest, WindowCaptureReportsEveryFailureOfTheTool) {
    struct Case {
        const char* name;
        QString body;
        QString error; // empty: a shot is expected
    };
    const Case cases[] = {
        {"writes the picture", QStringLiteral("cp \"$fixture\" \"$target\""), {}},
        {"exit 0, no file, silent", QStringLiteral("exit 0"), QStringLiteral("Capture failed")},
        {"exit 1, silent", QStringLiteral("exit 1"), QStringLiteral("Capture failed")},
        {"cannot create image", QStringLiteral("echo 'could not create image from window' >&2; exit 1"),
         QStringLiteral("Capture failed")},
        // The tool's reports become sentences of ours, never its raw words.
        {"window gone", QStringLiteral("printf 'pictolarium-screencapture: no window 77 \\n\\n' >&2; exit 1"),
         QStringLiteral("The window was gone before it could be captured.")},
        {"full disk",
         QStringLiteral("echo \"pictolarium-screencapture: cannot write X.png: No space left on device\" >&2; exit 1"),
         QStringLiteral("Can't save the screenshot in \u201c~/Pictures/Pictolarium\u201d: the disk is full.")},
        {"read-only",
         QStringLiteral("echo \"pictolarium-screencapture: cannot write X.png: Read-only file system\" >&2; exit 1"),
         QStringLiteral("Can't save the screenshot in \u201c~/Pictures/Pictolarium\u201d: the folder is read-only.")},
        {"file-size limit",
         QStringLiteral("echo \"pictolarium-screencapture: cannot write X.png: File too large\" >&2; exit 1"),
         QStringLiteral("Can't save the screenshot in \u201c~/Pictures/Pictolarium\u201d: the file is larger than "
                        "this system allows.")},
        {"unknown words", QStringLiteral("echo 'pictolarium-screencapture: something odd' >&2; exit 1"),
         QStringLiteral("Capture failed")},
        {"words but a file and exit 0", QStringLiteral("cp \"$fixture\" \"$target\"; echo warning >&2"), {}},
        {"file written, exit 1", QStringLiteral("cp \"$fixture\" \"$target\"; exit 1"),
         QStringLiteral("Capture failed")},
        {"not a picture", QStringLiteral("echo garbage > \"$target\""), QStringLiteral("Capture failed")},
        {"killed", QStringLiteral("kill -9 $$"), QStringLiteral("Capture failed")},
    };
    Capture::WindowInfo info{77, 1234, QStringLiteral("Tea/Pot"), QRect(10, 10, 300, 200)};
    for (const Case& c : cases) {
        fakeTool(c.body);
        QDir(ShotFiles::shotsFolder()).removeRecursively();
        try {
            const Shot shot = Capture::capture(info);
            EXPECT_TRUE(c.error.isEmpty()) << c.name;
            EXPECT_EQ(shot.appName, QStringLiteral("Tea/Pot")) << c.name;
            EXPECT_TRUE(shot.fileURL.fileName().startsWith(QStringLiteral("Tea-Pot 20"))) << c.name;
            EXPECT_EQ(shot.image.size(), QSize(30, 20)) << c.name;
            ASSERT_TRUE(shot.window.has_value()) << c.name;
            EXPECT_EQ(shot.window->id, 77u) << c.name;
        } catch (const CaptureError& e) {
            EXPECT_EQ(e.message, c.error) << c.name;
            EXPECT_FALSE(e.needsPermission) << c.name;
        }
        // Whatever the tool wrote is left where it is, picture or not.
        EXPECT_EQ(shots().size(), c.body.contains(QStringLiteral("$target")) ? 1 : 0) << c.name;
        EXPECT_TRUE(toolArguments().startsWith(QStringLiteral("-l 77 -o -x -t png ") + ShotFiles::shotsFolder() +
                                               QStringLiteral("/Tea-Pot 20")))
            << c.name << " " << toolArguments().toStdString();
    }

    Capture::setTool(dir.filePath(QStringLiteral("no-such-tool")));
    try {
        Capture::capture(info);
        ADD_FAILURE() << "a tool that cannot start must fail";
    } catch (const CaptureError&) {
        ADD_FAILURE() << "a launch failure is not a capture error";
    } catch (const UserError& e) {
        EXPECT_FALSE(e.message.isEmpty());
    }
}

TEST_F(CaptureTest, TakesTheNameTheToolReportsWhenAnotherFileTookOurs) {
    // The tool found the name taken between our test and its write, and wrote the next one.
    fakeTool(QStringLiteral("other=\"${target%.png} 2.png\"; cp \"$fixture\" \"$other\"; echo garbage > "
                            "\"$target\"; echo \"$other\""));
    const Shot shot = Capture::capture({5, 1, QStringLiteral("App"), QRect(0, 0, 100, 100)});
    EXPECT_TRUE(shot.fileURL.toLocalFile().endsWith(QStringLiteral(" 2.png"))) << shot.fileURL.toString().toStdString();
    EXPECT_FALSE(shot.image.isNull());

    // A path outside the target's folder is not believed.
    fakeTool(QStringLiteral("cp \"$fixture\" \"$target\"; echo /etc/passwd"));
    const Shot second = Capture::screenUnderCursor();
    EXPECT_EQ(second.fileURL.toLocalFile().section(QLatin1Char('/'), 0, -2), ShotFiles::shotsFolder());
}

TEST_F(CaptureTest, ScreenCaptureChoosesTheMonitorUnderThePointer) {
    desktop.monitors = {QRect(0, 0, 1280, 800), QRect(1280, 0, 1920, 1080)};
    struct Case {
        QPoint mouse;
        const char* display;
    } cases[] = {{{10, 10}, "1"}, {{1300, 500}, "2"}, {{1279, 799}, "1"}, {{1280, 0}, "2"}, {{-50, 2000}, "1"}};
    fakeTool(QStringLiteral("cp \"$fixture\" \"$target\""));
    for (const Case& c : cases) {
        desktop.mouse = c.mouse;
        const Shot shot = Capture::screenUnderCursor();
        EXPECT_EQ(shot.appName, QStringLiteral("Screen"));
        EXPECT_FALSE(shot.window.has_value());
        EXPECT_TRUE(toolArguments().startsWith(QStringLiteral("-D %1 -x -t png ").arg(QLatin1String(c.display))))
            << toolArguments().toStdString();
    }
    // Five captures within a second or two: every one a file of its own.
    EXPECT_EQ(shots().size(), 5);

    struct Failure {
        const char* name;
        QList<QRect> monitors;
        QString body;
        QString error;
    } failures[] = {
        {"no screen", {}, QStringLiteral("cp \"$fixture\" \"$target\""), QStringLiteral("No screen to capture")},
        {"no file", {QRect(0, 0, 100, 100)}, QStringLiteral("echo oops >&2; exit 0"), QStringLiteral("Capture failed")},
        {"not a picture",
         {QRect(0, 0, 100, 100)},
         QStringLiteral("echo x > \"$target\""),
         QStringLiteral("Capture failed")},
    };
    for (const Failure& f : failures) {
        desktop.monitors = f.monitors;
        fakeTool(f.body);
        try {
            Capture::screenUnderCursor();
            ADD_FAILURE() << f.name;
        } catch (const CaptureError& e) {
            EXPECT_EQ(e.message, f.error) << f.name;
            EXPECT_FALSE(e.needsPermission) << f.name;
        }
    }
}

TEST_F(CaptureTest, SliceAndTapCallTheCompletionOnceOnTheMainThread) {
    // A tap asks for the window under the pointer, or the screen where there is none.
    enum Ask { slice, tapOnWindow, tapOnScreen };
    struct Case {
        const char* name;
        Ask ask;
        QString body;
        bool shot;
        QString told; // what the user is told; empty for nothing
    } cases[] = {
        {"dragged", slice, QStringLiteral("cp \"$fixture\" \"$target\""), true, {}},
        {"cancelled", slice, QStringLiteral("exit 1"), false, {}},
        {"unreadable", slice, QStringLiteral("echo x > \"$target\""), false,
         QStringLiteral("The slice was saved, but it can't be read back.")},
        {"failed", slice, QStringLiteral("echo 'pictolarium-screencapture: could not grab the pointer' >&2; exit 1"),
         false, QStringLiteral("Another program holds the keyboard or the pointer, so the slice could not start.")},
        // The tool is slow, as on a large window: the program answers meanwhile, and a second tap starts nothing.
        {"window", tapOnWindow, QStringLiteral("sleep 0.3; cp \"$fixture\" \"$target\""), true, {}},
        {"window gone", tapOnWindow, QStringLiteral("echo 'pictolarium-screencapture: no window 7' >&2; exit 1"), false,
         QStringLiteral("The window was gone before it could be captured.")},
        {"screen", tapOnScreen, QStringLiteral("sleep 0.3; cp \"$fixture\" \"$target\""), true, {}},
        {"screen unreadable", tapOnScreen, QStringLiteral("echo x > \"$target\""), false,
         QStringLiteral("Capture failed")},
    };
    desktop.monitors = {QRect(0, 0, 1280, 800)};
    desktop.mouse = QPoint(50, 50);
    for (const Case& c : cases) {
        fakeTool(c.body);
        QDir(ShotFiles::shotsFolder()).removeRecursively();
        desktop.list = {};
        if (c.ask == tapOnWindow)
            desktop.list = {window(7, QRect(0, 0, 300, 200), QStringLiteral("Kettle"))};
        int calls = 0;
        std::optional<Shot> result;
        bool onMain = false;
        QString told;
        const auto completion = [&](std::optional<Shot> shot) {
            ++calls;
            result = std::move(shot);
            onMain = QThread::currentThread() == QCoreApplication::instance()->thread();
        };
        const auto failed = [&](const QString& why) { told = why; };
        bool answered = false;
        // While a slow tool still runs, its file is not there yet.
        QTimer::singleShot(0, [&] { answered = calls == 0 && shots().isEmpty(); });
        if (c.ask == slice) {
            Capture::region(completion, failed);
        } else {
            for (int tap = 0; tap < 2; ++tap)
                Capture::underCursor([&](const Shot& shot) { completion(shot); },
                                     [&](const QString& why) {
                                         failed(why);
                                         completion(std::nullopt);
                                     });
        }
        EXPECT_EQ(calls, 0) << c.name << ": returns before the tool is done";
        ASSERT_TRUE(QTest::qWaitFor([&] { return calls > 0; }, 10000)) << c.name;
        QTest::qWait(100);
        EXPECT_EQ(calls, 1) << c.name;
        EXPECT_TRUE(onMain) << c.name;
        if (c.body.startsWith(QStringLiteral("sleep")))
            EXPECT_TRUE(answered) << c.name << ": the event loop ran while the tool did";
        EXPECT_EQ(result.has_value(), c.shot) << c.name;
        EXPECT_EQ(told, c.told) << c.name;
        const QString app = c.ask == slice         ? QStringLiteral("Slice")
                            : c.ask == tapOnWindow ? QStringLiteral("Kettle")
                                                   : QStringLiteral("Screen");
        if (result) {
            EXPECT_EQ(result->appName, app) << c.name;
            EXPECT_TRUE(result->fileURL.fileName().startsWith(app + QStringLiteral(" 20"))) << c.name;
            EXPECT_EQ(result->window.has_value(), c.ask == tapOnWindow) << c.name;
        }
        const QString arguments = c.ask == slice         ? QStringLiteral("-i -s -x -t png ")
                                  : c.ask == tapOnWindow ? QStringLiteral("-l 7 -o -x -t png ")
                                                         : QStringLiteral("-D 1 -x -t png ");
        EXPECT_TRUE(toolArguments().startsWith(arguments)) << c.name << " " << toolArguments().toStdString();
    }
    desktop.list = {};

    Capture::setTool(dir.filePath(QStringLiteral("no-such-tool")));
    int calls = 0;
    bool empty = false;
    Capture::region([&](std::optional<Shot> shot) {
        ++calls;
        empty = !shot;
    });
    EXPECT_EQ(calls, 1) << "a tool that cannot start answers at once";
    EXPECT_TRUE(empty);
    QTest::qWait(50);
    EXPECT_EQ(calls, 1);
}

TEST_F(CaptureTest, AFolderThatCannotTakeScreenshotsIsNamedWithTheCause) {
    const QString root = dir.path();
    // Missing: made, and fine.
    EXPECT_EQ(Capture::folderProblem(root + QStringLiteral("/a/b")), QString());
    EXPECT_TRUE(QFileInfo(root + QStringLiteral("/a/b")).isDir());
    // A file where the folder goes, or where one of its parents goes.
    ASSERT_TRUE(QFile(root + QStringLiteral("/file")).open(QIODevice::WriteOnly));
    EXPECT_TRUE(
        Capture::folderProblem(root + QStringLiteral("/file")).contains(QStringLiteral("is a file, not a folder")));
    const QString under = Capture::folderProblem(root + QStringLiteral("/file/Pictolarium"));
    EXPECT_TRUE(under.contains(QStringLiteral("/file\u201d is a file, not a folder"))) << under.toStdString();
    if (geteuid() != 0) { // permissions do not stop root
        const QString locked = root + QStringLiteral("/locked");
        ASSERT_TRUE(QDir().mkpath(locked));
        QFile::setPermissions(locked, QFile::ReadOwner | QFile::ExeOwner);
        EXPECT_TRUE(Capture::folderProblem(locked).contains(QStringLiteral("read-only")));
        EXPECT_TRUE(
            Capture::folderProblem(locked + QStringLiteral("/Pictolarium")).contains(QStringLiteral("read-only")));
        QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
}

TEST_F(CaptureTest, WindowGrabReturnsTheFrameOrSaysTheWindowIsGone) {
    desktop.desktop = QImage(400, 300, QImage::Format_RGB32);
    desktop.desktop.fill(Qt::black);
    for (int y = 50; y < 150; ++y)
        for (int x = 20; x < 220; ++x)
            desktop.desktop.setPixel(x, y, qRgb(x, y, 7));
    desktop.list = {window(3, QRect(20, 50, 200, 100))};
    const QImage grabbed = Capture::captureWindowModern(3);
    ASSERT_EQ(grabbed.size(), QSize(200, 100));
    EXPECT_EQ(grabbed.pixel(0, 0), qRgb(20, 50, 7));
    EXPECT_EQ(grabbed.pixel(199, 99), qRgb(219, 149, 7));

    desktop.list.first().visible = false;
    try {
        Capture::captureWindowModern(3);
        ADD_FAILURE() << "a hidden window cannot be grabbed";
    } catch (const CaptureError& e) {
        EXPECT_EQ(e.message, QStringLiteral("Window is gone"));
    }
    EXPECT_THROW(Capture::captureWindowModern(99), CaptureError);

    // Entirely off the screen: an error, never an empty picture.
    desktop.list = {window(4, QRect(1000, 1000, 200, 100))};
    EXPECT_THROW(Capture::captureWindowModern(4), UserError);
}

} // namespace
