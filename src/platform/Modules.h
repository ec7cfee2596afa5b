#pragma once
// Parts of the program that need large libraries (text recognition, background removal, HEIC) live in
// modules of their own, loaded the first time they are used: the program then starts without loading
// those libraries at all. A module is looked for in lib/pictolarium beside the program's bin folder
// (installed, and the build tree), then beside the program itself.

#include <QString>
#include <QStringList>

namespace Modules {

// The folders a module is looked for in, in order.
QStringList folders();

// Looks in these folders instead, for tests; before the first module is loaded.
void setFolders(const QStringList& folders);

// The named entry point of module `file` (e.g. "pictolarium-vision.so"), loaded once per process; null
// when the module is missing or cannot be loaded, with the reason in `error`. Safe from any thread.
void* entry(const QString& file, const char* symbol, QString* error);

// The module's interface: its entry point, `Interface* (*)(int version)`, asked for the interface this
// build of the program knows; null, with the reason in `error`, when the module is missing, cannot be
// loaded or belongs to another build.
template <typename Interface> Interface* load(const QString& file, const char* symbol, QString* error) {
    using Entry = Interface* (*)(int version);
    const auto found = reinterpret_cast<Entry>(entry(file, symbol, error));
    Interface* loaded = found ? found(Interface::version) : nullptr;
    if (found && !loaded)
        *error = QStringLiteral("its module belongs to another build of the program");
    return loaded;
}

} // namespace Modules
