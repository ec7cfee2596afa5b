#pragma once
// A box that records one key combination while it has the focus. It grabs the keyboard while
// focused, so a combination that is already a global hot key reaches it instead of firing.

#include "shortcuts/Shortcut.h"

#include <QWidget>
#include <optional>

class GlobalKeys;
class QKeyEvent;

class ShortcutRecorderView : public QWidget {
    Q_OBJECT
public:
    // keys reads the keyboard map, to tell which key position a key event came from.
    explicit ShortcutRecorderView(const GlobalKeys& keys, QWidget* parent = nullptr);

    // The combination a key event makes, by the acceptance rule of Shortcut::fromKey; nothing for
    // keys without a position code.
    static std::optional<Shortcut> shortcutFor(const QKeyEvent& event, const GlobalKeys& keys);
    // Held modifiers in display order, "Super+Shift+…"-style without the ellipsis: "Super+Shift+".
    static QString flagsString(Qt::KeyboardModifiers flags);
    // The text the box shows now.
    QString text() const;

    std::optional<Shortcut> shortcut;
    Qt::KeyboardModifiers liveFlags;

signals:
    void recorded(const Shortcut& shortcut);

protected:
    bool event(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    bool record(QKeyEvent* event);
    void trackModifiers(QKeyEvent* event);
    void grabWhileFocused();

    const GlobalKeys& keys;
};
