#include "platform/Notifications.h"

Notifications& Notifications::defaultCenter() {
    static Notifications center;
    return center;
}

void Notifications::post(const QString& name, const QVariant& object) { emit posted(name, object); }

QMetaObject::Connection Notifications::observe(const QString& name, QObject* owner,
                                               std::function<void(const QVariant&)> handler) {
    return connect(this, &Notifications::posted, owner,
                   [name, handler = std::move(handler)](const QString& posted, const QVariant& object) {
                       if (posted == name)
                           handler(object);
                   });
}
