// The tour's eight scenes evaluated at the moments their storyboards name, and a few painted pixels.

#include "card/ToolbarPrefs.h"
#include "onboarding/LayerDamage.h"
#include "onboarding/LayerRenderer.h"
#include "onboarding/SceneLoops.h"
#include "onboarding/TourKit.h"
#include "onboarding/TourScene.h"
#include "platform/Defaults.h"
#include "shortcuts/Shortcut.h"
#include "ui/UI.h"

#include <QPainter>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace tour;

namespace {

constexpr double T0 = 100;

// A scene of one kind, built at T0 with its own settings.
struct Built {
    explicit Built(TourScene::Kind kind) : settings(dir.path(), QStringLiteral("tour")) {
        scene.setDefaults(settings);
        scene.kind = kind;
        scene.resize(544, 300);
        scene.rebuild();
    }
    void rebuild() { scene.rebuild(); }
    Layer& at(qsizetype i) const { return *scene.stage()->sublayers().at(i); }
    qsizetype count() const { return scene.stage()->sublayers().size(); }

    QTemporaryDir dir;
    Defaults settings;
    double now = T0;
    TourScene scene{nullptr, [this] { return now; }};
};

Props p(const Layer& layer, double seconds) {
    return presentation(layer, T0 + seconds);
}

void expectPoint(const QPointF& actual, const QPointF& expected, const char* what) {
    EXPECT_NEAR(actual.x(), expected.x(), 1e-3) << what;
    EXPECT_NEAR(actual.y(), expected.y(), 1e-3) << what;
}

bool near(const QColor& a, const QColor& b) {
    return std::abs(a.redF() - b.redF()) < 0.01 && std::abs(a.greenF() - b.greenF()) < 0.01 &&
           std::abs(a.blueF() - b.blueF()) < 0.01 && std::abs(a.alphaF() - b.alphaF()) < 0.01;
}

// The scene painted at 1× at a moment, with y down as on screen.
QImage paint(TourScene& scene, double seconds) {
    QImage image(544, 300, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::black);
    QPainter painter(&image);
    scene.render(painter, T0 + seconds);
    return image;
}

// The largest difference of mean colour between two pictures over blocks of the given size: copies land on
// whole pixels and slow movers are painted in half-pixel steps, so edges may move by half a pixel, which
// leaves blocks alike while anything missing, stale or out of place shows.
int blockDiff(const QImage& a, const QImage& b, int block) {
    int worst = 0;
    for (int by = 0; by + block <= a.height(); by += block)
        for (int bx = 0; bx + block <= a.width(); bx += block) {
            int sums[2][3] = {};
            for (int y = by; y < by + block; ++y)
                for (int x = bx; x < bx + block; ++x)
                    for (int k = 0; k < 2; ++k) {
                        const QRgb c = (k ? b : a).pixel(x, y);
                        sums[k][0] += qRed(c);
                        sums[k][1] += qGreen(c);
                        sums[k][2] += qBlue(c);
                    }
            for (int c = 0; c < 3; ++c)
                worst = std::max(worst, std::abs(sums[0][c] - sums[1][c]) / (block * block));
        }
    return worst;
}

} // namespace

