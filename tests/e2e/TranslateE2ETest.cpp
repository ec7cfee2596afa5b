// The translate card with the real runtime against the stand-in server, and the default-language
// chooser of the program's panel menu.

#include "Desktop.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QThread>

#include <csignal>
#include <gtest/gtest.h>

namespace {

QStringList lines(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts)
                                          : QStringList();
}

QJsonValue setting(Desktop& desktop, const char* key) {
    QFile file(desktop.configHome() + QStringLiteral("/Pictolarium/org.pictolarium.Pictolarium.json"));
    file.open(QIODevice::ReadOnly);
    return QJsonDocument::fromJson(file.readAll())[QLatin1String(key)][QStringLiteral("v")];
}

void setup(Desktop& desktop) {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    desktop.setEnvironment(QStringLiteral("PICTOLARIUM_LLM_PORT"), QString::number(probe.serverPort()));
    desktop.setEnvironment(QStringLiteral("LANG"), QStringLiteral("en_US.UTF-8"));
    desktop.setEnvironment(QStringLiteral("LC_ALL"), QStringLiteral("en_US.UTF-8"));
}

// What the host's card shows, from its log.
struct Card {
    Desktop& desktop;
    QString log;

    QJsonObject state() const {
        QJsonObject last;
        for (const QString& line : lines(log))
            if (line.startsWith(QStringLiteral("state ")))
                last = QJsonDocument::fromJson(line.mid(6).toUtf8()).object();
        return last;
    }
    QString shown() const { return state()[QStringLiteral("shown")].toString(); }
    bool waitShown(const std::function<bool(const QString&)>& test) const {
        return Desktop::waitUntil([&] { return test(shown()); }, 15000);
    }
    void click(const char* name) const {
        for (const QString& line : lines(log))
            if (line.startsWith(QStringLiteral("place ") + QLatin1String(name) + u' '))
                desktop.xdotool({QStringLiteral("mousemove"), line.section(u' ', 2, 2), line.section(u' ', 3, 3),
                                 QStringLiteral("click"), QStringLiteral("1")});
    }
};

} // namespace

TEST(TranslateCard, TranslatesSummarizesAndTranslatesAnewThroughTheRuntime) {
    Desktop desktop;
    ASSERT_TRUE(desktop.ok()) << desktop.error().toStdString();
    setup(desktop);
    // The stand-in server, installed as a download would have left it, answering word by word.
    const QString llm = desktop.folder(QStringLiteral("data")) + QStringLiteral("/Pictolarium/llm");
    QDir().mkpath(llm + QStringLiteral("/engine-b11669/llama-b11669"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(FAKE_LLAMA_SERVER),
                            llm + QStringLiteral("/engine-b11669/llama-b11669/llama-server")));
    const QString model = llm + QStringLiteral("/gemma-3-1b-it-Q4_K_M.gguf");
    QFile script(model);
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write("mirror\ndelay_ms=120\nload_ms=600\nsummary=Two walks and a museum visit in one day.\n");
    script.close();

    const Card card{desktop, desktop.folder(QStringLiteral("host")) + QStringLiteral("/card.log")};
    desktop.start(QStringLiteral(TRANSLATE_HOST_BIN), {QStringLiteral("--log"), card.log});
    ASSERT_TRUE(
        Desktop::waitUntil([&] { return lines(card.log).join(u' ').contains(QStringLiteral("place copy")); }, 10000));
    QJsonObject state = card.state();
    EXPECT_EQ(state[QStringLiteral("source")].toString(), QStringLiteral("English \u2192"));
    EXPECT_EQ(state[QStringLiteral("target")].toString(), QStringLiteral("German"));
    EXPECT_TRUE(state[QStringLiteral("spinner")].toBool());
    EXPECT_FALSE(state[QStringLiteral("copy")].toBool());
    EXPECT_TRUE(card.shown().endsWith(QChar(0x2026))) << card.shown().toStdString();
    desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/translate-waiting.png"));

    // Growing text, then both paragraphs.
    ASSERT_TRUE(card.waitShown([](const QString& s) { return s.startsWith(QStringLiteral("German:")); }));
    desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/translate-growing.png"));
    const QString done = QStringLiteral(
        "German: The weather was lovely this morning, so we walked along the river to the old market.\n\n"
        "German: In the afternoon we visited the museum and had coffee with friends near the station.");
    ASSERT_TRUE(card.waitShown([&](const QString& s) { return s == done; })) << card.shown().toStdString();
    EXPECT_FALSE(card.state()[QStringLiteral("spinner")].toBool());
    desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/translate-done.png"));
    const QStringList prompts = lines(model + QStringLiteral(".prompts"));
    ASSERT_EQ(prompts.size(), 2);
    for (const QString& prompt : prompts)
        EXPECT_TRUE(prompt.contains(QStringLiteral("from English to German translator"))) << prompt.toStdString();
    EXPECT_LE(lines(model + QStringLiteral(".inflight")).value(0).toInt(), 4);

    card.click("copy");
    EXPECT_TRUE(Desktop::waitUntil(
        [&] { return lines(card.log).contains(QStringLiteral("clipboard ") + QString(done).replace(u'\n', u'¶')); },
        5000));

    card.click("summary");
    ASSERT_TRUE(card.waitShown(
        [](const QString& s) { return s == QStringLiteral("Two walks and a museum visit in one day."); }));
    desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/translate-summary.png"));
    EXPECT_TRUE(lines(model + QStringLiteral(".prompts")).last().contains(QStringLiteral("Reply in German")));
    card.click("translation");
    EXPECT_TRUE(card.waitShown([&](const QString& s) { return s == done; }));

    // French, typed into the picker's open list.
    card.click("picker");
    QThread::msleep(600);
    desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/translate-picker.png"));
    desktop.xdotool(
        {QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("80"), QStringLiteral("French")});
    desktop.xdotool({QStringLiteral("key"), QStringLiteral("Return")});
    EXPECT_TRUE(card.waitShown([](const QString& s) { return s.count(QStringLiteral("French:")) == 2; }))
        << card.shown().toStdString();
    desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/translate-french.png"));
    EXPECT_EQ(setting(desktop, "translateRecent"),
              QJsonValue(QJsonArray{Desktop::typed("string", QStringLiteral("fr"))}));
    // The servers the runtime started; the host goes with the desktop.
    for (const QString& pid : lines(model + QStringLiteral(".pid")))
        ::kill(pid.toInt(), SIGTERM);
}

