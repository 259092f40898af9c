// SPDX-License-Identifier: MIT

#pragma once

#include "imaging/bmpcore/BmpFormat.h"
#include "imaging/core/ColourSpace.h"

#include <array>
#include <bit>
#include <cstdint>
#include <vector>

// Decoding of a device-independent bitmap held in memory, shared by the BMP reader and
// the icon/cursor reader.
namespace BmpDecode {

// The info header of a device-independent bitmap, checked against the bytes that hold it:
// every offset lies inside them, and the pixel data is long enough for the picture.
struct DibHeader
{
    int width = 0;
    int height = 0; // rows of colour; an icon's AND mask below them is not counted
    bool topDown = false;
    int bitCount = 0; // 1, 2, 4, 8, 16, 24 or 32
    int compression = BmpFormat::BiRgb; // RLE only for 4 and 8 bits, bit fields for 16 and 32
    std::array<std::uint32_t, 4> masks {}; // r, g, b, a bits of a 16 or 32-bit pixel; else zero
    std::int64_t paletteOffset = 0; // the colour table of 1 to 8-bit pictures
    int paletteEntries = 0; // 1 to 2^bitCount
    int paletteEntrySize = 4; // B, G, R, and a fourth byte except in a core header
    std::int64_t bitsOffset = 0; // the pixel data
    std::int64_t stride = 0; // bytes of a stored row, 0 for RLE
    std::int64_t maskOffset = -1; // an icon's AND mask, -1 when absent
    std::int64_t maskStride = 0;
    // A V3+ header or BI_ALPHABITFIELDS that gives an alpha mask: its alpha is meant as
    // stored, even where it is zero everywhere (a fully transparent picture).
    bool alphaDeclared = false;
    // The V4/V5 colour space when it is sRGB, calibrated or an embedded RGB profile that is
    // whole; a linked profile, the system's default space or a damaged profile give None.
    ImageCore::ColourSpace colour;
    // An embedded profile that lies beyond the bytes parsed (the head of a file read in
    // blocks): where it is in the file, for the reader to fetch and attachProfile(); else -1.
    std::int64_t profileOffset = -1;
    std::int64_t profileSize = 0;

    bool rle() const
    {
        return compression == BmpFormat::BiRle4 || compression == BmpFormat::BiRle8;
    }
};

// Parses and checks the info header at `infoOffset` of the `size` bytes at `data`.
// `bitsOffset` is where the pixel data starts, or -1 when it follows the colour table
// directly (icons). With `icon` the stored height covers the colour rows and the AND mask
// below them. Every size and offset is checked against `size` and Limits.h; throws
// BmpCore::Error InvalidPicture on any inconsistency. When `data` holds only the head of a
// file of `fileSize` bytes, the headers and colour table must lie in that head and the pixel
// data is checked against `fileSize`.
DibHeader parseDibHeader(const std::uint8_t* data, std::int64_t size, std::int64_t infoOffset,
    std::int64_t bitsOffset, bool icon, std::int64_t fileSize = -1);

// Takes the embedded profile of `header`, or drops the colour space when the profile is not
// a whole RGB profile.
void attachProfile(DibHeader& header, const std::uint8_t* profile, std::size_t size);

class DibDecoder
{
public:
    // Decodes the bitmap that `header`, parsed from the same `data` and `size`, describes.
    // An icon's AND mask makes pixels transparent unless a 32-bit image carries alpha of its
    // own. RLE pictures are decoded here, whole: throws BmpCore::Error InvalidPicture when the
    // stream is damaged, OutOfMemory when memory runs out.
    DibDecoder(const std::uint8_t* data, std::int64_t size, const DibHeader& header);

    // For rows read elsewhere and handed to decodeStoredRow(): `data` holds the headers and
    // the colour table, and `alphaInRows` tells whether rowHasAlpha() is true of some stored
    // row. Neither RLE nor icons.
    DibDecoder(
        const std::uint8_t* data, std::int64_t size, const DibHeader& header, bool alphaInRows);

    int width() const { return m_header.width; }
    int height() const { return m_header.height; }
    bool hasAlpha() const { return m_alpha; }
    const DibHeader& header() const { return m_header; }

    // Decodes row `y` (0 = top) into width() pixels of 0xAARRGGBB, alpha 255 when opaque.
    void decodeRow(int y, std::uint32_t* out) const;

    // Decodes the stored row at `src` (header.stride bytes, the last row's padding may be
    // missing) as decodeRow() does; for the second constructor.
    void decodeStoredRow(const std::uint8_t* src, std::uint32_t* out) const;

    // Whether the stored row at `src` sets a bit of the header's alpha mask: a picture whose
    // rows set none is opaque, its fourth bytes unused.
    static bool rowHasAlpha(const DibHeader& header, const std::uint8_t* src);

private:
    void setUp(bool alphaInRows);
    struct Channel
    {
        std::uint32_t mask = 0;
        int shift = 0;
        std::uint32_t max = 0;
        static Channel of(std::uint32_t mask)
        {
            return mask ? Channel { mask, std::countr_zero(mask), mask >> std::countr_zero(mask) }
                        : Channel {};
        }
        std::uint32_t get(std::uint32_t px) const
        {
            const std::uint64_t v = (px & mask) >> shift;
            return std::uint32_t((v * 255 + max / 2) / max);
        }
    };

    void loadPalette();
    void buildLut16(bool alpha);
    bool scanForAlpha() const;
    void decodeRle();
    const std::uint8_t* storedRow(std::int64_t stored) const;
    void decode32(const std::uint8_t* src, std::uint32_t* out) const;
    void applyAndMask(std::int64_t stored, std::uint32_t* out) const;

    const std::uint8_t* m_data;
    std::int64_t m_size;
    DibHeader m_header;
    bool m_alpha = false;
    bool m_applyMask = false;
    bool m_standard32 = false; // 32-bit laid out as B, G, R, A bytes
    std::array<std::uint32_t, 256> m_palette {};
    std::array<Channel, 4> m_channels {}; // r, g, b, a
    std::vector<std::uint32_t> m_lut16; // 16-bit value -> colour
    std::vector<uint8_t> m_rle; // decoded palette indices of an RLE picture, stored order
};

} // namespace BmpDecode
