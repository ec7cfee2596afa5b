#include "shortcuts/ShortcutRecorderView.h"

#include "platform/GlobalKeys.h"
#include "shortcuts/KeyCodes.h"
#include "ui/Brand.h"
#include "ui/UI.h"

#include <QFocusEvent>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>

namespace {

constexpr Qt::KeyboardModifiers recordedFlags =
    Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;

int maskOf(Qt::KeyboardModifiers flags) {
    int mask = 0;
    if (flags & Qt::MetaModifier)
        mask |= Shortcut::command;
    if (flags & Qt::ShiftModifier)
        mask |= Shortcut::shift;
    if (flags & Qt::AltModifier)
        mask |= Shortcut::option;
    if (flags & Qt::ControlModifier)
        mask |= Shortcut::control;
    return mask;
}

Qt::KeyboardModifiers flagOfKey(int key) {
    switch (key) {
    case Qt::Key_Shift:
        return Qt::ShiftModifier;
    case Qt::Key_Control:
        return Qt::ControlModifier;
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
        return Qt::AltModifier;
    case Qt::Key_Meta:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
        return Qt::MetaModifier;
    default:
        return {};
    }
}

} // namespace

ShortcutRecorderView::ShortcutRecorderView(const GlobalKeys& globalKeys, QWidget* parent)
    : QWidget(parent), keys(globalKeys) {
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled, false);
}

std::optional<Shortcut> ShortcutRecorderView::shortcutFor(const QKeyEvent& event, const GlobalKeys& keys) {
    const quint32 keycode = event.nativeScanCode();
    quint32 plain = keys.keysym(keycode, 0);
    if (!plain)
        plain = event.nativeVirtualKey();
    std::optional<int> code = KeyCodes::keyCode(plain);
    if (!code) // keypad digits sit in the second column, under the cursor-movement symbols
        code = KeyCodes::keyCode(keys.keysym(keycode, 1));
    if (!code)
        return std::nullopt;
    return Shortcut::fromKey(*code, maskOf(event.modifiers()), KeyCodes::characters(KeyCodes::keysym(*code)));
}

QString ShortcutRecorderView::flagsString(Qt::KeyboardModifiers flags) {
    return Shortcut::modifierWords(maskOf(flags));
}

QString ShortcutRecorderView::text() const {
    if (hasFocus() && liveFlags)
        return flagsString(liveFlags) + QStringLiteral("\u2026");
    if (!shortcut)
        return hasFocus() ? QStringLiteral("Press keys\u2026") : QStringLiteral("Click to record");
    return shortcut->display();
}

bool ShortcutRecorderView::record(QKeyEvent* event) {
    const std::optional<Shortcut> made = shortcutFor(*event, keys);
    if (!made)
        return false;
    shortcut = made;
    liveFlags = {};
    update();
    emit recorded(*made);
    return true;
}

bool ShortcutRecorderView::event(QEvent* event) {
    // Claim combinations that would otherwise trigger a shortcut of the window.
    if (event->type() == QEvent::ShortcutOverride) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (shortcutFor(*key, keys)) {
            key->accept();
            return true;
        }
    }
    return QWidget::event(event);
}

void ShortcutRecorderView::trackModifiers(QKeyEvent* event) {
    Qt::KeyboardModifiers flags = event->modifiers() & recordedFlags;
    // X reports the state before the event, so the modifier key itself is added or taken off here.
    const Qt::KeyboardModifiers own = flagOfKey(event->key());
    if (event->type() == QEvent::KeyPress)
        flags |= own;
    else
        flags &= ~own;
    if (flags != liveFlags) {
        liveFlags = flags;
        update();
    }
}

void ShortcutRecorderView::keyPressEvent(QKeyEvent* event) {
    if (flagOfKey(event->key())) {
        trackModifiers(event);
        event->accept();
        return;
    }
    if (record(event)) {
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void ShortcutRecorderView::keyReleaseEvent(QKeyEvent* event) {
    if (flagOfKey(event->key())) {
        trackModifiers(event);
        event->accept();
        return;
    }
    QWidget::keyReleaseEvent(event);
}

void ShortcutRecorderView::grabWhileFocused() {
    if (hasFocus() && isVisible())
        grabKeyboard();
}

void ShortcutRecorderView::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    grabWhileFocused();
    // The window may not be mapped yet when the focus arrives, and X refuses a grab until it is.
    QTimer::singleShot(150, this, &ShortcutRecorderView::grabWhileFocused);
    update();
}

void ShortcutRecorderView::focusOutEvent(QFocusEvent* event) {
    releaseKeyboard();
    liveFlags = {};
    QWidget::focusOutEvent(event);
    update();
}

void ShortcutRecorderView::hideEvent(QHideEvent* event) {
    releaseKeyboard();
    QWidget::hideEvent(event);
}

void ShortcutRecorderView::mousePressEvent(QMouseEvent* event) {
    setFocus(Qt::MouseFocusReason);
    event->accept();
}

void ShortcutRecorderView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF frame = QRectF(rect()).adjusted(1, 1, -1, -1);
    QPainterPath path;
    path.addRoundedRect(frame, 7, 7);
    painter.fillPath(path, Brand::surface());
    const bool focused = hasFocus();
    painter.setPen(QPen(focused ? UI::accent() : Brand::lineStrong(), focused ? 2.0 : 1.0));
    painter.drawPath(path);

    const QString shown = text();
    const bool placeholder = !(focused && liveFlags) && !shortcut;
    painter.setPen(placeholder ? Brand::muted() : Brand::text());
    const QFont font = UI::font(15, QFont::Medium);
    painter.setFont(font);
    const QSizeF size = QFontMetricsF(font).size(Qt::TextSingleLine, shown);
    const QPointF centre = QRectF(rect()).center();
    painter.drawText(QRectF(centre - QPointF(size.width() / 2, size.height() / 2), size), Qt::AlignCenter, shown);
}
