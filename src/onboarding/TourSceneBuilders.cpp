// The tour's storyboard scenes: a window picked and turned into a card, a slice dragged out, the
// card's tools named one by one, a new shot arriving in the basket and the latest shot held up over
// a chat. Each loops for ever over its own period. (The welcome, wheel and permissions scenes live
// in files of their own.)

#include "onboarding/SceneLoops.h"
#include "onboarding/TourScene.h"
#include "platform/Defaults.h"
#include "shortcuts/Shortcut.h"
#include "ui/UI.h"

using tour::Layer;
using tour::LayerPtr;
using tour::Value;

namespace {

// The six tools the small cards of the scenes show, whatever the user's own order.
QStringList cardTools() {
    return {QStringLiteral("pencil.and.outline"), QStringLiteral("crop"),
            QStringLiteral("text.viewfinder"),    QStringLiteral("pin"),
            QStringLiteral("character.bubble"),   QStringLiteral("square.and.arrow.up")};
}

// The dark panel of the basket and the chat window.
LayerPtr panel(const QRectF& frame) {
    LayerPtr layer = scene::box(frame, QColor::fromRgbF(0.13f, 0.135f, 0.14f, 1), 14);
    layer->model.borderWidth = 1;
    layer->model.borderColor = scene::white(0.1);
    layer->model.shadowOpacity = 0.4;
    layer->model.shadowRadius = 16;
    layer->model.shadowOffset = {0, -6};
    return layer;
}

} // namespace

void TourScene::buildPick(tour::Layer& stage) {
    const double t0 = now();
    stage.addSublayer(scene::box({0, 286, 544, 14}, scene::white(0.06)));
    stage.addSublayer(scene::box({182, 8, 180, 18}, scene::white(0.06), 9));
    stage.addSublayer(glassTile({40, 70, 200, 150}, 0.08, false));
    stage.addSublayer(glassTile({330, 110, 190, 140}, 0.33, true));
    stage.addSublayer(glassTile({170, 50, 240, 180}, 0.58, true));

    LayerPtr ring = scene::box({166, 46, 248, 188}, {}, 12);
    ring->model.borderWidth = 2.5;
    ring->model.borderColor = sage;
    ring->model.opacity = 0;
    stage.addSublayer(ring);

    LayerPtr veil = scene::box({0, 0, 544, 300}, scene::black(0.45));
    veil->model.opacity = 0;
    stage.addSublayer(veil);

    LayerPtr card = Layer::make();
    card->model.bounds = QRectF(0, 0, 200, 170);
    card->model.position = {290, 140};
    card->model.opacity = 0;
    card->addSublayer(glassTile({20, 52, 160, 108}, 0.58, true));
    LayerPtr bar = pill(200, 34, std::nullopt, cardTools()).first;
    bar->setFrame(QRectF(QPointF(0, 6), bar->frame().size()));
    card->addSublayer(bar);
    stage.addSublayer(card);

    LayerPtr flash = scene::box({0, 0, 544, 300}, Qt::white);
    flash->model.opacity = 0;
    stage.addSublayer(flash);

    LayerPtr pointer = cursor({90, 110});
    stage.addSublayer(pointer);

    const double period = 4;
    const QPointF rest(90, 110), target(290, 150);
    scene::loop(*pointer, QStringLiteral("position"), {rest, target, target, rest}, {0, 0.28, 0.94, 1}, period, t0);
    scene::loop(*ring, QStringLiteral("opacity"), {0.0, 0.0, 1.0, 1.0, 0.0, 0.0}, {0, 0.28, 0.33, 0.46, 0.5, 1}, period,
                t0);
    scene::loop(*flash, QStringLiteral("opacity"), {0.0, 0.0, 0.55, 0.0, 0.0}, {0, 0.46, 0.48, 0.54, 1}, period, t0);
    scene::loop(*veil, QStringLiteral("opacity"), {0.0, 0.0, 1.0, 1.0, 0.0}, {0, 0.48, 0.54, 0.9, 1}, period, t0);
    scene::loop(*card, QStringLiteral("opacity"), {0.0, 0.0, 1.0, 1.0, 0.0}, {0, 0.48, 0.54, 0.9, 1}, period, t0);
    scene::loop(*card, QStringLiteral("transform.scale"), {0.6, 0.6, 1.05, 1.0, 1.0, 0.6}, {0, 0.48, 0.54, 0.6, 0.9, 1},
                period, t0);
}

