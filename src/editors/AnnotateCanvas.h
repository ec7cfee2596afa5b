#pragma once
// The annotate editor's drawing surface: shows the picture with its shapes, draws new shapes with
// the current tool, selects, moves and resizes them, types text, snaps the text highlighter to
// words, changes thickness by wheel and pinch, and keeps its own undo history.
// Shapes live in picture pixels with y up; the widget shows the picture scaled to its width.

#include "editors/Annotation.h"
#include "editors/EditorCanvasMarker.h"
#include "editors/ShapeRecord.h"
#include "editors/SnapshotHistory.h"

#include <QImage>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <optional>
#include <vector>

class AnnotateTextField;

class AnnotateCanvas : public QWidget, public EditorCanvasMarker {
    Q_OBJECT
public:
    using Shape = Annotation::Shape;
    using Kind = Annotation::Kind;
    using Tool = Annotation::Tool;
    using Color = Annotation::Color;
    using WordLines = std::vector<std::vector<QRectF>>;
    // Finds the word boxes of a picture (per line, picture pixels, y up); slow, run off the UI thread.
    using WordBoxes = std::function<WordLines(const QImage&)>;

    // `drawable`: the same picture already in drawingFormat, made off the thread that answers the user (converting
    // a large one takes a good part of a second); without it the canvas converts the picture itself.
    AnnotateCanvas(const QImage& image, WordBoxes wordBoxes = {}, QWidget* parent = nullptr, QImage drawable = {});
    static constexpr QImage::Format drawingFormat = QImage::Format_ARGB32_Premultiplied;
    ~AnnotateCanvas() override;

    // Called after the user added a shape.
    std::function<void()> onDrawn;

    std::vector<Shape> shapes;       // bottom to top
    std::optional<int> selected;     // index into shapes
    std::optional<QString> hintText; // shown at the top while set

    // The unannotated picture as it was given; never replaced.
    const QImage& image() const { return original; }
    Tool tool() const { return currentTool; }
    void setTool(Tool tool);
    bool filled() const { return fillNew; }
    // Also refills the selected box or ellipse (one undo step each time).
    void setFilled(bool filled);
    Color color() const { return newColor; }
    // Also recolours the open text and the selected shape when it differs.
    void setColor(const Color& color);

    // Thickness in units where 1 is normal; one unit is Annotation::strokeUnit of the picture height.
    double thickness() const { return toolThickness; }
    double currentThickness() const;
    void setThickness(double units);
    // The thickness new shapes get, whatever is selected or being typed.
    void setToolThickness(double units) { toolThickness = units; }
    // Scales the selected shape's width (or the tool's thickness) and shows the new size as a hint.
    void nudgeThickness(double factor);
    void showHint(const QString& text, double seconds);

    std::vector<ShapeRecord> records() const;
    // Replaces the shapes with those the records make, dropping records that make none.
    void load(const std::vector<ShapeRecord>& records);
    // The picture with its shapes at its own pixel size; commits typed text first.
    // Throws ConvertError "Can't render".
    QImage render();
    // The same drawing, to be done later on any thread: the picture and the shapes as they are now, typed text
    // committed first. Copying a large picture takes long enough to be kept off the thread that answers the user.
    std::function<QImage()> renderer();
    using QWidget::render;
    // Draws into a painter whose user space is the picture's pixel grid; the preview adds the shape
    // being drawn and the selection.
    void drawContent(QPainter& painter, bool preview) const;

    void restore(const std::vector<Shape>& saved);
    void clear();
    void deleteSelected();
    // Moves the selected shape by picture pixels (y up); one undo step.
    void nudge(QPointF by);
    // Adds the picture as a selected signature shape, centred and scaled to the picture; one undo step.
    void placeSignature(const QImage& signature);
    // Where a signature of that pixel size lands on a picture of that size (picture pixels).
    static QRectF signatureRect(QSize picture, QSize signature);
    SnapshotHistory& history() { return undoHistory; }
    void undo();
    void redo();

    // Opens the text field with its first line centred on the view point.
    void beginText(QPointF viewPoint, std::optional<QString> initial = {}, std::optional<Color> color = {},
                   std::optional<double> width = {});
    void commitText();
    AnnotateTextField* textField() const;
    // While a text field is open every key is the field's: true when this one was typed into it (or held back from
    // the window, whose letters pick tools).
    bool typeIntoField(QKeyEvent* event);

    // Starts word recognition once; strokes drawn before it ends become highlights.
    void prepareWords();
    const WordLines& wordLines() const { return words; }
    std::vector<QRectF> snap(const QList<QPointF>& path) const;

    std::optional<Kind> previewKind() const;
    int numberCount() const;
    double scale() const;
    double defaultWidth() const;
    QPointF toPicture(QPointF viewPoint) const;
    QPointF toView(QPointF picturePoint) const;
    std::optional<int> hit(QPointF p) const;
    std::optional<int> handleHit(QPointF p) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool event(QEvent* event) override;

private:
    struct Resize {
        QRectF box;
        Kind kind;
    };
    struct Backup {
        int index;
        Shape shape;
    };

    void press(QPointF viewPoint, int clicks);
    void registerSnapshot();
    void registerSnapshot(std::vector<Shape> saved);
    void add(Shape shape);
    bool validSelection() const;
    double effectiveWidth(const Shape& shape) const;
    QRectF handleBox(const Shape& shape) const;
    std::vector<Shape> previewShapes() const;
    void drawFrom(QPainter& painter, const std::vector<Shape>& list, size_t from, bool preview) const;
    void drawHint(QPainter& painter) const;
    void applyCursor();

    QImage original;
    QImage picture; // the same in the format drawing is fastest with
    WordBoxes wordBoxes;
    Tool currentTool = Tool::Arrow;
    bool fillNew = true;
    Color newColor = Annotation::systemRed();
    double toolThickness = 1.0;
    QTimer hintTimer;

    std::optional<QPointF> moveLast;
    std::optional<int> resizing;
    std::optional<Resize> resizeStart;
    std::optional<QPointF> dragStart, dragCurrent; // picture points of a two-point drag
    QList<QPointF> path;
    bool dragSnapshot = false;

    QPointer<AnnotateTextField> field;
    QPointF textOrigin;
    std::optional<Backup> editBackup;
    std::optional<double> editWidth;
    std::optional<Color> editColor;

    WordLines words;
    bool wordsRequested = false;
    SnapshotHistory undoHistory;

    // What the last frame drew over the layer, so the next one repaints only where that changed.
    struct Drawn {
        std::vector<Shape> above; // shapes from the changing one up, then the shapes in progress
        std::optional<Shape> selection;
        std::optional<QString> hint;
    };
    QRect reach(const Shape& shape, double s) const;
    QRect selectionReach(const Shape& shape, double s) const;
    QRect hintReach(const QString& hint, double dpr) const;
    QRegion changedSince(const Drawn& before, const Drawn& now, double s, double dpr) const;

    // The picture and the shapes below the one being changed, at the view's size: a drag repaints
    // only what lies above, and only where it changed.
    QImage layer, frame, shownPicture;
    std::vector<Shape> layerShapes;
    std::optional<Drawn> lastDrawn;
};
