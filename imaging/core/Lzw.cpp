// SPDX-License-Identifier: MIT

#include "imaging/core/Lzw.h"

#include <algorithm>
#include <cstring>

namespace ImageCore {
namespace {

constexpr std::uint32_t clearCode = 256;
constexpr std::uint32_t endCode = 257;
constexpr std::uint32_t firstFree = 258;
// Readers widen to 13 bits once the table holds 4095 entries (they lag the writer by one), so
// the table is cleared before then, at the point libtiff's own writer clears it.
constexpr std::uint32_t fullAt = 4094;
// No code is ever 4095, so a prefix of it finds nothing: the first byte of a strip.
constexpr std::uint32_t noPrefix = 4095;
// Open-addressed slots for strings of three bytes and more, at most a quarter
// full.
constexpr int slotBits = 14;
constexpr std::uint32_t slotMask = (1u << slotBits) - 1;

// Strings of two bytes, most of a photograph's, are looked up directly in `pairs` (first
// byte << 8 | second byte, 0 for none); longer ones in `strings`, each holding
// (key + 1) << 12 | code, key = prefix << 8 | byte: 0 is empty, and as no prefix of a stored
// entry is above 4093 the key + 1 fits its 20 bits.
class Coder
{
public:
    Coder(LzwTables& tables, std::uint8_t* out)
        : m_strings(tables.strings.data())
        , m_pairs(tables.pairs.data())
        , m_used(tables.used.data())
        , m_usedCount(tables.usedCount)
        , m_tables(tables)
        , m_out(out)
    {
        restart();
    }

    // Inlined into the loops over the rows, so that the state stays in registers.
    [[gnu::always_inline]] void add(std::uint32_t byte)
    {
        if (m_prefix < 256) {
            const std::uint32_t pair = (m_prefix << 8) | byte;
            const std::uint32_t code = m_pairs[pair];
            if (code != 0) {
                m_prefix = code;
                return;
            }
            put(m_prefix);
            m_pairs[pair] = std::uint16_t(m_free);
            m_used[m_usedCount++] = std::uint16_t(pair);
            grow();
            m_prefix = byte;
            return;
        }
        const std::uint32_t key = ((m_prefix << 8) | byte) + 1;
        std::uint32_t at = (key * 0x9E3779B1u) >> (32 - slotBits);
        for (;;) {
            const std::uint32_t slot = m_strings[at];
            if ((slot >> 12) == key) {
                m_prefix = slot & 0xfff;
                return;
            }
            if (slot == 0)
                break;
            at = (at + 1) & slotMask;
        }
        if (m_prefix != noPrefix) {
            put(m_prefix);
            m_strings[at] = (key << 12) | m_free;
            grow();
        }
        m_prefix = byte;
    }

    // Writes the last string and End of Information; the number of bytes written.
    std::size_t finish()
    {
        if (m_prefix != noPrefix) {
            put(m_prefix);
            // The reader still makes an entry of this code, and may widen before the end code.
            grow();
        }
        put(endCode);
        if (m_pending > 0)
            *m_out++ = std::uint8_t(m_bits << (8 - m_pending));
        m_tables.usedCount = m_usedCount;
        return std::size_t(m_out - m_start);
    }

private:
    [[gnu::noinline]] void restart()
    {
        put(clearCode);
        std::memset(m_strings, 0, sizeof(std::uint32_t) << slotBits);
        for (std::size_t i = 0; i < m_usedCount; ++i)
            m_pairs[m_used[i]] = 0;
        m_usedCount = 0;
        m_width = 9;
        m_free = firstFree;
    }

    [[gnu::always_inline]] void grow()
    {
        if (++m_free == fullAt)
            restart();
        else if (m_free == 1u << m_width)
            ++m_width;
    }

    // Branch-free: the pending bits, at most 19, are stored as 8 bytes each time and the
    // whole bytes among them kept (the buffer has room for the spare ones).
    [[gnu::always_inline]] void put(std::uint32_t code)
    {
        m_bits = (m_bits << m_width) | code;
        m_pending += m_width;
        const std::uint64_t word = __builtin_bswap64(m_bits << (64 - m_pending));
        std::memcpy(m_out, &word, 8);
        m_out += m_pending >> 3;
        m_pending &= 7;
    }

