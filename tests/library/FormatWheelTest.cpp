// The wheel's poll over a staged drag (when it shows, what it offers, when it hides), the wheel key
// setting, and the conversions a drop runs.

#include "library/FormatWheel.h"
#include "library/WheelPanel.h"

#include "imaging/ShotFiles.h"
#include "platform/Defaults.h"
#include "platform/Notifications.h"
#include "platform/XdgPaths.h"
#include "platform/fake/FakeDragProbe.h"
#include "ui/Toast.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {

QUrl file(const char* name) {
    return QUrl::fromLocalFile(QStringLiteral("/pictures/") + QLatin1String(name));
}

class WheelPoll : public ::testing::Test {
protected:
    WheelPoll() : defaults(dir.path(), QStringLiteral("wheel")), wheel(&probe, defaults) {}

    // A new drag of the files starts and the wheel looks with these keys and the button down.
    void drag(const QList<QUrl>& files, quint32 keys = DragProbe::shift) {
        probe.beginDrag(files);
        press(keys);
    }
    void press(quint32 keys, bool button = true) {
        probe.state.modifiers = keys;
        probe.state.buttonDown = button;
        wheel.tick();
    }
    void release() { press(probe.state.modifiers, false); }
    void wait(int ms) {
        probe.clock += ms;
        wheel.tick();
    }

    QTemporaryDir dir;
    FakeDragProbe probe;
    Defaults defaults;
    FormatWheel wheel;
};

} // namespace

TEST_F(WheelPoll, OffersEveryWritableFormatButTheSourceThenCompress) {
    struct Case {
        QList<QUrl> files;
        QString label;
        std::optional<ImageFormat> source;
    };
    const Case cases[] = {
        {{file("a.png")}, "PNG", ImageFormat::png},
        {{file("Photo.JPG")}, "JPEG", ImageFormat::jpeg},
        {{file("a.png"), file("b.jpg"), file("c.webp")}, "3 images", std::nullopt},
        {{file("a.gif")}, "1 images", std::nullopt}, // a format that can't be written
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label.toStdString());
        drag(c.files);
        ASSERT_TRUE(wheel.isVisible());
        QStringList expected, shown;
        for (const ImageFormat format : ImageFormat::available())
            if (format != c.source)
                expected.append(format.title());
        expected.append(QStringLiteral("Compress"));
        for (const WheelView::Option& option : wheel.view()->options)
            shown.append(option.title());
        EXPECT_EQ(wheel.view()->label, c.label);
        EXPECT_EQ(shown, expected);
        release();
        wait(FormatWheel::hideDelayMs);
    }
}

TEST_F(WheelPoll, ShowsOnlyForNewDragsOfPicturesWithTheKeyAndButtonDown) {
    probe.beginDrag({file("a.png")});
    wheel.start(); // under way before the start: never shown
    press(DragProbe::shift);
    EXPECT_FALSE(wheel.isVisible());
    release();

    drag({file("a.png"), file("notes.txt")});
    press(DragProbe::shift); // asked again while the drag goes on
    EXPECT_FALSE(wheel.isVisible());
    release();
    drag({});
    EXPECT_FALSE(wheel.isVisible());
    release();

    probe.beginDrag({file("a.png")});
    press(DragProbe::shift, false); // the key without the button
    press(0);                       // the button without the key
    EXPECT_FALSE(wheel.isVisible());
    probe.files = std::nullopt; // the owner has not answered yet: the drag stays unhandled
    press(DragProbe::shift);
    EXPECT_FALSE(wheel.isVisible());
    probe.files = QList<QUrl>{file("a.png")};
    press(DragProbe::shift);
    EXPECT_TRUE(wheel.isVisible());
}

// Each time the wheel shows or goes under a drag, the pointer is nudged on a look when the wheel's window has
// changed on the screen, so that the drag's program drops on the window the user sees under the pointer.
TEST_F(WheelPoll, HidesWithTheKeyAtOnceAndAfterAReleaseLater) {
    drag({file("a.png")});
    EXPECT_EQ(probe.nudges, 1);
    press(0);
    EXPECT_FALSE(wheel.isVisible());
    EXPECT_FALSE(wheel.panel()->isVisible());
    EXPECT_EQ(probe.nudges, 1);
    press(0);
    EXPECT_EQ(probe.nudges, 2);
    press(DragProbe::shift); // the same drag comes back with the key
    EXPECT_TRUE(wheel.isVisible());
    EXPECT_EQ(probe.nudges, 3);

    release();
    wait(FormatWheel::hideDelayMs - 1);
    EXPECT_TRUE(wheel.isVisible());
    wait(1);
    EXPECT_FALSE(wheel.isVisible());
    press(DragProbe::shift); // no new drag behind this press
    EXPECT_FALSE(wheel.isVisible());

    drag({file("b.png")});
    press(0);
    release(); // the key, then the button: no drag left to nudge
    EXPECT_EQ(probe.nudges, 4);
}

