#include "editors/AnnotateCanvas.h"

#include "editors/AnnotateTextField.h"
#include "editors/AnnotationGeometry.h"
#include "editors/AnnotationRenderer.h"
#include "editors/PictureRects.h"
#include "imaging/UserError.h"
#include "ui/UI.h"

#include <QCoreApplication>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QNativeGestureEvent>
#include <QPainter>
#include <QPainterPath>
#include <QRegion>
#include <QThreadPool>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <cstring>

using namespace Annotation;
namespace Geo = AnnotationGeometry;

AnnotateCanvas::AnnotateCanvas(const QImage& image, WordBoxes boxes, QWidget* parent, QImage drawable)
    : QWidget(parent), original(image), picture(drawable.format() == drawingFormat && drawable.size() == image.size()
                                                    ? std::move(drawable)
                                                    : image.convertToFormat(drawingFormat)),
      wordBoxes(std::move(boxes)) {
    setFocusPolicy(Qt::StrongFocus);
    // Not opaque: outside its rounded corners the window's dark backing shows.
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    hintTimer.setSingleShot(true);
    connect(&hintTimer, &QTimer::timeout, this, [this] {
        hintText.reset();
        update();
    });
    applyCursor();
}

AnnotateCanvas::~AnnotateCanvas() = default;

// ---- coordinates ----

double AnnotateCanvas::scale() const {
    return double(width()) / std::max(1, picture.width());
}

double AnnotateCanvas::defaultWidth() const {
    return strokeUnit(picture.height()) * toolThickness;
}

QPointF AnnotateCanvas::toPicture(QPointF v) const {
    const double s = scale() > 0 ? scale() : 1;
    return {v.x() / s, picture.height() - v.y() / s};
}

QPointF AnnotateCanvas::toView(QPointF p) const {
    const double s = scale();
    return {p.x() * s, (picture.height() - p.y()) * s};
}

double AnnotateCanvas::effectiveWidth(const Shape& shape) const {
    return shape.width > 0 ? shape.width : defaultWidth();
}

QRectF AnnotateCanvas::handleBox(const Shape& shape) const {
    const QRectF b = Geo::bounds(shape.kind, effectiveWidth(shape));
    return QRectF(b.x() - Geo::handlePad, b.y() - Geo::handlePad, b.width() + 2 * Geo::handlePad,
                  b.height() + 2 * Geo::handlePad);
}

bool AnnotateCanvas::validSelection() const {
    return selected && *selected >= 0 && *selected < int(shapes.size());
}

std::optional<int> AnnotateCanvas::hit(QPointF p) const {
    return Geo::hit(shapes, p, picture.height(), defaultWidth());
}

std::optional<int> AnnotateCanvas::handleHit(QPointF p) const {
    if (!validSelection() || scale() <= 0)
        return std::nullopt;
    return Geo::handleHit(shapes[size_t(*selected)], p, scale(), defaultWidth());
}

int AnnotateCanvas::numberCount() const {
    return int(std::count_if(shapes.begin(), shapes.end(),
                             [](const Shape& s) { return std::holds_alternative<Number>(s.kind); }));
}

std::optional<AnnotateCanvas::Kind> AnnotateCanvas::previewKind() const {
    if (!dragStart || !dragCurrent)
        return std::nullopt;
    const QPointF a = *dragStart, b = *dragCurrent;
    const QRectF r(std::min(a.x(), b.x()), std::min(a.y(), b.y()), std::abs(a.x() - b.x()), std::abs(a.y() - b.y()));
    const double distance = std::hypot(b.x() - a.x(), b.y() - a.y());
    const bool big = r.width() > 3 && r.height() > 3;
    switch (currentTool) {
    case Tool::Arrow:
        return distance > 4 ? std::optional<Kind>(Arrow{a, b}) : std::nullopt;
    case Tool::Line:
        return distance > 4 ? std::optional<Kind>(Line{a, b}) : std::nullopt;
    case Tool::Box:
        return big ? std::optional<Kind>(Box{r}) : std::nullopt;
    case Tool::Ellipse:
        return big ? std::optional<Kind>(Ellipse{r}) : std::nullopt;
    case Tool::Blur:
        return big ? std::optional<Kind>(Blur{r}) : std::nullopt;
    default:
        return std::nullopt;
    }
}

