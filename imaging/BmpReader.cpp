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

namespace BmpDecode {

DibDecoder::DibDecoder(const uchar* data, qint64 size, qint64 infoOffset, qint64 bitsOffset,
    bool icon, const QString& path)
    : m_data(data)
    , m_size(size)
    , m_path(path)
    , m_icon(icon)
{
    auto invalid = [&]() { throwInvalidPicture(path); };
    if (infoOffset < 0 || infoOffset + 4 > size)
        invalid();
    const uchar* info = data + infoOffset;
    const quint32 headerSize = u32(info);
    const bool core = headerSize == 12;
    const bool windowsHeader = headerSize == 40 || headerSize == 52 || headerSize == 56
        || headerSize == 108 || headerSize == 124;
    // OS/2 2.x headers may stop after any field from 16 to 64 bytes.
    const bool os2Header = headerSize >= 16 && headerSize <= 64 && !windowsHeader;
    if (!core && !windowsHeader && !os2Header)
        invalid();
    if (infoOffset + qint64(headerSize) > size)
        invalid();

    qint64 width;
    qint64 height;
    quint32 clrUsed = 0;
    if (core) {
        width = u16(info + 4);
        height = u16(info + 6);
        m_bitCount = u16(info + 10);
    } else {
        width = qint32(u32(info + 4));
        height = qint32(u32(info + 8));
        m_bitCount = u16(info + 14);
        if (headerSize >= 20)
            m_compression = int(u32(info + 16));
        if (headerSize >= 36)
            clrUsed = u32(info + 32);
    }
    if (height < 0) {
        m_topDown = true;
        height = -height;
    }
    if (icon)
        height /= 2;
    if (width <= 0 || height <= 0 || width * height > DecodeLimits::maxPixels)
        invalid();
    m_width = int(width);
    m_height = int(height);

    switch (m_bitCount) {
    case 1:
    case 2:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
        break;
    default:
        invalid();
    }
    switch (m_compression) {
    case BiRgb:
        break;
    case BiRle8:
        if (m_bitCount != 8 || icon)
            invalid();
        break;
    case BiRle4:
        if (m_bitCount != 4 || icon)
            invalid();
        break;
    case BiBitfields:
    case BiAlphaBitfields:
        // In OS/2 headers these numbers mean Huffman and RLE24, which nothing writes now.
        if (!windowsHeader || (m_bitCount != 16 && m_bitCount != 32))
            invalid();
        break;
    default:
        invalid();
    }

    // Bit field masks sit in the V2+ header, or right after a 40-byte one.
    qint64 tableStart = infoOffset + headerSize;
    if (m_compression == BiBitfields || m_compression == BiAlphaBitfields) {
        const qint64 maskBytes = m_compression == BiAlphaBitfields ? 16 : 12;
        tableStart = infoOffset + std::max<qint64>(headerSize, 40 + maskBytes);
        if (tableStart > size)
            invalid();
        const uchar* m = info + 40;
        const bool alphaMask = m_compression == BiAlphaBitfields || headerSize >= 56;
        parseMasks(u32(m), u32(m + 4), u32(m + 8), alphaMask ? u32(m + 12) : 0);
    } else if (m_bitCount == 16) {
        parseMasks(0x7C00, 0x03E0, 0x001F, 0);
    } else if (m_bitCount == 32) {
        parseMasks(0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000);
    }

    if (m_bitCount <= 8) {
        const qint64 entrySize = core ? 3 : 4;
        const qint64 maxEntries = qint64(1) << m_bitCount;
        qint64 entries = core || clrUsed == 0 ? maxEntries : std::min<qint64>(clrUsed, maxEntries);
        if (bitsOffset >= 0) // a short table ends where the pixel data begins
            entries = std::min(entries, std::max<qint64>(0, bitsOffset - tableStart) / entrySize);
        if (entries == 0 || tableStart + entries * entrySize > size)
            invalid();
        // Entries beyond the table are black, so that any index byte is a valid lookup.
        m_palette.fill(0xFF000000);
        for (qint64 i = 0; i < entries; ++i) {
            const uchar* e = data + tableStart + i * entrySize;
            m_palette[size_t(i)] = qRgb(e[2], e[1], e[0]);
        }
        if (bitsOffset < 0)
            bitsOffset = tableStart + entries * entrySize;
    } else if (bitsOffset < 0) {
        bitsOffset = tableStart;
    }
    if (bitsOffset < tableStart || bitsOffset >= size)
        invalid();
    m_bits = bitsOffset;

    if (m_compression == BiRle4 || m_compression == BiRle8) {
        if (!DecodeLimits::plausibleSize(width * height, size - m_bits))
            invalid();
        decodeRle(path);
        return;
    }

    // Some writers leave out the padding of the last row; anything shorter is truncated.
    const qint64 rowBits = width * m_bitCount;
    m_stride = (rowBits + 31) / 32 * 4;
    const qint64 needed = m_stride * (height - 1) + (rowBits + 7) / 8;
    if (m_bits + needed > size)
        invalid();

    if (icon) {
        m_maskStride = (width + 31) / 32 * 4;
        const qint64 maskStart = m_bits + m_stride * height;
        if (maskStart + m_maskStride * height <= size)
            m_maskBits = maskStart;
    }

    if (m_bitCount == 16) {
        m_lut16.resize(65536);
        for (quint32 v = 0; v < 65536; ++v) {
            const quint32 a = m_channels[3].mask ? m_channels[3].get(v) : 255;
            m_lut16[v] = qRgba(m_channels[0].mask ? int(m_channels[0].get(v)) : 0,
                m_channels[1].mask ? int(m_channels[1].get(v)) : 0,
                m_channels[2].mask ? int(m_channels[2].get(v)) : 0, int(a));
        }
    }
    // An alpha channel whose values are all zero is an unused padding byte: opaque.
    m_alpha = m_channels[3].mask != 0 && scanForAlpha();
    // An icon without alpha of its own takes its transparency from the AND mask.
    if (m_icon && !m_alpha && m_maskBits >= 0) {
        m_applyMask = true;
        m_alpha = true;
    }
    if (m_bitCount == 16 && !m_alpha && m_channels[3].mask)
        for (QRgb& c : m_lut16)
            c |= 0xFF000000;
    m_standard32 = m_bitCount == 32 && m_channels[0].mask == 0x00FF0000
        && m_channels[1].mask == 0x0000FF00 && m_channels[2].mask == 0x000000FF
        && (m_channels[3].mask == 0xFF000000 || m_channels[3].mask == 0);
}

void DibDecoder::parseMasks(quint32 r, quint32 g, quint32 b, quint32 a)
{
    const quint32 masks[4] = { r, g, b, a };
    const quint32 limit = m_bitCount == 16 ? 0xFFFFu : 0xFFFFFFFFu;
    for (int i = 0; i < 4; ++i) {
        Channel& c = m_channels[size_t(i)];
        c.mask = masks[i] & limit;
        if (!c.mask)
            continue;
        c.shift = std::countr_zero(c.mask);
        c.max = c.mask >> c.shift;
    }
}

bool DibDecoder::scanForAlpha() const
{
    const quint32 amask = m_channels[3].mask;
    for (int y = 0; y < m_height; ++y) {
        const uchar* row = m_data + m_bits + m_stride * y;
        if (m_bitCount == 16) {
            for (int x = 0; x < m_width; ++x)
                if (u16(row + 2 * x) & amask)
                    return true;
        } else {
            quint32 any = 0;
            for (int x = 0; x < m_width; ++x)
                any |= u32(row + 4 * x) & amask;
            if (any)
                return true;
        }
    }
    return false;
}

// Unwritten pixels (skipped by a delta, an early end of line or end of picture) keep
// palette index 0. Runs and literal groups that pass the row's end are cut at the end.
void DibDecoder::decodeRle(const QString& path)
{
    try {
        m_rle.assign(size_t(m_width) * size_t(m_height), 0);
    } catch (const std::bad_alloc&) {
        throwOutOfMemory(path);
    }
    const bool four = m_compression == BiRle4;
    const uchar* p = m_data + m_bits;
    const uchar* end = m_data + m_size;
    const int w = m_width;
    int x = 0;
    int y = 0; // stored row
    auto put = [&](int value) {
        if (x < w)
            m_rle[size_t(y) * size_t(w) + size_t(x)] = uint8_t(value);
        ++x;
    };
    while (y < m_height) {
        if (end - p < 2)
            throwInvalidPicture(path);
        const int count = p[0];
        const int value = p[1];
        p += 2;
        if (count > 0) {
            const int start = x;
            const int n = std::min(count, std::max(0, w - x));
            if (four) {
                for (int i = 0; i < n; ++i)
                    put(i & 1 ? value & 0x0F : value >> 4);
            } else if (n > 0) {
                std::memset(&m_rle[size_t(y) * size_t(w) + size_t(x)], value, size_t(n));
            }
            x = std::min(w, start + count);
            continue;
        }
        switch (value) {
        case 0: // end of line
            x = 0;
            ++y;
            break;
        case 1: // end of picture
            return;
        case 2: // delta
            if (end - p < 2)
                throwInvalidPicture(path);
            x = std::min(w, x + p[0]);
            y += p[1];
            p += 2;
            break;
        default: { // literal group, padded to a 16-bit boundary
            const int n = value;
            qint64 bytes = four ? (n + 1) / 2 : n;
            bytes += bytes & 1;
            if (end - p < bytes)
                throwInvalidPicture(path);
            const int start = x;
            for (int i = 0; i < n && x < w; ++i)
                put(four ? (i & 1 ? p[i / 2] & 0x0F : p[i / 2] >> 4) : p[i]);
            x = std::min(w, start + n);
            p += bytes;
            break;
        }
        }
    }
}

const uchar* DibDecoder::storedRow(int y) const
{
    const qint64 stored = m_topDown ? y : m_height - 1 - y;
    return m_data + m_bits + m_stride * stored;
}

void DibDecoder::decodeRow(int y, QRgb* out) const
{
    const int w = m_width;
    if (!m_rle.empty()) {
        const qint64 stored = m_topDown ? y : m_height - 1 - y;
        const uint8_t* src = m_rle.data() + stored * w;
        for (int x = 0; x < w; ++x)
            out[x] = m_palette[src[x]];
        return;
    }
    const uchar* src = storedRow(y);
    switch (m_bitCount) {
    case 1:
        for (int x = 0; x < w; ++x)
            out[x] = m_palette[(src[x >> 3] >> (7 - (x & 7))) & 1];
        break;
    case 2:
        for (int x = 0; x < w; ++x)
            out[x] = m_palette[(src[x >> 2] >> (6 - 2 * (x & 3))) & 3];
        break;
    case 4:
        for (int x = 0; x < w; ++x)
            out[x] = m_palette[(src[x >> 1] >> (x & 1 ? 0 : 4)) & 15];
        break;
    case 8:
        for (int x = 0; x < w; ++x)
            out[x] = m_palette[src[x]];
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
        if (m_standard32) {
            if constexpr (littleEndian)
                std::memcpy(out, src, size_t(w) * 4);
            else
                for (int x = 0; x < w; ++x)
                    out[x] = u32(src + 4 * x);
            if (!m_alpha)
                for (int x = 0; x < w; ++x)
                    out[x] |= 0xFF000000u;
        } else {
            for (int x = 0; x < w; ++x) {
                const quint32 px = u32(src + 4 * x);
                const auto& c = m_channels;
                out[x] = qRgba(c[0].mask ? int(c[0].get(px)) : 0, c[1].mask ? int(c[1].get(px)) : 0,
                    c[2].mask ? int(c[2].get(px)) : 0,
                    m_alpha && c[3].mask ? int(c[3].get(px)) : 255);
            }
        }
        break;
    }
    if (m_applyMask) {
        const uchar* mask = m_data + m_maskBits + m_maskStride * (m_topDown ? y : m_height - 1 - y);
        for (int x = 0; x < w; ++x)
            out[x] = (mask[x >> 3] >> (7 - (x & 7))) & 1 ? 0 : out[x] | 0xFF000000u;
    }
}

QImage DibDecoder::decodeImage() const
{
    QImage image(m_width, m_height, m_alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (image.isNull())
        throwOutOfMemory(m_path);
    for (int y = 0; y < m_height; ++y)
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
    return BmpDecode::DibDecoder(data, size, fileHeaderSize, u32(data + 10), false, path);
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
