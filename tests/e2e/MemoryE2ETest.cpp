// Memory given back: after a large piece of work and its windows are gone, the running program is about
// as big as it was before. Each case reads the program's resident size from /proc before the work and then
// waits for it to come back; the figures are printed for the record.

#include "Desktop.h"
#include "text/TextFixtures.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

namespace {

// What the program may keep after the work, beyond where it was.
constexpr qint64 allowanceKb = 30 * 1024;

qint64 residentKb(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    return -1;
}

class Memory : public ::testing::Test {
protected:
    void SetUp() override {
        Desktop::Options o;
        o.tray = false;
        desktop = std::make_unique<Desktop>(o);
        ASSERT_TRUE(desktop->ok()) << desktop->error().toStdString();
        // A pill of copy-text, pin, cut-out and rename.
        ASSERT_TRUE(desktop->writeCardSettings(
            {"annotate", "crop", "resize", "rotate", "translate", "redact", "scroll", "compress", "library"}));
        desktop->startApp();
        ASSERT_TRUE(desktop->waitForApp()) << desktop->appStderr().toStdString();
        // A first card loads what every card needs (fonts, the window system's buffers) once for good: the
        // program is measured as it stands between two ordinary cards.
        QImage small(400, 250, QImage::Format_RGB32);
        small.fill(QColor(90, 140, 200));
        small.save(home(QStringLiteral("small.png")));
        closeCard(desktop->openCard(home(QStringLiteral("small.png"))));
        before = settled();
    }

    QString home(const QString& name) const { return desktop->home() + QLatin1Char('/') + name; }
    qint64 resident() const { return residentKb(desktop->app()->processId()); }
    // The resident size once it has stopped moving for a second.
    qint64 settled() const {
        qint64 last = resident(), now = last;
        for (int i = 0; i < 20; ++i) {
            Desktop::pause(1000);
            now = resident();
            if (std::abs(now - last) < 1024)
                break;
            last = now;
        }
        return now;
    }
    // Escape over the card closes it; true once it has gone.
    bool closeCard(quint32 card) {
        if (card == 0)
            return false;
        desktop->moveTo(desktop->clientGeometry(card).center());
        desktop->key(QStringLiteral("Escape"));
        return desktop->waitVisible(QStringLiteral("^Pictolarium Card$"), false, 8000) == 0;
    }
    // Waits up to a minute for the program to come back within the allowance; the smallest size seen.
    qint64 givenBack() const {
        qint64 least = resident();
        Desktop::waitUntil(
            [&] {
                least = std::min(least, resident());
                return least <= before + allowanceKb;
            },
            60000, 500);
        return least;
    }
    void report(const char* work, qint64 peak, qint64 after) const {
        std::printf("%s: resident %lld MB before, %lld MB at the peak, %lld MB after\n", work,
                    static_cast<long long>(before / 1024), static_cast<long long>(peak / 1024),
                    static_cast<long long>(after / 1024));
    }

    std::unique_ptr<Desktop> desktop;
    qint64 before = 0;
};

} // namespace

TEST_F(Memory, ALongPageReadForItsTextIsGivenBack) {
    ASSERT_TRUE(TextFixtures::registerInter());
    TextFixtures::Canvas page(QSize(1400, 9000), Qt::white);
    int y = 60;
    for (unsigned paragraph = 0; y < 8700; ++paragraph)
        page.paragraph(QRect(80, y, 1240, 9000 - y), TextFixtures::prose(90, paragraph), TextFixtures::inter(24),
                       Qt::black, 10, &y),
            y += 40;
    page.picture.save(home(QStringLiteral("page.png")));
    const quint32 card = desktop->openCard(home(QStringLiteral("page.png")));
    ASSERT_NE(card, 0u) << desktop->appStderr().toStdString();
    desktop->click(desktop->pillButton(card, 4, true, 0));
    qint64 peak = 0;
    ASSERT_TRUE(Desktop::waitUntil(
        [&] {
            peak = std::max(peak, resident());
            return desktop->run(QStringLiteral(CLIPBOARD_PROBE_BIN), {}).size() > 2000;
        },
        120000, 500))
        << "the page's text never reached the clipboard";
    ASSERT_TRUE(closeCard(card));
    const qint64 after = givenBack();
    report("copy text of a 1400 x 9000 page", peak, after);
    EXPECT_LE(after, before + allowanceKb);
}

TEST_F(Memory, AVeryLargePictureIsGivenBackWhenItsCardCloses) {
    QImage huge(9000, 9000, QImage::Format_RGB32);
    for (int row = 0; row < huge.height(); ++row) {
        auto* line = reinterpret_cast<QRgb*>(huge.scanLine(row));
        for (int x = 0; x < huge.width(); ++x)
            line[x] = qRgb(x % 256, row % 256, (x ^ row) % 256);
    }
    ASSERT_TRUE(huge.save(home(QStringLiteral("huge.png"))));
    huge = QImage();
    quint32 card = desktop->openCard(home(QStringLiteral("huge.png")));
    // Reading so large a picture can take a while on a busy machine.
    if (card == 0)
        card = desktop->waitVisible(QStringLiteral("^Pictolarium Card$"), true, 30000);
    ASSERT_NE(card, 0u) << desktop->appStderr().toStdString();
    const qint64 peak = resident();
    ASSERT_TRUE(closeCard(card));
    const qint64 after = givenBack();
    report("a 9000 x 9000 picture's card", peak, after);
    EXPECT_LE(after, before + allowanceKb);
}
