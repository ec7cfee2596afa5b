#include "imaging/ShotFiles.h"

#include "imaging/NewFiles.h"
#include "imaging/PngWriter.h"
#include "platform/FileWrites.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace ShotFiles {

QString shotsFolder() {
    const QDir home = QDir::home();
    const QString folder = home.filePath(QStringLiteral("Pictures/Pictolarium"));
    for (const char* legacy : {"Pictures/Merin", "Pictures/Tallowcap"}) {
        const QString old = home.filePath(QString::fromLatin1(legacy));
        if (!QFileInfo::exists(folder) && QFileInfo(old).isDir())
            QDir().rename(old, folder); // a failed move leaves both as they were
    }
    QDir().mkpath(folder);
    return folder;
}

QString changed() {
    return QStringLiteral("picto.shotsChanged");
}

namespace {

// Encodes the picture into the file and lets the caller act on it whole before it is named; false when the
// bytes did not all reach the file.
bool encodeInto(const QImage& image, NewFiles::Pending& pending, const BeforeNaming& beforeNaming) {
    QFile device;
    if (!device.open(pending.fd(), QIODevice::WriteOnly, QFileDevice::DontCloseHandle))
        return false;
    const bool written = PngWriter::write(image, &device) && device.flush();
    device.close();
    if (!written)
        return false;
    if (beforeNaming)
        beforeNaming(pending.fd());
    return true;
}

} // namespace

QUrl write(const QImage& image, const QUrl& to, const BeforeNaming& beforeNaming) {
    const QString path = to.isLocalFile() ? to.toLocalFile() : QString();
    if (path.isEmpty())
        throw ConvertError(QStringLiteral("Can't write PNG"));
    const QString name = QFileInfo(path).fileName();
    NewFiles::Pending pending(path);
    if (pending.refused())
        throw ConvertError(FileWrites::endingText());
    if (!pending.ok())
        throw ConvertError(QStringLiteral("Can't write PNG"));
    if (!encodeInto(image, pending, beforeNaming) || pending.placeOver(path) != 0)
        throw ConvertError(QStringLiteral("Couldn't write ") + name);
    return to;
}

QUrl savePNG(const QImage& image, const QUrl& beside, const QString& suffix, const BeforeNaming& beforeNaming) {
    const QString source = beside.isLocalFile() ? beside.toLocalFile() : QString();
    if (source.isEmpty())
        throw ConvertError(QStringLiteral("Can't write PNG"));
    const QString folder = QFileInfo(source).absolutePath();
    const QString base = NewFiles::baseName(source) + QLatin1Char(' ') + suffix;
    const NewFiles::Candidates names = NewFiles::numbered(folder, base, QStringLiteral("png"));
    NewFiles::Pending pending(names);
    if (pending.refused())
        throw ConvertError(FileWrites::endingText());
    if (!pending.ok())
        throw ConvertError(QStringLiteral("Can't write PNG"));
    QString failed;
    const QString path = encodeInto(image, pending, beforeNaming) ? pending.place(&failed) : QString();
    if (path.isEmpty())
        throw ConvertError(QStringLiteral("Couldn't write ") +
                           (failed.isEmpty() ? NewFiles::firstFree(names) : failed));
    return QUrl::fromLocalFile(path);
}

} // namespace ShotFiles
