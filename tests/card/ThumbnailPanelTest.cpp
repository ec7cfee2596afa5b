#include "card/ThumbnailPanel.h"

#include "FakeCardClock.h"
#include "card/PDFSession.h"
#include "card/Thumbnail.h"
#include "card/ThumbnailView.h"
#include "platform/Defaults.h"
#include "platform/EscapeKeyGrab.h"
#include "platform/PointerWatch.h"
#include "platform/fake/FakePlatform.h"
#include "platform/fake/FakePointerWatch.h"
#include "ui/FormatBadge.h"
#include "ui/KeyRoute.h"
#include "ui/Pill.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEnterEvent>
#include <QFile>
#include <QPainter>
#include <QPdfWriter>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <gtest/gtest.h>

#include <optional>

namespace {

using Hold = CardLifetime::Hold;
using Phase = CardLifetime::Phase;

class FakeEscape : public EscapeKeyGrab {
public:
    explicit FakeEscape(QList<quint32> keysyms = {0xff1b}) : EscapeKeyGrab(nullptr, std::move(keysyms)) {}
    bool setActive(bool on) override {
        active = on;
        return true;
    }
    bool isActive() const override { return active; }
    void press() { emit pressed(); }
    bool active = false;
};

const QRectF screenFrame(0, 0, 1280, 800);
const QRectF freeArea(0, 0, 1280, 770); // a panel along the bottom

struct Card {
    explicit Card(bool pdf = false, QSize picture = QSize(800, 500)) {
        ThumbnailPanel::Services s;
        auto ownedClock = std::make_unique<FakeCardClock>();
        clock = ownedClock.get();
        s.clock = std::move(ownedClock);
        auto ownedEscape = std::make_unique<FakeEscape>();
        escape = ownedEscape.get();
        s.escape = std::move(ownedEscape);
        auto ownedDelete = std::make_unique<FakeEscape>(QList<quint32>{0xffff, 0xff08});
        deleteKeys = ownedDelete.get();
        s.deleteKeys = std::move(ownedDelete);
        s.pointerWatch = [this] {
            auto w = std::make_unique<FakePointerWatch>();
            watch = w.get();
            ++watches;
            return w;
        };
        s.pointer = [this] { return pointer; };
        s.screens = [this] { return screens; };
        QImage image(picture, QImage::Format_RGB32);
        image.fill(Qt::gray);
        panel = new ThumbnailPanel(Shot{QUrl::fromLocalFile(QStringLiteral("/tmp/Card.png")), image, {}, {}},
                                   std::nullopt, pdf ? fakeSession() : nullptr, std::move(s));
    }
    ~Card() { delete panel.data(); }

    static std::shared_ptr<PDFSession> fakeSession();

    ThumbnailView* view() const { return panel->view(); }
    void hover(bool inside) { view()->onHover(inside); }

    QPointer<ThumbnailPanel> panel;
    FakeCardClock* clock = nullptr;
    FakeEscape* escape = nullptr;
    FakeEscape* deleteKeys = nullptr;
    FakePointerWatch* watch = nullptr;
    int watches = 0;
    QPoint pointer{1200, 700};
    QList<CardGeometry::Screen> screens{{screenFrame, freeArea}};
};

// A one-page PDF written by the test, opened as the capture road opens one.
std::shared_ptr<PDFSession> Card::fakeSession() {
    static QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("doc.pdf"));
    if (!QFile::exists(path)) {
        QPdfWriter writer(path);
        QPainter painter(&writer);
        painter.drawText(100, 100, QStringLiteral("page"));
    }
    return PDFSession::open(QUrl::fromLocalFile(path));
}

} // namespace

