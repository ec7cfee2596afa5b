#pragma once
// The format wheel's window: 340 pixels square, above everything, never taking the focus or the
// pointer, so the drag under way can go on into it. Round through translucency, or through a shape
// mask where nothing composites.

#include <QWidget>

class WheelView;

class WheelPanel : public QWidget {
    Q_OBJECT
public:
    static constexpr int diameter = 340;

    WheelPanel();
    WheelView* view() const { return wheel; }
    // Fits the shape mask to the segments the view now has; without a compositor the gaps between
    // them would show black.
    void reshape();

private:
    WheelView* wheel;
    bool composited;
};
