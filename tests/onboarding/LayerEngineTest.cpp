#include "onboarding/Layer.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace tour;

namespace {

double number(const Props& p, const char* path) {
    return std::get<double>(get(p, QString::fromLatin1(path)));
}

// One layer with an opacity of 0.5 and the given animations added at t = 10.
Props at(const QList<Animation>& animations, double t, double now = 10) {
    Layer layer;
    layer.model.opacity = 0.5;
    int i = 0;
    for (const Animation& a : animations)
        layer.addAnimation(QString::number(i++), a, now);
    return presentation(layer, t);
}

Animation fade(double from, double to, double duration) {
    return Animation::basic(QStringLiteral("opacity"), from, to, duration);
}

} // namespace

TEST(LayerEngine, TimingRulesOfOneBasicAnimation) {
    const Animation plain = fade(0, 1, 2);
    Animation held = plain, late = plain, kept = plain, bounce = plain, eased = plain;
    held.beginTime = late.beginTime = 12;
    held.fillBackwards = kept.fillForwards = bounce.autoreverses = true;
    bounce.repeatCount = 2;
    eased.timing = Easing::easeInEaseOut();
    const Animation unset = fade(0, 1, 0); // a quarter second

    const struct {
        const char* name;
        Animation animation;
        double t;
        double expected;
    } cases[] = {
        {"no timing function is linear", plain, 10.5, 0.25},
        {"after the end the model shows again", plain, 12.5, 0.5},
        {"before the begin without fill the model shows", late, 11, 0.5},
        {"backwards fill holds the first value", held, 11, 0.0},
        {"forwards fill holds the last value", kept, 30, 1.0},
        {"autoreverse runs back", bounce, 13.5, 0.25},
        {"autoreverse repeats", bounce, 14.5, 0.25},
        {"all repeats over", bounce, 18.1, 0.5},
        {"ease in and out is symmetric", eased, 11, 0.5},
        {"ease in and out starts slowly", eased, 10.2, 0.0},
        {"no duration is a quarter second", unset, 10.125, 0.5},
    };
    for (const auto& c : cases) {
        const double got = number(at({c.animation}, c.t), "opacity");
        if (std::string(c.name) == "ease in and out starts slowly")
            EXPECT_LT(got, 0.05) << c.name;
        else
            EXPECT_NEAR(got, c.expected, 1e-3) << c.name;
    }
}

TEST(LayerEngine, LaterAnimationsWinAndAdditiveOnesAdd) {
    EXPECT_NEAR(number(at({fade(0, 0, 10), fade(1, 1, 10)}, 11), "opacity"), 1.0, 1e-9);
    EXPECT_NEAR(number(at({fade(1, 1, 10), fade(0, 0, 10)}, 11), "opacity"), 0.0, 1e-9);

    Animation lift = fade(0.1, 0.1, 10);
    lift.additive = true;
    EXPECT_NEAR(number(at({lift}, 11), "opacity"), 0.6, 1e-9) << "adds to the model";
    EXPECT_NEAR(number(at({fade(0.2, 0.2, 10), lift}, 11), "opacity"), 0.3, 1e-9) << "adds to what came before";

    // Only "by": from the current value onwards.
    Animation by;
    by.keyPath = QStringLiteral("opacity");
    by.by = 0.4;
    by.duration = 1;
    EXPECT_NEAR(number(at({by}, 10.5), "opacity"), 0.7, 1e-9);
    // Only "to": from the current value to it.
    Animation to;
    to.keyPath = QStringLiteral("opacity");
    to.to = 1.0;
    to.duration = 1;
    EXPECT_NEAR(number(at({to}, 10.5), "opacity"), 0.75, 1e-9);

    // Replacing a key moves it last, so it wins over those added since; a begin time of zero means now.
    Layer layer;
    layer.addAnimation(QStringLiteral("a"), fade(0, 0, 10), 3);
    layer.addAnimation(QStringLiteral("b"), fade(1, 1, 10), 3);
    layer.addAnimation(QStringLiteral("a"), fade(0.25, 0.25, 10), 3);
    ASSERT_EQ(layer.animations().size(), 2);
    EXPECT_DOUBLE_EQ(layer.animation(QStringLiteral("a"))->beginTime, 3);
    EXPECT_DOUBLE_EQ(presentation(layer, 4).opacity, 0.25);
}

TEST(LayerEngine, ScaleAndPositionAnimateWithoutDisturbingTheRotation) {
    Layer layer;
    layer.model.position = {100, 50};
    layer.model.transform = Transform::rotated(0.3);
    layer.addAnimation(QStringLiteral("s"), Animation::basic(QStringLiteral("transform.scale"), 0.0, 2.0, 1), 1);
    layer.addAnimation(QStringLiteral("x"), Animation::basic(QStringLiteral("position.x"), 0.0, 20.0, 1), 1);
    Animation rise = Animation::basic(QStringLiteral("position.y"), -14.0, 0.0, 1);
    rise.additive = true;
    layer.addAnimation(QStringLiteral("y"), rise, 1);

    const Props p = presentation(layer, 1.5);
    EXPECT_DOUBLE_EQ(p.transform.sx, 1.0);
    EXPECT_DOUBLE_EQ(p.transform.sy, 1.0);
    EXPECT_DOUBLE_EQ(p.transform.rotation, 0.3);
    EXPECT_DOUBLE_EQ(p.position.x(), 10.0);
    EXPECT_DOUBLE_EQ(p.position.y(), 43.0);
    // The model is untouched.
    EXPECT_EQ(layer.model.transform, Transform::rotated(0.3));
}

