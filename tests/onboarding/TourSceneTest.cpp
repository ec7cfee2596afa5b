#include "onboarding/TourScene.h"
#include "onboarding/LayerRenderer.h"
#include "onboarding/SceneLoops.h"
#include "onboarding/TourKit.h"

#include <QMouseEvent>
#include <QPainter>
#include <QTest>
#include <gtest/gtest.h>

using namespace tour;

namespace {

struct Clock {
    double t = 100;
    std::function<double()> fn() {
        return [this] { return t; };
    }
};

// The layer tree painted at a moment into an image of its size, y up as the layers are laid out.
QImage paint(LayerRenderer& renderer, const Layer& root, double t, QColor fill = Qt::black) {
    const QSize size = root.frame().size().toSize();
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(fill);
    QPainter p(&image);
    p.translate(0, size.height());
    p.scale(1, -1);
    renderer.paint(p, root, t);
    return image;
}

QImage paint(const Layer& root, double t) {
    LayerRenderer renderer;
    return paint(renderer, root, t);
}

} // namespace

TEST(TourScene, TheStageFitsTheViewAndStaysCentred) {
    const struct {
        QSize view;
        double scale;
        QPointF position;
    } cases[] = {
        {{600, 300}, 1.0, {300, 150}},  // twice as wide as high: height / 300
        {{272, 600}, 0.5, {136, 300}},  // tall and narrow: width / 544
        {{544, 216}, 0.72, {272, 108}}, // the setup page's short card
    };
    for (const auto& c : cases) {
        Clock clock;
        TourScene scene(nullptr, clock.fn());
        scene.resize(c.view);
        scene.rebuild();
        const Props p = presentation(*scene.stage(), clock.t + 10);
        EXPECT_NEAR(p.transform.sx, c.scale, 1e-9);
        EXPECT_EQ(p.position, c.position);
        // The stage rises 14 points and fades in, then rests at its model values.
        EXPECT_NEAR(presentation(*scene.stage(), clock.t).position.y(), c.position.y() - 14, 1e-9);
        EXPECT_NEAR(presentation(*scene.stage(), clock.t).opacity, 0, 1e-9);
    }
}

TEST(TourScene, RebuildsOnANewSizeOnlyAndTicksOnlyWhileShown) {
    Clock clock;
    TourScene scene(nullptr, clock.fn());
    EXPECT_FALSE(scene.ticking());
    scene.show();
    EXPECT_TRUE(scene.ticking());
    scene.resize(544, 300);
    const LayerPtr first = scene.stage();
    clock.t = 105;
    scene.resize(544, 300);
    EXPECT_EQ(scene.stage(), first) << "the same size keeps the running scene";
    scene.resize(600, 300);
    ASSERT_NE(scene.stage(), first) << "a new size builds anew";
    EXPECT_DOUBLE_EQ(scene.stage()->animation(QStringLiteral("enter"))->beginTime, 105) << "and starts over";
    EXPECT_EQ(scene.backing().sublayers().size(), 2) << "the glow and the stage, nothing left over";
    scene.hide();
    EXPECT_FALSE(scene.ticking());
}

TEST(TourScene, ThePointerShiftsRegisteredLayersWithinHalfTheirDepth) {
    Clock clock;
    TourScene scene(nullptr, clock.fn());
    scene.resize(400, 200);
    const auto move = [&](QPointF at) {
        QMouseEvent event(QEvent::MouseMove, at, scene.mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&scene, &event);
    };
    move({200, 100});
    clock.t += 1;
    EXPECT_EQ(scene.shiftAt(clock.t), QPointF(0, 0)) << "the centre";
    move({400, 0});
    EXPECT_EQ(scene.shiftAt(clock.t), QPointF(0, 0)) << "it glides, it does not jump";
    EXPECT_EQ(scene.shiftAt(clock.t + 0.35) * 20, QPointF(10, 10)) << "top right, depth 20";
    clock.t += 0.2;
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(&scene, &leave);
    EXPECT_EQ(scene.shiftAt(clock.t + 0.35), QPointF(0, 0)) << "back to rest when the pointer leaves";

    TourScene empty(nullptr, clock.fn());
    empty.resize(0, 0);
    QMouseEvent event(QEvent::MouseMove, QPointF(3, 3), QPointF(3, 3), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&empty, &event);
    const QPointF s = empty.shiftAt(clock.t + 1);
    EXPECT_TRUE(std::isfinite(s.x()) && std::isfinite(s.y()));
}

