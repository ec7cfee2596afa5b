#pragma once
// The translate card beside a capture card's picture: a pill holding the card's content over a
// new model for the text, with a round close button in its top-right corner.

#include "text/TranslateModel.h"
#include "ui/Pill.h"

#include <functional>

class GhostButton;
class TranslateView;

class TranslateSideView : public Pill {
    Q_OBJECT
public:
    // Starts translating the text at once. onClose is called on every click of the close button;
    // the side view never removes itself (an owner that does lets it go with deleteLater). It has no
    // frame yet: the card gives it one.
    TranslateSideView(const QString& text, std::function<void()> onClose,
                      TranslateModel::Engine engine = TranslateModel::Engine::local(), QWidget* parent = nullptr);

    TranslateView* host() const { return view; }
    // A key the card's grab caught while the pointer was over the side view; true when taken.
    bool handleKey(int key, Qt::KeyboardModifiers modifiers);
    GhostButton* closeButton() const { return close; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void closeTapped();

    std::function<void()> onClose;
    TranslateView* view = nullptr;
    GhostButton* close = nullptr;
};
