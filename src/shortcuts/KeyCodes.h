#pragma once
// Stored shortcuts name a key by a position code (A = 0, S = 1, D = 2, …), the codes stored settings
// have always used. This table ties each code to the X keysym found at that position on a
// US keyboard, so a stored shortcut grabs the same key here and a recorded key gets the same code.

#include <QString>
#include <optional>

namespace KeyCodes {

// The keysym for a key code; 0 when the code stands for no key we can grab.
quint32 keysym(int keyCode);
// The key code for a keysym (letters in either case); nothing when the key has no code.
std::optional<int> keyCode(quint32 keysym);
// What typing the key gives without modifiers, upper-cased for display: "D", "1", "/", or "F13"
// for the higher function keys that type nothing. Empty for keys that type nothing.
QString characters(quint32 keysym);

} // namespace KeyCodes
