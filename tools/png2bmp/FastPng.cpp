// SPDX-License-Identifier: MIT

#include "tools/png2bmp/FastPng.h"

#include "tools/common/ToolSupport.h"
#include "tools/png2bmp/PngColour.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <emmintrin.h>
#include <exception>
#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>
#include <memory>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <vector>

using ToolSupport::ToolError;

namespace FastPng {
namespace {

constexpr long signatureSize = 8;

// A chunk: its data's length and its type, the data, a CRC of type and data.
constexpr int chunkHeaderSize = 8;
constexpr int chunkTypeAt = 4;
constexpr int crcSize = 4;

// The IHDR chunk's data, one place per field.
namespace Ihdr {
constexpr std::uint32_t length = 13;
constexpr int width = 0;
constexpr int height = 4;
constexpr int bitDepth = 8;
constexpr int colourType = 9;
constexpr int compression = 10;
constexpr int filter = 11;
constexpr int interlace = 12;

constexpr int rgb = 2; // colour types
constexpr int rgba = 6;
} // namespace Ihdr

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
    unsigned char bytes[chunkHeaderSize];
    readExactly(file, name, bytes, sizeof bytes);
    ChunkHeader h { be32(bytes), {} };
    std::memcpy(h.type, bytes + chunkTypeAt, sizeof h.type);
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
        || std::int64_t(h.length) + crcSize > std::int64_t(st.st_size) - at)
        fail(name, "file ends early");
    data.resize(h.length);
    if (h.length)
        readExactly(file, name, data.data(), h.length);
    unsigned char crcBytes[crcSize];
    readExactly(file, name, crcBytes, crcSize);
    // ISA-L's CRC-32 is the one PNG uses, and several times zlib's speed.
    std::uint32_t crc = crc32_gzip_refl(0, h.type, sizeof h.type);
    if (!data.empty())
        crc = crc32_gzip_refl(crc, data.data(), data.size());
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
    if (iccp && h.length > Limits::maxProfileSize) {
        if (std::fseek(file, long(h.length) + crcSize, SEEK_CUR) != 0)
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
        ImageCore::PngChromaticities c;
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

// Byte by byte: 3-byte pixels moved in and out of a register one at a time come out slower.
template <int Bpp>
void unfilterBytes(int filter, unsigned char* cur, const unsigned char* prev, size_t n)
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

// One RGBA pixel, widened to 16-bit lanes.
__m128i loadPixel(const unsigned char* p)
{
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return _mm_unpacklo_epi8(_mm_cvtsi32_si128(int(v)), _mm_setzero_si128());
}

void storePixel(unsigned char* p, __m128i lanes)
{
    const auto v = std::uint32_t(_mm_cvtsi128_si32(_mm_packus_epi16(lanes, lanes)));
    std::memcpy(p, &v, 4);
}

// Sub, Average and Paeth depend on the pixel just decoded, so they go a pixel at a time, but
// with the pixel's four channels side by side in one register. The pixel before the first is
// zero, which gives the first pixel's own rule.
template <int Filter>
void unfilterRgbaPixels(unsigned char* cur, const unsigned char* prev, size_t n)
{
    const __m128i low = _mm_set1_epi16(0xff), zero = _mm_setzero_si128();
    __m128i a = zero, c = zero;
    for (size_t i = 0; i < n; i += 4) {
        const __m128i x = loadPixel(cur + i);
        __m128i predicted = a;
        if constexpr (Filter == 3) {
            predicted = _mm_srli_epi16(_mm_add_epi16(a, loadPixel(prev + i)), 1);
        } else if constexpr (Filter == 4) {
            const __m128i b = loadPixel(prev + i);
            const __m128i toB = _mm_sub_epi16(b, c), toA = _mm_sub_epi16(a, c);
            const __m128i both = _mm_add_epi16(toA, toB);
            const __m128i pa = _mm_max_epi16(toB, _mm_sub_epi16(zero, toB));
            const __m128i pb = _mm_max_epi16(toA, _mm_sub_epi16(zero, toA));
            const __m128i pc = _mm_max_epi16(both, _mm_sub_epi16(zero, both));
            const __m128i least = _mm_min_epi16(pc, _mm_min_epi16(pa, pb));
            // Ties go to a, then b, then c.
            const __m128i isB = _mm_cmpeq_epi16(least, pb), isA = _mm_cmpeq_epi16(least, pa);
            predicted = _mm_or_si128(_mm_and_si128(isB, b), _mm_andnot_si128(isB, c));
            predicted = _mm_or_si128(_mm_and_si128(isA, a), _mm_andnot_si128(isA, predicted));
            c = b;
        }
        a = _mm_and_si128(_mm_add_epi16(x, predicted), low);
        storePixel(cur + i, a);
    }
}

void unfilterRgba(int filter, unsigned char* cur, const unsigned char* prev, size_t n)
{
    switch (filter) {
    case 1:
        unfilterRgbaPixels<1>(cur, prev, n);
        break;
    case 3:
        unfilterRgbaPixels<3>(cur, prev, n);
        break;
    case 4:
        unfilterRgbaPixels<4>(cur, prev, n);
        break;
    default:
        unfilterBytes<4>(filter, cur, prev, n);
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

// The zlib header's two bytes, judged as zlib judges them.
void checkZlibHeader(const unsigned char* header, const std::string& name)
{
    if ((header[0] << 8 | header[1]) % 31 != 0)
        fail(name, "incorrect header check");
    if ((header[0] & 0x0f) != 8)
        fail(name, "unknown compression method");
    if ((header[0] >> 4) > 7)
        fail(name, "invalid window size");
    if (header[1] & 0x20) // a preset dictionary, which no PNG has
        fail(name, "damaged image data");
}

// What an inflate failure says, in zlib's words where they mean the same.
const char* inflateError(int rc)
{
    switch (rc) {
    case ISAL_INVALID_BLOCK:
        return "invalid deflate block";
    case ISAL_INVALID_SYMBOL:
        return "invalid literal/length or distance code";
    case ISAL_INVALID_LOOKBACK:
        return "invalid distance too far back";
    case ISAL_INCORRECT_CHECKSUM:
        return "incorrect data check";
    default:
        return "damaged image data";
    }
}

// ISA-L's inflate, about three times zlib's speed on photographs. The zlib header is read
// here, so that it is judged as zlib and libpng judge it; ISA-L inflates the rest and checks
// the Adler-32 that follows the deflate data.
class Inflater
{
public:
    Inflater()
        : m_state(std::make_unique<inflate_state>()) // too large for the stack
    {
        isal_inflate_init(m_state.get());
        m_state->crc_flag = ISAL_ZLIB_NO_HDR_VER;
    }

    inflate_state& state() { return *m_state; }

    // Takes the header's bytes from the input as they come; true once it is whole and good.
    bool takeHeader(const std::string& name)
    {
        inflate_state& s = *m_state;
        while (m_headerBytes < 2 && s.avail_in > 0) {
            m_header[m_headerBytes++] = *s.next_in++;
            --s.avail_in;
            if (m_headerBytes == 2)
                checkZlibHeader(m_header, name);
        }
        return m_headerBytes == 2;
    }

private:
    std::unique_ptr<inflate_state> m_state;
    unsigned char m_header[2] {};
    int m_headerBytes = 0;
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

// Unfilters rows and hands their pixels to the writer. With enough pixels to pay for a thread
// it does so on a second thread while the inflate goes on: the two take about the same time.
// Rows pass through a ring of slots; a slot is refilled once the row after it, which reads it
// as its previous row, is done. The last slot starts as the zeros before the first row. Each side
// wakes the other only every few rows, so that the two do not take turns row by row.
class RowPipeline
{
public:
    RowPipeline(const Plan& plan, BmpCore::RowWriter& writer)
        : m_plan(plan)
        , m_writer(writer)
        , m_bpp(plan.alpha ? 4 : 3)
        , m_rowBytes(size_t(plan.width) * m_bpp)
        , m_threaded(m_rowBytes * plan.height >= threadFrom)
        , m_slotCount(m_threaded ? slotCount(m_rowBytes) : 2)
        , m_wakeEvery(std::max<std::uint64_t>(1, m_slotCount / 4))
        , m_ring(m_slotCount * (m_rowBytes + 1))
        , m_pixels(plan.width)
    {
        if (!m_threaded)
            return;
        try {
            m_thread = std::thread([this] { consume(); });
        } catch (const std::system_error&) {
            // No thread to be had: the rows are written on this one, as small pictures' are.
        }
    }

    ~RowPipeline() { stop(); }

    // Where the next row's filter byte and samples go; nullptr once the writer has failed.
    unsigned char* nextSlot()
    {
        if (m_thread.joinable() && m_pushed + 1 >= m_slotCount) {
            // The slot's last row must have been read as the previous row of the one after it.
            const std::uint64_t needed = m_pushed - m_slotCount + 2;
            std::uint64_t done = m_processed.load(std::memory_order_acquire);
            for (; done < needed; done = m_processed.load(std::memory_order_acquire))
                m_processed.wait(done, std::memory_order_acquire);
        }
        return m_failed.load(std::memory_order_acquire) ? nullptr : slot(m_pushed);
    }

    // The slot from nextSlot() holds a whole row.
    void push()
    {
        if (!m_thread.joinable()) {
            processRow(m_pushed++);
            return;
        }
        m_published.store(++m_pushed, std::memory_order_release);
        if (m_pushed % m_wakeEvery == 0)
            m_published.notify_one();
    }

    // Waits for the rows pushed so far; rethrows the writer's failure, which comes first.
    void finish()
    {
        stop();
        if (m_error)
            std::rethrow_exception(m_error);
    }

private:
    static constexpr size_t threadFrom = 256 * 1024; // bytes of samples
    static constexpr size_t ringBytes = 1 << 20;
    static constexpr std::uint64_t ended = std::uint64_t(1) << 63; // in m_published

    static size_t slotCount(size_t rowBytes)
    {
        return std::clamp<size_t>(ringBytes / (rowBytes + 1), 3, 64);
    }

    unsigned char* slot(std::uint64_t row)
    {
        return &m_ring[(row % m_slotCount) * (m_rowBytes + 1)];
    }

    void processRow(std::uint64_t row)
    {
        unsigned char* cur = slot(row);
        const unsigned char* prev = slot(row == 0 ? m_slotCount - 1 : row - 1);
        if (m_bpp == 4)
            unfilterRgba(cur[0], cur + 1, prev + 1, m_rowBytes);
        else
            unfilterBytes<3>(cur[0], cur + 1, prev + 1, m_rowBytes);
        toPixels(cur + 1, m_pixels.data(), m_plan.width, m_plan.alpha);
        m_writer.writeRow(m_pixels.data());
    }

    // Whether `row` has been pushed, waiting until it has or no more will come.
    bool waitForRow(std::uint64_t row)
    {
        std::uint64_t published = m_published.load(std::memory_order_acquire);
        while ((published & ~ended) <= row) {
            if (published & ended)
                return false;
            m_published.wait(published, std::memory_order_acquire);
            published = m_published.load(std::memory_order_acquire);
        }
        return true;
    }

    void consume()
    {
        try {
            for (std::uint64_t row = 0; row < m_plan.height && waitForRow(row); ++row) {
                processRow(row);
                m_processed.store(row + 1, std::memory_order_release);
                if ((row + 1) % m_wakeEvery == 0)
                    m_processed.notify_one();
            }
        } catch (...) {
            m_error = std::current_exception();
            m_failed.store(true, std::memory_order_release);
            m_processed.store(~std::uint64_t(0), std::memory_order_release);
            m_processed.notify_one();
        }
    }

    void stop()
    {
        if (!m_thread.joinable())
            return;
        m_published.store(m_pushed | ended, std::memory_order_release);
        m_published.notify_one();
        m_thread.join();
    }

    const Plan& m_plan;
    BmpCore::RowWriter& m_writer;
    const int m_bpp;
    const size_t m_rowBytes;
    const bool m_threaded;
    const size_t m_slotCount;
    const std::uint64_t m_wakeEvery;
    std::vector<unsigned char> m_ring;
    std::vector<std::uint32_t> m_pixels;
    std::uint64_t m_pushed = 0; // the inflating side's own count
    std::atomic<std::uint64_t> m_published = 0; // rows pushed, `ended` once no more will come
    std::atomic<std::uint64_t> m_processed = 0; // rows written
    std::atomic<bool> m_failed = false;
    std::exception_ptr m_error;
    std::thread m_thread;
};

// Inflates the IDAT chunks one row at a time and hands each row on to be unfiltered and written.
class RowDecoder
{
public:
    struct WriterFailed
    {
    }; // the pipeline holds the writer's own error

    RowDecoder(FILE* file, const std::string& name, const Plan& plan, RowPipeline& rows)
        : m_file(file)
        , m_name(name)
        , m_plan(plan)
        , m_rows(rows)
        , m_rowBytes(size_t(plan.width) * (plan.alpha ? 4 : 3))
    {
        startRow();
    }

    // Decodes every row and the end of the zlib stream; true when IEND has been read too.
    bool decode()
    {
        inflate_state& s = m_inflater.state();
        while (m_row < m_plan.height || !m_streamEnded) {
            if (m_needInput) {
                const ChunkHeader h = readChunkHeader(m_file, m_name);
                if (!isType(h.type, "IDAT")) {
                    // Image data ends with the IDAT chunks; the picture must be whole by then.
                    if (m_row < m_plan.height)
                        fail(m_name, "not enough image data");
                    return afterImageData(m_file, m_name, h, m_chunk);
                }
                readChunkData(m_file, m_name, h, m_chunk);
                s.next_in = m_chunk.data();
                s.avail_in = std::uint32_t(m_chunk.size());
                m_needInput = m_chunk.empty();
                continue;
            }
            inflateSome();
        }
        return false;
    }

private:
    void inflateSome()
    {
        inflate_state& s = m_inflater.state();
        if (!m_inflater.takeHeader(m_name)) {
            m_needInput = true;
            return;
        }
        const bool pastLastRow = m_row == m_plan.height;
        if (pastLastRow) {
            // Past the last row only the stream's end should follow; extra data is let
            // pass, as libpng lets it.
            s.next_out = m_spare;
            s.avail_out = sizeof m_spare;
        }
        const std::uint32_t inBefore = s.avail_in;
        const std::uint32_t outBefore = s.avail_out;
        const int rc = isal_inflate(&s);
        if (rc < 0)
            fail(m_name, inflateError(rc));
        if (s.block_state == ISAL_BLOCK_FINISH)
            m_streamEnded = true;
        else if (inBefore > 0 && s.avail_in == inBefore && s.avail_out == outBefore)
            fail(m_name, "damaged image data"); // stuck: neither input taken nor output given
        // ISA-L inflates ahead into a buffer of its own and hands that out first: more input
        // is wanted only when the output was not filled.
        m_needInput = !m_streamEnded && s.avail_in == 0 && s.avail_out > 0;
        if (pastLastRow)
            return;
        if (s.avail_out == 0)
            rowDone();
        else if (m_streamEnded)
            fail(m_name, "not enough image data");
    }

    // One filter byte, then the samples; checked here so that a bad one is found in row order.
    void rowDone()
    {
        if (m_slot[0] > 4)
            fail(m_name, "bad adaptive filter value");
        m_rows.push();
        ++m_row;
        if (m_row < m_plan.height)
            startRow();
    }

    void startRow()
    {
        m_slot = m_rows.nextSlot();
        if (!m_slot)
            throw WriterFailed {};
        m_inflater.state().next_out = m_slot;
        m_inflater.state().avail_out = std::uint32_t(m_rowBytes + 1);
    }

    FILE* m_file;
    const std::string& m_name;
    const Plan& m_plan;
    RowPipeline& m_rows;
    const size_t m_rowBytes;
    unsigned char* m_slot = nullptr;
    std::vector<unsigned char> m_chunk;
    Inflater m_inflater;
    unsigned char m_spare[256];
    std::uint32_t m_row = 0;
    bool m_needInput = true;
    bool m_streamEnded = false;
};

} // namespace

std::optional<Plan> examine(FILE* file, const std::string& name)
{
    std::vector<unsigned char> data;
    const ChunkHeader ihdr = readChunkHeader(file, name);
    if (!isType(ihdr.type, "IHDR") || ihdr.length != Ihdr::length)
        fail(name, "IHDR: missing or malformed");
    readChunkData(file, name, ihdr, data);
    const int colourType = data[Ihdr::colourType];
    Plan plan { be32(data.data() + Ihdr::width), be32(data.data() + Ihdr::height),
        colourType == Ihdr::rgba, -1, {} };
    PngColour colour;
    const bool eligible = data[Ihdr::bitDepth] == 8
        && (colourType == Ihdr::rgb || colourType == Ihdr::rgba) && data[Ihdr::compression] == 0
        && data[Ihdr::filter] == 0 && data[Ihdr::interlace] == 0 && plan.width > 0
        && plan.height > 0;
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
        if (std::fseek(file, long(h.length) + crcSize, SEEK_CUR) != 0)
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
    RowPipeline rows(plan, writer);
    bool atEnd = false;
    try {
        atEnd = RowDecoder(file, name, plan, rows).decode();
    } catch (const RowDecoder::WriterFailed&) {
        rows.finish(); // rethrows the writer's error
    } catch (...) {
        // A writer failure on an earlier row is what the caller hears of first.
        rows.finish();
        throw;
    }
    rows.finish();
    if (atEnd)
        return;
    // The rest of the file up to IEND.
    std::vector<unsigned char> data;
    while (!afterImageData(file, name, readChunkHeader(file, name), data)) { }
}

} // namespace FastPng
