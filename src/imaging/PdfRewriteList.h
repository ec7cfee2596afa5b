#pragma once
// The list of pages the program hands to pictolarium-pdfwrite, and the writer's exit codes. Plain C++:
// the writer links no toolkit.
//
// The list file is a ListHeader, then per page an Entry followed by its colour bytes and its mask bytes, then per
// secret its size in bytes (64 bits) and its UTF-8 bytes.
//
// The writer's other use, "pictolarium-pdfwrite --strings SOURCE TARGET", writes the words the document shows
// besides its pages (every text string of its objects, the text of its XMP metadata) to TARGET, each as UTF-8 ended by
// a zero byte. An attached PDF it could not read whole adds `unreadMark` (a control byte, which no word holds).

#include <cstdint>

namespace PdfRewriteList {

constexpr char unreadMark[] = "\x01";

struct ListHeader {
    std::uint64_t magic = 0;
    std::uint64_t count = 0;
    // Strings taken out of the words the document holds besides its pages, wherever they occur there. A list of
    // secrets and no page changes only those words.
    std::uint64_t secrets = 0;
};

struct Entry {
    // Zero-based.
    std::int64_t index = 0;
    std::int64_t width = 0;
    std::int64_t height = 0;
    double pointsWidth = 0;
    double pointsHeight = 0;
    std::int64_t rgbSize = 0;
    std::int64_t maskSize = 0;
    // 1: the colour bytes are a PNG file's image data, each row led by its filter byte, not plain samples.
    std::int64_t pngRows = 0;
    // 1: the picture hides something the page showed, so whatever else on the page could still show it goes.
    std::int64_t redacted = 0;
};

constexpr std::uint64_t listMagic = 0x3454494445444950ULL; // "PIDEDIT4"
// More pages than any document we are asked to change at once, and larger than any page we write.
constexpr std::uint64_t mostPages = 100'000;
constexpr std::int64_t largestSide = 1 << 16;
constexpr std::uint64_t mostSecrets = 100'000;
constexpr std::uint64_t longestSecret = 1 << 16;
// No document we could rewrite within the limits is larger than this.
constexpr std::int64_t largestFile = std::int64_t(1) << 30;
// What the writer may allocate and how much processor time it may take; the program also stops waiting for it
// after its own time limit.
constexpr std::int64_t memoryLimit = std::int64_t(1536) << 20;
constexpr int cpuSeconds = 11;

enum Exit {
    Written = 0,
    Unreadable = 2,
    TooLarge = 3,
    NoPage = 4,
    NotRegular = 5,
    BadList = 6,
    Empty = 7,
    WriteFailed = 8,
    PasswordNeeded = 9,
    NoPermission = 10,
    Gone = 11,
};

} // namespace PdfRewriteList
