#include "editors/RotateWindow.h"

#include "editors/RotateCanvas.h"
#include "editors/Transform.h"
#include "platform/Dispatch.h"
#include "ui/Divider.h"
#include "ui/GhostButton.h"

#include <QAbstractButton>
#include <QKeyEvent>
#include <QPointer>

RotateWindow::RotateWindow(const Shot& shot, std::function<void(const QUrl&, const QString&)> done)
    : EditorWindow(shot, 100, false, QStringLiteral("Pictolarium Rotate")), onDone(std::move(done)) {
    canvas = new RotateCanvas(image(), this);
    canvas->setGeometry(QRect(QPoint(20, 20), canvasSize()));

    const auto button = [this](const QString& label, const QString& symbol, void (RotateWindow::*action)()) {
        auto* made = new GhostButton(label, symbol, QString(), QSizeF(30, 28), 14);
        connect(made, &QAbstractButton::clicked, this, action);
        return made;
    };
    GhostButton* doneButton =
        button(QStringLiteral("Done (\u21A9)"), QStringLiteral("checkmark"), &RotateWindow::finish);
    doneButton->setGlass(GhostButton::Glass::done);
    addToolbar(
        {button(QStringLiteral("Rotate left"), QStringLiteral("rotate.left"), &RotateWindow::rotateLeft),
         button(QStringLiteral("Rotate right"), QStringLiteral("rotate.right"), &RotateWindow::rotateRight),
         button(QStringLiteral("Flip horizontally"),
                QStringLiteral("arrow.left.and.right.righttriangle.left.righttriangle.right"),
                &RotateWindow::flipHorizontally),
         button(QStringLiteral("Flip vertically"),
                QStringLiteral("arrow.up.and.down.righttriangle.up.righttriangle.down"), &RotateWindow::flipVertically),
         new Divider(16, false), doneButton});
    canvas->setFocus();
}

void RotateWindow::rotateLeft() {
    canvas->turns = (canvas->turns + 3) % 4;
    canvas->update();
}

void RotateWindow::rotateRight() {
    canvas->turns = (canvas->turns + 1) % 4;
    canvas->update();
}

void RotateWindow::flipHorizontally() {
    canvas->flipH = !canvas->flipH;
    canvas->update();
}

void RotateWindow::flipVertically() {
    canvas->flipV = !canvas->flipV;
    canvas->update();
}

void RotateWindow::finish() {
    if (isWriting())
        return;
    if (canvas->turns == 0 && !canvas->flipH && !canvas->flipV) {
        close();
        return;
    }
    QPointer<RotateWindow> self(this);
    writeAway([self, url = shot().fileURL, turns = canvas->turns, flipH = canvas->flipH, flipV = canvas->flipV] {
        const ImageConvert::Replaced written = ImageConvert::transform(url, turns, flipH, flipV);
        return Written{written.url, [self, written] {
                           if (self->onDone)
                               self->onDone(written.url,
                                            resultMessage(QStringLiteral("Rotated"), written.trashFailure));
                           self->close();
                       }};
    });
}
