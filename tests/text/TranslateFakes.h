#pragma once
// A translation engine that holds every call until the test answers it, for the card's model and views.

#include "imaging/UserError.h"
#include "platform/Defaults.h"
#include "text/TranslateModel.h"

#include <QTest>

#include <condition_variable>
#include <mutex>

namespace TranslateFakes {

// Forgets the stored default and recent target languages.
inline void forgetLanguages() {
    Defaults::standard().remove(QStringLiteral("translateDefault"));
    Defaults::standard().remove(QStringLiteral("translateRecent"));
}

struct FakeEngine : std::enable_shared_from_this<FakeEngine> {
    struct Call {
        QString to; // the target name, or a summary's system prompt
        TranslateModel::Callback progress, partial;
        std::optional<QString> result, failure;
        int sent = 1, empty = 0;                    // a translation's pieces, and how many of them came back empty
        std::optional<std::pair<int, int>> stopped; // a failure's finished and meant pieces
    };
    using Calls = QList<std::shared_ptr<Call>>;
    std::mutex lock;
    std::condition_variable changed;
    Calls translations, summaries;
    bool closing = false;

    // The engine keeps the fake alive for threads that end after the test; close() lets them all go.
    TranslateModel::Engine engine() {
        TranslateModel::Engine e;
        e.translate = [this, keep = shared_from_this()](const QString&, const std::optional<QString>&,
                                                        const QString& to, const auto& progress, const auto& partial) {
            std::shared_ptr<Call> call;
            const QString text = wait(translations, to, progress, partial, &call);
            return LocalLLM::Translation{text, call->sent, call->empty};
        };
        e.prepare = [] {};
        e.chat = [this, keep = shared_from_this()](const QString& system, const QString&, int, const auto& partial) {
            return wait(summaries, system, {}, partial);
        };
        return e;
    }
    QString wait(Calls& list, const QString& to, const TranslateModel::Callback& progress,
                 const TranslateModel::Callback& partial, std::shared_ptr<Call>* made = nullptr) {
        auto call = std::make_shared<Call>(Call{to, progress, partial, {}, {}});
        if (made)
            *made = call;
        std::unique_lock guard(lock);
        list.append(call);
        changed.wait(guard, [&] { return call->result || call->failure || closing; });
        if (call->failure && call->stopped)
            throw LocalLLM::Stopped(*call->failure, call->stopped->first, call->stopped->second);
        if (call->failure)
            throw UserError(*call->failure);
        return call->result.value_or(QString());
    }
    // The i-th call, once made (the event loop runs meanwhile).
    std::shared_ptr<Call> at(Calls& list, qsizetype i) {
        QTest::qWaitFor([&] { return count(list) > i; });
        std::lock_guard guard(lock);
        return list.value(i);
    }
    qsizetype count(const Calls& list) {
        std::lock_guard guard(lock);
        return list.size();
    }
    void answer(const std::shared_ptr<Call>& call, const QString& text, bool failed = false) {
        std::lock_guard guard(lock);
        (failed ? call->failure : call->result) = text;
        changed.notify_all();
    }
    void answer(const std::shared_ptr<Call>& call, const QString& text, int sent, int empty) {
        call->sent = sent, call->empty = empty; // read once the result is set, under the lock
        answer(call, text);
    }
    // The model ended part way, having finished some of the pieces meant for it.
    void stop(const std::shared_ptr<Call>& call, const QString& failure, int finished, int meant) {
        call->stopped = std::pair(finished, meant); // read once the failure is set, under the lock
        answer(call, failure, true);
    }
    void close() {
        std::lock_guard guard(lock);
        closing = true;
        changed.notify_all();
    }
};

} // namespace TranslateFakes
