#pragma once
// Whether what we just put on the clipboard is there: Qt reports a refused ownership only in its log.

namespace ClipboardOwner {

// True when the desktop's clipboard is held by this process now, as the display server has it. Always true
// off X11.
bool held();

} // namespace ClipboardOwner
