#pragma once
// Whether translucent windows are composited over what lies beneath them.

namespace Compositor {

// True when a compositing manager owns _NET_WM_CM_S<n> of the application's X screen. False
// without an X display (other platforms draw no translucency of their own) or when the query
// fails; without one, a translucent window's clear pixels show black, so rounded windows need a
// shape mask and alpha fades do nothing.
bool active();

} // namespace Compositor
