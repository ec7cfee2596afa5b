// The card's text, translate, rename, share and pin tools: what reaches the clipboard and the toasts, file
// names that never replace another file, the holds they take and give back, and the pin's geometry.

#include "CardFixtures.h"
#include "card/CopiedText.h"
#include "card/PinView.h"
#include "card/RenameFile.h"
#include "card/RenamePanel.h"
#include "card/ShareMenu.h"
#include "platform/fake/FakePointerWatch.h"
#include "support/FakeApplications.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QLineEdit>
#include <QMimeData>
#include <QPainter>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <optional>
#include <string_view>

using namespace CardFixtures;

namespace {

void touch(const QString& path) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("x");
}

// A plain grey picture "Shot.png" on a card.
struct ShotCard : QTemporaryDir, Card {
    ShotCard() : Card(greyFile(*this, QStringLiteral("Shot.png"), QSize(400, 250))) {}
    QString path() const { return filePath(QStringLiteral("Shot.png")); }
};

} // namespace

TEST(CopiedText, ClipboardAndMessageFollowWhatWasRead) {
    const QString forty(40, QLatin1Char('p'));
    struct Case {
        const char* name;
        QString text;
        QStringList codes;
        std::optional<QString> clipboard;
        QString message;
    };
    const Case cases[] = {
        {"nothing", {}, {}, std::nullopt, "No text found"},
        {"one word still says words", "Hello", {}, "Hello", "1 words copied"},
        {"line breaks and tabs split words", "a b\nc\t\td  ", {}, "a b\nc\t\td  ", "4 words copied"},
        {"text and two codes", "two words", {"one", "two"}, "two words\n\none\n\ntwo", "2 words + QR copied"},
        {"a lone short payload", {}, {"https://x.test"}, "https://x.test", "QR: https://x.test"},
        {"a lone 40-character payload is cut", {}, {forty}, forty, "QR: " + forty.left(34) + QChar(0x2026)},
        {"three payloads", {}, {"a", "b", "c"}, "a\n\nb\n\nc", "3 QR codes copied"},
    };
    for (const Case& c : cases) {
        const CopiedText::Result result = CopiedText::compose(c.text, c.codes);
        EXPECT_EQ(result.clipboard, c.clipboard) << c.name;
        EXPECT_EQ(result.message, c.message) << c.name;
    }
    // 34 characters stay whole, 35 are cut; a cut never splits a character made of several code points.
    EXPECT_EQ(CopiedText::shortened(QString(34, u'x')), QString(34, u'x'));
    const QString flags = QString::fromUtf8("\U0001F1E9\U0001F1EA").repeated(36);
    EXPECT_EQ(CopiedText::shortened(flags), flags.left(34 * 4) + QChar(0x2026));
}

TEST(CardTools, CopyTextOfAVanishedFileSaysWhyAndLeavesTheClipboard) {
    ShotCard card;
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    QFile::remove(card.path());
    card.view()->copyText();
    EXPECT_TRUE(card.view()->isBusy());
    EXPECT_EQ(toastText(), QStringLiteral("Reading\u2026"));
    // A second press while reading does nothing.
    card.view()->copyText();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !card.view()->isBusy(); }, 10000));
    EXPECT_EQ(toastText().toStdString(), "Can't read Shot.png");
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("before"));
}

TEST(CardTools, CopyTextReadsATransparentPictureAsTheCardShowsIt) {
    // Letters on nothing: white ones show on the card's dark ground, black ones hardly, but they were
    // always read and still are.
    ShotCard card;
    for (const QColor ink : {QColor(Qt::white), QColor(Qt::black)}) {
        QImage picture(1200, 300, QImage::Format_ARGB32);
        picture.fill(Qt::transparent);
        QPainter painter(&picture);
        QFont font;
        font.setPixelSize(64);
        painter.setFont(font);
        painter.setPen(ink);
        painter.drawText(QPoint(60, 180), QStringLiteral("Good morning everyone"));
        painter.end();
        ASSERT_TRUE(picture.save(card.path()));
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));
        card.view()->copyText();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !card.view()->isBusy(); }, 20000));
        EXPECT_EQ(QGuiApplication::clipboard()->text().simplified(), QStringLiteral("Good morning everyone"))
            << ink.name().toStdString() << ": " << toastText().toStdString();
    }
}