    std::uint32_t* m_strings;
    std::uint16_t* m_pairs;
    std::uint16_t* m_used;
    std::size_t m_usedCount;
    LzwTables& m_tables;
    std::uint8_t* m_out;
    std::uint8_t* const m_start = m_out;
    std::uint64_t m_bits = 0;
    int m_pending = 0;
    int m_width = 9;
    std::uint32_t m_free = firstFree;
    std::uint32_t m_prefix = noPrefix;
};

} // namespace

void encodeLzwStrip(const std::uint8_t* rows, std::size_t rowCount, const LzwLayout& layout,
    LzwTables& tables, std::vector<std::uint8_t>& out)
{
    if (tables.strings.empty()) {
        tables.strings.resize(std::size_t(1) << slotBits);
        tables.pairs.resize(std::size_t(1) << 16);
        tables.used.resize(fullAt);
    }
    const std::size_t bytes = rowCount * layout.rowBytes;
    // Every byte starts at most one code of at most 12 bits; a Clear at least every 3836
    // codes; put's spare bytes.
    out.resize(bytes + bytes / 2 + bytes / 1024 + 24);
    Coder coder(tables, out.data());
    const std::size_t step = std::size_t(layout.samples);
    if (layout.sampleBytes == 1) {
        for (std::size_t r = 0; r < rowCount; ++r) {
            const std::uint8_t* row = rows + r * layout.rowBytes;
            const std::size_t first = std::min(step, layout.rowBytes);
            for (std::size_t i = 0; i < first; ++i)
                coder.add(row[i]);
            for (std::size_t i = first; i < layout.rowBytes; ++i)
                coder.add(std::uint8_t(row[i] - row[i - step]));
        }
    } else {
        const std::size_t count = layout.rowBytes / 2;
        const int high = layout.bigEndian ? 0 : 8;
        for (std::size_t r = 0; r < rowCount; ++r) {
            const std::uint8_t* row = rows + r * layout.rowBytes;
            std::uint16_t before = 0;
            for (std::size_t i = 0; i < count; ++i) {
                std::uint16_t value;
                std::memcpy(&value, row + 2 * i, 2);
                if (i >= step)
                    std::memcpy(&before, row + 2 * (i - step), 2);
                const std::uint16_t difference = std::uint16_t(value - before);
                coder.add((difference >> (8 - high)) & 0xff);
                coder.add((difference >> high) & 0xff);
            }
        }
    }
    out.resize(coder.finish());
}

// Every string in the table is a run of bytes already written to `out` (the previous string
// and the first byte after it), so an entry is a place and a length there, and a code is
// one copy. Faster than libtiff's decoder on photographs, which spend most of a TIFF
// thumbnail's time here.
long decodeLzwStrip(
    const std::uint8_t* in, std::size_t size, std::uint8_t* out, std::size_t capacity)
{
    std::uint32_t offsets[4096];
    std::uint16_t lengths[4096];
    std::uint64_t bits = 0; // the next `available` bits of the input, from the top
    int available = 0;
    std::size_t at = 0;
    int width = 9;
    std::uint32_t next = firstFree;
    bool havePrevious = false;
    std::size_t previousAt = 0, previousLength = 0;
    std::size_t pos = 0;
    const std::uint64_t inputBits = std::uint64_t(size) * 8;
    std::uint64_t used = 0;
    for (;;) {
        // A strip without its End code ends with its bytes.
        if (used + std::uint64_t(width) > inputBits)
            break;
        used += std::uint64_t(width);
        if (available < width) {
            std::uint64_t word;
            std::memcpy(&word, in + at, sizeof word);
            bits |= __builtin_bswap64(word) >> available;
            at += std::size_t(63 - available) >> 3;
            available |= 56;
        }
        const std::uint32_t code = std::uint32_t(bits >> (64 - width));
        bits <<= width;
        available -= width;
        if (code == clearCode) {
            width = 9;
            next = firstFree;
            havePrevious = false;
            continue;
        }
        if (code == endCode)
            break;
        const std::size_t start = pos;
        std::size_t length;
        if (code < 256) {
            if (pos >= capacity)
                break;
            out[pos++] = std::uint8_t(code);
            length = 1;
        } else if (code < next) {
            length = lengths[code];
            const std::uint8_t* from = out + offsets[code];
            if (pos + length > capacity) {
                std::memmove(out + pos, from, capacity - pos);
                pos = capacity;
                break;
            }
            // `from` ends before `pos`. Short strings, most of them, in one fixed copy whose
            // tail the next codes overwrite.
            if (length <= 16 && capacity - pos >= 16) {
                std::uint8_t sixteen[16];
                std::memcpy(sixteen, from, 16);
                std::memcpy(out + pos, sixteen, 16);
            } else {
                std::memcpy(out + pos, from, length);
            }
            pos += length;
        } else if (code == next && havePrevious) {
            // The string about to be added: the previous one and its own first byte.
            length = previousLength + 1;
            const std::uint8_t* from = out + previousAt;
            const std::size_t fits = std::min(length, capacity - pos);
            for (std::size_t i = 0; i < fits; ++i)
                out[pos + i] = i + 1 < length ? from[i] : from[0];
            pos += fits;
            if (fits < length)
                break;
        } else {
            return -1;
        }
        if (havePrevious && next < 4096) {
            offsets[next] = std::uint32_t(previousAt);
            lengths[next] = std::uint16_t(previousLength + 1);
            ++next;
            // Widened one code early, as the writer does.
            if (next + 1 >= (1u << width) && width < 12)
                ++width;
        }
        havePrevious = true;
        previousAt = start;
        previousLength = length;
    }
    return long(pos);
}

} // namespace ImageCore
