#include "onboarding/Onboarding.h"

#include "library/LibraryPanel.h"
#include "onboarding/CheckRow.h"
#include "onboarding/MediaClock.h"
#include "onboarding/ShadButton.h"
#include "platform/Defaults.h"
#include "platform/Dispatch.h"
#include "ui/Brand.h"
#include "ui/GhostButton.h"
#include "ui/KeyRoute.h"
#include "ui/Toast.h"
#include "ui/UI.h"

#include <QApplication>
#include <QCursor>
#include <QGraphicsDropShadowEffect>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPropertyAnimation>
#include <QRadialGradient>
#include <QScreen>
#include <QWindow>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int kWidth = 600;
constexpr int kHeight = 560;
constexpr double kRevealSeconds = 0.55;

Onboarding::Services& shared() {
    static Onboarding::Services services;
    return services;
}

QPointer<Onboarding>& currentPanel() {
    static QPointer<Onboarding> panel;
    return panel;
}

Defaults& storeOf(const Onboarding::Services& services) {
    return services.defaults ? *services.defaults : Defaults::standard();
}

// End-to-end tests follow the tour through standard error.
void trace(const QString& line) {
    static const bool on = qEnvironmentVariableIsSet("PICTOLARIUM_TRACE");
    if (on)
        std::fprintf(stderr, "%s\n", qPrintable(line));
}

QColor accent(double alpha) {
    QColor c = UI::accent();
    c.setAlphaF(float(alpha));
    return c;
}

} // namespace

void Onboarding::setServices(Services services) {
    shared() = std::move(services);
}

Onboarding* Onboarding::current() {
    return currentPanel();
}

void Onboarding::showIfFirstRun() {
    const Defaults& store = storeOf(shared());
    // Any value that is not a plain true counts as not seen.
    if (store.boolean(QStringLiteral("onboardingSeen")).value_or(false))
        return;
    show(store.boolean(QStringLiteral("onboardingAtPermissions")).value_or(false));
}

void Onboarding::show(bool resumeAtPermissions) {
    if (Onboarding* open = currentPanel())
        open->close();
    LibraryPanel::shared().hide();

    QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : QRect();
    // A screen too short for the whole panel gets a shorter picture, so the buttons stay in reach.
    const int shrink = screen ? std::clamp(kHeight - area.height(), 0, 120) : 0;
    auto* panel = new Onboarding(shared(), storeOf(shared()), resumeAtPermissions, shrink);
    currentPanel() = panel;
    // When the user comes back from fixing something, bring the setup page up again.
    QPointer<Onboarding> weak(panel);
    panel->activation = connect(qApp, &QGuiApplication::applicationStateChanged, panel, [weak](Qt::ApplicationState s) {
        if (s == Qt::ApplicationActive && weak && currentPanel() == weak && weak->onPermissions())
            weak->raise();
    });

    if (screen) {
        QPoint at = area.center() - QPoint(kWidth / 2, panel->height() / 2);
        // On a small screen keep the top left (the close button) reachable.
        at.setX(std::max(at.x(), area.left()));
        at.setY(std::max(at.y(), area.top()));
        panel->move(at);
    }
    panel->setWindowOpacity(0);
    panel->QWidget::show();
    KeyRoute::setFront(panel);
    KeyRoute::takeKeys(panel);
    auto* fade = new QPropertyAnimation(panel, "windowOpacity", panel);
    fade->setDuration(250);
    fade->setStartValue(0.0);
    fade->setEndValue(1.0);
    fade->start(QAbstractAnimation::DeleteWhenStopped);
}

