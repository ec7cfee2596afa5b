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

// Files handed to the program: a picture that decodes is copied into the screenshot folder and opened as a
// card; anything else leaves the folder as it was and says why.

namespace {

struct Opening {
    Opening() : previousHome(qgetenv("HOME")) {
        qputenv("HOME", home.path().toUtf8());
        Toast::hide();
        Thumbnail::dismiss();
    }
    ~Opening() {
        Thumbnail::dismiss();
        Toast::hide();
        qputenv("HOME", previousHome);
    }
    QString write(const QString& name, const QByteArray& bytes) {
        const QString path = outside.filePath(name);
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(bytes);
        return path;
    }
    QStringList shots() const {
        return QDir(AppDelegate::shotsFolder()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    }
    // The message shown for the request, once the decoder has answered.
    QString toastFor(const QString& path) {
        Toast::hide();
        delegate.openFiles({QUrl::fromLocalFile(path)});
        QString text;
        QTest::qWaitFor([&] {
            if (QWidget* toast = Toast::current())
                if (auto* label = toast->findChild<QLabel*>())
                    text = label->text();
            return !text.isEmpty();
        }, 15000);
        return text;
    }

    QTemporaryDir home;
    QTemporaryDir outside;
    QByteArray previousHome;
    QTemporaryDir settings;
    Defaults defaults{settings.path(), QStringLiteral("standard")};
    FakePlatform platform;
    AppDelegate delegate{defaults, platform};
};

QByteArray png(int w, int h) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    return PngWriter::encode(image);
}

} // namespace

TEST(OpenFiles, NothingUnreadableLandsInTheFolderAndEachSaysWhy) {
    Opening o;
    const QByteArray good = png(40, 30);
    QByteArray hugeHeader = png(1, 1);
    // IHDR width and height at bytes 16..23: claim 60000 × 60000 (the checksum no longer matches either).
    const char claim[] = {0, 0, char(0xEA), 0x60, 0, 0, char(0xEA), 0x60};
    hugeHeader.replace(16, 8, QByteArray(claim, 8));
    struct Case {
        QString name;
        QByteArray bytes;
        const char* message;
    };
    const QList<Case> cases{
        {QStringLiteral("random.png"), QByteArray(2048, '\x17'), "Can't open random.png: it is not a readable PNG picture"},
        {QStringLiteral("cut.png"), good.left(good.size() / 2), "Can't open cut.png: it is not a readable PNG picture"},
        {QStringLiteral("zero.png"), QByteArray(), "Can't open zero.png: the file is empty"},
        {QStringLiteral("wide.png"), hugeHeader, "Can't open wide.png:"},
        {QStringLiteral("notes.txt"), QByteArray("hello"), "Can't open notes.txt: it is not a picture or PDF"},
    };
    for (const Case& c : cases) {
        const QString text = o.toastFor(o.write(c.name, c.bytes));
        EXPECT_TRUE(text.startsWith(QString::fromLatin1(c.message))) << text.toStdString();
        EXPECT_EQ(o.shots(), QStringList()) << c.name.toStdString();
    }
    EXPECT_EQ(o.toastFor(o.outside.path()).toStdString(),
              ("Can't open " + QDir(o.outside.path()).dirName() + ": it is a folder, not a picture or PDF").toStdString());
    const QString pipe = o.outside.filePath(QStringLiteral("x.png"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    EXPECT_EQ(o.toastFor(pipe), QStringLiteral("Can't open x.png: it is not a regular file"));
    EXPECT_EQ(o.shots(), QStringList());
    EXPECT_EQ(Thumbnail::current(), nullptr);
}

TEST(OpenFiles, APictureIsCopiedUnderAFreeNameAndOpensAsACard) {
    Opening o;
    const QString source = o.write(QStringLiteral("a.png"), png(40, 30));
    for (const char* expected : {"a.png", "a 2.png"}) {
        Thumbnail::dismiss();
        o.delegate.openFiles({QUrl::fromLocalFile(source)});
        ASSERT_TRUE(QTest::qWaitFor([] { return Thumbnail::current() != nullptr; }, 15000));
        const Shot& shot = Thumbnail::current()->shot();
        EXPECT_EQ(shot.fileURL.fileName(), QString::fromLatin1(expected));
        EXPECT_EQ(shot.appName, QStringLiteral("a"));
        EXPECT_EQ(shot.image.size(), QSize(40, 30));
    }
    EXPECT_EQ(o.shots(), (QStringList{QStringLiteral("a 2.png"), QStringLiteral("a.png")}));
}
