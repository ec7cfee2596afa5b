#include "card/ThumbnailView.h"

#include "card/ToolbarPrefs.h"
#include "imaging/ShotFiles.h"
#include "platform/Defaults.h"
#include "platform/Notifications.h"
#include "support/ToastText.h"
#include "ui/FormatBadge.h"
#include "ui/GhostButton.h"
#include "ui/Pill.h"
#include "ui/Toast.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QEnterEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {

// The chrome of buttons reads the standard settings, so the view is built on them too.
Defaults& settings() {
    return Defaults::standard();
}

void resetSettings(double sizeScale = 0, std::optional<QStringList> order = {},
                   std::optional<QStringList> hidden = {}) {
    Defaults& d = settings();
    d.remove(QStringLiteral("picto.sizeScale"));
    d.remove(ToolbarPrefs::orderKey);
    d.remove(ToolbarPrefs::hiddenKey);
    if (sizeScale != 0)
        d.set(QStringLiteral("picto.sizeScale"), sizeScale);
    if (order)
        d.set(ToolbarPrefs::orderKey, QVariant(*order));
    if (hidden)
        d.set(ToolbarPrefs::hiddenKey, QVariant(*hidden));
}

Shot shot(QSize size, const QString& name = QStringLiteral("/tmp/Screen.png")) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    return Shot{QUrl::fromLocalFile(name), image, QStringLiteral("Screen"), std::nullopt};
}

const QStringList fullRow = {"annotate",  "crop",   "resize",   "rotate", "text",   "pin",
                             "translate", "redact", "cutout",   "scroll", "rename", "|",
                             "format",    "|",      "compress", "share",  "library"};

} // namespace

TEST(ThumbnailView, PillFollowsTheUsersOrderAndLeavesHiddenToolsOut) {
    struct Case {
        const char* name;
        std::optional<QStringList> order;
        std::optional<QStringList> hidden;
        QStringList row;
    };
    const Case cases[] = {
        {"catalogue order, nothing hidden", {}, {}, fullRow},
        {"stored order",
         QStringList{"share", "crop"},
         {},
         {"crop", "annotate", "resize", "rotate", "text", "pin", "translate", "redact", "cutout", "scroll", "rename",
          "|", "format", "|", "share", "compress", "library"}},
        {"trailing tools hidden: no divider after the format button",
         {},
         QStringList{"compress", "share", "library"},
         fullRow.mid(0, 13)},
        {"every main tool hidden: no divider before the format button",
         {},
         QStringList{"annotate", "crop", "resize", "rotate", "text", "pin", "translate", "redact", "cutout", "scroll",
                     "rename"},
         {"format", "|", "compress", "share", "library"}},
        {"everything hidden leaves the format button alone",
         {},
         ToolbarPrefs::order(Defaults(QDir::tempPath(), QStringLiteral("none"))),
         {"format"}},
    };
    for (const Case& c : cases) {
        resetSettings(0, c.order, c.hidden);
        ThumbnailView view(shot(QSize(800, 500)), std::nullopt, settings());
        EXPECT_EQ(view.rowOrder(), c.row) << c.name;
        // Hidden tools are built too: compress must be at hand for its mark.
        EXPECT_EQ(view.compressButton, view.tools.value(QStringLiteral("compress"))) << c.name;
    }
    resetSettings();
}

TEST(ThumbnailView, SizesThePictureAndTheCard) {
    struct Case {
        const char* name;
        double sizeScale;
        QSize picture;
        QSizeF shown;
        QSize card;
        int buttonWidth;
    };
    const Case cases[] = {
        // 496 reserved for the pill before the row exists: 540 wide whatever the picture.
        {"unset size, a screen", 0, {1440, 900}, {320, 200}, {540, 302}, 26},
        {"a thin strip is raised to 56 within 608", 0, {2000, 40}, {608, 12}, {652, 114}, 26},
        {"size 0.5", 0.5, {800, 500}, {200, 125}, {540, 220}, 20},
    };
    for (const Case& c : cases) {
        resetSettings(c.sizeScale);
        ThumbnailView view(shot(c.picture), std::nullopt, settings());
        EXPECT_EQ(view.imageRect().size(), c.shown) << c.name;
        EXPECT_EQ(view.size(), c.card) << c.name;
        EXPECT_EQ(view.tools.value(QStringLiteral("crop"))->width(), c.buttonWidth) << c.name;
        // The pill stands 22 above the bottom; badge and close button sit on the picture's corners.
        EXPECT_EQ(view.pill->geometry().bottom() + 1, c.card.height() - 22) << c.name;
        EXPECT_EQ(view.badge->geometry().right() + 1, qRound(view.imageRect().right())) << c.name;
        EXPECT_EQ(view.closeButton->geometry().center() + QPoint(1, 1), view.imageRect().topRight().toPoint())
            << c.name;
    }
    resetSettings();
}

