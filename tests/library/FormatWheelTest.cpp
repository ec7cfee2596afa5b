// The wheel's poll over a staged drag: when it shows, what it offers, when it hides; the wheel key
// setting; and the conversions a drop runs.

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
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {

QUrl file(const QString& name) {
    return QUrl::fromLocalFile(QStringLiteral("/pictures/") + name);
}

QStringList titles(const QList<WheelView::Option>& options) {
    QStringList list;
    for (const WheelView::Option& option : options)
        list.append(option.title());
    return list;
}

QStringList availableTitles(std::optional<ImageFormat> except = std::nullopt) {
    QStringList list;
    for (const ImageFormat format : ImageFormat::available())
        if (format != except)
            list.append(format.title());
    list.append(QStringLiteral("Compress"));
    return list;
}

class WheelPoll : public ::testing::Test {
protected:
    WheelPoll() : defaults(dir.path(), QStringLiteral("wheel")), wheel(&probe, defaults) {}

    // The button goes down on a new drag of these files with the keys held, and the wheel looks.
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
    QString label() const { return wheel.view()->label; }

    QTemporaryDir dir;
    FakeDragProbe probe;
    Defaults defaults;
    FormatWheel wheel;
};

} // namespace

TEST_F(WheelPoll, OffersEveryWritableFormatButTheSourceThenCompress) {
    struct Case {
        const char* what;
        QList<QUrl> files;
        QString label;
        std::optional<ImageFormat> source;
    };
    const Case cases[] = {
        {"one PNG", {file("a.png")}, "PNG", ImageFormat::png},
        {"one JPEG by .jpg", {file("Photo.JPG")}, "JPEG", ImageFormat::jpeg},
        {"three files", {file("a.png"), file("b.jpg"), file("c.webp")}, "3 images", std::nullopt},
        {"one GIF, which can't be written", {file("a.gif")}, "1 images", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        drag(c.files);
        ASSERT_TRUE(wheel.isVisible());
        EXPECT_EQ(label(), c.label);
        EXPECT_EQ(titles(wheel.view()->options), availableTitles(c.source));
        EXPECT_EQ(wheel.shownFiles(), c.files);
        release();
        wait(FormatWheel::hideDelayMs);
        EXPECT_FALSE(wheel.isVisible());
    }
}

TEST_F(WheelPoll, ShowsOnlyForDragsOfPicturesWithTheKeyAndButtonDown) {
    drag({file("a.png"), file("notes.txt")});
    EXPECT_FALSE(wheel.isVisible());
    press(DragProbe::shift); // asked again while the drag goes on, still no
    EXPECT_FALSE(wheel.isVisible());
    release();

    drag({}, DragProbe::shift);
    EXPECT_FALSE(wheel.isVisible());
    release();

    probe.beginDrag({file("a.png")});
    press(DragProbe::shift, false); // key without the button
    EXPECT_FALSE(wheel.isVisible());
    press(0);
    EXPECT_FALSE(wheel.isVisible());
    press(DragProbe::shift);
    EXPECT_TRUE(wheel.isVisible());
}

TEST_F(WheelPoll, WaitsForTheFilesWithoutMarkingTheDragHandled) {
    probe.beginDrag({});
    probe.files = std::nullopt; // the owner has not answered yet
    press(DragProbe::shift);
    EXPECT_FALSE(wheel.isVisible());
    probe.files = QList<QUrl>{file("a.png")};
    press(DragProbe::shift);
    EXPECT_TRUE(wheel.isVisible());
}

TEST_F(WheelPoll, LettingTheKeyGoHidesAtOnceAndPressingAgainBringsItBack) {
    drag({file("a.png")});
    ASSERT_TRUE(wheel.isVisible());
    press(0);
    EXPECT_FALSE(wheel.isVisible());
    EXPECT_FALSE(wheel.panel()->isVisible());
    press(DragProbe::shift);
    EXPECT_TRUE(wheel.isVisible());
    EXPECT_TRUE(wheel.panel()->isVisible());
}

TEST_F(WheelPoll, ReleasingElsewhereHidesAfterTheDelayAndTheSameDragNeverShowsAgain) {
    drag({file("a.png")});
    release();
    EXPECT_TRUE(wheel.isVisible());
    wait(FormatWheel::hideDelayMs - 1);
    EXPECT_TRUE(wheel.isVisible());
    wait(1);
    EXPECT_FALSE(wheel.isVisible());

    press(DragProbe::shift); // a press with no new drag behind it
    EXPECT_FALSE(wheel.isVisible());
    release();
    drag({file("b.png")});
    EXPECT_TRUE(wheel.isVisible());
}

TEST_F(WheelPoll, AnswersOnlyToTheChosenKey) {
    defaults.set(QStringLiteral("wheelModifier"), qlonglong(DragProbe::alt));
    drag({file("a.png")}, DragProbe::shift);
    EXPECT_FALSE(wheel.isVisible());
    press(DragProbe::alt);
    EXPECT_TRUE(wheel.isVisible());
    release();
    wait(FormatWheel::hideDelayMs);
    drag({file("a.png")}, DragProbe::alt | DragProbe::super);
    EXPECT_TRUE(wheel.isVisible());
}

TEST_F(WheelPoll, ADragUnderWayAtStartNeverShows) {
    probe.beginDrag({file("a.png")});
    wheel.start();
    press(DragProbe::shift);
    EXPECT_FALSE(wheel.isVisible());
    release();
    drag({file("a.png")});
    EXPECT_TRUE(wheel.isVisible());
}

TEST_F(WheelPoll, BasketDragsShowTheirPicturesWithoutAskingTheOwner) {
    wheel.libraryDragBegan({file("a.png"), file("notes.txt"), file("b.heic")});
    EXPECT_FALSE(wheel.isVisible());
    ++probe.count; // the drag starts and takes the drag selection
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
    release();

    press(0); // the button goes down on a tile
    probe.state.modifiers = DragProbe::shift;
    wheel.libraryDragBegan({file("c.png")}); // key already held: at once
    EXPECT_TRUE(wheel.isVisible());
    release();
    wait(FormatWheel::hideDelayMs);
    EXPECT_FALSE(wheel.isVisible());

    wheel.libraryDragBegan({file("notes.txt")}); // nothing to convert
    ++probe.count;
    press(DragProbe::shift);
    EXPECT_FALSE(wheel.isVisible());
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
        {0x20000 | 0x100000, DragProbe::shift | DragProbe::super, "Shift"},
    };
    QTemporaryDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored.value_or(-1));
        Defaults defaults(dir.path(), QStringLiteral("key"));
        if (c.stored)
            defaults.set(QStringLiteral("wheelModifier"), *c.stored);
        else
            defaults.remove(QStringLiteral("wheelModifier"));
        EXPECT_EQ(FormatWheel::modifier(defaults), c.modifier);
        EXPECT_EQ(FormatWheel::modifierSymbol(defaults), QLatin1String(c.name));
    }
}

