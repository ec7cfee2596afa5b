#include "card/PDFSession.h"
#include "card/PageBar.h"
#include "card/ThumbnailPanel.h"
#include "card/ThumbnailView.h"
#include "imaging/IsolatedDecode.h"
#include "imaging/ShotFiles.h"
#include "platform/EscapeKeyGrab.h"
#include "platform/fake/FakePointerWatch.h"
#include "ui/GhostButton.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPainter>
#include <QPdfWriter>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#define POINTERHOLDER_TRANSITION 4
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFJob.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A PDF of `pages` letter pages, each with its number in large type.
QString makePdf(const QTemporaryDir& dir, int pages, const QString& name = QStringLiteral("Report.pdf")) {
    const QString path = dir.filePath(name);
    QPdfWriter writer(path);
    writer.setPageSize(QPageSize(QPageSize::Letter));
    writer.setResolution(72);
    QPainter painter(&writer);
    for (int i = 0; i < pages; ++i) {
        if (i > 0)
            writer.newPage();
        QFont font;
        font.setPixelSize(60);
        painter.setFont(font);
        painter.drawText(100, 200, QStringLiteral("Page ") + QString::number(i + 1));
    }
    return path;
}

QByteArray digest(const QString& path) {
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

bool qpdfCheckClean(const QString& path) {
    const QByteArray p = QFile::encodeName(path);
    const char* argv[] = {"qpdf", "--check", p.constData(), nullptr};
    QPDFJob job;
    job.setMessagePrefix("check");
    job.initializeFromArgv(argv);
    try {
        job.run();
    } catch (const std::exception&) {
        return false;
    }
    return job.getExitCode() == 0 && !job.hasWarnings();
}

// The page picture changed in place: written again and dated after the render.
void editPage(const QUrl& page, QColor colour, bool alpha = false) {
    QImage picture(QImage(page.toLocalFile()).size(), alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    picture.fill(colour);
    if (alpha)
        picture.setPixelColor(0, 0, Qt::transparent);
    // Modified clearly after the page was rendered.
    QTest::qWait(20);
    ShotFiles::write(picture, page);
}

QColor centreOf(const QImage& image) {
    return image.pixelColor(image.width() / 2, image.height() / 2);
}

// A decoding program that runs `body` first, then the real one; it is used while alive.
class ChildScript {
public:
    ChildScript(const QTemporaryDir& dir, const QByteArray& body) {
        const QString path = dir.filePath(QStringLiteral("decode.sh"));
        QFile script(path);
        script.open(QIODevice::WriteOnly);
        script.write("#!/bin/sh\n" + body + "\nexec '" +
                     QFile::encodeName(QCoreApplication::applicationDirPath() +
                                       QStringLiteral("/../tools/decode/pictolarium-decode")) +
                     "' \"$@\"\n");
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        IsolatedDecode::setProgram(path);
    }
    ~ChildScript() { IsolatedDecode::setProgram(QString()); }
};

QStringList filesIn(const QString& folder) {
    return QDir(folder).entryList(QDir::Hidden | QDir::Files);
}

} // namespace

// The page's scale is what puts an edited picture back at the page's size.
TEST(PdfPages, PagesRenderAtTwoPixelsAPointUpTo3200) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Sizes.pdf"));
    {
        QPdfWriter writer(path);
        writer.setResolution(72);
        writer.setPageSize(QPageSize(QPageSize::Letter));
        QPainter painter(&writer);
        writer.setPageSize(QPageSize(QSizeF(2000, 3000), QPageSize::Point));
        writer.newPage();
    }
    const auto session = PDFSession::open(QUrl::fromLocalFile(path));
    ASSERT_TRUE(session);
    EXPECT_EQ(session->pageCount(), 2);
    EXPECT_EQ(session->render(0).image.size(), QSize(1224, 1584));
    EXPECT_DOUBLE_EQ(session->pixelsPerPoint, 2.0);
    EXPECT_EQ(session->render(1).image.size(), QSize(2133, 3200));
    EXPECT_NEAR(session->pixelsPerPoint, 3200.0 / 3000, 0.001);
}