void TourScene::buildSlice(tour::Layer& stage) {
    const double t0 = now();
    // The selection S, and the window it is cut from.
    const QRectF S(130, 110, 260, 120);
    const QRectF window(70, 40, 420, 220);
    stage.addSublayer(glassTile(window, 0.58, false));

    LayerPtr veil = scene::box({0, 0, 544, 300}, scene::black(0.35));
    veil->model.opacity = 0;
    stage.addSublayer(veil);

    // Anchored at its top-left corner, so growing its bounds drags it down and to the right.
    const QPointF topLeft(S.left(), S.bottom()); // y-up: bottom() is the larger y
    LayerPtr selection = Layer::make();
    selection->model.anchorPoint = {0, 1};
    selection->model.position = topLeft;
    selection->model.bounds = QRectF();
    selection->model.backgroundColor = scene::white(0.08);
    selection->model.borderWidth = 2;
    selection->model.borderColor = sage;
    stage.addSublayer(selection);

    LayerPtr crosshair = Layer::make(Layer::Type::shape);
    QPainterPath cross;
    cross.moveTo(-14, 0);
    cross.lineTo(14, 0);
    cross.moveTo(0, -14);
    cross.lineTo(0, 14);
    crosshair->path = cross;
    crosshair->model.position = topLeft;
    crosshair->model.fillColor = QColor();
    crosshair->model.strokeColor = Qt::white;
    crosshair->model.lineWidth = 1.5;
    crosshair->model.shadowOpacity = 0.6;
    crosshair->model.shadowRadius = 2;
    stage.addSublayer(crosshair);

    LayerPtr card = Layer::make();
    card->model.bounds = QRectF(0, 0, 200, 150);
    card->model.position = {S.right() - 10, S.top() + 10};
    card->model.opacity = 0;
    LayerPtr piece = scene::box({20, 46, 160, 74}, {}, 6);
    piece->masksToBounds = true;
    piece->model.shadowOpacity = 0.5;
    piece->model.shadowRadius = 10;
    // A copy of the window, scaled and shifted so the part under S fills the piece exactly.
    LayerPtr copy = glassTile({0, 0, window.width(), window.height()}, 0.58, false);
    copy->model.shadowOpacity = 0;
    copy->model.anchorPoint = {0, 0};
    const double sx = 160 / S.width(), sy = 74 / S.height();
    copy->model.transform.sx = sx;
    copy->model.transform.sy = sy;
    copy->model.position = {-(S.left() - window.left()) * sx, -(S.top() - window.top()) * sy};
    piece->addSublayer(copy);
    card->addSublayer(piece);
    LayerPtr bar = pill(200, 34, std::nullopt, cardTools()).first;
    bar->setFrame(QRectF(QPointF(0, 4), bar->frame().size()));
    card->addSublayer(bar);
    stage.addSublayer(card);

    const double period = 4.2;
    const QPointF corner(S.right(), S.top());
    scene::loop(*veil, QStringLiteral("opacity"), {0.0, 1.0, 1.0, 0.0, 0.0}, {0, 0.08, 0.5, 0.56, 1}, period, t0);
    scene::loop(*crosshair, QStringLiteral("position"), {topLeft, topLeft, corner, corner, topLeft},
                {0, 0.12, 0.48, 0.56, 1}, period, t0);
    scene::loop(*crosshair, QStringLiteral("opacity"), {1.0, 1.0, 1.0, 0.0, 0.0, 1.0}, {0, 0.12, 0.5, 0.56, 0.95, 1},
                period, t0);
    const QRectF none, full(0, 0, S.width(), S.height());
    scene::loop(*selection, QStringLiteral("bounds"), {none, none, full, full, none}, {0, 0.12, 0.48, 0.56, 1}, period,
                t0);
    scene::loop(*card, QStringLiteral("opacity"), {0.0, 0.0, 1.0, 1.0, 0.0}, {0, 0.56, 0.62, 0.92, 1}, period, t0);
    scene::loop(*card, QStringLiteral("transform.scale"), {0.6, 0.6, 1.05, 1.0, 1.0, 0.6},
                {0, 0.56, 0.62, 0.68, 0.92, 1}, period, t0);
}

