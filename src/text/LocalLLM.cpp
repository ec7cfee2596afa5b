#include "text/LocalLLM.h"

#include "platform/XdgPaths.h"

#include <QFileInfo>

namespace LocalLLM {

bool isInstalled() {
    const QString folder = XdgPaths::dataDir() + QStringLiteral("/llm");
    return QFileInfo::exists(folder + QStringLiteral("/model.gguf")) &&
           QFileInfo::exists(folder + QStringLiteral("/llama-server"));
}

// The server is not started by this build yet, so there is nothing to stop or fetch.
void killStray() {}
void warmUp() {}
void stop() {}

} // namespace LocalLLM
