#include "CardFixtures.h"
#include "card/PageBar.h"
#include "editors/EditStore.h"
#include "ui/FormatBadge.h"
#include "ui/GhostButton.h"

#include <QCryptographicHash>
#include <QDir>
#include <QPdfDocument>
#include <QTimer>

#define POINTERHOLDER_TRANSITION 4
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFJob.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>

#include <sys/stat.h>
#include <unistd.h>

using namespace CardFixtures;

namespace {

QString makePdf(const QTemporaryDir& dir, int pages) {
    QStringList numbers;
    for (int i = 1; i <= pages; ++i)
        numbers << QStringLiteral("Page ") + QString::number(i);
    return pdfOf(dir, QStringLiteral("Report.pdf"), numbers);
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

QColor centreOf(const QImage& image) {
    return image.pixelColor(image.width() / 2, image.height() / 2);
}

// Every decoding child waits until the gate file exists.
QByteArray waitFor(const QString& gate) {
    return "while [ ! -e '" + QFile::encodeName(gate) + "' ]; do sleep 0.02; done";
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

    repaint(page.url, Qt::red, true);
    ASSERT_TRUE(session->commit(page.url)) << session->failure().toStdString();
    EXPECT_NE(digest(path), before);
    EXPECT_TRUE(qpdfCheckClean(path));
    EXPECT_FALSE(session->commit(page.url)) << "committed once, clean again";

    QPDF pdf;
    pdf.processFile(QFile::encodeName(path).constData());
    auto pages = QPDFPageDocumentHelper(pdf).getAllPages();
    ASSERT_EQ(pages.size(), 4u);
    const QPDFObjectHandle::Rectangle box = pages[1].getMediaBox().getArrayAsRectangle();
    const QSizeF points = QPageSize(QPageSize::A5).sizePoints();
    EXPECT_NEAR(box.urx - box.llx, points.width(), 0.5);
    EXPECT_NEAR(box.ury - box.lly, points.height(), 0.5);
    QPDFObjectHandle image = pages[1].getImages().begin()->second;
    EXPECT_TRUE(image.getDict().hasKey("/SMask")) << "a picture with alpha keeps it";

    // The shown document was reloaded: the replaced page renders as the picture, its neighbour as before.
    EXPECT_EQ(centreOf(session->render(1).image), QColor(Qt::red));
    EXPECT_EQ(centreOf(session->render(2).image), QColor(Qt::white));
    EXPECT_EQ(session->pageCount(), 4);
}

// Whatever stops an edit (a file or folder that may not be changed, a child over its time, a file damaged
// since it was shown), the PDF stays as it was with nothing of the attempt beside it, and the page stays
// changed for the next try.
TEST(PdfPages, AnEditThatCannotBeMadeLeavesTheFileAsItWas) {
    QTemporaryDir dir;
    const QString path = makePdf(dir, 2);
    const QByteArray native = QFile::encodeName(path);
    const auto session = PDFSession::open(QUrl::fromLocalFile(path));
    ASSERT_TRUE(session);
    const QUrl page = session->render(1).url;
    repaint(page, Qt::green);
    QByteArray before = digest(path);
    // `mode` is the file's while the edit is tried.
    const auto refused = [&](const std::string& failure, mode_t mode = 0644) {
        ::chmod(native.constData(), mode);
        EXPECT_FALSE(session->commit(page)) << failure;
        EXPECT_EQ(session->failure().toStdString(), failure);
        ::chmod(native.constData(), 0644);
        EXPECT_EQ(digest(path), before) << failure;
        QStringList left = QDir(dir.path()).entryList(QDir::Hidden | QDir::Files);
        left.removeOne(QStringLiteral("pdfwrite.sh"));
        EXPECT_EQ(left, QStringList{QStringLiteral("Report.pdf")}) << failure << ": no temporary file left";
    };

    ASSERT_EQ(::chmod(native.constData(), 0444), 0);
    EXPECT_FALSE(session->commit(page));
    EXPECT_EQ(QFileInfo(path).permissions() & QFile::WriteOwner, 0) << "the mode is kept";
    refused("Couldn't write Report.pdf: Permission denied", 0444);
    // One the user may change but no longer read is no damaged one.
    {
        const ChildScript asUser(dir, {}, ChildScript::Writer, ChildScript::asUser());
        refused("Can't edit Report.pdf: there is no permission to read it", 0200);
    }
    // Millions of objects or streams that inflate to gigabytes keep the child busy past its time.
    {
        const ChildScript stuck(dir, "exec sleep 30", ChildScript::Writer);
        session->editTimeLimitMs = 300;
        refused("Can't edit Report.pdf: it takes too long to edit");
    }
    // Writable and given its time, the same edit goes through: a failed one left the page changed.
    session->editTimeLimitMs = IsolatedDecode::timeLimitMs;
    ASSERT_TRUE(session->commit(page)) << session->failure().toStdString();
    EXPECT_EQ(centreOf(PDFSession::renderFile(session->pdfURL, session->workDir, 1).image), QColor(Qt::green));

    // A read-only folder: no temporary file can be made beside the PDF. Root writes anyway.
    repaint(page, Qt::yellow);
    before = digest(path);
    if (::geteuid() != 0) {
        ::chmod(QFile::encodeName(dir.path()).constData(), 0555);
        EXPECT_FALSE(session->commit(page));
        EXPECT_EQ(session->failure().toStdString(), "Couldn't write Report.pdf: Permission denied");
        EXPECT_EQ(digest(path), before);
        ::chmod(QFile::encodeName(dir.path()).constData(), 0755);
    }

    // Damaged after the card showed it: the file can no longer be read for the edit.
    QFile file(path);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write("%PDF-1.4\ngarbage");
    file.close();
    before = digest(path);
    refused("Can't edit Report.pdf: it is not a readable PDF");
}

TEST(PdfPages, CardStepsThroughPagesWithItsBar) {
    QTemporaryDir dir, single;
    QString failure;
    {
        const auto one = PDFSession::open(QUrl::fromLocalFile(makePdf(single, 1)), &failure);
        ASSERT_TRUE(one) << failure.toStdString();
        const Card card(one->render(0).url, one);
        EXPECT_EQ(card.view()->pageBar, nullptr) << "a one-page PDF has no bar";
        EXPECT_EQ(card.view()->badge->text(), QStringLiteral("PDF")) << "the document's format, not its page's";
    }
    const QString path = makePdf(dir, 3);
    const auto session = PDFSession::open(QUrl::fromLocalFile(path), &failure);
    ASSERT_TRUE(session) << failure.toStdString();
    const Card card(session->render(0).url, session, QStringLiteral("Report"));
    ThumbnailView* view = card.view();
    PageBar* bar = view->pageBar;
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->label->text(), QStringLiteral("1 / 3"));
    EXPECT_FALSE(bar->prev->isEnabled());
    EXPECT_TRUE(bar->next->isEnabled());

    const QByteArray before = digest(path);
    bar->next->click();
    card.settle();
    EXPECT_EQ(session->index, 1);
    EXPECT_EQ(view->shot().fileURL.fileName(), QStringLiteral("Report p2.png"));
    EXPECT_EQ(bar->label->text(), QStringLiteral("2 / 3"));
    EXPECT_EQ(view->badge->text(), QStringLiteral("PDF"));
    EXPECT_EQ(digest(path), before) << "an unchanged page is not written";

    view->stepPage(1);
    card.settle();
    EXPECT_EQ(bar->label->text(), QStringLiteral("3 / 3"));
    EXPECT_FALSE(bar->next->isEnabled());
    view->stepPage(1);
    view->stepPage(-3);
    card.settle();
    EXPECT_EQ(session->index, 2) << "past either end nothing happens";
}

// Putting a page back runs off the main thread: the card keeps handling events, refuses another step, and
// the PDF changes only once the child is done. Closing hands its page to a worker that quitting waits for.
TEST(PdfPages, PagesGoBackWhileTheCardStaysResponsive) {
    QTemporaryDir dir;
    const QString path = makePdf(dir, 3);
    QString failure;
    const auto session = PDFSession::open(QUrl::fromLocalFile(path), &failure);
    ASSERT_TRUE(session) << failure.toStdString();
    const Card card(session->render(0).url, session, QStringLiteral("Report"));
    ThumbnailView* view = card.view();
    repaint(view->shot().fileURL, Qt::blue);
    const QByteArray before = digest(path);
    const QString gate = dir.filePath(QStringLiteral("gate"));
    {
        const ChildScript held(dir, waitFor(gate));
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
    repaint(view->shot().fileURL, Qt::red);
    const QByteArray stepped = digest(path);
    {
        const ChildScript held(dir, waitFor(gate));
        card.panel->close();
        EXPECT_EQ(digest(path), stepped) << "the close did not wait for the child";
        EXPECT_FALSE(PDFSession::waitForBackground(50));
        QFile(gate).open(QIODevice::WriteOnly);
        EXPECT_TRUE(PDFSession::waitForBackground(20000));
    }
    EXPECT_EQ(centreOf(PDFSession::renderFile(session->pdfURL, session->workDir, 1).image), QColor(Qt::red));
}

// Nothing we keep shows what a written redacted page covered: its rendering, an annotated picture, its stored base.
TEST(PdfPages, AWrittenRedactedPageLeavesNoRenderingOfWhatItCovered) {
    QTemporaryDir dir;
    const QString path = pdfOf(dir, QStringLiteral("Report.pdf"),
                               {QStringLiteral("Mail jane.doe@example.com now"),
                                QStringLiteral("Card 4111 1111 1111 1111 ok"), QStringLiteral("Plain words")});
    const auto session = PDFSession::open(QUrl::fromLocalFile(path));
    ASSERT_TRUE(session);
    const QString pages = dir.filePath(QStringLiteral(".pages/"));
    const auto kept = [&] { return QDir(pages).entryList({QStringLiteral("*.png")}, QDir::Files).join(u'|'); };
    // An annotated page: its picture beside the rendering, which the edit store keeps for the shapes to reopen.
    QStringList bases;
    const auto edit = [&](int page) {
        const QString render = session->render(page).url.toLocalFile();
        const QString edited = pages + QStringLiteral("Report p%1 annotated.png").arg(page + 1);
        ASSERT_TRUE(QFile::copy(render, edited));
        const std::optional<QString> id =
            EditStore::save(std::nullopt, QImage(render), {}, QUrl::fromLocalFile(edited));
        ASSERT_TRUE(id);
        bases << EditStore::dir() + QLatin1Char('/') + *id + QStringLiteral(".png");
        ASSERT_TRUE(session->commit(QUrl::fromLocalFile(edited))) << session->failure().toStdString();
    };
    edit(1);
    session->render(2);
    edit(0);
    // A page redacted by a worker, and one merely edited, which keeps its rendering.
    QImage covered(QImage(pages + QStringLiteral("Report p2.png")).size(), QImage::Format_RGB32);
    covered.fill(Qt::black);
    session->replacePage(1, covered, session->pixelsPerPoint, true);
    session->replacePage(2, covered, session->pixelsPerPoint, false);
    session->write();
    EXPECT_EQ(kept().toStdString(), "Report p1 annotated.png|Report p1.png|Report p3.png");
    // The shown page, redacted into a picture beside its rendering, goes back when the card leaves it.
    const QUrl redacted = QUrl::fromLocalFile(pages + QStringLiteral("Report p1 redacted.png"));
    ShotFiles::write(covered, redacted);
    session->markRedacted(0);
    ASSERT_TRUE(session->commit(redacted)) << session->failure().toStdString();
    EXPECT_EQ(kept().toStdString(), "Report p1 redacted.png|Report p3.png");
    for (const QString& base : bases)
        EXPECT_FALSE(QFileInfo::exists(base)) << "the stored base of an annotated page";
}

// A card closed mid-tool: the tool's page is written before the tool reports; a failed write is what it reports.
TEST(PdfPages, ClosingTheCardWhileAToolWorksWritesThePageItMakesFirst) {
    const QStringList secrets{QStringLiteral("Mail jane.doe@example.com now"),
                              QStringLiteral("Card 4111 1111 1111 1111 ok"), QStringLiteral("Ring +49 30 1234 5678")};
    for (const bool writable : {true, false}) {
        SCOPED_TRACE(writable ? "writable" : "read-only");
        QTemporaryDir dir;
        const QString path = pdfOf(dir, QStringLiteral("Report.pdf"), writable ? secrets : secrets.mid(0, 1));
        const auto session = PDFSession::open(QUrl::fromLocalFile(path));
        ASSERT_TRUE(session);
        const Card card(session->render(0).url, session, QStringLiteral("Report"));
        if (!writable)
            ::chmod(QFile::encodeName(path).constData(), 0444);
        const QByteArray before = digest(path);
        card.view()->redact();
        card.panel->close();
        card.settle();
        ASSERT_TRUE(PDFSession::waitForBackground(60000));
        if (!writable) {
            EXPECT_EQ(toastText().toStdString(), "Couldn't write Report.pdf: Permission denied");
            EXPECT_EQ(digest(path), before);
            continue;
        }
        EXPECT_TRUE(toastText().startsWith(QStringLiteral("3 items redacted on 3 of 3 pages")))
            << toastText().toStdString();
        const QString text = pdfText(path);
        for (const char* secret : {"example", "4111", "1234"})
            EXPECT_FALSE(text.contains(QLatin1String(secret))) << secret << " in " << text.toStdString();
        // Of the pages only the redacted picture the card showed stays.
        EXPECT_EQ(
            QDir(dir.filePath(QStringLiteral(".pages"))).entryList({QStringLiteral("*.png")}).join(u'|').toStdString(),
            "Report p1 redacted.png");
    }
}
