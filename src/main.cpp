// Wires the program together: one instance per session, settings carried over once, the
// desktop's backends handed to what needs them, the application delegate and the hand-over of files
// from later launches. The only place that chooses backends.

#include "app/AppDelegate.h"
#include "app/Migration.h"
#include "app/UtilityWindows.h"
#include "capture/Capture.h"
#include "card/PinWindow.h"
#include "card/RenamePanel.h"
#include "card/Thumbnail.h"
#include "card/ToolbarPrefsWindow.h"
#include "editors/EditorWindow.h"
#include "imaging/ColourManage.h"
#include "library/FormatWheel.h"
#include "library/LibraryPanel.h"
#include "platform/Defaults.h"
#include "platform/Dispatch.h"
#include "platform/EscapeKeyGrab.h"
#include "platform/FileManager.h"
#include "platform/FileNames.h"
#include "platform/GlobalKeys.h"
#include "platform/Memory.h"
#include "platform/PointerWatch.h"
#include "platform/QuitSignals.h"
#include "platform/SingleInstance.h"
#include "platform/StallWatch.h"
#include "platform/Trash.h"
#include "platform/XdgPaths.h"
#include "platform/x11/X11Platform.h"
#include "text/LocalLLM.h"
#include "text/TranslateModel.h"
#include "text/TranslateSideView.h"
#include "ui/KeyRoute.h"
#include "ui/Toast.h"
#include "ui/UI.h"

#include <QApplication>
#include <QCursor>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QPointer>
#include <QThreadPool>
#include <QTimer>

#ifdef PICTOLARIUM_SANITIZED
#include <sanitizer/lsan_interface.h>
#endif
#include <csignal>
#include <cstdio>
#include <functional>

namespace {

QList<QUrl> toUrls(const QStringList& paths) {
    QList<QUrl> urls;
    for (const QString& path : paths)
        urls.append(QUrl::fromLocalFile(path));
    return urls;
}

// From the bytes the system handed over (what the toolkit left of them): a file name need not be UTF-8, and as
// text it would name another file.
QStringList fileArguments(int argc, char** argv) {
    QStringList files;
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (arg.startsWith('-'))
            continue;
        const QString path = FileNames::openable(arg);
        if (path.isEmpty()) {
            std::fprintf(stderr, "pictolarium: can't open %s: its name is not UTF-8 and no link to it could be made\n",
                         arg.constData());
            continue;
        }
        files.append(path);
    }
    return files;
}

// Without a session bus, the first use of D-Bus (the toolkit's accessibility and tray look for one) would
// start a bus daemon that outlives us. Where none runs, point D-Bus at an address nobody listens on, so
// nothing is started: the file manager call and the tray fall back to what works without a bus.
void startNoSessionBus() {
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return;
    const QString runtime = XdgPaths::runtimeDir();
    if (QFileInfo(runtime + QStringLiteral("/bus")).exists())
        return; // the standard per-user bus, found without autolaunching
    qputenv("DBUS_SESSION_BUS_ADDRESS",
            QFile::encodeName(QStringLiteral("unix:path=") + runtime + QStringLiteral("/pictolarium-no-session-bus")));
}

// What the settings tell the user, one message after another: a second that comes at once (a file kept aside,
// then no room to save) would take the first off the screen unread. Nor does one take the place of another
// message of the program's: it waits until that has gone.
void showInTurn(const QString& message) {
    static QStringList waiting;
    static bool showing = false;
    static QPointer<QWidget> ours;
    constexpr double seconds = 5.0;
    static const std::function<void()> next = [] {
        showing = !waiting.isEmpty();
        if (!showing)
            return;
        if (QWidget* shown = Toast::current(); shown && shown != ours && shown->isVisible()) {
            Dispatch::after(250, nullptr, next);
            return;
        }
        Toast::show(waiting.takeFirst(), QCursor::pos(), seconds);
        ours = Toast::current();
        Dispatch::after(int(seconds * 1000) + Toast::fadeInMs + Toast::fadeOutMs, nullptr, next);
    };
    waiting.append(message);
    if (!showing)
        next();
}

