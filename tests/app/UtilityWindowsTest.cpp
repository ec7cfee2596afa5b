#include "app/UtilityWindows.h"

#include "editors/EditorWindow.h"
#include "platform/fake/FakePlatform.h"

#include <QMenu>
#include <gtest/gtest.h>

namespace {

class PlainEditor : public EditorWindow {
public:
    PlainEditor()
        : EditorWindow(Shot{QUrl(), QImage(40, 30, QImage::Format_RGB32), {}, {}}, 0, false,
                       QStringLiteral("Pictolarium Crop")) {}

protected:
    void finish() override {}
};

} // namespace

TEST(UtilityWindows, EveryShownWindowButDocumentsAndPopupsStaysOffTheTaskList) {
    FakePlatform platform;
    const UtilityWindows filter(platform.windowHints());
    QWidget card(nullptr, Qt::Tool | Qt::FramelessWindowHint);
    QWidget settings(nullptr, Qt::Window);
    PlainEditor editor;
    QMenu menu;
    menu.addAction(QStringLiteral("PNG"));
    for (QWidget* w : {&card, &settings, static_cast<QWidget*>(&editor), static_cast<QWidget*>(&menu)})
        w->show();
    const auto marked = [&](QWidget* w) { return platform.hints.offTaskbar.contains(w->windowHandle()); };
    EXPECT_TRUE(marked(&card));
    EXPECT_TRUE(marked(&settings));
    EXPECT_FALSE(marked(&editor));
    EXPECT_FALSE(marked(&menu));
    // Shown again after a hide: the window manager forgot the state when the window was withdrawn.
    card.hide();
    card.show();
    EXPECT_EQ(platform.hints.offTaskbar.count(card.windowHandle()), 2);
}

// Raised by ourselves while it shows, a window that never takes the keyboard withdraws the plea for attention some
// window managers read into the raise, and is never offered the keyboard; one that takes the keyboard may well be
// asking for it.
TEST(UtilityWindows, AWindowThatTakesNoKeysAsksNoAttentionAndIsOfferedNoKeyboard) {
    FakePlatform platform;
    const UtilityWindows filter(platform.windowHints());
    QWidget card(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus);
    QWidget settings(nullptr, Qt::Window);
    // Unmapped, it is no window the window manager knows yet.
    card.raise();
    EXPECT_TRUE(platform.hints.noAttention.isEmpty());
    for (QWidget* w : {&card, &settings}) {
        w->show();
        w->raise();
    }
    EXPECT_TRUE(platform.hints.noAttention.contains(card.windowHandle()));
    EXPECT_FALSE(platform.hints.noAttention.contains(settings.windowHandle()));
    // Nor is it offered the keyboard by the window manager: the offer, declined, would leave it with nobody.
    EXPECT_TRUE(platform.hints.noFocusOffers.contains(card.windowHandle()));
    EXPECT_FALSE(platform.hints.noFocusOffers.contains(settings.windowHandle()));
}