TEST(PdfPages, OnlyAChangedPageIsWrittenBackAndTheFileStaysSound) {
    QTemporaryDir dir;
    const QString path = makePdf(dir, 4);
    const auto session = PDFSession::open(QUrl::fromLocalFile(path));
    ASSERT_TRUE(session);
    const PDFSession::Rendered page = session->render(1);
    EXPECT_EQ(page.url.fileName(), QStringLiteral("Report p2.png"));
    EXPECT_EQ(QFileInfo(page.url.toLocalFile()).dir().dirName(), QStringLiteral(".pages"));
    const QByteArray before = digest(path);

    EXPECT_FALSE(session->commit(page.url)) << "untouched page";
    EXPECT_TRUE(session->failure().isEmpty());
    EXPECT_EQ(digest(path), before);

    editPage(page.url, Qt::red, true);
    ASSERT_TRUE(session->commit(page.url)) << session->failure().toStdString();
    EXPECT_NE(digest(path), before);
    EXPECT_TRUE(qpdfCheckClean(path));
    EXPECT_FALSE(session->commit(page.url)) << "committed once, clean again";

    QPDF pdf;
    pdf.processFile(QFile::encodeName(path).constData());
    auto pages = QPDFPageDocumentHelper(pdf).getAllPages();
    ASSERT_EQ(pages.size(), 4u);
    const QPDFObjectHandle::Rectangle box = pages[1].getMediaBox().getArrayAsRectangle();
    EXPECT_NEAR(box.urx - box.llx, 612, 0.5);
    EXPECT_NEAR(box.ury - box.lly, 792, 0.5);
    QPDFObjectHandle image = pages[1].getImages().begin()->second;
    EXPECT_TRUE(image.getDict().hasKey("/SMask")) << "a picture with alpha keeps it";

    // The shown document was reloaded: the replaced page renders as the picture, its neighbour as before.
    EXPECT_EQ(centreOf(session->render(1).image), QColor(Qt::red));
    EXPECT_EQ(centreOf(session->render(2).image), QColor(Qt::white));

    EXPECT_EQ(session->pageCount(), 4);
    EXPECT_TRUE(qpdfCheckClean(path));
}

TEST(PdfPages, AFileThatMayNotBeChangedIsLeftAsItWas) {
    QTemporaryDir dir;
    const QString path = makePdf(dir, 2);
    const auto session = PDFSession::open(QUrl::fromLocalFile(path));
    ASSERT_TRUE(session);
    const QUrl page = session->render(0).url;
    editPage(page, Qt::green);
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0444), 0);
    const QByteArray before = digest(path);
    EXPECT_FALSE(session->commit(page));
    EXPECT_EQ(session->failure(), QStringLiteral("Couldn't write Report.pdf"));
    EXPECT_EQ(digest(path), before);
    EXPECT_EQ(QFileInfo(path).permissions() & QFile::WriteOwner, 0);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Hidden | QDir::Files).size(), 1) << "no temporary file left";

    // Writable again, the same edit still counts: a failed commit does not mark the page clean.
    ::chmod(QFile::encodeName(path).constData(), 0644);
    EXPECT_TRUE(session->commit(page));

    // A read-only folder: no temporary file can be made beside the PDF. Root writes anyway.
    if (::geteuid() != 0) {
        editPage(page, Qt::yellow);
        ::chmod(QFile::encodeName(dir.path()).constData(), 0555);
        const QByteArray kept = digest(path);
        EXPECT_FALSE(session->commit(page));
        EXPECT_EQ(digest(path), kept);
        ::chmod(QFile::encodeName(dir.path()).constData(), 0755);
    }
}

TEST(PdfPages, DamagedFileFailsWithAMessage) {
    QTemporaryDir dir;
    const QString path = makePdf(dir, 2);
    const auto session = PDFSession::open(QUrl::fromLocalFile(path));
    ASSERT_TRUE(session);
    const QUrl page = session->render(0).url;
    editPage(page, Qt::green);
    // The file is damaged after the card opened it: what QtPdf showed can no longer be read by the editor.
    QFile file(path);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write("%PDF-1.4\ngarbage");
    file.close();
    const QByteArray before = digest(path);
    EXPECT_FALSE(session->commit(page));
    EXPECT_EQ(session->failure(), QStringLiteral("Can't edit Report.pdf: it is not a readable PDF"));
    EXPECT_EQ(digest(path), before);
}

// A document the child cannot rewrite within its time (millions of objects, streams that inflate to
// gigabytes) is refused with a message, and nothing of the attempt is left beside it.
TEST(PdfPages, AnEditOverTheTimeLimitLeavesTheFileAsItWas) {
    QTemporaryDir dir;
    const QString path = makePdf(dir, 2);
    const auto session = PDFSession::open(QUrl::fromLocalFile(path));
    ASSERT_TRUE(session);
    const QUrl page = session->render(1).url;
    editPage(page, Qt::green);
    const QByteArray before = digest(path);
    {
        const ChildScript stuck(dir, "[ \"$1\" = rewrite ] && exec sleep 30");
        session->editTimeLimitMs = 300;
        EXPECT_FALSE(session->commit(page));
    }
    EXPECT_EQ(session->failure(), QStringLiteral("Can't edit Report.pdf: it takes too long to edit"));
    EXPECT_EQ(digest(path), before);
    EXPECT_EQ(filesIn(dir.path()).size(), 2) << "the PDF and the script, no temporary file";

    // The same edit goes through once the child has its time.
    session->editTimeLimitMs = IsolatedDecode::timeLimitMs;
    ASSERT_TRUE(session->commit(page)) << session->failure().toStdString();
    EXPECT_EQ(centreOf(PDFSession::renderFile(session->pdfURL, session->workDir, 1).image), QColor(Qt::green));
}