TEST(RenameFile, NeverReplacesAFileAndKeepsTheExtension) {
    struct Case {
        const char* name;
        QString file;
        QStringList existing;
        QString typed;
        QString result;
    };
    const Case cases[] = {
        {"next free number", "Shot.png", {"Report.png", "Report 2.png"}, "Report", "Report 3.png"},
        {"its own name takes a number", "Shot.png", {}, "Shot", "Shot 2.png"},
        {"separators become dashes, blanks trimmed", "Shot.png", {}, "  a/b:c\\d ", "a-b-c-d.png"},
        {"no extension, no trailing dot", "Notes", {}, "Plan", "Plan"},
        {"only the last extension is kept", "a.tar.png", {}, "b", "b.png"},
    };
    for (const Case& c : cases) {
        QTemporaryDir dir;
        touch(dir.filePath(c.file));
        for (const QString& other : c.existing)
            touch(dir.filePath(other));
        const RenameFile::Result moved = RenameFile::move(dir.filePath(c.file), c.typed);
        EXPECT_EQ(moved.path, dir.filePath(c.result)) << c.name << ": " << moved.error.toStdString();
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), c.existing.size() + 1) << c.name;
    }

    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("Shot.png"));
    touch(file);
    // A name longer than the file system takes is shortened, not refused.
    const RenameFile::Result longName = RenameFile::move(file, QString(300, u'n'));
    ASSERT_FALSE(longName.path.isEmpty()) << longName.error.toStdString();
    EXPECT_LE(QFileInfo(longName.path).fileName().toUtf8().size(), 255);
    EXPECT_TRUE(QFileInfo(longName.path).fileName().endsWith(u".png"));
    // Blanks only: nothing moves.
    EXPECT_TRUE(RenameFile::move(longName.path, QStringLiteral("   ")).path.isEmpty());
    EXPECT_TRUE(QFile::exists(longName.path));
}

TEST(CardTools, RenameBoxEndsTheHoldHoweverItCloses) {
    ShotCard card;
    touch(card.filePath(QStringLiteral("Report.png")));
    card.view()->rename();
    EXPECT_TRUE(card.held(Hold::Rename));
    ASSERT_TRUE(QTest::qWaitFor([] { return RenamePanel::current() != nullptr; }, 10000));
    RenamePanel* box = RenamePanel::current();
    // A picture without text suggests its name; the move and the box's place are the end-to-end test's.
    EXPECT_EQ(box->field->text(), QStringLiteral("Shot"));
    box->field->setText(QStringLiteral("Report"));
    box->commit();
    EXPECT_FALSE(card.held(Hold::Rename));
    EXPECT_EQ(card.view()->shot().fileURL.fileName(), QStringLiteral("Report 2.png"));

    // An empty name, Escape and a click into another program's window (which, without a window manager, takes
    // no keyboard from the box) all give up and let the card go.
    FakePointerWatch* presses = nullptr;
    RenamePanel::setPointerWatch([&presses] {
        auto watch = std::make_unique<FakePointerWatch>();
        presses = watch.get();
        return watch;
    });
    for (const char* way : {"empty name", "Escape", "a click elsewhere"}) {
        SCOPED_TRACE(way);
        card.view()->rename();
        ASSERT_TRUE(QTest::qWaitFor([&] { return RenamePanel::current() && RenamePanel::current() != box; }, 10000));
        box = RenamePanel::current();
        if (way == std::string_view("Escape")) {
            QTest::keyClick(box->field, Qt::Key_Escape);
        } else if (way == std::string_view("a click elsewhere")) {
            ASSERT_TRUE(presses);
            presses->press({5, 5});
            QTest::qWaitFor([&] { return !card.held(Hold::Rename); }, 2000);
        } else {
            box->field->setText(QStringLiteral("  "));
            box->commit();
        }
        EXPECT_FALSE(card.held(Hold::Rename));
        EXPECT_EQ(card.view()->shot().fileURL.fileName(), QStringLiteral("Report 2.png"));
    }
    RenamePanel::setPointerWatch({});
}

