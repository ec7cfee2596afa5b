#pragma once
// The white pad a signature is drawn on with the mouse or touchpad, and the dialog around it.

#include <QDialog>
#include <QImage>
#include <QList>
#include <QPainterPath>
#include <QPointF>
#include <QWidget>

#include <functional>
#include <optional>

class QPushButton;

class SignaturePad : public QWidget {
    Q_OBJECT
public:
    explicit SignaturePad(QWidget* parent = nullptr);

    QList<QList<QPointF>> strokes;
    // After a stroke ends and after clearing.
    std::function<void()> onChange;

    // Some stroke is more than a dot.
    bool hasInk() const;
    void clear();
    // The strokes in black on transparency at three times the pad's scale, cropped to them with a margin
    // of 6; nothing without a stroke.
    std::optional<QImage> render() const;
    // A stroke as drawn: through the midpoints of its points, a click as a short dot.
    static QPainterPath path(const QList<QPointF>& stroke);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
};

// "Create signature": the pad with Clear, Cancel and Save. Its close box cancels.
class SignatureDialog : public QDialog {
    Q_OBJECT
public:
    explicit SignatureDialog(QWidget* over);

    SignaturePad* pad = nullptr;
    QPushButton* saveButton = nullptr;

    // Runs the dialog over the window; the signature when the user saves, nothing when they cancel.
    static std::optional<QImage> draw(QWidget* over);
};
