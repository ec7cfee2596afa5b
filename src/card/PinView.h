#pragma once
// The content of a pinned picture: drawn with rounded corners, moved by a drag, resized from its edges and
// corners with the picture's proportions kept, zoomed with a pinch or the wheel while Ctrl or Alt is held,
// closed by the button shown under the pointer, turned back into a card by a double-click.

#include "imaging/Shot.h"

#include <QPoint>
#include <QRect>
#include <QWidget>

#include <functional>

class PinView : public QWidget {
    Q_OBJECT
public:
    static constexpr int band = 16;   // the edge band that resizes
    static constexpr int corner = 26; // how far a corner reaches along its sides
    static constexpr int minWidth = 120;
    static constexpr int maxWidth = 4000;

    struct Grab {
        int x = 0; // -1 left edge, 1 right edge
        int y = 0; // -1 bottom edge, 1 top edge
        bool operator==(const Grab&) const = default;
    };

    PinView(const Shot& shot, QWidget* parent = nullptr);

    std::function<void()> onClose;
    // Turns the pin back into a card on the given screen rectangle; the card slot's opener unless a test
    // hands in its own.
    std::function<void(const Shot&, QRect)> onReopen;

    // Which edges a press at the point (view coordinates) takes hold of; none is a move.
    Grab edges(QPoint p) const;
    // The window frame after a drag by `delta` (screen pixels, y down) that began on `start` holding `grab`.
    QRect dragged(QRect start, Grab grab, QPoint delta) const;
    // The frame scaled by `factor` about its centre, within the width limits.
    QRect zoomed(QRect frame, double factor) const;
    void zoom(double factor);

    const Shot& shot() const { return pinned; }
    bool isHovering() const { return hovering; }
    QRect closeButtonRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    bool event(QEvent* event) override;

private:
    void setFrame(QRect frame);

    Shot pinned;
    double aspect = 1;
    bool hovering = false;
    bool pressed = false;
    bool reopening = false; // the file is being read for the card a double-click asked for
    QPoint dragOrigin;
    QRect startFrame;
    Grab grab;
};
