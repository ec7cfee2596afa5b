// Prints the text on the desktop's clipboard, for tests that check what the program copied.

#include <QClipboard>
#include <QGuiApplication>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    // The clipboard is asked once the connection to the display runs.
    QTimer::singleShot(0, &app, [] {
        const QByteArray text = QGuiApplication::clipboard()->text().toUtf8();
        std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
        QCoreApplication::quit();
    });
    return QGuiApplication::exec();
}
