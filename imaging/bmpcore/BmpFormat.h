// SPDX-License-Identifier: MIT

#pragma once

#include <bit>
#include <cstdint>

// The BMP file layout: header numbers and little-endian fields, shared by the reader, the
// writer and the icon reader.
namespace BmpFormat {

enum Compression : int {
    BiRgb = 0,
    BiRle8 = 1,
    BiRle4 = 2,
    BiBitfields = 3,
    BiAlphaBitfields = 6,
};

constexpr int fileHeaderSize = 14;

inline std::uint16_t u16(const std::uint8_t* p)
{
    return std::uint16_t(p[0] | (p[1] << 8));
}
inline std::uint32_t u32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16)
        | (std::uint32_t(p[3]) << 24);
}

inline void put16(std::uint8_t* p, std::uint32_t v)
{
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
}
inline void put32(std::uint8_t* p, std::uint32_t v)
{
    put16(p, v);
    put16(p + 2, v >> 16);
}

constexpr bool littleEndian = std::endian::native == std::endian::little;

} // namespace BmpFormat