TEST(ThumbnailPanel, PlacedCentredOnThePointAndKeptOnItsScreen) {
    struct Case {
        const char* name;
        QPointF at;
        bool noScreens;
        QPoint topLeft;
    };
    // The card is 540 × 302; the clamping itself is CardGeometry's.
    const Case cases[] = {
        {"centred on the point", {400, 300}, false, {130, 149}},
        {"kept 8 above the panel", {400, 760}, false, {130, 770 - 8 - 302}},
        {"no screen at all: unclamped", {-500, 300}, true, {-770, 149}},
    };
    for (const Case& c : cases) {
        Card card;
        if (c.noScreens)
            card.screens.clear();
        card.panel->show(c.at);
        EXPECT_EQ(card.panel->size(), QSize(540, 302)) << c.name;
        EXPECT_EQ(card.panel->pos(), c.topLeft) << c.name;
        EXPECT_TRUE(card.panel->isVisible()) << c.name;
    }
}

TEST(ThumbnailPanel, LifetimeRunsOutUnlessHoveredOrHeld) {
    Card card;
    card.panel->show(QPointF(400, 300));
    card.clock->advance(3999);
    EXPECT_FALSE(card.panel->isFading());

    // Hovered: no timer at all, and Escape reaches the card only now.
    card.hover(true);
    EXPECT_TRUE(card.escape->active);
    card.clock->advance(60'000);
    EXPECT_FALSE(card.panel->isFading());
    card.hover(false);
    EXPECT_FALSE(card.escape->active);

    // Two holders: the first to finish does not free the card for the other.
    card.view()->onHold(Hold::Runner, true);
    card.view()->onHold(Hold::Picker, true);
    card.view()->onHold(Hold::Runner, false);
    card.clock->advance(10'000);
    EXPECT_FALSE(card.panel->isFading());
    card.view()->onHold(Hold::Picker, false);
    card.clock->advance(3999);
    card.view()->onEngage(); // use restarts the lifetime
    card.clock->advance(3999);
    EXPECT_FALSE(card.panel->isFading());
    card.clock->advance(1);
    EXPECT_TRUE(card.panel->isFading());
    ASSERT_TRUE(QTest::qWaitFor([&] { return card.panel->isClosed(); }, 3000));
    EXPECT_FALSE(card.panel->isVisible());

    Card pdf(true);
    ASSERT_NE(pdf.panel->pdf(), nullptr);
    pdf.panel->show(QPointF(400, 300));
    pdf.clock->advance(119'999);
    EXPECT_FALSE(pdf.panel->isFading());
    pdf.clock->advance(1);
    EXPECT_TRUE(pdf.panel->isFading());
}

TEST(ThumbnailPanel, EscapeWhileHoveredAndTheCloseButtonCloseAtOnce) {
    Card card;
    card.panel->show(QPointF(400, 300));
    card.escape->press(); // the pointer is elsewhere: not for this card
    EXPECT_FALSE(card.panel->isClosed());
    QEnterEvent enter(QPointF(100, 100), QPointF(100, 100), QPointF(500, 400));
    QApplication::sendEvent(card.view(), &enter);
    card.escape->press();
    EXPECT_TRUE(card.panel->isClosed());
    EXPECT_FALSE(card.panel->isFading()) << "closed at once, no fade";
    EXPECT_FALSE(card.escape->active);

    Card other;
    other.panel->show(QPointF(400, 300));
    other.view()->closeButton->click();
    EXPECT_TRUE(other.panel->isClosed());
}

TEST(ThumbnailPanel, ClickAwayOnlyOnceTheLifetimeHasPassed) {
    Card card;
    card.panel->show(QPointF(400, 300));
    ASSERT_NE(card.watch, nullptr);
    card.watch->press(QPoint(1000, 100));
    QTest::qWait(20);
    EXPECT_FALSE(card.panel->isFading());

    // Held past its lifetime: a click elsewhere is ignored until the hold ends.
    card.view()->onHold(Hold::Picker, true);
    card.clock->advance(5000);
    card.watch->press(QPoint(1000, 100));
    QTest::qWait(20);
    EXPECT_FALSE(card.panel->isFading());
    card.view()->onHold(Hold::Picker, false);
    card.clock->time += 4000; // the lifetime passed without the timer (say the event loop was busy)
    card.watch->press(QPoint(1000, 100));
    ASSERT_TRUE(QTest::qWaitFor([&] { return card.panel->isFading(); }, 1000));
    // One watch only, however often watching is started.
    card.panel->expand(QRectF(300, 200, 400, 250));
    EXPECT_EQ(card.watches, 1);
}

TEST(ThumbnailPanel, ALateResultDoesNotReviveAClosedCard) {
    Card card;
    card.panel->show(QPointF(400, 300));
    std::atomic<bool> release{false};
    ASSERT_TRUE(card.view()->run(QStringLiteral("Compressing"), [&] {
        while (!release)
            QThread::msleep(5);
        Shot next = card.view()->shot();
        next.fileURL = QUrl::fromLocalFile(QStringLiteral("/tmp/Card.jpg"));
        return std::pair<Shot, QString>(next, QStringLiteral("done"));
    }));
    card.clock->advance(60'000);
    EXPECT_FALSE(card.panel->isFading()) << "held while the work runs";
    card.panel->close();
    release = true;
    ASSERT_TRUE(QTest::qWaitFor([&] { return !card.view()->isBusy(); }, 5000));
    EXPECT_EQ(card.view()->shot().fileURL.fileName(), QStringLiteral("Card.jpg"));
    EXPECT_EQ(card.panel->lifetime().phase(), Phase::Closed);
    EXPECT_FALSE(card.clock->deadline.has_value());
    EXPECT_FALSE(card.panel->isVisible());
}

TEST(ThumbnailPanel, CollapsesToItsPillUnderAnEditorAndGrowsBack) {
    Card card;
    card.panel->show(QPointF(400, 300));
    card.view()->onHold(Hold::Editor, true);
    const QRectF canvas(300, 100, 600, 400);
    card.panel->collapse(canvas);
    const QRect pill = card.view()->pill->geometry().translated(card.panel->pos());
    EXPECT_EQ(card.panel->height(), qCeil(card.view()->pillHeight + 44));
    EXPECT_EQ(pill.top(), 100 + 400 + 32);
    EXPECT_NEAR(pill.center().x() + 0.5, canvas.center().x(), 1);
    EXPECT_FALSE(card.view()->badge->isVisibleTo(card.view()));

    card.panel->expand(QRectF(500, 300, 320, 200));
    const QRectF image = card.view()->imageRect().translated(card.panel->pos());
    EXPECT_NEAR(image.center().x(), 660, 1);
    EXPECT_NEAR(image.center().y(), 400, 1);
    EXPECT_TRUE(card.view()->badge->isVisibleTo(card.view()));

    // An editor on a second screen: the card grows back there, under the editor, not on the primary screen.
    card.screens.append({QRectF(1280, 0, 1920, 1080), QRectF(1280, 0, 1920, 1050)});
    card.panel->collapse(QRectF(1800, 300, 600, 400));
    card.panel->expand(QRectF(2000, 500, 320, 200));
    const QRectF there = card.view()->imageRect().translated(card.panel->pos());
    EXPECT_NEAR(there.center().x(), 2160, 1);
    EXPECT_NEAR(there.center().y(), 600, 1);
}

TEST(Thumbnail, OneCardAtATime) {
    QImage image(300, 200, QImage::Format_RGB32);
    image.fill(Qt::blue);
    const Shot a{QUrl::fromLocalFile(QStringLiteral("/tmp/a.png")), image, {}, {}};
    const Shot b{QUrl::fromLocalFile(QStringLiteral("/tmp/b.png")), image, {}, {}};
    Thumbnail::open(a, nullptr, QPoint(400, 300));
    QPointer<ThumbnailPanel> first = Thumbnail::current();
    ASSERT_TRUE(first);
    EXPECT_TRUE(first->isVisible());
    Thumbnail::open(b, nullptr, QPoint(500, 300));
    QPointer<ThumbnailPanel> second = Thumbnail::current();
    ASSERT_TRUE(second);
    EXPECT_NE(first, second);
    EXPECT_EQ(second->shot().fileURL.fileName(), QStringLiteral("b.png"));
    EXPECT_TRUE(!first || first->isClosed());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !first; })); // the replaced card is deleted
    // A card put back where a sticky note was: its picture lands on the note's rectangle.
    Thumbnail::show(a, QRect(300, 200, 150, 100));
    ThumbnailPanel* note = Thumbnail::current();
    ASSERT_NE(note, nullptr);
    const QRectF picture = note->view()->imageRect().translated(note->pos());
    EXPECT_EQ(picture.size(), QSizeF(150, 100));
    EXPECT_NEAR(picture.center().x(), 375, 1);
    EXPECT_NEAR(picture.center().y(), 250, 1);
    Thumbnail::dismiss();
    EXPECT_EQ(Thumbnail::current(), nullptr);
}

TEST(ThumbnailPanel, ASideViewKeepsThePictureInPlaceAndHoldsTheCard) {
    Card card(false, QSize(200, 100));
    // Low enough on the screen for the taller card to grow upwards from its picture, which stays on its pill.
    card.panel->show(QPointF(300, 400));
    const int height = card.panel->height();
    const QPointF picture = card.view()->imageRect().topLeft() + card.panel->pos();

    auto* side = new QWidget;
    card.view()->showSide(side);
    // Right of the picture, whose top-left stays where it was on screen.
    EXPECT_EQ(side->geometry().left(), qRound(card.view()->imageRect().right()) + 14);
    EXPECT_EQ(card.view()->imageRect().topLeft() + card.panel->pos(), picture);
    EXPECT_TRUE(card.panel->lifetime().isHeldFor(Hold::SideView));
    card.clock->advance(60'000);
    EXPECT_FALSE(card.panel->isFading());

    QPointer<QWidget> gone(side);
    card.view()->removeSide();
    // Back to its own height; its width is now the pill's, no longer the room kept before the pill existed.
    EXPECT_EQ(card.panel->height(), height);
    EXPECT_EQ(card.panel->width(), card.view()->pill->width() + 44);
    EXPECT_EQ(card.view()->imageRect().topLeft() + card.panel->pos(), picture);
    EXPECT_FALSE(card.panel->lifetime().isHeldFor(Hold::SideView));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !gone; }));
}

