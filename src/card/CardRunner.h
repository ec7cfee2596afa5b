#pragma once
// Runs one file-changing tool of a card at a time: a progress toast, the work on the worker pool, then on
// the main thread the new picture taken into the card and a result or error toast.

#include "imaging/Shot.h"

#include <QPoint>
#include <QString>

#include <functional>
#include <memory>
#include <utility>

class CardRunner {
public:
    // The new picture and the message to show. Runs off the main thread: it must not touch widgets, and
    // throws UserError (or any std::exception) with the text to show when it fails.
    using Work = std::function<std::pair<Shot, QString>()>;

    struct Hooks {
        // Where toasts go: the top centre of the card's picture on screen.
        std::function<QPoint()> anchor;
        // Keeps the card from timing out while work runs.
        std::function<void(bool)> hold;
        // Takes the new picture into the card.
        std::function<void(const Shot&)> apply;
        std::function<void(const QString& text, QPoint at, double seconds)> toast;
        // Where the work and its completion run; the worker pool and the main thread unless a test says
        // otherwise.
        std::function<void(std::function<void()>)> background;
        std::function<void(std::function<void()>)> mainThread;
    };

    static constexpr double progressSeconds = 60.0;
    static constexpr double resultSeconds = 1.6;
    static constexpr double errorSeconds = 3.0;

    explicit CardRunner(Hooks hooks);
    ~CardRunner();
    CardRunner(const CardRunner&) = delete;
    CardRunner& operator=(const CardRunner&) = delete;

    // Starts the work unless some is already running, in which case the request is dropped without a
    // word and false is returned. `then` runs after a successful apply only.
    bool run(const QString& label, Work work, std::function<void()> then = {});

    // Tools that share the flag without going through run() (text recognition) set it themselves.
    bool busy() const;
    void setBusy(bool value);

private:
    struct State;
    std::shared_ptr<State> state;
};
