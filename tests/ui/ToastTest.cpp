#include "ui/Toast.h"

#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QPointer>
#include <QScreen>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

#include <cmath>
#include <thread>

namespace {

class ToastTest : public ::testing::Test {
protected:
    void TearDown() override {
        Toast::hide();
        QApplication::processEvents();
    }
};

} // namespace

TEST_F(ToastTest, SitsCentredAboveThePointAndFitsItsText) {
    struct Case {
        QString text;
        QPoint at;
    };
    const Case cases[] = {
        {QStringLiteral("Copied"), {400, 300}},
        {QStringLiteral("A rather longer message"), {300, 200}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        Toast::show(c.text, c.at, 5);
        QWidget* window = Toast::current();
        ASSERT_NE(window, nullptr);
        EXPECT_TRUE(window->isVisible());
        EXPECT_LE(std::abs(window->geometry().center().x() + 1 - c.at.x()), 1);
        EXPECT_EQ(window->geometry().bottom() + 1, c.at.y() - 14);
        const auto* label = window->findChild<QLabel*>();
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->text(), c.text);
        // The whole text shows.
        EXPECT_LE(label->geometry().right(), window->width());
        EXPECT_GE(label->width(), label->sizeHint().width());
    }
}

TEST_F(ToastTest, StaysOnItsScreenAndWrapsWhatIsWiderThanIt) {
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    QString longText;
    for (int i = 0; i < 40; ++i)
        longText += QStringLiteral("Can't save the screenshot in the folder ");
    struct Case {
        QString text;
        QPoint at;
    };
    const Case cases[] = {
        {QStringLiteral("A rather longer message about what went wrong"), screen.topLeft() + QPoint(2, 2)},
        {QStringLiteral("Near the right edge"), QPoint(screen.right(), screen.center().y())},
        {longText, screen.center()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.left(40).toStdString());
        Toast::show(c.text, c.at, 5);
        QWidget* window = Toast::current();
        ASSERT_NE(window, nullptr);
        EXPECT_TRUE(screen.contains(window->geometry())) << window->geometry().x() << "," << window->geometry().y()
                                                         << " " << window->width() << "x" << window->height();
        const auto* label = window->findChild<QLabel*>();
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->text(), c.text);
        // Every line of the text shows inside the pill.
        EXPECT_LE(label->geometry().bottom(), window->height());
        EXPECT_GE(label->height(), label->heightForWidth(label->width()) > 0 ? label->heightForWidth(label->width())
                                                                             : label->sizeHint().height());
    }
}

TEST_F(ToastTest, ANewToastReplacesTheOldAtOnce) {
    Toast::show(QStringLiteral("First"), QPoint(300, 300), 0.3);
    QPointer<QWidget> first = Toast::current();
    QTest::qWait(50);
    Toast::show(QStringLiteral("Second"), QPoint(300, 300), 0.6);
    QPointer<QWidget> second = Toast::current();
    ASSERT_NE(first, second);
    // The first is gone without a fade.
    EXPECT_TRUE(!first || !first->isVisible());
    // When the first one's time is up, the second is untouched.
    QTest::qWait(450);
    ASSERT_TRUE(second);
    EXPECT_TRUE(second->isVisible());
    EXPECT_DOUBLE_EQ(second->windowOpacity(), 1.0);
    EXPECT_EQ(Toast::current(), second);
}

TEST_F(ToastTest, FadesInStaysThenFadesOutAndIsOrderedOut) {
    Toast::show(QStringLiteral("Done"), QPoint(300, 300), 0.3);
    QPointer<QWidget> window = Toast::current();
    ASSERT_TRUE(window);
    EXPECT_LT(window->windowOpacity(), 1.0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return window->windowOpacity() == 1.0; }, 2000));
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window->isVisible(); }, 3000));
    // Ordered out, not released: it stays current until replaced or hidden.
    EXPECT_EQ(Toast::current(), window);
    Toast::hide();
    EXPECT_EQ(Toast::current(), nullptr);
}

TEST_F(ToastTest, OddDurationsStillEnd) {
    for (const double duration : {0.0, -1.0, std::nan("")}) {
        SCOPED_TRACE(duration);
        Toast::show(QStringLiteral("Quick"), QPoint(300, 300), duration);
        QPointer<QWidget> window = Toast::current();
        ASSERT_TRUE(window);
        // The fade-out starts right after the fade-in began, so the toast never reaches full opacity.
        EXPECT_TRUE(QTest::qWaitFor([&] { return !window->isVisible(); }, 3000));
    }
}

TEST_F(ToastTest, HideTakesItOffAtOnceAndTwiceIsHarmless) {
    Toast::show(QStringLiteral("Working"), QPoint(300, 300), 5);
    QPointer<QWidget> window = Toast::current();
    Toast::hide();
    Toast::hide();
    EXPECT_EQ(Toast::current(), nullptr);
    QTest::qWait(20);
    EXPECT_FALSE(window); // released
}

// The note of a slow read takes itself off, never a message shown after it.
TEST_F(ToastTest, HidingOneToastLeavesAnyOther) {
    for (const int mode : {0, 1, 2}) { // alone; a message shown after it; that, and hidden twice
        SCOPED_TRACE(mode);
        const Toast::Id reading = Toast::show(QStringLiteral("Reading a.pdf\u2026"), QPoint(300, 300), 5);
        ASSERT_NE(reading, 0u);
        if (mode > 0)
            EXPECT_NE(Toast::show(QStringLiteral("Can't open b.png"), QPoint(300, 300), 5), reading);
        QPointer<QWidget> showing = Toast::current();
        for (int i = 0; i <= int(mode == 2); ++i)
            Toast::hide(reading);
        EXPECT_EQ(Toast::current() == nullptr, mode == 0);
        EXPECT_EQ(!showing || !showing->isVisible(), mode == 0);
        Toast::hide();
    }
}

TEST_F(ToastTest, WithoutACompositorTheWindowIsCutRound) {
    // The offscreen platform has no compositor.
    Toast::show(QStringLiteral("Rounded"), QPoint(300, 300), 5);
    QWidget* window = Toast::current();
    ASSERT_NE(window, nullptr);
    const QRegion mask = window->mask();
    ASSERT_FALSE(mask.isEmpty());
    EXPECT_FALSE(mask.contains(QPoint(0, 0)));
}

TEST_F(ToastTest, AShowFromAWorkerThreadArrivesOnTheMainThread) {
    Toast::hide();
    std::thread worker([] { Toast::show(QStringLiteral("From a worker"), QPoint(300, 300), 5); });
    worker.join();
    EXPECT_EQ(Toast::current(), nullptr);
    ASSERT_TRUE(QTest::qWaitFor([] { return Toast::current() != nullptr; }, 2000));
    EXPECT_EQ(Toast::current()->thread(), QApplication::instance()->thread());
    EXPECT_EQ(Toast::current()->findChild<QLabel*>()->text(), QStringLiteral("From a worker"));
}