void TourScene::buildCard(tour::Layer& stage) {
    const double t0 = now();
    const QStringList names = toolNames();
    stage.addSublayer(glassTile({160, 100, 240, 160}, 0.58, true));
    auto [bar, centres] = pill(440, 38);
    bar->setFrame({60, 40, 440, 38});
    stage.addSublayer(bar);
    LayerPtr plate = scene::box({0, 7, 26, 24}, sage, 8);
    plate->model.opacity = 0.9;
    bar->insertSublayer(plate, 0);
    // The catalogue gives as many symbols as titles; a shorter list of either bounds the walk.
    const qsizetype n = std::min(names.size(), centres.size());
    if (n == 0)
        return;
    LayerPtr pointer = cursor({60 + centres.first() + 6, 52});
    stage.addSublayer(pointer);
    // The chip keeps the width the first title gives it; longer titles are cut with an ellipsis.
    LayerPtr caption = label(names.first(), {0, 92}, 130);
    stage.addSublayer(caption);

    QList<Value> tips, plates, chips, titles;
    QList<double> times;
    for (qsizetype i = 0; i <= n; ++i) {
        const qsizetype tool = i % n;
        tips.append(QPointF(60 + centres.at(tool) + 6, 52));
        plates.append(centres.at(tool));
        chips.append(60 + centres.at(tool));
        titles.append(names.at(tool));
        times.append(double(i) / double(n));
    }
    const double period = 0.7 * double(n);
    scene::loop(*pointer, QStringLiteral("position"), tips, times, period, t0);
    scene::loop(*plate, QStringLiteral("position.x"), plates, times, period, t0);
    scene::loop(*caption, QStringLiteral("position.x"), chips, times, period, t0);
    if (!caption->sublayers().isEmpty()) {
        Layer& words = *caption->sublayers().first();
        tour::Animation a = tour::Animation::keyframes(QStringLiteral("string"), titles, times, period);
        a.repeatCount = tour::repeatForever;
        a.discrete = true;
        words.addAnimation(QStringLiteral("string.tour"), a, t0);
    }
}

void TourScene::buildBasket(tour::Layer& stage) {
    const double t0 = now();
    LayerPtr basket = panel({60, 20, 440, 260});
    stage.addSublayer(basket);

    LayerPtr mark = scene::box({14, 222, 20, 20});
    mark->contents = TourKit::artwork(QStringLiteral(":/CrestMark"));
    mark->contentsGravity = Layer::Gravity::resizeAspect;
    basket->addSublayer(mark);

    const QFont tabFont = UI::font(11, QFont::DemiBold);
    LayerPtr tab = scene::box({42, 218, 92, 26}, sage, 13);
    tab->addSublayer(scene::text(QStringLiteral("Screenshots"), {0, 6, 92, 14}, tabFont, 11, UI::onAccent()));
    basket->addSublayer(tab);
    basket->addSublayer(scene::text(QStringLiteral("Recent images"), {146, 224, 100, 14}, tabFont, 11,
                                    scene::white(0.8), Qt::AlignLeft));

    const double hues[] = {0.58, 0.08, 0.33, 0.75, 0, 0.5};
    QList<LayerPtr> tiles;
    for (int i = 0; i < 6; ++i) {
        const int col = i % 3, row = i / 3;
        LayerPtr tile = glassTile({14.0 + 140 * col, 110.0 - 96 * row, 128, 82}, hues[i], i % 2 == 1);
        tile->model.shadowOpacity = 0.25;
        basket->addSublayer(tile);
        tiles.append(tile);
        LayerPtr badge = label(QStringLiteral("PNG"), {104, 14}, 0);
        badge->setFrame({88, 6, 36, 16});
        if (!badge->sublayers().isEmpty() && badge->sublayers().first()->type == Layer::Type::text) {
            badge->sublayers().first()->setFrame({0, 2, 36, 12});
            badge->sublayers().first()->model.fontSize = 9;
        }
        tile->addSublayer(badge);
    }
    LayerPtr fresh = tiles.first();
    fresh->model.opacity = 0;
    const QRectF slot = fresh->frame();

    LayerPtr ring = scene::box(slot.adjusted(-3, -3, 3, 3), {}, 11);
    ring->model.borderWidth = 2;
    ring->model.borderColor = sage;
    ring->model.opacity = 0;
    basket->addSublayer(ring);

    LayerPtr sparkles = icon(QStringLiteral("sparkles"), 14, UI::accent());
    sparkles->model.position = {slot.left() + 14, slot.bottom() - 14}; // y-up: bottom() is max-y
    sparkles->model.opacity = 0;
    basket->addSublayer(sparkles);

    const double period = 3.2;
    scene::loop(*fresh, QStringLiteral("opacity"), {0.0, 0.0, 1.0, 1.0, 1.0}, {0, 0.3, 0.38, 0.95, 1}, period, t0);
    scene::loop(*fresh, QStringLiteral("transform.scale"), {0.85, 0.85, 1.04, 1.0, 1.0}, {0, 0.3, 0.38, 0.48, 1},
                period, t0);
    scene::loop(*ring, QStringLiteral("opacity"), {0.0, 0.0, 1.0, 0.0, 0.0}, {0, 0.34, 0.42, 0.85, 1}, period, t0);
    scene::loop(*sparkles, QStringLiteral("opacity"), {0.0, 0.0, 1.0, 1.0, 0.0, 0.0}, {0, 0.36, 0.42, 0.7, 0.85, 1},
                period, t0);
}

