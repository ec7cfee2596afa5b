#pragma once
// A translation engine that holds every call until the test answers it, for the card's model and views.

#include "imaging/UserError.h"
#include "text/TranslateModel.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

namespace TranslateFakes {

// Runs the event loop until the condition holds or the time is up.
inline bool waitFor(const std::function<bool()>& condition, int ms = 5000) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > ms)
            return false;
        QCoreApplication::processEvents();
        QThread::msleep(2);
    }
    return true;
}

// Every call waits until the test answers it: a text, a failure, and partial texts before either.
struct FakeEngine : std::enable_shared_from_this<FakeEngine> {
    struct Call {
        QString to;
        TranslateModel::Callback progress, partial;
        std::optional<QString> result;
        std::optional<QString> failure;
    };
    std::mutex lock;
    std::condition_variable changed;
    std::vector<std::shared_ptr<Call>> translations, summaries;
    bool closing = false;

    // The engine keeps the fake alive for threads that end after the test.
    TranslateModel::Engine engine() {
        TranslateModel::Engine e;
        e.translate = [this, keep = shared_from_this()](const QString&, const std::optional<QString>&,
                                                        const QString& to, const TranslateModel::Callback& progress,
                                                        const TranslateModel::Callback& partial) {
            return wait(translations, to, progress, partial);
        };
        e.prepare = [] {};
        e.chat = [this, keep = shared_from_this()](const QString& system, const QString&, int,
                                                   const TranslateModel::Callback& partial) {
            return wait(summaries, system, {}, partial);
        };
        return e;
    }
    QString wait(std::vector<std::shared_ptr<Call>>& list, const QString& to, const TranslateModel::Callback& progress,
                 const TranslateModel::Callback& partial) {
        auto call = std::make_shared<Call>(Call{to, progress, partial, {}, {}});
        std::unique_lock guard(lock);
        list.push_back(call);
        changed.notify_all();
        changed.wait(guard, [&] { return call->result || call->failure || closing; });
        if (call->failure)
            throw UserError(*call->failure);
        return call->result.value_or(QString());
    }
    void close() {
        std::lock_guard guard(lock);
        closing = true;
        changed.notify_all();
    }
    std::shared_ptr<Call> translation(size_t i) { return at(translations, i); }
    std::shared_ptr<Call> summary(size_t i) { return at(summaries, i); }
    std::shared_ptr<Call> at(std::vector<std::shared_ptr<Call>>& list, size_t i) {
        std::unique_lock guard(lock);
        changed.wait_for(guard, std::chrono::seconds(5), [&] { return list.size() > i; });
        return list.size() > i ? list[i] : nullptr;
    }
    void finish(const std::shared_ptr<Call>& call, const QString& text) {
        std::lock_guard guard(lock);
        call->result = text;
        changed.notify_all();
    }
    void fail(const std::shared_ptr<Call>& call, const QString& text) {
        std::lock_guard guard(lock);
        call->failure = text;
        changed.notify_all();
    }
    size_t count(std::vector<std::shared_ptr<Call>>& list) {
        std::lock_guard guard(lock);
        return list.size();
    }
};

} // namespace TranslateFakes
