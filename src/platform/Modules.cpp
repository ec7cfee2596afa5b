#include "platform/Modules.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <dlfcn.h>
#include <map>
#include <mutex>

namespace Modules {

namespace {

struct Loaded {
    void* handle = nullptr;
    QString error;
};

// The running program's own folder: read from the kernel, so it holds for a program without a Qt application
// object too (the decoding child).
QString programFolder() {
    const QFileInfo self(QStringLiteral("/proc/self/exe"));
    return self.canonicalFilePath().isEmpty() ? QString() : QFileInfo(self.canonicalFilePath()).absolutePath();
}

QStringList& injectedFolders() {
    static QStringList folders;
    return folders;
}

} // namespace

void setFolders(const QStringList& folders) {
    injectedFolders() = folders;
}

QStringList folders() {
    if (!injectedFolders().isEmpty())
        return injectedFolders();
    const QString here = programFolder();
    if (here.isEmpty())
        return {};
    // bin/../lib/pictolarium when installed; the build tree puts the modules in lib/pictolarium at its top,
    // one or two folders above its programs.
    return {QDir::cleanPath(here + QStringLiteral("/../lib/pictolarium")),
            QDir::cleanPath(here + QStringLiteral("/../../lib/pictolarium")), here};
}

void* entry(const QString& file, const char* symbol, QString* error) {
    static std::mutex lock;
    static std::map<QString, Loaded> modules;
    const std::lock_guard<std::mutex> guard(lock);
    auto found = modules.find(file);
    if (found == modules.end()) {
        Loaded loaded;
        QStringList tried;
        for (const QString& folder : folders()) {
            const QString path = folder + QLatin1Char('/') + file;
            if (!QFileInfo::exists(path)) {
                tried.append(folder);
                continue;
            }
            // Local: the module's libraries stay out of the way of the program's own symbols.
            loaded.handle = dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
            if (!loaded.handle)
                loaded.error = QString::fromLocal8Bit(dlerror());
            break;
        }
        if (!loaded.handle && loaded.error.isEmpty())
            loaded.error =
                QStringLiteral("%1 is not installed (looked in %2)").arg(file, tried.join(QStringLiteral(", ")));
        found = modules.emplace(file, loaded).first;
    }
    if (!found->second.handle) {
        if (error)
            *error = found->second.error;
        return nullptr;
    }
    void* address = dlsym(found->second.handle, symbol);
    if (!address && error)
        *error = QStringLiteral("%1 has no %2").arg(file, QLatin1String(symbol));
    return address;
}

} // namespace Modules
