#pragma once
// Home trees built by the library tests: files with given bytes, PNGs that carry a Software text, and
// a basket panel over a folder of the test's own.

#include "library/LibraryPanel.h"
#include "platform/fake/FakePlatform.h"

#include <QApplication>
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QString>
#include <QTemporaryDir>
#include <QThread>
#include <QThreadPool>
#include <QtEndian>
#include <zlib.h>

namespace LibraryFixtures {

inline QString put(const QString& path, const QByteArray& bytes = "x") {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(bytes);
    return path;
}

inline QByteArray chunk(const char* type, const QByteArray& data) {
    QByteArray out(4, 0);
    qToBigEndian<quint32>(quint32(data.size()), out.data());
    const QByteArray body = QByteArray(type, 4) + data;
    QByteArray crc(4, 0);
    qToBigEndian<quint32>(quint32(crc32(0, reinterpret_cast<const Bytef*>(body.constData()), uInt(body.size()))),
                          crc.data());
    return out + body + crc;
}

// A PNG header, an IHDR, an optional text chunk ("tEXt" or "iTXt") and IEND; no pixels are needed
// to test what is read before them.
inline QByteArray png(const char* textType = nullptr, const QByteArray& software = {}) {
    QByteArray ihdr(13, 0);
    ihdr[3] = 1;
    ihdr[7] = 1;
    ihdr[8] = 8;
    ihdr[9] = 6;
    QByteArray bytes = QByteArray("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", ihdr);
    if (textType && QByteArray(textType) == "tEXt")
        bytes += chunk("tEXt", QByteArray("Software", 9) + software);
    else if (textType)
        bytes += chunk("iTXt", QByteArray("Software", 9) + QByteArray(2, 0) + QByteArray(2, 0) + software);
    return bytes + chunk("IEND", {});
}

inline QString picture(const QString& path, int width = 64, int height = 40) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(QColor(40, 120, 200));
    image.save(path);
    return path;
}

// A basket over pictures in a folder of its own, with the trash and the prompt in the test's hands.
struct BasketPanel {
    QTemporaryDir dir{qEnvironmentVariable("HOME") + QStringLiteral("/basket-XXXXXX")};
    QString shots = dir.filePath(QStringLiteral("shots"));
    FakePlatform platform;
    QStringList trashed;
    QHash<QString, QString> refuse; // file name → reason the trash gives
    std::optional<QString> answer;
    std::unique_ptr<LibraryPanel> panel;

    explicit BasketPanel(const QStringList& names = {}, bool shown = true) {
        QDir().mkpath(shots);
        for (const QString& name : names)
            picture(path(name));
        // File times move in clock ticks of a few milliseconds: what a test writes next must come out newer.
        if (!names.isEmpty())
            QThread::msleep(20);
        LibraryPanel::Services services;
        services.pointerWatch = [this] { return platform.watchPointer(); };
        services.desktops = &platform.desktops();
        services.focus = &platform.windowFocus();
        services.statusItemArea = [] { return QRect(0, 0, 24, 24); };
        services.trash = [this](const QString& path) {
            Trash::Result result;
            if (refuse.contains(QFileInfo(path).fileName()))
                result.error = refuse.value(QFileInfo(path).fileName());
            else if (QFile::remove(path))
                trashed.append(path);
            return result;
        };
        services.reveal = [](const QString&) { return true; };
        services.showFolder = [](const QString&) { return true; };
        services.ask = [this](const QString&, const QString&, const QString&) { return answer; };
        BasketListing::Sources sources;
        sources.home = dir.path();
        sources.shotsFolder = [this] { return shots; };
        sources.systemFolder = [this] { return dir.filePath(QStringLiteral("none")); };
        sources.recent = [](const QDateTime&, bool, const std::function<bool()>&) {
            return BasketListing::RecentFound();
        };
        sources.now = [] { return QDateTime::currentDateTimeUtc(); };
        services.sources = sources;
        panel = std::make_unique<LibraryPanel>(services);
        if (shown) {
            panel->show();
            panel->reload();
            QApplication::processEvents();
        }
    }
    ~BasketPanel() { LibraryPanel::thumbQueue().waitForDone(); }

    QString path(const QString& name) const { return shots + u'/' + name; }
};

} // namespace LibraryFixtures
