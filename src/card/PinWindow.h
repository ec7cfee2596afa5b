#pragma once
// A picture pinned above ordinary windows like a sticky note. Any number may be open; they live until
// closed or turned back into a card, and are not kept across runs.

#include "imaging/Shot.h"

#include <QRect>
#include <QWidget>

#include <vector>

class PinView;
class Desktops;

class PinWindow : public QWidget {
    Q_OBJECT
public:
    // Opens a pin showing the shot on the screen rectangle, without taking the focus.
    static PinWindow* pin(const Shot& shot, QRect rect);
    // The open pins, oldest first.
    static const std::vector<PinWindow*>& pins();
    // How pins are kept on every desktop; set once at start (without it they stay on the one they open on).
    static void setDesktops(Desktops* desktops);

    PinView* view() const { return content; }
    // Takes the pin off the screen and lets it go.
    void unpin();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    PinWindow(const Shot& shot, QRect frame);

    PinView* content = nullptr;
};
