#include "editors/ResizeWindow.h"

#include "editors/ResizeCanvas.h"
#include "imaging/ImageConvert.h"
#include "ui/Divider.h"
#include "ui/GhostButton.h"
#include "ui/UI.h"

#include <QGraphicsOpacityEffect>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPointer>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// A Return in a field ends its editing and goes no further: the next Return, back on the canvas, finishes.
// Escape stays in the field too, as it would in any text field of a dialog.
class SizeField final : public QLineEdit {
public:
    using QLineEdit::QLineEdit;

protected:
    void keyPressEvent(QKeyEvent* event) override {
        QLineEdit::keyPressEvent(event);
        if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter || event->key() == Qt::Key_Escape)
            event->accept();
    }
};

qint64 roundHalfAway(double v) {
    return qint64(std::llround(v));
}

} // namespace

ResizeWindow::ResizeWindow(const Shot& shot, std::function<void(const QUrl&, const QString&)> done)
    : EditorWindow(shot, 100, false, QStringLiteral("Pictolarium Resize")), onDone(std::move(done)) {
    const int w = image().width(), h = image().height();
    canvas = new ResizeCanvas(image(), this);
    canvas->setGeometry(QRect(QPoint(20, 20), canvasSize()));
    // Never thinner than 8 pixels of the picture's shorter side would be.
    canvas->minScale = 8.0 / std::max(1, std::min(w, h));

    wField = numberField();
    hField = numberField();

    lockButton =
        new GhostButton(QStringLiteral("Keep proportions"), QStringLiteral("link"), QString(), QSizeF(30, 28), 13);
    auto* opacity = new QGraphicsOpacityEffect(lockButton);
    opacity->setOpacity(1.0);
    lockButton->setGraphicsEffect(opacity);
    connect(lockButton, &QAbstractButton::clicked, this, &ResizeWindow::toggleLock);

    auto* doneButton =
        new GhostButton(QStringLiteral("Done (\u21A9)"), QStringLiteral("checkmark"), QString(), QSizeF(30, 28), 14);
    doneButton->setGlass(GhostButton::Glass::done);
    connect(doneButton, &QAbstractButton::clicked, this, &ResizeWindow::finish);

    addToolbar({wField, lockButton, hField, new Divider(16, false), doneButton});

    targetW = w;
    targetH = h;
    syncFields();
    canvas->setFocus();
}

QLineEdit* ResizeWindow::numberField() {
    auto* field = new SizeField;
    field->setFixedSize(64, 26); // the fields keep their size whatever the chrome's scale
    field->setAlignment(Qt::AlignCenter);
    field->setFrame(false);
    QFont font = UI::monoFont(12);
    font.setWeight(QFont::DemiBold);
    field->setFont(font);
    field->setStyleSheet(QStringLiteral("QLineEdit { background: rgba(255, 255, 255, 26); color: white; border: none;"
                                        " border-radius: 7px; selection-background-color: rgba(255, 255, 255, 70); }"));
    connect(field, &QLineEdit::editingFinished, this, [this, field] { fieldEdited(field); });
    return field;
}

void ResizeWindow::syncFields() {
    wField->setText(QString::number(targetW));
    hField->setText(QString::number(targetH));
}

void ResizeWindow::fieldEdited(QLineEdit* sender) {
    QString digits;
    for (const QChar c : sender->text())
        if (c.isNumber())
            digits.append(c);
    bool ok = false;
    const qint64 value = digits.toLongLong(&ok);
    if (digits.isEmpty() || !ok || value < 1) {
        syncFields();
        return;
    }
    const qint64 v = std::min(value, largest);
    const double w = image().width(), h = image().height();
    const double ratio = h / w;
    if (sender == wField) {
        targetW = v;
        if (canvas->lockAspect)
            targetH = std::max<qint64>(1, roundHalfAway(ratio * double(v)));
    } else {
        targetH = v;
        if (canvas->lockAspect)
            targetW = std::max<qint64>(1, roundHalfAway(double(v) / ratio));
    }
    targetW = std::min(targetW, largest);
    targetH = std::min(targetH, largest);
    canvas->setScales(double(targetW) / w, double(targetH) / h);
    syncFields();
    canvas->setFocus();
}

void ResizeWindow::toggleLock() {
    canvas->lockAspect = !canvas->lockAspect;
    if (auto* opacity = qobject_cast<QGraphicsOpacityEffect*>(lockButton->graphicsEffect()))
        opacity->setOpacity(canvas->lockAspect ? 1.0 : 0.45);
    if (!canvas->lockAspect)
        return;
    const double w = image().width(), h = image().height();
    targetH = std::max<qint64>(1, roundHalfAway(h * double(targetW) / w));
    canvas->setScales(double(targetW) / w, double(targetH) / h);
    syncFields();
}

void ResizeWindow::finish() {
    if (isWriting())
        return;
    if (targetW == image().width() && targetH == image().height()) {
        close();
        return;
    }
    // Beyond what an int holds no picture can be made; the budget check gives the same answer.
    if (targetW > std::numeric_limits<int>::max() || targetH > std::numeric_limits<int>::max()) {
        fail(ConvertError(QStringLiteral("Can't resize")));
        return;
    }
    QPointer<ResizeWindow> self(this);
    writeAway([self, source = shot().fileURL, w = int(targetW), h = int(targetH)] {
        const ImageConvert::Replaced written = ImageConvert::resize(source, w, h);
        return Written{written.url, [self, written] {
                           if (self->onDone)
                               self->onDone(written.url,
                                            resultMessage(QStringLiteral("Resized"), written.trashFailure));
                           self->close();
                       }};
    });
}
