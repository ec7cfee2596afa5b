// The actions behind the card's buttons: the file-changing tools that are run through the card's runner,
// the basket, the format menu and the close button.

#include "card/ThumbnailView.h"

#include "card/PinWindow.h"
#include "card/ScrollRecorder.h"
#include "card/ShareMenu.h"
#include "card/ThumbnailPanel.h"
#include "editors/EditorWindow.h"
#include "imaging/ImageConvert.h"
#include "imaging/ImageFormat.h"
#include "imaging/ShotFiles.h"
#include "platform/Dispatch.h"
#include "text/Cutout.h"
#include "ui/GhostButton.h"
#include "ui/Toast.h"

#include <QAction>
#include <QCursor>
#include <QEvent>
#include <QHash>
#include <QMenu>
#include <QPointer>

namespace {

using Hold = CardLifetime::Hold;

// The replaced file could not go to the Trash: the result stands, and the user learns why two files remain.
QString withTrashNote(QString message, const QString& trashFailure) {
    if (!trashFailure.isEmpty())
        message += QStringLiteral(" \u2014 ") + trashFailure;
    return message;
}

QString decimal(double value, int places) {
    QString text = QString::number(value, 'f', places);
    if (text.contains(QLatin1Char('.'))) {
        while (text.endsWith(QLatin1Char('0')))
            text.chop(1);
        if (text.endsWith(QLatin1Char('.')))
            text.chop(1);
    }
    return text;
}

} // namespace

QString ThumbnailView::byteCount(qint64 bytes) {
    if (bytes <= 0)
        return QStringLiteral("Zero KB");
    if (bytes == 1)
        return QStringLiteral("1 byte");
    if (bytes < 1000)
        return QStringLiteral("%1 bytes").arg(bytes);
    // Decimal units, as file sizes are shown on the desktop; whole kilobytes, then more places as units grow.
    static const char* const units[] = {"KB", "MB", "GB", "TB"};
    double value = double(bytes) / 1000;
    int unit = 0;
    while (value >= 999.5 && unit < 3) {
        value /= 1000;
        ++unit;
    }
    return decimal(value, unit) + QLatin1Char(' ') + QLatin1String(units[unit]);
}

void ThumbnailView::triggerTool(const QString& id) {
    if (id == QLatin1String("compress")) {
        compressTapped();
        return;
    }
    if (id == QLatin1String("library")) {
        openLibrary();
        return;
    }
    if (id == QLatin1String("scroll")) {
        scrollCapture();
        return;
    }
    static const QHash<QString, void (ThumbnailView::*)()> actions = {
        {QStringLiteral("text"), &ThumbnailView::copyText}, {QStringLiteral("cutout"), &ThumbnailView::cutout},
        {QStringLiteral("share"), &ThumbnailView::share},   {QStringLiteral("rename"), &ThumbnailView::rename},
        {QStringLiteral("pin"), &ThumbnailView::pin},       {QStringLiteral("translate"), &ThumbnailView::translate},
    };
    if (const auto action = actions.value(id)) {
        (this->*action)();
        return;
    }
    if (editorMakers.contains(id)) {
        openEditor(id);
        return;
    }
    // An id no tool answers to (a row saved by another version) only counts as use of the card.
    closeEditor();
    engage();
}

void ThumbnailView::showFormats() {
    closeEditor();
    engage();
    QMenu menu(this);
    ShareMenu::darken(menu);
    const std::optional<ImageFormat> shown = ImageFormat::of(current.fileURL);
    for (const ImageFormat format : ImageFormat::available()) {
        QAction* item = menu.addAction(format.title());
        item->setCheckable(true);
        item->setChecked(shown && *shown == format);
        item->setData(format.rawValue());
    }
    hold(Hold::Picker, true);
    QPointer<ThumbnailView> self(this);
    const NestedLoop loop(this);
    QAction* chosen = menu.exec(formatButton->mapToGlobal(QPoint(0, formatButton->height() + 6)));
    if (!self)
        return;
    const QString raw = chosen ? chosen->data().toString() : QString();
    hold(Hold::Picker, false);
    // A card replaced or dismissed while the menu was open converts nothing.
    if (!raw.isEmpty() && isVisible())
        convertTo(raw);
}

void ThumbnailView::convertTo(const QString& rawFormat) {
    closeEditor();
    const std::optional<ImageFormat> format = ImageFormat::fromRawValue(rawFormat);
    if (!format || ImageFormat::of(current.fileURL) == format)
        return;
    const Shot base = current;
    const ImageFormat target = *format;
    run(QStringLiteral("Converting"), [base, target] {
        const ImageConvert::Replaced done = ImageConvert::convert(base.fileURL, target, 0.9);
        Shot next = base;
        next.fileURL = done.url;
        const QString message =
            target.title() + QStringLiteral(" \u00B7 ") + byteCount(ImageConvert::fileSize(done.url));
        return std::pair<Shot, QString>(next, withTrashNote(message, done.trashFailure));
    });
}

