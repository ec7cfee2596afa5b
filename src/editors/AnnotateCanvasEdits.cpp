// The canvas edits the editor window drives from its keys and menus: nudging the selected shape and
// placing a signature.

#include "editors/AnnotateCanvas.h"
#include "editors/AnnotationGeometry.h"

#include <algorithm>

void AnnotateCanvas::nudge(QPointF by) {
    if (!selected || *selected < 0 || *selected >= int(shapes.size()))
        return;
    registerSnapshot();
    Shape& shape = shapes[size_t(*selected)];
    shape.kind = AnnotationGeometry::moved(shape.kind, by);
    update();
}

QRectF AnnotateCanvas::signatureRect(QSize picture, QSize signature) {
    const double aspect = double(signature.height()) / std::max(1.0, double(signature.width()));
    const double targetWidth = std::max(80.0, 0.28 * picture.width());
    const double h0 = targetWidth * aspect;
    const double maxH = 0.4 * picture.height();
    double width = targetWidth, height = h0;
    if (maxH < h0) {
        width = maxH / std::max(aspect, 0.001);
        height = maxH;
    }
    return QRectF((picture.width() - width) / 2, (picture.height() - height) / 2, width, height);
}

void AnnotateCanvas::placeSignature(const QImage& signature) {
    if (signature.isNull())
        return;
    registerSnapshot();
    const QRectF rect = signatureRect(original.size(), signature.size());
    shapes.push_back(Shape{Annotation::Signature{rect}, newColor, defaultWidth(), false, signature});
    selected = int(shapes.size()) - 1;
    update();
    if (onDrawn)
        onDrawn();
}