// ---- style ----

void AnnotateCanvas::applyCursor() {
    setCursor(currentTool == Tool::Text     ? Qt::IBeamCursor
              : currentTool == Tool::Select ? Qt::ArrowCursor
                                            : Qt::CrossCursor);
}

void AnnotateCanvas::setTool(Tool tool) {
    currentTool = tool;
    applyCursor();
}

void AnnotateCanvas::setFilled(bool value) {
    fillNew = value;
    if (validSelection()) {
        Shape& shape = shapes[size_t(*selected)];
        if (std::holds_alternative<Box>(shape.kind) || std::holds_alternative<Ellipse>(shape.kind)) {
            registerSnapshot();
            shapes[size_t(*selected)].filled = value;
        }
    }
    update();
}

void AnnotateCanvas::setColor(const Color& value) {
    newColor = value;
    if (field) {
        field->setTextColor(value.qcolor());
        editColor = value;
    }
    if (validSelection() && !sameColor(shapes[size_t(*selected)].color, value)) {
        registerSnapshot();
        shapes[size_t(*selected)].color = value;
        update();
    }
}

double AnnotateCanvas::currentThickness() const {
    if (validSelection())
        return shapes[size_t(*selected)].width / strokeUnit(picture.height());
    return toolThickness;
}

void AnnotateCanvas::setThickness(double units) {
    const double u = strokeUnit(picture.height());
    if (field) {
        editWidth = u * units;
        field->setTextSize(scale() * std::max(28.0, u * units * 14));
    } else if (validSelection()) {
        registerSnapshot();
        shapes[size_t(*selected)].width = u * units;
    } else {
        toolThickness = units;
    }
    update();
}

void AnnotateCanvas::nudgeThickness(double factor) {
    const double u = strokeUnit(picture.height());
    QString hint;
    if (validSelection()) {
        Shape& shape = shapes[size_t(*selected)];
        shape.width = std::clamp(factor * shape.width, 0.25 * u, 10 * u);
        const bool sized = std::holds_alternative<Text>(shape.kind) || std::holds_alternative<Number>(shape.kind);
        hint = (sized ? QStringLiteral("Size ") : QStringLiteral("Thickness ")) +
               QString::number(std::llround(shape.width / u * 100)) + QStringLiteral(" %");
    } else {
        toolThickness = std::clamp(factor * toolThickness, 0.25, 10.0);
        hint = QStringLiteral("Thickness ") + QString::number(std::llround(toolThickness * 100)) + QStringLiteral(" %");
    }
    showHint(hint, 1.2);
    update();
}

void AnnotateCanvas::showHint(const QString& text, double seconds) {
    hintText = text;
    hintTimer.start(int(std::lround(seconds * 1000)));
    update();
}

// ---- records, undo ----

std::vector<ShapeRecord> AnnotateCanvas::records() const {
    std::vector<ShapeRecord> out;
    out.reserve(shapes.size());
    for (const Shape& shape : shapes)
        out.push_back(ShapeRecord::of(shape));
    return out;
}

void AnnotateCanvas::load(const std::vector<ShapeRecord>& records) {
    shapes.clear();
    for (const ShapeRecord& record : records)
        if (auto shape = record.shape())
            shapes.push_back(std::move(*shape));
    selected.reset();
    update();
}

void AnnotateCanvas::registerSnapshot() {
    registerSnapshot(shapes);
}

void AnnotateCanvas::registerSnapshot(std::vector<Shape> saved) {
    QPointer<AnnotateCanvas> self(this);
    undoHistory.registerUndo([self, saved = std::move(saved)] {
        if (self)
            self->restore(saved);
    });
}

