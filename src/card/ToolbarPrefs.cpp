#include "card/ToolbarPrefs.h"

namespace ToolbarPrefs {

void adoptNewDefaultOrderOnce() {}

} // namespace ToolbarPrefs
