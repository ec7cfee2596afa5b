#include "onboarding/Onboarding.h"
#include "onboarding/CheckRow.h"
#include "onboarding/ShadButton.h"
#include "onboarding/StatusPill.h"
#include "platform/Defaults.h"
#include "platform/fake/FakePlatform.h"
#include "ui/UI.h"

#include <QFontMetricsF>
#include <QKeyEvent>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {

// A program top in memory: the hot actions' flags and the calls the tour makes.
struct Fixture {
    Fixture() : defaults(dir.path(), QStringLiteral("test")) {
        Onboarding::Services s;
        s.defaults = &defaults;
        s.checks = &platform.checks();
        s.compositor = &platform.compositor();
        s.isEnabled = [this](const QString& key) { return !disabled.contains(key); };
        s.setEnabled = [this](const QString& key, bool on) {
            calls << key + (on ? QStringLiteral(" on") : QStringLiteral(" off"));
            on ? disabled.removeAll(key) : (disabled << key, 0);
        };
        s.changeShortcut = [this](const QString& key) {
            calls << QStringLiteral("change ") + key;
            return false;
        };
        s.refusedHotKeys = [this] {
            ++asked;
            return refused;
        };
        s.trayIcon = [] { return std::optional<QRect>(QRect(1100, 770, 22, 22)); };
        Onboarding::setServices(s);
    }
    ~Fixture() {
        if (Onboarding* open = Onboarding::current())
            delete open;
        Onboarding::setServices({});
    }
    Onboarding& open(bool atSetup = false) {
        Onboarding::show(atSetup);
        return *Onboarding::current();
    }
    static void press(QWidget& w, int key) {
        QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
        QCoreApplication::sendEvent(&w, &event);
    }
    static QStringList texts(QWidget* row) {
        QStringList out;
        for (QObject* child : row->children()) {
            if (auto* label = qobject_cast<QLabel*>(child))
                out << label->text();
            else if (auto* button = qobject_cast<ShadButton*>(child))
                out << QStringLiteral("[") + button->text() + QStringLiteral("]");
            else if (auto* w = qobject_cast<QWidget*>(child))
                out << w->accessibleName();
        }
        return out;
    }
    static bool settled(Onboarding& tour, const QString& title) {
        return QTest::qWaitFor([&] { return tour.titleLabel()->text() == title; }, 1000);
    }

    QTemporaryDir dir;
    Defaults defaults;
    FakePlatform platform;
    QStringList disabled, refused, calls;
    int asked = 0; // how often the refused hot keys were asked for, which tries them again
};

} // namespace

TEST(Onboarding, PagesShowTheUsersOwnKeysAndWheelKey) {
    Fixture f;
    f.defaults.set(QStringLiteral("wheelModifier"), 0x80000);
    f.defaults.set(QStringLiteral("shortcut.capture"), QByteArray(R"({"keyCode":40,"modifiers":6144,"keyName":"K"})"));
    f.defaults.set(QStringLiteral("shortcut.library"), QByteArray("{not json"));
    Onboarding& tour = f.open();
    const QList<Onboarding::Page> pages = tour.pages();
    ASSERT_EQ(pages.size(), 8);
    EXPECT_EQ(pages.at(0).title, QStringLiteral("Meet Pictolarium"));
    EXPECT_EQ(Onboarding::capWords(*pages.at(1).keys), (QStringList{"Ctrl", "Alt", "K"}));
    EXPECT_EQ(Onboarding::capWords(*pages.at(2).keys), (QStringList{"Ctrl", "Alt", "K"}));
    EXPECT_EQ(Onboarding::capWords(*pages.at(4).keys), (QStringList{"Super", "Shift", "S"})) << "damaged: the default";
    EXPECT_EQ(pages.at(6).title, QStringLiteral("Alt-drag to convert"));
    EXPECT_TRUE(pages.at(6).body.startsWith(QStringLiteral("Hold Alt while dragging")));
    // Keys of more than one letter stay whole on their cap.
    EXPECT_EQ(Onboarding::capWords(Shortcut{111, 0, QStringLiteral("F12")}), QStringList{"F12"});
    EXPECT_EQ(Onboarding::capWords(Shortcut{49, Shortcut::command, QStringLiteral("Space")}),
              (QStringList{"Super", "Space"}));
    // Only the two tap pages carry the hot action's buttons.
    for (int i : {1, 4})
        EXPECT_FALSE(pages.at(i).actionKey.isEmpty()) << i;
    for (int i : {2, 5})
        EXPECT_TRUE(pages.at(i).actionKey.isEmpty()) << i;
}

