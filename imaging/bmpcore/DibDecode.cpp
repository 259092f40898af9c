// SPDX-License-Identifier: MIT

#include "imaging/bmpcore/DibDecode.h"

#include "imaging/bmpcore/BmpError.h"
#include "imaging/core/Limits.h"

#include <algorithm>
#include <cstring>
#include <new>

using namespace BmpFormat;
using BmpCore::throwInvalidPicture;
using BmpCore::throwOutOfMemory;
using BmpDecode::DibHeader;

namespace {

constexpr std::uint32_t rgba(int r, int g, int b, int a)
{
    return (std::uint32_t(a & 0xFF) << 24) | (std::uint32_t(r & 0xFF) << 16)
        | (std::uint32_t(g & 0xFF) << 8) | std::uint32_t(b & 0xFF);
}

// The info header's size and what it says about the fields that follow.
struct InfoHeader
{
    const std::uint8_t* p; // its first byte
    std::int64_t offset; // of the first byte in the file
    std::uint32_t size;
    bool core; // OS/2 1.x: 16-bit sizes, 3-byte colour table entries
    bool windows; // BITMAPINFOHEADER and its V2 to V5 extensions
};

InfoHeader readHeaderKind(const std::uint8_t* data, std::int64_t size, std::int64_t infoOffset)
{
    if (infoOffset < 0 || infoOffset + 4 > size)
        throwInvalidPicture();
    const std::uint8_t* info = data + infoOffset;
    const std::uint32_t headerSize = u32(info + Info::headerSize);
    const bool core = headerSize == coreHeaderSize;
    const bool windows = headerSize == infoHeaderSize || headerSize == v2HeaderSize
        || headerSize == v3HeaderSize || headerSize == v4HeaderSize || headerSize == v5HeaderSize;
    const bool os2 = headerSize >= os2MinHeaderSize && headerSize <= os2MaxHeaderSize && !windows;
    if (!core && !windows && !os2)
        throwInvalidPicture("an unsupported kind of header");
    if (infoOffset + std::int64_t(headerSize) > size)
        throwInvalidPicture("ends early");
    return { info, infoOffset, headerSize, core, windows };
}

// Width and height, the row order, and the pixel limit.
void readDimensions(const InfoHeader& info, bool icon, DibHeader& h)
{
    std::int64_t width
        = info.core ? u16(info.p + CoreInfo::width) : std::int32_t(u32(info.p + Info::width));
    std::int64_t height
        = info.core ? u16(info.p + CoreInfo::height) : std::int32_t(u32(info.p + Info::height));
    if (height < 0) {
        h.topDown = true;
        height = -height;
    }
    if (icon)
        height /= 2;
    if (width <= 0 || height <= 0)
        throwInvalidPicture("no pixels");
    if (width * height > Limits::maxPixels)
        throwInvalidPicture("more pixels than a picture may have");
    h.width = int(width);
    h.height = int(height);
}

// The bit count and the compressions that go with it.
void readFormat(const InfoHeader& info, bool icon, DibHeader& h)
{
    const int bits = u16(info.p + (info.core ? CoreInfo::bitCount : Info::bitCount));
    if (bits != 1 && bits != 2 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
        throwInvalidPicture("an unsupported number of bits per pixel");
    h.bitCount = bits;
    if (!info.core && Info::holds32(info.size, Info::compression))
        h.compression = int(u32(info.p + Info::compression));
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
        throwInvalidPicture();
}

// The bit-field masks of 16 and 32-bit pictures; returns where the colour table starts.
std::int64_t readMasks(const InfoHeader& info, std::int64_t size, DibHeader& h)
{
    std::int64_t tableStart = info.offset + info.size;
    if (h.compression == BiBitfields || h.compression == BiAlphaBitfields) {
        // The masks sit in the V2+ header, or right after a 40-byte one.
        const std::int64_t maskBytes = h.compression == BiAlphaBitfields ? 16 : 12;
        tableStart = info.offset + std::max<std::int64_t>(info.size, Info::redMask + maskBytes);
        if (tableStart > size)
            throwInvalidPicture();
        const std::uint8_t* p = info.p;
        const bool alphaMask
            = h.compression == BiAlphaBitfields || Info::holds32(info.size, Info::alphaMask);
        h.masks = { u32(p + Info::redMask), u32(p + Info::greenMask), u32(p + Info::blueMask),
            alphaMask ? u32(p + Info::alphaMask) : 0 };
        h.alphaDeclared = h.masks[3] != 0;
    } else if (h.bitCount == 16) {
        h.masks = { 0x7C00, 0x03E0, 0x001F, 0 };
    } else if (h.bitCount == 32) {
        h.masks = { 0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000 };
    }
    if (h.bitCount == 16)
        for (std::uint32_t& mask : h.masks)
            mask &= 0xFFFF;
    return tableStart;
}

// The colour space of a V4 or V5 header. Offsets of an embedded profile count from the
// header's start.
void readColourSpace(const InfoHeader& info, std::int64_t size, std::int64_t fileSize, DibHeader& h)
{
    using Kind = ImageCore::ColourSpace::Kind;
    if (!info.windows || info.size < v4HeaderSize)
        return;
    ImageCore::ColourSpace c;
    const std::uint32_t type = u32(info.p + Info::csType);
    if (info.size >= v5HeaderSize)
        c.intent = u32(info.p + Info::intent);
    if (type == ImageCore::signature("sRGB")) {
        c.kind = Kind::Srgb;
    } else if (type == Info::calibratedRgb) {
        for (size_t i = 0; i < c.endpoints.size(); ++i)
            c.endpoints[i] = std::int32_t(u32(info.p + Info::endpoints + 4 * i));
        for (size_t i = 0; i < c.gammas.size(); ++i)
            c.gammas[i] = u32(info.p + Info::gammas + 4 * i);
        if (c.endpoints == decltype(c.endpoints) {} && c.gammas == decltype(c.gammas) {})
            return;
        c.kind = Kind::Calibrated;
    } else if (type == ImageCore::signature("MBED") && info.size >= v5HeaderSize) {
        const std::int64_t at = info.offset + std::int64_t(u32(info.p + Info::profileData));
        const std::int64_t length = u32(info.p + Info::profileSize);
        if (at + length <= size) {
            h.colour = std::move(c);
            BmpDecode::attachProfile(h, info.p - info.offset + at, size_t(length));
        } else if (at + length <= fileSize && size_t(length) <= Limits::maxProfileSize) {
            // Only the head of the file was read: the reader fetches the profile.
            h.colour = std::move(c);
            h.profileOffset = at;
            h.profileSize = length;
        }
        return;
    } else {
        return;
    }
    h.colour = std::move(c);
}

// The colour table of 1 to 8-bit pictures; returns where the pixel data starts: at
// `bitsOffset`, or after the table when that is -1.
std::int64_t readColourTable(const InfoHeader& info, std::int64_t size, std::int64_t tableStart,
    std::int64_t bitsOffset, DibHeader& h)
{
    if (h.bitCount > 8)
        return bitsOffset >= 0 ? bitsOffset : tableStart;
    const std::uint32_t clrUsed
        = !info.core && Info::holds32(info.size, Info::clrUsed) ? u32(info.p + Info::clrUsed) : 0;
    const std::int64_t entrySize = info.core ? 3 : 4;
    const std::int64_t maxEntries = std::int64_t(1) << h.bitCount;
    std::int64_t entries = clrUsed == 0 ? maxEntries : std::min<std::int64_t>(clrUsed, maxEntries);
    if (bitsOffset >= 0) // a short table ends where the pixel data begins
        entries = std::min(entries, std::max<std::int64_t>(0, bitsOffset - tableStart) / entrySize);
    if (entries == 0 || tableStart + entries * entrySize > size)
        throwInvalidPicture();
    h.paletteOffset = tableStart;
    h.paletteEntries = int(entries);
    h.paletteEntrySize = int(entrySize);
    return bitsOffset >= 0 ? bitsOffset : tableStart + entries * entrySize;
}

// Where the pixel data lies and that the file holds it; an icon's AND mask below it.
void placePixelData(
    std::int64_t size, std::int64_t tableStart, std::int64_t bitsOffset, bool icon, DibHeader& h)
{
    if (bitsOffset < tableStart || bitsOffset >= size)
        throwInvalidPicture();
    h.bitsOffset = bitsOffset;
    const std::int64_t width = h.width;
    const std::int64_t height = h.height;
    if (h.rle()) {
        if (!Limits::plausibleSize(width * height, size - bitsOffset))
            throwInvalidPicture();
        return;
    }
    // Some writers leave out the padding of the last row; anything shorter is truncated.
    const std::int64_t rowBits = width * h.bitCount;
    h.stride = (rowBits + 31) / 32 * 4;
    const std::int64_t needed = h.stride * (height - 1) + (rowBits + 7) / 8;
    if (bitsOffset + needed > size)
        throwInvalidPicture();
    if (icon) {
        h.maskStride = (width + 31) / 32 * 4;
        const std::int64_t maskStart = bitsOffset + h.stride * height;
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
    RleDecoder(const std::uint8_t* p, const std::uint8_t* end, const DibHeader& h, uint8_t* out)
        : m_p(p)
        , m_end(end)
        , m_four(h.compression == BiRle4)
        , m_width(h.width)
        , m_height(h.height)
        , m_out(out)
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
    void need(std::int64_t bytes) const
    {
        if (m_end - m_p < bytes)
            throwInvalidPicture();
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
        std::int64_t bytes = m_four ? (n + 1) / 2 : n;
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

    const std::uint8_t* m_p;
    const std::uint8_t* m_end;
    const bool m_four;
    const int m_width;
    const int m_height;
    uint8_t* m_out;
    int m_x = 0;
    int m_y = 0; // stored row
};

// Palette indices of `Bits` each, the leftmost pixel in the high bits of a byte.
template <int Bits>
void indexedRow(const std::uint8_t* src, const std::array<std::uint32_t, 256>& palette, int width,
    std::uint32_t* out)
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

DibHeader parseDibHeader(const std::uint8_t* data, std::int64_t size, std::int64_t infoOffset,
    std::int64_t bitsOffset, bool icon, std::int64_t fileSize)
{
    const InfoHeader info = readHeaderKind(data, size, infoOffset);
    DibHeader h;
    readDimensions(info, icon, h);
    readFormat(info, icon, h);
    const std::int64_t tableStart = readMasks(info, size, h);
    bitsOffset = readColourTable(info, size, tableStart, bitsOffset, h);
    placePixelData(fileSize < 0 ? size : fileSize, tableStart, bitsOffset, icon, h);
    if (!icon)
        readColourSpace(info, size, fileSize, h);
    return h;
}

void attachProfile(DibHeader& header, const std::uint8_t* profile, std::size_t size)
{
    header.profileOffset = -1;
    header.profileSize = 0;
    if (ImageCore::profileDataSpace(profile, size) != ImageCore::signature("RGB ")) {
        header.colour = {};
        return;
    }
    header.colour.kind = ImageCore::ColourSpace::Kind::Embedded;
    try {
        header.colour.profile.assign(profile, profile + size);
    } catch (const std::bad_alloc&) {
        throwOutOfMemory();
    }
}

DibDecoder::DibDecoder(const std::uint8_t* data, std::int64_t size, const DibHeader& header)
    : m_data(data)
    , m_size(size)
    , m_header(header)
{
    loadPalette();
    for (size_t i = 0; i < m_channels.size(); ++i)
        m_channels[i] = Channel::of(header.masks[i]);
    if (header.rle()) {
        decodeRle();
        return;
    }
    // Without a declared alpha mask, alpha values that are all zero are an unused padding
    // byte: opaque.
    setUp(m_channels[3].mask != 0 && (header.alphaDeclared || scanForAlpha()));
}

DibDecoder::DibDecoder(
    const std::uint8_t* data, std::int64_t size, const DibHeader& header, bool alphaInRows)
    : m_data(data)
    , m_size(size)
    , m_header(header)
{
    if (header.rle() || header.maskOffset >= 0)
        BmpCore::throwInvalidPicture();
    loadPalette();
    for (size_t i = 0; i < m_channels.size(); ++i)
        m_channels[i] = Channel::of(header.masks[i]);
    setUp(m_channels[3].mask != 0 && alphaInRows);
    // Only the rows handed over are read from now on.
    m_data = nullptr;
    m_size = 0;
}

void DibDecoder::setUp(bool alphaInRows)
{
    const DibHeader& header = m_header;
    m_alpha = alphaInRows;
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
        const std::uint8_t* e
            = m_data + m_header.paletteOffset + std::int64_t(i) * m_header.paletteEntrySize;
        m_palette[size_t(i)] = rgba(e[2], e[1], e[0], 255);
    }
}

// Every 16-bit value's colour; opaque unless `alpha`.
void DibDecoder::buildLut16(bool alpha)
{
    const auto& c = m_channels;
    m_lut16.resize(65536);
    for (std::uint32_t v = 0; v < 65536; ++v) {
        m_lut16[v] = rgba(c[0].mask ? int(c[0].get(v)) : 0, c[1].mask ? int(c[1].get(v)) : 0,
            c[2].mask ? int(c[2].get(v)) : 0, alpha ? int(c[3].get(v)) : 255);
    }
}

bool DibDecoder::scanForAlpha() const
{
    for (int y = 0; y < m_header.height; ++y)
        if (rowHasAlpha(m_header, storedRow(y)))
            return true;
    return false;
}

bool DibDecoder::rowHasAlpha(const DibHeader& header, const std::uint8_t* src)
{
    const std::uint32_t amask = header.masks[3];
    if (amask == 0)
        return false;
    if (header.bitCount == 16) {
        for (int x = 0; x < header.width; ++x)
            if (u16(src + 2 * x) & amask)
                return true;
        return false;
    }
    if (header.bitCount != 32)
        return false;
    std::uint32_t any = 0;
    for (int x = 0; x < header.width; ++x)
        any |= u32(src + 4 * x) & amask;
    return any != 0;
}

// Unwritten pixels keep palette index 0.
void DibDecoder::decodeRle()
{
    try {
        m_rle.assign(size_t(m_header.width) * size_t(m_header.height), 0);
    } catch (const std::bad_alloc&) {
        throwOutOfMemory();
    }
    RleDecoder(m_data + m_header.bitsOffset, m_data + m_size, m_header, m_rle.data()).decode();
}

const std::uint8_t* DibDecoder::storedRow(std::int64_t stored) const
{
    return m_data + m_header.bitsOffset + m_header.stride * stored;
}

void DibDecoder::decodeRow(int y, std::uint32_t* out) const
{
    const int w = m_header.width;
    const std::int64_t stored = m_header.topDown ? y : m_header.height - 1 - y;
    if (!m_rle.empty()) {
        indexedRow<8>(m_rle.data() + stored * w, m_palette, w, out);
        return;
    }
    decodeStoredRow(storedRow(stored), out);
    if (m_applyMask)
        applyAndMask(stored, out);
}

void DibDecoder::decodeStoredRow(const std::uint8_t* src, std::uint32_t* out) const
{
    const int w = m_header.width;
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
            out[x] = 0xFF000000u | (std::uint32_t(src[2]) << 16) | (std::uint32_t(src[1]) << 8)
                | src[0];
        break;
    case 32:
        decode32(src, out);
        break;
    }
}

void DibDecoder::decode32(const std::uint8_t* src, std::uint32_t* out) const
{
    const int w = m_header.width;
    if (!m_standard32) {
        const auto& c = m_channels;
        for (int x = 0; x < w; ++x) {
            const std::uint32_t px = u32(src + 4 * x);
            out[x] = rgba(c[0].mask ? int(c[0].get(px)) : 0, c[1].mask ? int(c[1].get(px)) : 0,
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
void DibDecoder::applyAndMask(std::int64_t stored, std::uint32_t* out) const
{
    const std::uint8_t* mask = m_data + m_header.maskOffset + m_header.maskStride * stored;
    for (int x = 0; x < m_header.width; ++x)
        out[x] = (mask[x >> 3] >> (7 - (x & 7))) & 1 ? 0 : out[x] | 0xFF000000u;
}

} // namespace BmpDecode