void AnnotateCanvas::restore(const std::vector<Shape>& saved) {
    registerSnapshot();
    shapes = saved;
    selected.reset();
    update();
}

void AnnotateCanvas::clear() {
    shapes.clear();
    selected.reset();
    update();
}

void AnnotateCanvas::deleteSelected() {
    if (!validSelection())
        return;
    registerSnapshot();
    shapes.erase(shapes.begin() + *selected);
    selected.reset();
    update();
}

void AnnotateCanvas::undo() {
    undoHistory.undo();
}
void AnnotateCanvas::redo() {
    undoHistory.redo();
}

void AnnotateCanvas::add(Shape shape) {
    shapes.push_back(std::move(shape));
    selected = int(shapes.size()) - 1;
    update();
}

// ---- text ----

void AnnotateCanvas::beginText(QPointF v, std::optional<QString> initial, std::optional<Color> color,
                               std::optional<double> width) {
    commitText();
    editWidth = width;
    editColor = color;
    const double w = width.value_or(defaultWidth());
    const double F = scale() * Geo::textSize(w);
    const double L = 1.2 * F;
    const double n = initial ? double(initial->split(QLatin1Char('\n')).size()) : 1;
    const double h = n * L + 4;
    const double fieldWidth = std::max(double(this->width()) - v.x() - 8, 160.0);
    auto* made = new AnnotateTextField(this);
    made->setGeometry(QRect(int(std::lround(v.x() - 3)), int(std::lround(v.y() - 0.5 * L - 2)),
                            int(std::lround(fieldWidth)), int(std::ceil(h))));
    made->setTextSize(F);
    made->setTextColor(color.value_or(newColor).qcolor());
    if (initial)
        made->setPlainText(*initial);
    made->moveCursor(QTextCursor::End);
    made->onCommit = [this] { commitText(); };
    made->fit();
    made->show();
    made->setFocus(Qt::OtherFocusReason);
    field = made;
    textOrigin = toPicture(v);
}

void AnnotateCanvas::commitText() {
    if (!field)
        return;
    const QString text = field->toPlainText().trimmed();
    // A re-edited text is out of the list while it is typed: the undo step puts it back as it was.
    std::vector<Shape> before = shapes;
    if (editBackup)
        before.insert(before.begin() + std::min<size_t>(size_t(std::max(0, editBackup->index)), before.size()),
                      editBackup->shape);
    if (text.isEmpty()) {
        if (editBackup)
            registerSnapshot(std::move(before));
    } else {
        registerSnapshot(std::move(before));
        Shape shape{
            Text{text, textOrigin}, editColor.value_or(newColor), editWidth.value_or(defaultWidth()), false, {}};
        if (!editBackup) {
            add(std::move(shape));
            QTimer::singleShot(0, this, [this] {
                if (onDrawn)
                    onDrawn();
            });
        } else {
            const size_t at = std::min<size_t>(size_t(std::max(0, editBackup->index)), shapes.size());
            shapes.insert(shapes.begin() + at, std::move(shape));
            selected = int(at);
        }
    }
    editBackup.reset();
    editWidth.reset();
    editColor.reset();
    AnnotateTextField* old = field;
    field = nullptr;
    old->hide();
    old->deleteLater();
    setFocus(Qt::OtherFocusReason);
    update();
}

AnnotateTextField* AnnotateCanvas::textField() const {
    return field.data();
}

// ---- words ----

void AnnotateCanvas::prepareWords() {
    if (wordsRequested)
        return;
    wordsRequested = true;
    if (!wordBoxes)
        return;
    QPointer<AnnotateCanvas> self(this);
    QThreadPool::globalInstance()->start([self, boxes = wordBoxes, image = original] {
        WordLines found = boxes(image);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, found = std::move(found)] {
                if (self) {
                    self->words = found;
                    self->update();
                }
            },
            Qt::QueuedConnection);
    });
}

std::vector<QRectF> AnnotateCanvas::snap(const QList<QPointF>& stroke) const {
    return Geo::snap(stroke, words);
}

