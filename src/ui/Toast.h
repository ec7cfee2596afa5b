#pragma once
// One short message in a small dark pill just above a screen point: it fades in, stays for a
// while and fades out. One toast at a time; a new one replaces the one on screen at once.

#include <QPoint>
#include <QString>

class QWidget;

class Toast {
public:
    Toast() = delete;

    // Shows the text centred on at, its bottom edge 14 pixels above it, for duration seconds,
    // and returns at once. at is in screen coordinates. A toast stays on the screen of at: moved in
    // from its edges, and a text wider than the screen wraps onto more lines.
    static void show(const QString& text, QPoint at, double duration);

    // Takes the current toast off the screen at once, without a fade.
    static void hide();

    // The window of the last toast shown, until hide() or the next show(); null before the first.
    static QWidget* current();

    // How long the fades take, in milliseconds.
    static constexpr int fadeInMs = 150;
    static constexpr int fadeOutMs = 250;
};
