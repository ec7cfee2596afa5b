#include "card/PDFSession.h"
#include "card/RedactMarks.h"
#include "card/RedactReview.h"
#include "card/RenamePanel.h"
#include "card/ThumbnailPanel.h"
#include "card/ThumbnailView.h"
#include "imaging/IsolatedDecode.h"
#include "imaging/ShotFiles.h"
#include "platform/EscapeKeyGrab.h"
#include "platform/fake/FakePointerWatch.h"
#include "ui/GhostButton.h"
#include "ui/Pill.h"
#include "ui/Toast.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QLabel>
#include <QPainter>
#include <QPdfWriter>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

class QuietEscape : public EscapeKeyGrab {
public:
    bool setActive(bool) override { return true; }
};

QString toastText() {
    QWidget* toast = Toast::current();
    QLabel* label = toast ? toast->findChild<QLabel*>() : nullptr;
    return label ? label->text() : QString();
}

// A white picture with an e-mail address and a card number in plain dark type.
QUrl secrets(const QTemporaryDir& dir, bool withText = true) {
    QImage image(900, 200, QImage::Format_RGB32);
    image.fill(Qt::white);
    if (withText) {
        QPainter painter(&image);
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPixelSize(26);
        painter.setFont(font);
        painter.setPen(QColor(20, 20, 20));
        painter.drawText(30, 60, QStringLiteral("Write to jane.doe@example.com today"));
        painter.drawText(30, 140, QStringLiteral("Card 4111 1111 1111 1111 expires soon"));
    }
    return ShotFiles::write(image, QUrl::fromLocalFile(dir.filePath(QStringLiteral("Notes.png"))));
}

// Four pages; an e-mail address on the first and a card number on the third.
QString pdfWithSecrets(const QTemporaryDir& dir) {
    const QString path = dir.filePath(QStringLiteral("Four.pdf"));
    QPdfWriter writer(path);
    writer.setPageSize(QPageSize(QPageSize::A5));
    writer.setResolution(72);
    QPainter painter(&writer);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(16);
    painter.setFont(font);
    const QString lines[] = {QStringLiteral("Mail jane.doe@example.com now"), QStringLiteral("Nothing here"),
                             QStringLiteral("Card 4111 1111 1111 1111 ok"), QStringLiteral("The end")};
    for (int i = 0; i < 4; ++i) {
        if (i)
            writer.newPage();
        painter.drawText(30, 60, lines[i]);
    }
    return path;
}

struct Card {
    explicit Card(const QUrl& file, std::shared_ptr<PDFSession> pdf = nullptr) {
        ThumbnailPanel::Services s;
        s.escape = std::make_unique<QuietEscape>();
        s.pointerWatch = [] { return std::make_unique<FakePointerWatch>(); };
        QImage image(file.toLocalFile());
        panel = new ThumbnailPanel(Shot{file, image, QStringLiteral("Notes"), std::nullopt}, std::nullopt,
                                   std::move(pdf), std::move(s));
        panel->show(QPointF(600, 400));
    }
    ~Card() { delete panel.data(); }
    ThumbnailView* view() const { return panel->view(); }
    void settle() const {
        EXPECT_TRUE(QTest::qWaitFor([this] { return !view()->isBusy(); }, 60000));
    }
    bool waitCommitted() const {
        return QTest::qWaitFor([this] { return !view()->reviewState()->committing; }, 10000);
    }
    // A click on a review box's centre.
    void clickBox(int i) const {
        RedactReview* review = view()->reviewState();
        const QPoint at = review->markRect(review->rs->boxes[size_t(i)]).center().toPoint();
        QTest::mousePress(view(), Qt::LeftButton, {}, at);
        QTest::mouseRelease(view(), Qt::LeftButton, {}, at);
    }
    QPointer<ThumbnailPanel> panel;
};

} // namespace

TEST(RedactCard, EscapeBacksOutOfTheReviewOneStepAtATime) {
    QTemporaryDir dir;
    const QUrl original = secrets(dir, false);
    QImage painted(QImage(original.toLocalFile()));
    const QUrl redacted = ShotFiles::savePNG(painted, original, QStringLiteral("redacted"));
    RedactMarks::store().insert(redacted.toLocalFile(), RedactMarks::State{original, {{0.1, 0.7, 0.2, 0.2}}});
    Card card(redacted);
    card.view()->toggleLarge();
    ASSERT_TRUE(card.view()->isLarge());
    EXPECT_EQ(card.view()->barLabel->text(), QStringLiteral("1 box \u00b7 click one to edit"));
    card.view()->addBoxButton->click();
    card.view()->escapePressed();
    EXPECT_FALSE(card.view()->reviewState()->drawMode()) << "drawing off first";
    card.clickBox(0);
    ASSERT_TRUE(card.waitCommitted());
    ASSERT_TRUE(card.view()->reviewState()->selMark.has_value());
    card.view()->escapePressed();
    EXPECT_FALSE(card.view()->reviewState()->selMark.has_value());
    EXPECT_TRUE(card.view()->isLarge());
    card.view()->escapePressed();
    EXPECT_FALSE(card.view()->isLarge());
    EXPECT_FALSE(card.panel->isClosed());
    card.view()->escapePressed();
    EXPECT_TRUE(card.panel->isClosed());
}

