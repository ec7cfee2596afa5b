#include "ui/Symbols.h"

#include <QCoreApplication>
#include <QFile>
#include <QHash>
#include <QMutex>
#include <QPainter>
#include <QRegularExpression>
#include <QSvgRenderer>

#include <cmath>
#include <memory>
#include <unordered_map>

namespace Symbols {

namespace {

const QString kFolder = QStringLiteral(":/symbols/");

// Name → file of the picture, read once from the compiled-in table.
const QHash<QString, QString>& table() {
    static const QHash<QString, QString> entries = [] {
        QHash<QString, QString> map;
        QFile file(kFolder + QStringLiteral("symbols.txt"));
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
            return map;
        static const QRegularExpression blanks(QStringLiteral("\\s+"));
        while (!file.atEnd()) {
            const QString line = QString::fromUtf8(file.readLine()).trimmed();
            if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
                continue;
            const QStringList fields = line.split(blanks, Qt::SkipEmptyParts);
            if (fields.size() == 2)
                map.insert(fields.at(0), fields.at(1));
        }
        return map;
    }();
    return entries;
}

// The parsed pictures, shared by every caller; a renderer is not safe to use from two threads
// at once, hence the lock around drawing too.
QMutex& lock() {
    static QMutex mutex;
    return mutex;
}

// Kept until the application goes (a picture missing from the resources stays null), so that a
// symbol is parsed once however often it is drawn.
std::unordered_map<QString, std::unique_ptr<QSvgRenderer>>& renderers() {
    static std::unordered_map<QString, std::unique_ptr<QSvgRenderer>> parsed;
    return parsed;
}

// With the application's own objects, not after them at the process's exit.
void dropRenderers() {
    QMutexLocker locked(&lock());
    renderers().clear();
}

QSvgRenderer* renderer(const QString& file) {
    auto& parsed = renderers();
    if (parsed.empty())
        qAddPostRoutine(dropRenderers);
    auto it = parsed.find(file);
    if (it != parsed.end())
        return it->second.get();
    auto made = std::make_unique<QSvgRenderer>(kFolder + file);
    if (!made->isValid())
        made.reset();
    return parsed.emplace(file, std::move(made)).first->second.get();
}

} // namespace

bool has(const QString& name) {
    return table().contains(name);
}

QImage image(const QString& name, double pointSize, const QColor& colour, double devicePixelRatio) {
    if (!(pointSize > 0) || !(devicePixelRatio > 0))
        return {};
    const auto it = table().constFind(name);
    if (it == table().constEnd())
        return {};
    const int side = qMax(1, int(std::ceil(pointSize * devicePixelRatio)));
    QImage picture(side, side, QImage::Format_ARGB32_Premultiplied);
    picture.fill(Qt::transparent);
    {
        QMutexLocker locked(&lock());
        QSvgRenderer* svg = renderer(*it);
        if (!svg)
            return {};
        QPainter painter(&picture);
        painter.setRenderHint(QPainter::Antialiasing);
        svg->render(&painter, QRectF(0, 0, side, side));
        // The pictures are drawn in one colour; painting over their own pixels tints them.
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(picture.rect(), colour);
    }
    picture.setDevicePixelRatio(devicePixelRatio);
    return picture;
}

} // namespace Symbols
