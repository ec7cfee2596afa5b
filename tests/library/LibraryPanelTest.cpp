#include "library/LibraryPanel.h"

#include "LibraryFixtures.h"
#include "library/ShotGrid.h"
#include "ui/GhostButton.h"
#include "ui/UI.h"

#include <QApplication>
#include <QEnterEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <gtest/gtest.h>

namespace {

// A basket over n pictures, not yet shown.
struct Panel : LibraryFixtures::BasketPanel {
    explicit Panel(int files) : BasketPanel(names(files), false) {}
    static QStringList names(int files) {
        QStringList out;
        for (int i = 0; i < files; ++i)
            out.append(QString("Slice %1.png").arg(i));
        return out;
    }
};

} // namespace

TEST(LibraryPanel, TilesFillTheWidthInColumnsAndRowsWrapWhereTheyShould) {
    struct Case {
        int width, columns, tileWidth, tileHeight;
    };
    const Case cases[] = {{520, 2, 231, 167}, {840, 3, 256, 183}, {1200, 4, 278, 197}, {1400, 5, 260, 185}};
    Panel p(7);
    p.panel->reload();
    for (const Case& c : cases) {
        EXPECT_EQ(LibraryPanel::columnsFor(c.width), c.columns) << c.width;
        EXPECT_EQ(LibraryPanel::tileSizeFor(c.width), QSize(c.tileWidth, c.tileHeight)) << c.width;

        p.panel->resize(c.width, 700);
        p.panel->show();
        QApplication::processEvents();
        ShotGrid* grid = p.panel->collection;
        EXPECT_EQ(grid->width(), c.width);
        for (int i = 0; i < 7; ++i) {
            const int col = i % c.columns, row = i / c.columns;
            EXPECT_EQ(grid->tileRect(i),
                      QRect(22 + col * (c.tileWidth + 14), 18 + row * (c.tileHeight + 14), c.tileWidth, c.tileHeight))
                << "width " << c.width << " tile " << i;
        }
    }
}

// A narrow panel's header gives up width step by step, but a selection's count always shows, clear of the tabs
// and the action buttons: as its number alone at the narrowest, in words from a little wider.
TEST(LibraryPanel, HeaderKeepsTheSelectionCountAtTheNarrowestWidth) {
    Panel p(3);
    p.panel->reload();
    p.panel->show();
    p.panel->collection->selectRows({0, 1});
    const auto inPanel = [&](const QWidget* w) { return QRect(w->mapTo(p.panel.get(), QPoint()), w->size()); };
    for (const int width : {520, 600}) {
        p.panel->resize(width, 700);
        QApplication::processEvents();
        QLabel* count = p.panel->countLabel;
        EXPECT_EQ(count->text(), width == 520 ? "2" : "2 selected") << width;
        const QRect label = inPanel(count);
        EXPECT_GE(label.width(), count->fontMetrics().horizontalAdvance(count->text())) << width;
        EXPECT_LT(inPanel(p.panel->tabButtons.last()).right(), label.left()) << width;
        EXPECT_LT(label.right(), inPanel(p.panel->actionButtons.first()).left()) << width;
        EXPECT_LE(inPanel(p.panel->closeButton).right(), width) << width;
    }
}

TEST(LibraryPanel, HeaderShowsTheHoveredActionTheTabAndTheSelection) {
    Panel p(3);
    p.panel->show();
    p.panel->reload();
    GhostButton* remove = p.panel->actionButtons.last();
    QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
    QApplication::sendEvent(remove, &enter);
    EXPECT_EQ(p.panel->actionLabel->text(), "Delete");
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(remove, &leave);
    EXPECT_EQ(p.panel->actionLabel->text(), "");

    EXPECT_TRUE(p.panel->tabButtons[0]->active());
    p.panel->pickTab(p.panel->tabButtons[1]);
    EXPECT_FALSE(p.panel->tabButtons[0]->active());
    EXPECT_TRUE(p.panel->tabButtons[1]->active());
    EXPECT_TRUE(p.panel->listing().showingRecent);
    p.panel->pickTab(p.panel->tabButtons[0]);

    // The header's button carries our mark and the empty state our crest, both drawn from the
    // project's own pictures rather than a stand-in glyph.
    const auto greenShare = [](const QImage& image) {
        int green = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QColor c = image.pixelColor(x, y);
                green += c.alpha() > 128 && c.green() > c.red() + 20 && c.green() > c.blue() + 40;
            }
        return double(green) / (image.width() * image.height());
    };
    EXPECT_GT(greenShare(p.panel->appButton->icon().pixmap(26, 26).toImage()), 0.05);
    const QLabel* hero = p.panel->emptyView->findChild<QLabel*>();
    ASSERT_NE(hero, nullptr);
    const QPixmap crest = hero->pixmap();
    EXPECT_EQ(crest.deviceIndependentSize().toSize(), QSize(260, 146)) << "the crest fills the box";
    EXPECT_GT(greenShare(crest.toImage()), 0.01);
}

