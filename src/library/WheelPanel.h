#pragma once
// The format wheel's window: 340 pixels square, above everything, never taking the focus or the
// pointer, so the drag under way can go on into it. Round through translucency, or through a shape
// mask of the whole wheel where nothing composites.

#include <QWidget>

class WheelView;

class WheelPanel : public QWidget {
    Q_OBJECT
public:
    static constexpr int diameter = 340;

    WheelPanel();
    WheelView* view() const { return wheel; }
    // Where nothing composites, shapes the window to the wheel's outer disc: every point the wheel covers
    // takes drops, the gaps between segments and the centre included (they show dark).
    void reshape();

private:
    WheelView* wheel;
    bool composited;
};
