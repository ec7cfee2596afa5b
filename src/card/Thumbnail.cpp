#include "card/Thumbnail.h"

#include "card/PDFSession.h"
#include "card/ThumbnailPanel.h"
#include "card/ThumbnailView.h"

#include <QPointer>

namespace {

QPointer<ThumbnailPanel>& slot() {
    static QPointer<ThumbnailPanel> panel;
    return panel;
}

void retireCurrent() {
    if (ThumbnailPanel* old = slot())
        old->retire();
    slot() = nullptr;
}

} // namespace

namespace Thumbnail {

void open(const Shot& shot, std::shared_ptr<PDFSession> pdf, QPoint at) {
    retireCurrent();
    auto* panel = new ThumbnailPanel(shot, std::nullopt, std::move(pdf));
    slot() = panel;
    panel->show(QPointF(at));
}

void show(const Shot& shot, QRect replacing) {
    retireCurrent();
    auto* panel = new ThumbnailPanel(shot, QSizeF(replacing.size()), nullptr);
    slot() = panel;
    const QPointF at =
        CardGeometry::pointForPictureOn(QRectF(replacing), panel->view()->cardLayout(), QSizeF(panel->size()));
    panel->show(at);
}

void dismiss() {
    retireCurrent();
}

ThumbnailPanel* current() {
    return slot();
}

} // namespace Thumbnail
