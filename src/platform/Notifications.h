#pragma once
// Named posts with an optional object. Observers are tied to an owner and go away with it.

#include <QObject>
#include <QString>
#include <QVariant>
#include <functional>

class Notifications : public QObject {
    Q_OBJECT
public:
    static Notifications& defaultCenter();

    // Delivered on the owner's thread: at once when posted there, else queued.
    void post(const QString& name, const QVariant& object = {});
    QMetaObject::Connection observe(const QString& name, QObject* owner,
                                    std::function<void(const QVariant& object)> handler);

signals:
    void posted(const QString& name, const QVariant& object);
};
