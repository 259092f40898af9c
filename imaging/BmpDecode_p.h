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

class DibDecoder
{
public:
    // Parses the info header at `infoOffset` of `data`. `bitsOffset` is where the pixel
    // data starts, or -1 when it follows the colour table directly (icons). With `icon`
    // the stored height covers the colour rows and the AND mask below them, which makes
    // pixels transparent unless a 32-bit image carries alpha of its own.
    // Every size and offset is checked against `size` and DecodeLimits::maxPixels; throws AppError
    // 481 naming `path` on any inconsistency, 7 when memory runs out.
    DibDecoder(const uchar* data, qint64 size, qint64 infoOffset, qint64 bitsOffset, bool icon,
        const QString& path);

    int width() const { return m_width; }
    int height() const { return m_height; }
    bool hasAlpha() const { return m_alpha; }
    int bitCount() const { return m_bitCount; }

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
        quint32 get(quint32 px) const
        {
            const quint64 v = (px & mask) >> shift;
            return quint32((v * 255 + max / 2) / max);
        }
    };

    void parseMasks(quint32 r, quint32 g, quint32 b, quint32 a);
    bool scanForAlpha() const;
    void decodeRle(const QString& path);
    const uchar* storedRow(int y) const;

    const uchar* m_data;
    qint64 m_size;
    QString m_path;
    int m_width = 0;
    int m_height = 0;
    bool m_topDown = false;
    int m_bitCount = 0;
    int m_compression = 0;
    bool m_alpha = false;
    bool m_icon = false;
    bool m_applyMask = false;
    bool m_standard32 = false; // 32-bit laid out as B, G, R, A bytes
    qint64 m_bits = 0;
    qint64 m_stride = 0;
    qint64 m_maskBits = -1; // icon AND mask, -1 when absent
    qint64 m_maskStride = 0;
    std::array<QRgb, 256> m_palette {};
    std::array<Channel, 4> m_channels {}; // r, g, b, a
    std::vector<QRgb> m_lut16; // 16-bit value -> colour
    std::vector<uint8_t> m_rle; // decoded palette indices of an RLE picture, stored order
};

} // namespace BmpDecode