Onboarding::Onboarding(const Services& given, Defaults& store, bool resumeAtPermissions, int shorter)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint), services(given),
      defaults(store), probe(given.checks, given.compositor, given.refusedHotKeys), shrink(shorter) {
    setWindowTitle(QStringLiteral("Pictolarium Tour"));
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(kWidth, kHeight - shrink);
    setFocusPolicy(Qt::StrongFocus);
    composited = UI::composited();
    if (composited) {
        setAttribute(Qt::WA_TranslucentBackground);
    } else {
        // Without a compositor clear pixels show black: cut the corners off instead.
        QPainterPath shape;
        shape.addRoundedRect(QRectF(0, 0, kWidth, height()), 18, 18);
        setMask(QRegion(shape.toFillPolygon().toPolygon()));
    }

    hero = new QWidget(this);
    hero->setGeometry(28, 20, 544, 300 - shrink);
    sceneView = new TourScene(hero);
    sceneView->setCornerRadius(16);
    sceneView->setDefaults(defaults);
    sceneView->setGeometry(hero->rect());

    content = new QWidget(this);
    eyebrow = new QLabel(content);
    title = new QLabel(content);
    keycaps = new QWidget(content);
    body = new QLabel(content);
    body->setWordWrap(true);
    body->setTextFormat(Qt::RichText);
    permBox = new QWidget(content);
    for (QWidget* part : {static_cast<QWidget*>(eyebrow), static_cast<QWidget*>(title), keycaps,
                          static_cast<QWidget*>(body), permBox}) {
        auto* effect = new QGraphicsOpacityEffect(part);
        part->setGraphicsEffect(effect);
        reveals.append(effect);
    }

    nextButtonView = new ShadButton(QStringLiteral("Next"), true, false, this);
    backButtonView = new ShadButton(QStringLiteral("Back"), false, false, this);
    skipButtonView = new ShadButton(QStringLiteral("Skip"), false, true, this);
    nextButtonView->resize(92, 32);
    backButtonView->resize(72, 32);
    skipButtonView->resize(60, 32);
    for (ShadButton* b : {nextButtonView, backButtonView, skipButtonView})
        b->setFocusPolicy(Qt::NoFocus); // Space and Return belong to the panel
    auto* glow = new QGraphicsDropShadowEffect(nextButtonView);
    glow->setColor(accent(0.4));
    glow->setBlurRadius(20);
    glow->setOffset(0, 0);
    nextButtonView->setGraphicsEffect(glow);
    connect(nextButtonView, &QAbstractButton::clicked, this, &Onboarding::next);
    connect(backButtonView, &QAbstractButton::clicked, this, &Onboarding::backTapped);
    connect(skipButtonView, &QAbstractButton::clicked, this, &Onboarding::finishTour);

    closeButton =
        new GhostButton(QStringLiteral("Close"), QStringLiteral("xmark"), QString(), QSizeF(30, 28), 11, this);
    closeButton->setContentTintColor(Qt::white);
    closeButton->setFocusPolicy(Qt::NoFocus);
    closeButton->move(kWidth - 34 - closeButton->width(), 28);
    connect(closeButton, &QAbstractButton::clicked, this, &Onboarding::finishTour);

    permTimer.setInterval(1000);
    connect(&permTimer, &QTimer::timeout, this, &Onboarding::refreshPermissions);
    // A hot key another program held may be let go while the user reads any page: asking which are refused
    // tries them again.
    keysTimer.setInterval(1000);
    connect(&keysTimer, &QTimer::timeout, this, [this] {
        if (!permTimer.isActive())
            probe.refused();
    });
    keysTimer.start();
    animation.setInterval(16);
    connect(&animation, &QTimer::timeout, this, &Onboarding::tick);

    if (resumeAtPermissions) {
        const QList<Page> all = pages();
        for (qsizetype i = 0; i < all.size(); ++i)
            if (all.at(i).kind == TourScene::Kind::permissions) {
                index = int(i);
                break;
            }
    }
    render(false);
}

bool Onboarding::onPermissions() const {
    const QList<Page> all = pages();
    return index >= 0 && index < all.size() && all.at(index).kind == TourScene::Kind::permissions;
}

void Onboarding::render(bool animated) {
    const qsizetype count = pages().size();
    nextButtonView->setText(index == count - 1 ? QStringLiteral("Let's go") : QStringLiteral("Next"));
    backButtonView->setVisible(index > 0);
    skipButtonView->setVisible(index < count - 1);
    // The row is right-aligned and hidden buttons take no room.
    int right = kWidth - 28;
    const int top = height() - 22 - 32;
    for (ShadButton* b : {nextButtonView, backButtonView, skipButtonView}) {
        if (b->isHidden())
            continue;
        b->move(right - b->width(), top);
        right -= b->width() + 8;
    }
    update(); // the dots

    if (!animated) {
        fadeOutEnd = 0;
        fadeInStart = 0;
        applyPage();
        tick();
        return;
    }
    fadeOutEnd = tour::MediaClock::now() + 0.1;
    animation.start();
}

