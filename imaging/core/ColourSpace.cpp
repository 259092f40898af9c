// SPDX-License-Identifier: MIT

#include "imaging/core/ColourSpace.h"

#include <cmath>

namespace ImageCore {
namespace {

std::uint32_t be32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

constexpr double fixed30 = 1073741824.0; // 2^30

struct Xyz
{
    double x, y, z;
};

// The XYZ of chromaticity (x, y) at Y = 1.
std::optional<Xyz> atUnitY(std::uint32_t x, std::uint32_t y)
{
    if (y == 0)
        return std::nullopt;
    const double cx = x / 100000.0, cy = y / 100000.0;
    return Xyz { cx / cy, 1.0, (1.0 - cx - cy) / cy };
}

double det3(const Xyz& a, const Xyz& b, const Xyz& c)
{
    return a.x * (b.y * c.z - c.y * b.z) - b.x * (a.y * c.z - c.y * a.z)
        + c.x * (a.y * b.z - b.y * a.z);
}

std::optional<std::uint32_t> toPngUnits(double v)
{
    const double r = std::round(v * 100000.0);
    if (!(r >= 0.0 && r <= 2147483647.0))
        return std::nullopt;
    return std::uint32_t(r);
}

} // namespace

std::uint32_t profileDataSpace(const std::uint8_t* data, std::size_t size)
{
    if (size < 132 || size > Limits::maxProfileSize || be32(data) != size
        || be32(data + 36) != signature("acsp"))
        return 0;
    // Device links, abstract and named-colour profiles describe no picture's colours.
    const std::uint32_t deviceClass = be32(data + 12);
    if (deviceClass == signature("link") || deviceClass == signature("abst")
        || deviceClass == signature("nmcl"))
        return 0;
    const std::uint64_t tags = be32(data + 128);
    if (tags == 0 || 132 + 12 * tags > size)
        return 0;
    for (std::uint64_t i = 0; i < tags; ++i) {
        const std::uint8_t* tag = data + 132 + 12 * i;
        const std::uint64_t offset = be32(tag + 4), length = be32(tag + 8);
        if (offset < 128 || offset + length > size)
            return 0;
    }
    return be32(data + 16);
}

std::uint32_t intentFromPng(int pngIntent)
{
    switch (pngIntent) {
    case 1:
        return IntentRelative;
    case 2:
        return IntentSaturation;
    case 3:
        return IntentAbsolute;
    default:
        return IntentPerceptual;
    }
}

int intentToPng(std::uint32_t intent)
{
    switch (intent) {
    case IntentRelative:
        return 1;
    case IntentSaturation:
        return 2;
    case IntentAbsolute:
        return 3;
    default:
        return 0;
    }
}

// The header's gamma is the exponent that decodes a sample; PNG's is its inverse.
std::optional<std::uint32_t> gammaFromPng(std::uint32_t pngGamma)
{
    if (pngGamma < 2)
        return std::nullopt;
    return std::uint32_t(std::llround(6553600000.0 / pngGamma));
}

std::optional<std::uint32_t> gammaToPng(std::uint32_t gamma)
{
    if (gamma < 2)
        return std::nullopt;
    return std::uint32_t(std::llround(6553600000.0 / gamma));
}

std::optional<std::array<std::int32_t, 9>> endpointsFromPng(const PngChromaticities& c)
{
    const auto& v = c.values;
    const auto w = atUnitY(v[0], v[1]), r = atUnitY(v[2], v[3]), g = atUnitY(v[4], v[5]),
               b = atUnitY(v[6], v[7]);
    if (!w || !r || !g || !b)
        return std::nullopt;
    // The primaries' luminances that add up to the white point (Cramer's rule).
    const double d = det3(*r, *g, *b);
    if (std::fabs(d) < 1e-12)
        return std::nullopt;
    const double scale[3] = { det3(*w, *g, *b) / d, det3(*r, *w, *b) / d, det3(*r, *g, *w) / d };
    const Xyz primaries[3] = { *r, *g, *b };
    std::array<std::int32_t, 9> out {};
    for (int i = 0; i < 3; ++i) {
        const double xyz[3]
            = { primaries[i].x * scale[i], primaries[i].y * scale[i], primaries[i].z * scale[i] };
        for (int k = 0; k < 3; ++k) {
            if (!(std::fabs(xyz[k]) < 1.99))
                return std::nullopt;
            out[size_t(3 * i + k)] = std::int32_t(std::llround(xyz[k] * fixed30));
        }
    }
    return out;
}

std::optional<PngChromaticities> endpointsToPng(const std::array<std::int32_t, 9>& endpoints)
{
    double white[3] = {};
    PngChromaticities c;
    for (int i = 0; i < 3; ++i) {
        const double x = endpoints[size_t(3 * i)] / fixed30,
                     y = endpoints[size_t(3 * i + 1)] / fixed30,
                     z = endpoints[size_t(3 * i + 2)] / fixed30;
        const double sum = x + y + z;
        if (!(sum > 1e-9))
            return std::nullopt;
        const auto cx = toPngUnits(x / sum), cy = toPngUnits(y / sum);
        if (!cx || !cy)
            return std::nullopt;
        c.values[size_t(2 + 2 * i)] = *cx;
        c.values[size_t(3 + 2 * i)] = *cy;
        white[0] += x;
        white[1] += y;
        white[2] += z;
    }
    const double sum = white[0] + white[1] + white[2];
    if (!(sum > 1e-9))
        return std::nullopt;
    const auto wx = toPngUnits(white[0] / sum), wy = toPngUnits(white[1] / sum);
    if (!wx || !wy)
        return std::nullopt;
    c.values[0] = *wx;
    c.values[1] = *wy;
    return c;
}

} // namespace ImageCore
