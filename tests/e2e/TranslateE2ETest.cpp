// The translate card with the real runtime against the stand-in server, and the default-language
// chooser of the program's panel menu.

#include "Desktop.h"

#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QThread>

#include <csignal>
#include <gtest/gtest.h>

namespace {

quint16 freePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

QStringList lines(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QJsonObject lastState(const QString& log) {
    QJsonObject state;
    for (const QString& line : lines(log))
        if (line.startsWith(QStringLiteral("state ")))
            state = QJsonDocument::fromJson(line.mid(6).toUtf8()).object();
    return state;
}

QPoint place(const QString& log, const QString& name) {
    for (const QString& line : lines(log)) {
        const QStringList parts = line.split(QLatin1Char(' '));
        if (parts.size() == 4 && parts[0] == QStringLiteral("place") && parts[1] == name)
            return {parts[2].toInt(), parts[3].toInt()};
    }
    return {};
}

QJsonValue setting(Desktop& desktop, const char* key) {
    QFile file(desktop.configHome() + QStringLiteral("/Pictolarium/org.pictolarium.Pictolarium.json"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object().value(QLatin1String(key)).toObject().value(
        QStringLiteral("v"));
}

void click(Desktop& desktop, QPoint at) {
    desktop.xdotool({QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y()),
                     QStringLiteral("click"), QStringLiteral("1")});
}

// Ends the servers the runtime started; the host goes with the desktop.
void endServers(const QString& model) {
    for (const QString& pid : lines(model + QStringLiteral(".pid")))
        ::kill(pid.toInt(), SIGTERM);
}

} // namespace

TEST(TranslateCard, TranslatesSummarizesAndTranslatesAnewThroughTheRuntime) {
    Desktop desktop;
    ASSERT_TRUE(desktop.ok()) << desktop.error().toStdString();
    desktop.setEnvironment(QStringLiteral("LANG"), QStringLiteral("en_US.UTF-8"));
    desktop.setEnvironment(QStringLiteral("LC_ALL"), QStringLiteral("en_US.UTF-8"));
    desktop.setEnvironment(QStringLiteral("LANGUAGE"), QString());
    desktop.setEnvironment(QStringLiteral("PICTOLARIUM_LLM_PORT"), QString::number(freePort()));

    // The stand-in server, installed as a download would have left it, answering slowly word by word.
    const QString llm = desktop.folder(QStringLiteral("data")) + QStringLiteral("/Pictolarium/llm");
    const QString server = llm + QStringLiteral("/engine-b11669/llama-b11669/llama-server");
    QDir().mkpath(QFileInfo(server).absolutePath());
    ASSERT_TRUE(QFile::copy(QStringLiteral(FAKE_LLAMA_SERVER), server));
    const QString model = llm + QStringLiteral("/gemma-3-1b-it-Q4_K_M.gguf");
    QFile script(model);
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write("mirror\ndelay_ms=120\nload_ms=600\nsummary=Two walks and a museum visit in one day.\n");
    script.close();

    const QString log = desktop.folder(QStringLiteral("host")) + QStringLiteral("/card.log");
    desktop.start(QStringLiteral(TRANSLATE_HOST_BIN), {QStringLiteral("--log"), log});
    ASSERT_TRUE(Desktop::waitUntil([&] { return !place(log, QStringLiteral("copy")).isNull(); }, 10000));
    QJsonObject state = lastState(log);
    EXPECT_EQ(state.value(QStringLiteral("source")).toString(), QStringLiteral("English \u2192"));
    EXPECT_EQ(state.value(QStringLiteral("target")).toString(), QStringLiteral("German"));
    EXPECT_TRUE(state.value(QStringLiteral("spinner")).toBool());
    EXPECT_FALSE(state.value(QStringLiteral("copy")).toBool());
    EXPECT_TRUE(state.value(QStringLiteral("shown")).toString().endsWith(QChar(0x2026)));
    desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/translate-waiting.png"));

    // Growing text, then both paragraphs translated.
    ASSERT_TRUE(Desktop::waitUntil(
        [&] { return lastState(log).value(QStringLiteral("shown")).toString().startsWith(QStringLiteral("German:")); },
        15000));
    desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/translate-growing.png"));
    const QString done = QStringLiteral(
        "German: The weather was lovely this morning, so we walked along the river to the old market.\n\n"
        "German: In the afternoon we visited the museum and had coffee with friends near the station.");
    ASSERT_TRUE(Desktop::waitUntil(
        [&] { return lastState(log).value(QStringLiteral("shown")).toString() == done; }, 15000))
        << lastState(log).value(QStringLiteral("shown")).toString().toStdString();
    state = lastState(log);
    EXPECT_FALSE(state.value(QStringLiteral("spinner")).toBool());
    EXPECT_TRUE(state.value(QStringLiteral("copy")).toBool());
    desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/translate-done.png"));
    const QStringList prompts = lines(model + QStringLiteral(".prompts"));
    ASSERT_EQ(prompts.size(), 2);
    for (const QString& prompt : prompts)
        EXPECT_TRUE(prompt.contains(QStringLiteral("from English to German translator"))) << prompt.toStdString();
    EXPECT_LE(lines(model + QStringLiteral(".inflight")).value(0).toInt(), 4);
    EXPECT_GE(lines(model + QStringLiteral(".inflight")).value(0).toInt(), 1);

    // "Copy" puts the translation on the clipboard.
    click(desktop, place(log, QStringLiteral("copy")));
    EXPECT_TRUE(Desktop::waitUntil(
        [&] { return lines(log).contains(QStringLiteral("clipboard ") + QString(done).replace(QLatin1Char('\n'), u'¶')); },
        5000));

    // The summary, then back.
    click(desktop, place(log, QStringLiteral("summary")));
    ASSERT_TRUE(Desktop::waitUntil(
        [&] {
            return lastState(log).value(QStringLiteral("shown")).toString() ==
                   QStringLiteral("Two walks and a museum visit in one day.");
        },
        15000));
    desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/translate-summary.png"));
    EXPECT_TRUE(lines(model + QStringLiteral(".prompts")).last().contains(QStringLiteral("Reply in German")));
    click(desktop, place(log, QStringLiteral("translation")));
    EXPECT_TRUE(Desktop::waitUntil([&] { return lastState(log).value(QStringLiteral("shown")).toString() == done; },
                                   5000));

    // French from the picker: typed into its open list.
    click(desktop, place(log, QStringLiteral("picker")));
    QThread::msleep(600);
    desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/translate-picker.png"));
    desktop.xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("80"), QStringLiteral("French")});
    desktop.xdotool({QStringLiteral("key"), QStringLiteral("Return")});
    ASSERT_TRUE(Desktop::waitUntil(
        [&] { return lastState(log).value(QStringLiteral("shown")).toString().startsWith(QStringLiteral("French:")); },
        15000))
        << lastState(log).value(QStringLiteral("shown")).toString().toStdString();
    EXPECT_TRUE(Desktop::waitUntil(
        [&] { return lastState(log).value(QStringLiteral("shown")).toString().count(QStringLiteral("French:")) == 2; },
        15000));
    desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/translate-french.png"));
    EXPECT_EQ(lastState(log).value(QStringLiteral("target")).toString(), QStringLiteral("French"));
    EXPECT_EQ(setting(desktop, "translateRecent"), QJsonValue(QJsonArray{Desktop::typed("string", QStringLiteral("fr"))}));
    endServers(model);
}

