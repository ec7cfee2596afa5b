// The last two scenes of the tour: a picture dragged onto the format wheel's "JPEG" segment while
// the wheel key is held, and the two setup tiles receiving their check marks.

#include "library/FormatWheel.h"
#include "onboarding/SceneLoops.h"
#include "onboarding/TourScene.h"
#include "platform/Defaults.h"
#include "ui/UI.h"

#include <QFontMetricsF>

#include <cmath>
#include <numbers>

using tour::Animation;
using tour::Layer;
using tour::LayerPtr;

namespace {

constexpr double pi = std::numbers::pi;

// A ring sector about (105, 105) between the radii 38 and 100, from angle a0 counter-clockwise to
// a1 (radians, y up). Qt counts arc angles the other way round in its y-down terms, hence the signs.
QPainterPath sector(double a0, double a1) {
    const QPointF c(105, 105);
    const auto deg = [](double a) { return a * 180 / pi; };
    QPainterPath path;
    path.moveTo(c + QPointF(std::cos(a0), std::sin(a0)) * 100);
    path.arcTo(QRectF(5, 5, 200, 200), -deg(a0), -deg(a1 - a0));
    path.lineTo(c + QPointF(std::cos(a1), std::sin(a1)) * 38);
    path.arcTo(QRectF(67, 67, 76, 76), -deg(a1), deg(a1 - a0));
    path.closeSubpath();
    return path;
}

} // namespace

void TourScene::buildWheel(tour::Layer& stage) {
    const double t0 = now();
    const QRectF picture(50, 95, 130, 90);
    stage.addSublayer(glassTile(picture, 0.08, false));

    // The wheel key's cap: 46 points wide unless its word needs more; it grows to the right.
    const QFont capFont = UI::font(16, QFont::Medium);
    const QString word = settings ? FormatWheel::modifierSymbol(*settings) : FormatWheel::modifierSymbol();
    const double capWidth = std::max(46.0, std::ceil(QFontMetricsF(capFont).horizontalAdvance(word)) + 12);
    LayerPtr keycap = scene::box({50, 205, capWidth, 32}, scene::white(0.12), 7);
    keycap->model.borderWidth = 1;
    keycap->model.borderColor = scene::white(0.2);
    keycap->addSublayer(scene::text(word, {0, 5, capWidth, 22}, capFont, 16, Qt::white));
    stage.addSublayer(keycap);

    LayerPtr wheel = Layer::make();
    wheel->setFrame({255, 45, 210, 210});
    wheel->model.opacity = 0;
    const QStringList formats = {QStringLiteral("JPEG"), QStringLiteral("HEIC"), QStringLiteral("WebP"),
                                 QStringLiteral("TIFF"), QStringLiteral("PDF"),  QStringLiteral("Compress")};
    const QFont labelFont = UI::font(11, QFont::DemiBold);
    LayerPtr jpegSegment, jpegLabel;
    for (int i = 0; i < 6; ++i) {
        LayerPtr segment = Layer::make(Layer::Type::shape);
        segment->path = sector(pi / 2 + 2 * pi * i / 6 + 0.03, pi / 2 + 2 * pi * (i + 1) / 6 - 0.03);
        segment->model.fillColor = glass;
        segment->model.strokeColor = scene::white(0.12);
        segment->model.lineWidth = 1;
        wheel->addSublayer(segment);
        const double m = pi / 2 + 2 * pi * (i + 0.5) / 6;
        const QPointF at(105 + 70 * std::cos(m), 105 + 70 * std::sin(m));
        LayerPtr name = scene::text(formats.at(i), {at.x() - 30, at.y() - 7, 60, 14}, labelFont, 11, Qt::white);
        wheel->addSublayer(name);
        if (i == 0) {
            jpegSegment = segment;
            jpegLabel = name;
        }
    }
    wheel->addSublayer(scene::text(QStringLiteral("PNG"), {75, 100, 60, 14}, UI::font(11, QFont::Bold), 11, Qt::white));
    stage.addSublayer(wheel);

    LayerPtr copy = glassTile(picture, 0.08, false);
    copy->model.opacity = 0;
    stage.addSublayer(copy);
    LayerPtr pointer = cursor({110, 140});
    stage.addSublayer(pointer);

    // The "JPEG" label's centre: the wheel's centre plus 70 points at 120°.
    const QPointF drop(360 + 70 * std::cos(2 * pi / 3), 150 + 70 * std::sin(2 * pi / 3));
    const double period = 4;
    const QColor dim = scene::white(0.12);
    scene::loop(*keycap, QStringLiteral("backgroundColor"), {dim, dim, sage, sage, dim}, {0, 0.12, 0.18, 0.8, 1},
                period, t0);
    const QPointF tip(110, 140), centre(115, 140);
    scene::loop(*pointer, QStringLiteral("position"), {tip, tip, drop, drop, tip}, {0, 0.15, 0.55, 0.78, 1}, period,
                t0);
    scene::loop(*copy, QStringLiteral("position"), {centre, centre, drop, drop, centre}, {0, 0.15, 0.55, 0.78, 1},
                period, t0);
    scene::loop(*copy, QStringLiteral("opacity"), {0.0, 0.0, 0.9, 0.9, 0.0, 0.0}, {0, 0.15, 0.2, 0.76, 0.8, 1}, period,
                t0);
    scene::loop(*wheel, QStringLiteral("opacity"), {0.0, 0.0, 1.0, 1.0, 0.0, 0.0}, {0, 0.18, 0.26, 0.78, 0.84, 1},
                period, t0);
    scene::loop(*wheel, QStringLiteral("transform.scale"), {0.6, 0.6, 1.0, 1.0, 0.6, 0.6},
                {0, 0.18, 0.3, 0.78, 0.84, 1}, period, t0);
    scene::loop(*jpegSegment, QStringLiteral("fillColor"), {glass, glass, sage, sage, glass, glass},
                {0, 0.5, 0.56, 0.78, 0.82, 1}, period, t0);
    const QColor on = UI::onAccent();
    const QColor white = Qt::white;
    scene::loop(*jpegLabel, QStringLiteral("foregroundColor"), {white, white, on, on, white, white},
                {0, 0.5, 0.56, 0.78, 0.82, 1}, period, t0);
}

