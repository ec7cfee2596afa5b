#pragma once
// The PNG encoder under both of our writers, the app's and the screenshot tool's: plain C++ and zlib, so that
// the tool can use it without a toolkit. A screenshot is written while the user waits, so the rows are
// compressed in horizontal strips on all cores and the strips are joined into one zlib stream.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace PngEncoder {

// How the pixels lie in memory: 32-bit little-endian words, as QImage and the X server keep them, or four 16-bit
// samples in the machine's order, as QImage's 64-bit formats keep them (written as a 16-bit PNG).
enum class Layout {
    Opaque,          // blue, green, red, unused: written as RGB
    Straight,        // blue, green, red, alpha: written as RGBA
    Premultiplied,   // blue, green, red, alpha, colour premultiplied by alpha: written as straight RGBA
    Opaque64,        // red, green, blue, unused: written as 16-bit RGB
    Straight64,      // red, green, blue, alpha: written as 16-bit RGBA
    Premultiplied64, // red, green, blue, alpha, colour premultiplied: written as straight 16-bit RGBA
};

struct Source {
    const uint8_t* data = nullptr;
    int width = 0;
    int height = 0;
    ptrdiff_t stride = 0; // bytes from one row to the next
    Layout layout = Layout::Opaque;
    // For pixels still arriving: called (from the encoding threads) before rows above `rows` are read, it
    // returns once they are there, or false when they never will be, which fails the encoding.
    std::function<bool(int rows)> awaitRows;
    // The colour profile the pixels are in, written as the file's iCCP chunk; none for sRGB.
    std::vector<uint8_t> iccProfile;
};

// The finished file as pieces to be written in order; they live as long as this object.
class Encoded {
public:
    struct Piece {
        const uint8_t* data;
        size_t size;
    };
    const std::vector<Piece>& pieces() const { return parts; }
    size_t size() const;
    std::vector<uint8_t> joined() const;

private:
    friend bool encode(const Source&, Encoded&, std::string&, int);
    std::vector<std::unique_ptr<uint8_t[]>> buffers;
    std::vector<Piece> parts;
};

// Encodes the pixels as a PNG of 8 bits a channel (16 for the 64-bit layouts). strips > 0 sets how many strips the rows
// are cut into (at most one per row); 0 chooses by size and cores. False, with the reason, for an empty picture or when
// memory runs out.
bool encode(const Source& source, Encoded& out, std::string& error, int strips = 0);

} // namespace PngEncoder