TEST(Onboarding, KeysPageThroughAndEscapeFinishes) {
    Fixture f;
    Onboarding& tour = f.open();
    EXPECT_EQ(tour.eyebrowLabel()->text(), QStringLiteral("WELCOME"));
    EXPECT_TRUE(tour.backButton()->isHidden());
    Fixture::press(tour, Qt::Key_Left);
    EXPECT_EQ(tour.pageIndex(), 0) << "nothing before the first page";
    Fixture::press(tour, Qt::Key_Right);
    ASSERT_TRUE(Fixture::settled(tour, QStringLiteral("Tap to grab a window")));
    EXPECT_EQ(Fixture::texts(tour.keycapsRow()),
              (QStringList{"Super", "+", "Shift", "+", "D", "\u00b7  tap", "[Change]", "[On]"}));
    Fixture::press(tour, Qt::Key_Space);
    Fixture::press(tour, Qt::Key_Return);
    EXPECT_EQ(tour.pageIndex(), 3);
    Fixture::press(tour, Qt::Key_Left);
    EXPECT_EQ(tour.pageIndex(), 2);
    ASSERT_TRUE(Fixture::settled(tour, QStringLiteral("Hold to slice a piece")));
    EXPECT_EQ(Fixture::texts(tour.keycapsRow()), (QStringList{"Super", "+", "Shift", "+", "D", "\u00b7  hold"}));

    QPointer<Onboarding> watched(&tour);
    Fixture::press(tour, Qt::Key_Escape);
    EXPECT_EQ(f.defaults.boolean(QStringLiteral("onboardingSeen")), true);
    EXPECT_EQ(f.defaults.boolean(QStringLiteral("onboardingAtPermissions")), false);
    EXPECT_TRUE(QTest::qWaitFor([&] { return watched.isNull(); }, 2000)) << "closes after its fade";
}

TEST(Onboarding, OpensOnceAndResumesAtTheSetupPage) {
    {
        Fixture f;
        f.defaults.set(QStringLiteral("onboardingSeen"), QStringLiteral("yes"));
        Onboarding::showIfFirstRun();
        ASSERT_NE(Onboarding::current(), nullptr) << "a seen flag of another type counts as unset";
        EXPECT_EQ(Onboarding::current()->pageIndex(), 0);
    }
    {
        Fixture f;
        f.defaults.set(QStringLiteral("onboardingSeen"), true);
        Onboarding::showIfFirstRun();
        EXPECT_EQ(Onboarding::current(), nullptr);
    }
    Fixture f;
    f.defaults.set(QStringLiteral("onboardingAtPermissions"), true);
    Onboarding::showIfFirstRun();
    Onboarding* tour = Onboarding::current();
    ASSERT_NE(tour, nullptr);
    EXPECT_EQ(tour->pageIndex(), 7);
    EXPECT_EQ(tour->heroCard()->height(), 216);
    EXPECT_FALSE(tour->staysOnTop()) << "the setup page lets other windows come first";
    EXPECT_TRUE(tour->skipButton()->isHidden());
    EXPECT_EQ(tour->nextButton()->text(), QStringLiteral("Let's go"));

    // A second show starts afresh at the welcome page.
    QPointer<Onboarding> first(tour);
    Onboarding::show(false);
    QCoreApplication::processEvents();
    EXPECT_TRUE(QTest::qWaitFor([&] { return first.isNull(); }, 1000));
    EXPECT_EQ(Onboarding::current()->pageIndex(), 0);
    EXPECT_TRUE(Onboarding::current()->staysOnTop());
    EXPECT_EQ(Onboarding::current()->heroCard()->height(), 300);
    EXPECT_EQ(f.defaults.boolean(QStringLiteral("onboardingAtPermissions")), false);
}

TEST(Onboarding, TheSwitchTurnsTheHotActionOffAndOn) {
    Fixture f;
    Onboarding& tour = f.open();
    Fixture::press(tour, Qt::Key_Right);
    ASSERT_TRUE(Fixture::settled(tour, QStringLiteral("Tap to grab a window")));
    const auto button = [&](const QString& title) -> ShadButton* {
        for (ShadButton* b : tour.keycapsRow()->findChildren<ShadButton*>())
            if (b->text() == title)
                return b;
        return nullptr;
    };
    ASSERT_NE(button(QStringLiteral("On")), nullptr);
    EXPECT_TRUE(button(QStringLiteral("On"))->primary);
    button(QStringLiteral("On"))->click();
    ASSERT_NE(button(QStringLiteral("Off")), nullptr);
    EXPECT_TRUE(button(QStringLiteral("Off"))->ghost);
    button(QStringLiteral("Off"))->click();
    button(QStringLiteral("Change"))->click();
    EXPECT_EQ(f.calls, (QStringList{"capture off", "capture on", "change capture"}));
    EXPECT_EQ(Fixture::texts(tour.keycapsRow()).last(), QStringLiteral("[On]"));
}

