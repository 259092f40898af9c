// SPDX-License-Identifier: MIT

#pragma once

#include "imaging/core/ColourSpace.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// The colour space a PNG's colour chunks declare, gathered as the chunks are met. An
// embedded RGB profile comes first, then sRGB, then gAMA and cHRM: the order in which PNG
// readers take them. A chunk that is damaged or out of range is left out.
class PngColour
{
public:
    // The data of an iCCP chunk: name, compression method, deflated profile.
    void iccpChunk(const std::uint8_t* data, std::size_t size);
    void profile(std::vector<std::uint8_t> bytes);
    void srgb(int pngIntent);
    void gamma(std::uint32_t pngGamma);
    void chromaticities(const ImageCore::PngChromaticities& values);

    ImageCore::ColourSpace colourSpace() const;

private:
    std::vector<std::uint8_t> m_profile;
    int m_srgbIntent = -1;
    std::uint32_t m_gamma = 0;
    bool m_haveChromaticities = false;
    ImageCore::PngChromaticities m_chromaticities;
};
