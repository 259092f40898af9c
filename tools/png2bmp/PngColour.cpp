// SPDX-License-Identifier: MIT

#include "tools/png2bmp/PngColour.h"

#include <cstring>
#include <zlib.h>

using ImageCore::ColourSpace;

namespace {

// Inflates a profile, refusing one that grows past the size any profile is allowed.
std::vector<std::uint8_t> inflateProfile(const std::uint8_t* data, std::size_t size)
{
    z_stream z {};
    if (inflateInit(&z) != Z_OK)
        return {};
    std::vector<std::uint8_t> out(std::min<std::size_t>(Limits::maxProfileSize, 1 << 16));
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = uInt(size);
    int rc = Z_OK;
    while (rc == Z_OK) {
        if (z.total_out == out.size()) {
            if (out.size() >= Limits::maxProfileSize)
                break;
            out.resize(std::min(out.size() * 2, Limits::maxProfileSize));
        }
        z.next_out = out.data() + z.total_out;
        z.avail_out = uInt(out.size() - z.total_out);
        rc = inflate(&z, Z_NO_FLUSH);
    }
    out.resize(rc == Z_STREAM_END ? z.total_out : 0);
    inflateEnd(&z);
    return out;
}

} // namespace

void PngColour::iccpChunk(const std::uint8_t* data, std::size_t size)
{
    // A name of 1 to 79 bytes, its zero, compression method 0.
    if (size == 0)
        return;
    const void* nul = std::memchr(data, 0, std::min<std::size_t>(size, 80));
    if (!nul)
        return;
    const std::size_t at = std::size_t(static_cast<const std::uint8_t*>(nul) - data) + 1;
    if (at < 2 || at >= size || data[at] != 0)
        return;
    profile(inflateProfile(data + at + 1, size - at - 1));
}

void PngColour::profile(std::vector<std::uint8_t> bytes)
{
    if (ImageCore::profileDataSpace(bytes.data(), bytes.size()) == ImageCore::signature("RGB "))
        m_profile = std::move(bytes);
}

void PngColour::srgb(int pngIntent)
{
    if (pngIntent >= 0 && pngIntent <= 3)
        m_srgbIntent = pngIntent;
}

void PngColour::gamma(std::uint32_t pngGamma)
{
    if (ImageCore::gammaFromPng(pngGamma))
        m_gamma = pngGamma;
}

void PngColour::chromaticities(const ImageCore::PngChromaticities& values)
{
    if (ImageCore::endpointsFromPng(values)) {
        m_chromaticities = values;
        m_haveChromaticities = true;
    }
}

ColourSpace PngColour::colourSpace() const
{
    ColourSpace c;
    if (!m_profile.empty()) {
        c.kind = ColourSpace::Kind::Embedded;
        c.profile = m_profile;
    } else if (m_srgbIntent >= 0) {
        c.kind = ColourSpace::Kind::Srgb;
        c.intent = ImageCore::intentFromPng(m_srgbIntent);
    } else if (m_gamma || m_haveChromaticities) {
        c.kind = ColourSpace::Kind::Calibrated;
        if (m_gamma)
            c.gammas.fill(*ImageCore::gammaFromPng(m_gamma));
        if (m_haveChromaticities)
            c.endpoints = *ImageCore::endpointsFromPng(m_chromaticities);
    }
    return c;
}
