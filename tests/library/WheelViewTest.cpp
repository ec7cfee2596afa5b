// The wheel's segments: which one a point hits, how they are drawn, and drags over and onto them.

#include "library/WheelView.h"
#include "library/WheelPanel.h"

#include <QApplication>
#include <QDragMoveEvent>
#include <QImage>
#include <QMimeData>
#include <QPainter>
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
        view.show(); // drags count only on a wheel on the screen
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

// Where nothing composites the window is shaped, and a point outside the shape hands the drop to the window behind:
// every point of the wheel's disc belongs to it, the gap lines between segments, both rims and the centre included.
TEST(WheelViewTest, ShapedWindowTakesEveryPointOfTheWheel) {
    for (int n : {1, 2, 6, 7, 12}) {
        SCOPED_TRACE(n);
        WheelPanel panel;
        ASSERT_EQ(panel.view()->size(), QSize(340, 340));
        panel.view()->options = options(n);
        panel.reshape();
        const QRegion shape = panel.mask();
        QImage taken(340, 340, QImage::Format_Grayscale8); // the shape as pixels: a lookup per point is quick
        taken.fill(0);
        {
            QPainter painter(&taken);
            painter.setClipRegion(shape);
            painter.fillRect(taken.rect(), Qt::white);
        }
        QStringList holes, spill;
        for (int y = 0; y < 340; ++y)
            for (int x = 0; x < 340; ++x) {
                const double r = std::hypot(x - 170.0, y - 170.0);
                const bool wheel = r <= WheelView::outerR || panel.view()->segment(QPointF(x, y));
                const bool in = taken.constScanLine(y)[x] != 0;
                if (wheel && !in)
                    holes.append(QStringLiteral("%1,%2").arg(x).arg(y));
                if (r > WheelView::outerR + 3 && in)
                    spill.append(QStringLiteral("%1,%2").arg(x).arg(y));
            }
        EXPECT_TRUE(holes.isEmpty()) << holes.size() << " holes, first " << holes.value(0).toStdString();
        EXPECT_TRUE(spill.isEmpty()) << spill.size() << " outside points, first " << spill.value(0).toStdString();
        // The gap lines themselves, between their pixels too.
        const double step = 360.0 / n;
        for (int i = 0; i < n; ++i)
            for (double r : {56.5, 80.0, 111.0, 140.0, 161.5})
                for (double off : {-1.2, 0.0, 1.2}) {
                    const QPointF at = polar(r, 90 + step / 2 - i * step + off);
                    EXPECT_TRUE(panel.view()->segment(at)) << r << " " << i;
                    EXPECT_TRUE(shape.contains(at.toPoint())) << r << " " << i;
                }
    }
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
        bool hidden = false;
    };
    // On a segment (also with no files at all), on the centre disc, outside the ring, on a segment of a wheel
    // hidden after the drag entered it.
    for (const Case& c : {Case{100, {local, web}, true}, Case{100, {}, true}, Case{20, {local}, false},
                          Case{168, {local}, false}, Case{100, {local}, false, true}}) {
        SCOPED_TRACE(c.r);
        SCOPED_TRACE(c.hidden);
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
        if (c.hidden)
            wheel.view.hide();
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
