#include "editors/CropWindow.h"

#include "editors/CropCanvas.h"
#include "imaging/Cropper.h"
#include "ui/Divider.h"
#include "ui/GhostButton.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPointer>

namespace {

GhostButton* button(const QString& label, const QString& symbol) {
    return new GhostButton(label, symbol, QString(), QSizeF(30, 28), 14);
}

} // namespace

CropWindow::CropWindow(const Shot& shot, std::function<void(const QUrl&, const QString&)> done)
    : EditorWindow(shot, 100, false, QStringLiteral("Pictolarium Crop")), onDone(std::move(done)) {
    canvas = new CropCanvas(shot.image.isNull() ? image() : shot.image, this);
    canvas->setGeometry(QRect(QPoint(20, 20), canvasSize()));

    rectButton = button(QStringLiteral("Rectangle"), QStringLiteral("rectangle.dashed"));
    rectButton->setActive(true);
    connect(rectButton, &QAbstractButton::clicked, this, &CropWindow::pickRect);
    lassoButton = button(QStringLiteral("Lasso"), QStringLiteral("lasso"));
    connect(lassoButton, &QAbstractButton::clicked, this, &CropWindow::pickLasso);

    auto* hint = new QLabel(QStringLiteral("\u21A9 crop \u00B7 Esc cancel"));
    QFont font = hint->font();
    font.setPixelSize(12);
    font.setWeight(QFont::Medium);
    hint->setFont(font);
    QPalette colours = hint->palette();
    colours.setColor(QPalette::WindowText, QColor(255, 255, 255, int(0.7 * 255)));
    hint->setPalette(colours);

    GhostButton* doneButton = button(QStringLiteral("Done (\u21A9)"), QStringLiteral("checkmark"));
    doneButton->setGlass(GhostButton::Glass::done);
    connect(doneButton, &QAbstractButton::clicked, this, &CropWindow::finish);

    addToolbar({rectButton, lassoButton, new Divider(16, false), hint, new Divider(16, false), doneButton});
    canvas->setFocus();
}

void CropWindow::pick(int mode) {
    canvas->setMode(CropCanvas::Mode(mode));
    rectButton->setActive(canvas->mode == CropCanvas::Mode::rect);
    lassoButton->setActive(canvas->mode == CropCanvas::Mode::lasso);
}

void CropWindow::pickRect() {
    pick(int(CropCanvas::Mode::rect));
}

void CropWindow::pickLasso() {
    pick(int(CropCanvas::Mode::lasso));
}

void CropWindow::finish() {
    if (isWriting())
        return;
    const QUrl source = shot().fileURL;
    std::function<QUrl()> crop;
    if (canvas->mode == CropCanvas::Mode::lasso) {
        const std::optional<QList<QPointF>> points = canvas->normalizedLasso();
        if (points)
            crop = [source, points = *points] { return Cropper::crop(source, points); };
    } else {
        const std::optional<QRectF> rect = canvas->normalizedSelection();
        if (rect)
            crop = [source, rect = *rect] { return Cropper::crop(source, rect); };
    }
    if (!crop) {
        close();
        return;
    }
    QPointer<CropWindow> self(this);
    writeAway([self, crop] {
        const QUrl written = crop();
        return Written{written, [self, written] {
                           if (self->onDone)
                               self->onDone(written, QStringLiteral("Cropped"));
                           self->close();
                       }};
    });
}

void CropWindow::keyPressEvent(QKeyEvent* event) {
    // Letters act alone: with Ctrl, Alt or Super held they belong to someone else.
    const bool plain = !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
    if (plain && event->text() == QLatin1String("l")) {
        pickLasso();
        return;
    }
    if (plain && event->text() == QLatin1String("r")) {
        pickRect();
        return;
    }
    EditorWindow::keyPressEvent(event);
}