// A picture too large to reduce in a paint is shown at once by sampling, then smoothly once a worker has reduced it:
// a one-pixel checkerboard ends grey on the card, not black or white.
TEST(ThumbnailView, ALargePictureEndsSmoothlyReducedOnTheCard) {
    resetSettings();
    for (const QSize size : {QSize(2000, 1500), QSize(6000, 4000)}) {
        QImage board(size, QImage::Format_RGB32);
        for (int y = 0; y < size.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(board.scanLine(y));
            for (int x = 0; x < size.width(); ++x)
                line[x] = (x + y) % 2 ? 0xffffffff : 0xff000000;
        }
        ThumbnailView view(Shot{QUrl::fromLocalFile(QStringLiteral("/tmp/Board.png")), board, QStringLiteral("Board"),
                                std::nullopt},
                           std::nullopt, settings());
        // The farthest any pixel inside the picture's rounded corners is from grey.
        const QRect inside = view.imageRect().toAlignedRect().adjusted(12, 12, -12, -12);
        const auto farthest = [&] {
            const QImage shot = view.grab().toImage();
            int most = 0;
            for (int y = inside.top(); y <= inside.bottom(); ++y)
                for (int x = inside.left(); x <= inside.right(); ++x)
                    most = std::max(most, std::abs(qGray(shot.pixel(x, y)) - 128));
            return most;
        };
        EXPECT_TRUE(QTest::qWaitFor([&] { return farthest() < 12; }, 5000))
            << size.width() << "x" << size.height() << ": a pixel " << farthest() << " from grey";
    }
}

TEST(ThumbnailView, FormatNamesForKnownAndUnknownExtensions) {
    resetSettings();
    const struct {
        const char* file;
        const char* name;
    } cases[] = {{"/tmp/a.png", "PNG"},
                 {"/tmp/a.JPG", "JPEG"},
                 {"/tmp/a.heic", "HEIC"},
                 {"/tmp/a.xyz", "XYZ"},
                 {"/tmp/noextension", ""}};
    for (const auto& c : cases) {
        ThumbnailView view(shot(QSize(100, 80), QString::fromLatin1(c.file)), std::nullopt, settings());
        EXPECT_EQ(view.badge->text(), QString::fromLatin1(c.name)) << c.file;
        EXPECT_EQ(view.badge->isVisibleTo(&view), *c.name != 0) << c.file;
        EXPECT_EQ(view.formatButton->text(), QString::fromLatin1(c.name) + QStringLiteral(" \u25BE")) << c.file;
    }
}

TEST(ThumbnailView, ApplyTakesTheNewFileAndTellsTheBasket) {
    resetSettings();
    QObject observer;
    int posts = 0;
    Notifications::defaultCenter().observe(ShotFiles::changed(), &observer, [&](const QVariant&) { ++posts; });

    QWidget window;
    auto* view = new ThumbnailView(shot(QSize(1440, 900)), std::nullopt, settings(), &window);
    window.resize(view->size());
    window.move(100, 120);
    view->compressButton->setActive(true);

    view->apply(shot(QSize(1440, 900), QStringLiteral("/tmp/Screen.jpg")));
    EXPECT_EQ(posts, 1);
    EXPECT_EQ(view->badge->text(), QStringLiteral("JPEG"));
    EXPECT_EQ(view->formatButton->text(), QStringLiteral("JPEG \u25BE"));
    EXPECT_FALSE(view->compressButton->active());
    EXPECT_EQ(window.size(), QSize(540, 302)) << "same picture size, same card";

    // The same file again still tells the basket; a new size lays the card out again from its top-left.
    view->apply(shot(QSize(400, 400), QStringLiteral("/tmp/Screen.jpg")));
    EXPECT_EQ(posts, 2);
    EXPECT_EQ(view->imageRect().size(), QSizeF(208, 208));
    EXPECT_EQ(window.pos(), QPoint(100, 120));
    EXPECT_EQ(window.size(), view->size());
    EXPECT_EQ(window.width(), view->pill->width() + 44) << "later layouts use the row's own width";
}

