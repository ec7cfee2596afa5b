#include "app/AppDelegate.h"

#include "card/Thumbnail.h"
#include "imaging/PngWriter.h"
#include "platform/Defaults.h"
#include "platform/fake/FakePlatform.h"
#include "ui/Toast.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <sys/stat.h>

// Files handed to the program: what decodes is copied into the screenshot folder under a free name and
// opened as a card; anything else leaves the folder as it was and says why.
TEST(OpenFiles, OnlyWhatDecodesLandsInTheFolderAndTheRestSaysWhy) {
    QTemporaryDir home, outside, settings;
    const QByteArray previousHome = qgetenv("HOME");
    qputenv("HOME", home.path().toUtf8());
    Defaults defaults(settings.path(), QStringLiteral("standard"));
    FakePlatform platform;
    AppDelegate delegate(defaults, platform);
    const auto write = [&](const QString& name, const QByteArray& bytes) {
        QFile f(outside.filePath(name));
        f.open(QIODevice::WriteOnly);
        f.write(bytes);
        return f.fileName();
    };
    const auto shots = [] {
        return QDir(AppDelegate::shotsFolder())
            .entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    };
    const auto toastFor = [&](const QString& path) {
        Toast::hide();
        delegate.openFiles({QUrl::fromLocalFile(path)});
        QString text;
        QTest::qWaitFor(
            [&] {
                if (QWidget* toast = Toast::current())
                    text = toast->findChild<QLabel*>()->text();
                return !text.isEmpty();
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
    EXPECT_EQ(shots(), QStringList());
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
    Thumbnail::dismiss();
    Toast::hide();
    qputenv("HOME", previousHome);
}