void TourScene::buildLatest(tour::Layer& stage) {
    const double t0 = now();
    LayerPtr chat = panel({80, 30, 384, 240});
    chat->addSublayer(scene::box({20, 196, 190, 30}, scene::white(0.1), 12));
    LayerPtr outgoing = scene::box({214, 150, 150, 30}, sage, 12);
    outgoing->model.opacity = 0.55;
    chat->addSublayer(outgoing);
    chat->addSublayer(scene::box({20, 106, 210, 30}, scene::white(0.1), 12));
    LayerPtr compose = scene::box({16, 16, 352, 52}, scene::white(0.06), 14);
    compose->model.borderWidth = 1;
    compose->model.borderColor = scene::white(0.14);
    compose->addSublayer(scene::text(QStringLiteral("Message…"), {16, 18, 200, 16}, UI::font(12, QFont::Medium), 12,
                                     scene::white(0.4), Qt::AlignLeft));
    chat->addSublayer(compose);
    stage.addSublayer(chat);

    LayerPtr veil = scene::box(chat->frame(), scene::black(0.5), 14);
    veil->model.opacity = 0;
    stage.addSublayer(veil);

    LayerPtr card = Layer::make();
    card->setFrame({0, 0, 200, 170});
    card->model.position = {272, 150};
    card->model.opacity = 0;
    card->addSublayer(glassTile({20, 52, 160, 108}, 0.58, true));
    LayerPtr bar = pill(200, 34, std::nullopt, cardTools()).first;
    bar->setFrame(QRectF(QPointF(0, 6), bar->frame().size()));
    card->addSublayer(bar);
    stage.addSublayer(card);

    const Shortcut fallback{1, Shortcut::command | Shortcut::shift, QStringLiteral("S")};
    const Shortcut library = settings ? Shortcut::load(QStringLiteral("library"), fallback, *settings)
                                      : Shortcut::load(QStringLiteral("library"), fallback);
    LayerPtr chip = label(library.display() + QStringLiteral("  ·  hold"), {272, 282}, 120);
    stage.addSublayer(chip);

    const double period = 6;
    scene::loop(*chip, QStringLiteral("backgroundColor"), {glass, glass, sage, sage, glass, glass},
                {0, 0.08, 0.14, 0.9, 0.95, 1}, period, t0);
    scene::loop(*veil, QStringLiteral("opacity"), {0.0, 0.0, 1.0, 1.0, 0.0, 0.0}, {0, 0.2, 0.3, 0.9, 0.96, 1}, period,
                t0);
    scene::loop(*card, QStringLiteral("opacity"), {0.0, 0.0, 1.0, 1.0, 0.0, 0.0}, {0, 0.22, 0.3, 0.9, 0.96, 1}, period,
                t0);
    scene::loop(*card, QStringLiteral("transform.scale"), {0.6, 0.6, 1.05, 1.0, 1.0, 0.6}, {0, 0.22, 0.3, 0.36, 0.9, 1},
                period, t0);
}