TEST(ThumbnailView, EscapeAndTheCloseButtonEndTheCardAndPlaceholdersCountAsUse) {
    resetSettings();
    ThumbnailView view(shot(QSize(640, 400)), std::nullopt, settings());
    int done = 0, engaged = 0;
    view.onDone = [&] { ++done; };
    view.onEngage = [&] { ++engaged; };

    QTest::keyClick(&view, Qt::Key_Delete);
    EXPECT_EQ(done, 0);
    QTest::keyClick(&view, Qt::Key_Escape);
    EXPECT_EQ(done, 1);
    view.closeButton->click();
    EXPECT_EQ(done, 2);

    for (const char* id : {"annotate", "crop", "translate", "redact"})
        view.tools.value(QString::fromLatin1(id))->click();
    EXPECT_EQ(engaged, 4);
    EXPECT_EQ(done, 2);
}

TEST(ThumbnailView, HoveringAToolNamesItAndShowsTheCloseButton) {
    resetSettings();
    ThumbnailView view(shot(QSize(640, 400)), std::nullopt, settings());
    QStringList hovers;
    view.onHover = [&](bool in) { hovers.append(in ? QStringLiteral("in") : QStringLiteral("out")); };
    view.show();
    QEnterEvent enter(QPointF(50, 50), QPointF(50, 50), QPointF(50, 50));
    QApplication::sendEvent(&view, &enter);
    EXPECT_TRUE(view.closeButton->isVisibleTo(&view));
    QApplication::sendEvent(view.tools.value(QStringLiteral("redact")), &enter);
    EXPECT_EQ(view.hoverLabel->text(), QStringLiteral("Redact sensitive data"));
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&view, &leave);
    EXPECT_FALSE(view.closeButton->isVisibleTo(&view));
    EXPECT_EQ(hovers, (QStringList{"in", "out"}));
}

TEST(ThumbnailView, ConvertWritesTheNewFormatThroughTheRunner) {
    resetSettings();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Shot.png"));
    QImage picture(120, 80, QImage::Format_RGB32);
    picture.fill(QColor(200, 60, 60));
    ASSERT_TRUE(picture.save(path));

    QObject observer;
    int posts = 0;
    Notifications::defaultCenter().observe(ShotFiles::changed(), &observer, [&](const QVariant&) { ++posts; });
    ThumbnailView view(Shot{QUrl::fromLocalFile(path), picture, QStringLiteral("App"), std::nullopt}, std::nullopt,
                       settings());
    view.convertTo(QStringLiteral("png")); // the format it already has: nothing happens
    view.convertTo(QStringLiteral("gif")); // no such format: nothing happens
    EXPECT_FALSE(view.isBusy());

    view.convertTo(QStringLiteral("jpeg"));
    EXPECT_TRUE(view.isBusy());
    EXPECT_EQ(toastText(), QStringLiteral("Converting\u2026"));
    view.compressTapped(); // dropped while the conversion runs
    ASSERT_TRUE(QTest::qWaitFor([&] { return !view.isBusy(); }, 10000));
    EXPECT_EQ(view.shot().fileURL.fileName(), QStringLiteral("Shot.jpg"));
    EXPECT_EQ(view.badge->text(), QStringLiteral("JPEG"));
    EXPECT_TRUE(toastText().startsWith(QStringLiteral("JPEG \u00B7 "))) << toastText().toStdString();
    EXPECT_EQ(posts, 1);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("Shot.jpg")});
}

TEST(ThumbnailView, ByteCountsReadLikeTheDesktopsFileSizes) {
    const struct {
        qint64 bytes;
        const char* text;
    } cases[] = {{0, "Zero KB"},        {1, "1 byte"},
                 {999, "999 bytes"},    {1000, "1 KB"},
                 {245'400, "245 KB"},   {999'499, "999 KB"},
                 {999'500, "1 MB"},     {1'250'000, "1.3 MB"},
                 {12'000'000, "12 MB"}, {1'050'000'000, "1.05 GB"}};
    for (const auto& c : cases)
        EXPECT_EQ(ThumbnailView::byteCount(c.bytes), QString::fromLatin1(c.text)) << c.bytes;
}

TEST(ThumbnailView, CompressLightsItsButtonUntilThePictureChangesEvenWhenTheResultComesAtOnce) {
    resetSettings();
    ThumbnailView view(shot(QSize(120, 80), QStringLiteral("/nonexistent/Shot.png")), std::nullopt, settings());
    view.compressTapped(); // fails at once (no such file), but the press still lights the button
    ASSERT_TRUE(QTest::qWaitFor([&] { return view.compressButton->active(); }));
    view.apply(shot(QSize(120, 80), QStringLiteral("/tmp/Other.png")));
    EXPECT_FALSE(view.compressButton->active());

    // A result within the button's short delay: it must not light up afterwards and stay lit.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !view.isBusy(); }));
    view.compressTapped();
    view.apply(shot(QSize(120, 80), QStringLiteral("/tmp/Third.png")));
    QTest::qWait(150); // past the delay
    EXPECT_FALSE(view.compressButton->active());
}
