#include "platform/Memory.h"

#include <QCoreApplication>
#include <QFile>
#include <QTimer>

#include <atomic>
#include <malloc.h>

namespace Memory {

namespace {

// Long enough for the windows being closed to be deleted and their backing stores dropped.
constexpr int settleMs = 400;
std::atomic<bool> pending{false};

} // namespace

void tuneAllocator() {
#ifdef __GLIBC__
    // Without a fixed threshold the allocator raises it to the size of each large block freed, up to
    // 32 MB, and later pictures of that size then live in the heap and stay there after they are freed.
    mallopt(M_MMAP_THRESHOLD, 1024 * 1024);
#endif
}

void giveBack() {
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}

void giveBackSoon() {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) {
        giveBack();
        return;
    }
    if (pending.exchange(true))
        return;
    QMetaObject::invokeMethod(
        app,
        [app] {
            QTimer::singleShot(settleMs, app, [] {
                pending = false;
                giveBack();
            });
        },
        Qt::QueuedConnection);
}

qint64 residentKb() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    return -1;
}

} // namespace Memory