TEST(LayerEngine, GroupMembersCountFromTheGroupAndFillItsDuration) {
    Animation spans = fade(0, 1, 0);
    Animation later = Animation::basic(QStringLiteral("position.x"), 0.0, 10.0, 1);
    later.beginTime = 2;
    Animation group = Animation::group({spans, later}, 4);
    group.repeatCount = repeatForever;

    Layer layer;
    layer.addAnimation(QStringLiteral("g"), group, 100);
    EXPECT_NEAR(presentation(layer, 102).opacity, 0.5, 1e-9) << "a member without duration spans the group";
    EXPECT_NEAR(presentation(layer, 102.5).position.x(), 5, 1e-9) << "begin time counts from the group's start";
    EXPECT_NEAR(presentation(layer, 101).position.x(), 0, 1e-9) << "not yet begun";
    EXPECT_NEAR(presentation(layer, 106.5).position.x(), 5, 1e-9) << "the group repeats";
    EXPECT_NEAR(presentation(layer, 99).opacity, 1, 1e-9) << "nothing before the group begins";

    // A group's timing function bends the time its members see.
    Layer ring;
    ring.model.opacity = 0;
    Animation eased = Animation::group({fade(0, 1, 0)}, 2);
    eased.timing = Easing::easeOut();
    ring.addAnimation(QStringLiteral("g"), eased, 10);
    EXPECT_NEAR(presentation(ring, 11).opacity, Easing::easeOut()(0.5), 1e-9);
}

TEST(LayerEngine, KeyframesEaseEachSegmentOrJump) {
    Animation frames = Animation::keyframes(QStringLiteral("position.x"), {0.0, 10.0, 30.0}, {0, 0.5, 1}, 2);
    frames.timingFunctions = {Easing::linear(), Easing::easeInEaseOut()};
    Layer layer;
    layer.addAnimation(QStringLiteral("k"), frames, 1);
    EXPECT_NEAR(presentation(layer, 1.5).position.x(), 5, 1e-9);
    EXPECT_NEAR(presentation(layer, 2.5).position.x(), 20, 1e-6) << "the middle of an eased segment";
    EXPECT_LT(presentation(layer, 2.1).position.x(), 12) << "an eased segment starts slowly";

    Animation caption =
        Animation::keyframes(QStringLiteral("string"), {QStringLiteral("A"), QStringLiteral("B")}, {0, 0.5, 1}, 2);
    caption.discrete = true;
    Layer text(Layer::Type::text);
    text.addAnimation(QStringLiteral("c"), caption, 1);
    EXPECT_EQ(presentation(text, 1.9).string, QStringLiteral("A"));
    EXPECT_EQ(presentation(text, 2.1).string, QStringLiteral("B"));

    // Key times that do not match the values are spread evenly.
    Animation uneven = Animation::keyframes(QStringLiteral("position.x"), {0.0, 10.0, 20.0}, {0, 1}, 2);
    Layer spread;
    spread.addAnimation(QStringLiteral("u"), uneven, 1);
    EXPECT_NEAR(presentation(spread, 2.5).position.x(), 15, 1e-9);
}

TEST(LayerEngine, SpringsOvershootAndSettle) {
    const Animation pop = Animation::spring(QStringLiteral("transform.scale"), 0.2, 1.0, 1, 110, 11);
    // zeta = 11 / (2 sqrt 110), the envelope exp(-zeta w0 t) = exp(-5.5 t) reaches 0.001 at ln 1000 / 5.5.
    EXPECT_NEAR(pop.settlingDuration(), std::log(1000.0) / 5.5, 1e-9);
    EXPECT_DOUBLE_EQ(pop.duration, pop.settlingDuration());

    double peak = 0;
    for (double t = 0; t < pop.settlingDuration(); t += 0.01)
        peak = std::max(peak, pop.springFraction(t));
    EXPECT_GT(peak, 1.1) << "an underdamped spring overshoots";
    EXPECT_DOUBLE_EQ(pop.springFraction(pop.settlingDuration()), 1.0);

    Animation held = pop;
    held.beginTime = 5;
    held.fillBackwards = true;
    Layer layer;
    layer.addAnimation(QStringLiteral("pop"), held, 1);
    EXPECT_DOUBLE_EQ(presentation(layer, 2).transform.sx, 0.2) << "held at the start before it begins";
    EXPECT_DOUBLE_EQ(presentation(layer, 5 + pop.duration + 1).transform.sx, 1.0) << "the model after the end";

    const Animation stiff = Animation::spring(QStringLiteral("opacity"), 0.0, 1.0, 1, 100, 40);
    for (double t = 0; t < stiff.settlingDuration(); t += 0.01)
        ASSERT_LE(stiff.springFraction(t), 1.0 + 1e-9) << "an overdamped spring never overshoots";
}

TEST(LayerEngine, KeyPathsReadAndWriteTheirTypesOnly) {
    Props p;
    EXPECT_TRUE(set(p, QStringLiteral("backgroundColor"), QColor(Qt::red)));
    EXPECT_FALSE(set(p, QStringLiteral("backgroundColor"), 1.0)) << "a number is no colour";
    EXPECT_FALSE(set(p, QStringLiteral("nonsense"), 1.0));
    EXPECT_TRUE(std::holds_alternative<std::monostate>(get(p, QStringLiteral("nonsense"))));
}
