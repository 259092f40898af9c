#include "tools/png2bmp/FastPng.h"

#include "tools/common/ToolSupport.h"

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

[[noreturn]] void fail(const QByteArray& name, const char* reason)
{
    throw ToolError(name, QString::fromLatin1(reason));
}

void readExactly(FILE* file, const QByteArray& name, void* to, size_t n)
{
    if (std::fread(to, 1, n, file) != n)
        fail(name, std::ferror(file) ? std::strerror(errno) : "file ends early");
}

struct ChunkHeader
{
    std::uint32_t length;
    unsigned char type[4];
};

ChunkHeader readChunkHeader(FILE* file, const QByteArray& name)
{
    unsigned char bytes[8];
    readExactly(file, name, bytes, sizeof bytes);
    ChunkHeader h { be32(bytes), {} };
    std::memcpy(h.type, bytes + 4, 4);
    if (h.length > 0x7fffffffu)
        fail(name, "chunk too long");
    return h;
}

// Reads a chunk's data and its CRC and checks the two.
void readChunkData(
    FILE* file, const QByteArray& name, const ChunkHeader& h, std::vector<unsigned char>& data)
{
    // The declared length must fit in what is left of the file before it is allocated.
    struct stat st;
    const long at = std::ftell(file);
    if (::fstat(::fileno(file), &st) != 0 || at < 0
        || qint64(h.length) + 4 > qint64(st.st_size) - at)
        fail(name, "file ends early");
    data.resize(h.length);
    if (h.length)
        readExactly(file, name, data.data(), h.length);
    unsigned char crcBytes[4];
    readExactly(file, name, crcBytes, 4);
    uLong crc = crc32(0, h.type, 4);
    if (!data.empty()) // crc32() with a null buffer starts afresh
        crc = crc32(crc, data.data(), uInt(data.size()));
    if (crc != be32(crcBytes))
        fail(name, "CRC error");
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
void toPixels(const unsigned char* s, QRgb* out, std::uint32_t width, bool alpha)
{
    if (alpha) {
        for (std::uint32_t x = 0; x < width; ++x, s += 4)
            out[x] = qRgba(s[0], s[1], s[2], s[3]);
    } else {
        for (std::uint32_t x = 0; x < width; ++x, s += 3)
            out[x] = qRgb(s[0], s[1], s[2]);
    }
}

// Owns the inflate stream.
struct Inflater
{
    z_stream z {};
    explicit Inflater(const QByteArray& name)
    {
        if (inflateInit(&z) != Z_OK)
            fail(name, "out of memory");
    }
    ~Inflater() { inflateEnd(&z); }
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;
};

} // namespace

std::optional<Plan> examine(FILE* file, const QByteArray& name)
{
    std::vector<unsigned char> data;
    const ChunkHeader ihdr = readChunkHeader(file, name);
    if (!isType(ihdr.type, "IHDR") || ihdr.length != 13)
        fail(name, "IHDR: missing or malformed");
    readChunkData(file, name, ihdr, data);
    Plan plan { be32(data.data()), be32(data.data() + 4), data[9] == 6, -1 };
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
        if (std::fseek(file, long(h.length) + 4, SEEK_CUR) != 0)
            fail(name, "file ends early");
    }
    if (std::fseek(file, signatureSize, SEEK_SET) != 0)
        fail(name, std::strerror(errno));
    if (plan.firstIdat < 0)
        return std::nullopt;
    return plan;
}

void decode(FILE* file, const QByteArray& name, const Plan& plan, Bmp::RowWriter& writer)
{
    if (std::fseek(file, plan.firstIdat, SEEK_SET) != 0)
        fail(name, std::strerror(errno));
    const int bpp = plan.alpha ? 4 : 3;
    const size_t rowBytes = size_t(plan.width) * bpp;
    // One filter byte, then the samples; the previous row starts as zeros.
    std::vector<unsigned char> current(rowBytes + 1), previous(rowBytes + 1, 0);
    std::vector<QRgb> pixels(plan.width);
    std::vector<unsigned char> chunk;
    Inflater inflater(name);
    z_stream& z = inflater.z;

    std::uint32_t row = 0;
    bool streamEnded = false;
    z.next_out = current.data();
    z.avail_out = uInt(current.size());
    while (row < plan.height || !streamEnded) {
        if (z.avail_in == 0) {
            const ChunkHeader h = readChunkHeader(file, name);
            if (!isType(h.type, "IDAT")) {
                // Image data ends with the IDAT chunks; the picture must be whole by then.
                if (row < plan.height)
                    fail(name, "not enough image data");
                if (critical(h.type) && !isType(h.type, "IEND"))
                    fail(name, "unexpected chunk after image data");
                readChunkData(file, name, h, chunk);
                if (isType(h.type, "IEND"))
                    return;
                break;
            }
            readChunkData(file, name, h, chunk);
            z.next_in = chunk.data();
            z.avail_in = uInt(chunk.size());
            if (chunk.empty())
                continue;
        }
        unsigned char spare[256];
        if (row == plan.height) {
            // Past the last row only the stream's end should follow; extra data is let
            // pass, as libpng lets it.
            z.next_out = spare;
            z.avail_out = sizeof spare;
        }
        const int rc = inflate(&z, Z_NO_FLUSH);
        if (rc == Z_STREAM_END)
            streamEnded = true;
        else if (rc != Z_OK && !(rc == Z_BUF_ERROR && z.avail_in == 0))
            fail(name, z.msg ? z.msg : "damaged image data");
        if (row == plan.height)
            continue;
        if (z.avail_out == 0) {
            const int filter = current[0];
            if (filter > 4)
                fail(name, "bad adaptive filter value");
            if (bpp == 4)
                unfilter<4>(filter, current.data() + 1, previous.data() + 1, rowBytes);
            else
                unfilter<3>(filter, current.data() + 1, previous.data() + 1, rowBytes);
            toPixels(current.data() + 1, pixels.data(), plan.width, plan.alpha);
            writer.writeRow(pixels.data());
            current.swap(previous);
            ++row;
            z.next_out = current.data();
            z.avail_out = uInt(current.size());
        } else if (streamEnded) {
            fail(name, "not enough image data");
        }
    }
    // The rest of the file up to IEND: ancillary chunks, checked critical ones.
    std::vector<unsigned char> data;
    for (;;) {
        const ChunkHeader h = readChunkHeader(file, name);
        if (isType(h.type, "IDAT")) {
            readChunkData(file, name, h, data); // left-over image data: ignored
            continue;
        }
        if (critical(h.type) && !isType(h.type, "IEND"))
            fail(name, "unexpected chunk after image data");
        readChunkData(file, name, h, data);
        if (isType(h.type, "IEND"))
            return;
    }
}

} // namespace FastPng
