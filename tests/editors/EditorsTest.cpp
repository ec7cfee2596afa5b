// The editor window's sizing and placement, and the crop, resize and rotate editors on real files.

#include "EditorFixtures.h"
#include "editors/CropCanvas.h"
#include "editors/CropWindow.h"
#include "editors/ResizeWindow.h"
#include "editors/RotateCanvas.h"
#include "editors/RotateWindow.h"
#include "editors/Transform.h"
#include "imaging/Cropper.h"
#include "imaging/PictureFiles.h"
#include "platform/Trash.h"
#include "support/ManyPictures.h"
#include "support/NoRoomToWrite.h"
#include "ui/GhostButton.h"
#include "ui/Pill.h"

#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTest>
#include <gtest/gtest.h>

using namespace PictureFiles;
using namespace EditorFixtures;

namespace {

void type(ResizeWindow& editor, QLineEdit* field, const QString& text) {
    field->setText(text);
    editor.fieldEdited(field);
}

} // namespace

TEST(EditorWindow, CanvasFitsTheScreenShareOrTheForcedSize) {
    const auto fit = [](QSize pixels, double sizeScale, std::optional<QSizeF> forced = {}, bool bars = false) {
        return EditorWindow::canvasSizeFor(
            {pixels, QRectF(0, 0, 1440, 900), sizeScale, bars ? 40.0 : 100.0, bars, forced});
    };
    EXPECT_EQ(fit({4000, 1000}, 0), QSize(691, 173)); // scale 0.1728: 691.2 × 172.8
    EXPECT_EQ(fit({4000, 1000}, 2), QSize(1037, 259));
    EXPECT_EQ(fit({4000, 1000}, 0.3), QSize(432, 108));
    EXPECT_EQ(fit({400, 300}, 0), QSize(400, 300)) << "never enlarged";
    EXPECT_EQ(fit({400, 200}, 0, QSizeF(800, 800)), QSize(800, 400)) << "a forced size is filled";
    EXPECT_EQ(fit({10000, 100}, 0, {}, true), QSize(605, 6)) << "691.2 less the side bars' 86.64";
    EXPECT_EQ(fit({20000, 40}, 0), QSize(691, 1));
    EXPECT_EQ(EditorWindow::canvasSizeFor({{1000, 1000}, QRectF(0, 0, 100, 100), 0, 100, false, {}}), QSize(160, 160));
}

TEST(EditorWindow, PlacedOnTheSourceAndKeptAboveTheReserve) {
    const QRect screen(0, 0, 1280, 800);
    const QSize size(300, 200), canvas(260, 100);
    const QPoint origin(20, 58);
    EXPECT_EQ(EditorWindow::placedAt(QRectF(100, 100, 200, 100), size, origin, canvas, screen, 94), QPoint(50, 42));
    EXPECT_EQ(EditorWindow::placedAt(QRectF(600, 760, 80, 60), size, origin, canvas, screen, 94).y(), 800 - 94 - 200);
    EXPECT_EQ(EditorWindow::placedAt(QRectF(1250, 300, 80, 60), size, origin, canvas, screen, 94).x(), 980);
    // Too large: the left and bottom edges stay on the screen, above the reserve.
    EXPECT_EQ(EditorWindow::placedAt(QRectF(600, 300, 80, 60), QSize(1400, 900), origin, canvas, screen, 94),
              QPoint(0, 800 - 94 - 900));
    EXPECT_EQ(EditorWindow::placedAt(QRectF(5000, 5000, 0, 0), size, origin, canvas, std::nullopt, 94),
              QPoint(5000 - 150, 5000 - 108));
}

TEST(EditorWindow, CanvasFrameCloseAndCancel) {
    Folder folder;
    const QUrl url = folder.write(QStringLiteral("shot.png"), markers(4, 3, 100));
    auto* editor = new CropWindow(shotOf(url), {});
    int closed = 0, cancelled = 0;
    std::tie(editor->onClose, editor->onCancel) = std::pair([&] { ++closed; }, [&] { ++cancelled; });
    editor->present(QRect(100, 100, 400, 300), 94);
    EXPECT_EQ(EditorWindow::open().size(), 1);
    const Pill* pill = editor->findChild<Pill*>();
    ASSERT_TRUE(pill);
    EXPECT_NEAR(pill->geometry().center().x(), editor->canvas->geometry().center().x(), 1);
    EXPECT_EQ(editor->canvas->geometry().top() - pill->geometry().bottom() - 1, 12);

    QPointer<EditorWindow> alive(editor);
    QTest::keyClick(editor->canvas, Qt::Key_Escape);
    editor->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(cancelled, 1);
    EXPECT_EQ(closed, 1);
    EXPECT_TRUE(EditorWindow::open().isEmpty());
    EXPECT_FALSE(alive) << "an editor deletes itself once closed";

    // Neither the file nor the shot gives pixels: no editor.
    EXPECT_EQ(errorOf([&] { delete new RotateWindow(shotOf(folder.url(QStringLiteral("gone.png"))), {}); }),
              QStringLiteral("Can't read gone.png"));
}

