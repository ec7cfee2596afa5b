#include "platform/FileWrites.h"

#include "platform/FileOps.h"
#include "platform/UnnamedFile.h"

#include <QFileInfo>

#include <cerrno>
#include <condition_variable>
#include <mutex>

namespace FileWrites {

namespace {

struct Writes {
    std::mutex lock;
    std::condition_variable idle;
    int count = 0;
    bool ending = false;
};

Writes& writes() {
    static Writes* shared = new Writes; // never destroyed: workers may still end writes during static teardown
    return *shared;
}

thread_local int heldHere = 0;

} // namespace

Scope::Scope() {
    Writes& w = writes();
    const std::lock_guard hold(w.lock);
    if (w.ending && heldHere == 0)
        return;
    ++w.count;
    ++heldHere;
    counted = true;
}

Scope::~Scope() {
    if (!counted)
        return;
    --heldHere;
    Writes& w = writes();
    const std::lock_guard hold(w.lock);
    if (--w.count == 0)
        w.idle.notify_all();
}

QString endingText() {
    return QStringLiteral("The program is ending");
}

void finishAll() {
    Writes& w = writes();
    std::unique_lock hold(w.lock);
    w.ending = true;
    w.idle.wait(hold, [&w] { return w.count == 0; });
}

bool ending() {
    Writes& w = writes();
    const std::lock_guard hold(w.lock);
    return w.ending;
}

int replaceWith(const QString& path, const QByteArray& bytes) {
    const Scope scope;
    if (!scope.admitted())
        return ECANCELED;
    int error = 0;
    const QString target = FileOps::throughLinks(path, error);
    if (error)
        return error;
    UnnamedFile file(QFileInfo(target).absolutePath());
    if (!file.isOpen())
        return errno ? errno : EIO;
    file.useUserMode();
    if (!file.write(bytes))
        return errno ? errno : EIO;
    return file.replace(path);
}

} // namespace FileWrites