TEST(ShareMenu, CopiesTheFileForFileManagersAndReportsAVanishedOne) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("My Shot.png"));
    QImage picture(10, 10, QImage::Format_RGB32);
    picture.fill(Qt::red);
    picture.save(file);
    QStringList reports;
    ShareMenu::Actions actions;
    actions.openWithDefault = [](const QString&) { return false; };
    actions.showInFolder = [](const QString&) { return true; };
    ShareMenu menu(file, picture, actions, [&](const QString& m) { reports << m; });
    QStringList titles;
    for (QAction* item : menu.actions())
        titles << item->text();
    // No mailer: no e-mail item.
    EXPECT_EQ(titles, (QStringList{"Copy File", "Copy Image", "Open With Default App", "Show in Folder"}));

    menu.actions().at(0)->trigger();
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    ASSERT_TRUE(data);
    EXPECT_EQ(data->urls(), QList<QUrl>{QUrl::fromLocalFile(file)});
    EXPECT_EQ(data->data(QStringLiteral("x-special/gnome-copied-files")),
              "copy\n" + QUrl::fromLocalFile(file).toEncoded());

    // The picture is encoded on a worker and offered once ready, as finished PNG bytes.
    menu.actions().at(1)->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->mimeData()->urls(), QList<QUrl>{QUrl::fromLocalFile(file)});
    ASSERT_TRUE(QTest::qWaitFor(
        [] { return QGuiApplication::clipboard()->mimeData()->hasFormat(QStringLiteral("image/png")); }, 10000));
    EXPECT_EQ(QImage::fromData(QGuiApplication::clipboard()->mimeData()->data(QStringLiteral("image/png")), "PNG")
                  .pixelColor(5, 5),
              QColor(Qt::red));

    menu.actions().at(2)->trigger();
    EXPECT_EQ(reports, QStringList{"No application opens this file"});

    QFile::remove(file);
    QGuiApplication::clipboard()->setText(QStringLiteral("kept"));
    reports.clear();
    menu.actions().at(1)->trigger();
    menu.actions().at(3)->trigger();
    EXPECT_EQ(reports.size(), 2);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("kept"));
}

TEST(ShareMenu, HelpersThatStartAndThenGiveUpAreReported) {
    // xdg-open and xdg-email as they end on a desktop where nothing opens pictures and no mail program is set.
    QTemporaryDir bin;
    for (const char* helper : {"xdg-open", "xdg-email"}) {
        QFile script(bin.filePath(QString::fromLatin1(helper)));
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\nsleep 0.2\nexit 3\n");
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(bin.path()) + ':' + path);
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("shot.png"));
    QImage picture(10, 10, QImage::Format_RGB32);
    picture.fill(Qt::red);
    picture.save(file);
    QStringList reports;
    const auto report = [&](const QString& message) { reports << message; };
    {
        ShareMenu menu(file, picture, ShareMenu::desktopActions(report), report);
        for (QAction* item : menu.actions())
            if (item->text() == u"Open With Default App" || item->text() == u"Email\u2026")
                item->trigger();
    }
    qputenv("PATH", path);
    // Told after the menu has gone, once each helper has ended.
    EXPECT_TRUE(QTest::qWaitFor([&] { return reports.size() == 2; }, 5000));
    reports.sort();
    EXPECT_EQ(reports, (QStringList{"No application opens this file", "No e-mail program is set up"}));
}

