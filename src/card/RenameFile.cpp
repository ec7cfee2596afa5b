#include "card/RenameFile.h"

#include "platform/FileOps.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QTextBoundaryFinder>

#include <cerrno>

namespace {

// Linux file systems take 255 bytes per name; room is kept for " 9999" and the extension.
constexpr int nameBytes = 255;

QString fitted(const QString& name, qsizetype room) {
    if (name.toUtf8().size() <= room)
        return name;
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, name);
    qsizetype cut = 0;
    while (graphemes.toNextBoundary() != -1 && name.left(graphemes.position()).toUtf8().size() <= room)
        cut = graphemes.position();
    return name.left(cut).trimmed();
}

QString candidate(const QString& folder, const QString& name, const QString& extension, int n) {
    QString file = n < 2 ? name : name + QLatin1Char(' ') + QString::number(n);
    if (!extension.isEmpty())
        file += QLatin1Char('.') + extension;
    return folder + QLatin1Char('/') + file;
}

} // namespace

namespace RenameFile {

QString cleaned(const QString& typed) {
    static const QRegularExpression separators(QStringLiteral("[/:\\\\]"));
    return typed.trimmed().replace(separators, QStringLiteral("-"));
}

Result move(const QString& file, const QString& typed) {
    const QFileInfo info(file);
    const QString extension = info.suffix();
    const qsizetype room = nameBytes - 5 - (extension.isEmpty() ? 0 : extension.toUtf8().size() + 1);
    const QString name = fitted(cleaned(typed), room);
    if (name.isEmpty())
        return {QString(), QStringLiteral("No name given")};
    const QString folder = info.absolutePath();
    for (int n = 1; n < 10000; ++n) {
        const QString to = candidate(folder, name, extension, n);
        const int error = FileOps::renameNoReplace(file, to);
        if (error == 0)
            return {to, QString()};
        if (error != EEXIST)
            return {QString(), FileOps::errorText(error)};
    }
    return {QString(), FileOps::errorText(EEXIST)};
}

} // namespace RenameFile
