// The card's tools that read the picture's text: copy text, translate and rename (whose suggestion comes
// from the text). Recognition runs on the worker pool under the runner's busy flag; the card is held weakly.

#include "card/ThumbnailView.h"

#include "card/CardRunner.h"
#include "card/CopiedText.h"
#include "card/PDFSession.h"
#include "card/RedactMarks.h"
#include "card/RenameFile.h"
#include "card/RenamePanel.h"
#include "editors/EditorWindow.h"
#include "imaging/ImageConvert.h"
#include "imaging/ShotFiles.h"
#include "platform/Dispatch.h"
#include "platform/Notifications.h"
#include "text/TextVision.h"
#include "ui/Brand.h"
#include "ui/Toast.h"

#include <QClipboard>
#include <QCursor>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPainter>
#include <QPointer>

namespace {

using Hold = CardLifetime::Hold;

QPoint anchorOf(const QPointer<ThumbnailView>& view) {
    return view ? view->anchorPoint() : QCursor::pos();
}

// What a reading tool reads from the picture: its text as the card shows it, where what is transparent
// shows the card's own ground (white letters on nothing are white letters on the card). Letters as
// dark as that ground, which the card hardly shows, are still read against white.
template <typename Read> auto readAsShown(const QImage& picture, Read read) {
    if (!picture.hasAlphaChannel())
        return read(picture);
    QImage shown(picture.size(), QImage::Format_RGB32);
    shown.fill(Brand::background());
    QPainter painter(&shown);
    painter.drawImage(0, 0, picture);
    painter.end();
    auto found = read(shown);
    return found.isEmpty() ? read(picture) : found;
}

} // namespace

void ThumbnailView::copyText() {
    closeEditor();
    engage();
    if (runner->busy())
        return;
    runner->setBusy(true);
    Toast::show(QStringLiteral("Reading\u2026"), anchorPoint(), CardRunner::progressSeconds);

    QPointer<ThumbnailView> self(this);
    const QUrl file = current.fileURL;
    // A PDF page its own /Rotate shows turned reads as it was set.
    const int turn = pdf ? pdf->pageTurn : 0;
    Dispatch::global([self, file, turn] {
        QString text;
        QStringList codes;
        const QString failure = failureOf([&] {
            const QImage picture = ImageConvert::load(file);
            text = readAsShown(picture, [turn](const QImage& image) { return TextVision::text(image, turn); });
            codes = TextVision::codes(picture);
        });
        Dispatch::main([self, text, codes, failure] {
            if (self)
                self->runner->setBusy(false);
            // The card may have faded meanwhile: the clipboard is still written and the message shows at the
            // pointer.
            if (!failure.isEmpty()) {
                Toast::show(failure, anchorOf(self), CardRunner::errorSeconds);
                return;
            }
            const CopiedText::Result result = CopiedText::compose(text, codes);
            if (result.clipboard)
                QGuiApplication::clipboard()->setText(*result.clipboard);
            Toast::show(result.message, anchorOf(self), result.seconds);
        });
    });
}

void ThumbnailView::translate() {
    closeEditor();
    engage();
    if (runner->busy() || !makeTranslateView)
        return;
    QPointer<ThumbnailView> self(this);
    if (translationLanguageChosen && !translationLanguageChosen() && chooseTranslationLanguage) {
        // The chooser is modal: the card steps aside while it is up.
        hold(Hold::Picker, true);
        if (onHide)
            onHide(true);
        const bool chosen = chooseTranslationLanguage();
        if (!self)
            return;
        if (onHide)
            onHide(false);
        hold(Hold::Picker, false);
        if (!chosen)
            return;
    }
    runner->setBusy(true);
    const QPoint at = anchorPoint();
    Toast::show(QStringLiteral("Reading\u2026"), at, CardRunner::progressSeconds);

    const QUrl file = current.fileURL;
    Dispatch::global([self, file, at] {
        QString text;
        try {
            text =
                readAsShown(ImageConvert::load(file), [](const QImage& image) { return TextVision::mainText(image); });
        } catch (const std::exception&) {
            // Unreadable or unrecognisable: the same as a picture without text.
        }
        Dispatch::main([self, text, at] {
            if (self)
                self->runner->setBusy(false);
            if (text.trimmed().isEmpty()) {
                Toast::show(QStringLiteral("No text found"), at, CardRunner::resultSeconds);
                return;
            }
            if (!self)
                return;
            Toast::hide();
            // A side view's close takes away only itself, not one that has replaced it since.
            auto made = std::make_shared<QPointer<QWidget>>();
            QPointer<ThumbnailView> weak = self;
            *made = self->makeTranslateView(text, [weak, made] {
                if (weak && *made && weak->sideView == *made)
                    weak->removeSide();
            });
            if (*made)
                self->showSide(*made);
        });
    });
}

void ThumbnailView::rename() {
    closeEditor();
    engage();
    const QUrl file = current.fileURL;
    const QPoint anchor = anchorPoint();
    hold(Hold::Rename, true);

    QPointer<ThumbnailView> self(this);
    Dispatch::global([self, file, anchor] {
        QString suggestion;
        try {
            suggestion = readAsShown(ImageConvert::load(file), [](const QImage& image) {
                return TextVision::suggestedName(image).value_or(QString());
            });
        } catch (const std::exception&) {
            // An unreadable picture suggests its current name, like one without text.
        }
        if (suggestion.isEmpty())
            suggestion = QFileInfo(file.toLocalFile()).completeBaseName();
        Dispatch::main([self, suggestion, anchor] {
            if (!self)
                return;
            RenamePanel::show(
                suggestion, anchor,
                [self](const QString& name) {
                    if (self)
                        self->renameTo(name);
                },
                [self] {
                    if (self)
                        self->hold(Hold::Rename, false);
                });
        });
    });
}

void ThumbnailView::renameTo(const QString& name) {
    hold(Hold::Rename, false);
    const QString before = current.fileURL.toLocalFile();
    const RenameFile::Result moved = RenameFile::move(before, name);
    if (moved.path.isEmpty()) {
        Toast::show(moved.error, anchorPoint(), CardRunner::errorSeconds);
        return;
    }
    RedactMarks::moved(current.fileURL, QUrl::fromLocalFile(moved.path));
    current.fileURL = QUrl::fromLocalFile(moved.path);
    if (pdf)
        pdf->show(current.fileURL);
    if (review)
        syncRedact();
    Notifications::defaultCenter().post(ShotFiles::changed(), current.fileURL);
    Toast::show(QFileInfo(moved.path).fileName(), anchorPoint(), CardRunner::resultSeconds);
}
