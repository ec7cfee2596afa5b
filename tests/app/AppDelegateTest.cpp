#include "app/AppDelegate.h"
#include "card/Thumbnail.h"
#include "editors/AnnotateCanvas.h"
#include "editors/AnnotateWindow.h"
#include "editors/EditStore.h"
#include "imaging/HostilePdfs.h"
#include "imaging/ImageCodec.h"
#include "imaging/PngWriter.h"
#include "library/LibraryFixtures.h"
#include "platform/Defaults.h"
#include "platform/fake/FakeGlobalKeys.h"
#include "platform/fake/FakePlatform.h"
#include "shortcuts/HotKeys.h"
#include "support/ToastText.h"
#include "ui/Toast.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

// Gives each test its own home folder, restored afterwards.
struct ScopedHome {
    ScopedHome() : previous(qgetenv("HOME")) { qputenv("HOME", dir.path().toUtf8()); }
    ~ScopedHome() { qputenv("HOME", previous); }
    QString path(const char* relative) const { return dir.filePath(QString::fromLatin1(relative)); }
    QTemporaryDir dir;
    QByteArray previous;
};

void touch(const QString& path) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
}

} // namespace

TEST(ShotsFolder, IsCreatedUnderPicturesOnEveryRead) {
    ScopedHome home;
    EXPECT_EQ(AppDelegate::shotsFolder(), home.path("Pictures/Pictolarium"));
    EXPECT_TRUE(QFileInfo(home.path("Pictures/Pictolarium")).isDir());
    QDir(home.path("Pictures/Pictolarium")).removeRecursively();
    AppDelegate::shotsFolder();
    EXPECT_TRUE(QFileInfo(home.path("Pictures/Pictolarium")).isDir());
}

TEST(ShotsFolder, TakesOverTheFirstLegacyFolderWithItsFiles) {
    ScopedHome home;
    touch(home.path("Pictures/Merin/a.png"));
    touch(home.path("Pictures/Tallowcap/b.png"));
    AppDelegate::shotsFolder();
    EXPECT_TRUE(QFileInfo::exists(home.path("Pictures/Pictolarium/a.png")));
    EXPECT_FALSE(QFileInfo::exists(home.path("Pictures/Merin")));
    // Once the folder exists the second legacy folder is left alone.
    EXPECT_TRUE(QFileInfo::exists(home.path("Pictures/Tallowcap/b.png")));
}

TEST(ShotsFolder, NeverMergesALegacyFolderIntoAnExistingOne) {
    ScopedHome home;
    touch(home.path("Pictures/Pictolarium/mine.png"));
    touch(home.path("Pictures/Merin/old.png"));
    AppDelegate::shotsFolder();
    EXPECT_TRUE(QFileInfo::exists(home.path("Pictures/Pictolarium/mine.png")));
    EXPECT_FALSE(QFileInfo::exists(home.path("Pictures/Pictolarium/old.png")));
    EXPECT_TRUE(QFileInfo::exists(home.path("Pictures/Merin/old.png")));
}

TEST(Launch, DropsStoredShortcutsOnceThenKeepsThem) {
    ScopedHome home;
    QTemporaryDir dir;
    Defaults defaults(dir.path(), QStringLiteral("standard"));
    defaults.set(QStringLiteral("shortcut.capture"), QByteArray(R"({"keyCode":0,"modifiers":256,"keyName":"A"})"));
    defaults.set(QStringLiteral("shortcut.library"), QByteArray(R"({"keyCode":11,"modifiers":256,"keyName":"B"})"));
    defaults.set(QStringLiteral("onboardingSeen"), true);
    FakeGlobalKeys keys;
    HotKeys registry(keys);
    FakePlatform platform;
    {
        AppDelegate delegate(defaults, platform);
        delegate.hotKeys = &registry;
        delegate.applicationDidFinishLaunching();
    }
    EXPECT_FALSE(defaults.contains(QStringLiteral("shortcut.capture")));
    EXPECT_FALSE(defaults.contains(QStringLiteral("shortcut.library")));
    EXPECT_EQ(defaults.boolean(QStringLiteral("shortcutsV2")), true);

    // A shortcut chosen after the reset survives the next launch.
    defaults.set(QStringLiteral("shortcut.capture"), QByteArray(R"({"keyCode":0,"modifiers":256,"keyName":"A"})"));
    {
        AppDelegate delegate(defaults, platform);
        delegate.hotKeys = &registry;
        delegate.applicationDidFinishLaunching();
    }
    EXPECT_TRUE(defaults.contains(QStringLiteral("shortcut.capture")));
}

