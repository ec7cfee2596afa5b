#pragma once
// The crop editor's picture: the user drags a rectangle or draws a lasso outline on it. Outside the
// selection the picture is dimmed; a rectangle shows a rule-of-thirds grid and its size in picture units.

#include "editors/EditorCanvasMarker.h"

#include <QImage>
#include <QList>
#include <QPointF>
#include <QRectF>
#include <QWidget>
#include <optional>

class CropCanvas : public QWidget, public EditorCanvasMarker {
    Q_OBJECT
public:
    enum class Mode { rect, lasso };

    // `image` is the shot's picture; its device-independent size gives the size label its units.
    explicit CropCanvas(const QImage& image, QWidget* parent = nullptr);

    Mode mode = Mode::rect;
    std::optional<QPointF> start;
    std::optional<QPointF> current;
    QList<QPointF> lasso;

    // The dragged rectangle cut to the canvas; nothing until it is more than 4 pixels wide and high.
    std::optional<QRectF> selection() const;
    // The selection as fractions of the canvas, origin at the bottom-left and y upwards.
    std::optional<QRectF> normalizedSelection() const;
    // The outline's points as fractions (bottom-left origin, y up, not clamped); nothing below 4 points.
    std::optional<QList<QPointF>> normalizedLasso() const;

    // The selection's size as the label above it shows it, "w × h" in the picture's units: the size of the
    // piece a crop of the selection writes. Empty without a selection.
    QString sizeLabel() const;

    // Switches the mode and forgets both kinds of selection.
    void setMode(Mode value);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    const QImage& shownPicture();

    QImage picture;
    QImage cache; // the picture at the canvas's size, made once per size
};
