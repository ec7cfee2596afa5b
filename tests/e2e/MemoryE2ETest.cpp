// Memory given back: once a large piece of work and its windows are gone, the running program is about as
// big as it was before. The resident size is read from /proc; the figures are printed for the record.

#include "Desktop.h"
#include "text/TextFixtures.h"

#include <gtest/gtest.h>

TEST(Memory, ALongPageReadForItsTextAndAVeryLargePictureAreGivenBack) {
#ifdef PICTOLARIUM_SANITIZED
    GTEST_SKIP() << "the memory checker holds freed memory in quarantine";
#endif
    Desktop::Options o;
    o.tray = false;
    Desktop desktop(o);
    ASSERT_TRUE(desktop.ok()) << desktop.error().toStdString();
    // A pill of copy-text, pin, cut-out and rename.
    ASSERT_TRUE(desktop.writeCardSettings(
        {"annotate", "crop", "resize", "rotate", "translate", "redact", "scroll", "compress", "library"}));
    desktop.startApp();
    ASSERT_TRUE(desktop.waitForApp()) << desktop.appStderr().toStdString();
    const auto resident = [&] { return Desktop::memoryKb(desktop.app()->processId()); };
    const auto cardShown = [&](const QString& path) {
        const quint32 card = desktop.openCard(path);
        // Reading a very large picture can take a while on a busy machine.
        return card ? card : desktop.waitVisible(QStringLiteral("^Pictolarium Card$"), true, 30000);
    };
    // Escape over the card closes it, once the card has seen the pointer come to rest on it.
    const auto closeCard = [&](quint32 card) {
        for (int attempt = 0; attempt < 3 && card; ++attempt) {
            desktop.moveTo(desktop.clientGeometry(card).center());
            Desktop::pause(500);
            desktop.key(QStringLiteral("Escape"));
            if (desktop.waitVisible(QStringLiteral("^Pictolarium Card$"), false, 5000) == 0)
                return true;
        }
        return false;
    };
    // What every card needs (fonts, the window system's buffers) is loaded by a first small card, for good.
    QImage small(400, 250, QImage::Format_RGB32);
    small.fill(QColor(90, 140, 200));
    small.save(desktop.home() + "/small.png");
    ASSERT_TRUE(closeCard(cardShown(desktop.home() + "/small.png")));
    Desktop::pause(3000);
    const qint64 before = resident();
    ASSERT_GT(before, 0) << "no resident size to compare with";
    // Within 30 MB of where it was, waiting up to a minute for the workers to wind down.
    const auto givenBack = [&](const char* work, qint64 peak) {
        qint64 after = resident();
        Desktop::waitUntil([&] { return (after = std::min(after, resident())) <= before + 30 * 1024; }, 60000, 500);
        std::printf("%s: resident %lld MB before, %lld MB at the peak, %lld MB after\n", work, before / 1024,
                    peak / 1024, after / 1024);
        EXPECT_LE(after, before + 30 * 1024) << work;
    };

    ASSERT_TRUE(TextFixtures::registerInter());
    TextFixtures::Canvas page(QSize(1400, 9000), Qt::white);
    for (int y = 60, n = 0; y < 8700; y += 40, ++n)
        page.paragraph(QRect(80, y, 1240, 9000 - y), TextFixtures::prose(90, unsigned(n)), TextFixtures::inter(24),
                       Qt::black, 10, &y);
    page.picture.save(desktop.home() + "/page.png");
    quint32 card = cardShown(desktop.home() + "/page.png");
    ASSERT_NE(card, 0u) << desktop.appStderr().toStdString();
    desktop.click(desktop.pillButton(card, 4, true, 0));
    qint64 peak = 0;
    ASSERT_TRUE(Desktop::waitUntil(
        [&] {
            peak = std::max(peak, resident());
            return desktop.run(QStringLiteral(CLIPBOARD_PROBE_BIN), {}).size() > 2000;
        },
        120000, 500))
        << "the page's text never reached the clipboard";
    ASSERT_TRUE(closeCard(card));
    givenBack("copy text of a 1400 x 9000 page", peak);

    QImage huge(9000, 9000, QImage::Format_RGB32);
    for (int row = 0; row < huge.height(); ++row)
        for (int x = 0; x < huge.width(); ++x)
            reinterpret_cast<QRgb*>(huge.scanLine(row))[x] = qRgb(x % 256, row % 256, (x ^ row) % 256);
    ASSERT_TRUE(huge.save(desktop.home() + "/huge.png"));
    huge = QImage();
    card = cardShown(desktop.home() + "/huge.png");
    ASSERT_NE(card, 0u) << desktop.appStderr().toStdString();
    peak = resident();
    ASSERT_TRUE(closeCard(card));
    givenBack("a 9000 x 9000 picture's card", peak);
}