void Onboarding::tick() {
    const double now = tour::MediaClock::now();
    double pageAlpha = 1;
    if (fadeOutEnd > 0) {
        if (now < fadeOutEnd) {
            pageAlpha = std::clamp((fadeOutEnd - now) / 0.1, 0.0, 1.0);
        } else {
            fadeOutEnd = 0;
            applyPage();
            fadeInStart = now;
            pageAlpha = 0;
        }
    } else if (fadeInStart > 0) {
        pageAlpha = std::clamp((now - fadeInStart) / 0.18, 0.0, 1.0);
    }
    const tour::Easing curve = tour::Easing::curve(0.2, 0.9, 0.2, 1.0);
    const double delay = revealWelcome ? 0.3 : 0.0;
    for (qsizetype i = 0; i < reveals.size(); ++i) {
        // The setup rows come with the body.
        const double begin = revealStart + delay + 0.08 * double(std::min<qsizetype>(i, 3));
        const double p = curve(std::clamp((now - begin) / kRevealSeconds, 0.0, 1.0));
        reveals.at(i)->setOpacity(pageAlpha * p);
    }
    sceneView->setFade(pageAlpha);
    layoutContent(now);
    const bool revealing = now < revealStart + delay + 0.24 + kRevealSeconds;
    if (fadeOutEnd > 0 || pageAlpha < 1 || revealing)
        animation.start();
    else
        animation.stop();
}

void Onboarding::layoutContent(double now) {
    const QList<QWidget*> column{eyebrow, title, keycaps, body};
    const int gaps[] = {6, 12, 10, 10};
    // The text ends above the row of dots and buttons: a long page gives the picture less height.
    int needed = 0;
    for (qsizetype i = 0; i < column.size(); ++i)
        if (QWidget* part = column.at(i); !part->isHidden())
            needed += (part->hasHeightForWidth() ? part->heightForWidth(544) : part->sizeHint().height()) + gaps[i];
    if (!permBox->isHidden())
        needed += permBox->sizeHint().height();
    const int buttonsTop = height() - 22 - 32;
    const int room = buttonsTop - 8 - needed - 24 - 20;
    const int heroHeight = std::max(120, std::min((onPermissions() ? 216 : 300) - shrink, room));
    if (hero->height() != heroHeight || backgroundHero != heroHeight) {
        hero->setGeometry(28, 20, 544, heroHeight);
        sceneView->setGeometry(hero->rect());
        // The scene paints over a copy of what lies under it, so the panel stays still.
        const QImage& under = backgroundImage();
        const qreal dpr = under.devicePixelRatio();
        QImage part = under.copy(QRectF(QPointF(hero->pos()) * dpr, QSizeF(hero->size()) * dpr).toRect());
        part.setDevicePixelRatio(dpr);
        sceneView->setBackdrop(part);
        update();
    }
    const int top = 20 + heroHeight + 24;
    content->setGeometry(28, top, 544, height() - top - 22);
    const tour::Easing curve = tour::Easing::curve(0.2, 0.9, 0.2, 1.0);
    const double delay = revealWelcome ? 0.3 : 0.0;
    int y = 0;
    for (qsizetype i = 0; i < column.size(); ++i) {
        QWidget* part = column.at(i);
        if (part->isHidden())
            continue;
        const int h = part->hasHeightForWidth() ? part->heightForWidth(544) : part->sizeHint().height();
        const int w = part == keycaps ? keycaps->sizeHint().width() : 544;
        // Each part rises 12 points into place as it appears.
        const double p = curve(std::clamp((now - revealStart - delay - 0.08 * double(i)) / kRevealSeconds, 0.0, 1.0));
        part->setGeometry(0, y + int(std::lround(12 * (1 - p))), w, h);
        y += h + gaps[i];
    }
    if (!permBox->isHidden())
        permBox->setGeometry(0, y, 544, permBox->sizeHint().height());
}