TEST(Thumbnail, ReplacedOrDismissedWhileItsFormatMenuIsOpen) {
    QImage image(300, 200, QImage::Format_RGB32);
    image.fill(Qt::green);
    const Shot a{QUrl::fromLocalFile(QStringLiteral("/tmp/a.png")), image, {}, {}};
    const Shot b{QUrl::fromLocalFile(QStringLiteral("/tmp/b.png")), image, {}, {}};
    for (const bool replace : {true, false}) {
        Thumbnail::open(a, nullptr, QPoint(400, 300));
        QPointer<ThumbnailPanel> first = Thumbnail::current();
        ASSERT_TRUE(first);
        bool ranInsideTheMenu = false;
        // A hot key arriving while the menu's own loop runs.
        QTimer::singleShot(0, [&] {
            ranInsideTheMenu = QApplication::activePopupWidget() != nullptr;
            if (replace)
                Thumbnail::open(b, nullptr, QPoint(500, 300));
            else
                Thumbnail::dismiss();
        });
        first->view()->showFormats();
        EXPECT_TRUE(ranInsideTheMenu) << replace;
        ASSERT_TRUE(QTest::qWaitFor([&] { return !first; })); // gone once the menu's loop has returned, and only once
        EXPECT_EQ(Thumbnail::current() != nullptr, replace);
        Thumbnail::dismiss();
    }
}

