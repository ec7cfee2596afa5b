// The panel menu and the capture road of the real program, driven like a user would.

#include "Desktop.h"

#include "imaging/ImageConvert.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QPdfWriter>
#include <QThread>
#include <gtest/gtest.h>

#include <unistd.h>

namespace {

QJsonObject settings(Desktop& desktop) {
    QFile file(desktop.configHome() + QStringLiteral("/Pictolarium/org.pictolarium.Pictolarium.json"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

QJsonValue setting(Desktop& desktop, const char* key) {
    return settings(desktop).value(QLatin1String(key)).toObject().value(QStringLiteral("v"));
}

QStringList shots(Desktop& desktop) {
    return QDir(desktop.shotsFolder()).entryList(QDir::Files, QDir::Name);
}

bool visible(Desktop& desktop, const QString& title) {
    const QString out = desktop.run(QStringLiteral("xdotool"),
                                    {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                     QStringLiteral("--name"), QStringLiteral("^") + title + QStringLiteral("$")});
    return !out.trimmed().isEmpty();
}

bool waitVisible(Desktop& desktop, const QString& title, int ms = 5000) {
    return Desktop::waitUntil([&] { return visible(desktop, title); }, ms, 100);
}

// A program that records what it was asked to open, in place of the desktop's opener.
void fakeOpener(Desktop& desktop) {
    const QString bin = desktop.folder(QStringLiteral("bin"));
    QFile script(bin + QStringLiteral("/xdg-open"));
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write(QStringLiteral("#!/bin/sh\necho \"$@\" >> %1/opened.log\n").arg(bin).toUtf8());
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    desktop.setEnvironment(QStringLiteral("PATH"), bin + QLatin1Char(':') + qEnvironmentVariable("PATH"));
    desktop.setEnvironment(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("disabled:"));
}

class Menu {
public:
    explicit Menu(Desktop& d) : desktop(d) {}

    // The panel icon: our 22 × 22 window docked in the tray.
    QPoint icon() {
        const QString out =
            desktop.run(QStringLiteral("xdotool"),
                        {QStringLiteral("search"), QStringLiteral("--classname"), QStringLiteral("pictolarium")});
        for (const QString& id : out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            const QRect r = desktop.windowGeometry(id.toUInt());
            if (r.width() <= 32 && r.height() <= 32 && r.top() > 700)
                return r.center();
        }
        return {};
    }

    // Opens the menu and picks an item by keys, as a user without a mouse would.
    void pick(const QStringList& keys) {
        open();
        for (const QString& key : keys)
            desktop.xdotool({QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("60"), key});
        desktop.xdotool({QStringLiteral("key"), QStringLiteral("Return")});
        QThread::msleep(300);
    }

    void open() {
        QPoint at;
        Desktop::waitUntil([&] { return !(at = icon()).isNull(); }, 8000, 200);
        ASSERT_FALSE(at.isNull()) << "no panel icon";
        desktop.xdotool({QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y()),
                         QStringLiteral("click"), QStringLiteral("1")});
        QThread::msleep(500);
    }

    Desktop& desktop;
};

QStringList repeat(const char* key, int n) {
    QStringList keys;
    for (int i = 0; i < n; ++i)
        keys << QString::fromLatin1(key);
    return keys;
}

} // namespace

TEST(PanelMenu, EveryItemDoesItsJob) {
    Desktop desktop;
    ASSERT_TRUE(desktop.ok()) << desktop.error().toStdString();
    fakeOpener(desktop);
    desktop.startApp();
    ASSERT_TRUE(desktop.waitForApp());
    Menu menu(desktop);

    menu.open();
    desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/menu-open.png"));
    desktop.xdotool({QStringLiteral("key"), QStringLiteral("Escape")});

    // Convert Wheel Key → Super: stored, the check moves; the menu stays open until Escape closes its two levels.
    menu.pick(repeat("Up", 4) << QStringLiteral("Right") << repeat("Down", 3));
    EXPECT_EQ(setting(desktop, "wheelModifier").toString(), QStringLiteral("1048576"));
    desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/menu-wheel-key-picked.png"));
    desktop.xdotool({QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("100"), QStringLiteral("Escape"),
                     QStringLiteral("Escape")});
    QThread::msleep(300);

    // Launch at Login writes the autostart entry, and a second pick removes it.
    const QString entry = desktop.configHome() + QStringLiteral("/autostart/pictolarium.desktop");
    menu.pick(repeat("Up", 3));
    EXPECT_TRUE(QFileInfo::exists(entry));
    menu.pick(repeat("Up", 3));
    EXPECT_FALSE(QFileInfo::exists(entry));

    // Welcome Tour.
    menu.pick(repeat("Up", 2));
    EXPECT_TRUE(waitVisible(desktop, QStringLiteral("Pictolarium Tour")));
    desktop.xdotool({QStringLiteral("search"), QStringLiteral("--name"), QStringLiteral("^Pictolarium Tour$"),
                     QStringLiteral("windowclose")});

    // Open Pictolarium Folder goes to the desktop's opener.
    menu.pick(repeat("Down", 5));
    const QString opened = desktop.folder(QStringLiteral("bin")) + QStringLiteral("/opened.log");
    EXPECT_TRUE(Desktop::waitUntil([&] { return QFileInfo::exists(opened); }, 5000));
    QFile log(opened);
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_TRUE(log.readAll().contains("/Pictures/Pictolarium")) << "the folder was not opened";

    // Basket.
    menu.pick(repeat("Down", 3));
    EXPECT_TRUE(waitVisible(desktop, QStringLiteral("Pictolarium Basket")));
    menu.pick(repeat("Down", 3));
    EXPECT_TRUE(Desktop::waitUntil([&] { return !visible(desktop, QStringLiteral("Pictolarium Basket")); }, 5000));

    // Latest with no screenshot yet says so.
    menu.pick(repeat("Down", 4));
    EXPECT_TRUE(waitVisible(desktop, QStringLiteral("Pictolarium Toast")));

    // Capture: the pointer is over the panel, so the screen is taken; a card shows it.
    menu.pick(repeat("Down", 1));
    EXPECT_TRUE(Desktop::waitUntil([&] { return !shots(desktop).isEmpty(); }, 8000));
    EXPECT_TRUE(waitVisible(desktop, QStringLiteral("Pictolarium Card")));
    const QStringList afterCapture = shots(desktop);
    ASSERT_EQ(afterCapture.size(), 1);
    EXPECT_TRUE(afterCapture.first().startsWith(QStringLiteral("Screen "))) << afterCapture.first().toStdString();

    // Latest now opens that screenshot.
    desktop.xdotool({QStringLiteral("key"), QStringLiteral("Escape")});
    menu.pick(repeat("Down", 4));
    EXPECT_TRUE(waitVisible(desktop, QStringLiteral("Pictolarium Card")));

    // Slice: the selection starts; Escape cancels it and writes nothing.
    menu.pick(repeat("Down", 2));
    int code = 0;
    EXPECT_TRUE(Desktop::waitUntil(
        [&] {
            desktop.run(QStringLiteral("pgrep"), {QStringLiteral("-f"), QStringLiteral("pictolarium-screencapture -i")},
                        &code);
            return code == 0;
        },
        5000));
    QThread::msleep(800);
    desktop.xdotool({QStringLiteral("key"), QStringLiteral("Escape")});
    EXPECT_TRUE(Desktop::waitUntil(
        [&] {
            desktop.run(QStringLiteral("pgrep"), {QStringLiteral("-f"), QStringLiteral("pictolarium-screencapture -i")},
                        &code);
            return code != 0;
        },
        5000));
    EXPECT_EQ(shots(desktop), afterCapture);

    // Shortcuts → Capture → Enabled turns the action off; → Change Shortcut… opens the dialog.
    menu.pick(repeat("Down", 6) << QStringLiteral("Right") << QStringLiteral("Right"));
    EXPECT_EQ(setting(desktop, "shortcut.enabled.capture"), QJsonValue(false));
    menu.pick(repeat("Down", 6) << QStringLiteral("Right") << QStringLiteral("Right") << QStringLiteral("Down"));
    const QString dialog =
        QStringLiteral("Shortcut for \u201cCapture  \u00b7  tap = window, hold = drag a piece\u201d");
    EXPECT_TRUE(waitVisible(desktop, dialog));
    desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/menu-shortcut-dialog.png"));
    desktop.xdotool({QStringLiteral("key"), QStringLiteral("Escape")});
    EXPECT_TRUE(Desktop::waitUntil([&] { return !visible(desktop, dialog); }, 5000));

    // The size slider stores what it shows: click the right end of its groove.
    menu.open();
    const QImage screen = desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/menu-slider.png"));
    QPoint grooveEnd;
    for (int y = 300; y < screen.height() - 40 && grooveEnd.isNull(); ++y)
        for (int x = screen.width() - 1; x > screen.width() / 2; --x) {
            const QColor c = screen.pixelColor(x, y);
            // The groove's filled part is the style's blue; its empty part is a light grey line.
            if (c.blue() > 150 && c.red() < 120) {
                int right = x;
                while (right + 1 < screen.width() && screen.pixelColor(right + 1, y).lightness() > 150)
                    ++right;
                grooveEnd = QPoint(right - 3, y);
                break;
            }
        }
    ASSERT_FALSE(grooveEnd.isNull()) << "no slider in the menu";
    desktop.xdotool({QStringLiteral("mousemove"), QString::number(grooveEnd.x()), QString::number(grooveEnd.y()),
                     QStringLiteral("click"), QStringLiteral("1")});
    EXPECT_TRUE(Desktop::waitUntil([&] { return setting(desktop, "picto.sizeScale").toDouble() > 0.8; }, 3000));
    // The slider holds the keyboard now; a click outside closes the menu.
    desktop.xdotool({QStringLiteral("mousemove"), QStringLiteral("100"), QStringLiteral("100"), QStringLiteral("click"),
                     QStringLiteral("1")});
    QThread::msleep(300);

    // Quit.
    menu.pick(repeat("Up", 1));
    desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/menu-quit.png"));
    EXPECT_TRUE(desktop.app()->waitForFinished(5000));
    EXPECT_EQ(desktop.app()->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(desktop.app()->exitCode(), 0);
}

TEST(CaptureRoad, TheCaptureKeyTakesTheWindowUnderThePointerAndShowsIt) {
    Desktop desktop;
    ASSERT_TRUE(desktop.ok()) << desktop.error().toStdString();
    desktop.startApp();
    ASSERT_TRUE(desktop.waitForApp());
    desktop.start(QStringLiteral("xterm"), {QStringLiteral("-geometry"), QStringLiteral("80x24+100+100")});
    quint32 xterm = 0;
    ASSERT_TRUE(Desktop::waitUntil(
        [&] {
            const QString out =
                desktop.run(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                                        QStringLiteral("--class"), QStringLiteral("xterm")});
            xterm = out.split(QLatin1Char('\n'), Qt::SkipEmptyParts).value(0).toUInt();
            return xterm != 0;
        },
        8000));
    QThread::msleep(500);
    desktop.xdotool({QStringLiteral("mousemove"), QStringLiteral("300"), QStringLiteral("200")});
    desktop.xdotool({QStringLiteral("key"), QStringLiteral("super+shift+d")});

    EXPECT_TRUE(Desktop::waitUntil([&] { return !shots(desktop).isEmpty(); }, 8000));
    const QStringList files = shots(desktop);
    ASSERT_EQ(files.size(), 1);
    EXPECT_TRUE(files.first().startsWith(QStringLiteral("XTerm 20"))) << files.first().toStdString();
    EXPECT_TRUE(waitVisible(desktop, QStringLiteral("Pictolarium Card")));
    desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/capture-key-card.png"));
}

TEST(CaptureRoad, FilesHandedToTheProgramAreCopiedAndShown) {
    Desktop desktop;
    ASSERT_TRUE(desktop.ok()) << desktop.error().toStdString();
    desktop.startApp();
    ASSERT_TRUE(desktop.waitForApp());

    QImage picture(320, 200, QImage::Format_RGB32);
    picture.fill(QColor(40, 120, 200));
    const QString png = desktop.home() + QStringLiteral("/picture.png");
    ASSERT_TRUE(picture.save(png));
    QStringList inputs;
    for (const char* ext : {"jpg", "webp", "tiff", "heic"}) {
        const QString path = desktop.home() + QStringLiteral("/picture.") + QLatin1String(ext);
        if (QLatin1String(ext) == QLatin1String("heic")) {
            const auto made = ImageConvert::convert(QUrl::fromLocalFile(png), ImageFormat::heic, 0.8);
            QFile::rename(made.url.toLocalFile(), path);
        } else {
            ASSERT_TRUE(picture.save(path));
        }
        inputs << path;
    }
    const QString pdf = desktop.home() + QStringLiteral("/three pages.pdf");
    {
        QPdfWriter writer(pdf);
        QPainter painter(&writer);
        for (int page = 0; page < 3; ++page) {
            if (page)
                writer.newPage();
            painter.drawText(100, 100, QStringLiteral("Page %1").arg(page + 1));
        }
    }

    desktop.xdotool({QStringLiteral("mousemove"), QStringLiteral("400"), QStringLiteral("300")});
    int expected = 0;
    for (const QString& input : inputs) {
        int code = -1;
        desktop.run(QStringLiteral(PICTOLARIUM_BIN), {input}, &code);
        EXPECT_EQ(code, 0);
        ++expected;
        EXPECT_TRUE(Desktop::waitUntil([&] { return shots(desktop).contains(QFileInfo(input).fileName()); }, 5000))
            << input.toStdString();
        EXPECT_TRUE(waitVisible(desktop, QStringLiteral("Pictolarium Card")));
    }
    desktop.run(QStringLiteral(PICTOLARIUM_BIN), {pdf});
    EXPECT_TRUE(Desktop::waitUntil([&] { return shots(desktop).contains(QStringLiteral("three pages.pdf")); }, 5000));
    EXPECT_TRUE(Desktop::waitUntil(
        [&] { return QFileInfo::exists(desktop.shotsFolder() + QStringLiteral("/.pages/three pages p1.png")); }, 5000));
    EXPECT_TRUE(waitVisible(desktop, QStringLiteral("Pictolarium Toast")));
    desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/open-pdf.png"));

    // The same file again takes the next free name; an unreadable one only says so.
    desktop.run(QStringLiteral(PICTOLARIUM_BIN), {inputs.first()});
    EXPECT_TRUE(Desktop::waitUntil([&] { return shots(desktop).contains(QStringLiteral("picture 2.jpg")); }, 5000));
    const QString broken = desktop.home() + QStringLiteral("/broken.png");
    QFile junk(broken);
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("not a picture");
    junk.close();
    desktop.run(QStringLiteral(PICTOLARIUM_BIN), {broken});
    EXPECT_TRUE(waitVisible(desktop, QStringLiteral("Pictolarium Toast")));
    desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/open-broken.png"));

    // A name of Latin-1 bytes, as an old disk has it, handed over by a launcher in the C locale and in a UTF-8 one.
    const QString plain = desktop.home() + QStringLiteral("/plain.png");
    const QByteArray latin = QFile::encodeName(desktop.home()) + "/caf\xE9.png";
    ASSERT_TRUE(picture.save(plain) && ::rename(QFile::encodeName(plain).constData(), latin.constData()) == 0);
    int code = -1;
    desktop.run(
        QStringLiteral("/bin/sh"),
        {QStringLiteral("-c"),
         QStringLiteral("f=$(printf '%s/caf\\351.png' \"$1\"); LC_ALL=C \"$0\" \"$f\" && LC_ALL=C.UTF-8 \"$0\" \"$f\""),
         QStringLiteral(PICTOLARIUM_BIN), desktop.home()},
        &code);
    EXPECT_EQ(code, 0);
    const QStringList copies{QString::fromUtf8("caf\u00E9.png"), QString::fromUtf8("caf\u00E9 2.png")};
    EXPECT_TRUE(Desktop::waitUntil(
        [&] { return shots(desktop).contains(copies.at(0)) && shots(desktop).contains(copies.at(1)); }, 8000))
        << shots(desktop).join(u',').toStdString();
    EXPECT_TRUE(waitVisible(desktop, QStringLiteral("Pictolarium Card")));
    desktop.screenshot(Desktop::shotsDir() + QStringLiteral("/open-latin1-name.png"));
    EXPECT_EQ(desktop.app()->state(), QProcess::Running);
    ::unlink(latin.constData()); // the toolkit could not remove it with the rest
}

TEST(CaptureRoad, TheLibraryHoldWithoutScreenshotsSaysSo) {
    Desktop desktop;
    ASSERT_TRUE(desktop.ok()) << desktop.error().toStdString();
    desktop.startApp();
    ASSERT_TRUE(desktop.waitForApp());
    QThread::msleep(500);
    desktop.xdotool({QStringLiteral("keydown"), QStringLiteral("super+shift+s"), QStringLiteral("sleep"),
                     QStringLiteral("0.6"), QStringLiteral("keyup"), QStringLiteral("super+shift+s")});
    EXPECT_TRUE(waitVisible(desktop, QStringLiteral("Pictolarium Toast")));
    EXPECT_FALSE(visible(desktop, QStringLiteral("Pictolarium Card")));
}
