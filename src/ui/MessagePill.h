#pragma once
// A line of white text on a dark pill, in a window that never takes the focus or the pointer:
// the toast and the scroll hint are both made of one.

#include <QString>

class QWidget;

namespace MessagePill {

// A hidden, unmanaged window sized to the text: its width plus twice the padding, by height.
// Without a compositor the window is cut to the pill so no black corners show. With maxWidth, a
// text too wide for it wraps at word boundaries and the pill grows downwards instead.
QWidget* make(const QString& text, int height, int padding, const QString& title, const QString& objectName,
              int maxWidth = 0);

} // namespace MessagePill
