// SPDX-License-Identifier: MIT

#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// TIFF's LZW coding of one strip (Compression 5) with horizontal differencing (Predictor 2),
// the differences taken on the way in so that the rows are read once and never copied:
// plain C++.
namespace ImageCore {

// The layout of the rows handed to encodeLzwStrip.
struct LzwLayout
{
    std::size_t rowBytes = 0; // bytes of one row, rows packed without gaps
    int samples = 3; // samples per pixel, interleaved
    int sampleBytes = 1; // 1, or 2 for 16-bit samples held in host order
    bool bigEndian = false; // the file's byte order, in which 16-bit differences are stored
};

// The coder's tables, kept from strip to strip so that they are made once; start with an
// empty one and leave its insides to encodeLzwStrip.
struct LzwTables
{
    std::vector<std::uint32_t> strings;
    std::vector<std::uint16_t> pairs;
    std::vector<std::uint16_t> used;
    std::size_t usedCount = 0;
};

// Replaces `out` with the coded strip of `rowCount` rows at `rows`: a Clear code first, codes
// of 9 to 12 bits, most significant bit first, widened one code early as TIFF readers expect,
// a Clear before the table would outgrow 12 bits, End of Information last. Throws
// std::bad_alloc.
void encodeLzwStrip(const std::uint8_t* rows, std::size_t rowCount, const LzwLayout& layout,
    LzwTables& tables, std::vector<std::uint8_t>& out);

// Decodes one strip coded as TIFF writers have since libtiff 5 (codes most significant bit
// first, a Clear code first: a strip whose first byte is 0x80) into `out`, at most
// `capacity` bytes; a strip that codes more is cut there, as libtiff cuts it. `in` must have
// lzwInputSlack readable bytes after its `size`, and `out` must be readable to `capacity`
// (bytes past the result may be overwritten). Gives the bytes made, or -1 for a code that
// no table holds. Predictor differences are left in place.
constexpr std::size_t lzwInputSlack = 16;
long decodeLzwStrip(
    const std::uint8_t* in, std::size_t size, std::uint8_t* out, std::size_t capacity);

} // namespace ImageCore