// ---- pointer ----

void AnnotateCanvas::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        press(event->position(), 1);
}

void AnnotateCanvas::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        press(event->position(), 2);
}

void AnnotateCanvas::press(QPointF v, int clicks) {
    commitText();
    setFocus(Qt::MouseFocusReason);
    const QPointF p = toPicture(v);
    if (auto handle = handleHit(p)) {
        resizing = *handle;
        const Shape& shape = shapes[size_t(*selected)];
        resizeStart = Resize{handleBox(shape), shape.kind};
        return;
    }
    const auto target = hit(p);
    if (clicks == 2 && target && std::holds_alternative<Text>(shapes[size_t(*target)].kind)) {
        const Shape shape = shapes[size_t(*target)];
        shapes.erase(shapes.begin() + *target);
        editBackup = Backup{*target, shape};
        selected.reset();
        const auto& text = std::get<Text>(shape.kind);
        beginText(toView(text.anchor), text.text, shape.color, shape.width);
        update();
        return;
    }
    const bool freehand = currentTool == Tool::Pen || currentTool == Tool::Highlight || currentTool == Tool::Marker;
    if (target && (!freehand || target == selected)) {
        selected = target;
        moveLast = p;
        update();
        return;
    }
    selected.reset();
    update();
    switch (currentTool) {
    case Tool::Select:
        break;
    case Tool::Pen:
    case Tool::Highlight:
    case Tool::Marker:
        path = {p};
        break;
    case Tool::Number:
        registerSnapshot();
        add(Shape{Number{numberCount() + 1, p}, newColor, defaultWidth(), false, {}});
        if (onDrawn)
            onDrawn();
        break;
    case Tool::Text:
        beginText(v);
        break;
    default:
        dragStart = dragCurrent = p;
        break;
    }
}

void AnnotateCanvas::mouseMoveEvent(QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton))
        return;
    const QPointF p = toPicture(event->position());
    if (resizing || moveLast) {
        if (!validSelection())
            return;
        if (!dragSnapshot) {
            registerSnapshot();
            dragSnapshot = true;
        }
        Shape& shape = shapes[size_t(*selected)];
        if (resizing && (*resizing == Geo::startHandle || *resizing == Geo::endHandle)) {
            const bool start = *resizing == Geo::startHandle;
            if (auto* a = std::get_if<Arrow>(&shape.kind))
                (start ? a->tail : a->head) = p;
            else if (auto* l = std::get_if<Line>(&shape.kind))
                (start ? l->start : l->end) = p;
        } else if (resizing && resizeStart) {
            const QRectF from = resizeStart->box;
            const QRectF to = Geo::resizedBox(from, *resizing, p);
            shape.kind = Geo::fitted(resizeStart->kind, Geo::unpadded(from), Geo::unpadded(to));
            if (std::holds_alternative<Text>(shape.kind) || std::holds_alternative<Number>(shape.kind)) {
                const bool vertical = *resizing == 4 || *resizing == 6;
                const double d0 = vertical ? from.height() : from.width();
                const double d1 = vertical ? to.height() : to.width();
                shape.width = std::max(0.5, shape.width * d1 / std::max(1.0, d0));
                resizeStart = Resize{to, shape.kind};
            }
        } else if (moveLast) {
            shape.kind = Geo::moved(shape.kind, p - *moveLast);
            moveLast = p;
        }
        update();
        return;
    }
    switch (currentTool) {
    case Tool::Select:
        return;
    case Tool::Pen:
    case Tool::Highlight:
    case Tool::Marker:
        if (!path.isEmpty()) {
            path.push_back(p);
            update();
        }
        return;
    default:
        if (dragStart) {
            dragCurrent = p;
            update();
        }
        return;
    }
}

