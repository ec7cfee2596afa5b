// Prints what the clipboard offers, for the end-to-end tests: one "type <mime>" line per format,
// then "png <md5>" of the image/png bytes when there are any.

#include <QApplication>
#include <QClipboard>
#include <QCryptographicHash>
#include <QMimeData>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // The owner answers through the event loop: ask once it runs.
    QTimer::singleShot(200, [] {
        const QMimeData* data = QApplication::clipboard()->mimeData();
        if (data) {
            for (const QString& format : data->formats())
                std::printf("type %s\n", qPrintable(format));
            const QByteArray png = data->data(QStringLiteral("image/png"));
            if (!png.isEmpty())
                std::printf("png %s\n", QCryptographicHash::hash(png, QCryptographicHash::Md5).toHex().constData());
        }
        std::fflush(stdout);
        QApplication::quit();
    });
    return app.exec();
}
