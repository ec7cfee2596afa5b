#pragma once
// How long a card stays on screen: a lifetime restarted by use, paused while the pointer is over the card
// or something holds it, a fade when it runs out, and click-away only once the lifetime has passed.
// The card window feeds it events and carries out its fade; time comes from an injectable clock.

#include <QtGlobal>

#include <functional>
#include <memory>
#include <set>

class QTimer;

// Time and the one lifetime timer of a card. now() is in milliseconds on a monotonic scale.
class CardClock {
public:
    virtual ~CardClock() = default;
    virtual qint64 now() const = 0;
    // Starts the one-shot timer, replacing one that is pending.
    virtual void start(qint64 milliseconds, std::function<void()> fire) = 0;
    virtual void stop() = 0;
};

// The real clock: a monotonic clock and a main-thread QTimer.
class SystemCardClock : public CardClock {
public:
    SystemCardClock();
    ~SystemCardClock() override;
    qint64 now() const override;
    void start(qint64 milliseconds, std::function<void()> fire) override;
    void stop() override;

private:
    std::unique_ptr<QTimer> timer;
    std::function<void()> pending;
};

class CardLifetime {
public:
    static constexpr qint64 lifetime = 4000;
    static constexpr qint64 pdfLifetime = 120000;

    // Everything that may keep a card open. Each holder holds and releases its own reason, so one holder
    // finishing never frees the card while another still needs it.
    enum class Hold { Runner, Editor, Picker, SideView, Review, Rename, Recording };

    enum class Phase {
        Created, // built, not yet shown
        Shown,   // on screen: running, hovered or held
        Hidden,  // ordered out while a modal chooser is up
        Fading,  // the fade-out runs; close() follows when it ends
        Closed,  // never shown again
    };

    struct Hooks {
        // Whether the pointer lies inside the card's frame right now.
        std::function<bool()> pointerInside;
        // Starts the fade-out; the window calls close() when it completes.
        std::function<void()> fadeOut;
    };

    CardLifetime(CardClock& clock, bool pdf, Hooks hooks);
    ~CardLifetime();
    CardLifetime(const CardLifetime&) = delete;
    CardLifetime& operator=(const CardLifetime&) = delete;

    // The card went on screen: the lifetime starts.
    void shown();

    // The user used the card (or a tool produced a result): the lifetime starts again. Ignored once the
    // card is fading or closed, so a late result cannot revive a card that is gone.
    void restart();

    void setHovering(bool inside);

    void hold(Hold reason);
    // Releasing the last reason restarts the lifetime unless the pointer is over the card, where leaving
    // restarts it instead. Releasing a reason that is not held changes nothing.
    void release(Hold reason);

    // A modal chooser hides the card and shows it again afterwards.
    void setHidden(bool hidden);

    // Stops the timer while the card is collapsed under an editor (which also holds it).
    void pause();

    // A click outside the card: fades it and answers true only when the card is on screen, not held,
    // its lifetime has passed since the last restart and the pointer is outside it.
    bool clickedAway();

    // Closed at once (close button, Escape, completed drag-out, a tool ending the card, replacement) or
    // at the end of the fade. Stops everything; calling it again is harmless.
    void close();

    Phase phase() const { return state; }
    bool isHeld() const { return !holds.empty(); }
    bool isHeldFor(Hold reason) const { return holds.count(reason) != 0; }
    bool isHovering() const { return hovering; }
    bool isTimerRunning() const { return timerRunning; }
    qint64 lifetimeMs() const { return span; }
    // Until this moment a click elsewhere is ignored.
    qint64 protectedUntil() const { return protectedTill; }

private:
    void restartTimer();
    void stopTimer();
    void timerFired();
    void fadeOut();
    bool pointerInside() const;
    bool isGone() const { return state == Phase::Fading || state == Phase::Closed; }

    CardClock& clock;
    Hooks hooks;
    qint64 span;
    Phase state = Phase::Created;
    std::set<Hold> holds;
    bool hovering = false;
    bool timerRunning = false;
    qint64 protectedTill;
    // Timer callbacks hold this weakly: a clock that outlives the card cannot call into it.
    std::shared_ptr<CardLifetime*> self;
};