namespace {

class QuietEscape : public EscapeKeyGrab {
public:
    bool setActive(bool) override { return true; }
};

ThumbnailPanel* pdfCard(const std::shared_ptr<PDFSession>& session) {
    const PDFSession::Rendered page = session->render(0);
    ThumbnailPanel::Services s;
    s.escape = std::make_unique<QuietEscape>();
    s.pointerWatch = [] { return std::make_unique<FakePointerWatch>(); };
    return new ThumbnailPanel(Shot{page.url, page.image, QStringLiteral("Report"), std::nullopt}, std::nullopt, session,
                              std::move(s));
}

} // namespace

TEST(PdfPages, CardStepsThroughPagesWithItsBar) {
    QTemporaryDir dir;
    {
        const auto one = PDFSession::open(QUrl::fromLocalFile(makePdf(dir, 1, QStringLiteral("One.pdf"))));
        std::unique_ptr<ThumbnailPanel> card(pdfCard(one));
        EXPECT_EQ(card->view()->pageBar, nullptr) << "a one-page PDF has no bar";
    }
    const QString path = makePdf(dir, 3);
    const auto session = PDFSession::open(QUrl::fromLocalFile(path));
    std::unique_ptr<ThumbnailPanel> card(pdfCard(session));
    ThumbnailView* view = card->view();
    PageBar* bar = view->pageBar;
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->label->text(), QStringLiteral("1 / 3"));
    EXPECT_FALSE(bar->prev->isEnabled());
    EXPECT_TRUE(bar->next->isEnabled());

    const QByteArray before = digest(path);
    const auto settle = [view] { ASSERT_TRUE(QTest::qWaitFor([view] { return !view->isBusy(); }, 10000)); };
    bar->next->click();
    view->stepPage(1); // dropped: the first step is still drawing its page
    settle();
    EXPECT_EQ(session->index, 1);
    EXPECT_EQ(view->shot().fileURL.fileName(), QStringLiteral("Report p2.png"));
    EXPECT_EQ(bar->label->text(), QStringLiteral("2 / 3"));
    EXPECT_EQ(digest(path), before) << "an unchanged page is not written";

    view->stepPage(1);
    settle();
    EXPECT_EQ(bar->label->text(), QStringLiteral("3 / 3"));
    EXPECT_FALSE(bar->next->isEnabled());
    view->stepPage(1);
    view->stepPage(-3);
    settle();
    EXPECT_EQ(session->index, 2) << "past either end nothing happens";
}

// Putting a page back runs off the main thread: the card keeps handling events, refuses another step, and
// the PDF changes only once the child is done. Closing hands its page to a worker that quitting waits for.
TEST(PdfPages, PagesGoBackWhileTheCardStaysResponsive) {
    QTemporaryDir dir;
    const QString path = makePdf(dir, 3);
    const auto session = PDFSession::open(QUrl::fromLocalFile(path));
    std::unique_ptr<ThumbnailPanel> card(pdfCard(session));
    ThumbnailView* view = card->view();
    editPage(view->shot().fileURL, Qt::blue);
    const QByteArray before = digest(path);
    const QString gate = dir.filePath(QStringLiteral("gate"));
    {
        // Every child waits for the gate file.
        const ChildScript held(dir, "while [ ! -e '" + QFile::encodeName(gate) + "' ]; do sleep 0.02; done");
        view->stepPage(1);
        int ticks = 0;
        QTimer probe;
        probe.callOnTimeout([&ticks] { ++ticks; });
        probe.start(0);
        ASSERT_TRUE(QTest::qWaitFor([&ticks] { return ticks >= 20; }, 10000));
        EXPECT_TRUE(view->isBusy());
        view->stepPage(1);
        EXPECT_EQ(session->index, 0);
        EXPECT_EQ(digest(path), before);
        QFile(gate).open(QIODevice::WriteOnly);
        ASSERT_TRUE(QTest::qWaitFor([view] { return !view->isBusy(); }, 20000));
    }
    EXPECT_EQ(session->index, 1);
    EXPECT_NE(digest(path), before);
    EXPECT_TRUE(qpdfCheckClean(path));

    QFile::remove(gate);
    editPage(view->shot().fileURL, Qt::red);
    const QByteArray stepped = digest(path);
    {
        const ChildScript held(dir, "while [ ! -e '" + QFile::encodeName(gate) + "' ]; do sleep 0.02; done");
        card->close();
        EXPECT_EQ(digest(path), stepped) << "the close did not wait for the child";
        EXPECT_FALSE(PDFSession::waitForBackground(50));
        QFile(gate).open(QIODevice::WriteOnly);
        EXPECT_TRUE(PDFSession::waitForBackground(20000));
    }
    EXPECT_EQ(centreOf(PDFSession::renderFile(session->pdfURL, session->workDir, 1).image), QColor(Qt::red));
}
