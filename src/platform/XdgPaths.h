#pragma once
// Where this program keeps its settings, data and runtime files, following the XDG base directories.

#include <QString>

namespace XdgPaths {

QString home();
// $XDG_CONFIG_HOME/Pictolarium (defaults domains, autostart lives beside it in configHome()).
QString configHome();
QString configDir();
// $XDG_DATA_HOME/Pictolarium: the edit store, signatures, the language model.
QString dataDir();
// $XDG_RUNTIME_DIR, or a private folder under /tmp when the session has none.
QString runtimeDir();

} // namespace XdgPaths
