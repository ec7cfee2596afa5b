// A PDF on the card: stepping between its pages and putting a changed page back into the document.

#include "card/ThumbnailView.h"

#include "card/CardRunner.h"
#include "card/PDFSession.h"
#include "card/PageBar.h"
#include "editors/EditorWindow.h"
#include "imaging/UserError.h"
#include "platform/Dispatch.h"
#include "ui/FormatBadge.h"
#include "ui/Toast.h"

#include <QCursor>
#include <QFileInfo>

void ThumbnailView::buildPageBar() {
    badge->setText(badgeText());
    if (pageBar) {
        pageBar->hide();
        pageBar->deleteLater();
        pageBar = nullptr;
    }
    if (!pdf || pdf->pageCount() < 2)
        return;
    pageBar = new PageBar(this);
    QPointer<ThumbnailView> self(this);
    pageBar->onStep = [self](int delta) {
        if (self)
            self->stepPage(delta);
    };
    pageBar->set(pdf->index + 1, pdf->pageCount());
    pageBar->show();
    placeSubviews();
}

void ThumbnailView::stepPage(int delta) {
    if (!pdf || isBusy())
        return;
    const int target = pdf->index + delta;
    if (target < 0 || target >= pdf->pageCount())
        return;
    closeEditor();
    engage();
    // Putting a changed page back and drawing the next one may both take long with a hostile PDF: they run
    // off the main thread, with the card busy meanwhile so that neither a tool nor another step starts.
    runner->setBusy(true);
    hold(CardLifetime::Hold::Runner, true);
    stepping = true;
    QPointer<ThumbnailView> self(this);
    const std::shared_ptr<PDFSession> session = pdf;
    const QUrl shown = current.fileURL, pdfURL = pdf->pdfURL, workDir = pdf->workDir;
    PDFSession::background([self, session, shown, pdfURL, workDir, target] {
        std::optional<PDFSession::Page> page;
        QString failure;
        // A page that could not go back into the PDF stays on the card: rendering it again later would
        // overwrite its picture.
        if (!session->commit(shown) && !session->failure().isEmpty()) {
            failure = session->failure();
        } else {
            try {
                page = PDFSession::renderFile(pdfURL, workDir, target);
            } catch (const UserError& error) {
                failure = error.message;
            }
        }
        Dispatch::main([self, session, page, failure] {
            if (!self)
                return;
            self->stepping = false;
            self->runner->setBusy(false);
            self->hold(CardLifetime::Hold::Runner, false);
            emit self->settled();
            if (!page) {
                Toast::show(failure, self->anchorPoint(), 3.0);
                return;
            }
            const PDFSession::Rendered shown = session->accept(*page);
            self->apply(Shot{shown.url, shown.image, self->current.appName, std::nullopt});
            if (self->pageBar)
                self->pageBar->set(page->index + 1, session->pageCount());
        });
    });
}

void ThumbnailView::finishPDF() {
    // A step under way has already put the shown page back.
    if (!pdf || stepping)
        return;
    const std::shared_ptr<PDFSession> session = pdf;
    // A tool still working on the page writes it when it is done, and reports only then: the page it makes is
    // the one that must go back, not the one on the card now.
    if (session->finishWhenRunsEnd())
        return;
    // The card is going away; the page goes back on a worker and the outcome shows where the pointer is.
    // Quitting waits for it (PDFSession::waitForBackground).
    PDFSession::background([session] {
        // Read only now: a tool that finished just before the close has made the page its card never showed.
        const bool saved = session->commit(session->shown());
        const QString failure = session->failure();
        if (!saved && failure.isEmpty())
            return;
        const QString name = QFileInfo(session->pdfURL.toLocalFile()).fileName();
        Dispatch::main([saved, failure, name] {
            if (saved)
                Toast::show(QStringLiteral("Saved ") + name, QCursor::pos(), 1.6);
            else
                Toast::show(failure, QCursor::pos(), 3.0);
        });
    });
}
