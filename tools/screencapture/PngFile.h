#pragma once
// Writes captured pixels as PNG files, fast, and never over an existing file.

#include "platform/x11/XGrab.h"

#include <functional>
#include <string>

namespace PngFile {

// Writes 32-bit pixels (blue, green, red, unused) as an 8-bit RGB PNG, or with alpha (premultiplied
// blue, green, red, alpha) as RGBA, to the file descriptor. False with the reason when it fails.
// awaitRows, when given, is the encoder's wait for pixels that are still arriving (see PngEncoder::Source).
bool encode(const XGrab::Pixels& pixels, int fd, std::string& error,
            const std::function<bool(int rows)>& awaitRows = {});

// The name with " n" before the extension: "a/b.png", 3 gives "a/b 3.png". n < 2 gives the name.
std::string numbered(const std::string& path, int n);

// Writes the PNG to a file without a name beside target and, once it is whole and on the disk, gives it the name
// target, or " 2", " 3", ... when that is taken, without ever replacing a file. Returns the path written in written.
bool writeNew(const XGrab::Pixels& pixels, const std::string& target, std::string& written, std::string& error,
              const std::function<bool(int rows)>& awaitRows = {});

} // namespace PngFile