void TourScene::buildPermissions(tour::Layer& stage) {
    const double t0 = now();
    // From the fixed stage, not from whatever bounds the stage has while it is built.
    const double cx = stageWidth / 2, cy = stageHeight / 2 + 8;

    LayerPtr glow = Layer::make(Layer::Type::gradient);
    glow->radial = true;
    glow->colors = {scene::withAlpha(UI::accent(), 0.38), scene::withAlpha(UI::accent(), 0)};
    glow->startPoint = {0.5, 0.5};
    glow->endPoint = {1, 1};
    glow->model.bounds = QRectF(0, 0, 300, 300);
    glow->model.position = {cx, cy};
    stage.addSublayer(glow);

    const struct {
        const char* symbol;
        double dx;
        double delay;
    } rows[] = {{"record.circle", -150, 0.8}, {"hand.point.up.left", 150, 1.4}};
    for (const auto& row : rows) {
        LayerPtr connector = Layer::make(Layer::Type::shape);
        QPainterPath line;
        line.moveTo(cx + 0.36 * row.dx, cy);
        line.lineTo(cx + 0.9 * row.dx, cy);
        connector->path = line;
        connector->model.strokeColor = scene::white(0.25);
        connector->model.lineWidth = 1.5;
        connector->lineDashPattern = {3, 5};
        connector->model.fillColor = QColor();
        stage.addSublayer(connector);

        LayerPtr tile = Layer::make();
        tile->model.bounds = QRectF(0, 0, 64, 64);
        tile->model.position = {cx + row.dx, cy};
        tile->model.cornerRadius = 18;
        tile->model.shadowColor = Qt::black;
        tile->model.shadowOpacity = 0.4;
        tile->model.shadowRadius = 12;
        tile->model.shadowOffset = {0, -6};
        LayerPtr face = Layer::make(Layer::Type::gradient);
        face->setFrame({0, 0, 64, 64});
        face->model.cornerRadius = 18;
        face->colors = {scene::white(0.22), scene::white(0.06)};
        face->startPoint = {0.1, 1};
        face->endPoint = {0.9, 0};
        face->model.borderWidth = 1;
        face->model.borderColor = scene::white(0.35);
        tile->addSublayer(face);
        LayerPtr symbol = icon(QString::fromLatin1(row.symbol), 26, Qt::white);
        symbol->model.position = {32, 32};
        tile->addSublayer(symbol);
        LayerPtr badge = Layer::make();
        badge->model.bounds = QRectF(0, 0, 22, 22);
        badge->model.position = {56, 56};
        badge->model.backgroundColor = sage;
        badge->model.cornerRadius = 11;
        badge->model.borderWidth = 2;
        badge->model.borderColor = QColor::fromRgbF(0.1f, 0.11f, 0.11f, 1);
        LayerPtr tick = icon(QStringLiteral("checkmark"), 11, UI::onAccent());
        tick->model.position = {11, 11};
        badge->addSublayer(tick);
        tile->addSublayer(badge);

        Animation pop = Animation::spring(QStringLiteral("transform.scale"), 0.0, 1.0, 1, 160, 11);
        pop.beginTime = t0 + row.delay;
        pop.fillBackwards = true;
        badge->addAnimation(QStringLiteral("pop"), pop, t0);
        tile->addAnimation(QStringLiteral("bob"),
                           scene::swing(QStringLiteral("position.y"), {}, {}, 6.0, row.delay + 3.2), t0);
        stage.addSublayer(tile);
    }

    LayerPtr privacy = Layer::make();
    privacy->model.bounds = QRectF(0, 0, 250, 250);
    privacy->model.position = {cx, cy + 4};
    privacy->contents = tourImage(QStringLiteral("privacy"));
    privacy->contentsGravity = Layer::Gravity::resizeAspect;
    LayerPtr fade = Layer::make(Layer::Type::gradient);
    fade->setFrame({0, 0, 250, 250});
    fade->colors = {Qt::black, Qt::black, Qt::transparent};
    fade->locations = {0, 0.62, 0.94};
    privacy->mask = fade;
    stage.addSublayer(privacy);
    privacy->addAnimation(QStringLiteral("breathe"),
                          scene::swing(QStringLiteral("transform.scale"), 1.0, 1.035, {}, 2.6), t0);
}
