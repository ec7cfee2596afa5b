#include "onboarding/TourKit.h"

#include "card/ToolbarPrefs.h"
#include "ui/Symbols.h"
#include "ui/UI.h"

#include <QFile>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPainter>
#include <QSvgRenderer>

#include <cmath>

using tour::Animation;
using tour::Layer;
using tour::LayerPtr;

namespace {

QColor white(double alpha) {
    return QColor::fromRgbF(1, 1, 1, float(alpha));
}

LayerPtr box(const QRectF& frame, double radius, const QColor& fill) {
    LayerPtr layer = Layer::make();
    layer->setFrame(frame);
    layer->model.cornerRadius = radius;
    layer->model.backgroundColor = fill;
    return layer;
}

LayerPtr gradient(const QRectF& frame, QList<QColor> colors, QPointF start, QPointF end) {
    LayerPtr layer = Layer::make(Layer::Type::gradient);
    layer->setFrame(frame);
    layer->colors = std::move(colors);
    layer->startPoint = start;
    layer->endPoint = end;
    return layer;
}

// Symbols are drawn at twice their size so they stay sharp on the scaled stage.
QImage symbolPicture(const QString& name, double size, const QColor& colour) {
    return Symbols::image(name, size, colour, 2.0);
}

} // namespace

QColor TourKit::sage() {
    return UI::accent();
}

QColor TourKit::glass() {
    return QColor::fromRgbF(0.12f, 0.125f, 0.13f, 0.96f);
}

LayerPtr TourKit::glassTile(const QRectF& rect, double hue, bool flip) const {
    const double W = rect.width(), H = rect.height();
    const QColor c1 = QColor::fromHsvF(float(std::fmod(hue, 1.0)), 0.55f, 0.95f);
    const QColor c2 = QColor::fromHsvF(float(std::fmod(hue + 0.12, 1.0)), 0.6f, 0.75f);

    LayerPtr tile = Layer::make();
    tile->setFrame(rect);
    tile->model.cornerRadius = 14;
    tile->model.shadowColor = Qt::black;
    tile->model.shadowOpacity = 0.45;
    tile->model.shadowRadius = 16;
    tile->model.shadowOffset = {0, -8};

    LayerPtr body = gradient({0, 0, W, H}, {white(0.26), white(0.07)}, {0.1, 1}, {0.9, 0});
    body->model.cornerRadius = 14;
    body->masksToBounds = true;
    body->model.borderWidth = 1;
    body->model.borderColor = white(0.38);
    tile->addSublayer(body);

    const double w = W - 16, h = H - 52;
    LayerPtr picture = gradient({8, 30, w, h}, flip ? QList<QColor>{c2, c1} : QList<QColor>{c1, c2}, {0, 1}, {1, 0});
    picture->model.cornerRadius = 8;
    picture->masksToBounds = true;
    picture->model.opacity = 0.9;
    LayerPtr hills = Layer::make(Layer::Type::shape);
    QPainterPath ridge;
    ridge.moveTo(0, 0);
    ridge.lineTo(0, 0.38 * h);
    ridge.lineTo(0.28 * w, 0.7 * h);
    ridge.lineTo(0.5 * w, 0.4 * h);
    ridge.lineTo(0.72 * w, 0.62 * h);
    ridge.lineTo(w, 0.3 * h);
    ridge.lineTo(w, 0);
    ridge.closeSubpath();
    hills->path = ridge;
    hills->model.fillColor = QColor::fromRgbF(0, 0, 0, 0.22f);
    picture->addSublayer(hills);
    picture->addSublayer(box({0.68 * w, 0.62 * h, 16, 16}, 8, white(0.85)));
    tile->addSublayer(picture);

    for (const double x : {10.0, 19.0, 28.0})
        tile->addSublayer(box({x, H - 15, 6, 6}, 3, white(0.55)));
    tile->addSublayer(box({44, H - 15, 0.35 * W, 6}, 3, white(0.28)));
    tile->addSublayer(box({10, 12, 0.55 * W, 6}, 3, white(0.5)));
    tile->addSublayer(box({W - 40, 10, 30, 10}, 5, sage()));

    LayerPtr sheen = gradient({0, 0.5 * H, W, 0.5 * H}, {white(0.3), white(0)}, {0.3, 1}, {0.6, 0});
    sheen->model.cornerRadius = 14;
    sheen->maskedCorners = Layer::minXMaxY | Layer::maxXMaxY;
    tile->addSublayer(sheen);

    LayerPtr clip = Layer::make();
    clip->setFrame({0, 0, W, H});
    clip->model.cornerRadius = 14;
    clip->masksToBounds = true;
    LayerPtr streak = gradient({-0.4 * W, 0, 0.3 * W, H}, {white(0), white(0.35), white(0)}, {0, 0.5}, {1, 0.5});
    Animation sweep =
        Animation::group({Animation::basic(QStringLiteral("position.x"), -0.25 * W, 1.25 * W, 1.4)}, 6 + 3 * hue);
    sweep.repeatCount = tour::repeatForever;
    sweep.beginTime = now + 1.5 + 4 * hue;
    streak->addAnimation(QStringLiteral("streak"), sweep, now);
    clip->addSublayer(streak);
    tile->addSublayer(clip);
    return tile;
}

