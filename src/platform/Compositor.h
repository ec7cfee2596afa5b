#pragma once
// Whether translucent windows are composited over what lies beneath them.

class Compositor {
public:
    virtual ~Compositor() = default;

    // True when a compositing manager runs on the application's screen. Without one, a translucent
    // window's clear pixels show black, so rounded windows need a shape mask and alpha fades do
    // nothing. False when the display cannot be asked.
    virtual bool active() const = 0;
};
