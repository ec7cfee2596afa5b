#pragma once
// The basket of the real program, worked the way a person works it: its toggle key, clicks on its tiles, tabs and
// action pill at the size it opens at (840 wide, three columns of tiles, header scale 0.87), and what it traces
// (PICTOLARIUM_TRACE is set for the program) read back from the program's error output.

#include "Desktop.h"

#include <QByteArray>
#include <QColor>
#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>
#include <functional>

struct Basket {
    static inline const QString title = QStringLiteral("Pictolarium Basket");

    explicit Basket(const Desktop::Options& options = {});

    Desktop desktop;
    // The screenshots folder, a slash at its end; created by whoever puts the first file in it.
    QString folder;
    // Its client area when it was last shown.
    QRect frame;

    // Starts the program, puts the pointer mid-screen and shows the basket.
    bool start();
    bool alive();
    // Its window, 0 when it has none.
    quint32 window();
    bool shown();
    // Presses the toggle until it shows: the first press may come before the program has grabbed its keys.
    bool show();
    // Another window may have taken the focus, and the basket gone with it.
    bool up() { return shown() || show(); }
    // Waits until it is hidden.
    bool hidden(int ms = 3000);

    // The program's error output by lines, and a mark before whatever comes next.
    QStringList lines();
    qsizetype mark() { return lines().size() - 1; }
    // The first traced line after the mark that contains the text; empty when none came in time.
    QString traced(const QString& text, qsizetype mark = 0, int ms = 6000);
    bool saw(const QString& text, qsizetype mark = 0, int ms = 6000) { return !traced(text, mark, ms).isEmpty(); }
    // The newest traced line that starts with the prefix, waited for until one of them passes `ok`; the newest
    // with the prefix when none did.
    QString newest(const QString& prefix, const std::function<bool(const QString&)>& ok, int ms = 6000);
    // What the screenshots tab listed last, its names joined by " | ".
    QString lastListing();

    static constexpr double s = 0.87;
    // Tiles of an 840-wide basket: three columns of 256 × 183 below the 75-px header.
    QRect tile(int i) const {
        return QRect(frame.x() + 22 + (i % 3) * 270, frame.y() + 75 + 18 + (i / 3) * 197, 256, 183);
    }
    QPoint centre(int i) const { return tile(i).center() - QPoint(0, 20); }
    QPoint renameButton(int i) const { return tile(i).topLeft() + QPoint(166, 140); }
    QPoint badge(int i) const { return tile(i).topLeft() + QPoint(229, 140); }
    // The action pill's buttons, counted from Copy (0) to Delete (5).
    QPoint action(int i) const {
        const int deleteX = frame.right() - 20 - int(24 * s) - 12 - 6 - int(19 * s);
        return {deleteX - (5 - i) * (int(38 * s) + 4), frame.top() + 18 + 22};
    }
    QPoint shotsTab() const { return {frame.left() + 20 + 26 + 4 + int(52 * s), frame.top() + 18 + 22}; }
    QPoint recentTab() const { return shotsTab() + QPoint(int(52 * s) + 2 + int(59 * s), 0); }

    // A click with the pointer resting first, a key held through it when named.
    void click(QPoint at, const QString& held = {});
    void key(const QString& keys);
    // Opens the button's menu, kept for a person to look at when a shot is named, and picks by keys.
    void choose(QPoint button, const QStringList& keys, const QString& shot = {});
    // The same, picking the item `downs` below the first.
    void choose(QPoint button, int downs);
    // Selects these tiles alone.
    void select(const QList<int>& tiles);
};

// A picture for a tile: `colour` with its top-left quarter white, its folder made. Pictures written one after
// another are born a little apart, so the order the basket lists them in is known.
QString tilePicture(const QString& path, QSize size = {640, 400}, const QColor& colour = QColor(40, 120, 200));
// A file's MD5 in hex, as the clipboard probe prints it; empty when it cannot be read.
QByteArray md5Hex(const QString& path);
