// PDF pages and redaction in the real program: stepping through a PDF's pages on the card and writing an
// edited page back, the redact tool with its review on the enlarged card, and a browser's PDF redacted.

#include "Desktop.h"
#include "support/TextPdf.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QPdfDocument>
#include <QPdfWriter>
#include <QStandardPaths>
#include <algorithm>
#include <gtest/gtest.h>

namespace {

// The decompressed content of a page (one-based) in qpdf's QDF form of a file.
QByteArray qdfPageContent(const QByteArray& qdf, int page) {
    const qsizetype start = qdf.indexOf("stream\n", qdf.indexOf("%% Contents for page " + QByteArray::number(page)));
    return start < 0 ? QByteArray() : qdf.mid(start + 7, qdf.indexOf("\nendstream", start) - start - 7);
}

// Three pages, each with an address, a telephone number and a card number in plain type.
void writeSecretsPdf(const QString& path) {
    QStringList pages;
    for (int page = 1; page <= 3; ++page)
        pages << QStringLiteral("Page %1: mail jane.doe@example.com|or ring +49 30 1234 5678|Card 4111 1111 1111 1111")
                     .arg(page);
    writeTextPdf(path, pages, 60);
}

const QStringList pdfSecrets{"example", "1234 5678", "4111"};

class PdfRedactE2E : public ::testing::Test {
protected:
    void SetUp() override { start(); }
    void start() {
        Desktop::Options o;
        o.tray = false;
        desktop = std::make_unique<Desktop>(o);
        ASSERT_TRUE(desktop->ok()) << desktop->error().toStdString();
        desktop->run(QStringLiteral("xsetroot"), {QStringLiteral("-solid"), QStringLiteral("#5080c0")});
        // A returning user with the pill as it comes, at the size it comes.
        desktop->startApp();
        ASSERT_TRUE(desktop->waitForApp()) << desktop->appStderr().toStdString();
    }
    void click(QPoint at, int times = 1) {
        desktop->click(at, times);
        Desktop::pause(300);
    }
    // The pill holds every tool in the default order, redact the eighth of the eleven before the format button.
    void clickRedact(quint32 card) {
        const QRect frame = desktop->windowGeometry(card);
        click(QPoint(frame.center().x() - 20, frame.bottom() + 1 - 22 - 18));
    }
    void closeCard(quint32 card) {
        desktop->moveTo(desktop->windowGeometry(card).center());
        Desktop::pause(200);
        desktop->key("Escape");
    }
    // What the tesseract command reads in a picture at three times its size (as `segmentation` if given).
    QString commandReads(const QString& path, const QString& segmentation = {}) {
        const QString big = desktop->folder("ocr") + "/big.png";
        const QImage picture(path);
        picture.scaled(picture.size() * 3, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).save(big);
        int code = -1;
        const QStringList mode = segmentation.isEmpty() ? QStringList() : QStringList{"--psm", segmentation};
        // One thread: on a busy machine the engine's threads wait on each other for minutes.
        const QString read =
            desktop->run("env", QStringList{"OMP_THREAD_LIMIT=1", "tesseract", big, "stdout"} + mode, &code, 300000);
        EXPECT_EQ(code, 0) << "tesseract on " << path.toStdString();
        return read.simplified();
    }
    // Neither the document nor any picture kept beside it lets a secret be read.
    void expectNothingReadable(const QString& pdf) {
        QStringList read{pdfText(pdf)};
        const QString pages = QFileInfo(pdf).absolutePath() + "/.pages/";
        for (const QString& name : QDir(pages).entryList({"*.png"}, QDir::Files))
            read << name + ": " + commandReads(pages + name);
        for (const QString& secret : pdfSecrets)
            EXPECT_FALSE(read.join('\n').contains(secret))
                << secret.toStdString() << " in " << read.join('\n').toStdString();
        int code = -1;
        desktop->run("qpdf", {"--check", pdf}, &code);
        EXPECT_EQ(code, 0);
    }
    std::unique_ptr<Desktop> desktop;
};

} // namespace

