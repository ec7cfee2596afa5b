#pragma once
// The card's window: a frameless, stay-on-top tool window that never takes the focus from the application
// under it. It places the card at the pointer, fades it in and out, runs its lifetime, dismisses it on a
// click elsewhere once that lifetime has passed, shrinks it to its pill under an editor and grows it back.

#include "card/CardGeometry.h"
#include "card/CardLifetime.h"
#include "imaging/Shot.h"
#include "ui/KeyRoute.h"

#include <QPointer>
#include <QWidget>

#include <memory>
#include <optional>

class Defaults;
class EscapeKeyGrab;
class PDFSession;
class PointerWatch;
class QPropertyAnimation;
class ThumbnailView;
struct PointerPress;

class ThumbnailPanel : public QWidget {
    Q_OBJECT
public:
    // What the card is built with: the program hands in the desktop's pointer watch and Escape grab, tests
    // a clock, a pointer watch and an Escape grab of their own.
    struct Services {
        Defaults* defaults = nullptr; // the standard settings when null
        std::unique_ptr<CardClock> clock;
        // Presses in our own windows and the loss of focus when unset.
        std::function<std::unique_ptr<PointerWatch>()> pointerWatch;
        // Escape only while the card has the focus when unset.
        std::unique_ptr<EscapeKeyGrab> escape;
        // Opens or closes the basket, for the card's basket tool.
        std::function<void()> openLibrary;
        // Where the pointer is; the real pointer when unset.
        std::function<QPoint()> pointer;
        // The screens to place the card on; the real ones when unset.
        std::function<QList<CardGeometry::Screen>()> screens;
        // The translate tool: whether a target language is chosen, the chooser asked when not (false:
        // cancelled), and the side view that translates a text and calls its argument from its close
        // button. The tool stays idle while the side view is unset.
        std::function<bool()> translationLanguageChosen;
        std::function<bool()> chooseTranslationLanguage;
        std::function<QWidget*(const QString& text, std::function<void()> onClose)> translateView;
        // Delete and BackSpace while a review box is selected and the user has clicked into the card.
        std::unique_ptr<EscapeKeyGrab> deleteKeys;
        // Ctrl+C while the translate side view shows and the user has clicked into the card: copies its text.
        std::unique_ptr<EscapeKeyGrab> copyKey;
    };

    static constexpr int fadeInMs = 180;
    static constexpr int fadeOutMs = 300;

    ThumbnailPanel(const Shot& shot, std::optional<QSizeF> imageBox, std::shared_ptr<PDFSession> pdf);
    ThumbnailPanel(const Shot& shot, std::optional<QSizeF> imageBox, std::shared_ptr<PDFSession> pdf,
                   Services services);
    ~ThumbnailPanel() override;

    // Places the card centred on the point, clamped into the point's screen, fades it in and starts its
    // lifetime and the click-away watching.
    void show(QPointF at);
    // Ends everything the card started; safe to call again on a card that already closed.
    bool close();
    // Closes the card and deletes it as soon as nothing still works on it (a drag-out, a running tool).
    void retire();
    // Deletes the card once it has closed, however it closed, so that its picture is not kept until the next
    // card replaces it. Set for cards that nothing else owns.
    bool releaseWhenClosed = false;

    // Under an editor: only the pill, centred 32 below the editor's canvas; and back to the whole card with
    // its picture on the canvas when the editor closes.
    void collapse(QRectF below);
    void expand(QRectF imageAt);

    ThumbnailView* view() const { return content; }
    const Shot& shot() const;
    std::shared_ptr<PDFSession> pdf() const;
    CardLifetime& lifetime() { return *life; }
    bool isClosed() const { return closed; }
    bool isFading() const { return fading; }
    qint64 lifetimeMs() const { return life->lifetimeMs(); }

    // The click-away rule for one press, as the pointer watch reports it. Public for the tests' presses.
    void pressedSomewhere(const PointerPress& press);
    // A key pressed anywhere, as the pointer watch reports it: one that did not come to the card ends its hold.
    void typedSomewhere(quint32 keysym);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void hover(bool inside);
    // Takes or lets go of the card's keys: only while the pointer rests on the card and no window of ours has
    // the keyboard (a key typed into our rename box or a dialog is never the card's).
    void updateKeys();
    // Whether the user clicked into the card and has clicked nowhere else nor turned to another program since,
    // and the pointer rests on it.
    bool holdsKeys() const;
    void fadeOut();
    void startClickAway();
    void clickedAway();
    bool pointerInside() const;
    QPoint pointer() const;
    QList<CardGeometry::Screen> screens() const;
    void deleteWhenSettled();

    Services services;
    std::unique_ptr<CardLifetime> life;
    ThumbnailView* content = nullptr;
    std::unique_ptr<PointerWatch> clickMonitor;
    QPointer<QPropertyAnimation> fade;
    bool closed = false;
    bool fading = false;
    bool retiring = false;
    bool deleteWanted = false;
    bool hovered = false;
    std::optional<KeyRoute::Asked> clickedIn;
};
