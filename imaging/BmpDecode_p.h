// SPDX-License-Identifier: MIT

#pragma once

#include <QImage>
#include <QString>
#include <array>
#include <bit>
#include <cstdint>
#include <vector>

// The BMP file layout: header numbers and little-endian fields, shared by the reader and
// the writer. Not part of the public imaging interface.
namespace BmpFormat {

enum Compression : int {
    BiRgb = 0,
    BiRle8 = 1,
    BiRle4 = 2,
    BiBitfields = 3,
    BiAlphaBitfields = 6,
};

constexpr int fileHeaderSize = 14;

inline quint16 u16(const uchar* p)
{
    return quint16(p[0] | (p[1] << 8));
}
inline quint32 u32(const uchar* p)
{
    return quint32(p[0]) | (quint32(p[1]) << 8) | (quint32(p[2]) << 16) | (quint32(p[3]) << 24);
}

inline void put16(uchar* p, quint32 v)
{
    p[0] = uchar(v);
    p[1] = uchar(v >> 8);
}
inline void put32(uchar* p, quint32 v)
{
    put16(p, v);
    put16(p + 2, v >> 16);
}

constexpr bool littleEndian = std::endian::native == std::endian::little;

} // namespace BmpFormat

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
    std::array<quint32, 4> masks {}; // r, g, b, a bits of a 16 or 32-bit pixel; else zero
    qint64 paletteOffset = 0; // the colour table of 1 to 8-bit pictures
    int paletteEntries = 0; // 1 to 2^bitCount
    int paletteEntrySize = 4; // B, G, R, and a fourth byte except in a core header
    qint64 bitsOffset = 0; // the pixel data
    qint64 stride = 0; // bytes of a stored row, 0 for RLE
    qint64 maskOffset = -1; // an icon's AND mask, -1 when absent
    qint64 maskStride = 0;

    bool rle() const
    {
        return compression == BmpFormat::BiRle4 || compression == BmpFormat::BiRle8;
    }
};

// Parses and checks the info header at `infoOffset` of the `size` bytes at `data`.
// `bitsOffset` is where the pixel data starts, or -1 when it follows the colour table
// directly (icons). With `icon` the stored height covers the colour rows and the AND mask
// below them. Every size and offset is checked against `size` and DecodeLimits; throws
// AppError 481 naming `path` on any inconsistency.
DibHeader parseDibHeader(const uchar* data, qint64 size, qint64 infoOffset, qint64 bitsOffset,
    bool icon, const QString& path);

class DibDecoder
{
public:
    // Decodes the bitmap that `header`, parsed from the same `data` and `size`, describes.
    // An icon's AND mask makes pixels transparent unless a 32-bit image carries alpha of its
    // own. RLE pictures are decoded here, whole: throws AppError 481 naming `path` when the
    // stream is damaged, 7 when memory runs out.
    DibDecoder(const uchar* data, qint64 size, const DibHeader& header, const QString& path);

    int width() const { return m_header.width; }
    int height() const { return m_header.height; }
    bool hasAlpha() const { return m_alpha; }

    // Decodes row `y` (0 = top) into width() pixels of 0xAARRGGBB, alpha 255 when opaque.
    void decodeRow(int y, QRgb* out) const;

    // The whole picture: Format_ARGB32 when hasAlpha(), Format_RGB32 otherwise.
    QImage decodeImage() const;

private:
    struct Channel
    {
        quint32 mask = 0;
        int shift = 0;
        quint32 max = 0;
        static Channel of(quint32 mask)
        {
            return mask ? Channel { mask, std::countr_zero(mask), mask >> std::countr_zero(mask) }
                        : Channel {};
        }
        quint32 get(quint32 px) const
        {
            const quint64 v = (px & mask) >> shift;
            return quint32((v * 255 + max / 2) / max);
        }
    };

    void loadPalette();
    void buildLut16(bool alpha);
    bool scanForAlpha() const;
    void decodeRle();
    const uchar* storedRow(qint64 stored) const;
    void decode32(const uchar* src, QRgb* out) const;
    void applyAndMask(qint64 stored, QRgb* out) const;

    const uchar* m_data;
    qint64 m_size;
    QString m_path;
    DibHeader m_header;
    bool m_alpha = false;
    bool m_applyMask = false;
    bool m_standard32 = false; // 32-bit laid out as B, G, R, A bytes
    std::array<QRgb, 256> m_palette {};
    std::array<Channel, 4> m_channels {}; // r, g, b, a
    std::vector<QRgb> m_lut16; // 16-bit value -> colour
    std::vector<uint8_t> m_rle; // decoded palette indices of an RLE picture, stored order
};

} // namespace BmpDecode
