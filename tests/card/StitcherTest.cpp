#include "card/Stitcher.h"

#include "imaging/UserError.h"

#include <QPainter>
#include <climits>
#include <gtest/gtest.h>
#include <random>

using Stitcher::Signature;
using Stitcher::SignatureRow;

namespace {

SignatureRow randomRow(std::mt19937& rng, int lo = 0, int hi = 255) {
    SignatureRow row;
    for (auto& v : row)
        v = quint8(lo + int(rng() % unsigned(hi - lo + 1)));
    return row;
}

Signature randomSignature(int rows, std::mt19937& rng, int lo = 0, int hi = 255) {
    Signature sig;
    for (int i = 0; i < rows; ++i)
        sig.push_back(randomRow(rng, lo, hi));
    return sig;
}

// The content of prev moved up by `shift` rows, with unseen rows coming in at the bottom.
Signature scrolled(const Signature& prev, int shift, std::mt19937& rng, int lo = 0, int hi = 255) {
    Signature next;
    for (size_t r = 0; r < prev.size(); ++r)
        next.push_back(r + size_t(shift) < prev.size() ? prev[r + size_t(shift)] : randomRow(rng, lo, hi));
    return next;
}

QImage greyRamp(int width, int height) {
    QImage img(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            img.setPixel(x, y, qRgb(x * 2 % 256, x * 2 % 256, x * 2 % 256));
    return img;
}

QImage noise(int width, int height, std::mt19937& rng) {
    QImage img(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            img.setPixel(x, y, qRgb(int(rng() % 256), int(rng() % 256), int(rng() % 256)));
    return img;
}

void expectCantStitch(const QList<QImage>& frames, const QList<int>& offsets) {
    try {
        Stitcher::stitch(frames, offsets);
        ADD_FAILURE() << "stitch succeeded";
    } catch (const ConvertError& e) {
        EXPECT_EQ(e.message, QStringLiteral("Can't stitch"));
    }
}

} // namespace

TEST(StitcherSignature, SamplesAreBandAveragesOfLumaTopRowFirst) {
    const Signature ramp = Stitcher::signatures(greyRamp(128, 3));
    ASSERT_EQ(ramp.size(), 3u);
    for (int c = 0; c < 64; ++c)
        EXPECT_EQ(ramp[2][c], 4 * c + 1) << "column " << c; // mean of 4c and 4c + 2

    // Narrower than 64 pixels: every pixel is repeated over four samples.
    const Signature narrow = Stitcher::signatures(greyRamp(16, 1));
    ASSERT_EQ(narrow.size(), 1u);
    for (int c = 0; c < 64; ++c)
        EXPECT_EQ(narrow[0][c], c / 4 * 2) << "column " << c;

    QImage rows(70, 3, QImage::Format_ARGB32);
    const QRgb colours[] = {qRgba(255, 255, 255, 0), qRgb(0, 255, 0), qRgb(0, 0, 255)};
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 70; ++x)
            rows.setPixel(x, y, colours[y]);
    const Signature sig = Stitcher::signatures(rows);
    ASSERT_EQ(sig.size(), 3u);
    EXPECT_EQ(sig[0][10], 0) << "transparent counts as black";
    EXPECT_GT(sig[1][0], sig[2][0]) << "green is brighter than blue";

    EXPECT_TRUE(Stitcher::signatures(QImage()).empty());
}

TEST(StitcherSignature, PixelFormatsGiveTheSameSignature) {
    std::mt19937 rng(7);
    const QImage base = noise(203, 150, rng); // taller than a conversion chunk
    const Signature expected = Stitcher::signatures(base);
    ASSERT_EQ(expected.size(), 150u);
    for (auto format : {QImage::Format_ARGB32, QImage::Format_ARGB32_Premultiplied, QImage::Format_RGB888,
                        QImage::Format_RGBA8888, QImage::Format_BGR30}) {
        SCOPED_TRACE(int(format));
        EXPECT_EQ(Stitcher::signatures(base.convertToFormat(format)), expected);
    }
}

// Each sample by the definition: the rounded mean Rec. 601 luma of its band, summed pixel by pixel.
TEST(StitcherSignature, EverySampleIsItsBandsRoundedMeanWhateverTheWidth) {
    std::mt19937 rng(11);
    // Bands of 1 to 4 pixels (tails of the four-at-a-time sums), uneven bands, and bands of 257 and
    // more pixels, which are divided the long way.
    for (const int width : {61, 64, 67, 130, 1366, 1921, 3843, 16448, 17000}) {
        SCOPED_TRACE(width);
        QImage image = noise(width, 2, rng);
        if (width > 16000) // a bright band and a dark one: the sums reach their largest
            for (int x = 0; x < width; ++x)
                image.setPixel(x, 1, x < width / 2 ? qRgb(255, 255, 255) : qRgb(255, 0, 3));
        const Signature sig = Stitcher::signatures(image);
        ASSERT_EQ(sig.size(), 2u);
        for (int y = 0; y < 2; ++y) {
            const auto* px = reinterpret_cast<const QRgb*>(image.constScanLine(y));
            for (int c = 0; c < 64; ++c) {
                const qint64 start = qint64(c) * width / 64;
                const qint64 end = std::max(start + 1, qint64(c + 1) * width / 64);
                quint64 luma = 0;
                for (qint64 x = start; x < end; ++x)
                    luma += 77 * quint64(qRed(px[x])) + 150 * quint64(qGreen(px[x])) + 29 * quint64(qBlue(px[x]));
                const quint64 n = quint64(end - start);
                ASSERT_EQ(sig[size_t(y)][c], (luma + 128 * n) / (256 * n)) << "row " << y << ", column " << c;
            }
        }
    }
}

TEST(StitcherChanged, SampledDifferenceAgainstTheLimit) {
    // Puts `total` grey steps of difference into row `row` of an otherwise identical copy.
    auto withDifference = [](const Signature& a, int row, int total) {
        Signature b = a;
        for (int c = 0; total > 0; c = (c + 1) % 64, --total)
            b[size_t(row)][size_t(c)] += 1;
        return b;
    };
    auto spread = [](const Signature& a, int total) { // one step per sample, then the rest in row 0
        Signature b = a;
        for (auto& row : b)
            for (auto& v : row)
                if (total > 0)
                    v += 1, --total;
        b[0][0] += quint8(total);
        return b;
    };
    std::mt19937 rng(1);
    const Signature r40 = randomSignature(40, rng, 0, 200);
    const Signature r39 = randomSignature(39, rng, 0, 200);
    const Signature r80 = randomSignature(80, rng, 0, 200);
    struct Case {
        const char* name;
        Signature a, b;
        bool changed;
    } cases[] = {
        {"identical", r40, r40, false},
        {"exactly 2560", r40, spread(r40, 2560), false},
        {"2561", r40, spread(r40, 2561), true},
        {"below 40 rows every row is sampled", r39, withDifference(r39, 38, 2561), true},
        {"80 rows: odd rows are skipped", r80, withDifference(r80, 1, 5000), false},
        {"80 rows: even rows are sampled", r80, withDifference(r80, 2, 2561), true},
        {"different row counts", r40, r39, true},
        {"no rows", Signature(), Signature(), true},
        {"first has no rows", Signature(), r40, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Stitcher::changed(c.a, c.b), c.changed);
    }
}

TEST(StitcherChanged, PicturesOfDifferentWidthsOrHeights) {
    QImage wide(600, 50, QImage::Format_RGB32), narrow(300, 50, QImage::Format_RGB32);
    wide.fill(Qt::gray);
    narrow.fill(Qt::gray);
    EXPECT_FALSE(Stitcher::changed(wide, narrow)) << "equal heights are compared even when widths differ";
    EXPECT_TRUE(Stitcher::changed(wide, wide.copy(0, 0, 600, 49)));
    EXPECT_TRUE(Stitcher::changed(QImage(), QImage()));
}

TEST(StitcherStaticColumns, ShareOfUnchangedRows) {
    // Column 5 keeps `same` rows within `near` steps and moves the others by `far`; every other column moves.
    auto pair = [](int rows, int same, int near, int far) {
        std::mt19937 rng(5);
        Signature prev = randomSignature(rows, rng, 20, 200), next = prev;
        for (int i = 0; i < rows; ++i) {
            for (int c = 0; c < 64; ++c)
                next[size_t(i)][size_t(c)] += 40;
            next[size_t(i)][5] = quint8(prev[size_t(i)][5] + (i < same ? near : far));
        }
        return std::pair{prev, next};
    };
    struct Case {
        int rows, same, near, far;
        bool isStatic;
    } cases[] = {
        {100, 92, 6, 7, true},  {100, 91, 6, 7, false}, {25, 23, 0, 50, true},
        {25, 22, 0, 50, false}, {100, 100, 6, 6, true}, {100, 0, 7, 7, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.rows << " rows, " << c.same << " within " << c.near);
        const auto [prev, next] = pair(c.rows, c.same, c.near, c.far);
        const auto flags = Stitcher::staticColumns(prev, next);
        EXPECT_EQ(flags[5], c.isStatic);
        EXPECT_FALSE(flags[4]);
    }
    std::mt19937 rng(6);
    const Signature prev = randomSignature(100, rng);
    for (bool flag : Stitcher::staticColumns(Signature(), prev))
        EXPECT_FALSE(flag);
    // A shorter next is not read past its end; its missing rows count as changed.
    const Signature half(prev.begin(), prev.begin() + 50);
    for (bool flag : Stitcher::staticColumns(prev, half))
        EXPECT_FALSE(flag);
}

TEST(StitcherNewRows, SizesShiftsAndTestedRows) {
    struct Case {
        int rows, shift;
        std::optional<int> expected;
    } cases[] = {
        {20, 3, std::nullopt}, // too few rows
        {21, 2, 2},            // the smallest frame, the smallest shift
        {21, 3, 3},
        {100, 1, std::nullopt}, // one row is never found
        {40, 24, 24},           // 8 rows can be tested
        {40, 25, 25},
        {40, 26, std::nullopt}, // 7 rows only
        {1400, 333, 333},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.rows << " rows, shift " << c.shift);
        std::mt19937 rng(unsigned(c.rows * 1000 + c.shift));
        const Signature prev = randomSignature(c.rows, rng);
        const auto found = Stitcher::newRows(prev, scrolled(prev, c.shift, rng));
        if (c.shift == 1)
            EXPECT_NE(found, 1);
        else
            EXPECT_EQ(found, c.expected);
    }
    std::mt19937 rng(8);
    const Signature prev = randomSignature(200, rng);
    EXPECT_EQ(Stitcher::newRows(prev, prev), 0);
    EXPECT_EQ(Stitcher::newRows(prev, Signature()), std::nullopt);
    EXPECT_EQ(Stitcher::newRows(prev, Signature(prev.begin(), prev.end() - 1)), std::nullopt);
}

