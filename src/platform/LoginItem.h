#pragma once
// Starting with the desktop session: an XDG autostart entry in $XDG_CONFIG_HOME/autostart.

#include <QString>

namespace LoginItem {

// The entry's path: $XDG_CONFIG_HOME/autostart/pictolarium.desktop.
QString entryPath();

// True when our entry exists and is not hidden.
bool isEnabled();

// Write or remove the entry: an empty string on success, else the reason in words the user can act on.
QString enable(const QString& executable);
QString disable();

} // namespace LoginItem
