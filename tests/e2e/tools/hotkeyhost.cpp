// Hosts the hot actions on a test display and takes commands on standard input, so an end-to-end
// test can open the shortcut dialog and switch actions on and off without going through the menu:
//   change <key>          runs the change dialog; prints "changed <0|1>"
//   enable <key> <0|1>    sets the enabled flag
// Prints "ready" once the hot keys are registered. Tap and hold show up on standard error with
// PICTOLARIUM_TRACE set.

#include "app/AppDelegate.h"
#include "platform/Defaults.h"
#include "platform/x11/X11Platform.h"
#include "ui/UI.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdio>
#include <string>
#include <unistd.h>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    UI::registerFonts();
    X11Platform platform;
    AppDelegate delegate(Defaults::standard(), platform);

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    std::string pending;
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char buffer[256];
        const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            QApplication::quit();
            return;
        }
        pending.append(buffer, size_t(n));
        size_t end;
        while ((end = pending.find('\n')) != std::string::npos) {
            const QStringList words = QString::fromStdString(pending.substr(0, end)).split(QLatin1Char(' '));
            pending.erase(0, end + 1);
            // The dialog runs a nested event loop; commands wait until it is closed.
            input.setEnabled(false);
            if (words.size() == 2 && words[0] == u"change") {
                const bool changed = delegate.changeShortcut(words[1]);
                std::printf("changed %d\n", changed ? 1 : 0);
            } else if (words.size() == 3 && words[0] == u"enable") {
                delegate.setEnabled(words[1], words[2] == u"1");
                std::printf("enabled %s\n", qPrintable(words[2]));
            }
            std::fflush(stdout);
            input.setEnabled(true);
        }
    });

    QTimer::singleShot(0, &delegate, [&delegate] {
        delegate.registerHotKeys();
        std::printf("ready\n");
        std::fflush(stdout);
    });
    return QApplication::exec();
}