TEST(TourKit, GlassTilesTakeTheirColoursAndRhythmFromTheHue) {
    TourKit kit;
    kit.now = 50;
    const auto pictureColours = [&](double hue, bool flip) {
        const LayerPtr tile = kit.glassTile({0, 0, 160, 110}, hue, flip);
        return tile->sublayers().at(1)->colors;
    };
    EXPECT_NEAR(pictureColours(0.9, false).at(1).hsvHueF(), 0.02, 1e-3);
    EXPECT_EQ(pictureColours(0.3, true).at(0), pictureColours(0.3, false).at(1));

    for (const auto& [hue, begin, period] : {std::tuple{0.0, 51.5, 6.0}, std::tuple{1.0, 55.5, 9.0}}) {
        const LayerPtr tile = kit.glassTile({0, 0, 160, 110}, hue, false);
        const LayerPtr streak = tile->sublayers().last()->sublayers().first();
        const Animation* sweep = streak->animation(QStringLiteral("streak"));
        ASSERT_NE(sweep, nullptr);
        EXPECT_DOUBLE_EQ(sweep->beginTime, begin);
        EXPECT_DOUBLE_EQ(sweep->duration, period);
        // Parked outside on the left, it crosses in 1.4 s.
        EXPECT_NEAR(presentation(*streak, begin + 0.7).position.x(), 80, 1e-9);
        EXPECT_NEAR(presentation(*streak, begin + 3).position.x(), streak->model.position.x(), 1e-9);
    }
}

TEST(TourKit, PillSpacesItsIconsAndLightsOnlyARealOne) {
    TourKit kit;
    const auto [bare, none] = kit.pill(300, 40, 0, QStringList{});
    EXPECT_TRUE(none.isEmpty());
    EXPECT_TRUE(bare->sublayers().isEmpty());

    const QStringList four{QStringLiteral("crop"), QStringLiteral("pin"), QStringLiteral("no.such.symbol"),
                           QStringLiteral("rotate.right")};
    const auto [bar, centres] = kit.pill(300, 40, {}, four);
    EXPECT_EQ(centres, (QList<double>{46.5, 115.5, 184.5, 253.5}));
    EXPECT_EQ(bar->sublayers().size(), 4) << "an unknown symbol still takes its slot";
    EXPECT_EQ(kit.pill(300, 40, 1, four).first->sublayers().size(), 5) << "one plate";
    EXPECT_EQ(kit.pill(300, 40, 4, four).first->sublayers().size(), 4) << "no plate outside the icons";
}

TEST(TourKit, LabelsAreAtLeastTheirMinimumWide) {
    TourKit kit;
    EXPECT_DOUBLE_EQ(kit.label(QStringLiteral("Crop"), {100, 50}, 120)->frame().width(), 120);
    const LayerPtr wide = kit.label(QStringLiteral("Translate & summarize (beta)"), {100, 50}, 20);
    EXPECT_GT(wide->frame().width(), 120);
    EXPECT_DOUBLE_EQ(wide->frame().center().x(), 100);
}

TEST(LayerRenderer, PaintsYUpWithRotationsCounterClockwise) {
    Layer root;
    root.setFrame({0, 0, 100, 100});
    root.addSublayer(scene::box({0, 0, 20, 20}, Qt::red));
    // A bar pointing right from the centre, turned a quarter counter-clockwise, points up.
    LayerPtr bar = Layer::make();
    bar->model.anchorPoint = {0, 0.5};
    bar->model.bounds = QRectF(0, 0, 40, 6);
    bar->model.position = {50, 50};
    bar->model.transform = Transform::rotated(M_PI / 2);
    bar->model.backgroundColor = Qt::green;
    root.addSublayer(bar);
    LayerPtr dashes = Layer::make(Layer::Type::shape);
    QPainterPath line;
    line.moveTo(0, 95);
    line.lineTo(100, 95);
    dashes->path = line;
    dashes->model.fillColor = QColor();
    dashes->model.strokeColor = Qt::blue;
    dashes->model.lineWidth = 2;
    dashes->lineDashPattern = {3, 5};
    root.addSublayer(dashes);
    const QImage image = paint(root, 0);
    EXPECT_EQ(image.pixelColor(5, 95), QColor(Qt::red)) << "the origin is at the bottom left";
    EXPECT_EQ(image.pixelColor(50, 20), QColor(Qt::green)) << "up on the screen";
    EXPECT_EQ(image.pixelColor(80, 50), QColor(Qt::black));
    // Dashes of 3 and gaps of 5 points, whatever the line width: 8-point period along the top.
    int runs = 0;
    for (int x = 1; x < 100; ++x)
        runs += image.pixelColor(x, 5).blue() > 128 && image.pixelColor(x - 1, 5).blue() <= 128;
    EXPECT_GE(runs, 11);
    EXPECT_LE(runs, 13);
}

