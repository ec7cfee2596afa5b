#pragma once
// Running work on the main thread, later on the main thread, or on the shared worker pool.

#include <QObject>
#include <functional>

namespace Dispatch {

// Queues the block on the main thread's event loop (also when called from the main thread).
void main(std::function<void()> block);

// Runs the block on the main thread after the delay, unless owner was destroyed by then.
// A null owner means the block is not tied to any object.
void after(int milliseconds, const QObject* owner, std::function<void()> block);

// Runs the block on the global worker pool.
void global(std::function<void()> block);

bool isMainThread();

} // namespace Dispatch
