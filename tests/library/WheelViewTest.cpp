// The wheel's segments: which one a point hits, how they are drawn, and drags over and onto them.

#include "library/WheelView.h"

#include <QApplication>
#include <QDragMoveEvent>
#include <QMimeData>
#include <QTest>
#include <QtMath>
#include <gtest/gtest.h>

#include <cmath>

namespace {

// A point at radius r and angle degrees (counter-clockwise from 3 o'clock) about the view's centre.
QPointF polar(double r, double degrees) {
    const double a = qDegreesToRadians(degrees);
    return {170 + r * std::cos(a), 170 - r * std::sin(a)};
}

QList<WheelView::Option> options(int n) {
    QList<WheelView::Option> list;
    if (n == 0)
        return list;
    for (int i = 0; i < n - 1; ++i)
        list.append(WheelView::Option::format(ImageFormat::Value(i % 6)));
    list.append(WheelView::Option::compress());
    return list;
}

struct Wheel {
    explicit Wheel(int n) {
        view.resize(340, 340);
        view.options = options(n);
    }
    WheelView view;
};

} // namespace

TEST(WheelViewTest, HitTestFollowsTheRingClockwiseFromTheTop) {
    struct Case {
        const char* what;
        int options;
        double r, degrees;
        std::optional<int> expected;
    };
    const Case cases[] = {
        {"top is the first", 6, 100, 90, 0},
        {"60 degrees clockwise of the top", 6, 100, 30, 1},
        {"straight below", 6, 100, 270, 3},
        {"inner edge belongs to the ring", 6, 56, 90, 0},
        {"outer edge belongs to the ring", 6, 162, 90, 0},
        {"just inside the inner edge", 6, 55.9, 90, std::nullopt},
        {"just past the outer edge", 6, 162.1, 90, std::nullopt},
        {"drawn gap, first's side", 6, 100, 60.5, 0},
        {"drawn gap, second's side", 6, 100, 59.5, 1},
        {"gap at the wrap-around", 6, 100, 120.5, 5},
        {"one option covers its bottom gap", 1, 100, 270, 0},
        {"seven options, last segment", 7, 120, 90 + 360.0 / 7, 6},
        {"no options", 0, 100, 90, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Wheel wheel(c.options);
        EXPECT_EQ(wheel.view.segment(polar(c.r, c.degrees)), c.expected);
    }
}

TEST(WheelViewTest, DrawnSegmentsLeaveGapsAndANarrowerRing) {
    Wheel wheel(6);
    const QPainterPath first = wheel.view.segmentPath(0);
    EXPECT_TRUE(first.contains(polar(111, 90)));    // its title's place
    EXPECT_TRUE(first.contains(polar(100, 62)));    // inside its trimmed range
    EXPECT_FALSE(first.contains(polar(100, 60.5))); // in the gap
    EXPECT_FALSE(first.contains(polar(57, 90)));    // hit ring, not drawn ring
    EXPECT_FALSE(first.contains(polar(161, 90)));
    EXPECT_FALSE(first.contains(polar(100, 270))); // the arc does not go the long way round
    EXPECT_TRUE(wheel.view.segmentPath(3).contains(polar(100, 270)));
}

TEST(WheelViewTest, DragOverRepaintsOnlyWhenTheSegmentChanges) {
    Wheel wheel(6);
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/a.png"))});
    auto move = [&](QPointF at) {
        QDragMoveEvent event(at.toPoint(), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&wheel.view, &event);
        return event.isAccepted() ? event.dropAction() : Qt::IgnoreAction;
    };
    QDragEnterEvent enter(polar(100, 90).toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&wheel.view, &enter);
    EXPECT_TRUE(enter.isAccepted());
    EXPECT_EQ(wheel.view.highlighted, 0);
    EXPECT_EQ(wheel.view.highlightChanges(), 1);

    EXPECT_EQ(move(polar(120, 80)), Qt::CopyAction);
    EXPECT_EQ(move(polar(140, 100)), Qt::CopyAction);
    EXPECT_EQ(wheel.view.highlightChanges(), 1);

    EXPECT_EQ(move(polar(100, 30)), Qt::CopyAction);
    EXPECT_EQ(wheel.view.highlighted, 1);
    EXPECT_EQ(move(polar(10, 30)), Qt::IgnoreAction); // the centre disc takes no drop
    EXPECT_EQ(wheel.view.highlighted, std::nullopt);
    EXPECT_EQ(wheel.view.highlightChanges(), 3);

    move(polar(100, 270));
    QDragLeaveEvent leave;
    QApplication::sendEvent(&wheel.view, &leave);
    EXPECT_EQ(wheel.view.highlighted, std::nullopt);
}

TEST(WheelViewTest, DropHandsOverTheOptionAndLocalFilesLater) {
    const QUrl local = QUrl::fromLocalFile(QStringLiteral("/tmp/a.png"));
    const QUrl web(QStringLiteral("https://example.org/b.png"));
    struct Case {
        double r;
        QList<QUrl> urls;
        bool called; // with the local files among urls
    };
    // On a segment (also with no files at all), on the centre disc, outside the ring.
    for (const Case& c :
         {Case{100, {local, web}, true}, Case{100, {}, true}, Case{20, {local}, false}, Case{168, {local}, false}}) {
        SCOPED_TRACE(c.r);
        Wheel wheel(6);
        std::optional<WheelView::Option> chosen;
        QList<QUrl> got;
        wheel.view.onDrop = [&](const WheelView::Option& option, const QList<QUrl>& files) {
            chosen = option;
            got = files;
        };
        QMimeData data;
        if (!c.urls.isEmpty())
            data.setUrls(c.urls);
        const QPointF at = polar(c.r, 270);
        QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&wheel.view, &enter); // drops go only where a drag entered
        QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&wheel.view, &drop);
        EXPECT_EQ(drop.isAccepted(), c.called);
        EXPECT_FALSE(chosen); // never from inside the drag's own handling
        QApplication::processEvents();
        EXPECT_EQ(chosen.has_value(), c.called);
        if (c.called) {
            EXPECT_EQ(chosen, wheel.view.options.at(3));
            EXPECT_EQ(got, c.urls.isEmpty() ? QList<QUrl>() : QList<QUrl>{local});
        }
    }
}
