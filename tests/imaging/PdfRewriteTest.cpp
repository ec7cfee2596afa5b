// Pages put back into a PDF: the page as the program prepares it, the document the child writes, and
// what it refuses.

#include "imaging/PdfRewrite.h"
#include "PictureFiles.h"

#include <QFile>
#include <QPdfDocument>
#include <gtest/gtest.h>

#include <zlib.h>

using namespace PictureFiles;

namespace {

QByteArray inflated(const QByteArray& deflated, qsizetype size) {
    QByteArray out(size, Qt::Uninitialized);
    uLongf length = uLongf(size);
    if (uncompress(reinterpret_cast<Bytef*>(out.data()), &length, reinterpret_cast<const Bytef*>(deflated.constData()),
                   uLong(deflated.size())) != Z_OK)
        return {};
    out.resize(qsizetype(length));
    return out;
}

QImage solid(int w, int h, QColor colour) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

QImage rendered(const QString& path, int page, QSize pixels) {
    QPdfDocument doc;
    if (doc.load(path) != QPdfDocument::Error::None)
        return {};
    return doc.render(page, pixels).convertToFormat(QImage::Format_ARGB32);
}

} // namespace

TEST(PdfRewrite, APageHoldsThePictureAtItsSizeInPoints) {
    // Wider than high, so a height taken from the width shows.
    const QImage picture = halfTransparent(300, 200);
    const PdfRewrite::Page page = PdfRewrite::page(4, picture, 2.5);
    EXPECT_EQ(page.index, 4);
    EXPECT_EQ(page.width, 300);
    EXPECT_EQ(page.height, 200);
    EXPECT_DOUBLE_EQ(page.pointsWidth, 120.0);
    EXPECT_DOUBLE_EQ(page.pointsHeight, 80.0);

    // Row by row, red then nothing: the colour samples and the alpha samples apart.
    const QByteArray rgb = inflated(page.rgb, 300 * 200 * 3);
    const QByteArray mask = inflated(page.mask, 300 * 200);
    ASSERT_EQ(rgb.size(), 300 * 200 * 3);
    ASSERT_EQ(mask.size(), 300 * 200);
    for (int y : {0, 199})
        for (int x : {0, 149, 150, 299}) {
            const qsizetype at = qsizetype(y) * 300 + x;
            const bool opaque = x < 150;
            EXPECT_EQ(uchar(mask[at]), opaque ? 255 : 0) << x << "," << y;
            if (opaque) {
                EXPECT_EQ(rgb.mid(at * 3, 3), QByteArray("\xff\x00\x00", 3)) << x << "," << y;
            }
        }

    // An opaque picture has no mask; a scale that is no scale counts as two pixels a point.
    const PdfRewrite::Page flat = PdfRewrite::page(0, solid(50, 90, Qt::blue), 0);
    EXPECT_TRUE(flat.mask.isEmpty());
    EXPECT_DOUBLE_EQ(flat.pointsWidth, 25.0);
    EXPECT_DOUBLE_EQ(flat.pointsHeight, 45.0);
}