TEST(ShareMenu, OpenWithDefaultAppNeverOpensThisProgram) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("photo.png"));
    QImage picture(10, 10, QImage::Format_RGB32);
    picture.fill(Qt::red);
    picture.save(file);
    // Our entry is always there, and copy.desktop runs this very program (only to list its tests) by another name.
    const struct {
        const char* viewer; // the folder of a viewer's entry, if any
        const char* byDefault;
        const char* opener; // none: the user hears that no application opens the file
    } cases[] = {
        {"data", "pictolarium.desktop", "viewer"}, // ours the default
        {"system", nullptr, "viewer"},             // ours first by folder
        {"data", "copy.desktop", "viewer"},        // this program by another name the default
        {nullptr, nullptr, nullptr},               // ours alone
        {"data", "viewer.desktop", "xdg-open"},    // another default: the desktop's own opener as before
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.viewer ? c.viewer : "no viewer") + ", default " + (c.byDefault ? c.byDefault : ""));
        FakeApplications apps;
        apps.entry(QStringLiteral("pictolarium.desktop"), apps.program(QStringLiteral("ours")));
        apps.entry(QStringLiteral("copy.desktop"),
                   u'"' + QCoreApplication::applicationFilePath() + QStringLiteral("\" --gtest_list_tests"));
        if (c.viewer)
            apps.entry(QStringLiteral("viewer.desktop"), apps.program(QStringLiteral("viewer")), c.viewer[0] == 's');
        if (c.byDefault)
            apps.defaultFor(QString::fromLatin1(c.byDefault));
        QStringList reports;
        const auto report = [&](const QString& message) { reports << message; };
        ShareMenu menu(file, picture, ShareMenu::desktopActions(report), report);
        for (QAction* item : menu.actions())
            if (item->text() == u"Open With Default App")
                item->trigger();
        EXPECT_EQ(apps.log(c.opener ? 1 : 0),
                  c.opener ? QStringList{QString::fromLatin1(c.opener) + u' ' + file} : QStringList());
        EXPECT_EQ(reports, c.opener ? QStringList() : QStringList{QStringLiteral("No application opens this file")});
    }
}

TEST(PinView, EdgesDragsAndZoomKeepTheProportions) {
    QImage picture(400, 200, QImage::Format_RGB32);
    PinView view(Shot{QUrl::fromLocalFile(QStringLiteral("/tmp/x.png")), picture, {}, {}});
    view.resize(400, 200);
    using G = PinView::Grab;
    // Named as on screen: y -1 is the bottom edge. Near a corner the band reaches 26 along the side.
    EXPECT_EQ(view.edges(QPoint(10, 200 - 20)), (G{-1, -1}));
    EXPECT_EQ(view.edges(QPoint(10, 200 - 30)), (G{-1, 0}));
    EXPECT_EQ(view.edges(QPoint(200, 100)), (G{0, 0}));
    EXPECT_EQ(view.edges(QPoint(380, 5)), (G{1, 1}));

    const QRect start(100, 100, 400, 200);
    struct Case {
        const char* name;
        G grab;
        QPoint delta;
        QRect frame;
    };
    const Case cases[] = {
        // Moves, the left edge and a corner are the end-to-end test's.
        {"top edge upwards: bottom stays, centred across", {0, 1}, {0, -50}, {50, 50, 500, 250}},
        {"never narrower than 120", {1, 0}, {-1000, 0}, {100, 170, 120, 60}},
        {"never wider than 4000", {1, 0}, {9000, 0}, {100, -800, 4000, 2000}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(view.dragged(start, c.grab, c.delta), c.frame) << c.name;
    // A wheel step zooms by e^0.05 about the centre.
    const QRect step = view.zoomed(start, std::exp(0.05));
    EXPECT_EQ(step.width(), 421);
    EXPECT_LE((QRectF(step).center() - QRectF(start).center()).manhattanLength(), 1.0);
}

// A double-click turns the pin back into a card showing the file as it is now, read away from the thread that
// answers the user (the card comes once the event is over); a file that went leaves the pinned picture.
TEST(PinView, ADoubleClickReopensWithTheFileAsItIsNowReadOffThisThread) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("pinned.png"));
    QImage pinned(200, 100, QImage::Format_RGB32);
    pinned.fill(Qt::gray);
    struct Case {
        const char* name;
        bool fileThere;
        QColor shown;
    };
    const Case cases[] = {
        {"changed since it was pinned", true, QColor(Qt::red)},
        {"gone", false, QColor(Qt::gray)},
    };
    for (const Case& c : cases) {
        QFile::remove(file);
        if (c.fileThere) {
            QImage now(200, 100, QImage::Format_RGB32);
            now.fill(Qt::red);
            ASSERT_TRUE(now.save(file));
        }
        PinView view(Shot{QUrl::fromLocalFile(file), pinned, {}, {}});
        view.resize(200, 100);
        int closed = 0;
        std::optional<QImage> reopened;
        view.onClose = [&] { ++closed; };
        view.onReopen = [&](const Shot& shot, QRect) { reopened = shot.image; };
        QTest::mouseDClick(&view, Qt::LeftButton, {}, QPoint(100, 50));
        EXPECT_FALSE(reopened) << c.name << ": read while the double-click was handled";
        ASSERT_TRUE(QTest::qWaitFor([&] { return reopened.has_value(); }, 20000)) << c.name;
        EXPECT_EQ(closed, 1) << c.name;
        EXPECT_EQ(reopened->pixelColor(100, 50), c.shown) << c.name;
    }
}

