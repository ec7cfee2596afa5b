#pragma once
// Long work the user waits for on the main thread (a very large picture read, rendered or written): for
// as long as the object lives the busy cursor shows over our windows, and the window the user looks at
// is painted as it stands before the work begins, with a pressed button let go, so that it does not sit
// half-drawn while nothing else can run.

#include <QPointer>
#include <QWidget>

class BusyWork {
public:
    explicit BusyWork(QWidget* shown = nullptr);
    ~BusyWork();
    BusyWork(const BusyWork&) = delete;
    BusyWork& operator=(const BusyWork&) = delete;
};
