// The card's side of its editors: one editor at a time, opened growing out of what the user was looking at,
// the card shrunk to its pill docked under the editor's canvas and held while it is open, and the editor's
// result taken back as the card's new picture.

#include "card/CardRunner.h"
#include "card/PDFSession.h"
#include "card/ThumbnailPanel.h"
#include "card/ThumbnailView.h"

#include "editors/AnnotateWindow.h"
#include "editors/BackgroundWindow.h"
#include "editors/CropWindow.h"
#include "editors/EditorWindow.h"
#include "editors/ResizeWindow.h"
#include "editors/RotateWindow.h"
#include "imaging/BoundedLoad.h"
#include "imaging/ImageConvert.h"
#include "platform/Dispatch.h"
#include "text/TextVision.h"
#include "ui/BusyWork.h"
#include "ui/GhostButton.h"
#include "ui/Toast.h"

#include <QCursor>
#include <QScopeGuard>
#include <QTimer>

#include <cmath>

namespace {

using Hold = CardLifetime::Hold;

const QString annotateTool = QStringLiteral("annotate");
const QString backgroundTool = QStringLiteral("background");

// How long reading a picture goes unremarked before "Reading <name>…" shows.
constexpr int readingHintMs = 400;

// Room kept free under the editor for the docked pill: its margins and the gap to the canvas.
constexpr double pillReserve = 44 + 14;

template <typename Editor> ThumbnailView::EditorMaker fileEditor() {
    return [](const Shot& shot, const ThumbnailView::EditorHooks& hooks) -> EditorWindow* {
        return new Editor(shot, hooks.done);
    };
}

} // namespace

void ThumbnailView::installEditors() {
    editorMakers.insert(QStringLiteral("crop"), fileEditor<CropWindow>());
    editorMakers.insert(QStringLiteral("resize"), fileEditor<ResizeWindow>());
    editorMakers.insert(QStringLiteral("rotate"), fileEditor<RotateWindow>());
    editorMakers.insert(annotateTool, [](const Shot& shot, const EditorHooks& hooks) -> EditorWindow* {
        auto* editor = new AnnotateWindow(
            shot, hooks.rendered, [](const QImage& image) { return TextVision::wordBoxes(image); }, &hooks.storedEdit,
            hooks.drawable);
        editor->onBackdrop = hooks.backdrop;
        return editor;
    });
    editorMakers.insert(backgroundTool, [](const Shot& shot, const EditorHooks& hooks) -> EditorWindow* {
        return new BackgroundWindow(shot, hooks.rendered);
    });
}

QRect ThumbnailView::pictureOnScreen() const {
    const QRectF image = cardGeometry.imageRect;
    return QRect(mapToGlobal(image.topLeft()).toPoint(), image.size().toSize());
}

ThumbnailView::EditorHooks ThumbnailView::editorHooks(const QString& tool) {
    QPointer<ThumbnailView> self(this);
    EditorHooks hooks;
    hooks.done = [self](const QUrl& url, const QString& message) {
        if (!self)
            return;
        // Read from the file the editor wrote, as an opened file is, while the card goes on answering; its tools
        // wait meanwhile. A file that can't be read leaves the picture as it was.
        self->runner->setBusy(true);
        self->hold(Hold::Runner, true);
        BoundedLoad::start(url, self, [self, url, message](const IsolatedDecode::Result& result) {
            self->runner->setBusy(false);
            self->hold(Hold::Runner, false);
            Shot next = self->current;
            next.fileURL = url;
            if (result.ok())
                next.image = result.image;
            self->apply(next);
            self->toastAfterEditor(message);
        });
    };
    const QString renderedMessage =
        tool == backgroundTool ? QStringLiteral("Background added") : QStringLiteral("Annotated");
    hooks.rendered = [self, renderedMessage](const QUrl& url, const QImage& image) {
        if (!self)
            return;
        Shot next = self->current;
        next.fileURL = url;
        next.image = image;
        self->apply(next);
        self->toastAfterEditor(renderedMessage);
    };
    hooks.backdrop = [self] {
        if (!self || self->closedForGood)
            return false;
        self->returnToAnnotate = true;
        self->openEditor(backgroundTool);
        return self && self->loadingTool == backgroundTool;
    };
    return hooks;
}

