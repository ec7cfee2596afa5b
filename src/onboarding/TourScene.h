#pragma once
// The animated illustration at the top of every tour page: a drifting glow and a 544 × 300 stage,
// scaled to fit and centred, on which the scene of the current kind is built from layers. Layers a
// scene registers follow the pointer a little. The view ticks 20 to 30 times a second only while it is shown, and
// paints again only the parts that moved.

#include "onboarding/LayerDamage.h"
#include "onboarding/LayerRenderer.h"
#include "onboarding/TourKit.h"

#include <QImage>
#include <QList>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <utility>

class Defaults;

class TourScene : public QWidget {
    Q_OBJECT
public:
    enum class Kind { welcome, pick, slice, card, basket, latest, wheel, permissions };
    static constexpr double stageWidth = 544;
    static constexpr double stageHeight = 300;

    // clock gives the media time in seconds; the steady clock when none is given.
    explicit TourScene(QWidget* parent = nullptr, std::function<double()> clock = {});

    Kind kind = Kind::pick;
    // The accent, for highlights and buttons, and the dark fill of pills and caption chips.
    const QColor sage = TourKit::sage();
    const QColor glass = TourKit::glass();

    // Where the scenes read the basket's shortcut and the wheel key; the standard store by default.
    void setDefaults(const Defaults& store) { settings = &store; }

    // Throws the old tree away and builds the glow, the stage and the scene of kind anew; every
    // animation starts over.
    void rebuild();

    // The page fade of the panel, multiplied into everything the scene paints.
    void setFade(double alpha);
    double fade() const { return fadeAlpha; }
    // Rounds the corners of what the scene paints (the card it sits in is rounded).
    void setCornerRadius(double radius);
    // What lies under the view, at its size and pixel ratio. With it the view paints opaquely and
    // nothing behind it is repainted on every frame.
    void setBackdrop(const QImage& image);

    // The tree under the view's own layer, and the stage of the current scene.
    const tour::Layer& backing() const { return *root; }
    tour::LayerPtr stage() const { return stageLayer; }
    // The pointer-follow offset at time t, each axis between -0.5 and 0.5.
    QPointF shiftAt(double t) const;
    // Layers registered to follow the pointer, with their travel in points.
    const QList<std::pair<tour::LayerPtr, double>>& parallaxLayers() const { return parallax; }
    bool ticking() const { return ticker.isActive(); }

    // Paints the scene at media time t (for tests and benchmarks; the view paints at the clock's time).
    void render(QPainter& painter, double t);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    // Paints into `frame` what changed by time t: the scene with its corners rounded, faded, over the
    // backdrop when there is one. Gives the part painted, in the view's points; nothing when nothing moved.
    QRegion composeFrame(double t);
    QRegion composeOffThread(double t);
    // One frame of the ticker: what changed is painted and shown.
    void tick();
    // Moves the registered layers to where the pointer has them at time t.
    void followPointer(double t);
    // Moves the registered layers towards dx, dy (fractions of the view, 0 in the centre) in 0.35 s.
    void shift(double dx, double dy);

    // The kit, for the builders; animations they add count from the rebuild's time.
    double now() const { return kit.now; }
    tour::LayerPtr glassTile(const QRectF& rect, double hue, bool flip) const { return kit.glassTile(rect, hue, flip); }
    std::pair<tour::LayerPtr, QList<double>> pill(double width, double height, std::optional<int> highlight = {},
                                                  std::optional<QStringList> icons = {}) const {
        return kit.pill(width, height, highlight, std::move(icons));
    }
    tour::LayerPtr label(const QString& text, const QPointF& at, double minWidth) const {
        return kit.label(text, at, minWidth);
    }
    tour::LayerPtr icon(const QString& symbol, double size, const QColor& colour) const {
        return kit.icon(symbol, size, colour);
    }
    tour::LayerPtr cursor(const QPointF& at) const { return kit.cursor(at); }
    static QImage tourImage(const QString& name) { return TourKit::tourImage(name); }
    static QStringList toolIcons() { return TourKit::toolIcons(); }
    static QStringList toolNames() { return TourKit::toolNames(); }

    void buildWelcome(tour::Layer& stage);
    void buildPick(tour::Layer& stage);
    void buildSlice(tour::Layer& stage);
    void buildCard(tour::Layer& stage);
    void buildBasket(tour::Layer& stage);
    void buildLatest(tour::Layer& stage);
    void buildWheel(tour::Layer& stage);
    void buildPermissions(tour::Layer& stage);

    std::function<double()> clock;
    const Defaults* settings = nullptr;
    TourKit kit;
    tour::LayerPtr root;
    tour::LayerPtr stageLayer;
    QList<std::pair<tour::LayerPtr, double>> parallax;
    tour::LayerRenderer renderer;
    tour::LayerDamage damage;
    bool wholeFrame = true; // the next frame is painted whole (a new tree, size, fade or backdrop)
    double paintCost = 0;   // processor milliseconds a painted frame takes, on average
    QTimer ticker;
    double fadeAlpha = 1;
    double radius = 0;
    QImage backdrop;
    QImage content;    // the scene alone, reused between frames
    QImage frame;      // what is shown
    QImage cornerMask; // alpha of the rounded box

    QPointF shiftFrom, shiftTo;
    double shiftStart = 0;
};
