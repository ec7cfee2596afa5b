#include "PngFile.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

XGrab::Pixels pixelsOf(const QImage& image) {
    XGrab::Pixels p;
    p.width = image.width();
    p.height = image.height();
    p.stride = int(image.bytesPerLine());
    p.data = image.constBits();
    return p;
}

bool write(const QImage& image, const QString& target, QString* written = nullptr, QString* error = nullptr) {
    std::string out, why;
    const bool ok = PngFile::writeNew(pixelsOf(image), target.toStdString(), out, why);
    if (written)
        *written = QString::fromStdString(out);
    if (error)
        *error = QString::fromStdString(why);
    return ok;
}

TEST(ScreencaptureTool, WritesPixelsExactly) {
    QTemporaryDir dir;
    // Odd sizes, a padded stride and noise: every row and channel must land where it belongs.
    QImage wide(1003, 5, QImage::Format_RGB32);
    QRandomGenerator random(7);
    for (int y = 0; y < wide.height(); ++y)
        for (int x = 0; x < wide.width(); ++x)
            wide.setPixel(x, y, qRgb(random.bounded(256), random.bounded(256), random.bounded(256)));
    const QImage tall = wide.copy(0, 0, 1, 5);
    // Tall enough to be cut into bands that are compressed apart and joined.
    QImage banded(301, 1031, QImage::Format_RGB32);
    banded.fill(Qt::white);
    for (int y = 0; y < banded.height(); ++y)
        for (int x = 0; x < banded.width(); x += 1 + y % 5)
            banded.setPixel(x, y, qRgb(random.bounded(256), x % 256, y % 256));
    int n = 0;
    for (const QImage& image : {wide, tall, banded}) {
        const QString target = dir.filePath(QStringLiteral("shot %1.png").arg(++n));
        QString written;
        ASSERT_TRUE(write(image, target, &written));
        EXPECT_EQ(written, target);
        const QImage back = QImage(written).convertToFormat(QImage::Format_RGB32);
        EXPECT_EQ(back, image) << n;
    }
    // Nothing but the pictures is left behind.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 3);

    // Not the private mode of the temporary file: the one any new file of the user gets.
    QFile plain(dir.filePath(QStringLiteral("plain")));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    EXPECT_EQ(QFile(dir.filePath(QStringLiteral("shot 1.png"))).permissions(), plain.permissions());
}

TEST(ScreencaptureTool, WritesAlphaWhenTheWindowHasIt) {
    // Premultiplied pixels as a depth-32 window gives them: clear, faint, half and opaque.
    QImage premultiplied(4, 70, QImage::Format_ARGB32_Premultiplied);
    const QRgb colours[] = {qRgba(0, 0, 0, 0), qRgba(200, 100, 50, 10), qRgba(30, 60, 90, 128), qRgba(255, 0, 0, 255)};
    for (int y = 0; y < premultiplied.height(); ++y)
        for (int x = 0; x < 4; ++x)
            premultiplied.setPixelColor(x, y, QColor::fromRgba(colours[x]));
    QTemporaryDir dir;
    XGrab::Pixels pixels = pixelsOf(premultiplied);
    pixels.alpha = true;
    std::string written, why;
    ASSERT_TRUE(PngFile::writeNew(pixels, dir.filePath(QStringLiteral("clear.png")).toStdString(), written, why))
        << why;
    const QImage back(QString::fromStdString(written));
    ASSERT_TRUE(back.hasAlphaChannel());
    const QImage expected = premultiplied.convertToFormat(QImage::Format_ARGB32);
    for (int y : {0, 69})
        for (int x = 0; x < 4; ++x) {
            const QRgb a = back.convertToFormat(QImage::Format_ARGB32).pixel(x, y), b = expected.pixel(x, y);
            EXPECT_EQ(qAlpha(a), qAlpha(b)) << x;
            if (qAlpha(b) > 0)
                for (int d : {qRed(a) - qRed(b), qGreen(a) - qGreen(b), qBlue(a) - qBlue(b)})
                    EXPECT_LE(std::abs(d), 255 / qAlpha(b) + 1) << x;
        }
}

