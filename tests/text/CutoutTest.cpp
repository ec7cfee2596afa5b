#include "text/Cutout.h"
#include "text/CutoutFixtures.h"

#include <gtest/gtest.h>

TEST(Cutout, KeepsTheSubjectAtFullSizeOnAClearBackground) {
    const CutoutScene scene = cutoutScene(QSize(960, 540));
    const QImage cut = Cutout::removeBackground(scene.picture);
    ASSERT_EQ(cut.size(), scene.picture.size());
    ASSERT_TRUE(cut.hasAlphaChannel());
    for (const QPoint corner : {QPoint(0, 0), QPoint(959, 0), QPoint(0, 539), QPoint(959, 539)})
        EXPECT_EQ(qAlpha(cut.pixel(corner)), 0) << corner.x() << "," << corner.y();
    // The subject's middle stays solid with its own colour; the text beside it goes.
    const QPoint middle(int(960 * 0.73), int(540 * 0.52));
    EXPECT_EQ(qAlpha(cut.pixel(middle)), 255);
    EXPECT_EQ(qRgb(qRed(cut.pixel(middle)), qGreen(cut.pixel(middle)), qBlue(cut.pixel(middle))),
              scene.picture.pixel(middle) | 0xff000000u);
    EXPECT_GT(maskIoU(Cutout::foregroundMask(scene.picture), scene.truth), 0.95);
}

TEST(Cutout, TwoSubjectsAreBothKept) {
    QImage picture(640, 400, QImage::Format_RGB32);
    picture.fill(QColor(240, 240, 240));
    QPainter p(&picture);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(30, 90, 200));
    p.drawEllipse(QRect(60, 100, 180, 180));
    p.setBrush(QColor(210, 40, 60));
    p.drawEllipse(QRect(400, 120, 160, 160));
    p.end();
    const QImage cut = Cutout::removeBackground(picture);
    EXPECT_EQ(qAlpha(cut.pixel(150, 190)), 255);
    EXPECT_EQ(qAlpha(cut.pixel(480, 200)), 255);
    EXPECT_EQ(qAlpha(cut.pixel(320, 200)), 0);
}

TEST(Cutout, SaysSoWhenNothingStandsOut) {
    QImage plain(800, 600, QImage::Format_RGB32);
    plain.fill(QColor(120, 130, 140));
    QImage tiny(1, 1, QImage::Format_ARGB32);
    tiny.fill(Qt::red);
    for (const QImage& picture : {plain, tiny, QImage()}) {
        try {
            Cutout::removeBackground(picture);
            ADD_FAILURE() << picture.width() << "x" << picture.height() << " gave a cut-out";
        } catch (const Cutout::Failure& failure) {
            EXPECT_EQ(failure.message, QStringLiteral("No clear subject found"));
        }
    }
}
