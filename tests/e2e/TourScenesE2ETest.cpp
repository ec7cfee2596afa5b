// The tour's pictures on a real desktop: every page's scene 2.5 s after it opens (kept for a person
// to look at), the crest on the welcome page and the shield on the setup page.

#include "Desktop.h"

#include <QColor>
#include <gtest/gtest.h>

namespace {

const QString kTour = QStringLiteral("^Pictolarium Tour$");

// Green stands well above red and blue: the program's greens, not the dark card or a grey.
bool greenish(const QColor& c) {
    return c.green() > 110 && c.green() > c.blue() + 40;
}

} // namespace

TEST(TourScenes, EveryPageShowsItsSceneAndTheArtwork) {
    Desktop::Options options;
    options.firstRun = true;
    Desktop desktop(options);
    ASSERT_TRUE(desktop.ok()) << desktop.error().toStdString();
    desktop.startApp();
    ASSERT_TRUE(desktop.waitForApp());
    ASSERT_TRUE(Desktop::waitUntil([&] { return !desktop.windowsByName(kTour).isEmpty(); }, 5000));
    const quint32 window = desktop.windowsByName(kTour).value(0);
    // Away from the scene, so nothing follows the pointer.
    desktop.moveTo(QPoint(2, 2));
    // The scene sits 28 points in from the window's left and 20 down, 544 wide.
    const QPoint scene = desktop.clientGeometry(window).topLeft() + QPoint(28, 20);
    const char* pages[] = {"welcome", "pick", "slice", "card", "basket", "latest", "wheel", "setup"};
    for (int i = 0; i < 8; ++i) {
        if (i > 0)
            desktop.xdotool({QStringLiteral("key"), QStringLiteral("Right")});
        Desktop::pause(2500);
        const QImage shot = desktop.screenshot(
            Desktop::shotsDir() + QStringLiteral("/tour-scene-%1-%2.png").arg(i).arg(QString::fromLatin1(pages[i])));
        ASSERT_FALSE(shot.isNull());
        if (i == 0) {
            // The crest's hub at the stage's centre (272, 168 from the bottom of the 300-point stage).
            EXPECT_TRUE(greenish(shot.pixelColor(scene + QPoint(272, 300 - 168)))) << "the crest shows";
        }
        if (i == 7) {
            // The setup card is 216 high: the stage is shown at 0.72, centred. The shield's upper
            // left, below where its picture fades out, is at (237, 197) on the stage.
            const QPoint at = scene + QPoint(int(272 + (237 - 272) * 0.72), int(216 - (108 + (197 - 150) * 0.72)));
            EXPECT_TRUE(greenish(shot.pixelColor(at))) << "the shield shows";
        }
    }
}
