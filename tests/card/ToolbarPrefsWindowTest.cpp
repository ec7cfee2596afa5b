#include "card/ToolbarPrefsWindow.h"
#include "card/ToolbarPrefs.h"
#include "platform/Defaults.h"
#include "platform/fake/FakePointerWatch.h"

#include <QApplication>
#include <QDropEvent>
#include <QListView>
#include <QMimeData>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>

namespace {

struct Fixture {
    QTemporaryDir dir;
    Defaults defaults{dir.path(), QStringLiteral("prefs")};
    std::unique_ptr<ToolbarPrefsWindow> window = std::make_unique<ToolbarPrefsWindow>(defaults);

    // What reached the disk.
    QStringList storedOrder() {
        defaults.flush();
        const Defaults disk(dir.path(), QStringLiteral("prefs"));
        return disk.contains(ToolbarPrefs::orderKey) ? ToolbarPrefs::order(disk) : QStringList{};
    }
    QSet<QString> storedHidden() {
        defaults.flush();
        return ToolbarPrefs::hidden(Defaults(dir.path(), QStringLiteral("prefs")));
    }

    QRect rowRect(int row) const {
        QListView* table = window->tableView();
        return table->visualRect(table->model()->index(row, 0));
    }
    bool rowTicked(int row) const {
        return window->tableView()->model()->index(row, 0).data(Qt::CheckStateRole).toInt() == Qt::Checked;
    }
};

std::unique_ptr<QMimeData> payload(const QByteArray& text, const QString& type = ToolbarPrefsWindow::dragType) {
    auto data = std::make_unique<QMimeData>();
    data->setData(type, text);
    return data;
}

} // namespace

TEST(ToolbarPrefsWindow, ClickingARowHidesOrShowsItsToolAndStoresTheSet) {
    Fixture f;
    f.window->present();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(f.window.get()));
    ASSERT_EQ(f.window->tableView()->model()->rowCount(), 14);
    EXPECT_TRUE(f.rowTicked(2));

    QWidget* viewport = f.window->tableView()->viewport();
    QTest::mouseClick(viewport, Qt::LeftButton, {}, f.rowRect(2).center()); // the title of "resize"
    EXPECT_FALSE(f.rowTicked(2));
    EXPECT_EQ(f.storedHidden(), QSet<QString>{QStringLiteral("resize")});

    QTest::mouseClick(viewport, Qt::LeftButton, {}, f.rowRect(0).topLeft() + QPoint(36, 14)); // on the box
    QTest::mouseClick(viewport, Qt::LeftButton, {}, f.rowRect(2).center());
    EXPECT_TRUE(f.rowTicked(2));
    EXPECT_FALSE(f.rowTicked(0));
    EXPECT_EQ(f.storedHidden(), QSet<QString>{QStringLiteral("annotate")});

    // Rows that do not exist change nothing.
    f.window->rowClicked(-1);
    f.window->rowClicked(14);
    EXPECT_EQ(f.storedHidden(), QSet<QString>{QStringLiteral("annotate")});
}

TEST(ToolbarPrefsWindow, DropsMoveARowAndRefuseUnreadablePayloads) {
    struct Case {
        const char* name;
        QByteArray from;
        int to;
        bool accepted;
        QStringList firstFour; // of the order afterwards
        QString last;
    };
    const Case cases[] = {
        {"first row below the last", "0", 14, true, {"crop", "resize", "rotate", "text"}, "annotate"},
        {"last row to the top", "13", 0, true, {"library", "annotate", "crop", "resize"}, "share"},
        {"down by one lands above the row after next",
         "0",
         2,
         true,
         {"crop", "annotate", "resize", "rotate"},
         "library"},
        {"onto its own place", "3", 3, true, {"annotate", "crop", "resize", "rotate"}, "library"},
        {"a target past the end is clamped", "1", 99, true, {"annotate", "resize", "rotate", "text"}, "crop"},
        {"empty", "", 0, false, {}, {}},
        {"not a number", "two", 0, false, {}, {}},
        {"negative", "-1", 0, false, {}, {}},
        {"past the end", "14", 0, false, {}, {}},
    };
    for (const Case& c : cases) {
        Fixture f;
        f.window->reload();
        EXPECT_EQ(f.window->acceptDrop(payload(c.from).get(), c.to), c.accepted) << c.name;
        if (!c.accepted) {
            EXPECT_FALSE(f.defaults.contains(ToolbarPrefs::orderKey)) << c.name;
            EXPECT_EQ(f.window->shownOrder(), ToolbarPrefs::order(f.defaults)) << c.name;
            continue;
        }
        // Even a drop that changes nothing writes the order.
        const QStringList stored = f.storedOrder();
        ASSERT_EQ(stored.size(), 14) << c.name;
        EXPECT_EQ(stored.mid(0, 4), c.firstFour) << c.name;
        EXPECT_EQ(stored.last(), c.last) << c.name;
        EXPECT_EQ(f.window->shownOrder(), stored) << c.name;
    }

    Fixture f;
    EXPECT_FALSE(f.window->acceptDrop(payload("1", QStringLiteral("text/plain")).get(), 0));
    EXPECT_FALSE(f.window->acceptDrop(nullptr, 0));
    EXPECT_FALSE(f.defaults.contains(ToolbarPrefs::orderKey));
}