TEST(CropCanvas, SelectionsAndOutlines) {
    CropCanvas canvas(filled(1440, 900));
    canvas.resize(400, 200);
    const std::tuple<QPointF, QPointF, std::optional<QRectF>> cases[] = {
        {{10, 10}, {10, 10}, {}},                           // a click
        {{10, 10}, {14, 110}, {}},                          // 4 wide
        {{10, 10}, {15, 110}, QRectF(10, 10, 5, 100)},      // 5 wide
        {{300, 150}, {100, 50}, QRectF(100, 50, 200, 100)}, // dragged backwards
        {{300, 150}, {500, -40}, QRectF(300, 0, 100, 150)}, // clipped to the canvas
    };
    for (const auto& [from, to, selection] : cases) {
        std::tie(canvas.start, canvas.current) = std::pair(from, to);
        EXPECT_EQ(canvas.selection(), selection);
    }
    canvas.start = QPointF(100, 50);
    canvas.current = QPointF(300, 100);
    EXPECT_EQ(canvas.normalizedSelection(), QRectF(0.25, 0.5, 0.5, 0.25)) << "y counts from the bottom";

    canvas.setMode(CropCanvas::Mode::lasso);
    EXPECT_FALSE(canvas.selection());
    QTest::mousePress(&canvas, Qt::LeftButton, {}, QPoint(40, 0));
    for (const QPoint p : {QPoint(41, 1), QPoint(42, 0), QPoint(400, 0), QPoint(400, 200)})
        QTest::mouseMove(&canvas, p);
    EXPECT_FALSE(canvas.normalizedLasso()) << "moves of 2 or less add nothing";
    QTest::mouseMove(&canvas, QPoint(-40, 200));
    EXPECT_EQ(canvas.normalizedLasso(), (QList<QPointF>{{0.1, 1}, {1, 1}, {1, 0}, {-0.1, 0}}));
}

// The label over a selection and the piece written from it agree, fractions of a pixel included.
TEST(CropCanvas, SizeLabelNamesThePieceTheCropWrites) {
    Folder folder;
    const QUrl url = folder.write(QStringLiteral("wide.png"), filled(1440, 900));
    CropCanvas canvas(QImage(url.toLocalFile()));
    canvas.resize(400, 200);
    EXPECT_EQ(canvas.sizeLabel(), QString()) << "no selection, no label";
    const std::pair<QPointF, QPointF> drags[] = {
        {{10.1, 20}, {191.1, 85.8}},  // 651.6 pixels wide
        {{0.3, 0.3}, {399.9, 199.9}}, // all but slivers at the edges
        {{250.2, 10.7}, {420, 230}},  // past the canvas's corner
        {{33.33, 66.67}, {66.66, 99.99}},
    };
    for (const auto& [from, to] : drags) {
        std::tie(canvas.start, canvas.current) = std::pair(from, to);
        const QImage piece(Cropper::crop(url, canvas.normalizedSelection().value()).toLocalFile());
        EXPECT_EQ(canvas.sizeLabel().toStdString(),
                  QStringLiteral("%1 \u00D7 %2").arg(piece.width()).arg(piece.height()).toStdString())
            << from.x() << "," << from.y();
    }
}

TEST(CropWindow, KeysAndWritingThePiece) {
    Folder folder;
    const QUrl url = folder.write(QStringLiteral("shot.png"), markers(4, 2, 100));
    std::vector<std::pair<QUrl, QString>> results;
    auto* editor = new CropWindow(shotOf(url), [&](const QUrl& u, const QString& m) { results.emplace_back(u, m); });
    QPointer<CropWindow> alive(editor);
    editor->present(QRect(0, 0, 400, 200), 0);
    CropCanvas* canvas = editor->canvas;
    for (const auto& [modifiers, text] : {std::pair(Qt::ShiftModifier, "L"), std::pair(Qt::ControlModifier, "l")}) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_L, modifiers, QString::fromLatin1(text));
        QApplication::sendEvent(canvas, &press);
    }
    EXPECT_EQ(canvas->mode, CropCanvas::Mode::rect);
    QTest::keyClick(canvas, Qt::Key_L);
    EXPECT_TRUE(editor->lassoButton->active());
    QTest::keyClick(canvas, Qt::Key_R);
    EXPECT_EQ(canvas->mode, CropCanvas::Mode::rect);

    // The left half: 200 × 200 of the 400 × 200 picture.
    canvas->start = QPointF(0, 0);
    canvas->current = QPointF(canvas->width() / 2.0, canvas->height());
    QFile::rename(url.toLocalFile(), folder.path(QStringLiteral("away.png")));
    QTest::keyClick(canvas, Qt::Key_Return);
    EXPECT_TRUE(editor->isWriting()) << "written on the thread that answers the user";
    QTest::keyClick(canvas, Qt::Key_Escape);
    ASSERT_TRUE(writeDone(editor));
    EXPECT_EQ(toastText(), QStringLiteral("Can't read shot.png"));
    EXPECT_EQ(Toast::current()->geometry().bottom() + 1 + 14, editor->frameGeometry().bottom() + 1 - 30)
        << "30 above the window's bottom edge";
    EXPECT_TRUE(alive && editor->isVisible() && canvas->selection()) << "a failed crop keeps the editor as it was";
    QFile::rename(folder.path(QStringLiteral("away.png")), url.toLocalFile());
    QTest::keyClick(canvas, Qt::Key_Return);
    ASSERT_TRUE(writeDone(editor));
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0], std::pair(folder.url(QStringLiteral("shot crop.png")), QStringLiteral("Cropped")));
    EXPECT_EQ(QImage(results[0].first.toLocalFile()).size(), QSize(200, 200));
}

