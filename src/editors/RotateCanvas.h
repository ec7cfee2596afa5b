#pragma once
// The rotate editor's live preview: the picture mirrored and turned as the file will be, fitted into the
// canvas that was sized for the unturned picture.

#include "editors/EditorCanvasMarker.h"

#include <QImage>
#include <QWidget>

class RotateCanvas : public QWidget, public EditorCanvasMarker {
    Q_OBJECT
public:
    explicit RotateCanvas(const QImage& image, QWidget* parent = nullptr);

    int turns = 0; // clockwise quarter turns, 0 … 3
    bool flipH = false;
    bool flipV = false;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    QImage picture;
    QImage cache; // the picture at most as large as the canvas, made once per canvas size
};
