// A PDF on the card: stepping between its pages and putting a changed page back into the document.

#include "card/ThumbnailView.h"

#include "card/PDFSession.h"
#include "card/PageBar.h"
#include "editors/EditorWindow.h"
#include "imaging/UserError.h"
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
    try {
        const PDFSession::Rendered page = pdf->render(target);
        apply(Shot{page.url, page.image, current.appName, std::nullopt});
    } catch (const UserError& error) {
        Toast::show(error.message, anchorPoint(), 3.0);
        return;
    }
    if (pageBar)
        pageBar->set(target + 1, pdf->pageCount());
}

void ThumbnailView::finishPDF() {
    if (!pdf)
        return;
    if (pdf->commit(current.fileURL))
        Toast::show(QStringLiteral("Saved ") + QFileInfo(pdf->pdfURL.toLocalFile()).fileName(), QCursor::pos(), 1.6);
    else if (!pdf->failure().isEmpty())
        Toast::show(pdf->failure(), QCursor::pos(), 3.0);
}