TEST(LatestShot, RefusesAPictureWhoseHeaderClaimsMoreThanTheDecodingBudget) {
    ScopedHome home;
    QTemporaryDir dir;
    Defaults defaults(dir.path(), QStringLiteral("standard"));
    FakePlatform platform;
    AppDelegate delegate(defaults, platform);
    // None yet: said once the folder has been listed, which is never on the thread that answers the user.
    Toast::hide();
    delegate.showLatest();
    EXPECT_EQ(toastText().toStdString(), "") << "listed on the thread that answers the user";
    EXPECT_TRUE(QTest::qWaitFor([] { return toastText() == QStringLiteral("No screenshots yet"); }, 5000));
    // 65535 × 65535 pixels claimed, no pixels given.
    const QString huge = AppDelegate::shotsFolder() + QStringLiteral("/huge.png");
    LibraryFixtures::put(huge, QByteArray::fromHex("89504e470d0a1a0a") +
                                   LibraryFixtures::chunk("IHDR", QByteArray::fromHex("0000ffff0000ffff0806000000")) +
                                   LibraryFixtures::chunk("IDAT", QByteArray(16, 0)) +
                                   LibraryFixtures::chunk("IEND", {}));
    // Refused as opening refuses it, in its words, while the program goes on answering.
    ASSERT_TRUE(delegate.latestShot().has_value());
    Toast::hide();
    delegate.showLatest();
    EXPECT_TRUE(toastText().isEmpty()) << "read on the thread that answers the user";
    EXPECT_TRUE(QTest::qWaitFor(
        [] { return toastText() == QStringLiteral("Can't open huge.png: the picture is too large"); }, 15000))
        << toastText().toStdString();
}

