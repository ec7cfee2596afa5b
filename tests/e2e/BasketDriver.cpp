#include "BasketDriver.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QThread>

#include <algorithm>

Basket::Basket(const Desktop::Options& options) : desktop(options) {
    desktop.setEnvironment(QStringLiteral("PICTOLARIUM_TRACE"), QStringLiteral("1"));
    folder = desktop.shotsFolder() + u'/';
}

bool Basket::start() {
    desktop.startApp();
    if (!desktop.waitForApp())
        return false;
    desktop.moveTo({640, 400});
    return show();
}

bool Basket::alive() {
    return desktop.app() && desktop.app()->state() == QProcess::Running;
}

quint32 Basket::window() {
    return desktop.windowsByName(title).value(0);
}

bool Basket::shown() {
    return desktop.visibleWindow(QStringLiteral("^") + title + u'$') != 0;
}

bool Basket::show() {
    for (int attempt = 0; attempt < 4; ++attempt) {
        desktop.key(QStringLiteral("super+shift+s"));
        if (Desktop::waitUntil([&] { return shown(); }, 1500)) {
            frame = desktop.clientGeometry(window());
            QThread::msleep(300);
            return true;
        }
    }
    return false;
}

bool Basket::hidden(int ms) {
    return Desktop::waitUntil([&] { return !shown(); }, ms);
}

QStringList Basket::lines() {
    return desktop.appStderr().split(u'\n');
}

QString Basket::traced(const QString& text, qsizetype mark, int ms) {
    QString found;
    Desktop::waitUntil(
        [&] {
            const QStringList all = lines();
            for (qsizetype i = std::max<qsizetype>(0, mark); i < all.size(); ++i)
                if (all[i].startsWith(QStringLiteral("basket: ")) && all[i].contains(text)) {
                    found = all[i];
                    return true;
                }
            return false;
        },
        ms, 100);
    return found;
}

QString Basket::newest(const QString& prefix, const std::function<bool(const QString&)>& ok, int ms) {
    QString last;
    Desktop::waitUntil(
        [&] {
            const QStringList all = lines();
            for (qsizetype i = all.size() - 1; i >= 0; --i)
                if (all[i].startsWith(QStringLiteral("basket: ") + prefix)) {
                    last = all[i];
                    if (ok(last))
                        return true;
                }
            return false;
        },
        ms, 100);
    return last;
}

QString Basket::lastListing() {
    const QString prefix = QStringLiteral("basket: screenshots: ");
    const QStringList all = lines();
    for (qsizetype i = all.size() - 1; i >= 0; --i)
        if (all[i].startsWith(prefix))
            return all[i].mid(prefix.size());
    return {};
}

void Basket::click(QPoint at, const QString& held) {
    desktop.moveTo(at);
    QThread::msleep(120);
    if (!held.isEmpty())
        desktop.xdotool({QStringLiteral("keydown"), held});
    desktop.xdotool({QStringLiteral("click"), QStringLiteral("1")});
    if (!held.isEmpty())
        desktop.xdotool({QStringLiteral("keyup"), held});
    QThread::msleep(200);
}

void Basket::key(const QString& keys) {
    desktop.key(keys);
    QThread::msleep(250);
}

void Basket::choose(QPoint button, const QStringList& keys, const QString& shot) {
    click(button);
    QThread::msleep(300);
    if (!shot.isEmpty())
        desktop.screenshot(Desktop::shotsDir() + shot);
    for (const QString& k : keys)
        key(k);
}

void Basket::choose(QPoint button, int downs) {
    choose(button, QStringList(downs, QStringLiteral("Down")) << QStringLiteral("Return"));
}

void Basket::select(const QList<int>& tiles) {
    click(centre(tiles.first()));
    for (int i = 1; i < tiles.size(); ++i)
        click(centre(tiles[i]), QStringLiteral("ctrl"));
}

QString tilePicture(const QString& path, QSize size, const QColor& colour) {
    QDir().mkpath(QFileInfo(path).path());
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    QPainter(&image).fillRect(QRect(QPoint(0, 0), size / 2), Qt::white);
    image.save(path);
    QThread::msleep(40);
    return path;
}

QByteArray md5Hex(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QCryptographicHash::hash(file.readAll(), QCryptographicHash::Md5).toHex()
                                          : QByteArray();
}