void ThumbnailView::toastAfterEditor(const QString& message) {
    // An editor hands its result over just before it closes: the message waits for the card to grow back,
    // so that it shows above the picture rather than where the docked pill was.
    QPointer<ThumbnailView> self(this);
    Dispatch::after(0, this, [self, message] {
        if (self)
            Toast::show(message, self->anchorPoint(), 1.6);
    });
}

void ThumbnailView::openEditor(const QString& tool) {
    engage();
    if (closedForGood)
        return;
    if (currentTool == tool) {
        closeEditor();
        return;
    }
    // A second tap while the picture is still being read: one editor opens, once. Nor does one open while a
    // tool's result is still coming into the card.
    if (loadingTool == tool || runner->busy())
        return;
    const EditorMaker maker = editorMakers.value(tool);
    if (!maker)
        return;
    stopLoadingEditor();
    editorAsked = KeyRoute::userAction();
    // The picture is read as an opened file is, while the card and an open editor go on answering: under the
    // busy cursor, with "Reading <name>…" once it takes long enough to notice.
    loadingTool = tool;
    editorLoad = new QObject(this);
    QWidget* waiting = currentEditor ? static_cast<QWidget*>(currentEditor.data()) : this;
    waiting->setCursor(Qt::BusyCursor);
    hold(Hold::Editor, true);
    QPointer<ThumbnailView> self(this);
    const QUrl url = current.fileURL;
    const int changes = pictureChanges;
    QTimer::singleShot(readingHintMs, editorLoad, [self, url] {
        if (self)
            self->editorReading = Toast::show(QStringLiteral("Reading ") + url.fileName() + QStringLiteral("\u2026"),
                                              self->anchorPoint(), IsolatedDecode::timeLimitMs / 1000.0);
    });
    BoundedLoad::start(url, editorLoad, [self, tool, changes, url](const IsolatedDecode::Result& result) {
        // The file as it is now; a file that can't be read leaves the picture the card holds.
        Shot shot = self->current;
        if (result.ok())
            shot.image = result.image;
        const auto show = [self, tool, changes](const Shot& shot, std::optional<EditStore::Edit> stored,
                                                QImage drawable) {
            const bool stillWanted = !self->closedForGood && changes == self->pictureChanges;
            self->stopLoadingEditor();
            if (stillWanted)
                self->showEditor(tool, shot, std::move(stored), std::move(drawable));
        };
        if (tool != annotateTool) {
            show(shot, std::nullopt, QImage());
            return;
        }
        // An annotated picture reopens with its shapes on their base picture, read here as well, and the picture is
        // put in the form the canvas draws with: both take long for a large one.
        const QPointer<QObject> waiting(self->editorLoad);
        Dispatch::global([waiting, show, shot, url] {
            std::optional<EditStore::Edit> stored = EditStore::load(url);
            QImage drawable = AnnotateWindow::drawable(shot.image, stored);
            Dispatch::main([waiting, show, shot, stored = std::move(stored), drawable = std::move(drawable)] {
                if (waiting)
                    show(shot, stored, drawable);
            });
        });
    });
}

void ThumbnailView::stopLoadingEditor() {
    if (!loadingTool)
        return;
    loadingTool.reset();
    // Its reading stops with it: the decoding child goes, and its result never arrives.
    delete editorLoad.data();
    if (const Toast::Id reading = std::exchange(editorReading, 0))
        Toast::hide(reading);
    if (currentEditor)
        currentEditor->unsetCursor();
    unsetCursor();
    // An editor still open keeps the card held.
    if (!currentEditor)
        hold(Hold::Editor, false);
}