TEST(TourScenes, WelcomeEntrancesSweepAndDust) {
    Built w(TourScene::Kind::welcome);
    ASSERT_EQ(w.count(), 15) << "dust, four glows, four tile holders, two rings, crest, bracket, flash, pill";
    EXPECT_EQ(w.at(0).type, Layer::Type::emitter) << "the dust lies behind everything";
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        const Layer& tile = *w.at(5 + i).sublayers().first();
        EXPECT_LT(p(tile, 0.24).opacity, 1e-9) << "no tile before 0.25 s";
        EXPECT_NEAR(p(tile, 0.24).transform.sx, 0.2, 1e-9);
        EXPECT_DOUBLE_EQ(tile.animation(QStringLiteral("appear"))->beginTime,
                         tile.animation(QStringLiteral("pop"))->beginTime);
        EXPECT_DOUBLE_EQ(tile.animation(QStringLiteral("pop"))->beginTime, T0 + 0.25 + 0.12 * i);
        EXPECT_NEAR(p(tile, 3).opacity, 0.96, 1e-9);
        EXPECT_NE(p(tile, 3).transform.rotation, 0) << "the pop keeps the tilt";
    }
    const Layer& bar = w.at(14);
    const Layer& highlight = *bar.sublayers().first();
    const struct {
        double t, x;
    } sweep[] = {{0, 28}, {6.4 / 9 * 1.5, 60}, {6.4 * 7.5 / 9, 252}, {6.4 * 8.9 / 9, 252}, {6.4, 28}, {6.4 * 2.01, 28}};
    for (const auto& s : sweep)
        EXPECT_DOUBLE_EQ(p(highlight, s.t).position.x(), s.x) << "at " << s.t;

    // The bracket: the pulse, added last and held backwards, rules its opacity from the start.
    const Layer& bracket = w.at(12);
    EXPECT_DOUBLE_EQ(p(bracket, 0.1).opacity, 1);
    EXPECT_NEAR(p(bracket, 0.1).transform.sx, 2.2, 1e-9);
    EXPECT_NEAR(p(w.at(13), 0.95 + 0.55 * 0.15).opacity, 0.55, 1e-9) << "the flash peaks";
    EXPECT_NEAR(p(w.at(13), 2).opacity, 0, 1e-9);
    EXPECT_NEAR(p(w.at(10), 1.0).opacity, 0, 1e-9) << "the second ring waits for 1.6 s";
    EXPECT_GT(p(w.at(10), 1.7).opacity, 0.3);

    // About seven seconds of dust a second, the same dots on every build.
    const QList<Particle> dust = particles(w.at(0), T0 + 30);
    EXPECT_GE(dust.size(), 40);
    EXPECT_LE(dust.size(), 50);
    for (const Particle& d : dust)
        EXPECT_TRUE(d.alpha > 0 && d.alpha <= 0.7 && d.position.y() >= -7 && d.scale <= 0.09 + 1e-9);
    EXPECT_TRUE(particles(w.at(0), T0).isEmpty()) << "dust only starts with the scene";

    EXPECT_EQ(w.scene.parallaxLayers().size(), 6);
    w.now = T0 + 5;
    w.rebuild();
    EXPECT_EQ(w.scene.parallaxLayers().size(), 6) << "a rebuild starts the list afresh";
    const QList<Particle> again = particles(w.at(0), T0 + 35);
    ASSERT_EQ(again.size(), dust.size());
    for (qsizetype i = 0; i < dust.size(); ++i)
        EXPECT_EQ(again.at(i).position, dust.at(i).position);
}

TEST(TourScenes, PickAndSliceStoryboards) {
    Built pick(TourScene::Kind::pick);
    ASSERT_EQ(pick.count(), 10);
    const Layer &ring = pick.at(5), &veil = pick.at(6), &card = pick.at(7), &flash = pick.at(8), &pointer = pick.at(9);
    for (const double loopStart : {0.0, 4.0, 8.0}) {
        expectPoint(p(pointer, loopStart).position, {90, 110}, "the pointer rests");
        EXPECT_NEAR(p(card, loopStart).opacity + p(veil, loopStart).opacity + p(ring, loopStart).opacity, 0, 1e-9);
        EXPECT_NEAR(p(card, loopStart).transform.sx, 0.6, 1e-9);
    }
    expectPoint(p(pointer, 1.5).position, {290, 150}, "on the front window");
    EXPECT_NEAR(p(ring, 1.4).opacity, 1, 1e-9);
    EXPECT_NEAR(p(flash, 1.92).opacity, 0.55, 1e-9);
    EXPECT_NEAR(p(card, 3).opacity, 1, 1e-9);
    EXPECT_NEAR(p(card, 3).transform.sx, 1, 1e-9);
    EXPECT_EQ(p(veil, 2.1).opacity, p(card, 2.1).opacity) << "veil and card share their curve";

    Built slice(TourScene::Kind::slice);
    ASSERT_EQ(slice.count(), 5);
    const Layer &sveil = slice.at(1), &selection = slice.at(2), &cross = slice.at(3), &scard = slice.at(4);
    EXPECT_TRUE(p(selection, 0).bounds.isEmpty());
    expectPoint(p(cross, 0).position, {130, 230}, "the crosshair starts at the top-left corner");
    EXPECT_EQ(p(cross, 0).opacity, 1);
    const Props sel = p(selection, 2.016);
    const QRectF frame(sel.position.x() - sel.anchorPoint.x() * sel.bounds.width(),
                       sel.position.y() - sel.anchorPoint.y() * sel.bounds.height(), sel.bounds.width(),
                       sel.bounds.height());
    EXPECT_EQ(frame, QRectF(130, 110, 260, 120));
    expectPoint(p(cross, 2.016).position, {390, 110}, "the crosshair on the bottom-right corner");
    EXPECT_NEAR(p(sveil, 2.352).opacity + p(cross, 2.352).opacity + p(scard, 2.352).opacity, 0, 1e-9);
    EXPECT_NEAR(p(scard, 3).opacity, 1, 1e-9);
    // The piece shows the window under the selection: its copy starts 60 × 70 points into it.
    const Layer& copy = *scard.sublayers().first()->sublayers().first();
    expectPoint(copy.model.position, {-60 * 160 / 260.0, -70 * 74 / 120.0}, "the copy is shifted onto S");
    EXPECT_EQ(copy.model.shadowOpacity, 0);
}