TEST(ResizeWindow, FieldsFollowTheLockAndKeepTheirBounds) {
    Folder folder;
    ResizeWindow editor(shotOf(folder.write(QStringLiteral("a.png"), filled(1280, 720))), {});
    QLineEdit *w = editor.wField, *h = editor.hField;
    // clang-format off
    const std::tuple<QLineEdit*, const char*, qint64, qint64> steps[] = {
        {w, "640", 640, 360}, {h, "360", 640, 360}, {w, "12.5", 125, 70}, {w, "-300", 300, 169},
        {w, "1,024", 1024, 576}, {w, "abc", 1024, 576}, {w, "0", 1024, 576}, {w, "\u0663\u0660\u0660", 1024, 576},
        {w, "99999", 16000, 9000}, {h, "99999", 16000, 16000}, {w, "99999999999999999999", 16000, 16000}};
    // clang-format on
    for (const auto& [field, text, width, height] : steps) {
        type(editor, field, QString::fromUtf8(text));
        EXPECT_EQ(w->text() + QLatin1Char('x') + h->text(), QStringLiteral("%1x%2").arg(width).arg(height)) << text;
    }
}

TEST(ResizeWindow, DoneReplacesTheFileOrSaysWhyNot) {
    Folder folder;
    QList<QString> messages;
    const auto done = [&](const QUrl& url, const QString& message) {
        messages.append(url.fileName() + ": " + message);
    };
    const QUrl tall = folder.write(QStringLiteral("tall.png"), filled(100, 20000));
    auto* editor = new ResizeWindow(shotOf(tall), done);
    QPointer<ResizeWindow> alive(editor);
    editor->present(QRect(0, 0, 100, 100), 0);
    editor->toggleLock();
    type(*editor, editor->wField, QStringLiteral("16000"));
    editor->toggleLock();
    EXPECT_EQ(editor->targetH, 3200000);
    editor->finish();
    ASSERT_TRUE(writeDone(editor));
    EXPECT_EQ(toastText(), QStringLiteral("Can't resize"));
    EXPECT_TRUE(alive && editor->isVisible());
    type(*editor, editor->wField, QStringLiteral("50"));
    // No room to write (a read-only folder, for root as well): the editor stays, the file as it was.
    const QByteArray original = folder.read(QStringLiteral("tall.png"));
    {
        const NoRoomToWrite full;
        editor->finish();
        EXPECT_TRUE(editor->isWriting());
        ASSERT_TRUE(writeDone(editor));
    }
    EXPECT_EQ(toastText(), QStringLiteral("Couldn't write tall 2.png"));
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_TRUE(alive && editor->isVisible());
    EXPECT_EQ(folder.names(), QStringList{QStringLiteral("tall.png")});
    EXPECT_EQ(folder.read(QStringLiteral("tall.png")), original);
    editor->finish();
    ASSERT_TRUE(writeDone(editor));
    EXPECT_EQ(messages, QStringList{QStringLiteral("tall.png: Resized")});
    EXPECT_EQ(QImage(tall.toLocalFile()).size(), QSize(50, 10000));
    EXPECT_TRUE(QFile::exists(Trash::homeTrash() + QStringLiteral("/files/tall.png")));

    // The Trash unusable: the result stands beside the kept original, and the message says so.
    QFile::remove(Trash::homeTrash() + QStringLiteral("/files/tall.png"));
    QDir(Trash::homeTrash()).removeRecursively();
    QFile blocker(Trash::homeTrash());
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    auto* again = new ResizeWindow(shotOf(tall), done);
    type(*again, again->wField, QStringLiteral("25"));
    again->finish();
    ASSERT_TRUE(writeDone(again));
    QFile::remove(Trash::homeTrash());
    EXPECT_TRUE(messages.last().startsWith(QStringLiteral("tall 2.png: Resized \u2014 Couldn't move tall.png")));
    EXPECT_TRUE(messages.last().endsWith(QStringLiteral("so both files were kept")));
}

