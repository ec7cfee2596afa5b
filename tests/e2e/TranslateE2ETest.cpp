// The translate card with the real runtime against the stand-in server, the default-language
// chooser of the program's panel menu, and the card's translate tool in the program.

#include "ModelDesktop.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QThread>

#include <gtest/gtest.h>

using Translate = ModelDesktop;

TEST_F(Translate, CardTranslatesSummarizesAndTranslatesAnewThroughTheRuntime) {
    // The stand-in server answering word by word.
    ASSERT_TRUE(install("mirror\ndelay_ms=120\nload_ms=600\nsummary=Two walks and a museum visit in one day.\n"));
    ASSERT_NE(startHost(), nullptr);
    QJsonObject state = hostCard.state();
    EXPECT_EQ(state[QStringLiteral("source")].toString(), QStringLiteral("English \u2192"));
    EXPECT_EQ(state[QStringLiteral("target")].toString(), QStringLiteral("German"));
    EXPECT_TRUE(state[QStringLiteral("spinner")].toBool());
    EXPECT_FALSE(state[QStringLiteral("copy")].toBool());
    EXPECT_TRUE(hostCard.shown().endsWith(QChar(0x2026))) << hostCard.shown().toStdString();
    desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/translate-waiting.png"));

    // Growing text, then both paragraphs.
    ASSERT_TRUE(hostCard.waitShown([](const QString& s) { return s.startsWith(QStringLiteral("German:")); }));
    desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/translate-growing.png"));
    const QString done = QStringLiteral(
        "German: The weather was lovely this morning, so we walked along the river to the old market.\n\n"
        "German: In the afternoon we visited the museum and had coffee with friends near the station.");
    ASSERT_TRUE(hostCard.waitShown([&](const QString& s) { return s == done; })) << hostCard.shown().toStdString();
    EXPECT_FALSE(hostCard.state()[QStringLiteral("spinner")].toBool());
    desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/translate-done.png"));
    const QStringList prompts = fileLines(model + QStringLiteral(".prompts"));
    ASSERT_EQ(prompts.size(), 2);
    for (const QString& prompt : prompts)
        EXPECT_TRUE(prompt.contains(QStringLiteral("from English to German translator"))) << prompt.toStdString();
    EXPECT_LE(fileLines(model + QStringLiteral(".inflight")).value(0).toInt(), 4);

    hostCard.click("copy");
    EXPECT_TRUE(Desktop::waitUntil(
        [&] {
            return fileLines(hostCard.log).contains(QStringLiteral("clipboard ") + QString(done).replace(u'\n', u'¶'));
        },
        5000));

    hostCard.click("summary");
    ASSERT_TRUE(hostCard.waitShown(
        [](const QString& s) { return s == QStringLiteral("Two walks and a museum visit in one day."); }));
    desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/translate-summary.png"));
    EXPECT_TRUE(fileLines(model + QStringLiteral(".prompts")).last().contains(QStringLiteral("Reply in German")));
    hostCard.click("translation");
    EXPECT_TRUE(hostCard.waitShown([&](const QString& s) { return s == done; }));

    // French, typed into the picker's open list.
    hostCard.click("picker");
    QThread::msleep(600);
    desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/translate-picker.png"));
    desktop.xdotool(
        {QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("80"), QStringLiteral("French")});
    desktop.key("Return");
    EXPECT_TRUE(hostCard.waitShown([](const QString& s) { return s.count(QStringLiteral("French:")) == 2; }))
        << hostCard.shown().toStdString();
    desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/translate-french.png"));
    EXPECT_EQ(desktop.setting("translateRecent"),
              QJsonValue(QJsonArray{Desktop::typed("string", QStringLiteral("fr"))}));
}

TEST_F(Translate, PanelMenuChooserStoresTheDefaultLanguage) {
    desktop.setEnvironment(QStringLiteral("LANGUAGE"), QStringLiteral("en_US:sv_SE"));
    desktop.startApp();
    ASSERT_TRUE(desktop.waitForApp());
    const QPoint icon = desktop.trayIcon();
    ASSERT_FALSE(icon.isNull()) << "no panel icon";
    const auto chooserShown = [&] { return desktop.visibleWindow(QStringLiteral("^Translation Language$")) != 0; };
    // The item lies above the size slider and six more items; whether the slider takes a key step
    // depends on the style, so try both.
    for (int ups : {7, 8}) {
        desktop.xdotool({QStringLiteral("mousemove"), QString::number(icon.x()), QString::number(icon.y()),
                         QStringLiteral("click"), QStringLiteral("1")});
        QThread::msleep(500);
        desktop.xdotool(QStringList{QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("60")} +
                        QStringList(ups, QStringLiteral("Up")));
        desktop.key("Return");
        if (Desktop::waitUntil(chooserShown, 3000, 100))
            break;
        desktop.key("Escape");
    }
    ASSERT_TRUE(chooserShown());
    QThread::msleep(300);
    desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/translate-chooser.png"));
    EXPECT_TRUE(desktop.setting("translateDefault").isUndefined());
    // Down from English to Swedish, the second favourite; Return is "Save".
    desktop.key("Down");
    desktop.key("Return");
    EXPECT_TRUE(Desktop::waitUntil([&] { return !chooserShown(); }, 5000));
    EXPECT_TRUE(Desktop::waitUntil(
        [&] { return desktop.setting("translateDefault") == QJsonValue(QStringLiteral("sv")); }, 5000));
}