TEST(TourScenes, CardWalksThroughEveryTool) {
    Built c(TourScene::Kind::card);
    ASSERT_EQ(c.count(), 4);
    const QStringList names = TourKit::toolNames();
    ASSERT_EQ(names.size(), 14);
    const Layer &bar = c.at(1), &pointer = c.at(2), &chip = c.at(3);
    const Layer& words = *chip.sublayers().first();
    EXPECT_EQ(bar.sublayers().size(), 15) << "the plate and every catalogue symbol";
    expectPoint(p(pointer, 0).position, {92.857, 52}, "first tool");
    expectPoint(p(pointer, 9.1).position, {479.143, 52}, "last tool");
    expectPoint(p(pointer, 9.8).position, {92.857, 52}, "back at the first");
    for (int i = 0; i < 14; ++i) {
        EXPECT_EQ(p(words, 0.7 * i + 0.01).string, names.at(i));
        EXPECT_EQ(p(words, 0.7 * i + 0.69).string, names.at(i)) << "the title waits until the next tool";
    }
    EXPECT_NEAR(p(*bar.sublayers().first(), 0.7 * 5).position.x(), 12 + 5.5 * 416 / 14.0, 1e-6);
}

TEST(TourScenes, BasketShowsANewShotArriving) {
    Built b(TourScene::Kind::basket);
    ASSERT_EQ(b.count(), 1);
    const Layer& panel = b.at(0);
    ASSERT_EQ(panel.sublayers().size(), 11) << "mark, two tabs, six tiles, ring, sparkles";
    EXPECT_FALSE(panel.sublayers().at(0)->contents.isNull()) << "the mark is drawn";
    for (int i = 0; i < 6; ++i) {
        const Layer& tile = *panel.sublayers().at(3 + i);
        EXPECT_EQ(tile.sublayers().last()->sublayers().first()->model.string, QStringLiteral("PNG"));
        // Odd tiles swap their two picture colours.
        const QList<QColor> colours = tile.sublayers().at(1)->colors;
        EXPECT_EQ(colours.first().saturationF() > 0.57f, i % 2 == 1) << i;
    }
    const Layer &fresh = *panel.sublayers().at(3), &ring = *panel.sublayers().at(9), &spark = *panel.sublayers().at(10);
    EXPECT_EQ(p(fresh, 0).opacity, 0);
    EXPECT_NEAR(p(fresh, 0).transform.sx, 0.85, 1e-9);
    EXPECT_EQ(p(ring, 0).opacity + p(spark, 0).opacity, 0);
    EXPECT_NEAR(p(ring, 1.344).opacity, 1, 1e-9);
    EXPECT_NEAR(p(spark, 2.0).opacity, 1, 1e-9);
    EXPECT_NEAR(p(fresh, 3.1).opacity, 1, 1e-9);
    EXPECT_NEAR(p(ring, 2.8).opacity, 0, 1e-9);
    expectPoint(spark.model.position, {28, 178}, "sparkles at the new tile's corner");
}