TEST(ToolbarPrefsWindow, ADropOnARowLandsAboveItAndBelowTheLastRowAtTheEnd) {
    struct Case {
        const char* name;
        int overRow;
        bool lowerHalf;
        int landsAt;
    };
    const Case cases[] = {
        {"upper half of a row below: above it", 5, false, 4},
        {"lower half of a row below: still above it", 5, true, 4},
        {"upper half of a row above: above it", 0, false, 0},
        {"below every row: at the end", -1, false, 13},
    };
    for (const Case& c : cases) {
        Fixture f;
        f.window->present();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(f.window.get()));
        QListView* table = f.window->tableView();
        const QRect row = c.overRow < 0 ? QRect(0, f.rowRect(13).bottom() + 2, 10, 6) : f.rowRect(c.overRow);
        const QPoint at(row.center().x(), c.lowerHalf ? row.bottom() - 3 : row.top() + 3);
        std::unique_ptr<QMimeData> data(f.window->dragData(2));
        ASSERT_TRUE(data);
        // Qt hands a drop only to the widget that accepted the drag's entry.
        QDragEnterEvent enter(at, Qt::MoveAction, data.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(table->viewport(), &enter);
        ASSERT_TRUE(enter.isAccepted()) << c.name;
        QDropEvent drop(QPointF(at), Qt::MoveAction, data.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(table->viewport(), &drop);
        EXPECT_TRUE(drop.isAccepted()) << c.name;
        EXPECT_EQ(f.storedOrder().indexOf(QStringLiteral("resize")), c.landsAt) << c.name;
    }
}

TEST(ToolbarPrefsWindow, ResetForgetsOrderAndHiddenAndPresentRereadsTheSettings) {
    Fixture f;
    f.window->present();
    f.window->rowClicked(4);
    f.window->acceptDrop(payload("0").get(), 14);
    ASSERT_TRUE(f.defaults.contains(ToolbarPrefs::orderKey));

    QTest::mouseClick(f.window->resetButton(), Qt::LeftButton);
    EXPECT_FALSE(f.defaults.contains(ToolbarPrefs::orderKey));
    EXPECT_FALSE(f.defaults.contains(ToolbarPrefs::hiddenKey));
    EXPECT_EQ(f.window->shownOrder(), ToolbarPrefs::order(f.defaults));
    for (int row = 0; row < 14; ++row)
        EXPECT_TRUE(f.rowTicked(row)) << row;

    // Settings changed behind the window's back show up at the next present().
    f.defaults.set(ToolbarPrefs::orderKey, QVariantList{QStringLiteral("library")});
    f.defaults.set(ToolbarPrefs::hiddenKey, QVariantList{QStringLiteral("pin")});
    f.window->close();
    f.window->present();
    EXPECT_EQ(f.window->shownOrder().first(), QStringLiteral("library"));
    EXPECT_FALSE(f.rowTicked(f.window->shownOrder().indexOf(QStringLiteral("pin"))));
}

TEST(ToolbarPrefsWindow, AClickElsewhereOrEscapeClosesItButNotAClickInsideOrInOurWindows) {
    FakePointerWatch* watch = nullptr;
    ToolbarPrefsWindow::setPointerWatch([&watch] {
        auto made = std::make_unique<FakePointerWatch>();
        watch = made.get();
        return made;
    });
    Fixture f;
    ToolbarPrefsWindow::setPointerWatch({});
    ASSERT_NE(watch, nullptr);
    f.window->present();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(f.window.get()));
    watch->press(f.window->frameGeometry().center());
    watch->press(QPoint(5000, 5000), true);
    QCoreApplication::processEvents();
    EXPECT_TRUE(f.window->isVisible());
    watch->press(f.window->frameGeometry().bottomRight() + QPoint(40, 40));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !f.window->isVisible(); }));
    // Closing only hides it: the next present() brings the same window back, still watching.
    f.window->present();
    EXPECT_TRUE(f.window->isVisible());
    // Escape closes it wherever the keyboard is inside it; with a modifier it is another key.
    QTest::keyClick(f.window->tableView(), Qt::Key_Escape, Qt::ShiftModifier);
    EXPECT_TRUE(f.window->isVisible());
    QTest::keyClick(f.window->tableView(), Qt::Key_Escape);
    EXPECT_FALSE(f.window->isVisible());
}
