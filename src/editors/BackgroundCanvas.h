#pragma once
// The backdrop editor's live preview: a reduced copy of the picture rendered on its backdrop, with the
// padding bands and a corner handle to drag and a chip that shows the value while dragging.

#include "editors/BackdropStyle.h"
#include "editors/EditorCanvasMarker.h"

#include <QImage>
#include <QWidget>

#include <functional>
#include <optional>

class BackgroundCanvas : public QWidget, public EditorCanvasMarker {
    Q_OBJECT
public:
    // The longest side the live preview renders, whatever the picture's size.
    static constexpr int previewLimit = 1400;

    BackgroundCanvas(const QImage& image, const BackdropStyle& style, QWidget* parent = nullptr);

    // Sides as on the picture with y up: sideX −1 left, +1 right; sideY −1 bottom, +1 top.
    struct Drag {
        enum class Kind { padding, corners } kind = Kind::padding;
        int sideX = 0;
        int sideY = 0;
        QPointF start;
        double padPx = 0;      // padding in preview pixels at the start, unrounded
        double radiusView = 0; // corner radius on the canvas at the start
        double scale = 1;      // canvas pixels per preview pixel at the start
    };
    struct Geometry {
        QRectF imageRect;
        QRectF pictureRect;
        double scale = 1;
        double radius = 0;
    };
    struct Zone {
        enum class Kind { none, padding, corner } kind = Kind::none;
        int sideX = 0;
        int sideY = 0;
        bool operator==(const Zone&) const = default;
    };

    // The preview's layout on the canvas; nothing while there is no rendered preview.
    std::optional<Geometry> geometry() const;
    Zone zone(QPointF at, const Geometry& geometry) const;
    // Shows `next` when it differs from the current style; true when it did.
    bool show(const BackdropStyle& next);

    BackdropStyle style;
    std::function<void(const BackdropStyle&)> onStyleChange;
    QImage source;
    QImage preview;
    std::optional<QImage> rendered;
    bool hovering = false;
    std::optional<Drag> drag;
    std::optional<QString> chip;

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    double previewLonger() const { return std::max(preview.width(), preview.height()); }
    void dragTo(QPointF point);
    bool transparentFill() const;
};
