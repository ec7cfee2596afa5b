#include "card/ThumbnailPanel.h"

#include "card/PDFSession.h"
#include "card/ThumbnailView.h"
#include "editors/EditorWindow.h"
#include "platform/Defaults.h"
#include "platform/Dispatch.h"
#include "platform/EscapeKeyGrab.h"
#include "platform/FocusPointerWatch.h"
#include "platform/Memory.h"
#include "text/TranslateSideView.h"
#include "ui/KeyRoute.h"

#include <QApplication>
#include <QCloseEvent>
#include <QColorDialog>
#include <QCursor>
#include <QGuiApplication>
#include <QMenu>
#include <QPropertyAnimation>
#include <QScreen>

namespace {

using Hold = CardLifetime::Hold;

} // namespace

ThumbnailPanel::ThumbnailPanel(const Shot& shot, std::optional<QSizeF> imageBox, std::shared_ptr<PDFSession> pdf)
    : ThumbnailPanel(shot, imageBox, std::move(pdf), Services{}) {}

ThumbnailPanel::ThumbnailPanel(const Shot& shot, std::optional<QSizeF> imageBox, std::shared_ptr<PDFSession> pdf,
                               Services given)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus |
                           Qt::NoDropShadowWindowHint),
      services(std::move(given)) {
    if (!services.defaults)
        services.defaults = &Defaults::standard();
    if (!services.clock)
        services.clock = std::make_unique<SystemCardClock>();
    if (!services.pointerWatch)
        services.pointerWatch = [] { return std::make_unique<FocusPointerWatch>(); };
    if (!services.escape)
        services.escape = std::make_unique<EscapeKeyGrab>();
    if (!services.deleteKeys)
        services.deleteKeys = std::make_unique<EscapeKeyGrab>();
    if (!services.copyKey)
        services.copyKey = std::make_unique<EscapeKeyGrab>();

    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TranslucentBackground);
    setFocusPolicy(Qt::NoFocus);
    setWindowTitle(QStringLiteral("Pictolarium Card"));
    setObjectName(QStringLiteral("ThumbnailPanel"));

    const bool isPdf = pdf != nullptr;
    life = std::make_unique<CardLifetime>(
        *services.clock, isPdf, CardLifetime::Hooks{[this] { return pointerInside(); }, [this] { fadeOut(); }});

    content = new ThumbnailView(shot, imageBox, *services.defaults, this);
    content->pdf = std::move(pdf);
    content->buildPageBar();
    resize(content->size());
    content->move(0, 0);
    content->placeSubviews();

    // The view's callbacks hold the panel weakly: a late call after the card is gone does nothing.
    QPointer<ThumbnailPanel> self(this);
    content->onDone = [self] {
        if (self)
            self->close();
    };
    content->onHover = [self](bool inside) {
        if (self)
            self->hover(inside);
    };
    content->onHold = [self](Hold reason, bool on) {
        if (!self)
            return;
        if (on)
            self->life->hold(reason);
        else
            self->life->release(reason);
        if (reason == Hold::SideView)
            self->updateKeys();
    };
    content->onHide = [self](bool hide) {
        if (!self)
            return;
        self->life->setHidden(hide);
        if (hide) {
            self->hide();
        } else if (!self->closed) {
            self->setWindowOpacity(1.0);
            self->QWidget::show();
            self->raise();
        }
    };
    content->onOpenLibrary = services.openLibrary;
    content->translationLanguageChosen = services.translationLanguageChosen;
    content->chooseTranslationLanguage = services.chooseTranslationLanguage;
    content->makeTranslateView = services.translateView;
    content->onEngage = [self] {
        if (self)
            self->life->restart();
    };
    connect(content, &ThumbnailView::settled, this, [this] {
        if (retiring)
            deleteWhenSettled();
    });
    // A grab's press is checked against the same rule again: a press already queued when a window of ours took
    // the keyboard is not the card's.
    auto mine = [this] { return !closed && hovered && !KeyRoute::ownWindowHasKeys(); };
    connect(services.escape.get(), &EscapeKeyGrab::pressed, this, [this, mine] {
        if (mine())
            content->escapePressed();
    });
    auto held = [this] { return !closed && holdsKeys() && !KeyRoute::ownWindowHasKeys(); };
    content->onDeleteKeys = [self](bool wanted) {
        if (!self)
            return;
        self->deleteWanted = wanted;
        self->updateKeys();
    };
    connect(services.deleteKeys.get(), &EscapeKeyGrab::pressed, this, [this, held] {
        if (held())
            content->deleteSelected();
    });
    connect(services.copyKey.get(), &EscapeKeyGrab::pressed, this, [this, held] {
        if (auto* side = qobject_cast<TranslateSideView*>(content->sideView.data()); side && held())
            side->handleKey(Qt::Key_C, Qt::ControlModifier);
    });
    connect(&KeyRoute::instance(), &KeyRoute::changed, this, &ThumbnailPanel::updateKeys);
}

