#include "imaging/PngEncoder.h"

#include <QImage>
#include <QRandomGenerator>
#include <gtest/gtest.h>
#include <zlib.h>

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

namespace {

uint32_t big32(const uint8_t* at) {
    return uint32_t(at[0]) << 24 | uint32_t(at[1]) << 16 | uint32_t(at[2]) << 8 | at[3];
}

// Walks the chunks, checking every CRC, and inflates the joined image data through zlib, which checks the
// stream's own checksum. Returns the inflated lines, or says what is wrong in why.
std::vector<uint8_t> imageData(const std::vector<uint8_t>& png, std::string& why) {
    std::vector<uint8_t> idat;
    size_t at = 8;
    bool ended = false;
    while (at + 12 <= png.size() && !ended) {
        const uint32_t length = big32(&png[at]);
        if (at + 12 + length > png.size()) {
            why = "a chunk runs past the end";
            return {};
        }
        const uint8_t* type = &png[at + 4];
        if (crc32(0, type, 4 + length) != big32(type + 4 + length)) {
            why = "bad CRC on " + std::string(reinterpret_cast<const char*>(type), 4);
            return {};
        }
        if (std::memcmp(type, "IDAT", 4) == 0)
            idat.insert(idat.end(), type + 4, type + 4 + length);
        ended = std::memcmp(type, "IEND", 4) == 0;
        at += 12 + length;
    }
    if (!ended || at != png.size()) {
        why = "no IEND at the end";
        return {};
    }
    std::vector<uint8_t> lines(1 << 16);
    z_stream z{};
    inflateInit(&z);
    z.next_in = idat.data();
    z.avail_in = uInt(idat.size());
    int status = Z_OK;
    while (status == Z_OK) {
        if (z.total_out == lines.size())
            lines.resize(lines.size() * 2);
        z.next_out = lines.data() + z.total_out;
        z.avail_out = uInt(lines.size() - z.total_out);
        status = inflate(&z, Z_NO_FLUSH);
    }
    lines.resize(z.total_out);
    if (status != Z_STREAM_END || z.avail_in != 0)
        why = std::string("the image data does not inflate: ") + (z.msg ? z.msg : "trailing bytes");
    inflateEnd(&z);
    return lines;
}

QImage noise(int width, int height, QImage::Format format, quint32 seed) {
    QImage image(width, height, format);
    QRandomGenerator random(seed);
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            // Flat runs beside noise, so strips hold both matches and literals.
            row[x] = (x / 7 + y / 5) % 3 == 0 ? qRgba(20, 40, 60, 255) : random.generate();
    }
    return image;
}

PngEncoder::Source sourceOf(const QImage& image, PngEncoder::Layout layout) {
    PngEncoder::Source s;
    s.data = image.constBits();
    s.width = image.width();
    s.height = image.height();
    s.stride = image.bytesPerLine();
    s.layout = layout;
    return s;
}

} // namespace

