// Wires the program together: one instance per session, settings carried over once, fonts, the
// desktop's backends handed to what needs them, the application delegate and the hand-over of files
// from later launches. The only place that chooses backends.

#include "app/AppDelegate.h"
#include "app/Migration.h"
#include "capture/Capture.h"
#include "card/Thumbnail.h"
#include "editors/EditorWindow.h"
#include "library/FormatWheel.h"
#include "library/LibraryPanel.h"
#include "platform/Defaults.h"
#include "platform/EscapeKeyGrab.h"
#include "platform/PointerWatch.h"
#include "platform/SingleInstance.h"
#include "platform/x11/X11Platform.h"
#include "ui/UI.h"

#include <QApplication>
#include <QFileInfo>
#include <QImageReader>
#include <QThreadPool>
#include <QTimer>

#include <cstdio>

namespace {

QList<QUrl> toUrls(const QStringList& paths) {
    QList<QUrl> urls;
    for (const QString& path : paths)
        urls.append(QUrl::fromLocalFile(path));
    return urls;
}

QStringList fileArguments(const QStringList& arguments) {
    QStringList files;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& arg = arguments.at(i);
        if (arg.startsWith(QLatin1Char('-')))
            continue;
        files.append(QFileInfo(arg).absoluteFilePath());
    }
    return files;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Pictolarium"));
    QApplication::setOrganizationName(QStringLiteral("Pictolarium"));
    QApplication::setDesktopFileName(QStringLiteral("pictolarium"));
    QApplication::setQuitOnLastWindowClosed(false);

    const QStringList files = fileArguments(QApplication::arguments());

    SingleInstance instance;
    if (instance.forward(files))
        return 0;
    if (!instance.listen())
        std::fprintf(stderr, "pictolarium: cannot listen on %s; later launches will start a second copy.\n",
                     qPrintable(instance.socketPath()));

    // Stitched pages and camera pictures are larger than Qt's default 256 MB allowance.
    QImageReader::setAllocationLimit(2048);

    Defaults& defaults = Defaults::standard();
    if (!defaults.damagedCopy().isEmpty())
        std::fprintf(stderr, "pictolarium: the settings file was damaged and was kept as %s.\n",
                     qPrintable(defaults.damagedCopy()));
    Migration::migrateFromPictolite(defaults);
    UI::registerFonts();

    X11Platform platform;
    UI::setCompositor(&platform.compositor());
    Capture::setWindowList(&platform.windows());
    EditorWindow::setWindowFocus(&platform.windowFocus());
    Thumbnail::setServices([&platform] {
        ThumbnailPanel::Services services;
        services.pointerWatch = [&platform] { return platform.watchPointer(); };
        services.escape = std::make_unique<EscapeKeyGrab>(&platform.keys());
        services.deleteKeys = std::make_unique<EscapeKeyGrab>(&platform.keys(), QList<quint32>{0xffff, 0xff08});
        services.openLibrary = [] { LibraryPanel::shared().toggle(); };
        return services;
    });
    FormatWheel::shared().setProbe(platform.dragProbe());

    AppDelegate delegate(defaults, platform);
    QObject::connect(&instance, &SingleInstance::reopenRequested, &delegate,
                     [&delegate] { delegate.applicationShouldHandleReopen(); });
    QObject::connect(&instance, &SingleInstance::openRequested, &delegate,
                     [&delegate](const QStringList& paths) { delegate.openFiles(toUrls(paths)); });
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &delegate, [&delegate] { delegate.applicationWillTerminate(); });

    QTimer::singleShot(0, &delegate, [&delegate, files] {
        delegate.applicationDidFinishLaunching();
        if (!files.isEmpty())
            delegate.openFiles(toUrls(files));
    });
    const int status = QApplication::exec();
    // Grabs still running on the pool read the desktop: the application object would wait for them
    // too, but only after the backends had gone.
    QThreadPool::globalInstance()->waitForDone();
    return status;
}
