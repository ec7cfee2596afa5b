#include "card/ScrollHint.h"

#include "ui/MessagePill.h"

#include <QWidget>

namespace ScrollHint {

QWidget* create(const QString& text) {
    // Unmanaged and click-through: focus taken by the hint would take the scrolling away from the recorded window.
    return MessagePill::make(text, height, padding, QStringLiteral("Pictolarium Scroll Hint"),
                             QStringLiteral("scrollHint"));
}

} // namespace ScrollHint