TEST(PngEncoder, EveryLayoutSizeAndStripCountDecodesToTheSamePixels) {
    const QSize sizes[] = {{1, 1}, {1003, 1}, {1, 37}, {301, 131}, {2000, 70}};
    const int stripCounts[] = {0, 1, 2, 7, 500}; // 500: more strips than rows
    const struct {
        PngEncoder::Layout layout;
        QImage::Format format;
    } layouts[] = {{PngEncoder::Layout::Opaque, QImage::Format_RGB32},
                   {PngEncoder::Layout::Straight, QImage::Format_ARGB32},
                   {PngEncoder::Layout::Premultiplied, QImage::Format_ARGB32_Premultiplied},
                   {PngEncoder::Layout::Opaque64, QImage::Format_RGBX64},
                   {PngEncoder::Layout::Straight64, QImage::Format_RGBA64}};
    quint32 seed = 1;
    for (const QSize& size : sizes)
        for (const auto& l : layouts) {
            // Cut out of a wider picture, so rows are further apart than they are long.
            const QImage wide = noise(size.width() + 3, size.height(), QImage::Format_ARGB32, ++seed);
            QImage picture = wide.convertToFormat(l.format);
            if (l.layout == PngEncoder::Layout::Opaque)
                picture = picture.convertToFormat(QImage::Format_RGB32);
            const bool deep = picture.depth() == 64;
            // Low bytes unlike the high ones, so that a sample written in the wrong byte order shows.
            for (int y = 0; deep && y < picture.height(); ++y) {
                auto* row = reinterpret_cast<quint16*>(picture.scanLine(y));
                for (int i = 0; i < picture.width() * 4; ++i)
                    if (i % 4 != 3 || picture.hasAlphaChannel())
                        row[i] = quint16((row[i] & 0xff00) | ((i * 7 + y) & 0xff));
            }
            PngEncoder::Source source = sourceOf(picture, l.layout);
            source.width = size.width();
            const QImage expected = picture.copy(0, 0, size.width(), size.height());
            for (int strips : stripCounts) {
                // The strips are cut the same way whatever the layout: two counts are enough for the deep ones.
                if (deep && strips != 0 && strips != 7)
                    continue;
                const std::string where = std::to_string(size.width()) + "x" + std::to_string(size.height()) +
                                          " layout " + std::to_string(int(l.layout)) + ", " + std::to_string(strips) +
                                          " strips";
                PngEncoder::Encoded encoded;
                std::string error;
                ASSERT_TRUE(PngEncoder::encode(source, encoded, error, strips)) << where << ": " << error;
                const std::vector<uint8_t> png = encoded.joined();
                std::string why;
                const std::vector<uint8_t> lines = imageData(png, why);
                EXPECT_EQ(why, "") << where;
                const bool opaque = l.layout == PngEncoder::Layout::Opaque || l.layout == PngEncoder::Layout::Opaque64;
                const size_t sampleBytes = deep ? 2 : 1, channels = opaque ? 3 : 4;
                EXPECT_EQ(lines.size(), size_t(size.height()) * (size_t(size.width()) * channels * sampleBytes + 1))
                    << where;

                const QImage back = QImage::fromData(png.data(), int(png.size()));
                ASSERT_EQ(back.size(), size) << where;
                EXPECT_EQ(back.hasAlphaChannel(), !opaque) << where;
                if (deep) {
                    const QImage::Format straight = opaque ? QImage::Format_RGBX64 : QImage::Format_RGBA64;
                    EXPECT_EQ(back.convertToFormat(straight), expected.convertToFormat(straight)) << where;
                    continue;
                }
                if (l.layout != PngEncoder::Layout::Premultiplied) {
                    EXPECT_EQ(back.convertToFormat(QImage::Format_ARGB32),
                              expected.convertToFormat(QImage::Format_ARGB32))
                        << where;
                    continue;
                }
                // Premultiplied colour comes back straight: alpha exactly, colour as near as its alpha allows.
                const QImage straight = back.convertToFormat(QImage::Format_ARGB32);
                int wrong = 0;
                for (int y = 0; y < size.height(); ++y)
                    for (int x = 0; x < size.width(); ++x) {
                        const QRgb got = straight.pixel(x, y), was = expected.pixel(x, y);
                        const int a = qAlpha(was);
                        const int slack = a == 0 ? 255 : 255 / a + 1;
                        if (qAlpha(got) != a || std::abs(qRed(got) * a / 255 - qRed(was)) > slack ||
                            std::abs(qGreen(got) * a / 255 - qGreen(was)) > slack ||
                            std::abs(qBlue(got) * a / 255 - qBlue(was)) > slack)
                            ++wrong;
                    }
                EXPECT_EQ(wrong, 0) << where;
            }
        }
}

TEST(PngEncoder, RowsArrivingWhileItRunsAreReadOnlyOnceTheyAreThere) {
    const QImage picture = noise(640, 480, QImage::Format_RGB32, 99);
    // The rows land one band at a time into memory that holds rubbish until then.
    QImage landing(picture.size(), QImage::Format_RGB32);
    landing.fill(qRgb(255, 0, 255));
    std::mutex mutex;
    std::condition_variable changed;
    int arrived = 0;
    PngEncoder::Source source = sourceOf(landing, PngEncoder::Layout::Opaque);
    source.awaitRows = [&](int rows) {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return arrived >= rows; });
        return true;
    };
    std::thread server([&] {
        for (int y = 0; y < picture.height(); y += 50) {
            const int rows = std::min(50, picture.height() - y);
            std::this_thread::yield();
            std::lock_guard<std::mutex> lock(mutex);
            for (int i = 0; i < rows; ++i)
                std::memcpy(landing.scanLine(y + i), picture.constScanLine(y + i), size_t(picture.bytesPerLine()));
            arrived = y + rows;
            changed.notify_all();
        }
    });
    PngEncoder::Encoded encoded;
    std::string error;
    const bool ok = PngEncoder::encode(source, encoded, error, 9);
    server.join();
    ASSERT_TRUE(ok) << error;
    const std::vector<uint8_t> png = encoded.joined();
    EXPECT_EQ(QImage::fromData(png.data(), int(png.size())).convertToFormat(QImage::Format_RGB32), picture);

    // Rows that never come fail the picture, and nothing waits for ever.
    source.awaitRows = [](int rows) { return rows <= 100; };
    EXPECT_FALSE(PngEncoder::encode(source, encoded, error, 9));
    EXPECT_EQ(error, "the pixels could not be read");
    source.data = nullptr;
    EXPECT_FALSE(PngEncoder::encode(source, encoded, error));
    EXPECT_EQ(error, "nothing to write");
}