ThumbnailPanel::~ThumbnailPanel() {
    // Deleted while it shows, the window is hidden after this body has run, and the key route's news of that
    // hide must not reach a card half gone.
    disconnect(&KeyRoute::instance(), nullptr, this, nullptr);
    services.escape->setActive(false);
    services.deleteKeys->setActive(false);
    // The card's pictures are freed with it.
    Memory::giveBackSoon();
    services.copyKey->setActive(false);
}

const Shot& ThumbnailPanel::shot() const {
    return content->shot();
}

std::shared_ptr<PDFSession> ThumbnailPanel::pdf() const {
    return content->pdf;
}

QPoint ThumbnailPanel::pointer() const {
    return services.pointer ? services.pointer() : QCursor::pos();
}

QList<CardGeometry::Screen> ThumbnailPanel::screens() const {
    if (services.screens)
        return services.screens();
    QList<CardGeometry::Screen> list;
    // The primary screen first: it is the one a point on no screen falls back to.
    if (QScreen* primary = QGuiApplication::primaryScreen())
        list.append({QRectF(primary->geometry()), QRectF(primary->availableGeometry())});
    for (QScreen* screen : QGuiApplication::screens())
        if (screen != QGuiApplication::primaryScreen())
            list.append({QRectF(screen->geometry()), QRectF(screen->availableGeometry())});
    return list;
}

bool ThumbnailPanel::pointerInside() const {
    return frameGeometry().contains(pointer());
}

void ThumbnailPanel::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (content && content->size() != size())
        content->resize(size());
}

void ThumbnailPanel::show(QPointF at) {
    if (closed)
        return;
    move(CardGeometry::placeAt(at, QSizeF(size()), screens()).toPoint());
    setWindowOpacity(0.0);
    QWidget::show();
    raise();
    auto* fadeIn = new QPropertyAnimation(this, "windowOpacity", this);
    fadeIn->setDuration(fadeInMs);
    fadeIn->setStartValue(0.0);
    fadeIn->setEndValue(1.0);
    fade = fadeIn;
    fadeIn->start(QAbstractAnimation::DeleteWhenStopped);
    life->shown();
    startClickAway();
}

void ThumbnailPanel::hover(bool inside) {
    hovered = inside;
    updateKeys();
    life->setHovering(inside);
}

bool ThumbnailPanel::holdsKeys() const {
    // And only while the pointer rests on it: where the window manager hands the keyboard to whatever the
    // pointer is over, a terminal the pointer moved to has it without any click, and a BackSpace typed there must
    // not take a box off a redaction.
    return hovered && clickedIn && !KeyRoute::leftSince(*clickedIn);
}

void ThumbnailPanel::updateKeys() {
    // The card never has the focus: its keys reach it as grabs, given back the moment one of our windows that
    // takes typing has (or asks for) the keyboard. The pointer resting on it takes Escape alone; the keys a
    // terminal or an editor uses too are the card's only once the user has clicked into it, while the pointer
    // stays on it, until they click elsewhere or turn to another program.
    const bool free = !closed && !KeyRoute::ownWindowHasKeys();
    // A window of ours that takes typing (the rename box) has the keyboard now, and it hands it back to the
    // program that had it, not to the card: the click into the card holds nothing any more.
    if (!closed && !free)
        clickedIn.reset();
    const bool held = free && holdsKeys();
    services.escape->setActive(free && hovered);
    services.deleteKeys->setActive(held && deleteWanted);
    services.copyKey->setActive(held && content->sideView);
}

void ThumbnailPanel::fadeOut() {
    if (closed)
        return;
    fading = true;
    if (fade)
        fade->stop();
    auto* out = new QPropertyAnimation(this, "windowOpacity", this);
    out->setDuration(fadeOutMs);
    out->setStartValue(windowOpacity());
    out->setEndValue(0.0);
    QPointer<ThumbnailPanel> self(this);
    connect(out, &QPropertyAnimation::finished, this, [self] {
        if (self)
            self->close();
    });
    fade = out;
    out->start(QAbstractAnimation::DeleteWhenStopped);
}

