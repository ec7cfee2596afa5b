#include "card/CardRunner.h"

#include "imaging/UserError.h"
#include "platform/Dispatch.h"

#include <QChar>

#include <exception>
#include <optional>

struct CardRunner::State {
    Hooks hooks;
    bool busy = false;
};

CardRunner::CardRunner(Hooks hooks) : state(std::make_shared<State>()) {
    if (!hooks.background)
        hooks.background = [](std::function<void()> block) { Dispatch::global(std::move(block)); };
    if (!hooks.mainThread)
        hooks.mainThread = [](std::function<void()> block) { Dispatch::main(std::move(block)); };
    state->hooks = std::move(hooks);
}

CardRunner::~CardRunner() = default;

bool CardRunner::busy() const {
    return state->busy;
}

void CardRunner::setBusy(bool value) {
    state->busy = value;
}

bool CardRunner::run(const QString& label, Work work, std::function<void()> then) {
    if (state->busy)
        return false;
    state->busy = true;
    const Hooks& hooks = state->hooks;
    if (hooks.hold)
        hooks.hold(true);
    if (hooks.toast)
        hooks.toast(label + QChar(0x2026), hooks.anchor ? hooks.anchor() : QPoint(), progressSeconds);

    // The state travels with the work, so the completion still runs (and clears the flag) when the card
    // that started it has gone meanwhile; its hooks then find no card and do only what needs none.
    std::shared_ptr<State> shared = state;
    hooks.background([shared, work = std::move(work), then = std::move(then)] {
        std::optional<std::pair<Shot, QString>> result;
        const QString failure = failureOf([&] { result = work(); });
        shared->hooks.mainThread([shared, result = std::move(result), failure, then] {
            const Hooks& h = shared->hooks;
            shared->busy = false;
            if (h.hold)
                h.hold(false);
            if (result) {
                if (h.apply)
                    h.apply(result->first);
                if (h.toast)
                    h.toast(result->second, h.anchor ? h.anchor() : QPoint(), resultSeconds);
                if (then)
                    then();
            } else if (h.toast) {
                h.toast(failure, h.anchor ? h.anchor() : QPoint(), errorSeconds);
            }
        });
    });
    return true;
}