TEST(StitcherNewRows, ChangedRowsBeforeAnyShift) {
    // `count` rows of 182 differ by `sum` steps each; fewer changed rows than 182 / 14 = 13 means nothing
    // scrolled, enough of them (but too few to test a shift) means the frames cannot be lined up.
    struct Case {
        int count, sum;
        std::optional<int> expected;
    } cases[] = {
        {12, 256, 0}, {13, 256, std::nullopt}, {13, 255, 0}, {30, 255, 0}, {30, 256, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.count << " rows with " << c.sum);
        std::mt19937 rng(9);
        const Signature prev = randomSignature(182, rng, 0, 200);
        Signature next = prev;
        for (int i = 0; i < c.count; ++i)
            for (int k = 0; k < c.sum; ++k)
                next[size_t(i * 4)][size_t(k % 64)] += 1;
        EXPECT_EQ(Stitcher::newRows(prev, next), c.expected);
    }
}

TEST(StitcherNewRows, RowAgreementTolerances) {
    // Shift 10 in 60 rows; the moved rows are disturbed in `columns` columns by `by` steps. Columns from
    // `moving` on stay put, so they are left out and 70 % of 20 listed columns is exactly 14.
    struct Case {
        int moving, columns, by;
        std::optional<int> expected;
    } cases[] = {
        {64, 64, 14, 10}, {64, 64, 15, std::nullopt}, {64, 19, 100, 10}, {64, 20, 100, std::nullopt},
        {20, 6, 100, 10}, {20, 7, 100, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.columns << " of " << c.moving << " columns off by " << c.by);
        std::mt19937 rng(10);
        const Signature prev = randomSignature(60, rng, 0, 140);
        Signature next = scrolled(prev, 10, rng, 0, 140);
        for (int r = 0; r < 60; ++r)
            for (int k = c.moving; k < 64; ++k)
                next[size_t(r)][size_t(k)] = prev[size_t(r)][size_t(k)];
        for (int r = 0; r < 50; ++r)
            for (int k = 0; k < c.columns; ++k)
                next[size_t(r)][size_t(k)] += quint8(c.by);
        EXPECT_EQ(Stitcher::newRows(prev, next), c.expected);
    }
}

