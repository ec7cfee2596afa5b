#pragma once
// Window-manager hints through _NET_WM_STATE, on Qt's own connection so they reach the server before Qt
// maps the window.

#include "platform/WindowHints.h"

class X11WindowHints final : public WindowHints {
public:
    bool keepOffTaskbar(QWindow* window) override;
    bool askNoAttention(QWindow* window) override;
    bool refuseFocusOffers(QWindow* window) override;
};