TEST(FormatWheelTest, CentresOnThePointerInsideTheVisibleArea) {
    const QRect screen(0, 0, 1280, 800);
    EXPECT_EQ(FormatWheel::origin({640, 400}, screen), QPoint(470, 230));
    EXPECT_EQ(FormatWheel::origin({10, 5}, screen), QPoint(0, 0));
    EXPECT_EQ(FormatWheel::origin({1279, 799}, screen), QPoint(940, 460));
    EXPECT_EQ(FormatWheel::origin({1500, 400}, QRect(1280, 30, 1920, 1050)), QPoint(1330, 230));
    EXPECT_EQ(FormatWheel::origin({100, 100}, QRect(0, 0, 300, 200)), QPoint(0, 0)); // too small: top left
}

namespace {

struct Batch {
    QTemporaryDir dir;
    QList<QUrl> posted;
    QObject owner;

    Batch() {
        Notifications::defaultCenter().observe(ShotFiles::changed(), &owner,
                                               [this](const QVariant& object) { posted.append(object.toUrl()); });
    }
    QUrl picture(const QString& name, int width = 400) {
        QImage image(width, 300, QImage::Format_RGB32);
        image.fill(QColor(30, 140, 220));
        const QString path = dir.filePath(name);
        image.save(path);
        return QUrl::fromLocalFile(path);
    }
    QUrl broken(const QString& name) {
        QFile f(dir.filePath(name));
        f.open(QIODevice::WriteOnly);
        f.write("not a picture");
        return QUrl::fromLocalFile(f.fileName());
    }
    // Runs the drop and waits for its toast.
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

    const QString one = batch.drop(wheel, WheelView::Option::format(ImageFormat::png), {batch.posted.first()});
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^PNG · \\d+(\\.\\d+)? (KB|bytes)$")).match(one).hasMatch())
        << one.toStdString();

    const QString compressed =
        batch.drop(wheel, WheelView::Option::compress(), {QUrl::fromLocalFile(batch.dir.filePath("a.png"))});
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d+ (KB|bytes) → \\d+ (KB|bytes)$")).match(compressed).hasMatch())
        << compressed.toStdString();
    EXPECT_EQ(batch.drop(wheel, WheelView::Option::compress(), {batch.picture("d.png"), batch.picture("e.png")}),
              QStringLiteral("2 compressed"));
}

TEST_F(WheelPoll, AFailureStopsTheBatchAndKeepsWhatWasDone) {
    Batch batch;
    const QList<QUrl> files{batch.picture("a.png"), batch.broken("b.png"), batch.picture("c.png")};
    const QString message = batch.drop(wheel, WheelView::Option::format(ImageFormat::webp), files);
    EXPECT_TRUE(message.contains(QStringLiteral("b.png"))) << message.toStdString();
    EXPECT_EQ(batch.names(), (QStringList{"a.webp", "b.png", "c.png"}));
    EXPECT_EQ(batch.posted, (QList<QUrl>{QUrl::fromLocalFile(batch.dir.filePath("a.webp"))}));

    batch.posted.clear();
    const QString gone = batch.drop(wheel, WheelView::Option::format(ImageFormat::tiff),
                                    {QUrl::fromLocalFile(batch.dir.filePath("x.png"))});
    EXPECT_TRUE(gone.contains(QStringLiteral("x.png"))) << gone.toStdString();
    EXPECT_TRUE(batch.posted.isEmpty());
}

TEST_F(WheelPoll, KeepsBothFilesAndSaysSoWhenTheOriginalCannotGoToTheTrash) {
    Batch batch;
    const QString trash = QFileInfo(XdgPaths::dataDir()).path() + QStringLiteral("/Trash");
    const QString kept = trash + QStringLiteral(".kept");
    QDir().rename(trash, kept);
    {
        QFile blocker(trash); // a file where the Trash folder should be
        ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    }
    const QString message = batch.drop(wheel, WheelView::Option::format(ImageFormat::jpeg),
                                       {batch.picture("a.png"), batch.picture("b.png")});
    QFile::remove(trash);
    QDir().rename(kept, trash);
    EXPECT_TRUE(message.startsWith(QStringLiteral("2 → JPEG — "))) << message.toStdString();
    EXPECT_EQ(batch.names(), (QStringList{"a.jpg", "a.png", "b.jpg", "b.png"}));
    EXPECT_EQ(batch.posted.size(), 2);
}