// Lines of text that look alike (a terminal of numbered lines): each line is 10 rows of the same glyph
// pattern with its own number in a few columns.
Signature numberedLines(int first, int count) {
    std::mt19937 rng(5);
    const Signature glyphs = randomSignature(10, rng, 40, 200);
    Signature rows;
    for (int line = first; line < first + count; ++line)
        for (int r = 0; r < 10; ++r) {
            std::mt19937 digits(unsigned(line + 1000));
            SignatureRow row = glyphs[size_t(r)];
            for (int k = 50; k < 54; ++k)
                row[size_t(k)] = quint8(digits() % 200 + 20);
            rows.push_back(row);
        }
    return rows;
}

TEST(StitcherNewRows, LinesThatLookAlikeAreLinedUpByAllTheirRows) {
    const Signature prev = numberedLines(0, 60);
    // Down three lines: the one-line shift agrees in most columns too, but not in the numbers.
    EXPECT_EQ(Stitcher::newRows(prev, numberedLines(3, 60)), 30);
    // Back up two lines: nothing below is new, whatever downward shift half fits.
    EXPECT_EQ(Stitcher::newRows(prev, numberedLines(-2, 60)), std::nullopt);
}

TEST(StitcherNewRows, MatchRatios) {
    // prev repeats every 25 rows and next is prev moved up by 10, so shifts 10, 35, 60 and 85 all fit; the
    // listed rows of next are replaced by noise to set each shift's ratio. Every row is changed, so the
    // tested rows are the even ones below rows - shift.
    struct Case {
        const char* name;
        int rows;
        std::vector<int> noisy;
        std::optional<int> expected;
    } cases[] = {
        // Every fitting shift lines up every sample: the smallest is kept.
        {"alike shifts keep the smaller", 100, {}, 10},
        // Noise low in next spoils shift 10's overlap but lies below the overlaps of 35, 60 and 85.
        {"the overlap that agrees best wins", 100, {66, 70, 74, 78, 82, 86}, 35},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::mt19937 rng(11);
        const Signature period = randomSignature(25, rng);
        Signature prev, next;
        for (int r = 0; r < c.rows; ++r) {
            prev.push_back(period[size_t(r % 25)]);
            next.push_back(period[size_t((r + 10) % 25)]);
        }
        for (int r : c.noisy)
            next[size_t(r)] = randomRow(rng);
        EXPECT_EQ(Stitcher::newRows(prev, next), c.expected);
    }

    // A lone shift of 10: in 60 rows 25 rows are tested, in 90 rows 40.
    struct Lone {
        int rows, noisy;
        std::optional<int> expected;
    } lone[] = {
        {60, 7, std::nullopt}, // 18 of 25 is exactly 0.72
        {60, 6, 10},
        {90, 11, 10}, // 29 of 40 is 0.725
        {90, 12, std::nullopt},
    };
    for (const auto& c : lone) {
        SCOPED_TRACE(testing::Message() << c.rows << " rows, " << c.noisy << " noisy");
        std::mt19937 rng(12);
        const Signature prev = randomSignature(c.rows, rng);
        Signature next = scrolled(prev, 10, rng);
        for (int i = 0; i < c.noisy; ++i)
            next[size_t(i * 2)] = randomRow(rng);
        EXPECT_EQ(Stitcher::newRows(prev, next), c.expected);
    }
}

