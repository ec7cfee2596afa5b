#pragma once
// A desktop held in memory, for tests of the capture engine.

#include "platform/WindowList.h"

class FakeWindowList : public WindowList {
public:
    QList<Window> list;
    QPoint mouse;
    QList<QRect> monitors{QRect(0, 0, 1280, 800)};
    QImage desktop;

    QList<Window> windows() override { return list; }
    std::optional<Window> window(quint32 id) override {
        for (const Window& w : list)
            if (w.id == id && w.visible)
                return w;
        return std::nullopt;
    }
    QPoint pointer() override { return mouse; }
    QList<QRect> screens() override { return monitors; }
    QImage grab(const QRect& rect, QString* error = nullptr) override {
        const QRect area = rect.intersected(desktop.rect());
        if (area.isEmpty()) {
            if (error)
                *error = QStringLiteral("nothing on screen");
            return {};
        }
        return desktop.copy(area);
    }
};
