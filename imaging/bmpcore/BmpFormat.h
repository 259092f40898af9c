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

// The file header's fields, counted from the file's start.
namespace FileHeader {
constexpr int magic = 0; // "BM"
constexpr int fileSize = 2;
constexpr int bitsOffset = 10; // where the pixel data starts
} // namespace FileHeader
constexpr int fileHeaderSize = 14;

// The info header's sizes, which tell its version. OS/2 2.x headers may stop after any
// field between the two OS/2 sizes.
constexpr std::uint32_t coreHeaderSize = 12; // OS/2 1.x
constexpr std::uint32_t os2MinHeaderSize = 16;
constexpr std::uint32_t os2MaxHeaderSize = 64;
constexpr std::uint32_t infoHeaderSize = 40;
constexpr std::uint32_t v2HeaderSize = 52;
constexpr std::uint32_t v3HeaderSize = 56;
constexpr std::uint32_t v4HeaderSize = 108;
constexpr std::uint32_t v5HeaderSize = 124;

// The OS/2 1.x header's 16-bit fields, counted from the header's start.
namespace CoreInfo {
constexpr int width = 4;
constexpr int height = 6;
constexpr int planes = 8;
constexpr int bitCount = 10;
} // namespace CoreInfo

// The fields of the 40-byte header and its V2 to V5 extensions (OS/2 2.x shares the first
// ones), counted from the header's start; 32-bit unless said.
namespace Info {
constexpr int headerSize = 0;
constexpr int width = 4;
constexpr int height = 8; // negative for top-down rows
constexpr int planes = 12; // 16-bit
constexpr int bitCount = 14; // 16-bit
constexpr int compression = 16;
constexpr int imageSize = 20;
constexpr int xPelsPerMeter = 24;
constexpr int yPelsPerMeter = 28;
constexpr int clrUsed = 32;
constexpr int clrImportant = 36;
constexpr int redMask = 40; // V2; after a 40-byte header when it says bit fields
constexpr int greenMask = 44;
constexpr int blueMask = 48;
constexpr int alphaMask = 52; // V3
constexpr int csType = 56; // V4
constexpr int endpoints = 60; // nine: x, y, z of red, green and blue
constexpr int gammas = 96; // three: red, green, blue
constexpr int intent = 108; // V5
constexpr int profileData = 112; // where the profile lies, counted from this header
constexpr int profileSize = 116;

constexpr std::uint32_t calibratedRgb = 0; // the csType of endpoints and gammas

// Whether a header of `size` bytes holds the 32-bit field at `field`.
constexpr bool holds32(std::uint32_t size, int field)
{
    return size >= std::uint32_t(field) + 4;
}
} // namespace Info

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

inline bool hasMagic(const std::uint8_t* file)
{
    return file[FileHeader::magic] == 'B' && file[FileHeader::magic + 1] == 'M';
}
inline void putMagic(std::uint8_t* file)
{
    file[FileHeader::magic] = 'B';
    file[FileHeader::magic + 1] = 'M';
}

constexpr bool littleEndian = std::endian::native == std::endian::little;

} // namespace BmpFormat
