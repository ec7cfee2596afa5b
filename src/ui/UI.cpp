#include "ui/UI.h"

#include "platform/Compositor.h"
#include "ui/Brand.h"

#include <QDir>
#include <QFontDatabase>
#include <QHash>
#include <QMutex>

#include <atomic>
#include <cmath>
#include <mutex>

namespace UI {

namespace {

std::atomic<const Compositor*> desktopCompositor{nullptr};

} // namespace

void setCompositor(const Compositor* compositor) { desktopCompositor = compositor; }

bool composited() {
    const Compositor* compositor = desktopCompositor;
    return compositor && compositor->active();
}

QColor accent() { return Brand::green(); }
QColor onAccent() { return Brand::onGreen(); }

int registerFonts(const QString& folder) {
    QDir dir(folder);
    if (!dir.exists())
        return 0;
    int count = 0;
    const QStringList entries = dir.entryList(QDir::Files, QDir::Name);
    for (const QString& name : entries) {
        const QString ext = name.section(QLatin1Char('.'), -1);
        if (!name.contains(QLatin1Char('.')) || (ext != u"ttf" && ext != u"otf"))
            continue;
        if (QFontDatabase::addApplicationFont(dir.filePath(name)) >= 0)
            ++count;
    }
    return count;
}

QString faceName(QFont::Weight weight) {
    switch (weight) {
    case QFont::Bold:
    case QFont::ExtraBold:
    case QFont::Black:
        return QStringLiteral("Inter-Bold");
    case QFont::DemiBold:
        return QStringLiteral("Inter-SemiBold");
    case QFont::Medium:
        return QStringLiteral("Inter-Medium");
    default:
        return QStringLiteral("Inter-Regular");
    }
}

QString cacheKey(const QString& face, double size) {
    QString number = QString::number(size, 'g', 15);
    if (!number.contains(QLatin1Char('.')) && !number.contains(QLatin1Char('e')))
        number += QStringLiteral(".0");
    return face + QLatin1Char('@') + number;
}

namespace {

QFont::Weight faceWeight(const QString& face) {
    if (face == u"Inter-Bold")
        return QFont::Bold;
    if (face == u"Inter-SemiBold")
        return QFont::DemiBold;
    if (face == u"Inter-Medium")
        return QFont::Medium;
    return QFont::Normal;
}

QString faceStyle(const QString& face) {
    if (face == u"Inter-Bold")
        return QStringLiteral("Bold");
    if (face == u"Inter-SemiBold")
        return QStringLiteral("Semi Bold");
    if (face == u"Inter-Medium")
        return QStringLiteral("Medium");
    return QStringLiteral("Regular");
}

void applySize(QFont& font, double size) {
    // One point is one device-independent pixel here; fractional sizes keep their fraction.
    font.setPixelSize(qMax(1, qRound(size)));
    if (size != std::floor(size))
        font.setPointSizeF(size * 72.0 / 96.0);
}

// The face when it is registered, else the system font at the weight asked for.
QFont make(const QString& family, const QString& style, QFont::Weight faceWeight, QFont::Weight asked, double size,
           QFontDatabase::SystemFont fallback = QFontDatabase::GeneralFont) {
    const bool available = QFontDatabase::hasFamily(family) && QFontDatabase::styles(family).contains(style);
    QFont font = available ? QFont(family) : QFontDatabase::systemFont(fallback);
    if (available) {
        font.setStyleName(style);
        font.setWeight(faceWeight);
    } else {
        font.setWeight(asked);
    }
    applySize(font, size);
    return font;
}

QHash<QString, QFont>& cache() {
    static QHash<QString, QFont> fonts;
    return fonts;
}

QMutex& cacheMutex() {
    static QMutex mutex;
    return mutex;
}

// The program's own faces are registered when the first font is asked for, not at start: reading them
// would hold up the tray icon, which needs no text.
void registerOwnFontsOnce() {
    static std::once_flag once;
    std::call_once(once, [] { registerFonts(); });
}

} // namespace

QFont font(double size, QFont::Weight weight) {
    registerOwnFontsOnce();
    const QString face = faceName(weight);
    const QString key = cacheKey(face, size);
    QMutexLocker lock(&cacheMutex());
    auto it = cache().constFind(key);
    if (it != cache().constEnd())
        return *it;
    const QFont made = make(QStringLiteral("Inter"), faceStyle(face), faceWeight(face), weight, size);
    cache().insert(key, made);
    return made;
}

QFont monoFont(double size) {
    registerOwnFontsOnce();
    const QString key = cacheKey(QStringLiteral("JetBrainsMono-Regular"), size);
    QMutexLocker lock(&cacheMutex());
    auto it = cache().constFind(key);
    if (it != cache().constEnd())
        return *it;
    const QFont made = make(QStringLiteral("JetBrains Mono"), QStringLiteral("Regular"), QFont::Normal, QFont::Normal,
                            size, QFontDatabase::FixedFont);
    cache().insert(key, made);
    return made;
}

} // namespace UI