TEST(LayerRenderer, BlursAShadowOncePerLayerAndSize) {
    TourKit kit;
    Layer root;
    root.setFrame({0, 0, 300, 200});
    root.addSublayer(kit.glassTile({40, 40, 160, 110}, 0.3, false));
    QImage image(300, 200, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    LayerRenderer renderer;
    for (int frame = 0; frame < 3; ++frame) {
        QPainter p(&image);
        p.translate(0, 200);
        p.scale(1, -1);
        renderer.paint(p, root, frame * 0.1);
    }
    EXPECT_EQ(renderer.cachedShadows(), 1);
    // The shadow falls below the tile (offset -8 with y up), darkening the white under it.
    EXPECT_LT(qGray(image.pixel(120, 200 - 34)), 235);
    EXPECT_EQ(qGray(image.pixel(290, 10)), 255) << "nothing far away";
}

TEST(LayerRenderer, MasksByAlphaAndStretchesRadialGradientsToTheBox) {
    Layer root;
    root.setFrame({0, 0, 200, 100});
    // Opaque at the bottom, clear from the middle up (y up).
    LayerPtr red = scene::box({0, 0, 100, 100}, Qt::red);
    LayerPtr fade = Layer::make(Layer::Type::gradient);
    fade->setFrame({0, 0, 100, 100});
    fade->colors = {Qt::black, Qt::black, Qt::transparent};
    fade->locations = {0, 0.4, 0.5};
    fade->startPoint = {0.5, 0};
    fade->endPoint = {0.5, 1};
    red->mask = fade;
    root.addSublayer(red);
    // A glow twice as wide as high: white in the middle, gone at the sides and the top.
    LayerPtr glow = Layer::make(Layer::Type::gradient);
    glow->radial = true;
    glow->setFrame({100, 0, 100, 50});
    glow->colors = {Qt::white, QColor(255, 255, 255, 0)};
    glow->startPoint = {0.5, 0.5};
    glow->endPoint = {1, 1};
    root.addSublayer(glow);
    const QImage image = paint(root, 0);
    EXPECT_EQ(image.pixelColor(50, 90), QColor(Qt::red)) << "kept at the bottom";
    EXPECT_EQ(image.pixelColor(50, 10), QColor(Qt::black)) << "masked away at the top";
    EXPECT_GT(image.pixelColor(150, 75).red(), 230) << "the centre of the glow";
    EXPECT_LT(image.pixelColor(198, 75).red(), 25) << "its side, 50 points out";
    EXPECT_LT(image.pixelColor(150, 52).red(), 40) << "its top, 25 points up";
}

TEST(LayerRenderer, PaintsStillLayersOnceAndKeepsMovingOnesMoving) {
    Layer root;
    root.setFrame({0, 0, 100, 100});
    for (int i = 0; i < 3; ++i)
        root.addSublayer(scene::box({10.0 + 30 * i, 10, 20, 20}, Qt::blue));
    LayerPtr mover = scene::box({0, 60, 20, 20}, Qt::red);
    mover->addAnimation(QStringLiteral("x"), Animation::basic(QStringLiteral("position.x"), 10.0, 90.0, 1), 1);
    root.addSublayer(mover);

    LayerRenderer renderer;
    const QImage early = paint(renderer, root, 1.0);
    const QImage late = paint(renderer, root, 1.9);
    EXPECT_EQ(renderer.cachedStills(), 1);
    for (const QImage& image : {early, late})
        for (const int x : {20, 50, 80})
            EXPECT_EQ(image.pixelColor(x, 80), QColor(Qt::blue)) << x;
    EXPECT_EQ(early.pixelColor(10, 30), QColor(Qt::red));
    EXPECT_EQ(late.pixelColor(82, 30), QColor(Qt::red));
    EXPECT_EQ(late.pixelColor(10, 30), QColor(Qt::black)) << "not frozen where it was first painted";
}

TEST(LayerRenderer, CopiesFollowAShadowThatMovesAndAMoverThatSprings) {
    // A gliding card whose shadow jumps down half-way, and one that springs up and then glides.
    Layer root;
    root.setFrame({0, 0, 300, 200});
    LayerPtr card = scene::box({40, 80, 100, 80}, Qt::white);
    card->model.shadowOpacity = 1;
    card->model.shadowRadius = 4;
    Animation drop =
        Animation::keyframes(QStringLiteral("shadowOffset"), {QPointF(0, -4), QPointF(0, -40)}, {0, 0.5}, 1);
    drop.discrete = true;
    card->addAnimation(QStringLiteral("drop"), drop, 1);
    card->addAnimation(QStringLiteral("glide"), Animation::basic(QStringLiteral("position.x"), 90.0, 100.0, 1), 1);
    root.addSublayer(card);
    LayerPtr springy = TourKit().glassTile({170, 60, 110, 80}, 0.3, false);
    Animation pop = Animation::spring(QStringLiteral("transform.scale"), 0.3, 1.0, 1, 110, 11);
    pop.beginTime = 1;
    springy->addAnimation(QStringLiteral("pop"), pop, 1);
    springy->addAnimation(QStringLiteral("glide"), Animation::basic(QStringLiteral("position.y"), 100.0, 110.0, 3), 1);
    root.addSublayer(springy);

    LayerRenderer copying, fresh;
    fresh.copyGliding = false;
    for (int f = 0; f <= 150; ++f) {
        const double t = 1 + f / 60.0;
        const QImage copied = paint(copying, root, t, Qt::gray);
        if (f != 20 && f != 45 && f != 150)
            continue;
        const QImage reference = paint(fresh, root, t, Qt::gray);
        int far = 0;
        for (int y = 0; y < 200; ++y)
            for (int x = 0; x < 300; ++x)
                far += std::abs(qGray(copied.pixel(x, y)) - qGray(reference.pixel(x, y))) > 40;
        // Half-pixel steps of the copies touch a few edge pixels, never a whole shadow.
        EXPECT_LT(far, 150) << "frame " << f;
    }
    EXPECT_GT(copying.cachedCopies(), 0);
}