TEST(RedactCard, ReviewWithoutFindingsAndLosingTheOriginal) {
    QTemporaryDir dir;
    const QUrl source = secrets(dir, false);
    Card card(source);
    card.view()->redact();
    card.settle();
    EXPECT_EQ(toastText(), QStringLiteral("Nothing sensitive found"));
    EXPECT_EQ(card.view()->shot().fileURL, source);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 1);

    // The review still opens, empty; a box drawn by hand writes a new redacted file.
    card.view()->toggleLarge();
    EXPECT_EQ(card.view()->barLabel->text(), QStringLiteral("0 boxes \u00b7 click one to edit"));
    card.view()->addBoxButton->click();
    const QRectF image = card.view()->imageRect();
    QTest::mousePress(card.view(), Qt::LeftButton, {}, image.topLeft().toPoint() + QPoint(20, 20));
    QTest::mouseMove(card.view(), image.topLeft().toPoint() + QPoint(80, 50));
    QTest::mouseRelease(card.view(), Qt::LeftButton, {}, image.topLeft().toPoint() + QPoint(80, 50));
    ASSERT_TRUE(card.waitCommitted());
    const QUrl redacted = card.view()->shot().fileURL;
    EXPECT_EQ(redacted.fileName(), QStringLiteral("Notes redacted.png"));
    ASSERT_TRUE(RedactMarks::find(redacted));

    // The unredacted file vanished: the next render says so and the card and record stay.
    QFile::remove(source.toLocalFile());
    card.clickBox(0);
    ASSERT_TRUE(card.waitCommitted());
    EXPECT_EQ(toastText(), QStringLiteral("Can't read Notes.png"));
    EXPECT_EQ(card.view()->shot().fileURL, redacted);
    EXPECT_TRUE(RedactMarks::find(redacted));

    // Renamed, the redacted file keeps its record.
    const QUrl renamed = QUrl::fromLocalFile(dir.filePath(QStringLiteral("Renamed.png")));
    ASSERT_TRUE(QFile::rename(redacted.toLocalFile(), renamed.toLocalFile()));
    Shot moved = card.view()->shot();
    moved.fileURL = renamed;
    card.view()->apply(moved);
    EXPECT_TRUE(RedactMarks::find(renamed));
    EXPECT_FALSE(RedactMarks::find(redacted));
}

TEST(RedactCard, OtherPdfPagesAreRedactedInTheFileOrTheRunFails) {
    QTemporaryDir dir;
    const QString path = pdfWithSecrets(dir);
    {
        const auto session = PDFSession::open(QUrl::fromLocalFile(path));
        Card card(session->render(0).url, session);
        card.view()->redact();
        card.settle();
        EXPECT_EQ(toastText(),
                  QStringLiteral("2 items redacted on 2 of 4 pages \u00b7 double-click the picture to review"));
        EXPECT_EQ(card.view()->shot().fileURL.fileName(), QStringLiteral("Four p1 redacted.png"));
        // The third page is now a picture with the number covered; the shown document was opened again.
        const QImage third = session->render(2).image;
        EXPECT_EQ(session->pageCount(), 4);
        int dark = 0;
        for (int x = 0; x < third.width(); ++x)
            dark += qGray(third.pixel(x, 125)) < 40;
        EXPECT_GT(dark, third.width() / 4) << "a long dark block across the number";
    }

    // A PDF that may not be changed: the run fails with the write's message, and nothing is made.
    QTemporaryDir other;
    const QString locked = pdfWithSecrets(other);
    const auto session = PDFSession::open(QUrl::fromLocalFile(locked));
    Card card(session->render(0).url, session);
    ::chmod(QFile::encodeName(locked).constData(), 0444);
    card.view()->redact();
    card.settle();
    EXPECT_EQ(toastText(), QStringLiteral("Couldn't write Four.pdf"));
    EXPECT_EQ(card.view()->shot().fileURL.fileName(), QStringLiteral("Four p1.png"));
    EXPECT_FALSE(QFileInfo::exists(other.filePath(QStringLiteral(".pages/Four p1 redacted.png"))));
    EXPECT_TRUE(RedactMarks::store().isEmpty() || !RedactMarks::find(card.view()->shot().fileURL));

    // A page the decoding child cannot draw (the last) was not searched: the run fails rather than count it
    // clean, and the third page it had already painted does not reach the file with a later write.
    QTemporaryDir third;
    const QString refused = pdfWithSecrets(third);
    const QString child = third.filePath(QStringLiteral("decode.sh"));
    QFile script(child);
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\n[ \"$3\" = 3 ] && exit 1\nexec '" +
                 QFile::encodeName(QCoreApplication::applicationDirPath() + "/../tools/decode/pictolarium-decode") +
                 "' \"$@\"\n");
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const auto drawn = PDFSession::open(QUrl::fromLocalFile(refused));
    const QUrl page = drawn->render(0).url;
    Card shown(page, drawn);
    IsolatedDecode::setProgram(child);
    shown.view()->redact();
    shown.settle();
    IsolatedDecode::setProgram(QString());
    EXPECT_TRUE(toastText().startsWith(QStringLiteral("Can't scan page 4: "))) << toastText().toStdString();
    EXPECT_FALSE(QFileInfo::exists(third.filePath(QStringLiteral(".pages/Four p1 redacted.png"))));
    QImage edited(QImage(page.toLocalFile()).size(), QImage::Format_RGB32);
    edited.fill(Qt::green);
    QTest::qWait(20);
    ShotFiles::write(edited, page);
    ASSERT_TRUE(drawn->commit(page)) << drawn->failure().toStdString();
    const QImage number = drawn->render(2).image;
    int dark = 0;
    for (int x = 0; x < number.width(); ++x)
        dark += qGray(number.pixel(x, 125)) < 40;
    EXPECT_LT(dark, number.width() / 4) << "the number is shown as it was, not covered";
}

