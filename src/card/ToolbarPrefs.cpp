#include "card/ToolbarPrefs.h"

namespace ToolbarPrefs {

void adoptNewDefaultOrderOnce() {}

} // namespace ToolbarPrefs

namespace ToolbarPrefsWindow {

void show() {}

} // namespace ToolbarPrefsWindow