void AnnotateCanvas::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    const bool gesture = moveLast || resizing;
    std::optional<Shape> made;
    if (!gesture && currentTool != Tool::Select) {
        const Shape base{Arrow{}, newColor, defaultWidth(), false, {}};
        if (currentTool == Tool::Marker || currentTool == Tool::Pen || currentTool == Tool::Highlight) {
            if (path.size() >= 2) {
                made = base;
                if (currentTool == Tool::Pen) {
                    made->kind = Pen{path};
                } else if (currentTool == Tool::Highlight) {
                    made->kind = Highlight{path};
                } else {
                    const auto rects = snap(path);
                    if (rects.empty())
                        made->kind = Highlight{path};
                    else
                        made->kind = Marker{QList<QRectF>(rects.begin(), rects.end())};
                }
            }
        } else if (auto kind = previewKind()) {
            made = base;
            made->kind = *kind;
            made->filled = fillNew;
        }
    }
    moveLast.reset();
    resizing.reset();
    resizeStart.reset();
    dragSnapshot = false;
    dragStart.reset();
    dragCurrent.reset();
    path.clear();
    if (made) {
        registerSnapshot();
        add(std::move(*made));
        if (onDrawn)
            onDrawn();
    }
    update();
}

void AnnotateCanvas::wheelEvent(QWheelEvent* event) {
    const double d =
        !event->pixelDelta().isNull() ? event->pixelDelta().y() * 0.008 : event->angleDelta().y() / 120.0 * 0.06;
    if (d != 0)
        nudgeThickness(std::exp(d));
    event->accept();
}

bool AnnotateCanvas::event(QEvent* event) {
    if (event->type() == QEvent::NativeGesture) {
        auto* gesture = static_cast<QNativeGestureEvent*>(event);
        if (gesture->gestureType() == Qt::ZoomNativeGesture) {
            nudgeThickness(std::max(0.5, 1 + gesture->value()));
            return true;
        }
    }
    return QWidget::event(event);
}

bool AnnotateCanvas::typeIntoField(QKeyEvent* event) {
    if (!field)
        return false;
    // A key that passed the field by (the focus moved by a menu, a dialog or a click on the window) is typed into
    // it; one the field let through goes no further while it has letters, which would pick tools.
    if (!field->hasFocus()) {
        field->setFocus(Qt::OtherFocusReason);
        QKeyEvent copy(event->type(), event->key(), event->modifiers(), event->nativeScanCode(),
                       event->nativeVirtualKey(), event->nativeModifiers(), event->text(), event->isAutoRepeat(),
                       quint16(event->count()));
        QCoreApplication::sendEvent(field, &copy);
        event->accept();
        return true;
    }
    const bool plain = !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
    if (plain && !event->text().isEmpty()) {
        event->accept();
        return true;
    }
    return false;
}

void AnnotateCanvas::keyPressEvent(QKeyEvent* event) {
    if (field) {
        if (!typeIntoField(event))
            QWidget::keyPressEvent(event);
        return;
    }
    const auto mods =
        event->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier | Qt::MetaModifier);
    if (event->key() == Qt::Key_Z && mods == Qt::ControlModifier) {
        undo();
    } else if ((event->key() == Qt::Key_Z && mods == (Qt::ControlModifier | Qt::ShiftModifier)) ||
               (event->key() == Qt::Key_Y && mods == Qt::ControlModifier)) {
        redo();
    } else {
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
}

// ---- drawing ----

std::vector<AnnotateCanvas::Shape> AnnotateCanvas::previewShapes() const {
    std::vector<Shape> extra;
    if (auto kind = previewKind())
        extra.push_back(Shape{*kind, newColor, defaultWidth(), fillNew, {}});
    if (path.size() >= 2) {
        Shape stroke{Highlight{path}, newColor, defaultWidth(), false, {}};
        if (currentTool == Tool::Marker) {
            const auto rects = snap(path);
            if (!rects.empty())
                stroke.kind = Marker{QList<QRectF>(rects.begin(), rects.end())};
        } else if (currentTool == Tool::Pen) {
            stroke.kind = Pen{path};
        }
        extra.push_back(stroke);
    }
    return extra;
}

