#pragma once
// Desktops for tests: remembers the windows shown everywhere; the test switches desktops by hand.

#include "platform/Desktops.h"

#include <QList>
#include <QPointer>
#include <QWindow>

class FakeDesktops final : public Desktops {
public:
    void showOnAllDesktops(QWindow* window) override { everywhere.append(window); }
    void switchDesktop() { emit currentDesktopChanged(); }

    QList<QPointer<QWindow>> everywhere;
};
