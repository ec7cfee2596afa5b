// Writes one file the way the program does, for a test that kills it part way: "ready" once everything before
// the write is done, "done <path>" once the file is written. Usage: pictolarium_write_once <writer> <folder>.

#include "card/PDFSession.h"
#include "editors/EditStore.h"
#include "imaging/ImageConvert.h"
#include "imaging/ShotFiles.h"
#include "platform/Defaults.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPdfWriter>

#include <cstdio>

namespace {

// Noise compresses badly: its file takes long enough to write to be cut off anywhere.
QImage noise(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    quint32 state = 2463534242u;
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<quint32*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            row[x] = 0xff000000u | (state & 0xffffffu);
        }
    }
    return image;
}

void say(const QByteArray& line) {
    std::fputs(line.constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 3)
        return 2;
    const QString writer = QString::fromUtf8(argv[1]);
    const QString folder = QString::fromUtf8(argv[2]);
    const QUrl picture = QUrl::fromLocalFile(folder + QStringLiteral("/p.png"));
    const QImage pixels = noise(2000, 1500);
    try {
        if (writer == QLatin1String("beside")) {
            say("ready");
            say("done " + ShotFiles::savePNG(pixels, picture, QStringLiteral("crop")).toLocalFile().toUtf8());
        } else if (writer == QLatin1String("in place")) {
            ShotFiles::write(noise(64, 64), picture);
            say("ready");
            say("done " + ShotFiles::write(pixels, picture).toLocalFile().toUtf8());
        } else if (writer == QLatin1String("annotated")) {
            const std::vector<ShapeRecord> shapes{
                ShapeRecord{QStringLiteral("box"), {1, 2, 30, 40}, {}, 0, {1, 0, 0, 1}, 4}};
            std::optional<QString> stored;
            say("ready");
            const QUrl url = ShotFiles::savePNG(pixels, picture, QStringLiteral("annotated"), [&](int fd) {
                stored = EditStore::saveBeforeNaming(std::nullopt, noise(1000, 750), shapes, fd);
            });
            if (stored)
                EditStore::setID(*stored, url);
            say("done " + url.toLocalFile().toUtf8());
        } else if (writer == QLatin1String("converted")) {
            say("ready");
            say("done " + ImageConvert::writeBeside(pixels, picture, ImageFormat::jpeg, 0.9).toLocalFile().toUtf8());
        } else if (writer == QLatin1String("settings")) {
            Defaults settings(folder, QStringLiteral("settings"));
            settings.set(QStringLiteral("small"), true);
            settings.flush();
            say("ready");
            // Written on a thread of its own: done once it is on the disk. As large as a settings file may be once
            // in base64, so that the kills land inside its write.
            if (!settings.set(QStringLiteral("large"), QByteArray(int(Defaults::readLimit * 2 / 3), 'x')) ||
                !settings.flush())
                return 1;
            say("done " + settings.filePath().toUtf8());
        } else if (writer == QLatin1String("document")) {
            const QString pdf = folder + QStringLiteral("/doc.pdf");
            {
                QPdfWriter page(pdf);
                QPainter painter(&page);
                painter.drawText(100, 100, QStringLiteral("page one"));
            }
            QString failure;
            const std::shared_ptr<PDFSession> session = PDFSession::open(QUrl::fromLocalFile(pdf), &failure);
            if (!session) {
                std::fprintf(stderr, "%s\n", qPrintable(failure));
                return 1;
            }
            session->replacePage(0, pixels, 4.0);
            say("ready");
            session->write();
            say("done " + pdf.toUtf8());
        } else {
            return 2;
        }
    } catch (const UserError& error) {
        std::fprintf(stderr, "%s\n", qPrintable(error.message));
        return 1;
    }
    return 0;
}
