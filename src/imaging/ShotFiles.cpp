#include "imaging/ShotFiles.h"

#include "imaging/NewFiles.h"
#include "imaging/PngWriter.h"
#include "platform/FileOps.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

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

QUrl write(const QImage& image, const QUrl& to) {
    const QString path = to.isLocalFile() ? to.toLocalFile() : QString();
    if (path.isEmpty())
        throw ConvertError(QStringLiteral("Can't write PNG"));
    const QString name = QFileInfo(path).fileName();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw ConvertError(QStringLiteral("Can't write PNG"));
    if (!PngWriter::write(image, &file)) {
        file.cancelWriting();
        file.commit();
        throw ConvertError(QStringLiteral("Couldn't write ") + name);
    }
    if (!FileOps::commit(file))
        throw ConvertError(QStringLiteral("Couldn't write ") + name);
    return to;
}

QUrl savePNG(const QImage& image, const QUrl& beside, const QString& suffix) {
    const QString source = beside.isLocalFile() ? beside.toLocalFile() : QString();
    if (source.isEmpty())
        throw ConvertError(QStringLiteral("Can't write PNG"));
    const QString folder = QFileInfo(source).absolutePath();
    const QString base = NewFiles::baseName(source) + QLatin1Char(' ') + suffix;
    const QString path = NewFiles::reserve(NewFiles::numbered(folder, base, QStringLiteral("png")), nullptr);
    if (path.isEmpty())
        throw ConvertError(QStringLiteral("Can't write PNG"));
    try {
        return write(image, QUrl::fromLocalFile(path));
    } catch (...) {
        QFile::remove(path);
        throw;
    }
}

} // namespace ShotFiles