std::pair<LayerPtr, QList<double>> TourKit::pill(double width, double height, std::optional<int> highlight,
                                                 std::optional<QStringList> icons) const {
    LayerPtr bar = box({0, 0, width, height}, height / 2, glass());
    bar->model.borderColor = white(0.14);
    bar->model.borderWidth = 1;
    bar->model.shadowOpacity = 0.4;
    bar->model.shadowRadius = 10;
    bar->model.shadowOffset = {0, -4};

    const QStringList names = icons ? *icons : toolIcons();
    QList<double> centres;
    if (names.isEmpty())
        return {bar, centres};
    const double slot = (width - 24) / double(names.size());
    for (qsizetype i = 0; i < names.size(); ++i) {
        const double x = 12 + (double(i) + 0.5) * slot;
        const bool lit = highlight && *highlight == i;
        if (lit)
            bar->addSublayer(box({x - 13, height / 2 - 12, 26, 24}, 8, sage()));
        LayerPtr symbol = icon(names.at(i), 0.38 * height, lit ? UI::onAccent() : QColor(Qt::white));
        symbol->model.position = {x, height / 2};
        bar->addSublayer(symbol);
        centres.append(x);
    }
    return {bar, centres};
}

LayerPtr TourKit::label(const QString& text, const QPointF& at, double minWidth) const {
    const QFont font = UI::font(11, QFont::Medium);
    const double textWidth = QFontMetricsF(font).horizontalAdvance(text);
    const double width = std::max(textWidth + 18, minWidth);

    LayerPtr chip = box({at.x() - width / 2, at.y() - 10, width, 20}, 10, glass());
    chip->model.borderColor = white(0.14);
    chip->model.borderWidth = 1;

    LayerPtr words = Layer::make(Layer::Type::text);
    words->model.string = text;
    words->model.fontSize = 11;
    words->font = font;
    words->model.foregroundColor = Qt::white;
    words->truncateEnd = true;
    words->alignment = Qt::AlignHCenter;
    words->setFrame({9, 3, width - 18, 14});
    chip->addSublayer(words);
    return chip;
}

LayerPtr TourKit::icon(const QString& symbol, double size, const QColor& colour) const {
    LayerPtr layer = Layer::make();
    const QImage picture = symbolPicture(symbol, size, colour);
    if (picture.isNull())
        return layer;
    layer->contents = picture;
    layer->contentsGravity = Layer::Gravity::resizeAspect;
    layer->model.bounds = QRectF(0, 0, size, size);
    return layer;
}

LayerPtr TourKit::cursor(const QPointF& at) const {
    LayerPtr arrow = Layer::make(Layer::Type::shape);
    QPainterPath path;
    path.moveTo(0, 0);
    path.lineTo(0, -18);
    path.lineTo(5, -13);
    path.lineTo(9, -21);
    path.lineTo(12, -19);
    path.lineTo(8, -11);
    path.lineTo(14, -11);
    path.closeSubpath();
    arrow->path = path;
    arrow->model.fillColor = Qt::white;
    arrow->model.strokeColor = Qt::black;
    arrow->model.lineWidth = 1.2;
    arrow->model.position = at;
    arrow->model.shadowOpacity = 0.5;
    arrow->model.shadowRadius = 3;
    arrow->model.shadowOffset = {0, -1};
    return arrow;
}

QImage TourKit::tourImage(const QString& name) {
    return artwork(QStringLiteral(":/Tour/") + name);
}

QImage TourKit::artwork(const QString& path) {
    QImage png(path + QStringLiteral(".png"));
    if (!png.isNull())
        return png;
    const QString file = path + QStringLiteral(".svg");
    if (!QFile::exists(file))
        return {};
    QSvgRenderer svg(file);
    const QSize size = svg.defaultSize();
    if (!svg.isValid() || size.isEmpty())
        return {};
    const double dpr = std::max(1.0, qGuiApp ? qGuiApp->devicePixelRatio() : 1.0);
    QImage picture((QSizeF(size) * dpr).toSize(), QImage::Format_ARGB32_Premultiplied);
    picture.fill(Qt::transparent);
    {
        QPainter painter(&picture);
        painter.setRenderHint(QPainter::Antialiasing);
        svg.render(&painter);
    }
    picture.setDevicePixelRatio(dpr);
    return picture;
}

QStringList TourKit::toolIcons() {
    QStringList names;
    for (const ToolbarPrefs::Entry& entry : ToolbarPrefs::all())
        names.append(entry.symbol);
    return names;
}

QStringList TourKit::toolNames() {
    QStringList names;
    for (const ToolbarPrefs::Entry& entry : ToolbarPrefs::all())
        names.append(entry.title);
    return names;
}
