#pragma once
// Splits work over the global thread pool while the calling thread takes its share, so a caller
// that itself runs on a pool thread never waits on work that cannot start.

#include <QThread>
#include <QThreadPool>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace TextVision {

// Runs work(item) for every item in [0, count) and returns when all have finished.
template <typename Work> void shareWork(int count, const Work& work) {
    if (count <= 0)
        return;
    struct State {
        std::atomic<int> next{0};
        int finished = 0;
        std::mutex mutex;
        std::condition_variable allDone;
    };
    auto state = std::make_shared<State>();
    const Work* job = &work;
    // A helper only touches the work while items remain, and the caller waits for every item.
    auto drain = [state, job, count] {
        int done = 0;
        for (int item = state->next++; item < count; item = state->next++) {
            (*job)(item);
            ++done;
        }
        if (done > 0) {
            std::lock_guard lock(state->mutex);
            state->finished += done;
            if (state->finished == count)
                state->allDone.notify_all();
        }
    };
    const int helpers = std::min(count, QThread::idealThreadCount()) - 1;
    for (int h = 0; h < helpers; ++h)
        QThreadPool::globalInstance()->start(drain);
    drain();
    std::unique_lock lock(state->mutex);
    state->allDone.wait(lock, [&] { return state->finished == count; });
}

// Runs work(first, end) over [0, rows) in slices of a few dozen rows.
template <typename Work> void shareRows(int rows, const Work& work) {
    const int slice = std::max(32, rows / (4 * std::max(1, QThread::idealThreadCount())));
    shareWork((rows + slice - 1) / slice, [&](int item) { work(item * slice, std::min(rows, (item + 1) * slice)); });
}

} // namespace TextVision
