// SPDX-License-Identifier: MIT

#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// A picture reduced to a palette of at most 256 colours, as GIF stores it: plain C++.
namespace ImageCore {

struct Quantised
{
    struct Colour
    {
        std::uint8_t red = 0;
        std::uint8_t green = 0;
        std::uint8_t blue = 0;
        bool operator==(const Colour&) const = default;
    };
    std::vector<Colour> palette; // at most 256 entries, the transparent one included
    std::vector<std::uint8_t> indices; // one per pixel, rows top first, no gaps
    int transparent = -1; // the index transparent pixels take (the last entry), or -1
};

// Reduces `width` x `height` pixels of straight (not premultiplied) 0xAARRGGBB words, rows
// `stride` words apart, to a palette of their own. A pixel less than half opaque becomes the
// one transparent entry, every other is taken as opaque. A picture of no more opaque colours
// than the palette holds keeps them exactly; any other gets the colours that minimise the
// squared error: a variance-splitting median cut on the full 8-bit colours, refined by a few
// k-means passes, each pixel then taking its nearest colour (no dithering, which only adds
// noise to a thumbnail). Throws std::bad_alloc.
Quantised quantise(const std::uint32_t* argb, int width, int height, std::ptrdiff_t stride);

} // namespace ImageCore