TEST(TourScenes, LatestChipReadsTheBasketShortcut) {
    const struct {
        std::optional<Shortcut> stored;
        QString text;
    } cases[] = {
        {std::nullopt, QStringLiteral("Super+Shift+S  ·  hold")},
        {Shortcut{111, Shortcut::command | Shortcut::control | Shortcut::option | Shortcut::shift,
                  QStringLiteral("F12")},
         QStringLiteral("Super+Ctrl+Alt+Shift+F12  ·  hold")},
    };
    for (const auto& c : cases) {
        Built l(TourScene::Kind::latest);
        if (c.stored) {
            c.stored->save(QStringLiteral("library"), l.settings);
            l.rebuild();
        }
        ASSERT_EQ(l.count(), 4);
        const Layer& chip = l.at(3);
        const Layer& words = *chip.sublayers().first();
        EXPECT_EQ(words.model.string, c.text);
        // The chip is as wide as its text needs, so a long shortcut is not cut.
        EXPECT_GE(words.frame().width(), QFontMetricsF(words.font).horizontalAdvance(c.text) - 0.5);
        EXPECT_NEAR(chip.frame().center().x(), 272, 1e-9);
        EXPECT_TRUE(near(p(chip, 0).backgroundColor, TourKit::glass()));
        EXPECT_TRUE(near(p(chip, 1.0).backgroundColor, TourKit::sage()));
        const Layer &veil = l.at(1), &card = l.at(2);
        EXPECT_EQ(veil.frame(), l.at(0).frame()) << "the veil covers the chat window exactly";
        for (const double t : {0.0, 1.3, 5.8, 6.0})
            EXPECT_NEAR(p(card, t).opacity, 0, 1e-9) << t;
        EXPECT_NEAR(p(card, 0).transform.sx, 0.6, 1e-9);
        EXPECT_NEAR(p(card, 3).transform.sx, 1, 1e-9);
        EXPECT_NEAR(p(veil, 3).opacity, 1, 1e-9);
    }
}

TEST(TourScenes, WheelDropsOnJpegWithTheWheelKey) {
    const struct {
        QVariant stored;
        QString word;
    } keys[] = {{{}, QStringLiteral("Shift")},
                {qlonglong(0x80000), QStringLiteral("Alt")},
                {qlonglong(0x100000), QStringLiteral("Super")}};
    for (const auto& k : keys) {
        Built w(TourScene::Kind::wheel);
        if (k.stored.isValid()) {
            w.settings.set(QStringLiteral("wheelModifier"), k.stored);
            w.rebuild();
        }
        ASSERT_EQ(w.count(), 5);
        const Layer& cap = w.at(1);
        const Layer& word = *cap.sublayers().first();
        EXPECT_EQ(word.model.string, k.word);
        EXPECT_EQ(cap.frame().left(), 50) << "the cap widens to the right";
        const double needed = QFontMetricsF(word.font).horizontalAdvance(k.word) + 12;
        EXPECT_NEAR(cap.frame().width(), std::max(46.0, std::ceil(needed)), 1e-9) << k.word.toStdString();
    }

    Built w(TourScene::Kind::wheel);
    const Layer &wheel = w.at(2), &copy = w.at(3), &pointer = w.at(4);
    EXPECT_EQ(p(wheel, 0).opacity + p(copy, 0).opacity, 0);
    expectPoint(p(pointer, 4).position, {110, 140}, "back on the picture");
    EXPECT_NEAR(p(wheel, 2.5).opacity, 1, 1e-9);
    EXPECT_NEAR(p(wheel, 2.5).transform.sx, 1, 1e-9);
    expectPoint(p(pointer, 2.5).position, {325, 210.622}, "the pointer on JPEG");
    expectPoint(p(copy, 2.5).position, {325, 210.622}, "the copy on JPEG");
    const Layer &jpeg = *wheel.sublayers().at(0), &jpegLabel = *wheel.sublayers().at(1);
    EXPECT_EQ(jpegLabel.model.string, QStringLiteral("JPEG"));
    expectPoint(jpegLabel.frame().center() + wheel.frame().topLeft(), {325, 210.622}, "the label's centre");
    EXPECT_TRUE(near(p(jpeg, 2.5).fillColor, TourKit::sage()));
    EXPECT_TRUE(near(p(jpeg, 0).fillColor, TourKit::glass()));
    EXPECT_TRUE(near(p(jpegLabel, 2.5).foregroundColor, UI::onAccent()));
    // Segment 0 runs from the top to the upper left; its label's point lies inside it.
    EXPECT_TRUE(jpeg.path.contains(QPointF(105 + 70 * std::cos(2.0944), 105 + 70 * std::sin(2.0944))));
    EXPECT_FALSE(jpeg.path.contains(QPointF(105 + 70 * std::cos(1.0472), 105 + 70 * std::sin(1.0472))));

    // Painted: the lit segment shows the accent at its label's side.
    const QImage frame = paint(w.scene, 2.5);
    const QColor lit = frame.pixelColor(QPoint(325 - 22, 300 - 210 - 12));
    EXPECT_TRUE(std::abs(lit.greenF() - UI::accent().greenF()) < 0.12 && lit.greenF() > lit.blueF() + 0.2)
        << lit.name().toStdString();
}