int run(int argc, char** argv) {
    // A write past the session's file-size limit fails with EFBIG and is told like any failed write; left as it
    // is, the signal would end the program there, with whatever it had not yet saved.
    std::signal(SIGXFSZ, SIG_IGN);
    Memory::tuneAllocator();
    startNoSessionBus();
    QApplication app(argc, argv);
    const std::unique_ptr<StallWatch> stallWatch = StallWatch::fromEnvironment();
    QApplication::setApplicationName(QStringLiteral("Pictolarium"));
    QApplication::setOrganizationName(QStringLiteral("Pictolarium"));
    QApplication::setDesktopFileName(QStringLiteral("pictolarium"));
    QApplication::setQuitOnLastWindowClosed(false);

    const QStringList files = fileArguments(argc, argv);

    SingleInstance instance;
    const SingleInstance::Forwarded forwarded = instance.send(files);
    if (forwarded == SingleInstance::Forwarded::Pending)
        std::fprintf(stderr, "pictolarium: the running copy is busy; it takes this request when it can.\n");
    if (forwarded != SingleInstance::Forwarded::NobodyRuns)
        return 0;
    // From here on this is the running copy: a quit signal ends it in order (the socket goes with it). Set
    // before listening, so that whoever sees the socket can stop us cleanly.
    const QuitSignals quitSignals;
    QObject::connect(&quitSignals, &QuitSignals::quitRequested, &app, [] { QApplication::quit(); });
    if (!instance.listen()) {
        // Another copy may have started between our question and our listening: it takes the request.
        if (instance.forward(files))
            return 0;
        std::fprintf(stderr, "pictolarium: cannot listen on %s; later launches will start a second copy.\n",
                     qPrintable(instance.socketPath()));
    }

    // Stitched pages and camera pictures are larger than Qt's default 256 MB allowance.
    QImageReader::setAllocationLimit(2048);
    ColourManage::quietTiff();

    Defaults& defaults = Defaults::standard();
    // A file kept aside at the start, and settings that can't be saved, are shown where the user is looking.
    defaults.setReport([](const QString& message) { Dispatch::main([message] { showInTurn(message); }); });
    Migration::migrateFromPictolite(defaults);

    X11Platform platform;
    const UtilityWindows utilityWindows(platform.windowHints());
    UI::setCompositor(&platform.compositor());
    Capture::setWindowList(&platform.windows());
    KeyRoute::setWindowFocus(&platform.windowFocus());
    KeyRoute::setPointerWatch(platform.watchPointer());
    PinWindow::setDesktops(&platform.desktops());
    Thumbnail::setServices([&platform] {
        ThumbnailPanel::Services services;
        services.pointerWatch = [&platform] { return platform.watchPointer(); };
        services.escape = std::make_unique<EscapeKeyGrab>(&platform.keys());
        services.deleteKeys = std::make_unique<EscapeKeyGrab>(&platform.keys(), QList<quint32>{0xffff, 0xff08});
        services.copyKey = std::make_unique<EscapeKeyGrab>(&platform.keys(), QList<quint32>{0x63}, GlobalKeys::Control);
        services.openLibrary = [] { LibraryPanel::shared().toggle(); };
        services.translationLanguageChosen = [] { return TranslateModel::defaultLanguage().has_value(); };
        services.chooseTranslationLanguage = [] { return TranslateModel::chooseDefault(true); };
        services.translateView = [](const QString& text, std::function<void()> onClose) -> QWidget* {
            return new TranslateSideView(text, std::move(onClose));
        };
        return services;
    });
    FormatWheel::shared().setProbe(platform.dragProbe());

    ToolbarPrefsWindow::setPointerWatch([&platform] { return platform.watchPointer(); });
    RenamePanel::setPointerWatch([&platform] { return platform.watchPointer(); });

    AppDelegate delegate(defaults, platform);
    LibraryPanel::Services basket;
    basket.pointerWatch = [&platform] { return platform.watchPointer(); };
    basket.desktops = &platform.desktops();
    basket.focus = &platform.windowFocus();
    basket.makeMenu = [&delegate] { return delegate.makeMenu(); };
    basket.statusItemArea = [&delegate] { return delegate.statusItemGeometry(); };
    basket.trash = [](const QString& path) { return Trash::moveToTrash(path); };
    basket.reveal = [](const QString& file) { return FileManager::showItem(file); };
    basket.showFolder = [](const QString& folder) { return FileManager::showFolder(folder); };
    LibraryPanel::setServices(std::move(basket));
    QObject::connect(&instance, &SingleInstance::reopenRequested, &delegate,
                     [&delegate] { delegate.applicationShouldHandleReopen(); });
    QObject::connect(&instance, &SingleInstance::openRequested, &delegate,
                     [&delegate](const QStringList& paths) { delegate.openFiles(toUrls(paths)); });
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &delegate,
                     [&delegate] { delegate.applicationWillTerminate(); });

    // A display that goes away ends us as a quit would: the model server ended, the page shown on a PDF card
    // written back, the warm-up's download cancelled and its partial file removed, the grabs on the pool done,
    // and the capture tool, which loses the display too, let finish with its file.
    QuitSignals::endOnDisplayLoss([&delegate] {
        delegate.applicationLostDisplay();
        LocalLLM::endWarmUp();
        QThreadPool::globalInstance()->waitForDone(5000);
        QuitSignals::waitForChildren(5000);
    });

    QTimer::singleShot(0, &delegate, [&delegate, files] {
        delegate.applicationDidFinishLaunching();
        if (!files.isEmpty())
            delegate.openFiles(toUrls(files));
    });
    const int status = QApplication::exec();
    QuitSignals::endOnDisplayLoss({}); // the delegate goes before the toolkit does
    defaults.setReport({});            // nothing is shown any more
    defaults.flush();
    // Grabs still running on the pool read the desktop: the application object would wait for them
    // too, but only after the backends had gone.
    QThreadPool::globalInstance()->waitForDone();
    return status;
}

} // namespace

int main(int argc, char** argv) {
    const int status = run(argc, argv);
#ifdef PICTOLARIUM_SANITIZED
    // Leaks are counted here, when everything of ours is gone, and not at exit: there the toolkit stops its
    // D-Bus connection thread from a static destructor, and a count that runs while that thread is still
    // leaving can find its thread record (152 bytes, with the bus's name) held by nothing, as it once did.
    __lsan_do_leak_check();
#endif
    return status;
}
