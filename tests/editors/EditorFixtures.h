#pragma once
// Small pieces the editor tests share: plain pictures, shots written to a folder, the toast's text,
// synthetic mouse events, and the edit store's attributes kept in memory.

#include "editors/EditStore.h"
#include "editors/EditorWindow.h"
#include "imaging/ImageConvert.h"
#include "imaging/Shot.h"
#include "imaging/ShotFiles.h"
#include "support/ToastText.h"
#include "ui/Toast.h"

#include <QApplication>
#include <QHash>
#include <QLabel>
#include <QMouseEvent>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>

namespace EditorFixtures {

inline QImage filled(int w, int h, QColor colour = Qt::gray, QImage::Format format = QImage::Format_RGB32) {
    QImage image(w, h, format);
    image.fill(colour);
    return image;
}

// The file's shot with its picture read, as the card hands it to an editor; no picture when it can't be read.
inline Shot shotOf(const QUrl& url) {
    QImage picture;
    try {
        picture = ImageConvert::load(url);
    } catch (const UserError&) {
    }
    return Shot{url, picture, QStringLiteral("Test"), std::nullopt};
}

// Waits while an editor writes its result on a worker: true once it is done, or the editor has gone.
inline bool writeDone(EditorWindow* editor) {
    const QPointer<EditorWindow> alive(editor);
    return QTest::qWaitFor([&] { return !alive || !alive->isWriting(); }, 20000);
}

// The picture written as a PNG under `name` in the folder.
inline QUrl written(const QTemporaryDir& folder, const QString& name, const QImage& image) {
    const QUrl url = QUrl::fromLocalFile(folder.filePath(name));
    ShotFiles::write(image, url);
    return url;
}

// A left-button press, move or release at a point of the widget.
inline void mouse(QWidget* target, QEvent::Type type, QPointF at) {
    QMouseEvent event(type, at, target->mapToGlobal(at), Qt::LeftButton,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

// While it lives, the edit store keeps its attributes in `stored` (the test folder's file system may not
// keep user attributes); with `refuse` set, every write is refused.
class MemoryAttributes {
public:
    MemoryAttributes() {
        EditStore::attributes().read = [this](const QString& path) -> std::optional<QByteArray> {
            return stored.contains(path) ? std::optional(stored.value(path)) : std::nullopt;
        };
        EditStore::attributes().write = [this](const QString& path, const QByteArray& value) {
            if (!refuse)
                stored.insert(path, value);
            return !refuse;
        };
    }
    ~MemoryAttributes() { EditStore::attributes() = EditStore::systemAttributes(); }
    MemoryAttributes(const MemoryAttributes&) = delete;
    MemoryAttributes& operator=(const MemoryAttributes&) = delete;

    QHash<QString, QByteArray> stored;
    bool refuse = false;
};

} // namespace EditorFixtures