// A window of ours that takes typing (the rename box, a dialog) has the keys while it shows, even before the
// window manager hands it the focus: the hovered card lets go of its grabs, and a press already on its way is
// not the card's.
TEST(ThumbnailPanel, LetsGoOfItsKeysWhileAWindowOfOursTakesTyping) {
    Card card;
    card.panel->show(QPointF(400, 300));
    card.hover(true);
    card.watch->press(card.panel->geometry().center(), true);
    card.view()->onDeleteKeys(true);
    ASSERT_TRUE(card.escape->active);
    ASSERT_TRUE(card.deleteKeys->active);

    QWidget box(nullptr, Qt::Tool);
    box.show();
    KeyRoute::takeKeys(&box);
    EXPECT_FALSE(card.escape->active);
    EXPECT_FALSE(card.deleteKeys->active);
    bool done = false;
    card.view()->onDone = [&done] { done = true; };
    card.escape->press();
    EXPECT_FALSE(done) << "Escape typed into the box closed the card";

    box.hide();
    QCoreApplication::processEvents();
    EXPECT_TRUE(card.escape->active) << "the card's Escape is back once the box is gone";
    EXPECT_FALSE(card.deleteKeys->active) << "the keyboard went back to the program that had it, not to the card";
    card.escape->press();
    EXPECT_TRUE(done);
}