TEST(Transform, EverySixteenStatesAgreeInFileAndPreview) {
    // 3 × 2 pixels, each its own colour.
    QImage source(3, 2, QImage::Format_RGB32);
    for (int i = 0; i < 6; ++i)
        source.setPixelColor(i % 3, i / 3, QColor::fromHsv(i * 60, 255, 255));
    Folder folder;
    for (int state = 0; state < 16; ++state) {
        const int turns = state % 4;
        const bool flipH = state & 4, flipV = state & 8;
        // The expected picture: mirrored, then each quarter turn clockwise moves (x, y) to (h − 1 − y, x).
        QImage expected = source.mirrored(flipH, flipV);
        for (int t = 0; t < turns; ++t) {
            QImage next(expected.height(), expected.width(), QImage::Format_RGB32);
            for (int y = 0; y < expected.height(); ++y)
                for (int x = 0; x < expected.width(); ++x)
                    next.setPixel(expected.height() - 1 - y, x, expected.pixel(x, y));
            expected = next;
        }
        const QString name = QStringLiteral("p%1.png").arg(state);
        const ImageConvert::Replaced written = ImageConvert::transform(folder.write(name, source), turns, flipH, flipV);
        EXPECT_EQ(written.url.fileName(), name);
        EXPECT_EQ(QImage(written.url.toLocalFile()).convertToFormat(QImage::Format_RGB32), expected) << state;

        RotateCanvas canvas(source);
        canvas.resize(300, 300);
        std::tie(canvas.turns, canvas.flipH, canvas.flipV) = std::tuple(turns, flipH, flipV);
        const QImage shown = canvas.grab().toImage();
        const double cell = 300.0 / std::max(expected.width(), expected.height());
        const QPointF corner(150 - cell * expected.width() / 2, 150 - cell * expected.height() / 2);
        for (int y = 0; y < expected.height(); ++y)
            for (int x = 0; x < expected.width(); ++x)
                EXPECT_TRUE(near(shown.pixelColor((corner + QPointF((x + 0.5) * cell, (y + 0.5) * cell)).toPoint()),
                                 expected.pixelColor(x, y), 8))
                    << "preview of state " << state << " at " << x << "," << y;
    }
}

TEST(Transform, RefusalsAndTurnedOnce) {
    Folder folder;
    for (const QUrl& url : {folder.write(QStringLiteral("d.pdf"), pdf({QSizeF(50, 50)})),
                            folder.write(QStringLiteral("x.xyz"), markers(2, 2, 8))})
        EXPECT_EQ(errorOf([&] { ImageConvert::transform(url, 1, false, false); }),
                  QStringLiteral("Rotate works on images, not PDFs"));
    // Stored sideways (orientation 6): shown upright as 32 × 48, then turned once: 48 × 32, red top-right.
    const QUrl jpeg =
        folder.write(QStringLiteral("photo.jpeg"), jpegWithOrientation(encoded(markers(3, 2, 16), "JPEG", 95), 6));
    const QImage upright = ImageConvert::load(jpeg);
    ASSERT_EQ(upright.size(), QSize(32, 48));
    const QUrl turned = ImageConvert::transform(jpeg, 1, false, false).url;
    EXPECT_EQ(turned.fileName(), QStringLiteral("photo.jpg"));
    const QImage result = ImageConvert::load(turned);
    EXPECT_EQ(result.size(), QSize(48, 32));
    EXPECT_TRUE(near(result.pixelColor(39, 8), upright.pixelColor(8, 8), 60)) << "turned once, not twice";

    // A file of several pages or frames stays: the turned first one is written beside it.
    const QList<QImage> two = {markers(3, 2, 16), markers(3, 2, 16).mirrored()};
    for (const auto& [name, what] : {std::pair{"scan.tiff", "page"}, std::pair{"moving.webp", "frame"}}) {
        const QByteArray bytes = ManyPictures::file(two, QFileInfo(QString::fromLatin1(name)).suffix());
        const auto done = ImageConvert::transform(folder.write(QString::fromLatin1(name), bytes), 1, false, false);
        EXPECT_EQ(done.trashFailure, QStringLiteral("only %1 1 of 2 was rotated, so %2 was kept").arg(what, name));
        EXPECT_EQ(folder.read(QString::fromLatin1(name)), bytes);
        EXPECT_EQ(ImageConvert::load(done.url).size(), QSize(32, 48));
    }
}