TEST(TranslateCard, PanelMenuChooserStoresTheDefaultLanguage) {
    Desktop desktop;
    ASSERT_TRUE(desktop.ok()) << desktop.error().toStdString();
    setup(desktop);
    desktop.setEnvironment(QStringLiteral("LANGUAGE"), QStringLiteral("en_US:sv_SE"));
    desktop.startApp();
    ASSERT_TRUE(desktop.waitForApp());
    QPoint icon; // our small window docked in the tray at the bottom
    Desktop::waitUntil(
        [&] {
            for (const QString& id :
                 desktop
                     .run(QStringLiteral("xdotool"),
                          {QStringLiteral("search"), QStringLiteral("--classname"), QStringLiteral("pictolarium")})
                     .split(u'\n', Qt::SkipEmptyParts))
                if (const QRect r = desktop.windowGeometry(id.toUInt()); r.width() <= 32 && r.top() > 700)
                    icon = r.center();
            return !icon.isNull();
        },
        8000, 200);
    ASSERT_FALSE(icon.isNull()) << "no panel icon";
    const auto chooserShown = [&] {
        return !desktop
                    .run(QStringLiteral("xdotool"),
                         {QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                          QStringLiteral("^Translation Language$")})
                    .trimmed()
                    .isEmpty();
    };
    // The item lies above the size slider and six more items; whether the slider takes a key step
    // depends on the style, so try both.
    for (int ups : {7, 8}) {
        desktop.xdotool({QStringLiteral("mousemove"), QString::number(icon.x()), QString::number(icon.y()),
                         QStringLiteral("click"), QStringLiteral("1")});
        QThread::msleep(500);
        for (int i = 0; i < ups; ++i)
            desktop.xdotool(
                {QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("60"), QStringLiteral("Up")});
        desktop.xdotool({QStringLiteral("key"), QStringLiteral("Return")});
        if (Desktop::waitUntil(chooserShown, 3000, 100))
            break;
        desktop.xdotool({QStringLiteral("key"), QStringLiteral("Escape")});
    }
    ASSERT_TRUE(chooserShown());
    QThread::msleep(300);
    desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/translate-chooser.png"));
    EXPECT_TRUE(setting(desktop, "translateDefault").isUndefined());
    // Down from English to Swedish, the second favourite; Return is "Save".
    desktop.xdotool({QStringLiteral("key"), QStringLiteral("Down")});
    desktop.xdotool({QStringLiteral("key"), QStringLiteral("Return")});
    EXPECT_TRUE(Desktop::waitUntil([&] { return !chooserShown(); }, 5000));
    EXPECT_TRUE(Desktop::waitUntil(
        [&] { return setting(desktop, "translateDefault") == QJsonValue(QStringLiteral("sv")); }, 5000));
}
