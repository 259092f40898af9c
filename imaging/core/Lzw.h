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

} // namespace ImageCore
