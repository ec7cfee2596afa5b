#pragma once
// One short message in a small dark pill just above a screen point: it fades in, stays for a
// while and fades out. One toast at a time; a new one replaces the one on screen at once.

#include <QPoint>
#include <QString>
#include <QtGlobal>

class QWidget;

class Toast {
public:
    Toast() = delete;

    // Which toast: a number never given twice.
    using Id = quint64;

    // Shows the text centred on at, its bottom edge 14 pixels above it, for duration seconds,
    // and returns at once. at is in screen coordinates. A toast stays on the screen of at: moved in
    // from its edges, and a text wider than the screen wraps onto more lines. Returns the toast's id; 0 when
    // called off the main thread (the toast then shows a moment later).
    static Id show(const QString& text, QPoint at, double duration);

    // Takes the current toast off the screen at once, without a fade.
    static void hide();
    // Takes the toast off at once if it is still the one showing: a message that ends with some work must
    // not take another's message with it.
    static void hide(Id toast);

    // The window of the last toast shown, until hide() or the next show(); null before the first.
    static QWidget* current();

    // How long the fades take, in milliseconds.
    static constexpr int fadeInMs = 150;
    static constexpr int fadeOutMs = 250;
};