TEST(CardTools, TranslateAsksForALanguageOnceReadsAndShowsTheSideView) {
    ShotCard card;
    QStringList steps;
    bool chosen = false, accept = false;
    QString translated;
    card.view()->onHide = [&](bool hide) { steps << (hide ? QStringLiteral("hide") : QStringLiteral("show")); };
    card.view()->translationLanguageChosen = [&] { return chosen; };
    card.view()->chooseTranslationLanguage = [&] {
        steps << (card.held(Hold::Picker) ? QStringLiteral("chooser, held") : QStringLiteral("chooser"));
        chosen = accept;
        return accept;
    };
    card.view()->makeTranslateView = [&](const QString& text, std::function<void()> onClose) {
        translated = text;
        auto* side = new QPushButton(QStringLiteral("close"));
        QObject::connect(side, &QPushButton::clicked, side, [onClose] { onClose(); });
        return side;
    };

    // Cancelled: the card comes back and nothing is read.
    card.view()->translate();
    EXPECT_EQ(steps, (QStringList{"hide", "chooser, held", "show"}));
    EXPECT_FALSE(card.view()->isBusy());
    EXPECT_FALSE(card.panel->lifetime().isHeld());

    // Chosen, on a picture without text: "No text found" where "Reading…" was, and no side view.
    accept = true;
    steps.clear();
    card.view()->translate();
    EXPECT_EQ(steps.size(), 3);
    EXPECT_EQ(toastText(), QStringLiteral("Reading\u2026"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !card.view()->isBusy(); }, 20000));
    EXPECT_EQ(toastText(), QStringLiteral("No text found"));
    EXPECT_FALSE(card.view()->sideView);

    // With text: no chooser any more; the side view shows it and its close takes it away again.
    QImage text(1200, 400, QImage::Format_RGB32);
    text.fill(Qt::white);
    QPainter painter(&text);
    QFont font;
    font.setPixelSize(64);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(QPoint(60, 220), QStringLiteral("Good morning everyone"));
    painter.end();
    text.save(card.path());
    steps.clear();
    card.view()->translate();
    EXPECT_TRUE(steps.isEmpty());
    ASSERT_TRUE(QTest::qWaitFor([&] { return card.view()->sideView != nullptr; }, 20000));
    EXPECT_TRUE(translated.contains(QStringLiteral("morning"))) << translated.toStdString();
    qobject_cast<QPushButton*>(card.view()->sideView.data())->click();
    EXPECT_FALSE(card.view()->sideView);
}