void ThumbnailView::compressTapped() {
    closeEditor();
    engage();
    const Shot base = current;
    run(QStringLiteral("Compressing"), [base] {
        const ImageConvert::Compressed done = ImageConvert::compress(base.fileURL);
        Shot next = base;
        next.fileURL = done.url;
        const QString message = byteCount(done.bytesBefore) + QStringLiteral(" \u2192 ") + byteCount(done.bytesAfter);
        return std::pair<Shot, QString>(next, withTrashNote(message, done.trashFailure));
    });
    // Lit from shortly after the press until the card's picture next changes, also when the press was
    // dropped because another tool was running.
    QPointer<GhostButton> button(compressButton);
    // A result that came within those 50 ms has already put the button out: it stays out.
    Dispatch::after(50, this, [this, button, pressedAt = pictureChanges] {
        if (button && pictureChanges == pressedAt)
            button->setActive(true);
    });
}

void ThumbnailView::cutout() {
    closeEditor();
    engage();
    const Shot base = current;
    run(QStringLiteral("Cutting out"), [base] {
        QImage cut = Cutout::removeBackground(ImageConvert::load(base.fileURL));
        cut.setDevicePixelRatio(1);
        Shot next = base;
        next.fileURL = ShotFiles::savePNG(cut, base.fileURL, QStringLiteral("cutout"));
        next.image = cut;
        return std::pair<Shot, QString>(next, QStringLiteral("Background removed"));
    });
}

void ThumbnailView::share() {
    closeEditor();
    engage();
    QPointer<ThumbnailView> self(this);
    // Also told after the menu has gone, when a helper it started fails.
    const auto report = [self](const QString& message) {
        Toast::show(message, self ? self->anchorPoint() : QCursor::pos(), 3.0);
    };
    ShareMenu menu(current.fileURL.toLocalFile(), current.image, ShareMenu::desktopActions(report), report);
    hold(Hold::Picker, true);
    QWidget* button = tools.value(QStringLiteral("share"));
    const QPoint at =
        button && button->isVisible() ? button->mapToGlobal(QPoint(0, button->height() + 6)) : QCursor::pos();
    menu.exec(at);
    // Held until the menu has gone, whether an item was chosen or not.
    if (self)
        hold(Hold::Picker, false);
}

void ThumbnailView::pin() {
    closeEditor();
    const QRect place = parentWidget() ? pictureOnScreen() : QRect();
    PinWindow::pin(current, place);
    if (onDone)
        onDone();
}

void ThumbnailView::openLibrary() {
    if (onOpenLibrary)
        onOpenLibrary();
    if (onDone)
        onDone();
}

void ThumbnailView::closeTapped() {
    if (onDone)
        onDone();
}

void ThumbnailView::scrollCapture() {
    closeEditor();
    engage();
    ScrollRecorder& recorder = ScrollRecorder::shared();
    if (recorder.active()) {
        ScrollRecorder::finish();
        return;
    }
    if (!current.window) {
        Toast::show(QStringLiteral("No window to scroll"), anchorPoint(), 1.6);
        return;
    }
    hold(Hold::Recording, true);
    // Closing the card ends its recording: nobody would take the frames.
    if (QWidget* card = window(); card != this)
        card->installEventFilter(this);
    if (onHide)
        onHide(true);
    if (GhostButton* button = tools.value(QStringLiteral("scroll")))
        button->setActive(true);

    QPointer<ThumbnailView> self(this);
    recorder.start(
        *current.window,
        [self](const ScrollRecorder::Result& result) {
            if (!self)
                return;
            if (self->onHide)
                self->onHide(false);
            if (GhostButton* button = self->tools.value(QStringLiteral("scroll")))
                button->setActive(false);
            if (const auto* failure = std::get_if<ScrollCapture::Failure>(&result)) {
                self->hold(Hold::Recording, false);
                Toast::show(failure->message, self->anchorPoint(), 3.0);
                return;
            }
            const auto& recorded = std::get<ScrollRecorder::Frames>(result);
            const Shot base = self->current;
            self->run(QStringLiteral("Stitching"), [base, recorded] {
                return ScrollCapture::stitch(base, recorded.images, recorded.stoppedAtLimit, recorded.stoppedCovered);
            });
            // Released only now, so the runner's own hold follows without a gap.
            self->hold(Hold::Recording, false);
        },
        this);
}

bool ThumbnailView::eventFilter(QObject* watched, QEvent* event) {
    // The docked pill follows the open editor, and only that one.
    if ((event->type() == QEvent::Move || event->type() == QEvent::Resize) && currentEditor &&
        watched == currentEditor.data()) {
        if (auto* panel = qobject_cast<ThumbnailPanel*>(window()); panel && !closedForGood)
            panel->collapse(QRectF(currentEditor->canvasFrame()));
        return false;
    }
    if (event->type() == QEvent::Close && watched == window()) {
        ScrollRecorder& recorder = ScrollRecorder::shared();
        const bool recording = recorder.active();
        recorder.cancel(this);
        if (recording && !recorder.active()) {
            hold(Hold::Recording, false);
            if (GhostButton* button = tools.value(QStringLiteral("scroll")))
                button->setActive(false);
        }
    }
    return QWidget::eventFilter(watched, event);
}
