// SPDX-License-Identifier: MIT

#pragma once

#include "imaging/core/Limits.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

// The colour space a picture declares, carried from its source into its thumbnail: an
// embedded ICC profile, sRGB with a rendering intent, or calibrated primaries and gammas.
// The fields follow the BMP V4/V5 header, which every path through the converters passes;
// JPEG and PNG colour is carried in the same form.
namespace ImageCore {

// LCS_GM_* rendering intents of the BMP V5 header.
enum Intent : std::uint32_t {
    IntentSaturation = 1, // LCS_GM_BUSINESS
    IntentRelative = 2, // LCS_GM_GRAPHICS
    IntentPerceptual = 4, // LCS_GM_IMAGES
    IntentAbsolute = 8, // LCS_GM_ABS_COLORIMETRIC
};

struct ColourSpace
{
    enum class Kind { None, Srgb, Calibrated, Embedded };
    Kind kind = Kind::None;
    std::uint32_t intent = IntentPerceptual;
    // Calibrated: the red, green and blue endpoints as CIE XYZ in 2.30 fixed point (all zero
    // when not known), and the gamma of each channel in 16.16 (all zero when not known).
    std::array<std::int32_t, 9> endpoints {};
    std::array<std::uint32_t, 3> gammas {};
    std::vector<std::uint8_t> profile; // Embedded: the ICC profile, byte for byte

    bool operator==(const ColourSpace&) const = default;
};

// A colour description as code points of ITU-T H.273 (HEIF's nclx, AVIF's, JPEG XL's
// enumerated encoding), carried so that a thumbnail of the same kind says the same; HDR
// transfers (16 PQ, 18 HLG) are kept as they are, not tone-mapped.
struct Cicp
{
    std::uint8_t primaries = 2; // 2: unspecified
    std::uint8_t transfer = 2;
    std::uint8_t matrix = 2;
    bool fullRange = true;
    bool operator==(const Cicp&) const = default;
};

// The data colour space an ICC profile describes pictures in ('RGB ', 'CMYK', 'GRAY', ...),
// when the profile is whole and consistent: its declared size is its length, at most
// Limits::maxProfileSize, its signature is right and every tag lies inside it. Otherwise 0.
std::uint32_t profileDataSpace(const std::uint8_t* data, std::size_t size);

constexpr std::uint32_t signature(const char (&s)[5])
{
    return std::uint32_t(std::uint8_t(s[0])) << 24 | std::uint32_t(std::uint8_t(s[1])) << 16
        | std::uint32_t(std::uint8_t(s[2])) << 8 | std::uint8_t(s[3]);
}

// PNG's colour chunks in their own units.
struct PngChromaticities
{
    // White x, y, then red, green and blue x, y, each times 100000.
    std::array<std::uint32_t, 8> values {};
};

// PNG sRGB intent (0 perceptual, 1 relative, 2 saturation, 3 absolute) and back.
std::uint32_t intentFromPng(int pngIntent);
int intentToPng(std::uint32_t intent);

// PNG gAMA (file gamma times 100000) as a 16.16 channel gamma, and back; nullopt when out of
// range.
std::optional<std::uint32_t> gammaFromPng(std::uint32_t pngGamma);
std::optional<std::uint32_t> gammaToPng(std::uint32_t gamma);

// PNG cHRM as XYZ endpoints (Y of white 1), and back; nullopt for chromaticities that give
// no gamut or endpoints the 2.30 format cannot hold.
std::optional<std::array<std::int32_t, 9>> endpointsFromPng(const PngChromaticities& c);
std::optional<PngChromaticities> endpointsToPng(const std::array<std::int32_t, 9>& endpoints);

} // namespace ImageCore
