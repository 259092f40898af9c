// SPDX-License-Identifier: MIT

#include "tools/png2bmp/FastPng.h"

#include "tools/common/ToolSupport.h"
#include "tools/png2bmp/PngColour.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <vector>
#include <zlib.h>

using ToolSupport::ToolError;

namespace FastPng {
namespace {

constexpr long signatureSize = 8;

std::uint32_t be32(const unsigned char* p)
{
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

bool isType(const unsigned char* type, const char* name)
{
    return std::memcmp(type, name, 4) == 0;
}

[[noreturn]] void fail(const std::string& name, const char* reason)
{
    throw ToolError(name, reason);
}

void readExactly(FILE* file, const std::string& name, void* to, size_t n)
{
    if (std::fread(to, 1, n, file) != n)
        fail(name, std::ferror(file) ? std::strerror(errno) : "file ends early");
}

struct ChunkHeader
{
    std::uint32_t length;
    unsigned char type[4];
};

ChunkHeader readChunkHeader(FILE* file, const std::string& name)
{
    unsigned char bytes[8];
    readExactly(file, name, bytes, sizeof bytes);
    ChunkHeader h { be32(bytes), {} };
    std::memcpy(h.type, bytes + 4, 4);
    if (h.length > 0x7fffffffu)
        fail(name, "chunk too long");
    return h;
}

// Reads a chunk's data and its CRC; false when the two disagree.
bool readChunkChecked(
    FILE* file, const std::string& name, const ChunkHeader& h, std::vector<unsigned char>& data)
{
    // The declared length must fit in what is left of the file before it is allocated.
    struct stat st;
    const long at = std::ftell(file);
    if (::fstat(::fileno(file), &st) != 0 || at < 0
        || std::int64_t(h.length) + 4 > std::int64_t(st.st_size) - at)
        fail(name, "file ends early");
    data.resize(h.length);
    if (h.length)
        readExactly(file, name, data.data(), h.length);
    unsigned char crcBytes[4];
    readExactly(file, name, crcBytes, 4);
    uLong crc = crc32(0, h.type, 4);
    if (!data.empty()) // crc32() with a null buffer starts afresh
        crc = crc32(crc, data.data(), uInt(data.size()));
    return crc == be32(crcBytes);
}

// Reads a chunk's data and its CRC and checks the two.
void readChunkData(
    FILE* file, const std::string& name, const ChunkHeader& h, std::vector<unsigned char>& data)
{
    if (!readChunkChecked(file, name, h, data))
        fail(name, "CRC error");
}

// Takes in a colour chunk; true when `h` is one. One with a wrong CRC is left out, as
// libpng leaves out a damaged ancillary chunk.
bool colourChunk(FILE* file, const std::string& name, const ChunkHeader& h, PngColour& colour)
{
    const bool iccp = isType(h.type, "iCCP"), srgb = isType(h.type, "sRGB"),
               gama = isType(h.type, "gAMA"), chrm = isType(h.type, "cHRM");
    if (!iccp && !srgb && !gama && !chrm)
        return false;
    if (iccp && h.length > BmpCore::maxProfileSize) {
        if (std::fseek(file, long(h.length) + 4, SEEK_CUR) != 0)
            fail(name, "file ends early");
        return true;
    }
    std::vector<unsigned char> data;
    if (!readChunkChecked(file, name, h, data))
        return true;
    if (iccp)
        colour.iccpChunk(data.data(), data.size());
    else if (srgb && data.size() == 1)
        colour.srgb(data[0]);
    else if (gama && data.size() == 4)
        colour.gamma(be32(data.data()));
    else if (chrm && data.size() == 32) {
        BmpCore::PngChromaticities c;
        for (size_t i = 0; i < c.values.size(); ++i)
            c.values[i] = be32(data.data() + 4 * i);
        colour.chromaticities(c);
    }
    return true;
}

bool critical(const unsigned char* type)
{
    return (type[0] & 0x20) == 0;
}

// The Paeth predictor, without branches: the neighbour nearest to a + b - c.
inline int paeth(int a, int b, int c)
{
    const int pa = std::abs(b - c);
    const int pb = std::abs(a - c);
    const int pc = std::abs(a + b - 2 * c);
    const int ab = pa <= pb ? a : b;
    const int pab = pa <= pb ? pa : pb;
    return pab <= pc ? ab : c;
}

template <int Bpp>
void unfilter(int filter, unsigned char* cur, const unsigned char* prev, size_t n)
{
    switch (filter) {
    case 0:
        break;
    case 1:
        for (size_t i = Bpp; i < n; ++i)
            cur[i] = static_cast<unsigned char>(cur[i] + cur[i - Bpp]);
        break;
    case 2:
        for (size_t i = 0; i < n; ++i)
            cur[i] = static_cast<unsigned char>(cur[i] + prev[i]);
        break;
    case 3:
        for (size_t i = 0; i < Bpp; ++i)
            cur[i] = static_cast<unsigned char>(cur[i] + (prev[i] >> 1));
        for (size_t i = Bpp; i < n; ++i)
            cur[i] = static_cast<unsigned char>(cur[i] + ((cur[i - Bpp] + prev[i]) >> 1));
        break;
    case 4:
        for (size_t i = 0; i < Bpp; ++i)
            cur[i] = static_cast<unsigned char>(cur[i] + prev[i]);
        for (size_t i = Bpp; i < n; i += Bpp)
            for (int k = 0; k < Bpp; ++k)
                cur[i + k] = static_cast<unsigned char>(
                    cur[i + k] + paeth(cur[i + k - Bpp], prev[i + k], prev[i + k - Bpp]));
        break;
    }
}

// 8-bit RGB or RGBA samples to 0xAARRGGBB.
void toPixels(const unsigned char* s, std::uint32_t* out, std::uint32_t width, bool alpha)
{
    if (alpha) {
        for (std::uint32_t x = 0; x < width; ++x, s += 4)
            out[x] = std::uint32_t(s[3]) << 24 | std::uint32_t(s[0]) << 16
                | std::uint32_t(s[1]) << 8 | s[2];
    } else {
        for (std::uint32_t x = 0; x < width; ++x, s += 3)
            out[x] = 0xFF000000u | std::uint32_t(s[0]) << 16 | std::uint32_t(s[1]) << 8 | s[2];
    }
}

// Owns the inflate stream.
struct Inflater
{
    z_stream z {};
    explicit Inflater(const std::string& name)
    {
        if (inflateInit(&z) != Z_OK)
            fail(name, "out of memory");
    }
    ~Inflater() { inflateEnd(&z); }
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;
};

// One chunk after the image data: left-over IDAT data is ignored, ancillary chunks are
// checked and skipped, a critical chunk other than IEND is refused. True at IEND.
bool afterImageData(
    FILE* file, const std::string& name, const ChunkHeader& h, std::vector<unsigned char>& data)
{
    if (!isType(h.type, "IDAT") && critical(h.type) && !isType(h.type, "IEND"))
        fail(name, "unexpected chunk after image data");
    readChunkData(file, name, h, data);
    return isType(h.type, "IEND");
}

// Inflates the IDAT chunks one row at a time, unfilters each row and writes its pixels.
class RowDecoder
{
public:
    RowDecoder(FILE* file, const std::string& name, const Plan& plan, BmpCore::RowWriter& writer)
        : m_file(file)
        , m_name(name)
        , m_plan(plan)
        , m_writer(writer)
        , m_bpp(plan.alpha ? 4 : 3)
        , m_rowBytes(size_t(plan.width) * m_bpp)
        , m_current(m_rowBytes + 1)
        , m_previous(m_rowBytes + 1, 0)
        , m_pixels(plan.width)
        , m_inflater(name)
    {
        m_inflater.z.next_out = m_current.data();
        m_inflater.z.avail_out = uInt(m_current.size());
    }

    // Decodes every row and the end of the zlib stream; true when IEND has been read too.
    bool decode()
    {
        z_stream& z = m_inflater.z;
        while (m_row < m_plan.height || !m_streamEnded) {
            if (z.avail_in == 0) {
                const ChunkHeader h = readChunkHeader(m_file, m_name);
                if (!isType(h.type, "IDAT")) {
                    // Image data ends with the IDAT chunks; the picture must be whole by then.
                    if (m_row < m_plan.height)
                        fail(m_name, "not enough image data");
                    return afterImageData(m_file, m_name, h, m_chunk);
                }
                readChunkData(m_file, m_name, h, m_chunk);
                z.next_in = m_chunk.data();
                z.avail_in = uInt(m_chunk.size());
                if (m_chunk.empty())
                    continue;
            }
            inflateSome();
        }
        return false;
    }

private:
    void inflateSome()
    {
        z_stream& z = m_inflater.z;
        const bool pastLastRow = m_row == m_plan.height;
        if (pastLastRow) {
            // Past the last row only the stream's end should follow; extra data is let
            // pass, as libpng lets it.
            z.next_out = m_spare;
            z.avail_out = sizeof m_spare;
        }
        const int rc = inflate(&z, Z_NO_FLUSH);
        if (rc == Z_STREAM_END)
            m_streamEnded = true;
        else if (rc != Z_OK && !(rc == Z_BUF_ERROR && z.avail_in == 0))
            fail(m_name, z.msg ? z.msg : "damaged image data");
        if (pastLastRow)
            return;
        if (z.avail_out == 0)
            writeRow();
        else if (m_streamEnded)
            fail(m_name, "not enough image data");
    }

    // One filter byte, then the samples; the previous row starts as zeros.
    void writeRow()
    {
        const int filter = m_current[0];
        if (filter > 4)
            fail(m_name, "bad adaptive filter value");
        if (m_bpp == 4)
            unfilter<4>(filter, m_current.data() + 1, m_previous.data() + 1, m_rowBytes);
        else
            unfilter<3>(filter, m_current.data() + 1, m_previous.data() + 1, m_rowBytes);
        toPixels(m_current.data() + 1, m_pixels.data(), m_plan.width, m_plan.alpha);
        m_writer.writeRow(m_pixels.data());
        m_current.swap(m_previous);
        ++m_row;
        m_inflater.z.next_out = m_current.data();
        m_inflater.z.avail_out = uInt(m_current.size());
    }

    FILE* m_file;
    const std::string& m_name;
    const Plan& m_plan;
    BmpCore::RowWriter& m_writer;
    const int m_bpp;
    const size_t m_rowBytes;
    std::vector<unsigned char> m_current;
    std::vector<unsigned char> m_previous;
    std::vector<std::uint32_t> m_pixels;
    std::vector<unsigned char> m_chunk;
    Inflater m_inflater;
    unsigned char m_spare[256];
    std::uint32_t m_row = 0;
    bool m_streamEnded = false;
};

} // namespace

std::optional<Plan> examine(FILE* file, const std::string& name)
{
    std::vector<unsigned char> data;
    const ChunkHeader ihdr = readChunkHeader(file, name);
    if (!isType(ihdr.type, "IHDR") || ihdr.length != 13)
        fail(name, "IHDR: missing or malformed");
    readChunkData(file, name, ihdr, data);
    Plan plan { be32(data.data()), be32(data.data() + 4), data[9] == 6, -1, {} };
    PngColour colour;
    const bool eligible = data[8] == 8 && (data[9] == 2 || data[9] == 6) && data[10] == 0
        && data[11] == 0 && data[12] == 0 && plan.width > 0 && plan.height > 0;
    while (eligible) {
        const long at = std::ftell(file);
        const ChunkHeader h = readChunkHeader(file, name);
        if (isType(h.type, "IDAT")) {
            plan.firstIdat = at;
            break;
        }
        // tRNS would add transparency and anything critical but a suggested palette is
        // libpng's to judge.
        if (isType(h.type, "tRNS") || (critical(h.type) && !isType(h.type, "PLTE")))
            break;
        if (colourChunk(file, name, h, colour))
            continue;
        if (std::fseek(file, long(h.length) + 4, SEEK_CUR) != 0)
            fail(name, "file ends early");
    }
    if (std::fseek(file, signatureSize, SEEK_SET) != 0)
        fail(name, std::strerror(errno));
    if (plan.firstIdat < 0)
        return std::nullopt;
    plan.colour = colour.colourSpace();
    return plan;
}

void decode(FILE* file, const std::string& name, const Plan& plan, BmpCore::RowWriter& writer)
{
    if (std::fseek(file, plan.firstIdat, SEEK_SET) != 0)
        fail(name, std::strerror(errno));
    if (RowDecoder(file, name, plan, writer).decode())
        return;
    // The rest of the file up to IEND.
    std::vector<unsigned char> data;
    while (!afterImageData(file, name, readChunkHeader(file, name), data)) { }
}

} // namespace FastPng