TEST(Onboarding, SetupChecksSayWhatIsMissingAndRaiseWhenFixed) {
    Fixture f;
    f.platform.compositing.on = false;
    f.platform.desktopChecks.tray = false;
    f.refused = {QStringLiteral("capture")};
    Onboarding& tour = f.open(true);
    const auto pills = [&] {
        QStringList out;
        for (CheckRow* row : tour.checkRows())
            out << row->pill->text;
        return out;
    };
    ASSERT_EQ(tour.checkRows().size(), 4);
    EXPECT_EQ(pills(), (QStringList{"\u2713  Ready", "Taken", "Missing", "Off"}));
    EXPECT_TRUE(tour.titleLabel()->text().startsWith(QStringLiteral("Not ready: hot keys")))
        << tour.titleLabel()->text().toStdString();
    EXPECT_TRUE(tour.checkRows().at(1)->actionable());
    EXPECT_FALSE(tour.checkRows().at(2)->actionable()) << "nothing to click for a missing tray";
    tour.checkRows().at(1)->click();
    EXPECT_EQ(f.calls, QStringList{"change capture"});

    f.refused.clear();
    f.platform.compositing.on = true;
    f.platform.desktopChecks.tray = true;
    tour.refreshPermissions();
    EXPECT_EQ(pills(), QStringList(4, QStringLiteral("\u2713  Ready")));
    EXPECT_TRUE(tour.checkRows().at(0)->pill->on);
    EXPECT_EQ(tour.titleLabel()->text(), QStringLiteral("Ready to capture"));

    // On Wayland the page says why capture cannot work.
    f.platform.desktopChecks.waylandSession = true;
    delete &tour;
    Onboarding& again = f.open(true);
    EXPECT_EQ(again.checkRows().first()->pill->text, QStringLiteral("Wayland"));
    EXPECT_EQ(again.bodyLabel()->property("plainText").toString(),
              QStringLiteral("This desktop runs on Wayland; capture needs an X11 desktop."));
}

// The setup page's title names what is not ready, as much of it as fits on its one line.
TEST(Onboarding, SetupTitleNamesWhatIsNotReady) {
    QFont title = UI::font(30, QFont::Bold); // as the page sets it
    title.setLetterSpacing(QFont::AbsoluteSpacing, -1.0);
    const struct {
        QStringList failing;
        QString said;
    } cases[] = {
        {{}, QStringLiteral("Ready to capture")},
        {{"compositor"}, QStringLiteral("Not ready: compositor")},
        {{"hot keys", "compositor"}, QStringLiteral("Not ready: hot keys and compositor")},
        {Onboarding::checkNames(), QStringLiteral("Not ready: capture and 3 more")},
    };
    for (const auto& c : cases) {
        const QString said = Onboarding::notReadyTitle(c.failing, title);
        EXPECT_EQ(said, c.said) << c.failing.join(',').toStdString();
        EXPECT_LE(QFontMetricsF(title).horizontalAdvance(said), 544) << said.toStdString();
    }
    // Any two that fail are both named, on the one line.
    const QStringList names = Onboarding::checkNames();
    for (qsizetype a = 0; a < names.size(); ++a)
        for (qsizetype b = a + 1; b < names.size(); ++b) {
            const QString said = Onboarding::notReadyTitle({names[a], names[b]}, title);
            EXPECT_EQ(said, QStringLiteral("Not ready: ") + names[a] + QStringLiteral(" and ") + names[b]);
            EXPECT_LE(QFontMetricsF(title).horizontalAdvance(said), 544) << said.toStdString();
        }
    EXPECT_EQ(Onboarding::notReadyTitle({"hot keys", "tray icon", "compositor"}, UI::font(8)),
              QStringLiteral("Not ready: hot keys, tray icon and compositor"))
        << "every name where they fit";
}

// A hot key another program let go is taken again while any page shows, not only the setup page.
TEST(Onboarding, RefusedHotKeysAreTriedAgainOnEveryPage) {
    Fixture f;
    f.refused = {QStringLiteral("capture")};
    Onboarding& tour = f.open();
    ASSERT_EQ(tour.pageIndex(), 0);
    f.asked = 0;
    EXPECT_TRUE(QTest::qWaitFor([&] { return f.asked > 0; }, 2500)) << "never tried on the welcome page";
}

TEST(TourControls, LooksFollowTheirState) {
    const auto pixel = [](QWidget& w, QPoint at) {
        w.resize(w.size());
        QImage image(w.size(), QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::black);
        w.render(&image, {}, {}, QWidget::DrawChildren);
        return image.pixelColor(at);
    };
    ShadButton ghost(QString(), false, true);
    ghost.resize(60, 32);
    EXPECT_EQ(pixel(ghost, {30, 16}), QColor(Qt::black)) << "a ghost without hover draws no fill";
    ShadButton back(QString(), false, false);
    back.resize(72, 32);
    EXPECT_GT(pixel(back, {36, 16}).lightness(), 5) << "the secondary look always has its faint fill";
    ShadButton next(QString(), true, false);
    next.resize(92, 32);
    EXPECT_GT(pixel(next, {46, 16}).green(), 150) << "primary is green";

    StatusPill pill;
    pill.resize(72, 26);
    pill.text = QStringLiteral("Off");
    EXPECT_LT(pixel(pill, {6, 13}).green(), 60) << "a failing check with nothing to do is not drawn as a button";
    pill.actionable = true;
    EXPECT_GT(pixel(pill, {6, 13}).green(), 150) << "one that offers a change is the green call to action";
    pill.on = true;
    EXPECT_LT(pixel(pill, {8, 13}).green(), 60) << "a passing one is a faint tint";
}
