#include "onboarding/TourScene.h"

#include "onboarding/MediaClock.h"
#include "ui/UI.h"

#include <QMouseEvent>
#include <QPainter>
#include <QSemaphore>
#include <QThreadPool>

#include <algorithm>
#include <cmath>
#include <ctime>

using tour::Animation;
using tour::Layer;
using tour::LayerPtr;

namespace {

constexpr double kShiftSeconds = 0.35;
// Frames between thirty and twenty a second, as many as painting them in a twentieth of a core allows.
constexpr int kFastestMs = 33;
constexpr int kSlowestMs = 50;
constexpr double kPaintShare = 0.05;

QColor accent(double alpha) {
    QColor c = UI::accent();
    c.setAlphaF(float(alpha));
    return c;
}

} // namespace

TourScene::TourScene(QWidget* parent, std::function<double()> time)
    : QWidget(parent), clock(time ? std::move(time) : std::function<double()>(&tour::MediaClock::now)),
      root(Layer::make()), stageLayer(Layer::make()) {
    setMouseTracking(true);
    setAttribute(Qt::WA_TranslucentBackground);
    // At most thirty frames a second: the scenes' motions are slow glides and loops, which stay smooth at that
    // rate, and each frame still shows the scene at its own moment.
    ticker.setInterval(kFastestMs);
    ticker.setTimerType(Qt::PreciseTimer);
    connect(&ticker, &QTimer::timeout, this, &TourScene::tick);
}

void TourScene::rebuild() {
    const double now = clock();
    kit.now = now;
    const double W = width(), H = height();
    root->removeAllSublayers();
    root->setFrame({0, 0, W, H});
    parallax.clear();
    renderer.clearCache();
    damage.clear();
    wholeFrame = true;

    LayerPtr glow = Layer::make(Layer::Type::gradient);
    glow->radial = true;
    glow->colors = {accent(0.26), accent(0)};
    glow->startPoint = {0.5, 0.5};
    glow->endPoint = {1, 1};
    glow->model.bounds = QRectF(0, 0, 0.9 * W, 0.9 * W);
    glow->model.position = {0.3 * W, 0.8 * H};
    root->addSublayer(glow);
    Animation drift = Animation::basic(QStringLiteral("position.x"), 0.3 * W, 0.75 * W, 7);
    drift.autoreverses = true;
    drift.repeatCount = tour::repeatForever;
    drift.timing = tour::Easing::easeInEaseOut();
    glow->addAnimation(QStringLiteral("drift"), drift, now);

    stageLayer = Layer::make();
    stageLayer->setFrame({0, 0, stageWidth, stageHeight});
    const double s = std::min(W / stageWidth, H / stageHeight);
    stageLayer->model.transform = tour::Transform::scaled(s);
    stageLayer->model.position = {W / 2, H / 2};
    root->addSublayer(stageLayer);
    Animation enter = Animation::basic(QStringLiteral("position.y"), -14.0, 0.0, 0.45);
    enter.additive = true;
    enter.timing = tour::Easing::curve(0.2, 0.9, 0.2, 1.0);
    stageLayer->addAnimation(QStringLiteral("enter"), enter, now);
    stageLayer->addAnimation(QStringLiteral("fade"), Animation::basic(QStringLiteral("opacity"), 0.0, 1.0, 0.35), now);

    Layer& stage = *stageLayer;
    switch (kind) {
    case Kind::welcome:
        buildWelcome(stage);
        break;
    case Kind::pick:
        buildPick(stage);
        break;
    case Kind::slice:
        buildSlice(stage);
        break;
    case Kind::card:
        buildCard(stage);
        break;
    case Kind::basket:
        buildBasket(stage);
        break;
    case Kind::latest:
        buildLatest(stage);
        break;
    case Kind::wheel:
        buildWheel(stage);
        break;
    case Kind::permissions:
        buildPermissions(stage);
        break;
    }
    update();
}

void TourScene::setFade(double alpha) {
    alpha = std::clamp(alpha, 0.0, 1.0);
    if (alpha == fadeAlpha)
        return;
    fadeAlpha = alpha;
    wholeFrame = true;
    update();
}

void TourScene::setCornerRadius(double value) {
    radius = std::max(0.0, value);
    cornerMask = QImage();
    wholeFrame = true;
    update();
}

QPointF TourScene::shiftAt(double t) const {
    const double p = tour::Easing::easeOut()(std::clamp((t - shiftStart) / kShiftSeconds, 0.0, 1.0));
    return shiftFrom + (shiftTo - shiftFrom) * p;
}

void TourScene::shift(double dx, double dy) {
    const double now = clock();
    shiftFrom = shiftAt(now);
    shiftTo = {dx, dy};
    shiftStart = now;
}

void TourScene::followPointer(double t) {
    const QPointF offset = shiftAt(t);
    for (const auto& [layer, depth] : std::as_const(parallax))
        layer->offset = offset * depth;
}

void TourScene::render(QPainter& painter, double t) {
    followPointer(t);
    painter.save();
    // The scene is y-up; flip once here.
    painter.translate(0, height());
    painter.scale(1, -1);
    renderer.paint(painter, *root, t);
    painter.restore();
}

void TourScene::setBackdrop(const QImage& image) {
    backdrop = image;
    setAttribute(Qt::WA_OpaquePaintEvent, !backdrop.isNull());
    setAttribute(Qt::WA_TranslucentBackground, backdrop.isNull());
    wholeFrame = true;
    update();
}