TEST(PdfRewrite, ReplacesTheListedPagesAndKeepsTheOthers) {
    Folder folder;
    const QByteArray source = pdf({QSizeF(200, 300), QSizeF(400, 250), QSizeF(300, 300)});
    folder.write(QStringLiteral("doc.pdf"), source);
    folder.write(QStringLiteral("out.pdf"), QByteArray());
    // Page 2 becomes half yellow and half see-through, page 3 a tall magenta page.
    QImage cutout = halfTransparent(240, 160);
    for (int y = 0; y < 160; ++y)
        for (int x = 0; x < 120; ++x)
            cutout.setPixelColor(x, y, Qt::yellow);
    const std::vector<PdfRewrite::Page> pages{PdfRewrite::page(1, cutout, 2.0),
                                              PdfRewrite::page(2, solid(100, 300, Qt::magenta), 1.0)};
    ASSERT_TRUE(PdfRewrite::save(folder.path(QStringLiteral("list")), pages));

    ASSERT_EQ(PdfRewrite::rewrite(folder.path(QStringLiteral("doc.pdf")), folder.path(QStringLiteral("list")),
                                  folder.path(QStringLiteral("out.pdf"))),
              PdfRewrite::Outcome::Written);
    EXPECT_EQ(folder.read(QStringLiteral("doc.pdf")), source);

    const QString out = folder.path(QStringLiteral("out.pdf"));
    QPdfDocument doc;
    ASSERT_EQ(doc.load(out), QPdfDocument::Error::None);
    ASSERT_EQ(doc.pageCount(), 3);
    EXPECT_EQ(doc.pagePointSize(0), QSizeF(200, 300));
    EXPECT_EQ(doc.pagePointSize(1), QSizeF(120, 80));
    EXPECT_EQ(doc.pagePointSize(2), QSizeF(100, 300));

    const QImage first = rendered(out, 0, QSize(200, 300));
    EXPECT_TRUE(near(first.pixelColor(100, 150), Qt::red));
    const QImage second = rendered(out, 1, QSize(240, 160));
    ASSERT_EQ(second.size(), QSize(240, 160));
    EXPECT_TRUE(near(second.pixelColor(10, 10), Qt::yellow));
    EXPECT_TRUE(near(second.pixelColor(110, 150), Qt::yellow));
    // The mask keeps the clear half clear.
    EXPECT_EQ(second.pixelColor(130, 10).alpha(), 0);
    EXPECT_EQ(second.pixelColor(230, 150).alpha(), 0);
    const QImage third = rendered(out, 2, QSize(100, 300));
    EXPECT_TRUE(near(third.pixelColor(50, 5), Qt::magenta));
    EXPECT_TRUE(near(third.pixelColor(50, 295), Qt::magenta));
}

TEST(PdfRewrite, RefusesWhatItCannotDoAndWritesNothing) {
    Folder folder;
    folder.write(QStringLiteral("doc.pdf"), pdf({QSizeF(100, 100), QSizeF(100, 100)}));
    folder.write(QStringLiteral("text.pdf"), QByteArray("plain words, no document"));
    folder.write(QStringLiteral("out.pdf"), QByteArray());
    folder.write(QStringLiteral("junk"), QByteArray(64, 'x'));
    const QString list = folder.path(QStringLiteral("list"));
    ASSERT_TRUE(PdfRewrite::save(list, {PdfRewrite::page(0, solid(20, 20, Qt::green), 1.0)}));
    const QString farList = folder.path(QStringLiteral("far"));
    ASSERT_TRUE(PdfRewrite::save(farList, {PdfRewrite::page(2, solid(20, 20, Qt::green), 1.0)}));
    QFile::link(folder.path(QStringLiteral("out.pdf")), folder.path(QStringLiteral("link.pdf")));

    struct Case {
        const char* source;
        QString list;
        const char* target;
        PdfRewrite::Outcome outcome;
    };
    const Case cases[] = {
        {"doc.pdf", folder.path(QStringLiteral("junk")), "out.pdf", PdfRewrite::Outcome::BadList},
        {"doc.pdf", folder.path(QStringLiteral("missing")), "out.pdf", PdfRewrite::Outcome::BadList},
        {"doc.pdf", farList, "out.pdf", PdfRewrite::Outcome::NoPage},
        {"text.pdf", list, "out.pdf", PdfRewrite::Outcome::Unreadable},
        // The target is made by the caller; a missing one or a link is not written through.
        {"doc.pdf", list, "none.pdf", PdfRewrite::Outcome::WriteFailed},
        {"doc.pdf", list, "link.pdf", PdfRewrite::Outcome::WriteFailed},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PdfRewrite::rewrite(folder.path(QString::fromLatin1(c.source)), c.list,
                                      folder.path(QString::fromLatin1(c.target))),
                  c.outcome)
            << c.source << " " << c.target;
        EXPECT_TRUE(folder.read(QStringLiteral("out.pdf")).isEmpty()) << c.source << " " << c.target;
    }
    EXPECT_FALSE(QFile::exists(folder.path(QStringLiteral("none.pdf"))));

    // A page without pixels is never listed.
    EXPECT_FALSE(PdfRewrite::save(folder.path(QStringLiteral("empty")), {PdfRewrite::Page{}}));
}