// The pointer resting on the card takes Escape alone: Delete and BackSpace (a selected review box) are the
// card's only once the user has clicked into it, while the pointer stays there, and go back to the program with
// the keyboard as soon as the user clicks elsewhere, turns to another program or types a key that went there.
TEST(ThumbnailPanel, ItsReviewKeysFollowAClickIntoItNotThePointer) {
    enum Step { Hover, Leave, ClickIn, ClickOther, ClickOurs, Switch, TypeLetter, TypeDelete, TypeShift };
    const struct {
        const char* name;
        std::vector<Step> steps;
        bool escape;
        bool deleteKeys;
        // The user counts as gone to another program: a window of ours that comes later (an editor whose
        // picture was being read) leaves the keyboard there.
        bool away = false;
    } cases[] = {
        {"the pointer resting on it", {Hover}, true, false},
        {"a click into it", {Hover, ClickIn}, true, true},
        // Where the pointer carries the keyboard, it went with the pointer to the terminal.
        {"a click into it, the pointer gone", {Hover, ClickIn, Leave}, false, false},
        {"a click into it, the pointer gone and back", {Hover, ClickIn, Leave, Hover}, true, true},
        {"then a click in another program", {Hover, ClickIn, ClickOther}, true, false},
        {"then a click in another window of ours", {ClickIn, ClickOurs}, false, false},
        {"then another program made active", {Hover, ClickIn, Switch}, true, false, true},
        {"then a letter that went to the terminal", {Hover, ClickIn, TypeLetter}, true, false, true},
        {"a letter typed into the terminal, no click", {TypeLetter}, false, false, true},
        {"then Delete, which came to it", {Hover, ClickIn, TypeDelete, TypeShift}, true, true},
        {"clicked into again after typing elsewhere", {Hover, ClickIn, TypeLetter, ClickIn}, true, true, true},
    };
    FakeWindowFocus focus;
    KeyRoute::setWindowFocus(&focus);
    focus.makeActive(4242);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Card card;
        card.panel->show(QPointF(400, 300));
        card.view()->onDeleteKeys(true);
        const QPoint inside = card.panel->geometry().center();
        const KeyRoute::Asked asked = KeyRoute::userAction();
        for (const Step step : c.steps) {
            switch (step) {
            case Hover:
            case Leave:
                card.hover(step == Hover);
                break;
            case ClickIn:
                card.watch->press(inside, true);
                break;
            case ClickOther:
                card.watch->press({20, 20});
                break;
            case ClickOurs:
                card.watch->press({20, 20}, true);
                break;
            case Switch:
                focus.makeActive(5151);
                break;
            case TypeLetter:
                card.watch->type(0x6c);
                break;
            case TypeDelete:
                card.watch->type(0xffff);
                break;
            case TypeShift:
                card.watch->type(0xffe1);
                break;
            }
            QCoreApplication::processEvents();
        }
        EXPECT_EQ(card.escape->active, c.escape);
        EXPECT_EQ(card.deleteKeys->active, c.deleteKeys);
        EXPECT_EQ(KeyRoute::leftSince(asked), c.away);
        focus.makeActive(4242);
    }
    KeyRoute::setWindowFocus(nullptr);
}