QRegion TourScene::composeFrame(double t) {
    const qreal dpr = devicePixelRatioF();
    const QSize pixels = size() * dpr;
    bool whole = wholeFrame;
    wholeFrame = false;
    if (content.size() != pixels) {
        content = QImage(pixels, QImage::Format_ARGB32_Premultiplied);
        frame = QImage(pixels, QImage::Format_ARGB32_Premultiplied);
        cornerMask = QImage();
        whole = true;
    }
    if (content.isNull())
        return {};
    content.setDevicePixelRatio(dpr);
    frame.setDevicePixelRatio(dpr);
    if (cornerMask.isNull()) {
        // Antialiased corners: a clip path would leave them jagged.
        cornerMask = QImage(pixels, QImage::Format_ARGB32_Premultiplied);
        cornerMask.setDevicePixelRatio(dpr);
        cornerMask.fill(Qt::transparent);
        QPainter m(&cornerMask);
        m.setRenderHint(QPainter::Antialiasing);
        m.setPen(Qt::NoPen);
        m.setBrush(Qt::black);
        m.drawRoundedRect(QRectF(rect()), radius, radius);
        whole = true;
    }
    // Only what moved is painted again; a frame in which nothing moved is not painted at all.
    followPointer(t);
    QRegion dirty = damage.since(*root, QTransform(1, 0, 0, -1, 0, height()), t, dpr);
    if (whole)
        dirty = QRegion(rect());
    dirty &= rect();
    if (dirty.isEmpty())
        return {};
    {
        QPainter p(&content);
        p.setClipRegion(dirty);
        p.setCompositionMode(QPainter::CompositionMode_Source);
        for (const QRect& r : dirty)
            p.fillRect(r, Qt::transparent);
        p.setCompositionMode(QPainter::CompositionMode_SourceOver);
        renderer.only = QTransform::fromScale(dpr, dpr).map(dirty);
        render(p, t);
        renderer.only = QRegion();
        // The mask is whole inside the corners' squares.
        const int r = int(std::ceil(radius)) + 1;
        const QRegion corners = QRegion(0, 0, r, r) | QRegion(width() - r, 0, r, r) | QRegion(0, height() - r, r, r) |
                                QRegion(width() - r, height() - r, r, r);
        p.setClipRegion(dirty & corners);
        p.setCompositionMode(QPainter::CompositionMode_DestinationIn);
        p.drawImage(QPointF(0, 0), cornerMask);
    }
    QPainter f(&frame);
    f.setClipRegion(dirty);
    f.setCompositionMode(QPainter::CompositionMode_Source);
    if (backdrop.size() == pixels)
        f.drawImage(QPointF(0, 0), backdrop);
    else
        f.fillRect(QRectF(rect()), Qt::transparent);
    f.setCompositionMode(QPainter::CompositionMode_SourceOver);
    f.setOpacity(fadeAlpha);
    f.drawImage(QPointF(0, 0), content);
    return dirty;
}

namespace {

// The calling thread's own processor time, in milliseconds, which a busy machine does not inflate.
double threadMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

} // namespace

QRegion TourScene::composeOffThread(double t) {
    // Painting on a pool thread keeps Qt from splitting every fill across the pool, which costs more
    // in hand-overs than it saves on a picture this size. The view waits: the tree is not shared.
    QRegion dirty;
    double spent = 0;
    QSemaphore done;
    const auto work = [this, t, &dirty, &spent] {
        const double begin = threadMs();
        dirty = composeFrame(t);
        spent = threadMs() - begin;
    };
    const bool offloaded = QThreadPool::globalInstance()->tryStart([&work, &done] {
        work();
        done.release();
    });
    if (offloaded)
        done.acquire();
    else
        work();
    if (!dirty.isEmpty())
        paintCost = paintCost <= 0 ? spent : 0.9 * paintCost + 0.1 * spent;
    return dirty;
}

void TourScene::tick() {
    const QRegion dirty = composeOffThread(clock());
    if (!dirty.isEmpty())
        update(dirty);
    // A scene that costs much to paint (a large one, on a slow processor) is shown at fewer frames a second,
    // down to twenty, so that the tour never takes more than a small share of a core; each frame still shows
    // the scene at its own moment.
    const int interval = std::clamp(int(std::lround(paintCost / kPaintShare)), kFastestMs, kSlowestMs);
    if (ticker.interval() != interval)
        ticker.setInterval(interval);
}

void TourScene::paintEvent(QPaintEvent*) {
    if (wholeFrame || frame.isNull() || frame.size() != size() * devicePixelRatioF())
        composeOffThread(clock());
    if (frame.isNull())
        return;
    QPainter painter(this);
    if (backdrop.size() == frame.size())
        painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(QPointF(0, 0), frame);
}

void TourScene::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // Only a new size needs a new tree; other layout passes leave the running scene alone.
    if (event->oldSize() != event->size())
        rebuild();
}

void TourScene::mouseMoveEvent(QMouseEvent* event) {
    const QPointF at = event->position();
    const double fx = at.x() / std::max(1, width());
    const double fy = (height() - at.y()) / std::max(1, height());
    shift(fx - 0.5, fy - 0.5);
}

void TourScene::leaveEvent(QEvent*) {
    shift(0, 0);
}

void TourScene::showEvent(QShowEvent*) {
    ticker.start();
}

void TourScene::hideEvent(QHideEvent*) {
    ticker.stop();
}
