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

// Encodes the picture into the file and lets the caller act on it whole before it is named: 0, or the errno
// value of the write that failed (EIO when the encoder failed on its own).
int encodeInto(const QImage& image, NewFiles::Pending& pending, const BeforeNaming& beforeNaming) {
    QFile device;
    if (!device.open(pending.fd(), QIODevice::WriteOnly, QFileDevice::DontCloseHandle))
        return EIO;
    errno = 0;
    const bool written = PngWriter::write(image, &device) && device.flush();
    const int error = written ? 0 : errno ? errno : EIO;
    device.close();
    if (!written)
        return error;
    if (beforeNaming)
        beforeNaming(pending.fd());
    return 0;
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
    int error = encodeInto(image, pending, beforeNaming);
    if (error == 0)
        error = pending.placeOver(path);
    if (error != 0)
        throw ConvertError(NewFiles::cantWrite(name, error));
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
    const int error = encodeInto(image, pending, beforeNaming);
    const QString path = error == 0 ? pending.place(&failed) : QString();
    if (path.isEmpty())
        throw ConvertError(NewFiles::cantWrite(failed.isEmpty() ? NewFiles::firstFree(names) : failed,
                                               error != 0 ? error : pending.lastError()));
    return QUrl::fromLocalFile(path);
}

} // namespace ShotFiles