TEST(LibraryPanel, ToggleShowsCentredOnEveryDesktopAndAClickElsewhereHidesIt) {
    Panel p(1);
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    p.panel->toggle(area.center());
    ASSERT_TRUE(p.panel->isVisible());
    EXPECT_EQ(p.panel->size(), QSize(840, 586));
    EXPECT_EQ(p.panel->pos(), QPoint(area.x() + (area.width() - 840) / 2, area.y() + (area.height() - 586) / 2));
    EXPECT_EQ(p.platform.virtualDesktops.everywhere.size(), 1);
    EXPECT_EQ(p.panel->collection->files().size(), 1);

    ASSERT_TRUE(p.platform.lastWatch);
    p.platform.lastWatch->press(p.panel->geometry().center());
    QTest::qWait(20);
    EXPECT_TRUE(p.panel->isVisible()) << "a press inside its frame";
    p.platform.lastWatch->press({5, 5});
    QTest::qWait(20);
    EXPECT_TRUE(p.panel->isVisible()) << "a press on the panel icon, docked in another program";
    p.platform.lastWatch->press(p.panel->geometry().bottomRight() + QPoint(5, 5));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !p.panel->isVisible(); }));

    // The window manager keeps the keyboard elsewhere (here with another window of ours): the panel
    // asks for it as a pager would.
    QWidget elsewhere;
    p.panel->toggle(area.center());
    elsewhere.show();
    elsewhere.activateWindow();
    const auto& asked = static_cast<FakeWindowFocus&>(p.platform.windowFocus()).asked;
    ASSERT_TRUE(QTest::qWaitFor([&] { return asked == QList<quint32>{quint32(p.panel->winId())}; }));
    EXPECT_TRUE(p.panel->isVisible());
}

TEST(LibraryPanel, AnEdgeDragStopsAtTheScreensFreeArea) {
    Panel p(1);
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    p.panel->toggle(area.center());
    ASSERT_TRUE(p.panel->isVisible());
    const auto drag = [&](QPoint from, QPoint to) {
        const auto send = [&](QEvent::Type type, QPoint global, Qt::MouseButton button, Qt::MouseButtons held) {
            QMouseEvent event(type, QPointF(p.panel->mapFromGlobal(global)), QPointF(global), button, held, {});
            QApplication::sendEvent(p.panel.get(), &event);
        };
        send(QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
        send(QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton);
        send(QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
    };
    const QRect start(area.topLeft() + QPoint(40, 30), LibraryPanel::minimumPanelSize + QSize(20, 20));
    p.panel->setGeometry(start);
    drag(p.panel->geometry().bottomRight(), area.bottomRight() + QPoint(300, 300));
    EXPECT_EQ(p.panel->geometry(), QRect(start.topLeft(), area.bottomRight())) << "not past the free area";
    drag(p.panel->geometry().topLeft(), area.topLeft() - QPoint(300, 300));
    EXPECT_EQ(p.panel->geometry(), area);

    // A panel partly outside the free area (placed before a panel bar came): an edge out there stays put when
    // dragged further out and follows when dragged in; the other edges never move.
    const QSize size = LibraryPanel::minimumPanelSize + QSize(40, 40);
    const struct {
        QPoint out; // the dragged edge's outward direction
        int by;     // pixels dragged outwards
    } cases[] = {{{-1, 0}, 50}, {{-1, 0}, -30}, {{1, 0}, 50}, {{1, 0}, -30},
                 {{0, -1}, 50}, {{0, 1}, 50},   {{0, 1}, -30}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.out.x() << "," << c.out.y() << " by " << c.by);
        QRect outside(QPoint(), size);
        outside.moveCenter(area.center() +
                           QPoint(c.out.x() * (area.width() / 2 - 9), c.out.y() * (area.height() / 2 - 9)));
        ASSERT_FALSE(area.contains(outside));
        p.panel->setGeometry(outside);
        ASSERT_EQ(p.panel->geometry(), outside);
        const QPoint grip =
            outside.center() + QPoint(c.out.x() * (size.width() / 2 - 3), c.out.y() * (size.height() / 2 - 3));
        drag(grip, grip + c.out * c.by);
        const QPoint in = c.out * std::min(c.by, 0);
        EXPECT_EQ(p.panel->geometry(), outside.adjusted(c.out.x() < 0 ? in.x() : 0, c.out.y() < 0 ? in.y() : 0,
                                                        c.out.x() > 0 ? in.x() : 0, c.out.y() > 0 ? in.y() : 0));
    }
}

TEST(LibraryPanel, UnderACompositorWhatLiesBehindShowsOnlyAsATrace) {
    FakeCompositor compositor;
    compositor.on = true;
    UI::setCompositor(&compositor);
    Panel p(0);
    UI::setCompositor(nullptr);
    p.panel->toggle(QGuiApplication::primaryScreen()->availableGeometry().center());
    // The empty state of either tab stands over whatever page is behind: it must read over any of them.
    for (const bool recent : {false, true}) {
        p.panel->tabButtons[recent ? 1 : 0]->click();
        const QImage look = p.panel->grab().toImage();
        for (const QPoint at : {p.panel->rect().center(), QPoint(40, p.panel->height() - 40)})
            EXPECT_GE(qAlpha(look.pixel(at)), 250) << recent << " " << at.x() << "," << at.y();
    }
}
