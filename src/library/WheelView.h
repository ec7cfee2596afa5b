#pragma once
// The round face of the format wheel: a ring of segments, one per choice, around a disc naming what
// is dragged. A drop target for files: it lights the segment under the drag and hands the chosen
// option and the dropped files to its owner.

#include "imaging/ImageFormat.h"

#include <QList>
#include <QPainterPath>
#include <QString>
#include <QUrl>
#include <QWidget>
#include <functional>
#include <optional>

class WheelView : public QWidget {
    Q_OBJECT
public:
    // A choice of the wheel: convert to a format, or compress.
    class Option {
    public:
        static Option format(ImageFormat f) { return Option(f); }
        static Option compress() { return Option(std::nullopt); }

        bool isCompress() const { return !target.has_value(); }
        // The format converted to; meaningless for compress.
        ImageFormat imageFormat() const { return target.value_or(ImageFormat::png); }
        // The format's title, or "Compress".
        QString title() const;
        bool operator==(const Option& other) const { return target == other.target; }

    private:
        explicit Option(std::optional<ImageFormat> f) : target(f) {}
        std::optional<ImageFormat> target;
    };

    explicit WheelView(QWidget* parent = nullptr);

    // Called on a later turn of the event loop after a drop on a segment, with the files the drop
    // carried (possibly none).
    std::function<void(const Option&, const QList<QUrl>&)> onDrop;

    QList<Option> options;
    QString label;
    std::optional<int> highlighted;

    // Radii of the ring for hit-testing; the drawn ring is 2 pixels narrower on each side.
    static constexpr double outerR = 162;
    static constexpr double innerR = 56;
    // Trimmed from each side of a drawn segment, in degrees.
    static constexpr double gapDegrees = 1.6;

    // The segment under a point in view coordinates; nothing in the centre, outside the ring or with no
    // options. The drawn gaps belong to the neighbouring segments.
    std::optional<int> segment(QPointF at) const;
    QPainterPath segmentPath(int index) const;

    // How many times the highlight changed under a drag (each change repaints once).
    int highlightChanges() const { return changes; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    QPointF center() const;
    double step() const;
    void track(QDropEvent* event);

    int changes = 0;
};