TEST(ScreencaptureTool, NeverReplacesAFileAndTakesTheNextFreeName) {
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("Screen 2026-12-06 at 13.05.09.png"));
    QFile keep(target);
    ASSERT_TRUE(keep.open(QIODevice::WriteOnly));
    keep.write("precious");
    keep.close();
    QFile third(dir.filePath(QStringLiteral("Screen 2026-12-06 at 13.05.09 3.png")));
    ASSERT_TRUE(third.open(QIODevice::WriteOnly));
    third.close();

    QImage image(4, 4, QImage::Format_RGB32);
    image.fill(Qt::red);
    QStringList names;
    for (int i = 0; i < 2; ++i) {
        QString written;
        ASSERT_TRUE(write(image, target, &written));
        names.append(QFileInfo(written).fileName());
    }
    EXPECT_EQ(names, (QStringList{QStringLiteral("Screen 2026-12-06 at 13.05.09 2.png"),
                                  QStringLiteral("Screen 2026-12-06 at 13.05.09 4.png")}));
    ASSERT_TRUE(keep.open(QIODevice::ReadOnly));
    EXPECT_EQ(keep.readAll(), QByteArray("precious"));

    QString error;
    EXPECT_FALSE(write(image, dir.filePath(QStringLiteral("missing/x.png")), nullptr, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("missing/x.png"))) << error.toStdString();

    const struct {
        const char* path;
        int n;
        const char* expected;
    } numbering[] = {{"a/b.png", 1, "a/b.png"},
                     {"a/b.png", 3, "a/b 3.png"},
                     {"a.b/c", 2, "a.b/c 2"},
                     {"x.tar.png", 2, "x.tar 2.png"}};
    for (const auto& c : numbering)
        EXPECT_EQ(PngFile::numbered(c.path, c.n), c.expected) << c.path;
}

TEST(ScreencaptureTool, RefusesBadArgumentsWithAMessageAndNoFile) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("out.png"));
    const struct {
        QStringList args;
        int code;
        const char* says;
    } cases[] = {
        {{}, 2, "choose one of"},
        {{QStringLiteral("-l"), QStringLiteral("abc"), file}, 2, "-l needs a window id"},
        {{QStringLiteral("-l"), QStringLiteral("99999999999"), file}, 2, "-l needs a window id"},
        {{QStringLiteral("-D"), QStringLiteral("0"), file}, 2, "-D needs a display number"},
        {{QStringLiteral("-D"), QStringLiteral("1"), QStringLiteral("-l"), QStringLiteral("5"), file}, 2, "choose one"},
        {{QStringLiteral("-D"), QStringLiteral("1"), QStringLiteral("-t"), QStringLiteral("jpg"), file},
         2,
         "unsupported format: jpg"},
        {{QStringLiteral("-D"), QStringLiteral("1"), file, file}, 2, "more than one file"},
        {{QStringLiteral("-D"), QStringLiteral("1")}, 2, "no file given"},
        {{QStringLiteral("-D"), QStringLiteral("1"), QStringLiteral("-s"), file}, 2, "-s goes with -i"},
        {{QStringLiteral("-D"), QStringLiteral("1"), QStringLiteral("-q"), file}, 2, "unknown option -q"},
        // Well formed, but there is no display to read.
        {{QStringLiteral("-D"), QStringLiteral("1"), QStringLiteral("-x"), QStringLiteral("-t"), QStringLiteral("png"),
          file},
         1,
         "cannot open the display"},
    };
    for (const auto& c : cases) {
        QProcess tool;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), QStringLiteral(":7777"));
        tool.setProcessEnvironment(env);
        tool.start(QStringLiteral(SCREENCAPTURE_BIN), c.args);
        ASSERT_TRUE(tool.waitForFinished(10000));
        const QString err = QString::fromUtf8(tool.readAllStandardError());
        EXPECT_EQ(tool.exitCode(), c.code) << c.args.join(QLatin1Char(' ')).toStdString();
        EXPECT_TRUE(err.contains(QLatin1String(c.says))) << err.toStdString();
        EXPECT_TRUE(tool.readAllStandardOutput().isEmpty());
        EXPECT_FALSE(QFile::exists(file));
    }
}

} // namespace