void Onboarding::applyPage() {
    const QList<Page> all = pages();
    const Page& p = all.at(std::clamp<qsizetype>(index, 0, all.size() - 1));
    const bool setup = p.kind == TourScene::Kind::permissions;

    QFont eyebrowFont = UI::monoFont(11);
    eyebrowFont.setLetterSpacing(QFont::AbsoluteSpacing, 1.6);
    eyebrow->setFont(eyebrowFont);
    eyebrow->setStyleSheet(QStringLiteral("color: %1;").arg(UI::accent().name()));
    eyebrow->setText(eyebrowWord(p.kind));

    QFont titleFont = UI::font(p.kind == TourScene::Kind::welcome ? 40 : 30, QFont::Bold);
    titleFont.setLetterSpacing(QFont::AbsoluteSpacing, -1.0);
    title->setFont(titleFont);
    title->setStyleSheet(QStringLiteral("color: white;"));
    title->setText(p.title);

    setBody(p.body, std::nullopt);

    // Key caps, the gesture word, then the hot action's own buttons.
    delete keycaps->layout();
    // The switch that asked for this render is among them: let it finish its click first.
    for (QWidget* old : keycaps->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        old->hide();
        old->setParent(nullptr);
        old->deleteLater();
    }
    auto* row = new QHBoxLayout(keycaps);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(4);
    row->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    keycaps->setVisible(p.keys.has_value());
    if (p.keys) {
        const QStringList words = capWords(*p.keys);
        for (qsizetype i = 0; i < words.size(); ++i) {
            row->addWidget(keycap(words.at(i)), 0, Qt::AlignVCenter);
            if (i + 1 < words.size()) {
                auto* plus = new QLabel(QStringLiteral("+"), keycaps);
                plus->setFont(UI::font(11));
                plus->setStyleSheet(QStringLiteral("color: rgba(255, 255, 255, 0.62);"));
                row->addWidget(plus, 0, Qt::AlignVCenter);
            }
        }
        if (!p.gesture.isEmpty()) {
            auto* gesture = new QLabel(QStringLiteral("\u00b7  ") + p.gesture, keycaps);
            gesture->setFont(UI::monoFont(11));
            gesture->setStyleSheet(QStringLiteral("color: rgba(255, 255, 255, 0.62);"));
            row->addWidget(gesture, 0, Qt::AlignVCenter);
        }
        if (!p.actionKey.isEmpty())
            addHotActionControls(row, p.actionKey);
    }

    permBox->setVisible(setup);
    defaults.set(QStringLiteral("onboardingAtPermissions"), setup);
    setLevel(!setup);
    if (setup) {
        buildPermissionButtons();
    } else {
        permTimer.stop();
    }

    trace(QStringLiteral("tour: ") + eyebrowWord(p.kind) + QStringLiteral(" | ") + title->text());
    sceneView->kind = p.kind;
    layoutContent(tour::MediaClock::now());
    sceneView->rebuild();
    revealStart = tour::MediaClock::now();
    revealWelcome = p.kind == TourScene::Kind::welcome;
}

void Onboarding::setBody(const QString& text, std::optional<QColor> colour) {
    QFont font = UI::font(14.5);
    body->setFont(font);
    const QColor c = colour.value_or(QColor::fromRgbF(1, 1, 1, 0.62f));
    body->setText(QStringLiteral("<div style=\"line-height: 130%; color: rgba(%1, %2, %3, %4);\">%5</div>")
                      .arg(c.red())
                      .arg(c.green())
                      .arg(c.blue())
                      .arg(c.alphaF(), 0, 'f', 2)
                      .arg(text.toHtmlEscaped()));
    body->setProperty("plainText", text);
}

void Onboarding::setLevel(bool top) {
    onTop = top;
    // Changing the widget's flags would hide the window; the live window takes the hint as it is.
    if (QWindow* window = windowHandle())
        window->setFlag(Qt::WindowStaysOnTopHint, top);
    else
        setWindowFlag(Qt::WindowStaysOnTopHint, top);
}

void Onboarding::next() {
    if (index >= pages().size() - 1) {
        finishTour();
        return;
    }
    ++index;
    render(true);
}

void Onboarding::backTapped() {
    if (index <= 0)
        return;
    --index;
    render(true);
}

void Onboarding::markSeen() {
    if (finished)
        return;
    finished = true;
    permTimer.stop();
    keysTimer.stop();
    defaults.set(QStringLiteral("onboardingSeen"), true);
    defaults.set(QStringLiteral("onboardingAtPermissions"), false);
    const Services hinted = services;
    Dispatch::after(400, nullptr, [hinted] { showTrayHint(hinted); });
}

void Onboarding::finishTour() {
    if (finished)
        return;
    markSeen();
    auto* fade = new QPropertyAnimation(this, "windowOpacity", this);
    fade->setDuration(150);
    fade->setEndValue(0.0);
    connect(fade, &QPropertyAnimation::finished, this, &QWidget::close);
    fade->start(QAbstractAnimation::DeleteWhenStopped);
    setEnabled(false); // no second finish while it fades
}

void Onboarding::showTrayHint(const Services& services) {
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->geometry();
    const QPoint topCentre(area.center().x(), area.top() + 80);
    const std::optional<QRect> icon = services.trayIcon ? services.trayIcon() : std::optional<QRect>(QRect());
    if (!icon) {
        trace(QStringLiteral("tour hint: no tray"));
        Toast::show(QStringLiteral("Pictolarium is running, but this desktop shows no tray icons. The shortcuts work "
                                   "anyway."),
                    topCentre, 9.0);
        return;
    }
    const QString text = QStringLiteral("Pictolarium lives here, in your panel. Click the icon any time.");
    trace(QStringLiteral("tour hint: panel"));
    if (icon->isEmpty()) {
        Toast::show(text, topCentre, 6.0);
        return;
    }
    // The toast stands above its point: under an icon at the top, above one at the bottom.
    const bool upper = icon->center().y() < area.center().y();
    const QPoint at(icon->center().x(), upper ? icon->bottom() + 64 : icon->top() - 8);
    Toast::show(text, at, 6.0);
}

