#pragma once
// The resize editor's preview: the picture stretched to the typed size as a share of the canvas, so an
// unlocked size shows its distortion. It has no handles; clicks on it change nothing.

#include "editors/EditorCanvasMarker.h"

#include <QImage>
#include <QWidget>

class ResizeCanvas : public QWidget, public EditorCanvasMarker {
    Q_OBJECT
public:
    explicit ResizeCanvas(const QImage& image, QWidget* parent = nullptr);

    // Each scale kept within minScale … 1 (1 is the whole canvas); redraws.
    void setScales(double x, double y);

    double minScale = 0.02;
    double scaleX = 1;
    double scaleY = 1;
    bool lockAspect = true;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    QImage picture;
    QImage cache; // the picture at the canvas's size
};