// The owner of the last drag goes on answering for it: whatever came before, a press with the key and no new
// drag behind it shows nothing.
TEST_F(WheelPoll, NoWheelWithoutANewDragUnderWay) {
    const auto noWheelOnLaterLooks = [&](const char* after) {
        SCOPED_TRACE(after);
        wait(FormatWheel::hideDelayMs);
        ASSERT_FALSE(wheel.isVisible());
        for (int look = 0; look < 3; ++look)
            press(DragProbe::shift);
        EXPECT_FALSE(wheel.isVisible());
        release();
    };
    drag({file("a.png")});
    release();
    press(0, false);
    noWheelOnLaterLooks("a drop, then the key let go while the wheel fades");
    release();
    wheel.libraryDragBegan({file("c.png")});
    press(0, false);
    noWheelOnLaterLooks("a basket drag over between two looks");
}

TEST_F(WheelPoll, BasketDragsShowTheirPicturesWithoutAskingTheOwner) {
    press(0); // the button goes down on a tile
    wheel.libraryDragBegan({file("a.png"), file("notes.txt"), file("b.heic")});
    ++probe.count; // the drag takes the drag selection
    probe.files = QList<QUrl>{file("notes.txt")};
    press(0);
    EXPECT_FALSE(wheel.isVisible());
    press(DragProbe::shift);
    ASSERT_TRUE(wheel.isVisible());
    EXPECT_EQ(wheel.shownFiles(), (QList<QUrl>{file("a.png"), file("b.heic")}));
    press(0);
    press(DragProbe::shift);
    EXPECT_TRUE(wheel.isVisible());
    EXPECT_EQ(probe.fileReads, 0);
    release();
    wait(FormatWheel::hideDelayMs);
    press(DragProbe::shift); // the basket's drag ended with the button
    EXPECT_FALSE(wheel.isVisible());

    wheel.libraryDragBegan({file("c.png")}); // key already held: at once
    EXPECT_TRUE(wheel.isVisible());
}

TEST(FormatWheelTest, WheelKeySettingAndItsName) {
    struct Case {
        std::optional<qlonglong> stored;
        quint32 modifier;
        const char* name;
    };
    const Case cases[] = {
        {std::nullopt, DragProbe::shift, "Shift"},
        {0, DragProbe::shift, "Shift"},
        {0x80000, DragProbe::alt, "Alt"},
        {0x40000, DragProbe::control, "Ctrl"},
        {0x100000, DragProbe::super, "Super"},
        {-0x20000, DragProbe::shift, "Shift"},
        {1, DragProbe::shift, "Shift"},
        {0x120000, DragProbe::shift | DragProbe::super, "Shift"},
    };
    QTemporaryDir dir;
    Defaults defaults(dir.path(), QStringLiteral("key"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored.value_or(-1));
        if (c.stored)
            defaults.set(QStringLiteral("wheelModifier"), *c.stored);
        else
            defaults.remove(QStringLiteral("wheelModifier"));
        EXPECT_EQ(FormatWheel::modifier(defaults), c.modifier);
        EXPECT_EQ(FormatWheel::modifierSymbol(defaults), QLatin1String(c.name));
    }
    // Centred on the pointer, kept inside the visible area, its top left corner where that is too small.
    EXPECT_EQ(FormatWheel::origin({640, 400}, QRect(0, 0, 1280, 800)), QPoint(470, 230));
    EXPECT_EQ(FormatWheel::origin({1279, 5}, QRect(0, 0, 1280, 800)), QPoint(940, 0));
    EXPECT_EQ(FormatWheel::origin({100, 100}, QRect(10, 0, 300, 200)), QPoint(10, 0));
}

namespace {

// Pictures in a folder, the changes announced for them, and the toast a drop ends with.
struct Batch {
    QTemporaryDir dir;
    QList<QUrl> posted;
    QObject owner;

    Batch() {
        Notifications::defaultCenter().observe(ShotFiles::changed(), &owner,
                                               [this](const QVariant& object) { posted.append(object.toUrl()); });
    }
    QUrl picture(const QString& name, bool broken = false) {
        // Grain, as in a photo: a JPEG of it is smaller than the PNG.
        QImage image(400, 300, QImage::Format_RGB32);
        quint32 seed = 7;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                seed = seed * 1664525u + 1013904223u;
                image.setPixel(x, y, qRgb(30 + x / 4, 140, 120 + int(seed >> 27)));
            }
        QFile f(dir.filePath(name));
        if (broken && f.open(QIODevice::WriteOnly))
            f.write("not a picture");
        else
            image.save(f.fileName());
        return QUrl::fromLocalFile(f.fileName());
    }
    QString drop(FormatWheel& wheel, const WheelView::Option& option, const QList<QUrl>& files) {
        Toast::hide();
        wheel.perform(option, files);
        if (!QTest::qWaitFor([] { return Toast::current() != nullptr; }, 20000))
            return QStringLiteral("(no toast)");
        return Toast::current()->findChild<QLabel*>()->text();
    }
    QStringList names() const { return QDir(dir.path()).entryList(QDir::Files, QDir::Name); }
};

} // namespace