void ThumbnailPanel::startClickAway() {
    if (clickMonitor)
        return;
    clickMonitor = services.pointerWatch();
    if (!clickMonitor)
        return;
    connect(clickMonitor.get(), &PointerWatch::pressed, this, &ThumbnailPanel::pressedSomewhere);
    connect(clickMonitor.get(), &PointerWatch::typed, this, &ThumbnailPanel::typedSomewhere);
}

void ThumbnailPanel::typedSomewhere(quint32 keysym) {
    // Shift, Control and the like go with a key of either.
    const bool modifier = (keysym >= 0xffe1 && keysym <= 0xffee) || (keysym >= 0xfe01 && keysym <= 0xfe13) ||
                          keysym == 0xff7e || keysym == 0xff7f;
    const auto grabbed = [keysym](const EscapeKeyGrab& grab) {
        return grab.isActive() && grab.keysyms().contains(keysym);
    };
    if (modifier || grabbed(*services.escape) || grabbed(*services.deleteKeys) || grabbed(*services.copyKey) ||
        KeyRoute::ownWindowHasKeys())
        return;
    // The user is typing into another program: an editor whose picture is still being read must not take the
    // keyboard from it when it comes.
    KeyRoute::typedElsewhere();
    if (!clickedIn)
        return;
    // A key went to the window that has the focus: so does the keyboard, as far as the user can tell.
    clickedIn.reset();
    updateKeys();
}

void ThumbnailPanel::pressedSomewhere(const PointerPress& press) {
    const bool inCard = press.ownWindow && press.positionKnown && QApplication::topLevelAt(press.position) == this;
    if (inCard)
        clickedIn = KeyRoute::userAction();
    else
        clickedIn.reset();
    updateKeys();
    if (press.ownWindow && press.positionKnown) {
        // Work in the card itself, in an editor or in the colour chooser never dismisses the card.
        QWidget* window = QApplication::topLevelAt(press.position);
        if (window == this || qobject_cast<EditorWindow*>(window) || qobject_cast<QColorDialog*>(window))
            return;
    }
    // Decided on the main queue once the press itself has had its effect.
    Dispatch::after(0, this, [this] { clickedAway(); });
}

void ThumbnailPanel::clickedAway() {
    if (closed || !isVisible())
        return;
    life->clickedAway();
}

void ThumbnailPanel::collapse(QRectF below) {
    life->pause();
    content->setPillOnly(true);
    content->layout(false);
    content->placeSubviews();
    move(CardGeometry::collapsedTopLeft(below, content->cardLayout()).toPoint());
    QWidget::show();
    raise();
}

void ThumbnailPanel::expand(QRectF imageAt) {
    content->setPillOnly(false);
    content->layout(false);
    content->placeSubviews();
    if (fade)
        fade->stop();
    setWindowOpacity(1.0);
    move(CardGeometry::expandedTopLeft(imageAt, content->cardLayout(), QSizeF(size()), screens()).toPoint());
    QWidget::show();
    raise();
    startClickAway();
}

bool ThumbnailPanel::close() {
    return QWidget::close();
}

void ThumbnailPanel::closeEvent(QCloseEvent* event) {
    closed = true;
    clickMonitor.reset();
    services.escape->setActive(false);
    services.deleteKeys->setActive(false);
    services.copyKey->setActive(false);
    life->close();
    if (fade)
        fade->stop();
    content->closeEditors();
    content->finishPDF();
    // A menu the card opened ends its loop now; the card lives on until that loop has returned.
    for (QMenu* menu : content->findChildren<QMenu*>())
        menu->close();
    QWidget::closeEvent(event);
    if (releaseWhenClosed && !retiring) {
        retiring = true;
        deleteWhenSettled();
    }
}

void ThumbnailPanel::retire() {
    close();
    if (retiring)
        return;
    retiring = true;
    deleteWhenSettled();
}

void ThumbnailPanel::deleteWhenSettled() {
    // A drag-out runs a nested event loop inside the view, and a running tool will still apply its result:
    // the card stays allocated until both are over.
    if (content->inNestedLoop() || content->isBusy() || content->dropInFlight())
        return;
    deleteLater();
}
