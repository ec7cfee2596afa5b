// The welcome page's picture: glows drifting behind four glass tiles that pop in and bob, rings
// rippling from the centre, the crest springing up and breathing, a viewfinder snapping onto it with
// a flash, dust rising from below and a pill whose highlight steps from tool to tool.

#include "onboarding/SceneLoops.h"
#include "onboarding/TourScene.h"
#include "ui/Brand.h"

#include <QPainter>

#include <cmath>
#include <numbers>

using tour::Animation;
using tour::Layer;
using tour::LayerPtr;

namespace {

struct Blob {
    QColor colour;
    QPointF centre;
    double diameter;
    double period;
};

struct Tile {
    QRectF rect;
    double hue;
    bool flip;
    double angle;
    double bob;
};

const Tile kTiles[] = {
    {{30, 190, 132, 88}, 0.24, false, -0.1, 5.0},
    {{382, 200, 132, 88}, 0.30, true, 0.09, 6.0},
    {{20, 62, 118, 80}, 0.36, true, 0.07, 5.5},
    {{408, 74, 118, 80}, 0.27, false, -0.08, 6.5},
};

// The dust's picture: a 40-point white dot.
QImage dustDot() {
    QImage dot(40, 40, QImage::Format_ARGB32_Premultiplied);
    dot.fill(Qt::transparent);
    QPainter p(&dot);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(0, 0, 40, 40));
    return dot;
}

// Drifts a glow towards the middle of the stage: 90 points across and 50 up or down.
QPointF driftTarget(QPointF c) {
    return {c.x() <= 272 ? c.x() + 90 : c.x() - 90, c.y() <= 168 ? c.y() + 50 : c.y() - 50};
}

} // namespace