TEST_F(PdfRedactE2E, StepsThroughAPdfAndWritesAnEditedPageBack) {
    const QString source = desktop->home() + QStringLiteral("/Four.pdf");
    {
        QPdfWriter writer(source);
        writer.setPageSize(QPageSize(QPageSize::A6));
        writer.setResolution(72);
        QPainter painter(&writer);
        QFont font;
        font.setPixelSize(40);
        painter.setFont(font);
        for (int page = 0; page < 4; ++page) {
            if (page)
                writer.newPage();
            painter.drawText(40, 120, QStringLiteral("Page %1").arg(page + 1));
        }
    }
    const quint32 card = desktop->openCard(source);
    ASSERT_NE(card, 0u);
    const QString pdf = desktop->shotsFolder() + QStringLiteral("/Four.pdf");
    const QString pages = desktop->shotsFolder() + QStringLiteral("/.pages/");
    ASSERT_TRUE(Desktop::waitUntil([&] { return QFileInfo::exists(pages + QStringLiteral("Four p1.png")); }, 5000));
    // Let the opening toast go before looking.
    desktop->waitToast(false, 4000);
    const QRect frame = desktop->windowGeometry(card);
    const QImage screen = desktop->screenshot(Desktop::shotsDir() + QStringLiteral("/pdf-page1.png"));
    const QRect picture = Desktop::pictureOnScreen(screen, frame);
    ASSERT_FALSE(picture.isEmpty());
    // The page bar hangs under the picture at its left edge: previous, "1 / 4", next.
    const QPoint next(picture.left() + 96 - 13, picture.bottom() + 1 + 4 + 10);
    const QByteArray untouched = Desktop::digest(pdf);
    ASSERT_FALSE(untouched.isEmpty()) << "no copy of the PDF in the folder";

    click(next);
    ASSERT_TRUE(Desktop::waitUntil([&] { return QFileInfo::exists(pages + QStringLiteral("Four p2.png")); }, 5000))
        << next.x() << "," << next.y() << " " << desktop->appStderr().toStdString();
    desktop->screenshot(Desktop::shotsDir() + QStringLiteral("/pdf-page2.png"));
    EXPECT_EQ(Desktop::digest(pdf), untouched) << "an unchanged page is not written";

    // The page picture changed on disk, then a step: the PDF's page 2 is now that picture.
    QImage red(QImage(pages + QStringLiteral("Four p2.png")).size(), QImage::Format_RGB32);
    red.fill(QColor(220, 30, 30));
    Desktop::pause(50);
    ASSERT_TRUE(red.save(pages + QStringLiteral("Four p2.png")));
    click(next);
    ASSERT_TRUE(Desktop::waitUntil([&] { return Desktop::digest(pdf) != untouched; }, 5000));
    int code = -1;
    const QString check = desktop->run(QStringLiteral("qpdf"), {QStringLiteral("--check"), pdf}, &code);
    EXPECT_EQ(code, 0) << check.toStdString();
    const QString count = desktop->run(QStringLiteral("qpdf"), {QStringLiteral("--show-npages"), pdf});
    EXPECT_EQ(count.trimmed(), QStringLiteral("4"));

    // Changed, then closed with Escape: "Saved Four.pdf". Changed once the card shows page 3, or its drawing
    // would write over the change.
    ASSERT_TRUE(Desktop::waitUntil([&] { return QFileInfo::exists(pages + QStringLiteral("Four p3.png")); }, 5000));
    Desktop::pause(500);
    QImage blue(red.size(), QImage::Format_RGB32);
    blue.fill(QColor(30, 30, 220));
    ASSERT_TRUE(blue.save(pages + QStringLiteral("Four p3.png")));
    const QByteArray beforeClose = Desktop::digest(pdf);
    closeCard(card);
    EXPECT_TRUE(desktop->waitToast());
    desktop->screenshot(Desktop::shotsDir() + QStringLiteral("/pdf-saved.png"));
    EXPECT_NE(Desktop::digest(pdf), beforeClose);
    EXPECT_EQ(desktop->visibleWindow(QStringLiteral("^Pictolarium Card$")), 0u);
}

