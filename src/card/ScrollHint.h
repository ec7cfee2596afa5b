#pragma once
// The small dark pill beside a window being recorded that says how to end the recording. It never takes the
// focus or the pointer, so the user keeps scrolling the window under it.

#include <QString>

class QWidget;

namespace ScrollHint {

inline constexpr int height = 34;
inline constexpr int padding = 14;

// A hidden panel sized to its text: the text's width plus 28 wide, 34 high. The caller places and shows it.
QWidget* create(const QString& text);

} // namespace ScrollHint
