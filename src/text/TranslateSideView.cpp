#include "text/TranslateSideView.h"

#include "text/TranslateView.h"
#include "ui/GhostButton.h"

TranslateSideView::TranslateSideView(const QString& text, std::function<void()> closed, TranslateModel::Engine engine,
                                     QWidget* parent)
    : Pill(QRect(), parent), onClose(std::move(closed)) {
    view = new TranslateView(TranslateModel::make(text, std::move(engine)), this);
    close = new GhostButton(QStringLiteral("Close"), QStringLiteral("xmark"), QString(), QSizeF(24, 24), 11, this);
    close->setGlass(GhostButton::Glass::close);
    connect(close, &GhostButton::clicked, this, &TranslateSideView::closeTapped);
    close->raise();
}

void TranslateSideView::resizeEvent(QResizeEvent* event) {
    Pill::resizeEvent(event);
    view->setGeometry(rect());
    // The button's own size follows the chrome factor; its top-right corner stays 16 from the right
    // and 18 from the top, over the header's empty end.
    close->move(width() - 16 - close->width(), 18);
}

bool TranslateSideView::handleKey(int key, Qt::KeyboardModifiers modifiers) {
    return view->handleKey(key, modifiers);
}

void TranslateSideView::closeTapped() {
    // A copy, so that an owner who lets the side view go from inside the call (deleteLater) keeps
    // the callback alive until it returns.
    const std::function<void()> callback = onClose;
    if (callback)
        callback();
}