TEST(StitcherStitch, BandsFromTheBottomOfEachFrame) {
    // Each pixel names its frame and row, so every row of the result can be traced to its source.
    auto frame = [](int index) {
        const int width = 80, height = 100;
        QImage img(width, height, QImage::Format_RGB32);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                img.setPixel(x, y, qRgb(index * 60, y % 256, y / 256));
        return img;
    };
    auto source = [](QRgb p) {
        return qAlpha(p) == 0 ? std::pair{-1, -1} : std::pair{qRed(p) / 60, qGreen(p) + qBlue(p) * 256};
    };
    struct Band {
        int frame, from, count; // frame -1: transparent
    };
    struct Case {
        const char* name;
        int frames;
        QList<int> offsets;
        std::vector<Band> bands;
    } cases[] = {
        {"two bands", 3, {30, 25}, {{0, 0, 100}, {1, 70, 30}, {2, 75, 25}}},
        {"nothing moved", 2, {0}, {{0, 0, 100}}},
        {"offsets without frames are ignored", 2, {30, 25, 99}, {{0, 0, 100}, {1, 70, 30}}},
        {"frames without offsets are unused", 3, {30}, {{0, 0, 100}, {1, 70, 30}}},
        {"a negative offset adds nothing", 3, {-40, 25}, {{0, 0, 100}, {2, 75, 25}}},
        {"a band taller than a frame", 2, {120}, {{0, 0, 100}, {-1, 0, 20}, {1, 0, 100}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QList<QImage> frames;
        for (int i = 0; i < c.frames; ++i)
            frames.append(frame(i));
        const QImage out = Stitcher::stitch(frames, c.offsets);
        int y = 0;
        for (const Band& band : c.bands)
            for (int k = 0; k < band.count; ++k, ++y) {
                const auto expected = band.frame < 0 ? std::pair{-1, -1} : std::pair{band.frame, band.from + k};
                ASSERT_EQ(source(out.pixel(0, y)), expected) << "row " << y;
                ASSERT_EQ(source(out.pixel(79, y)), expected) << "row " << y;
            }
        EXPECT_EQ(out.size(), QSize(80, y));
    }

    // Other pixel formats and sizes: converted and scaled to the first frame.
    QImage small(40, 50, QImage::Format_RGB888);
    small.fill(qRgb(10, 200, 30));
    const QImage mixed = Stitcher::stitch({frame(0).convertToFormat(QImage::Format_RGB888), small}, {30});
    ASSERT_EQ(mixed.size(), QSize(80, 130));
    EXPECT_EQ(source(mixed.pixel(5, 99)), std::pair(0, 99));
    EXPECT_EQ(mixed.pixel(5, 100), qRgb(10, 200, 30));
    EXPECT_EQ(mixed.pixel(79, 129), qRgb(10, 200, 30));
}

TEST(StitcherStitch, FailsInsteadOfMakingAnImpossiblePicture) {
    QImage frame(100, 100, QImage::Format_RGB32);
    frame.fill(Qt::white);
    QImage wide(4000, 1000, QImage::Format_RGB32);
    wide.fill(Qt::white);
    expectCantStitch({}, {});
    expectCantStitch({}, {10});
    expectCantStitch({QImage(), frame}, {10});
    expectCantStitch({frame, frame}, {2'000'000}); // more rows than can be read back
    expectCantStitch({frame, frame, frame}, {INT_MAX, INT_MAX});
    expectCantStitch({wide, wide}, {70'000}); // more than 1 GiB
    EXPECT_EQ(Stitcher::stitch({frame}, {}).size(), QSize(100, 100));
}

namespace {

// A long page of text-like lines: words are dark runs whose grey changes from row to row as glyph rows
// do, with an occasional picture block. Deterministic for a given seed.
QImage makePage(int width, int height, unsigned seed) {
    std::mt19937 rng(seed);
    QImage page(width, height, QImage::Format_RGB32);
    page.fill(Qt::white);
    int y = 8;
    while (y < height) {
        if (rng() % 12 == 0) {
            const int rows = 30 + int(rng() % 60), left = 20 + int(rng() % 100), right = width - int(rng() % 100);
            for (int k = 0; k < rows && y + k < height; ++k) {
                const QRgb c = qRgb(int(rng() % 256), int(rng() % 256), int(rng() % 256));
                for (int x = left; x < right; ++x)
                    page.setPixel(x, y + k, x < (left + right) / 2 ? c : qRgb(qBlue(c), qRed(c), qGreen(c)));
            }
            y += rows + 10;
            continue;
        }
        const int lineRows = 8 + int(rng() % 9);
        int x = 16 + int(rng() % 24);
        while (x < width - 40) {
            const int wordWidth = std::min(width - 40 - x, 12 + int(rng() % 70));
            for (int k = 0; k < lineRows && y + k < height; ++k) {
                const int grey = int(rng() % 170);
                for (int i = 0; i < wordWidth; ++i)
                    page.setPixel(x + i, y + k, qRgb(grey, grey, std::min(255, grey + 40)));
            }
            x += wordWidth + 6 + int(rng() % 14);
        }
        y += lineRows + 4 + int(rng() % 9);
    }
    return page;
}

// A log as a terminal shows it: lines 20 rows apart that share all their text but for the batch number.
QImage logPage(int width, int lines, int first = 123, int step = 1) {
    QImage page(width, 8 + 20 * lines, QImage::Format_RGB32);
    page.fill(Qt::white);
    QPainter p(&page);
    QFont font(QStringLiteral("DejaVu Sans Mono"));
    font.setPixelSize(13);
    p.setFont(font);
    p.setPen(Qt::black);
    for (int n = 0; n < lines; ++n)
        p.drawText(8, 22 + 20 * n,
                   QStringLiteral("2026-12-08 07:41:03.512 INFO worker[3] processed batch %1 ============")
                       .arg(first + n * step, 6, 10, QLatin1Char('0')));
    return page;
}

// What the window shows when the page is scrolled to `top`: a fixed header and a fixed sidebar around the
// scrolled part.
QImage windowAt(const QImage& page, int top, QSize size, const QImage& header, const QImage& sidebar) {
    QImage frame(size, QImage::Format_RGB32);
    QPainter p(&frame);
    p.drawImage(sidebar.width(), header.height(), page, 0, top, size.width() - sidebar.width(),
                size.height() - header.height());
    p.drawImage(0, 0, header);
    p.drawImage(0, header.height(), sidebar);
    return frame;
}

} // namespace

TEST(StitcherPage, ScrolledPageIsStitchedBackExactly) {
    struct Case {
        const char* name;
        QSize window;
        int header, sidebar;
        bool log = false; // lines alike but for a few digits, mostly scrolled by whole lines
    } cases[] = {
        {"plain", {640, 400}, 0, 0},
        {"fixed sidebar", {640, 400}, 0, 140},
        {"header and sidebar", {800, 360}, 40, 200},
        {"narrow", {200, 300}, 0, 0},
        // over a million pixels: the two frames are compared on two threads
        {"large", {1600, 700}, 30, 0},
        {"log", {640, 400}, 0, 0, true},
        {"log under a header", {700, 420}, 30, 0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<int> scrolls = c.log ? std::vector<int>{20, 100, 40, 3, 17, 60, 2, 200}
                                               : std::vector<int>{2, 37, 120, 5, 213, 64, 250, 3, 180};
        std::mt19937 rng(15);
        const int content = c.window.width() - c.sidebar;
        const QImage header = noise(c.window.width(), c.header, rng);
        const QImage sidebar = noise(c.sidebar, c.window.height() - c.header, rng);
        const QImage page = c.log ? logPage(content, 100) : makePage(content, 2000, 16);

        QList<QImage> frames;
        int top = 0;
        frames.append(windowAt(page, top, c.window, header, sidebar));
        for (int scroll : scrolls) {
            top += scroll;
            frames.append(windowAt(page, top, c.window, header, sidebar));
        }

        QList<int> offsets;
        for (qsizetype i = 1; i < frames.size(); ++i)
            EXPECT_TRUE(Stitcher::changed(frames[i - 1], frames[i])) << "frame " << i;
        for (qsizetype i = 1; i < frames.size(); ++i) {
            const auto found = Stitcher::newRows(frames[i - 1], frames[i]);
            ASSERT_EQ(found, scrolls[size_t(i - 1)]) << "frame " << i;
            EXPECT_EQ(Stitcher::newRows(frames[i], frames[i - 1]), std::nullopt) << "scrolled back to frame " << i;
            offsets.append(*found);
        }
        EXPECT_FALSE(Stitcher::changed(frames[0], frames[0]));
        if (c.log) {
            QImage caret = frames[0].copy();
            QPainter(&caret).fillRect(200, 150, 8, 16, Qt::black);
            EXPECT_FALSE(Stitcher::changed(frames[0], caret)) << "a caret blinked";
            // The same lines written over with other numbers: no shift shows them, none is made up. One line over
            // and over, moved by 3 rows, also fits moved by 23, 43...: how far it went cannot be told.
            EXPECT_EQ(Stitcher::newRows(frames[0], windowAt(logPage(content, 100, 500), 0, c.window, header, sidebar)),
                      std::nullopt);
            const QImage same = logPage(content, 100, 500, 0);
            EXPECT_EQ(Stitcher::newRows(windowAt(same, 0, c.window, header, sidebar),
                                        windowAt(same, 3, c.window, header, sidebar)),
                      std::nullopt);
        }

        const QImage out = Stitcher::stitch(frames, offsets);
        const int pageRows = top + c.window.height() - c.header;
        ASSERT_EQ(out.size(), QSize(c.window.width(), c.header + pageRows));
        EXPECT_EQ(out.copy(0, 0, c.window.width(), c.header).convertToFormat(QImage::Format_RGB32), header);
        EXPECT_EQ(out.copy(c.sidebar, c.header, content, pageRows).convertToFormat(QImage::Format_RGB32),
                  page.copy(0, 0, content, pageRows));
    }

    // Pictures of another size than the last cannot be lined up.
    const QImage a = makePage(100, 60, 17);
    EXPECT_EQ(Stitcher::newRows(a, a.copy(0, 0, 99, 60)), std::nullopt);
    EXPECT_EQ(Stitcher::newRows(a, a.copy(0, 0, 100, 59)), std::nullopt);
    EXPECT_EQ(Stitcher::newRows(QImage(), QImage()), std::nullopt);
}

// A scrollbar down the window's right edge: its arrows and thumb belong to the window, not the page. They are
// drawn once, with the first frame; the strips joined below carry only the track beside the page. A page of
// wide bands of one colour, scrolled a few rows at a time, looks still in most of its columns too: it must
// still be joined as it is. So must a listing under a title bar, scrolled by whole lines, whose first columns
// show the same glyphs on every line: they match in place as well as moved, and are the page.
TEST(StitcherPage, ScrollbarArrowsAreNotRepeatedOnEveryStrip) {
    const QSize window(400, 300);
    const int bar = 14, pageWidth = window.width() - bar;
    QImage bands(pageWidth, 1400, QImage::Format_RGB32);
    for (int y = 0; y < bands.height(); ++y)
        for (int x = 0; x < pageWidth; ++x)
            bands.setPixel(x, y, qRgb(90 + y / 70 * 8, 80, 70 + (y / 70 % 2) * 60));
    QImage listing = makePage(pageWidth, 1400, 18);
    for (int y = 0; y < listing.height(); ++y)
        for (int x = 0; x < 60; ++x)
            listing.setPixel(x, y, (y % 15 < 11 && x % 7 < 2 + y % 3) ? qRgb(20, 20, 20) : qRgb(255, 255, 255));
    const QList<int> rowScrolls{30, 30, 45, 5, 5, 5, 30, 8, 28, 31, 30, 4, 6}, lineScrolls{15, 30, 45, 15, 30, 60, 15};
    const QRgb track = qRgb(235, 235, 235), arrow = qRgb(80, 80, 80), thumb = qRgb(160, 160, 160);
    const QImage text = makePage(pageWidth, 1400, 16);
    for (const QImage* page : std::initializer_list<const QImage*>{&text, &bands, &listing}) {
        SCOPED_TRACE(page == &text ? "text" : page == &bands ? "bands" : "listing under a title bar");
        const int title = page == &listing ? 20 : 0;
        auto frameAt = [&](int top) {
            QImage frame(window, QImage::Format_RGB32);
            QPainter p(&frame);
            p.drawImage(0, title, *page, 0, top, pageWidth, window.height() - title);
            p.fillRect(0, 0, window.width(), title, qRgb(40, 60, 120));
            p.fillRect(pageWidth, title, bar, window.height() - title, track);
            p.fillRect(pageWidth, title, bar, bar, arrow);
            p.fillRect(pageWidth, window.height() - bar, bar, bar, arrow);
            p.fillRect(pageWidth + 2, title + bar + top * (window.height() - title - 2 * bar) / page->height(), bar - 4,
                       60, thumb);
            return frame;
        };
        QList<QImage> frames{frameAt(0)};
        QList<int> offsets;
        int top = 0;
        for (int scroll : title ? lineScrolls : rowScrolls) {
            top += scroll;
            frames.append(frameAt(top));
            offsets.append(scroll);
        }
        const QImage out = Stitcher::stitch(frames, offsets).convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(out.size(), QSize(window.width(), window.height() + top));
        EXPECT_EQ(out.copy(0, title, pageWidth, out.height() - title),
                  page->copy(0, 0, pageWidth, out.height() - title))
            << "the page itself is joined whole";
        EXPECT_EQ(out.copy(0, 0, window.width(), window.height()), frames.front()) << "the first frame as it was";
        int arrows = 0, notTrack = 0;
        for (int y = window.height(); y < out.height(); ++y)
            for (int x = pageWidth; x < window.width(); ++x) {
                arrows += out.pixel(x, y) == arrow;
                notTrack += out.pixel(x, y) != track;
            }
        EXPECT_EQ(arrows, 0) << "the down arrow came back on the joined strips";
        EXPECT_EQ(notTrack, 0);
    }
}

// A window's own lines that change while the page moves (a pager's status line, an editor's mode line over a still
// cursor, a sticky header's title) come once: the header as the first frame showed it, the bottom as the last does.
TEST(StitcherPage, RowsThatStandStillAtTheWindowsEdgesStayOutOfTheJoinedStrips) {
    const int lineRows = 20, padding = 2, width = 640, view = 18 * lineRows;
    struct Case {
        const char* name;
        int header;      // rows of a sticky header on top, its title changing with the page
        int statusLines; // lines of the window's own under the page: a status line, a mode line
        bool cursor;     // a block cursor on the last line of text, standing still while the page moves
        std::vector<int> scrolls;
    } cases[] = {
        {"pager", 0, 1, false, {20, 20, 40, 20, 100, 20, 20, 60}},
        {"editor", 0, 2, true, {20, 20, 20, 40, 20, 80}},
        {"sticky header over a pager", 40, 1, false, {20, 40, 20, 60, 20}},
        {"no line of its own", 0, 0, false, {20, 40, 60}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const int status = c.statusLines * lineRows + padding;
        const QSize window(width, c.header + view + status);
        // Lines alike but for their numbers on a terminal's grid: line n in rows [20 n, 20 n + 20).
        const QImage page = logPage(width, 120).copy(0, 8, width, 120 * lineRows);
        QFont font(QStringLiteral("DejaVu Sans Mono"));
        font.setPixelSize(13);
        auto frameAt = [&](int top, int step) {
            QImage frame(window, QImage::Format_RGB32);
            frame.fill(Qt::white);
            QPainter p(&frame);
            p.setFont(font);
            p.drawImage(0, c.header, page, 0, top, window.width(), view);
            if (c.header > 0) {
                p.fillRect(0, 0, window.width(), c.header, qRgb(40, 60, 120));
                p.setPen(Qt::white);
                p.drawText(10, 26, QStringLiteral("Section %1").arg(top / 100 + 1));
            }
            if (c.cursor)
                p.fillRect(8, c.header + view - lineRows, 8, lineRows, Qt::black);
            for (int k = 0; k < c.statusLines; ++k) {
                const int y = c.header + view + k * lineRows;
                const QString text =
                    QStringLiteral("line %1 of %2 (press h)").arg(top / lineRows + 1).arg(120 - step + k);
                p.fillRect(0, y, p.fontMetrics().horizontalAdvance(text) + 16, lineRows, Qt::black);
                p.setPen(Qt::white);
                p.drawText(8, y + 15, text);
            }
            return frame;
        };
        QList<QImage> frames{frameAt(0, 0)};
        QList<int> offsets;
        int top = 0;
        for (int scroll : c.scrolls) {
            top += scroll;
            frames.append(frameAt(top, int(frames.size())));
            const std::optional<int> found = Stitcher::newRows(frames[frames.size() - 2], frames.back());
            ASSERT_EQ(found, scroll) << "frame " << frames.size() - 1;
            offsets.append(*found);
        }
        EXPECT_GE(Stitcher::stillBottomRows(frames, offsets), status);
        const QImage out = Stitcher::stitchPage(frames, offsets).convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(out.size(), QSize(window.width(), window.height() + top));
        EXPECT_EQ(out.copy(0, 0, window.width(), c.header), frames.front().copy(0, 0, window.width(), c.header));
        const int exact = top + view - (c.cursor ? lineRows : 0);
        EXPECT_TRUE(out.copy(0, c.header, width, exact) == page.copy(0, 0, width, exact)) << "page rows wrong";
        const int tail = out.height() - c.header - exact;
        EXPECT_EQ(out.copy(0, c.header + exact, width, tail),
                  frames.back().copy(0, window.height() - tail, width, tail))
            << "the window's own lines end the page once, as the last frame shows them";
    }
}