TEST(TourScenes, PermissionBadgesPopInTurnAndTilesBobOutOfStep) {
    Built s(TourScene::Kind::permissions);
    ASSERT_EQ(s.count(), 6) << "glow, two connectors and tiles, the privacy picture";
    const struct {
        qsizetype tile;
        double delay, period;
    } rows[] = {{2, 0.8, 8.0}, {4, 1.4, 9.2}};
    for (const auto& r : rows) {
        const Layer& tile = s.at(r.tile);
        const Layer& badge = *tile.sublayers().at(2);
        EXPECT_EQ(p(badge, r.delay - 0.01).transform.sx, 0) << "hidden until its pop";
        EXPECT_GT(p(badge, r.delay + 0.4).transform.sx, 1) << "it overshoots";
        EXPECT_EQ(p(badge, 30).transform.sx, 1) << "and stays";
        const Animation* bob = tile.animation(QStringLiteral("bob"));
        ASSERT_NE(bob, nullptr);
        EXPECT_DOUBLE_EQ(2 * bob->duration, r.period);
        EXPECT_NEAR(p(tile, r.period / 2).position.y(), 164, 1e-9);
    }
    const Layer& privacy = s.at(5);
    EXPECT_FALSE(privacy.contents.isNull()) << "the picture is drawn";
    ASSERT_TRUE(privacy.mask);
    // Opaque low, clear at the top: the mask's own fade.
    const QImage frame = paint(s.scene, 3);
    const QColor low = frame.pixelColor(272, 300 - 162 + 40), high = frame.pixelColor(272, 300 - 162 - 118);
    EXPECT_GT(low.greenF(), high.greenF());
}

TEST(TourScenes, ArtworkRendersAtItsSizeAndMissingArtworkIsEmpty) {
    const QImage hero = TourKit::tourImage(QStringLiteral("hero-crest"));
    ASSERT_FALSE(hero.isNull());
    EXPECT_EQ(hero.deviceIndependentSize(), QSizeF(520, 292));
    EXPECT_EQ(hero.pixelColor(0, 0).alpha(), 0) << "clear at the edges so the tiles show";
    EXPECT_EQ(TourKit::tourImage(QStringLiteral("privacy")).deviceIndependentSize(), QSizeF(250, 250));
    EXPECT_FALSE(TourKit::artwork(QStringLiteral(":/CrestMark")).isNull());
    EXPECT_TRUE(TourKit::tourImage(QStringLiteral("no-such-picture")).isNull());

    // The welcome page painted: the crest in the middle once it has sprung up.
    Built w(TourScene::Kind::welcome);
    const QImage frame = paint(w.scene, 2);
    const QColor centre = frame.pixelColor(272, 300 - 168);
    EXPECT_GT(centre.greenF(), 0.5) << centre.name().toStdString();
    const QImage early = paint(w.scene, 0.02);
    EXPECT_LT(early.pixelColor(272, 300 - 168).greenF(), centre.greenF()) << "before it springs up";
}