// Files handed to the program: what decodes is copied into the screenshot folder under a free name and
// opened as a card; anything else leaves the folder as it was and says why.
TEST(OpenFiles, OnlyWhatDecodesLandsInTheFolderAndTheRestSaysWhy) {
    ScopedHome home;
    QTemporaryDir outside, settings;
    Defaults defaults(settings.path(), QStringLiteral("standard"));
    FakePlatform platform;
    AppDelegate delegate(defaults, platform);
    const auto write = [&](const QString& name, const QByteArray& bytes) {
        return LibraryFixtures::put(outside.filePath(name), bytes);
    };
    const auto shots = [] {
        return QDir(AppDelegate::shotsFolder())
            .entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    };
    // The outcome, after any word that the file is being read. Never before the call returns: the files are looked
    // at on a worker, so that a slow or hung disk holds up no window.
    const auto toastFor = [&](const QString& path) {
        Toast::hide();
        delegate.openFiles({QUrl::fromLocalFile(path)});
        EXPECT_EQ(toastText().toStdString(), "") << "looked at on the thread that answers the user";
        QString text;
        QTest::qWaitFor(
            [&] {
                text = toastText();
                return !text.isEmpty() && !text.startsWith(QStringLiteral("Reading "));
            },
            15000);
        return text.toStdString();
    };
    QImage picture(40, 30, QImage::Format_RGB32);
    picture.fill(Qt::darkCyan);
    const QByteArray png = PngWriter::encode(picture);
    const QString pipe = outside.filePath(QStringLiteral("x.png"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);

    EXPECT_EQ(toastFor(write(QStringLiteral("cut.png"), png.left(png.size() / 2))),
              "Can't open cut.png: it is not a readable PNG picture");
    EXPECT_EQ(toastFor(write(QStringLiteral("zero.png"), {})), "Can't open zero.png: the file is empty");
    EXPECT_EQ(toastFor(write(QStringLiteral("notes.txt"), "hello")),
              "Can't open notes.txt: it is not a picture or PDF");
    EXPECT_EQ(toastFor(outside.path()),
              "Can't open " + QDir(outside.path()).dirName().toStdString() + ": it is a folder, not a picture or PDF");
    EXPECT_EQ(toastFor(pipe), "Can't open x.png: it is not a regular file");
    ASSERT_TRUE(QFile::link(QStringLiteral("b.png"), outside.filePath(QStringLiteral("loop.png"))));
    ASSERT_TRUE(QFile::link(QStringLiteral("loop.png"), outside.filePath(QStringLiteral("b.png"))));
    EXPECT_EQ(toastFor(outside.filePath(QStringLiteral("loop.png"))),
              "Can't open loop.png: it is a link that leads nowhere");
    EXPECT_EQ(shots(), QStringList());

    // A page that takes seconds to draw: the wait says what it is for, and the card takes its place.
    Toast::hide();
    delegate.openFiles({QUrl::fromLocalFile(write(QStringLiteral("slow.pdf"), HostilePdfs::busyPage(8000)))});
    EXPECT_TRUE(QTest::qWaitFor([&] { return toastText() == QStringLiteral("Reading slow.pdf\u2026"); }, 5000));
    ASSERT_TRUE(QTest::qWaitFor([] { return Thumbnail::current() != nullptr; }, 15000));
    EXPECT_NE(toastText(), QStringLiteral("Reading slow.pdf\u2026"));
    Thumbnail::dismiss();
    QFile::remove(QDir(AppDelegate::shotsFolder()).filePath(QStringLiteral("slow.pdf")));
    EXPECT_EQ(Thumbnail::current(), nullptr);

    const QString source = write(QStringLiteral("a.png"), png);
    for (const char* expected : {"a.png", "a 2.png"}) {
        Thumbnail::dismiss();
        delegate.openFiles({QUrl::fromLocalFile(source)});
        ASSERT_TRUE(QTest::qWaitFor([] { return Thumbnail::current() != nullptr; }, 15000));
        const Shot& shot = Thumbnail::current()->shot();
        EXPECT_EQ(shot.fileURL.fileName(), QString::fromLatin1(expected));
        EXPECT_EQ(shot.appName, QStringLiteral("a"));
        EXPECT_EQ(shot.image.size(), QSize(40, 30));
    }
    EXPECT_EQ(shots(), (QStringList{QStringLiteral("a 2.png"), QStringLiteral("a.png")}));

    // The other names the desktop gives HEIF files, which the program is registered to open, read as HEIC.
    const QByteArray heif = ImageCodec::encode(picture, ImageFormat::heic, 0.9);
    for (const char* name : {"photo.heif", "photo.HIF"}) {
        Thumbnail::dismiss();
        delegate.openFiles({QUrl::fromLocalFile(write(QString::fromLatin1(name), heif))});
        ASSERT_TRUE(QTest::qWaitFor([] { return Thumbnail::current() != nullptr; }, 15000)) << name;
        EXPECT_EQ(Thumbnail::current()->shot().image.size(), QSize(40, 30));
    }
    Thumbnail::dismiss();
    Toast::hide();
}

// An annotated picture handed to the program keeps its edit in the copy: annotate reopens the copy with
// the shapes editable, and editing the copy leaves the original's edit as it was.
TEST(OpenFiles, AnAnnotatedPictureReopensEditableFromItsCopy) {
    ScopedHome home;
    QTemporaryDir outside, settings;
    Defaults defaults(settings.path(), QStringLiteral("standard"));
    FakePlatform platform;
    AppDelegate delegate(defaults, platform);
    QImage base(60, 40, QImage::Format_RGB32);
    base.fill(Qt::white);
    QImage flat = base;
    flat.fill(Qt::red);
    const QString source =
        LibraryFixtures::put(outside.filePath(QStringLiteral("shot annotated.png")), PngWriter::encode(flat));
    const QUrl original = QUrl::fromLocalFile(source);
    const std::vector<ShapeRecord> shapes{
        ShapeRecord::of({Annotation::Box{{5, 5, 20, 10}}, Annotation::palette()[0], 4, false, {}})};
    ASSERT_TRUE(EditStore::save(std::nullopt, base, shapes, original));

    Thumbnail::dismiss();
    delegate.openFiles({original});
    ASSERT_TRUE(QTest::qWaitFor([] { return Thumbnail::current() != nullptr; }, 15000));
    const Shot shot = Thumbnail::current()->shot();
    Thumbnail::dismiss();
    ASSERT_NE(shot.fileURL, original);
    {
        auto window = std::make_unique<AnnotateWindow>(shot, nullptr);
        window->setAttribute(Qt::WA_DeleteOnClose, false);
        ASSERT_EQ(window->canvas->shapes.size(), 1u) << "the copy opens with its shape editable";
        EXPECT_EQ(window->canvas->image().pixelColor(1, 1), QColor(Qt::white)) << "drawn on the unannotated base";
        window->canvas->shapes.clear();
        window->finish();
        EXPECT_TRUE(QTest::qWaitFor([&] { return !window->isWriting(); }, 10000));
    }
    const std::optional<EditStore::Edit> copied = EditStore::load(shot.fileURL);
    ASSERT_TRUE(copied);
    EXPECT_TRUE(copied->shapes.empty());
    const std::optional<EditStore::Edit> kept = EditStore::load(original);
    ASSERT_TRUE(kept) << "editing the copy leaves the original linked";
    EXPECT_EQ(kept->shapes, shapes);
    EXPECT_NE(kept->id, copied->id);
}