TEST(RedactCard, ClosingWhileOtherPagesAreRedactedLeavesOneWholeDocument) {
    QTemporaryDir dir;
    const QString path = pdfWithSecrets(dir);
    const auto session = PDFSession::open(QUrl::fromLocalFile(path));
    const QUrl page = session->render(0).url;
    Card card(page, session);
    QImage edited(QImage(page.toLocalFile()).size(), QImage::Format_RGB32);
    edited.fill(Qt::green);
    QTest::qWait(20);
    ShotFiles::write(edited, page);
    card.view()->redact();
    // The close commits the shown page into the same document while the worker replaces page 3.
    card.panel->close();
    card.settle();
    ASSERT_TRUE(PDFSession::waitForBackground(30000));
    const auto reopened = PDFSession::open(QUrl::fromLocalFile(path));
    ASSERT_TRUE(reopened);
    EXPECT_EQ(reopened->pageCount(), 4);
    EXPECT_EQ(reopened->render(0).image.pixelColor(5, 5), QColor(Qt::green));
}

TEST(RedactCard, RenamingFromTheCardKeepsTheReviewWorking) {
    QTemporaryDir dir;
    const QUrl source = secrets(dir);
    Card card(source);
    card.view()->redact();
    card.settle();
    const QUrl redacted = card.view()->shot().fileURL;
    ASSERT_EQ(redacted.fileName(), QStringLiteral("Notes redacted.png"));
    const std::optional<RedactMarks::State> before = RedactMarks::find(redacted);
    ASSERT_TRUE(before && !before->boxes.empty());

    // The card's rename box: the record goes with the file.
    card.view()->rename();
    ASSERT_TRUE(QTest::qWaitFor([] { return RenamePanel::current() != nullptr; }, 20000));
    RenamePanel::current()->field->setText(QStringLiteral("Safe"));
    RenamePanel::current()->commit();
    const QUrl renamed = card.view()->shot().fileURL;
    ASSERT_EQ(renamed.fileName(), QStringLiteral("Safe.png"));
    EXPECT_FALSE(RedactMarks::find(redacted));
    ASSERT_TRUE(RedactMarks::find(renamed));
    EXPECT_EQ(RedactMarks::find(renamed)->boxes.size(), before->boxes.size());

    // Unredacting a box in the review renders the renamed file again, not a second redacted copy.
    const size_t boxes = before->boxes.size();
    ASSERT_GE(boxes, 2u);
    card.view()->toggleLarge();
    ASSERT_TRUE(card.view()->reviewState()->rs);
    const auto unredactFirst = [&] {
        card.clickBox(0);
        ASSERT_TRUE(card.waitCommitted());
        card.view()->deleteSelected();
        ASSERT_TRUE(card.waitCommitted());
    };
    unredactFirst();
    EXPECT_EQ(card.view()->shot().fileURL, renamed);
    EXPECT_EQ(RedactMarks::find(renamed)->boxes.size(), boxes - 1);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), (QStringList{"Notes.png", "Safe.png"}));

    // The unredacted file renamed as well (as the basket does): the record renders from its new name.
    const QUrl plain = QUrl::fromLocalFile(dir.filePath(QStringLiteral("Plain.png")));
    ASSERT_TRUE(QFile::rename(source.toLocalFile(), plain.toLocalFile()));
    RedactMarks::moved(source, plain);
    EXPECT_EQ(RedactMarks::find(renamed)->original, plain);
    unredactFirst();
    EXPECT_NE(toastText(), QStringLiteral("Can't read Notes.png"));
    if (boxes > 2)
        EXPECT_EQ(RedactMarks::find(renamed)->boxes.size(), boxes - 2);
    else // the last box gone: the card shows the unredacted file
        EXPECT_EQ(card.view()->shot().fileURL, plain);
}
