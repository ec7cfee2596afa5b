// A PDF on the card: stepping between its pages and putting a changed page back into the document.

#include "card/ThumbnailView.h"

#include "card/CardRunner.h"
#include "card/PDFSession.h"
#include "card/PageBar.h"
#include "editors/EditorWindow.h"
#include "imaging/UserError.h"
#include "platform/Dispatch.h"
#include "ui/Toast.h"

#include <QCursor>
#include <QFileInfo>

void ThumbnailView::buildPageBar() {
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
    // A page that could not go back into the PDF stays on the card: rendering it again later would
    // overwrite its picture.
    if (!pdf->commit(current.fileURL) && !pdf->failure().isEmpty()) {
        Toast::show(pdf->failure(), anchorPoint(), 3.0);
        return;
    }
    // A page of a hostile PDF may take long to draw: it is drawn off the main thread, with the card busy
    // meanwhile so that neither a tool nor another step starts.
    runner->setBusy(true);
    hold(CardLifetime::Hold::Runner, true);
    QPointer<ThumbnailView> self(this);
    const std::shared_ptr<PDFSession> session = pdf;
    const QUrl pdfURL = pdf->pdfURL, workDir = pdf->workDir;
    Dispatch::global([self, session, pdfURL, workDir, target] {
        std::optional<PDFSession::Page> page;
        QString failure;
        try {
            page = PDFSession::renderFile(pdfURL, workDir, target);
        } catch (const UserError& error) {
            failure = error.message;
        }
        Dispatch::main([self, session, page, failure] {
            if (!self)
                return;
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
    if (!pdf)
        return;
    if (pdf->commit(current.fileURL))
        Toast::show(QStringLiteral("Saved ") + QFileInfo(pdf->pdfURL.toLocalFile()).fileName(), QCursor::pos(), 1.6);
    else if (!pdf->failure().isEmpty())
        Toast::show(pdf->failure(), QCursor::pos(), 3.0);
}
