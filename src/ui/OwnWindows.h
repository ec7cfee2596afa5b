#pragma once
// Keeps our own windows (card, basket, toasts, hints) out of the pictures we take: they are hidden
// for the moment of a grab and shown again where they were.

#include <QRect>
#include <QtGlobal>
#include <functional>

class QWidget;

namespace OwnWindows {

// Hides every visible top-level window of ours that overlaps area (an empty area means the whole
// desktop), waits until the programs beneath had time to paint what they uncovered, and returns
// what shows them again. Does nothing, at once, when none overlaps. Main thread only.
std::function<void()> hideOver(const QRect& area);
// The same without the wait: `repaintWait` is set to how long the grab should wait before it starts, 0 when
// nothing was hidden. For a grab that runs on a worker, so that the wait does not hold up the main thread.
std::function<void()> hideOver(const QRect& area, int* repaintWait);

// Whether window is hidden for a grab now, or was shown again at most milliseconds ago. The focus it lost
// with that was taken by the grab, not by the user; the news of that loss may come late.
bool steppedAside(const QWidget* window, qint64 milliseconds);

} // namespace OwnWindows