TEST_F(PdfRedactE2E, RedactsAndReviewsOnTheEnlargedCard) {
    const QString source = desktop->home() + QStringLiteral("/Notes.png");
    ASSERT_TRUE(Desktop::writeSecretsPicture(source));
    const quint32 card = desktop->openCard(source);
    ASSERT_NE(card, 0u);
    desktop->waitToast(false, 4000);
    const QRect frame = desktop->windowGeometry(card);
    // The pill: every tool in the default order, redact the eighth of the eleven before the format button.
    const QPoint redact(frame.center().x() - 20, frame.bottom() + 1 - 22 - 18);
    desktop->moveTo(redact);
    Desktop::pause(400);
    desktop->screenshot(Desktop::shotsDir() + QStringLiteral("/redact-hover.png"));
    click(redact);
    const QString redacted = desktop->shotsFolder() + QStringLiteral("/Notes redacted.png");
    ASSERT_TRUE(Desktop::waitUntil([&] { return QFileInfo::exists(redacted); }, 60000, 200));
    Desktop::pause(300);
    desktop->screenshot(Desktop::shotsDir() + QStringLiteral("/redact-done.png"));
    // Both secrets are covered: dark in the middle of where the text was, the words around them not.
    const QImage result(redacted);
    EXPECT_LT(qGray(result.pixel(400, 50)), 60) << "the address";
    EXPECT_LT(qGray(result.pixel(300, 120)), 60) << "the card number";
    EXPECT_GT(qGray(result.pixel(850, 300)), 200);

    // A double-click on an empty part of the picture opens the review.
    const QRect picture = Desktop::pictureOnScreen(desktop->screenshot(), desktop->windowGeometry(card));
    click(QPoint(picture.center().x(), picture.bottom() - 10), 2);
    const QRect large = desktop->windowGeometry(card);
    EXPECT_GT(large.width(), frame.width());
    desktop->screenshot(Desktop::shotsDir() + QStringLiteral("/redact-review.png"));

    // The box over the address, on the enlarged picture: select it and delete it with the Delete key.
    const QRect big = Desktop::pictureOnScreen(desktop->screenshot(), large);
    const double scale = big.width() / 900.0;
    const QPoint address(big.left() + int(400 * scale), big.top() + int(50 * scale));
    click(address);
    Desktop::pause(500);
    desktop->screenshot(Desktop::shotsDir() + QStringLiteral("/redact-selected.png"));
    const QByteArray before = Desktop::digest(redacted);
    desktop->key("Delete");
    ASSERT_TRUE(Desktop::waitUntil([&] { return Desktop::digest(redacted) != before; }, 5000));
    EXPECT_GT(qGray(QImage(redacted).pixel(400, 50)), 60) << "the address shows again";

    // Escape with the card number's box selected: the selection goes, then the size, then the card.
    click(QPoint(big.left() + int(300 * scale), big.top() + int(120 * scale)));
    Desktop::pause(300);
    desktop->key("Escape");
    Desktop::pause(300);
    EXPECT_EQ(desktop->windowGeometry(card).width(), large.width());
    desktop->key("Escape");
    EXPECT_TRUE(Desktop::waitUntil([&] { return desktop->windowGeometry(card).width() < large.width(); }, 3000));
    desktop->screenshot(Desktop::shotsDir() + QStringLiteral("/redact-escaped.png"));
    closeCard(card);
    EXPECT_TRUE(
        Desktop::waitUntil([&] { return desktop->visibleWindow(QStringLiteral("^Pictolarium Card$")) == 0; }, 3000));
}