TEST_F(Translate, CardToolAsksForTheLanguageThenShowsTheTranslationBesideThePicture) {
    ASSERT_TRUE(install("mirror\n"));
    ASSERT_NO_FATAL_FAILURE(openGreetingCard());
    const QRect before = desktop.clientGeometry(card);

    // No language chosen yet: the first-time chooser, with the card out of the way; Return uses English.
    pressTranslate();
    const bool chooser = Desktop::waitUntil(
        [&] { return desktop.visibleWindow(QStringLiteral("^Which language should Pictolarium translate into")) != 0; },
        5000, 100);
    desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/translate-tool-chooser.png"));
    ASSERT_TRUE(chooser) << desktop.appStderr().toStdString();
    EXPECT_EQ(desktop.visibleWindow(QStringLiteral("^Pictolarium Card$")), 0u);
    desktop.key("Return");

    // The card comes back and widens for the side view, which shows the server's translation into German.
    ASSERT_TRUE(
        Desktop::waitUntil([&] { return desktop.clientGeometry(card).width() > before.width() + 100; }, 20000, 200));
    Desktop::waitUntil([&] { return fileLines(model + QStringLiteral(".prompts")).size() == 1; }, 20000, 200);
    const QStringList prompts = fileLines(model + QStringLiteral(".prompts"));
    ASSERT_EQ(prompts.size(), 1);
    EXPECT_TRUE(prompts[0].contains(QStringLiteral("Good morning everyone"))) << prompts[0].toStdString();
    EXPECT_TRUE(prompts[0].contains(QStringLiteral("to German"))) << prompts[0].toStdString();
    QString shown;
    EXPECT_TRUE(Desktop::waitUntil(
        [&] { return (shown = sideText()).contains(QStringLiteral("German: Good morning everyone")); }, 20000, 500))
        << shown.toStdString();
    desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/translate-tool-done.png"));
    EXPECT_EQ(desktop.setting("translateDefault"), QJsonValue(QStringLiteral("en")));
}

TEST_F(Translate, CardToolWithoutAModelShowsTheFailedDownloadAndStopsTurning) {
    // Nothing installed, and nothing listens where the downloads come from.
    const QString closed = QStringLiteral("http://127.0.0.1:%1").arg(freePort());
    desktop.setEnvironment(QStringLiteral("PICTOLARIUM_LLM_ENGINE_URL"), closed + QStringLiteral("/engine.tar.gz"));
    desktop.setEnvironment(QStringLiteral("PICTOLARIUM_LLM_MODEL_URL"), closed + QStringLiteral("/model.gguf"));
    ASSERT_NO_FATAL_FAILURE(
        openGreetingCard({{QStringLiteral("translateDefault"), Desktop::typed("string", QStringLiteral("de"))}}));

    pressTranslate();
    QString shown;
    EXPECT_TRUE(Desktop::waitUntil([&] { return (shown = sideText()).contains(QStringLiteral("Download failed")); },
                                   30000, 500))
        << shown.toStdString();
    EXPECT_EQ(desktop.visibleWindow(QStringLiteral("^Which language")), 0u) << "a language was chosen before";
    desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/translate-tool-failed.png"));
    // Nothing on the side view moves once it has failed: no spinner turning for ever.
    Desktop::pause(500);
    const QImage first = side();
    Desktop::pause(700);
    EXPECT_EQ(first, side());
}

// Ctrl+C on the side view, once the user has clicked into the card, copies what it shows while a terminal keeps
// the keyboard: the key never reaches the terminal (whose shell would take it as an interrupt). The pointer merely
// resting there after a click in the terminal leaves Ctrl+C to the terminal.
TEST_F(Translate, CtrlCOnTheSideViewCopiesItsTextAndLeavesTheTerminalAlone) {
    ASSERT_TRUE(install("mirror\n"));
    const QString log = desktop.home() + QStringLiteral("/keys.log");
    ASSERT_NO_FATAL_FAILURE(
        openGreetingCard({{QStringLiteral("translateDefault"), Desktop::typed("string", QStringLiteral("en"))}}));
    const quint32 terminal = desktop.keyLogTerminal(log);
    ASSERT_NE(terminal, 0u);
    const QRect before = desktop.clientGeometry(card);
    pressTranslate();
    ASSERT_TRUE(
        Desktop::waitUntil([&] { return desktop.clientGeometry(card).width() > before.width() + 100; }, 20000, 200));
    ASSERT_TRUE(
        Desktop::waitUntil([&] { return fileLines(model + QStringLiteral(".prompts")).size() == 1; }, 20000, 200));
    const QRect frame = desktop.clientGeometry(card);
    const QPoint onSide(frame.right() - 80, frame.center().y());
    desktop.click(desktop.clientGeometry(terminal).center());
    desktop.moveTo(onSide);
    Desktop::pause(800);
    int free = -1;
    desktop.run(QStringLiteral(GRABKEY_BIN), {QStringLiteral("c"), QStringLiteral("ctrl")}, &free);
    EXPECT_EQ(free, 0) << "the side view took Ctrl+C with the pointer merely resting on it";
    // A click into the side view: the card takes Ctrl+C.
    desktop.click(onSide);
    ASSERT_TRUE(Desktop::waitUntil(
        [&] {
            int code = -1;
            desktop.run(QStringLiteral(GRABKEY_BIN), {QStringLiteral("c"), QStringLiteral("ctrl")}, &code);
            return code != 0;
        },
        10000, 200))
        << "the side view never took Ctrl+C";
    QString copied;
    EXPECT_TRUE(Desktop::waitUntil(
        [&] {
            desktop.key("ctrl+c");
            copied = desktop.run(QStringLiteral(CLIPBOARD_PROBE_BIN), {});
            return copied.contains(QStringLiteral("Good morning everyone"));
        },
        20000, 1000))
        << copied.toStdString();
    EXPECT_EQ(desktop.activeWindow(), terminal);
    QFile file(log);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().isEmpty()) << "the terminal got a key";
}
