#include "platform/Dispatch.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThread>
#include <QThreadPool>
#include <QTimer>

namespace Dispatch {

void main(std::function<void()> block) {
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(block), Qt::QueuedConnection);
}

void after(int milliseconds, const QObject* owner, std::function<void()> block) {
    auto* app = QCoreApplication::instance();
    if (!owner) {
        QMetaObject::invokeMethod(
            app, [ms = milliseconds, b = std::move(block)]() mutable { QTimer::singleShot(ms, std::move(b)); },
            Qt::QueuedConnection);
        return;
    }
    // A QPointer so a block whose owner went away in the meantime is skipped.
    QPointer<const QObject> guard(owner);
    QMetaObject::invokeMethod(
        app,
        [ms = milliseconds, guard, b = std::move(block)]() mutable {
            if (!guard)
                return;
            QTimer::singleShot(ms, guard.data(), std::move(b));
        },
        Qt::QueuedConnection);
}

void global(std::function<void()> block) { QThreadPool::globalInstance()->start(std::move(block)); }

bool isMainThread() {
    auto* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

} // namespace Dispatch
