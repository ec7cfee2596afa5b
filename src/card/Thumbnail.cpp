#include "card/Thumbnail.h"

#include "card/PDFSession.h"
#include "card/ThumbnailView.h"
#include "platform/EscapeKeyGrab.h"
#include "platform/PointerWatch.h"

#include <QCoreApplication>
#include <QPointer>

namespace {

QPointer<ThumbnailPanel>& slot() {
    static QPointer<ThumbnailPanel> panel;
    return panel;
}

std::function<ThumbnailPanel::Services()>& servicesMaker() {
    static std::function<ThumbnailPanel::Services()> make;
    return make;
}

ThumbnailPanel::Services services() {
    return servicesMaker() ? servicesMaker()() : ThumbnailPanel::Services{};
}

void retireCurrent() {
    if (ThumbnailPanel* old = slot())
        old->retire();
    slot() = nullptr;
}

} // namespace

namespace Thumbnail {

void setServices(std::function<ThumbnailPanel::Services()> make) {
    servicesMaker() = std::move(make);
}

void open(const Shot& shot, std::shared_ptr<PDFSession> pdf, QPoint at) {
    // Quitting closes the card the ordinary way, so a PDF page shown on it is written back first.
    static const bool dismissOnQuit = [] {
        if (QCoreApplication* app = QCoreApplication::instance())
            QObject::connect(app, &QCoreApplication::aboutToQuit, app, [] {
                dismiss();
                // Each page write has the decoding child's time limit; the file is the old or the new one
                // even if the wait ends first.
                PDFSession::waitForBackground(3 * IsolatedDecode::timeLimitMs);
            });
        return true;
    }();
    Q_UNUSED(dismissOnQuit);
    retireCurrent();
    auto* panel = new ThumbnailPanel(shot, std::nullopt, std::move(pdf), services());
    panel->releaseWhenClosed = true;
    slot() = panel;
    panel->show(QPointF(at));
}

void show(const Shot& shot, QRect replacing) {
    retireCurrent();
    auto* panel = new ThumbnailPanel(shot, QSizeF(replacing.size()), nullptr, services());
    panel->releaseWhenClosed = true;
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