TEST(TourScenes, TranslucentStrokesAndParkedContentDrawAsTheScenesNeed) {
    // A large translucent stroke looks as a direct one would: half-white on black is mid-grey, and a
    // clipping layer whose content is parked outside draws nothing.
    const LayerPtr root = Layer::make();
    root->setFrame({0, 0, 300, 300});
    const LayerPtr circle = Layer::make(Layer::Type::shape);
    QPainterPath path;
    path.addEllipse(QRectF(-100, -100, 200, 200));
    circle->path = path;
    circle->model.position = {150, 150};
    circle->model.fillColor = QColor();
    circle->model.strokeColor = QColor::fromRgbF(1, 1, 1, 0.5);
    circle->model.lineWidth = 10;
    circle->model.opacity = 0.8;
    root->addSublayer(circle);
    const LayerPtr clip = Layer::make();
    clip->setFrame({20, 20, 60, 60});
    clip->masksToBounds = true;
    clip->addSublayer(scene::box({-100, 0, 50, 60}, Qt::white));
    root->addSublayer(clip);
    QImage image(300, 300, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::black);
    {
        QPainter painter(&image);
        painter.translate(0, 300);
        painter.scale(1, -1);
        LayerRenderer().paint(painter, *root, 1);
    }
    EXPECT_NEAR(image.pixelColor(250, 150).red(), 0.4 * 255, 3) << "0.5 × 0.8 of white";
    EXPECT_EQ(image.pixelColor(50, 250), QColor(Qt::black));
}

// Gliding layers are copied from pictures kept in screen pixels; the copies must look like fresh
// drawing, through the entrances, the springs and the loops, at 1× and 2×, with the pointer moved.
TEST(TourScenes, CopiedLayersLookLikeFreshDrawing) {
    // Copies land on whole pixels and a springing layer may borrow a picture of a neighbouring
    // size, so edges may move by half a pixel: compared over blocks of 4 × 4 points, which that
    // leaves alike while anything missing, stale or out of place shows.
    for (const auto kind : {TourScene::Kind::welcome, TourScene::Kind::pick, TourScene::Kind::basket,
                            TourScene::Kind::latest, TourScene::Kind::permissions}) {
        for (const int scale : {1, 2}) {
            Built built(kind);
            LayerRenderer copying, fresh;
            fresh.copyGliding = false;
            const auto frame = [&](LayerRenderer& renderer, double seconds) {
                QImage image(QSize(544, 300) * scale, QImage::Format_ARGB32_Premultiplied);
                image.fill(Qt::black);
                QPainter painter(&image);
                painter.scale(scale, scale);
                painter.translate(0, 300);
                painter.scale(1, -1);
                renderer.paint(painter, built.scene.backing(), T0 + seconds);
                return image;
            };
            int worst = 0;
            for (int f = 0; f < 150; ++f) {
                const double seconds = 0.1 + f / 30.0;
                // The pointer drifts across the view in the second half.
                for (const auto& [layer, depth] : built.scene.parallaxLayers())
                    layer->offset = QPointF(f > 75 ? (f - 75) * 0.013 * depth : 0, 0);
                const QImage copied = frame(copying, seconds);
                if (f % 15 == 14)
                    worst = std::max(worst, blockDiff(copied, frame(fresh, seconds), 4 * scale));
            }
            EXPECT_GT(copying.cachedCopies(), 0) << int(kind) << " at " << scale << "×: nothing was copied";
            EXPECT_LE(worst, 32) << int(kind) << " at " << scale << "×";
        }
    }
}

