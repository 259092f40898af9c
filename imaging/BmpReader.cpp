// SPDX-License-Identifier: MIT

#include "imaging/Bmp.h"
#include "imaging/BmpDecode_p.h"
#include "imaging/DecodeLimits.h"
#include "imaging/FileBytes.h"
#include "runtime/AppError.h"

#include <QFile>
#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

using namespace BmpFormat;
using BmpDecode::DibHeader;

namespace {

// The info header's size and what it says about the fields that follow.
struct InfoHeader
{
    const uchar* p; // its first byte
    qint64 offset; // of the first byte in the file
    quint32 size;
    bool core; // OS/2 1.x: 16-bit sizes, 3-byte colour table entries
    bool windows; // BITMAPINFOHEADER and its V2 to V5 extensions
};

InfoHeader readHeaderKind(const uchar* data, qint64 size, qint64 infoOffset, const QString& path)
{
    if (infoOffset < 0 || infoOffset + 4 > size)
        throwInvalidPicture(path);
    const uchar* info = data + infoOffset;
    const quint32 headerSize = u32(info);
    const bool core = headerSize == 12;
    const bool windows = headerSize == 40 || headerSize == 52 || headerSize == 56
        || headerSize == 108 || headerSize == 124;
    // OS/2 2.x headers may stop after any field from 16 to 64 bytes.
    const bool os2 = headerSize >= 16 && headerSize <= 64 && !windows;
    if (!core && !windows && !os2)
        throwInvalidPicture(path);
    if (infoOffset + qint64(headerSize) > size)
        throwInvalidPicture(path);
    return { info, infoOffset, headerSize, core, windows };
}

// Width and height, the row order, and the pixel limit.
void readDimensions(const InfoHeader& info, bool icon, DibHeader& h, const QString& path)
{
    qint64 width = info.core ? u16(info.p + 4) : qint32(u32(info.p + 4));
    qint64 height = info.core ? u16(info.p + 6) : qint32(u32(info.p + 8));
    if (height < 0) {
        h.topDown = true;
        height = -height;
    }
    if (icon)
        height /= 2;
    if (width <= 0 || height <= 0 || width * height > DecodeLimits::maxPixels)
        throwInvalidPicture(path);
    h.width = int(width);
    h.height = int(height);
}

// The bit count and the compressions that go with it.
void readFormat(const InfoHeader& info, bool icon, DibHeader& h, const QString& path)
{
    const int bits = info.core ? u16(info.p + 10) : u16(info.p + 14);
    if (bits != 1 && bits != 2 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
        throwInvalidPicture(path);
    h.bitCount = bits;
    if (!info.core && info.size >= 20)
        h.compression = int(u32(info.p + 16));
    bool valid = false;
    switch (h.compression) {
    case BiRgb:
        valid = true;
        break;
    case BiRle8:
        valid = bits == 8 && !icon;
        break;
    case BiRle4:
        valid = bits == 4 && !icon;
        break;
    case BiBitfields:
    case BiAlphaBitfields:
        // In OS/2 headers these numbers mean Huffman and RLE24, which nothing writes now.
        valid = info.windows && (bits == 16 || bits == 32);
        break;
    }
    if (!valid)
        throwInvalidPicture(path);
}

// The bit-field masks of 16 and 32-bit pictures; returns where the colour table starts.
qint64 readMasks(const InfoHeader& info, qint64 size, DibHeader& h, const QString& path)
{
    qint64 tableStart = info.offset + info.size;
    if (h.compression == BiBitfields || h.compression == BiAlphaBitfields) {
        // The masks sit in the V2+ header, or right after a 40-byte one.
        const qint64 maskBytes = h.compression == BiAlphaBitfields ? 16 : 12;
        tableStart = info.offset + std::max<qint64>(info.size, 40 + maskBytes);
        if (tableStart > size)
            throwInvalidPicture(path);
        const uchar* m = info.p + 40;
        const bool alphaMask = h.compression == BiAlphaBitfields || info.size >= 56;
        h.masks = { u32(m), u32(m + 4), u32(m + 8), alphaMask ? u32(m + 12) : 0 };
    } else if (h.bitCount == 16) {
        h.masks = { 0x7C00, 0x03E0, 0x001F, 0 };
    } else if (h.bitCount == 32) {
        h.masks = { 0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000 };
    }
    if (h.bitCount == 16)
        for (quint32& mask : h.masks)
            mask &= 0xFFFF;
    return tableStart;
}

// The colour table of 1 to 8-bit pictures; returns where the pixel data starts: at
// `bitsOffset`, or after the table when that is -1.
qint64 readColourTable(const InfoHeader& info, qint64 size, qint64 tableStart, qint64 bitsOffset,
    DibHeader& h, const QString& path)
{
    if (h.bitCount > 8)
        return bitsOffset >= 0 ? bitsOffset : tableStart;
    const quint32 clrUsed = !info.core && info.size >= 36 ? u32(info.p + 32) : 0;
    const qint64 entrySize = info.core ? 3 : 4;
    const qint64 maxEntries = qint64(1) << h.bitCount;
    qint64 entries = clrUsed == 0 ? maxEntries : std::min<qint64>(clrUsed, maxEntries);
    if (bitsOffset >= 0) // a short table ends where the pixel data begins
        entries = std::min(entries, std::max<qint64>(0, bitsOffset - tableStart) / entrySize);
    if (entries == 0 || tableStart + entries * entrySize > size)
        throwInvalidPicture(path);
    h.paletteOffset = tableStart;
    h.paletteEntries = int(entries);
    h.paletteEntrySize = int(entrySize);
    return bitsOffset >= 0 ? bitsOffset : tableStart + entries * entrySize;
}

// Where the pixel data lies and that the file holds it; an icon's AND mask below it.
void placePixelData(
    qint64 size, qint64 tableStart, qint64 bitsOffset, bool icon, DibHeader& h, const QString& path)
{
    if (bitsOffset < tableStart || bitsOffset >= size)
        throwInvalidPicture(path);
    h.bitsOffset = bitsOffset;
    const qint64 width = h.width;
    const qint64 height = h.height;
    if (h.rle()) {
        if (!DecodeLimits::plausibleSize(width * height, size - bitsOffset))
            throwInvalidPicture(path);
        return;
    }
    // Some writers leave out the padding of the last row; anything shorter is truncated.
    const qint64 rowBits = width * h.bitCount;
    h.stride = (rowBits + 31) / 32 * 4;
    const qint64 needed = h.stride * (height - 1) + (rowBits + 7) / 8;
    if (bitsOffset + needed > size)
        throwInvalidPicture(path);
    if (icon) {
        h.maskStride = (width + 31) / 32 * 4;
        const qint64 maskStart = bitsOffset + h.stride * height;
        if (maskStart + h.maskStride * height <= size)
            h.maskOffset = maskStart;
    }
}

// Decodes an RLE4 or RLE8 stream into palette indices, one byte a pixel, rows in stored
// order, into `out` as it is. Unwritten pixels (skipped by a delta, an early end of line or
// end of picture) keep what `out` holds. Runs and literal groups that pass the row's end are cut at
// the end.
class RleDecoder
{
public:
    RleDecoder(
        const uchar* p, const uchar* end, const DibHeader& h, uint8_t* out, const QString& path)
        : m_p(p)
        , m_end(end)
        , m_four(h.compression == BiRle4)
        , m_width(h.width)
        , m_height(h.height)
        , m_out(out)
        , m_path(path)
    {
    }

    void decode()
    {
        while (m_y < m_height) {
            need(2);
            const int count = m_p[0];
            const int value = m_p[1];
            m_p += 2;
            if (count > 0)
                run(count, value);
            else if (!escape(value))
                return;
        }
    }

private:
    void need(qint64 bytes) const
    {
        if (m_end - m_p < bytes)
            throwInvalidPicture(m_path);
    }

    void put(int value)
    {
        if (m_x < m_width)
            m_out[size_t(m_y) * size_t(m_width) + size_t(m_x)] = uint8_t(value);
        ++m_x;
    }

    void run(int count, int value)
    {
        const int start = m_x;
        const int n = std::min(count, std::max(0, m_width - m_x));
        if (m_four) {
            for (int i = 0; i < n; ++i)
                put(i & 1 ? value & 0x0F : value >> 4);
        } else if (n > 0) {
            std::memset(&m_out[size_t(m_y) * size_t(m_width) + size_t(m_x)], value, size_t(n));
        }
        m_x = std::min(m_width, start + count);
    }

    // A literal group of `n` pixels, padded to a 16-bit boundary.
    void literal(int n)
    {
        qint64 bytes = m_four ? (n + 1) / 2 : n;
        bytes += bytes & 1;
        need(bytes);
        const int start = m_x;
        for (int i = 0; i < n && m_x < m_width; ++i)
            put(m_four ? (i & 1 ? m_p[i / 2] & 0x0F : m_p[i / 2] >> 4) : m_p[i]);
        m_x = std::min(m_width, start + n);
        m_p += bytes;
    }

    // The escapes after a zero count; false at the end of the picture.
    bool escape(int value)
    {
        switch (value) {
        case 0: // end of line
            m_x = 0;
            ++m_y;
            return true;
        case 1: // end of picture
            return false;
        case 2: // delta
            need(2);
            m_x = std::min(m_width, m_x + m_p[0]);
            m_y += m_p[1];
            m_p += 2;
            return true;
        default:
            literal(value);
            return true;
        }
    }

    const uchar* m_p;
    const uchar* m_end;
    const bool m_four;
    const int m_width;
    const int m_height;
    uint8_t* m_out;
    const QString& m_path;
    int m_x = 0;
    int m_y = 0; // stored row
};

// Palette indices of `Bits` each, the leftmost pixel in the high bits of a byte.
template <int Bits>
void indexedRow(const uchar* src, const std::array<QRgb, 256>& palette, int width, QRgb* out)
{
    constexpr unsigned perByte = 8 / Bits;
    constexpr unsigned valueMask = (1u << Bits) - 1;
    for (int x = 0; x < width; ++x) {
        const unsigned i = unsigned(x);
        out[x] = palette[(src[i / perByte] >> ((perByte - 1 - i % perByte) * Bits)) & valueMask];
    }
}

} // namespace

namespace BmpDecode {

DibHeader parseDibHeader(const uchar* data, qint64 size, qint64 infoOffset, qint64 bitsOffset,
    bool icon, const QString& path)
{
    const InfoHeader info = readHeaderKind(data, size, infoOffset, path);
    DibHeader h;
    readDimensions(info, icon, h, path);
    readFormat(info, icon, h, path);
    const qint64 tableStart = readMasks(info, size, h, path);
    bitsOffset = readColourTable(info, size, tableStart, bitsOffset, h, path);
    placePixelData(size, tableStart, bitsOffset, icon, h, path);
    return h;
}

DibDecoder::DibDecoder(const uchar* data, qint64 size, const DibHeader& header, const QString& path)
    : m_data(data)
    , m_size(size)
    , m_path(path)
    , m_header(header)
{
    loadPalette();
    for (size_t i = 0; i < m_channels.size(); ++i)
        m_channels[i] = Channel::of(header.masks[i]);
    if (header.rle()) {
        decodeRle();
        return;
    }
    // An alpha channel whose values are all zero is an unused padding byte: opaque.
    m_alpha = m_channels[3].mask != 0 && scanForAlpha();
    if (header.bitCount == 16)
        buildLut16(m_alpha);
    // An icon without alpha of its own takes its transparency from the AND mask.
    if (!m_alpha && header.maskOffset >= 0) {
        m_applyMask = true;
        m_alpha = true;
    }
    const auto& c = m_channels;
    m_standard32 = header.bitCount == 32 && c[0].mask == 0x00FF0000 && c[1].mask == 0x0000FF00
        && c[2].mask == 0x000000FF && (c[3].mask == 0xFF000000 || c[3].mask == 0);
}

// Entries beyond the table are black, so that any index byte is a valid lookup.
void DibDecoder::loadPalette()
{
    m_palette.fill(0xFF000000);
    for (int i = 0; i < m_header.paletteEntries; ++i) {
        const uchar* e = m_data + m_header.paletteOffset + qint64(i) * m_header.paletteEntrySize;
        m_palette[size_t(i)] = qRgb(e[2], e[1], e[0]);
    }
}

// Every 16-bit value's colour; opaque unless `alpha`.
void DibDecoder::buildLut16(bool alpha)
{
    const auto& c = m_channels;
    m_lut16.resize(65536);
    for (quint32 v = 0; v < 65536; ++v) {
        m_lut16[v] = qRgba(c[0].mask ? int(c[0].get(v)) : 0, c[1].mask ? int(c[1].get(v)) : 0,
            c[2].mask ? int(c[2].get(v)) : 0, alpha ? int(c[3].get(v)) : 255);
    }
}

bool DibDecoder::scanForAlpha() const
{
    const quint32 amask = m_channels[3].mask;
    for (int y = 0; y < m_header.height; ++y) {
        const uchar* row = storedRow(y);
        if (m_header.bitCount == 16) {
            for (int x = 0; x < m_header.width; ++x)
                if (u16(row + 2 * x) & amask)
                    return true;
        } else {
            quint32 any = 0;
            for (int x = 0; x < m_header.width; ++x)
                any |= u32(row + 4 * x) & amask;
            if (any)
                return true;
        }
    }
    return false;
}

// Unwritten pixels keep palette index 0.
void DibDecoder::decodeRle()
{
    try {
        m_rle.assign(size_t(m_header.width) * size_t(m_header.height), 0);
    } catch (const std::bad_alloc&) {
        throwOutOfMemory(m_path);
    }
    RleDecoder(m_data + m_header.bitsOffset, m_data + m_size, m_header, m_rle.data(), m_path)
        .decode();
}

const uchar* DibDecoder::storedRow(qint64 stored) const
{
    return m_data + m_header.bitsOffset + m_header.stride * stored;
}

void DibDecoder::decodeRow(int y, QRgb* out) const
{
    const int w = m_header.width;
    const qint64 stored = m_header.topDown ? y : m_header.height - 1 - y;
    if (!m_rle.empty()) {
        indexedRow<8>(m_rle.data() + stored * w, m_palette, w, out);
        return;
    }
    const uchar* src = storedRow(stored);
    switch (m_header.bitCount) {
    case 1:
        indexedRow<1>(src, m_palette, w, out);
        break;
    case 2:
        indexedRow<2>(src, m_palette, w, out);
        break;
    case 4:
        indexedRow<4>(src, m_palette, w, out);
        break;
    case 8:
        indexedRow<8>(src, m_palette, w, out);
        break;
    case 16:
        for (int x = 0; x < w; ++x)
            out[x] = m_lut16[u16(src + 2 * x)];
        break;
    case 24:
        for (int x = 0; x < w; ++x, src += 3)
            out[x] = 0xFF000000u | (quint32(src[2]) << 16) | (quint32(src[1]) << 8) | src[0];
        break;
    case 32:
        decode32(src, out);
        break;
    }
    if (m_applyMask)
        applyAndMask(stored, out);
}

void DibDecoder::decode32(const uchar* src, QRgb* out) const
{
    const int w = m_header.width;
    if (!m_standard32) {
        const auto& c = m_channels;
        for (int x = 0; x < w; ++x) {
            const quint32 px = u32(src + 4 * x);
            out[x] = qRgba(c[0].mask ? int(c[0].get(px)) : 0, c[1].mask ? int(c[1].get(px)) : 0,
                c[2].mask ? int(c[2].get(px)) : 0, m_alpha && c[3].mask ? int(c[3].get(px)) : 255);
        }
        return;
    }
    if constexpr (littleEndian)
        std::memcpy(out, src, size_t(w) * 4);
    else
        for (int x = 0; x < w; ++x)
            out[x] = u32(src + 4 * x);
    if (!m_alpha)
        for (int x = 0; x < w; ++x)
            out[x] |= 0xFF000000u;
}

// A set bit of the AND mask makes the pixel transparent; the others become opaque.
void DibDecoder::applyAndMask(qint64 stored, QRgb* out) const
{
    const uchar* mask = m_data + m_header.maskOffset + m_header.maskStride * stored;
    for (int x = 0; x < m_header.width; ++x)
        out[x] = (mask[x >> 3] >> (7 - (x & 7))) & 1 ? 0 : out[x] | 0xFF000000u;
}

QImage DibDecoder::decodeImage() const
{
    QImage image(width(), height(), m_alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (image.isNull())
        throwOutOfMemory(m_path);
    for (int y = 0; y < height(); ++y)
        decodeRow(y, reinterpret_cast<QRgb*>(image.scanLine(y)));
    return image;
}

} // namespace BmpDecode

namespace {

// The file header and the position of the info header and the pixel data.
BmpDecode::DibDecoder openBmp(const QByteArray& bytes, const QString& path)
{
    const auto* data = reinterpret_cast<const uchar*>(bytes.constData());
    const qint64 size = bytes.size();
    if (size < fileHeaderSize + 12 || data[0] != 'B' || data[1] != 'M')
        throwInvalidPicture(path);
    const BmpDecode::DibHeader header
        = BmpDecode::parseDibHeader(data, size, fileHeaderSize, u32(data + 10), false, path);
    return BmpDecode::DibDecoder(data, size, header, path);
}

} // namespace

namespace Bmp {

QImage read(const QString& path)
{
    const QByteArray bytes = readFileBytes(path);
    return openBmp(bytes, path).decodeImage();
}

struct RowReader::Private
{
    QByteArray bytes;
    BmpDecode::DibDecoder decoder;
    int next = 0;
    QString path;
};

RowReader::RowReader(const QString& path)
{
    QByteArray bytes = readFileBytes(path);
    // The decoder points into the buffer; a moved QByteArray keeps its data in place.
    BmpDecode::DibDecoder decoder = openBmp(bytes, path);
    d.reset(new Private { std::move(bytes), std::move(decoder), 0, path });
}

RowReader::~RowReader() = default;

int RowReader::width() const
{
    return d->decoder.width();
}
int RowReader::height() const
{
    return d->decoder.height();
}
bool RowReader::hasAlpha() const
{
    return d->decoder.hasAlpha();
}

void RowReader::readRow(QRgb* out)
{
    if (d->next >= d->decoder.height())
        throw AppError(ErrorNumber::InvalidCall,
            QStringLiteral("Invalid procedure call or argument: ") + d->path);
    d->decoder.decodeRow(d->next++, out);
}

} // namespace Bmp