// A page printed by a browser, encrypted to refuse printing as many are, then redacted on the card: the
// written file is encrypted as it was, its outline still leads to page 2, and nothing of page 2's
// old drawing, its address or its card number is left anywhere in the file, its title and outline included.
// Page 3's table cells wrap an address, a telephone number and an account number: none reads once redacted.
TEST_F(PdfRedactE2E, ARedactedBrowserPageLeavesNothingOfItsWordsInTheFile) {
    const QString browser = QStandardPaths::findExecutable("chromium");
    if (browser.isEmpty())
        GTEST_SKIP() << "no chromium installed (scripts/install-deps.sh installs it)";
    const QString home = desktop->home(), printed = home + "/printed.pdf", source = home + "/Billing.pdf";
    QFile html(home + "/billing.html");
    ASSERT_TRUE(html.open(QIODevice::WriteOnly));
    html.write(
        "<html><head><title>Billing for billing.team@example-corp.com</title></head>"
        "<body style='font: 30px sans-serif; margin: 60px'>"
        "<div style='page-break-after: always'><h1>Invoice</h1>"
        "<p>See the <a href='#billing'>billing details</a> on the next page.</p></div>"
        "<div style='page-break-after: always'><h2 id='billing'>Billing: billing.team@example-corp.com</h2>"
        "<p>Write to billing.team@example-corp.com</p><p>Card 4111 1111 1111 1111</p>"
        "<p><a href='mailto:billing.team@example-corp.com'>Mail us</a></p></div>"
        "<h1>Contacts</h1><table border='1' style='border-collapse: collapse; font: 26px sans-serif'>"
        "<tr><td style='width: 190px'>Operations</td><td style='width: 230px'>ops.desk@kestrel-freight.co.uk</td>"
        "<td style='width: 150px'>+44 20 7946 0958</td></tr><tr><td>Bank account</td>"
        "<td>GB29 NWBK 6016 1331 9268 19</td><td>Weekdays only</td></tr></table>");
    html.close();
    int code = -1;
    desktop->run(browser,
                 {"--headless", "--no-sandbox", "--disable-gpu", "--no-pdf-header-footer",
                  "--generate-pdf-document-outline", "--user-data-dir=" + home + "/chromium",
                  "--print-to-pdf=" + printed, "file://" + html.fileName()},
                 &code, 60000);
    ASSERT_TRUE(QFileInfo::exists(printed)) << code;
    desktop->run("qpdf", {"--encrypt", "", "owner", "256", "--print=none", "--", printed, source}, &code);
    ASSERT_EQ(code, 0);
    // Every stream decompressed.
    const auto qdf = [&](const QString& path) {
        desktop->run("qpdf",
                     {"--decrypt", "--qdf", "--normalize-content=n", "--object-streams=disable", path, path + ".qdf"});
        QFile file(path + ".qdf");
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    const QByteArray before = qdf(source), oldDrawing = qdfPageContent(before, 2);
    ASSERT_GT(oldDrawing.size(), 200);

    const quint32 card = desktop->openCard(source);
    ASSERT_NE(card, 0u) << desktop->appStderr().toStdString();
    const QString pdf = desktop->shotsFolder() + "/Billing.pdf", pages = desktop->shotsFolder() + "/.pages/";
    desktop->waitToast(false, 4000);
    const QRect picture = Desktop::pictureOnScreen(desktop->screenshot(), desktop->windowGeometry(card));
    ASSERT_FALSE(picture.isEmpty());
    click(QPoint(picture.left() + 96 - 13, picture.bottom() + 1 + 4 + 10)); // the page bar's next
    ASSERT_TRUE(Desktop::waitUntil([&] { return QFileInfo::exists(pages + "Billing p2.png"); }, 10000));
    clickRedact(card);
    ASSERT_TRUE(Desktop::waitUntil([&] { return QFileInfo::exists(pages + "Billing p2 redacted.png"); }, 60000, 200))
        << desktop->appStderr().toStdString();
    Desktop::pause(500);
    desktop->screenshot(Desktop::shotsDir() + "/pdf-browser-redacted.png");
    const QByteArray untouched = Desktop::digest(pdf);
    closeCard(card);
    ASSERT_TRUE(Desktop::waitUntil([&] { return Desktop::digest(pdf) != untouched; }, 15000))
        << desktop->appStderr().toStdString();

    const QString check = desktop->run("qpdf", {"--check", pdf}, &code);
    EXPECT_EQ(code, 0) << check.toStdString();
    EXPECT_EQ(desktop->run("qpdf", {"--show-encryption", pdf}), desktop->run("qpdf", {"--show-encryption", source}));
    const QString outline = desktop->run("qpdf", {"--json=2", "--json-key=outlines", pdf});
    EXPECT_TRUE(outline.contains("\"destpageposfrom1\": 2,") && !outline.contains("\"destpageposfrom1\": null"))
        << outline.toStdString();
    const QByteArray written = qdf(pdf);
    ASSERT_GT(written.size(), 1000);
    EXPECT_FALSE(written.contains(oldDrawing)) << "page 2's old drawing";
    ASSERT_TRUE(before.contains("/Title (Billing for billing.team@example-corp.com)"));
    EXPECT_FALSE(written.contains("example-corp") || written.contains("4111 1111")) << "the address or card number";
    EXPECT_TRUE(written.contains("/Title (Billing for )")) << "the rest of the title";
    EXPECT_EQ(qdfPageContent(written, 1), qdfPageContent(before, 1)) << "page 1 as it was";
    QPdfDocument shown;
    ASSERT_EQ(shown.load(pdf), QPdfDocument::Error::None);
    const QString table = home + "/table.png";
    // The table only, in the upper third of the page: the rest is blank paper.
    const QImage page3 = shown.render(2, shown.pagePointSize(2).toSize() * 2);
    QImage rows(page3.width(), page3.height() / 3, QImage::Format_RGB32);
    rows.fill(Qt::white);
    QPainter(&rows).drawImage(0, 0, page3);
    rows.save(table);
    const QString read = commandReads(table) + " " + commandReads(table, "6");
    for (const char* secret : {"kestrel", "freight", "7946", "0958", "NWBK", "1331", "9268"})
        EXPECT_FALSE(read.contains(secret)) << secret << " in " << read.toStdString();
}

// Closed the moment the redaction starts: the card goes, and the page is written before the run reports.
TEST_F(PdfRedactE2E, ClosingTheCardRightAfterRedactWritesTheRedactedPage) {
    const QString source = desktop->home() + "/Secrets.pdf";
    writeSecretsPdf(source);
    const quint32 card = desktop->openCard(source);
    ASSERT_NE(card, 0u) << desktop->appStderr().toStdString();
    desktop->waitToast(false, 4000);
    const QString pdf = desktop->shotsFolder() + "/Secrets.pdf";
    ASSERT_TRUE(pdfText(pdf).contains("example"));
    clickRedact(card);
    closeCard(card);
    EXPECT_TRUE(
        Desktop::waitUntil([&] { return desktop->visibleWindow(QStringLiteral("^Pictolarium Card$")) == 0; }, 3000));
    ASSERT_TRUE(Desktop::waitUntil([&] { return !pdfText(pdf).contains("example"); }, 90000, 200))
        << desktop->appStderr().toStdString();
    desktop->screenshot(Desktop::shotsDir() + "/pdf-closed-while-redacting.png");
    expectNothingReadable(pdf);
}

// The display going away (a logout) with a redacted page on a PDF card: it is written before the program ends,
// also when the redaction is still under way.
TEST_F(PdfRedactE2E, ThePageOnTheCardIsWrittenWhenTheDisplayGoesAway) {
    const struct {
        const char* what;
        bool midRun;
    } cases[] = {{"after the run", false}, {"300 ms into the run", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (!desktop) {
            start();
            ASSERT_FALSE(HasFatalFailure());
        }
        const QString source = desktop->home() + "/Secrets.pdf";
        writeSecretsPdf(source);
        const quint32 card = desktop->openCard(source);
        ASSERT_NE(card, 0u) << desktop->appStderr().toStdString();
        desktop->waitToast(false, 4000);
        const QString pdf = desktop->shotsFolder() + "/Secrets.pdf";
        clickRedact(card);
        if (!c.midRun) {
            ASSERT_TRUE(Desktop::waitUntil(
                [&] { return QFileInfo::exists(desktop->shotsFolder() + "/.pages/Secrets p1 redacted.png"); }, 90000,
                200));
            // Saved last: the document holds every covered page by now, the shown one too.
            Desktop::pause(1000);
            ASSERT_FALSE(pdfText(pdf).split('\n').first().contains("example")) << "the shown page is written";
        }
        QProcess* app = desktop->app();
        desktop->killDisplay();
        ASSERT_TRUE(app->waitForFinished(60000));
        EXPECT_TRUE(desktop->appStderr().contains("the display went away")) << desktop->appStderr().toStdString();
        expectNothingReadable(pdf);
        desktop.reset();
    }
}

// A browser's printout with its first page turned sideways, redacted on the card: its words are read the way they
// run, and by the time the redaction reports, with the card still open, a reader takes no secret from its pages.
TEST_F(PdfRedactE2E, ABrowsersPrintoutTurnedSidewaysIsRedacted) {
    const QString browser = QStandardPaths::findExecutable("chromium");
    if (browser.isEmpty())
        GTEST_SKIP() << "no chromium installed (scripts/install-deps.sh installs it)";
    const QString home = desktop->home(), printed = home + "/printed.pdf";
    QFile html(home + "/letter.html");
    ASSERT_TRUE(html.open(QIODevice::WriteOnly));
    html.write("<html><head><title>Letter</title></head><body style='font: 22px sans-serif; margin: 60px'>"
               "<div style='page-break-after: always'><h1>Your account</h1><p>Write to jane.doe@example.com with "
               "questions about this letter.</p><p>Card 4111 1111 1111 1111 is on file for the yearly fee.</p>"
               "<p>Everything else about the account stays as it was agreed last spring.</p></div>"
               "<h1>Your details</h1><p>Please check them below.</p>");
    html.close();
    int code = -1;
    desktop->run(browser,
                 {"--headless", "--no-sandbox", "--disable-gpu", "--no-pdf-header-footer",
                  "--user-data-dir=" + home + "/chromium", "--print-to-pdf=" + printed, "file://" + html.fileName()},
                 &code, 60000);
    ASSERT_TRUE(QFileInfo::exists(printed)) << code;
    const QStringList secrets{"jane.doe@example.com", "4111 1111 1111 1111"};
    const struct {
        const char* name;
        const char* turn; // qpdf's argument that turns the first page
    } rows[] = {{"Right", "--rotate=+90:1"}, {"Left", "--rotate=+270:1"}};
    quint32 previous = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.turn);
        const QString source = home + "/" + row.name + ".pdf";
        desktop->run("qpdf", {row.turn, printed, source}, &code);
        ASSERT_EQ(code, 0);
        const quint32 card = desktop->openCard(source, previous);
        ASSERT_NE(card, 0u) << desktop->appStderr().toStdString();
        desktop->waitToast(false, 4000);
        const QString pdf = desktop->shotsFolder() + "/" + row.name + ".pdf";
        const QByteArray untouched = Desktop::digest(pdf);
        clickRedact(card);
        ASSERT_TRUE(Desktop::waitUntil([&] { return Desktop::digest(pdf) != untouched; }, 120000, 200))
            << desktop->appStderr().toStdString();
        // The run reports just after the write.
        Desktop::pause(1500);
        desktop->screenshot(Desktop::shotsDir() + QStringLiteral("/pdf-sideways-%1.png").arg(row.name));
        const QString text = pdfText(pdf);
        for (const QString& secret : secrets)
            EXPECT_FALSE(text.contains(secret)) << secret.toStdString() << " in " << text.toStdString();
        EXPECT_TRUE(text.contains("Your details")) << "page 2 stays " << text.toStdString();
        desktop->run("qpdf", {"--check", pdf}, &code);
        EXPECT_EQ(code, 0);
        closeCard(card);
        previous = card;
        Desktop::waitUntil([&] { return desktop->visibleWindow(QStringLiteral("^Pictolarium Card$")) == 0; }, 15000);
    }
}