TEST(TranslateCard, PanelMenuChooserStoresTheDefaultLanguage) {
    Desktop desktop;
    ASSERT_TRUE(desktop.ok()) << desktop.error().toStdString();
    desktop.setEnvironment(QStringLiteral("LANG"), QStringLiteral("en_US.UTF-8"));
    desktop.setEnvironment(QStringLiteral("LANGUAGE"), QStringLiteral("en_US:sv_SE"));
    desktop.startApp();
    ASSERT_TRUE(desktop.waitForApp());

    // The panel icon is our small window docked in the tray at the bottom.
    QPoint icon;
    Desktop::waitUntil(
        [&] {
            const QString out = desktop.run(QStringLiteral("xdotool"), {QStringLiteral("search"),
                                                                         QStringLiteral("--classname"),
                                                                         QStringLiteral("pictolarium")});
            for (const QString& id : out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
                const QRect r = desktop.windowGeometry(id.toUInt());
                if (r.width() <= 32 && r.height() <= 32 && r.top() > 700)
                    icon = r.center();
            }
            return !icon.isNull();
        },
        8000, 200);
    ASSERT_FALSE(icon.isNull()) << "no panel icon";
    const auto chooserShown = [&] {
        return !desktop
                    .run(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                                     QStringLiteral("--name"), QStringLiteral("^Translation Language$")})
                    .trimmed()
                    .isEmpty();
    };
    // "Translation Language…" lies above the size slider, the toolbar, colour, wheel, login, tour and
    // quit items; whether the slider takes a key step depends on the style, so try both.
    for (int ups : {7, 8}) {
        click(desktop, icon);
        QThread::msleep(500);
        for (int i = 0; i < ups; ++i)
            desktop.xdotool({QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("60"), QStringLiteral("Up")});
        desktop.xdotool({QStringLiteral("key"), QStringLiteral("Return")});
        if (Desktop::waitUntil(chooserShown, 3000, 100))
            break;
        desktop.xdotool({QStringLiteral("key"), QStringLiteral("Escape")});
    }
    ASSERT_TRUE(chooserShown());
    QThread::msleep(300);
    desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/translate-chooser.png"));
    EXPECT_TRUE(setting(desktop, "translateDefault").isUndefined());
    // Down past English to Swedish, the second favourite; Return is "Save".
    desktop.xdotool({QStringLiteral("key"), QStringLiteral("Down")});
    desktop.xdotool({QStringLiteral("key"), QStringLiteral("Return")});
    EXPECT_TRUE(Desktop::waitUntil([&] { return !chooserShown(); }, 5000));
    EXPECT_TRUE(Desktop::waitUntil(
        [&] { return setting(desktop, "translateDefault") == QJsonValue(QStringLiteral("sv")); }, 5000))
        << setting(desktop, "translateDefault").toString().toStdString();
}
