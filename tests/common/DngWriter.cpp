// SPDX-License-Identifier: MIT

#include "tests/common/DngWriter.h"

#include <cmath>
#include <cstring>
#include <string>

namespace DngWriter {
namespace {

// TIFF field types.
constexpr std::uint16_t Byte = 1, Ascii = 2, Short = 3, Long = 4, Rational = 5, SRational = 10;

struct Entry
{
    std::uint16_t tag;
    std::uint16_t type;
    std::uint32_t count;
    std::vector<std::uint8_t> value; // little-endian, count values of the type
};

void put16(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    out.push_back(std::uint8_t(v));
    out.push_back(std::uint8_t(v >> 8));
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    put16(out, v & 0xffff);
    put16(out, v >> 16);
}

void set32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out[at + std::size_t(i)] = std::uint8_t(v >> (8 * i));
}

// Whole numbers of type Byte, Short or Long.
Entry numbers(std::uint16_t tag, std::uint16_t type, std::initializer_list<std::uint32_t> values)
{
    Entry e { tag, type, std::uint32_t(values.size()), {} };
    for (std::uint32_t v : values) {
        if (type == Byte)
            e.value.push_back(std::uint8_t(v));
        else
            type == Short ? put16(e.value, v) : put32(e.value, v);
    }
    return e;
}

Entry ascii(std::uint16_t tag, const std::string& text)
{
    std::vector<std::uint8_t> v(text.begin(), text.end());
    v.push_back(0);
    return { tag, Ascii, std::uint32_t(v.size()), v };
}

Entry rationals(std::uint16_t tag, std::uint16_t type, std::initializer_list<double> values)
{
    Entry e { tag, type, std::uint32_t(values.size()), {} };
    for (double v : values) {
        put32(e.value, std::uint32_t(std::int32_t(std::lround(v * 10000))));
        put32(e.value, 10000);
    }
    return e;
}

// Writes an IFD of `entries` (in tag order) at the end of `out`, its values after it; returns
// where the IFD begins and sets `valueAt` to where each entry's value or offset field is.
std::uint32_t writeIfd(std::vector<std::uint8_t>& out, const std::vector<Entry>& entries,
    std::vector<std::size_t>& valueAt)
{
    const auto at = std::uint32_t(out.size());
    put16(out, std::uint32_t(entries.size()));
    std::size_t extra = out.size() + entries.size() * 12 + 4;
    std::vector<std::uint8_t> values;
    valueAt.clear();
    for (const Entry& e : entries) {
        put16(out, e.tag);
        put16(out, e.type);
        put32(out, e.count);
        valueAt.push_back(out.size());
        if (e.value.size() <= 4) {
            std::vector<std::uint8_t> field = e.value;
            field.resize(4);
            out.insert(out.end(), field.begin(), field.end());
        } else {
            put32(out, std::uint32_t(extra + values.size()));
            values.insert(values.end(), e.value.begin(), e.value.end());
            if (values.size() % 2)
                values.push_back(0);
        }
    }
    put32(out, 0); // no next IFD
    out.insert(out.end(), values.begin(), values.end());
    return at;
}

std::size_t find(const std::vector<Entry>& entries, std::uint16_t tag)
{
    for (std::size_t i = 0; i < entries.size(); ++i)
        if (entries[i].tag == tag)
            return i;
    return 0;
}

// sRGB's transfer undone, as a sensor records light.
std::uint16_t linear(std::uint8_t v)
{
    const double c = v / 255.0;
    const double l = c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    return std::uint16_t(std::lround(l * 65535));
}

} // namespace

std::vector<std::uint8_t> write(
    const std::uint8_t* rgb, int width, int height, const Options& options)
{
    std::uint16_t table[256];
    for (int i = 0; i < 256; ++i)
        table[i] = linear(std::uint8_t(i));
    const bool preview = !options.preview.empty();
    const auto w = std::uint32_t(width), h = std::uint32_t(height);
    // XYZ (D65) to linear sRGB: the camera sees sRGB's primaries.
    std::vector<Entry> ifd0 { numbers(254, Long, { 0 }), numbers(256, Long, { w }),
        numbers(257, Long, { h }), numbers(258, Short, { 16 }), numbers(259, Short, { 1 }),
        numbers(262, Short, { 32803 }), ascii(271, "Pictelle"), ascii(272, "Test Mosaic"),
        numbers(273, Long, { 0 }), numbers(274, Short, { std::uint32_t(options.orientation) }),
        numbers(277, Short, { 1 }), numbers(278, Long, { h }), numbers(279, Long, { w * h * 2 }),
        numbers(284, Short, { 1 }) };
    if (preview)
        ifd0.push_back(numbers(330, Long, { 0 }));
    ifd0.push_back(numbers(33421, Short, { 2, 2 }));
    ifd0.push_back(numbers(33422, Byte, { 0, 1, 1, 2 }));
    ifd0.push_back(numbers(50706, Byte, { 1, 4, 0, 0 }));
    ifd0.push_back(numbers(50707, Byte, { 1, 1, 0, 0 }));
    ifd0.push_back(ascii(50708, "Pictelle Test Mosaic"));
    ifd0.push_back(numbers(50717, Long, { 65535 }));
    ifd0.push_back(rationals(50721, SRational,
        { 3.2406, -1.5372, -0.4986, -0.9689, 1.8758, 0.0415, 0.0557, -0.2040, 1.0570 }));
    ifd0.push_back(rationals(50728, Rational, { 1, 1, 1 }));
    ifd0.push_back(numbers(50778, Short, { 21 }));

    std::vector<std::uint8_t> out { 'I', 'I', 42, 0 };
    put32(out, 8);
    std::vector<std::size_t> at0;
    writeIfd(out, ifd0, at0);
    if (preview) {
        const auto pw = std::uint32_t(options.previewWidth),
                   ph = std::uint32_t(options.previewHeight);
        const auto length = std::uint32_t(options.preview.size());
        const std::vector<Entry> sub { numbers(254, Long, { 1 }), numbers(256, Long, { pw }),
            numbers(257, Long, { ph }), numbers(258, Short, { 8, 8, 8 }),
            numbers(259, Short, { 7 }), numbers(262, Short, { 6 }), numbers(273, Long, { 0 }),
            numbers(277, Short, { 3 }), numbers(278, Long, { ph }),
            numbers(279, Long, { length }) };
        std::vector<std::size_t> atSub;
        set32(out, at0[find(ifd0, 330)], writeIfd(out, sub, atSub));
        set32(out, atSub[find(sub, 273)], std::uint32_t(out.size()));
        out.insert(out.end(), options.preview.begin(), options.preview.end());
        if (out.size() % 2)
            out.push_back(0);
    }
    set32(out, at0[find(ifd0, 273)], std::uint32_t(out.size()));
    out.reserve(out.size() + std::size_t(w) * h * 2);
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* row = rgb + std::size_t(y) * width * 3;
        for (int x = 0; x < width; ++x) {
            // R G / G B
            const int channel = (y % 2) + (x % 2);
            put16(out, table[row[x * 3 + channel]]);
        }
    }
    return out;
}

} // namespace DngWriter
