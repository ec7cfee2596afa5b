#include "ui/MenuPlacement.h"

#include <QApplication>
#include <QMenu>
#include <QScreen>
#include <QTest>
#include <gtest/gtest.h>

using MenuPlacement::beside;

TEST(MenuPlacement, OpensBesideItsParentOnTheSideWithRoom) {
    const QRect screen(0, 0, 1000, 700);
    const QSize size(200, 100);
    // Room on the right: the right, first row level with the opening row.
    auto at = beside(QRect(100, 100, 300, 400), QRect(100, 220, 300, 24), size, screen, false);
    EXPECT_EQ(at.topLeft, QPoint(400, 220));
    EXPECT_FALSE(at.leftwards);
    // No room on the right: the left, touching the parent.
    at = beside(QRect(700, 100, 250, 400), QRect(700, 220, 250, 24), size, screen, false);
    EXPECT_EQ(at.topLeft, QPoint(500, 220));
    EXPECT_TRUE(at.leftwards);
    // A parent that went left keeps going left while there is room, even with room on the right.
    at = beside(QRect(400, 100, 150, 300), QRect(400, 120, 150, 24), size, screen, true);
    EXPECT_EQ(at.topLeft, QPoint(200, 120));
    // ...and turns right at the screen's left edge.
    at = beside(QRect(100, 100, 150, 300), QRect(100, 120, 150, 24), size, screen, true);
    EXPECT_EQ(at.topLeft, QPoint(250, 120));
    EXPECT_FALSE(at.leftwards);
    // A row near the bottom: the submenu moves up to stay on the screen.
    at = beside(QRect(100, 300, 300, 400), QRect(100, 660, 300, 24), size, screen, false);
    EXPECT_EQ(at.topLeft, QPoint(400, 600));
    // No room on either side: a submenu of the top menu takes the wider side, held inside the screen...
    at = beside(QRect(50, 0, 900, 300), QRect(50, 10, 900, 24), QSize(120, 100), screen, std::nullopt);
    EXPECT_EQ(at.topLeft, QPoint(880, 10));
    // ...and a deeper one goes on the way its parent went, over its parent rather than the menus before it.
    at = beside(QRect(250, 0, 400, 300), QRect(250, 10, 400, 24), QSize(300, 100), screen, true, {{650, 0, 300, 400}});
    EXPECT_EQ(at.topLeft, QPoint(0, 10));
    EXPECT_TRUE(at.leftwards);
    at = beside(QRect(200, 0, 600, 300), QRect(200, 10, 600, 24), QSize(300, 100), screen, false);
    EXPECT_EQ(at.topLeft, QPoint(700, 10));
}

// The side is decided by the room on each side, to the last pixel, and where neither side has room by which
// side has more: each case has a mirror image that must go the other way.
TEST(MenuPlacement, TakesTheSideWithMoreRoomAndMirrorsIt) {
    const QRect screen(0, 0, 1000, 700);
    const auto opens = [&](QRect parent, QSize size, std::optional<bool> parentWentLeft) {
        const auto at = beside(parent, QRect(parent.left(), 220, parent.width(), 24), size, screen, parentWentLeft);
        EXPECT_TRUE(screen.contains(QRect(at.topLeft, size)));
        return std::pair(at.topLeft.x(), at.leftwards);
    };
    // 200 wide: room on the right up to the screen's last column, then none; the same on the left.
    EXPECT_EQ(opens({500, 100, 300, 400}, {200, 100}, false), std::pair(800, false));
    EXPECT_EQ(opens({501, 100, 300, 400}, {200, 100}, false), std::pair(301, true));
    EXPECT_EQ(opens({200, 100, 300, 400}, {200, 100}, true), std::pair(0, true));
    EXPECT_EQ(opens({199, 100, 300, 400}, {200, 100}, true), std::pair(499, false));
    // Room on neither side of a top menu: 30 on the left and 70 on the right, and the mirror image.
    EXPECT_EQ(opens({30, 100, 900, 400}, {120, 100}, std::nullopt), std::pair(880, false));
    EXPECT_EQ(opens({70, 100, 900, 400}, {120, 100}, std::nullopt), std::pair(0, true));
}

namespace {
QRect openedOnPath(QMenu* menu, int downs) {
    for (int i = 0; i < downs; ++i)
        QTest::keyClick(menu, Qt::Key_Down);
    QTest::keyClick(menu, Qt::Key_Right);
    QApplication::processEvents();
    QMenu* sub = menu->activeAction() ? menu->activeAction()->menu() : nullptr;
    return sub && sub->isVisible() ? sub->geometry() : QRect();
}
} // namespace

// A wide tray menu at the screen's right edge: its submenu flips to the left, and the submenu's own submenu
// goes on leftwards, up to the screen's edge, instead of back over the menu it all came from.
TEST(MenuPlacement, ThirdLevelStaysClearOfTheMenusItCameFrom) {
    QMenu root;
    root.addAction(QStringLiteral("Capture  \u00b7  window under the cursor"));
    root.addAction(QStringLiteral("Open Pictolarium Folder  \u00b7  ~/Pictures/Pictolarium"));
    QMenu* shortcuts = root.addMenu(QStringLiteral("Shortcuts"));
    root.addAction(QStringLiteral("Translation Language\u2026"));
    QMenu* capture = shortcuts->addMenu(QStringLiteral("Capture   Super+Shift+D"));
    capture->addAction(QStringLiteral("Enabled"));
    capture->addAction(QStringLiteral("Change Shortcut\u2026  Super+Shift+D"));
    MenuPlacement::keepBeside(&root);

    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    root.popup(QPoint(screen.right() - root.sizeHint().width() - 20, screen.center().y()));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&root));
    const QRect second = openedOnPath(&root, 3);
    ASSERT_TRUE(second.isValid());
    const QRect third = openedOnPath(shortcuts, 1);
    ASSERT_TRUE(third.isValid());

    EXPECT_FALSE(second.intersects(root.geometry())) << "the submenu covers the menu";
    EXPECT_FALSE(third.intersects(root.geometry())) << "the third level covers the menu";
    EXPECT_TRUE(screen.contains(second) && screen.contains(third));
    // Beside the row that opened it.
    const QRect row = shortcuts->actionGeometry(shortcuts->actions().first());
    EXPECT_NEAR(third.top(), shortcuts->mapToGlobal(row.topLeft()).y(), 8);
}