// Painting again only what moved, as the view does, must look like painting whole frames: through the
// entrances, springs and loops of the scenes, at 1× and 2×, with the pointer moving. What it leaves alone
// (a still scene's frames, the parts of a frame nothing crossed) is what it saves.
TEST(TourScenes, RepaintingOnlyWhatMovedLooksLikeWholeFrames) {
    for (const auto kind : {TourScene::Kind::welcome, TourScene::Kind::pick, TourScene::Kind::card,
                            TourScene::Kind::basket, TourScene::Kind::wheel, TourScene::Kind::permissions}) {
        for (const int scale : {1, 2}) {
            Built built(kind);
            LayerRenderer partial, whole;
            whole.copyGliding = false;
            LayerDamage damage;
            QImage shown(QSize(544, 300) * scale, QImage::Format_ARGB32_Premultiplied);
            shown.fill(Qt::black);
            int worst = 0;
            double painted = 0;
            const int frames = 120;
            for (int f = 0; f < frames; ++f) {
                const double t = T0 + 0.1 + f / 30.0;
                for (const auto& [layer, depth] : built.scene.parallaxLayers())
                    layer->offset = QPointF(f > 60 ? (f - 60) * 0.013 * depth : 0, 0);
                // As the view does: its first frame is painted whole.
                QRegion dirty = damage.since(built.scene.backing(), QTransform(1, 0, 0, -1, 0, 300), t, scale) &
                                QRect(0, 0, 544, 300);
                if (f == 0)
                    dirty = QRect(0, 0, 544, 300);
                for (const QRect& r : dirty)
                    painted += double(r.width()) * r.height() / (544.0 * 300.0);
                {
                    QPainter painter(&shown);
                    painter.scale(scale, scale);
                    painter.setClipRegion(dirty);
                    painter.fillRect(QRect(0, 0, 544, 300), Qt::black);
                    partial.only = QTransform::fromScale(scale, scale).map(dirty);
                    painter.translate(0, 300);
                    painter.scale(1, -1);
                    partial.paint(painter, built.scene.backing(), t);
                }
                const auto wholeFrame = [&](LayerRenderer& renderer) {
                    QImage fresh(shown.size(), QImage::Format_ARGB32_Premultiplied);
                    fresh.fill(Qt::black);
                    QPainter painter(&fresh);
                    painter.scale(scale, scale);
                    painter.translate(0, 300);
                    painter.scale(1, -1);
                    renderer.paint(painter, built.scene.backing(), t);
                    painter.end();
                    return fresh;
                };
                if (f == 0) {
                    // Painted whole, it is the frame a fresh painter makes, pixel for pixel.
                    LayerRenderer fresh;
                    EXPECT_TRUE(wholeFrame(fresh) == shown) << int(kind) << " at " << scale << "×: the first frame";
                }
                if (f % 15 == 14)
                    worst = std::max(worst, blockDiff(shown, wholeFrame(whole), 4 * scale));
            }
            // Edges may lag by half a pixel and copies land on whole pixels: alike within a pixel, while a part
            // left unpainted or stale differs by far more.
            EXPECT_LE(worst, 48) << int(kind) << " at " << scale << "×";
            EXPECT_LT(painted, 0.9 * frames) << int(kind) << " at " << scale << "×: every frame was painted whole";
        }
    }
}

// A frame in which nothing moved paints nothing; a box that jumps is painted where it was and where it is,
// and nowhere else; a glide below half a pixel waits until it adds up.
TEST(TourScenes, RepaintsOnlyWhereSomethingMoved) {
    LayerPtr root = Layer::make();
    root->setFrame({0, 0, 400, 200});
    LayerPtr still = Layer::make();
    still->setFrame({300, 20, 60, 60});
    still->model.backgroundColor = Qt::red;
    LayerPtr box = Layer::make();
    box->setFrame({20, 20, 40, 40});
    box->model.backgroundColor = Qt::white;
    root->addSublayer(still);
    root->addSublayer(box);
    const QTransform view(1, 0, 0, -1, 0, 200);
    LayerDamage damage;
    EXPECT_FALSE(damage.since(*root, view, 1, 1).isEmpty()) << "everything, the first time";
    EXPECT_TRUE(damage.since(*root, view, 2, 1).isEmpty()) << "nothing moved";
    box->model.position += QPointF(0.3, 0);
    EXPECT_TRUE(damage.since(*root, view, 3, 1).isEmpty()) << "a third of a pixel";
    box->model.position += QPointF(0.3, 0);
    EXPECT_FALSE(damage.since(*root, view, 4, 1).isEmpty()) << "two thirds, added up";
    box->model.position += QPointF(100, 0);
    const QRegion dirty = damage.since(*root, view, 5, 1);
    EXPECT_TRUE(dirty.contains(QPoint(40, 160))) << "where it was";
    EXPECT_TRUE(dirty.contains(QPoint(140, 160))) << "where it is";
    EXPECT_FALSE(dirty.intersects(QRect(300, 120, 60, 60))) << "the still box";
    EXPECT_TRUE(damage.since(*root, view, 6, 2).isEmpty());
}