void Onboarding::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
    case Qt::Key_Right:
        next();
        return;
    case Qt::Key_Left:
        backTapped();
        return;
    case Qt::Key_Escape:
        finishTour();
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

const QImage& Onboarding::backgroundImage() {
    const int heroHeight = hero->height();
    const qreal dpr = devicePixelRatioF();
    if (!background.isNull() && backgroundHero == heroHeight && background.devicePixelRatio() == dpr)
        return background;
    backgroundHero = heroHeight;
    background = QImage(size() * dpr, QImage::Format_ARGB32_Premultiplied);
    background.setDevicePixelRatio(dpr);
    background.fill(Qt::transparent);
    QPainter p(&background);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath box;
    box.addRoundedRect(r, 18, 18);
    // A dark glass: the panel's fill, the brand tint over it, and a soft green light from the top left.
    p.fillPath(box, QColor(28, 30, 29, composited ? 250 : 255)); // nearly opaque: there is no blur behind it
    QColor tint = Brand::background();
    tint.setAlphaF(0.78f);
    p.fillPath(box, tint);
    QRadialGradient light(0, 0, 1);
    light.setColorAt(0, accent(0.16));
    light.setColorAt(1, accent(0));
    QBrush brush(light);
    brush.setTransform(QTransform::fromScale(0.85 * width(), 0.8 * height()) *
                       QTransform::fromTranslate(0.15 * width(), 0.1 * height()));
    p.fillPath(box, brush);
    p.strokePath(box, QPen(Brand::lineStrong(), 1));

    // The card the scene sits in.
    QPainterPath card;
    card.addRoundedRect(QRectF(hero->geometry()).adjusted(0.5, 0.5, -0.5, -0.5), 16, 16);
    QColor fill = Brand::background();
    fill.setAlphaF(0.7f);
    p.fillPath(card, fill);
    p.strokePath(card, QPen(Brand::lineStrong(), 1));
    return background;
}

void Onboarding::paintEvent(QPaintEvent* event) {
    QPainter p(this);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.drawImage(event->rect(), backgroundImage(),
                QRectF(QPointF(event->rect().topLeft()) * devicePixelRatioF(),
                       QSizeF(event->rect().size()) * devicePixelRatioF()));
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    p.setRenderHint(QPainter::Antialiasing);

    // Page dots, level with the buttons.
    const int count = int(pages().size());
    double x = 28;
    const double cy = height() - 22 - 16;
    for (int i = 0; i < count; ++i) {
        const double w = i == index ? 18 : 6;
        QPainterPath dot;
        dot.addRoundedRect(QRectF(x, cy - 3, w, 6), 3, 3);
        p.fillPath(dot, i == index ? UI::accent() : QColor::fromRgbF(1, 1, 1, 0.22f));
        x += w + 6;
    }
}

void Onboarding::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    // Not moved yet: a plain click on the background must not leave the window manager moving the panel until
    // the next click (which would then be lost on a button).
    pressAt = event->globalPosition().toPoint();
    dragFrom = QPoint();
}

void Onboarding::mouseMoveEvent(QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton))
        return;
    const QPoint at = event->globalPosition().toPoint();
    if (pressAt && (at - *pressAt).manhattanLength() >= QApplication::startDragDistance()) {
        const QPoint from = *pressAt;
        pressAt.reset();
        if (QWindow* window = windowHandle(); window && window->startSystemMove())
            return;
        dragFrom = from - pos();
    }
    if (!dragFrom.isNull())
        move(at - dragFrom);
}

void Onboarding::mouseReleaseEvent(QMouseEvent* event) {
    pressAt.reset();
    dragFrom = QPoint();
    QWidget::mouseReleaseEvent(event);
}

void Onboarding::closeEvent(QCloseEvent* event) {
    // Closed by the window manager (Alt+F4, a close button of its own): the same as Skip.
    if (event->spontaneous())
        markSeen();
    permTimer.stop();
    keysTimer.stop();
    animation.stop();
    disconnect(activation);
    QWidget::closeEvent(event);
}