void AnnotateCanvas::drawFrom(QPainter& painter, const std::vector<Shape>& list, size_t from, bool preview) const {
    for (size_t i = from; i < list.size(); ++i)
        AnnotationRenderer::drawShape(painter, list[i], picture);
    if (preview) {
        for (const Shape& shape : previewShapes())
            AnnotationRenderer::drawShape(painter, shape, picture);
        if (validSelection() && scale() > 0)
            AnnotationRenderer::drawSelection(painter, shapes[size_t(*selected)], scale(), picture.height(),
                                              defaultWidth());
    }
}

void AnnotateCanvas::drawContent(QPainter& painter, bool preview) const {
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    painter.drawImage(QRectF(0, 0, picture.width(), picture.height()), picture);
    painter.restore();
    drawFrom(painter, shapes, 0, preview);
}

QImage AnnotateCanvas::render() {
    return renderer()();
}

std::function<QImage()> AnnotateCanvas::renderer() {
    commitText();
    return [picture = picture, shapes = shapes] {
        // The picture put down over nothing is the picture itself: start from a copy.
        QImage out = picture.copy();
        if (out.isNull())
            throw ConvertError(QStringLiteral("Can't render"));
        QPainter painter(&out);
        if (!painter.isActive())
            throw ConvertError(QStringLiteral("Can't render"));
        for (const Shape& shape : shapes)
            AnnotationRenderer::drawShape(painter, shape, picture);
        painter.end();
        return out;
    };
}

void AnnotateCanvas::drawHint(QPainter& painter) const {
    if (!hintText)
        return;
    const QFont font = UI::font(11, QFont::DemiBold);
    const QFontMetricsF metrics(font);
    const double tw = metrics.horizontalAdvance(*hintText), th = metrics.height();
    const QRectF pill(width() / 2.0 - tw / 2 - 9, 10, tw + 18, th + 6);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor::fromRgbF(0.08f, 0.08f, 0.08f, 0.85f));
    painter.drawRoundedRect(pill, pill.height() / 2, pill.height() / 2);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRectF(pill.x() + 9, pill.y() + 3, tw, th), Qt::AlignLeft | Qt::AlignTop, *hintText);
    painter.restore();
}

QRect AnnotateCanvas::reach(const Shape& shape, double s) const {
    const QRectF r = AnnotationRenderer::drawnBounds(shape);
    if (PictureRects::isNull(r))
        return {};
    if (!std::isfinite(r.x()) || !std::isfinite(r.y()) || !std::isfinite(r.width()) || !std::isfinite(r.height()))
        return frame.rect();
    // Clamped before conversion so absurd coordinates cannot overflow integers.
    const double limit = 1e6;
    const auto clampX = [&](double v) { return std::clamp(v * s, -limit, limit); };
    const auto clampY = [&](double v) { return std::clamp((picture.height() - v) * s, -limit, limit); };
    const QRectF view(QPointF(clampX(r.left()), clampY(r.bottom())), QPointF(clampX(r.right()), clampY(r.top())));
    return view.toAlignedRect().adjusted(-2, -2, 2, 2);
}

QRect AnnotateCanvas::selectionReach(const Shape& shape, double s) const {
    // Handles and end rings reach 9 view pixels past the handle box; the pad covers them at any scale.
    const double dpr = devicePixelRatioF();
    const int pad = int(std::ceil(12 * dpr));
    Shape box = shape;
    box.kind = Box{handleBox(shape)};
    box.width = 0;
    if (std::holds_alternative<Arrow>(shape.kind) || std::holds_alternative<Line>(shape.kind))
        box.kind = Box{Geo::bounds(shape.kind, 0)};
    return reach(box, s).adjusted(-pad, -pad, pad, pad);
}

QRect AnnotateCanvas::hintReach(const QString& hint, double dpr) const {
    const QFontMetricsF metrics(UI::font(11, QFont::DemiBold));
    const double tw = metrics.horizontalAdvance(hint), th = metrics.height();
    const QRectF pill(width() / 2.0 - tw / 2 - 9, 10, tw + 18, th + 6);
    return QRectF(pill.topLeft() * dpr, pill.size() * dpr).toAlignedRect().adjusted(-2, -2, 2, 2);
}

