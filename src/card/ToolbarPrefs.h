#pragma once
// The catalogue of card tools and the user's order of them.

namespace ToolbarPrefs {

// Brings a stored order up to date with tools added since it was saved. Runs at launch.
void adoptNewDefaultOrderOnce();

} // namespace ToolbarPrefs

namespace ToolbarPrefsWindow {

// Shows the window where the user orders and hides the card's tools.
void show();

} // namespace ToolbarPrefsWindow
