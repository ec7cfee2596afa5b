#pragma once
// Keeps our own windows (card, basket, toasts, hints) out of the pictures we take: they are hidden
// for the moment of a grab and shown again where they were.

#include <QRect>
#include <functional>

namespace OwnWindows {

// Hides every visible top-level window of ours that overlaps area (an empty area means the whole
// desktop), waits until the programs beneath had time to paint what they uncovered, and returns
// what shows them again. Does nothing, at once, when none overlaps. Main thread only.
std::function<void()> hideOver(const QRect& area);

} // namespace OwnWindows