QRegion AnnotateCanvas::changedSince(const Drawn& before, const Drawn& now, double s, double dpr) const {
    QRegion dirty;
    const size_t count = std::max(before.above.size(), now.above.size());
    for (size_t i = 0; i < count; ++i) {
        const bool old = i < before.above.size(), fresh = i < now.above.size();
        if (old && fresh && before.above[i] == now.above[i])
            continue;
        if (old)
            dirty += reach(before.above[i], s);
        if (fresh)
            dirty += reach(now.above[i], s);
    }
    if (before.selection != now.selection) {
        if (before.selection)
            dirty += selectionReach(*before.selection, s);
        if (now.selection)
            dirty += selectionReach(*now.selection, s);
    }
    if (before.hint != now.hint) {
        if (before.hint)
            dirty += hintReach(*before.hint, dpr);
        if (now.hint)
            dirty += hintReach(*now.hint, dpr);
    }
    return dirty;
}

void AnnotateCanvas::paintEvent(QPaintEvent*) {
    const double dpr = devicePixelRatioF();
    const QSize pixels = (QSizeF(size()) * dpr).toSize();
    if (pixels.isEmpty())
        return;
    const double s = scale() * dpr;
    // Shapes from the one being moved or resized upwards are drawn every frame; the rest come from
    // the layer, which holds exactly what drawing them in order would give.
    size_t changing = shapes.size();
    if ((moveLast || resizing) && validSelection())
        changing = size_t(*selected);
    const bool layerFits = layer.size() == pixels && layerShapes.size() == changing &&
                           std::equal(layerShapes.begin(), layerShapes.end(), shapes.begin());
    if (!layerFits) {
        if (shownPicture.size() != pixels)
            shownPicture = picture.scaled(pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                               .convertToFormat(QImage::Format_ARGB32_Premultiplied);
        layer = shownPicture.copy();
        QPainter painter(&layer);
        painter.scale(s, s);
        for (size_t i = 0; i < changing; ++i)
            AnnotationRenderer::drawShape(painter, shapes[i], picture);
        layerShapes.assign(shapes.begin(), shapes.begin() + ptrdiff_t(changing));
        lastDrawn.reset();
    }
    Drawn now;
    now.above.assign(shapes.begin() + ptrdiff_t(changing), shapes.end());
    for (Shape& shape : previewShapes())
        now.above.push_back(std::move(shape));
    if (validSelection())
        now.selection = shapes[size_t(*selected)];
    now.hint = hintText;

    // Pixels outside the changed region were drawn by the same shapes in the same order last time.
    QRegion dirty(QRect(QPoint(0, 0), pixels));
    if (lastDrawn && frame.size() == pixels)
        dirty = changedSince(*lastDrawn, now, s, dpr) & QRect(QPoint(0, 0), pixels);
    else
        frame = QImage(pixels, QImage::Format_ARGB32_Premultiplied);
    if (!dirty.isEmpty()) {
        QPainter painter(&frame);
        painter.setClipRegion(dirty);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        for (const QRect& r : dirty)
            painter.drawImage(r.topLeft(), layer, r);
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        painter.save();
        painter.scale(s, s);
        const QRect bounds = dirty.boundingRect();
        for (const Shape& shape : now.above)
            if (reach(shape, s).intersects(bounds))
                AnnotationRenderer::drawShape(painter, shape, picture);
        if (now.selection)
            AnnotationRenderer::drawSelection(painter, *now.selection, scale(), picture.height(), defaultWidth());
        painter.restore();
        painter.scale(dpr, dpr);
        drawHint(painter);
    }
    lastDrawn = std::move(now);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    QPainterPath rounded;
    rounded.addRoundedRect(QRectF(rect()), 8, 8);
    painter.setClipPath(rounded);
    painter.drawImage(QRectF(rect()), frame);
}