TEST_F(WheelPoll, DropConvertsEveryFileAndAnnouncesEachResult) {
    Batch batch;
    const QList<QUrl> files{batch.picture("a.png"), batch.picture("b.png"), batch.picture("c.png")};
    EXPECT_EQ(batch.drop(wheel, WheelView::Option::format(ImageFormat::jpeg), files), QStringLiteral("3 → JPEG"));
    EXPECT_EQ(batch.names(), (QStringList{"a.jpg", "b.jpg", "c.jpg"}));
    EXPECT_EQ(batch.posted.size(), 3);
    EXPECT_TRUE(batch.posted.contains(QUrl::fromLocalFile(batch.dir.filePath("b.jpg"))));

    const QRegularExpression size(QStringLiteral("\\d+(\\.\\d+)? (KB|bytes)"));
    const QString one = batch.drop(wheel, WheelView::Option::format(ImageFormat::png), {batch.posted.first()});
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^PNG · ") + size.pattern() + QLatin1Char('$')).match(one).hasMatch())
        << one.toStdString();
    const QString small = batch.drop(wheel, WheelView::Option::compress(), {batch.picture("d.png")});
    EXPECT_TRUE(QRegularExpression(QLatin1Char('^') + size.pattern() + QStringLiteral(" → ") + size.pattern())
                    .match(small)
                    .hasMatch())
        << small.toStdString();
    EXPECT_EQ(batch.drop(wheel, WheelView::Option::compress(), {batch.picture("e.png"), batch.picture("f.png")}),
              QStringLiteral("2 compressed"));
}

TEST_F(WheelPoll, FailuresKeepWhatWasDoneAndSayWhatWasNot) {
    Batch batch;
    const QString stopped = batch.drop(wheel, WheelView::Option::format(ImageFormat::webp),
                                       {batch.picture("a.png"), batch.picture("b.png", true), batch.picture("c.png")});
    EXPECT_TRUE(stopped.contains(QStringLiteral("b.png"))) << stopped.toStdString();
    EXPECT_EQ(batch.names(), (QStringList{"a.webp", "b.png", "c.png"}));
    EXPECT_EQ(batch.posted, (QList<QUrl>{QUrl::fromLocalFile(batch.dir.filePath("a.webp"))}));

    const QString gone = batch.drop(wheel, WheelView::Option::format(ImageFormat::tiff),
                                    {QUrl::fromLocalFile(batch.dir.filePath("gone.png"))});
    EXPECT_TRUE(gone.contains(QStringLiteral("gone.png"))) << gone.toStdString();

    // A file where the Trash folder should be: the originals stay, and the toast says so.
    const QString trash = QFileInfo(XdgPaths::dataDir()).path() + QStringLiteral("/Trash");
    QDir().rename(trash, trash + QStringLiteral(".kept"));
    QFile(trash).open(QIODevice::WriteOnly);
    const QString kept = batch.drop(wheel, WheelView::Option::format(ImageFormat::jpeg),
                                    {QUrl::fromLocalFile(batch.dir.filePath("c.png"))});
    QFile::remove(trash);
    QDir().rename(trash + QStringLiteral(".kept"), trash);
    EXPECT_TRUE(kept.startsWith(QStringLiteral("JPEG · ")) && kept.contains(QStringLiteral(" — ")))
        << kept.toStdString();
    EXPECT_EQ(batch.names(), (QStringList{"a.webp", "b.png", "c.jpg", "c.png"}));

    // A camera raw becomes a JPEG of what could be read of it, and stays beside it, whatever that reading gave.
    const QString raw = batch.dir.filePath(QStringLiteral("camera.dng"));
    ASSERT_EQ(QProcess::execute(QStringLiteral("convert"), {"-size", "160x120", "xc:orange", "-define",
                                                            "tiff:subfiletype=REDUCEDIMAGE", "tiff:" + raw}),
              0);
    QFile rawFile(raw);
    ASSERT_TRUE(rawFile.open(QIODevice::ReadOnly));
    const QByteArray rawBytes = rawFile.readAll();
    rawFile.close();
    const QString rawKept = batch.drop(wheel, WheelView::Option::format(ImageFormat::jpeg), {QUrl::fromLocalFile(raw)});
    EXPECT_TRUE(rawKept.endsWith(QStringLiteral(" — kept camera.dng: it is a camera raw"))) << rawKept.toStdString();
    ASSERT_TRUE(rawFile.open(QIODevice::ReadOnly));
    EXPECT_EQ(rawFile.readAll(), rawBytes);
}