void TourScene::buildWelcome(tour::Layer& stage) {
    const double t0 = now();

    // Glows.
    const Blob blobs[] = {
        {Brand::green(), {150, 220}, 300, 8},
        {Brand::greenLow(), {420, 230}, 260, 9},
        {Brand::greenDeep(), {400, 70}, 240, 10},
        {Brand::greenHi(), {120, 60}, 200, 11},
    };
    for (const Blob& b : blobs) {
        LayerPtr glow = Layer::make(Layer::Type::gradient);
        glow->radial = true;
        glow->colors = {scene::withAlpha(b.colour, 0.3), scene::withAlpha(b.colour, 0)};
        glow->startPoint = {0.5, 0.5};
        glow->endPoint = {1, 1};
        glow->model.bounds = QRectF(0, 0, b.diameter, b.diameter);
        glow->model.position = b.centre;
        stage.addSublayer(glow);
        Animation drift = scene::swing(QStringLiteral("position"), b.centre, driftTarget(b.centre), {}, b.period);
        glow->addAnimation(QStringLiteral("aurora"), drift, t0);
    }

    // Glass tiles, each in a holder as big as the stage, so the pointer moves the holder while the
    // tile keeps its tilt.
    for (int i = 0; i < 4; ++i) {
        const Tile& spec = kTiles[i];
        LayerPtr tile = glassTile(spec.rect, spec.hue, spec.flip);
        tile->model.opacity = 0.96;
        tile->model.transform = tour::Transform::rotated(spec.angle);
        LayerPtr holder = Layer::make();
        holder->setFrame({0, 0, stageWidth, stageHeight});
        holder->addSublayer(tile);
        stage.addSublayer(holder);
        parallax.append({holder, spec.rect.width() > 125 ? 26.0 : 38.0});

        const double begin = t0 + 0.25 + 0.12 * i;
        Animation pop = Animation::spring(QStringLiteral("transform.scale"), 0.2, 1.0, 1, 110, 11);
        pop.beginTime = begin;
        pop.fillBackwards = true;
        tile->addAnimation(QStringLiteral("pop"), pop, t0);
        Animation appear = Animation::basic(QStringLiteral("opacity"), 0.0, 0.96, 0.3);
        appear.beginTime = begin;
        appear.fillBackwards = true;
        tile->addAnimation(QStringLiteral("appear"), appear, t0);
        tile->addAnimation(QStringLiteral("bob"), scene::swing(QStringLiteral("position.y"), {}, {}, 9.0, spec.bob),
                           t0);
    }

    // Two rings leaving the centre in turn.
    for (int k = 0; k < 2; ++k) {
        LayerPtr ring = Layer::make(Layer::Type::shape);
        QPainterPath circle;
        circle.addEllipse(QRectF(-48, -48, 96, 96));
        ring->path = circle;
        ring->model.position = {272, 168};
        ring->model.fillColor = QColor();
        ring->model.strokeColor = sage;
        ring->model.lineWidth = 1.5;
        ring->model.opacity = 0;
        stage.addSublayer(ring);
        Animation ripple = Animation::group({Animation::basic(QStringLiteral("transform.scale"), 1.0, 2.6, 0),
                                             Animation::basic(QStringLiteral("opacity"), 0.6, 0.0, 0)},
                                            3.2);
        ripple.repeatCount = tour::repeatForever;
        ripple.beginTime = t0 + 1.6 * k;
        ripple.timing = tour::Easing::easeOut();
        ring->addAnimation(QStringLiteral("ring"), ripple, t0);
    }

    // The crest. Without its picture the layer stays, empty, laid out and moving.
    LayerPtr hero = Layer::make();
    hero->model.bounds = QRectF(0, 0, 520, 292);
    hero->model.position = {272, 174};
    hero->contents = tourImage(QStringLiteral("hero-crest"));
    hero->contentsGravity = Layer::Gravity::resizeAspectFill;
    stage.addSublayer(hero);
    parallax.append({hero, 10.0});

    // The viewfinder: four corner marks of a 150-point square.
    LayerPtr bracket = Layer::make(Layer::Type::shape);
    QPainterPath marks;
    for (const double sx : {-1.0, 1.0})
        for (const double sy : {-1.0, 1.0}) {
            marks.moveTo(75 * sx, 49 * sy);
            marks.lineTo(75 * sx, 75 * sy);
            marks.lineTo(49 * sx, 75 * sy);
        }
    bracket->path = marks;
    bracket->model.position = {272, 168};
    bracket->model.strokeColor = scene::withAlpha(Brand::greenHi(), 0.9);
    bracket->model.fillColor = QColor();
    bracket->model.lineWidth = 2.4;
    bracket->lineCap = Qt::RoundCap;
    bracket->lineJoin = Qt::RoundJoin;
    stage.addSublayer(bracket);
    Animation snap = Animation::spring(QStringLiteral("transform.scale"), 2.2, 1.0, 1, 140, 14);
    snap.beginTime = t0 + 0.7;
    snap.fillBackwards = true;
    bracket->addAnimation(QStringLiteral("snap"), snap, t0);
    Animation snapFade = Animation::basic(QStringLiteral("opacity"), 0.0, 1.0, 0.25);
    snapFade.beginTime = snap.beginTime;
    snapFade.fillBackwards = true;
    bracket->addAnimation(QStringLiteral("snapFade"), snapFade, t0);
    // Added last and held backwards, the pulse rules the opacity from the first frame on.
    Animation pulse = scene::swing(QStringLiteral("opacity"), 1.0, 0.35, {}, 1.6);
    pulse.beginTime = t0 + 1.6;
    pulse.fillBackwards = true;
    bracket->addAnimation(QStringLiteral("pulse"), pulse, t0);

    // The shutter's flash, once.
    LayerPtr flash = scene::box({0, 0, stageWidth, stageHeight}, Qt::white);
    flash->model.opacity = 0;
    stage.addSublayer(flash);
    Animation blink = Animation::keyframes(QStringLiteral("opacity"), {0.0, 0.55, 0.0}, {0, 0.15, 1}, 0.55);
    blink.beginTime = t0 + 0.95;
    blink.fillBackwards = true;
    flash->addAnimation(QStringLiteral("flash"), blink, t0);

    // Dust rising from just below the bottom edge, behind everything.
    LayerPtr dust = Layer::make(Layer::Type::emitter);
    dust->emitterPosition = {272, -6};
    dust->emitterSize = {stageWidth, 1};
    dust->emitterBegin = t0;
    dust->seed = 0x5eed;
    Layer::EmitterCell mote;
    mote.birthRate = 7;
    mote.lifetime = 7;
    mote.velocity = 34;
    mote.velocityRange = 18;
    mote.emissionLongitude = std::numbers::pi / 2;
    mote.emissionRange = 0.3;
    mote.scale = 0.05;
    mote.scaleRange = 0.04;
    mote.alpha = 0.7;
    mote.alphaSpeed = -0.12;
    mote.contents = dustDot();
    dust->cells = {mote};
    stage.insertSublayer(dust, 0);

    // The crest breathes, but while it springs up the spring rules its scale.
    hero->addAnimation(QStringLiteral("breathe"), scene::swing(QStringLiteral("transform.scale"), 1.0, 1.06, {}, 2.4),
                       t0);
    Animation intro = Animation::spring(QStringLiteral("transform.scale"), 0.0, 1.0, 1, 90, 9);
    intro.fillBackwards = true;
    intro.beginTime = t0 + 0.05;
    hero->addAnimation(QStringLiteral("intro"), intro, t0);

    // The tool pill with a highlight that steps across its eight tools.
    const QStringList icons = {QStringLiteral("pencil.and.outline"),
                               QStringLiteral("crop"),
                               QStringLiteral("text.viewfinder"),
                               QStringLiteral("pin"),
                               QStringLiteral("character.bubble"),
                               QStringLiteral("eye.slash"),
                               QStringLiteral("person.and.background.dotted"),
                               QStringLiteral("square.and.arrow.up")};
    LayerPtr bar = pill(280, 36, std::nullopt, icons).first;
    bar->setFrame(QRectF(QPointF(132, 28), bar->frame().size()));
    stage.addSublayer(bar);
    bar->addAnimation(QStringLiteral("float"), scene::swing(QStringLiteral("position.y"), {}, {}, 4.0, 3.0), t0);
    LayerPtr highlight = scene::box({0, 0, 26, 24}, sage, 8);
    highlight->model.position = {28, 18};
    bar->insertSublayer(highlight, 0);
    QList<tour::Value> steps;
    for (int i = 0; i < 8; ++i)
        steps.append(28.0 + 32 * i);
    steps.append(252.0);
    Animation sweep = Animation::keyframes(QStringLiteral("position.x"), steps,
                                           {0, 1 / 9., 2 / 9., 3 / 9., 4 / 9., 5 / 9., 6 / 9., 7 / 9., 8 / 9.}, 6.4);
    sweep.discrete = true;
    sweep.repeatCount = tour::repeatForever;
    highlight->addAnimation(QStringLiteral("sweep"), sweep, t0);
    parallax.append({bar, 6.0});
}