void ThumbnailView::showEditor(const QString& tool, const Shot& shot, std::optional<EditStore::Edit> stored,
                               QImage drawable) {
    const EditorMaker maker = editorMakers.value(tool);
    if (!maker)
        return;
    // Its first drawing scales the whole picture down. The editor being left stays on screen under the busy
    // cursor until the next one is made: with the card collapsed, nothing else of ours would show that work is
    // going on.
    EditorWindow* previous = currentEditor;
    const BusyWork busy(previous ? static_cast<QWidget*>(previous) : this);

    const QRect source = previous ? previous->canvasFrame() : pictureOnScreen();
    const std::optional<QString> previousTool = currentTool;
    hold(Hold::Editor, true);

    EditorWindow* editor = nullptr;
    QString failure;
    {
        EditorWindow::forcedCanvas =
            large ? std::optional<QSizeF>(cardGeometry.imageRect.size()) : std::optional<QSizeF>();
        // Only the editor made here may see the forced size, also when making it throws.
        const auto clearForced = qScopeGuard([] { EditorWindow::forcedCanvas.reset(); });
        try {
            EditorHooks hooks = editorHooks(tool);
            hooks.storedEdit = std::move(stored);
            hooks.drawable = std::move(drawable);
            editor = maker(shot, hooks);
        } catch (const UserError& error) {
            failure = error.message;
        }
    }
    if (previous) {
        switching = true;
        previous->close();
        switching = false;
    }
    auto* panel = qobject_cast<ThumbnailPanel*>(window());
    if (!editor) {
        // Nothing to show: the card comes back as if the editor had closed.
        currentEditor = nullptr;
        currentTool.reset();
        if (previousTool && panel)
            panel->expand(QRectF(source));
        hold(Hold::Editor, false);
        Toast::show(failure.isEmpty() ? QStringLiteral("Can't open the editor") : failure, anchorPoint(), 3.0);
        return;
    }

    QPointer<ThumbnailView> self(this);
    if (pdf) {
        // The page an editor writes is the document's page, as a tool's is: a card closed while the editor writes
        // (by hand, by a new capture or another file, or by the program's end) has it put back into the document
        // as soon as it is written, on the editor's worker. Meanwhile the card neither steps nor starts a tool.
        const std::shared_ptr<PDFSession> session = pdf;
        editor->writeHooks.began = [self, session] {
            session->runStarted();
            if (self) {
                self->runner->setBusy(true);
                self->hold(Hold::Runner, true);
            }
        };
        editor->writeHooks.ended = [self, session](const std::optional<QUrl>& written) {
            const QString failure = session->runEnded(written);
            Dispatch::main([self, failure] {
                if (self) {
                    self->runner->setBusy(false);
                    self->hold(Hold::Runner, false);
                }
                if (!failure.isEmpty())
                    Toast::show(failure, self ? self->anchorPoint() : QCursor::pos(), 3.0);
            });
        };
    }
    if (tool == backgroundTool)
        editor->onClose = [self] {
            if (self)
                self->backdropClosed();
        };
    else
        editor->onClose = [self, tool] {
            if (self)
                self->editorClosed(tool);
        };
    editor->present(source, int(std::lround(pillHeight + pillReserve)), editorAsked);
    // Its first drawing scales the whole picture down: done now, under the busy cursor, not after it.
    editor->repaint();
    currentEditor = editor;
    currentTool = tool;
    if (GhostButton* button = tools.value(tool))
        button->setActive(true);
    if (panel)
        panel->collapse(QRectF(editor->canvasFrame()));
    editor->installEventFilter(this);
}

void ThumbnailView::editorClosed(const QString& tool) {
    if (GhostButton* button = tools.value(tool))
        button->setActive(false);
    if (currentEditor)
        currentEditor->removeEventFilter(this);
    if (switching)
        return;
    const QRect landing = currentEditor ? currentEditor->canvasFrame() : pictureOnScreen();
    currentEditor = nullptr;
    currentTool.reset();
    if (auto* panel = qobject_cast<ThumbnailPanel*>(window()); panel && !closedForGood)
        panel->expand(QRectF(landing));
    hold(Hold::Editor, false);
}

void ThumbnailView::backdropClosed() {
    editorClosed(backgroundTool);
    if (!std::exchange(returnToAnnotate, false) || switching)
        return;
    QPointer<ThumbnailView> self(this);
    Dispatch::after(0, this, [self] {
        if (self && !self->closedForGood)
            self->openEditor(annotateTool);
    });
}

void ThumbnailView::closeEditor() {
    stopLoadingEditor();
    if (currentEditor)
        currentEditor->close();
}

void ThumbnailView::closeEditors() {
    closedForGood = true;
    stopLoadingEditor();
    returnToAnnotate = false;
    if (currentEditor) {
        switching = true;
        currentEditor->close();
        switching = false;
    }
    currentEditor = nullptr;
    currentTool.reset();
}
