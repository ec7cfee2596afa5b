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

    // Withdraws the window's plea for the user's attention. Some window managers take a program raising its own
    // shown window for one, and put the window first in their Alt+Tab switcher: a window that never takes the
    // keyboard would then keep Alt+Tab from leaving the one that has it. False where there is no such state.
    virtual bool askNoAttention(QWindow* window) = 0;

    // Tells the window manager that the window never takes the keyboard, not even when offered it: one that
    // offers it anyway (as some do to the window on top when another is minimised) would leave the keyboard with
    // nobody. False where there is no such protocol.
    virtual bool refuseFocusOffers(QWindow* window) = 0;
};
