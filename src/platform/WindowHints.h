#pragma once
// What the window manager is told about our windows beyond Qt's own flags.

class QWindow;

class WindowHints {
public:
    virtual ~WindowHints() = default;

    // Keeps the window out of the panel's task list and the pager: for every window that is not a document
    // (the card, the basket, toasts, settings). Best before the window is first shown; a shown window is
    // updated through the window manager. False where the desktop has no such hint.
    virtual bool keepOffTaskbar(QWindow* window) = 0;
};
