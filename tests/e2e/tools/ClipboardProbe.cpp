// Prints what is on the desktop's clipboard, for tests that check what the program copied.
// Without arguments: the clipboard's text, as it stands. With --formats: one "type <mime>" line per format
// offered, one "url <url>" line per file, then "png <md5>" of the image/png bytes when there are any.

#include <QClipboard>
#include <QCryptographicHash>
#include <QGuiApplication>
#include <QMimeData>
#include <QTimer>
#include <QUrl>

#include <cstdio>

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const bool formats = QCoreApplication::arguments().contains(QStringLiteral("--formats"));
    // The owner answers through the event loop: ask once it runs.
    QTimer::singleShot(200, &app, [formats] {
        const QMimeData* data = QGuiApplication::clipboard()->mimeData();
        if (!formats) {
            const QByteArray text = QGuiApplication::clipboard()->text().toUtf8();
            std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
        } else if (data) {
            for (const QString& format : data->formats())
                std::printf("type %s\n", qPrintable(format));
            for (const QUrl& url : data->urls())
                std::printf("url %s\n", url.toEncoded().constData());
            const QByteArray png = data->data(QStringLiteral("image/png"));
            if (!png.isEmpty())
                std::printf("png %s\n", QCryptographicHash::hash(png, QCryptographicHash::Md5).toHex().constData());
        }
        std::fflush(stdout);
        QCoreApplication::quit();
    });
    return QGuiApplication::exec();
}
