// SPDX-License-Identifier: MIT

#pragma once

#include <cstdint>
#include <vector>

// Small DNG files, since no encoder of camera raw files is packaged: a little-endian TIFF
// whose first picture is an RGGB colour-filter mosaic of 16-bit samples, with a colour
// matrix that makes the camera's colours linear sRGB, a neutral white balance and, when asked,
// a JPEG preview in a sub-IFD. Plain C++, so that the raw benchmark can make its files too.
namespace DngWriter {

struct Options
{
    int orientation = 1; // the raw picture's TIFF Orientation
    std::vector<std::uint8_t> preview; // a JPEG file's bytes; empty: no preview
    int previewWidth = 0; // the preview's size as its IFD declares it
    int previewHeight = 0;
};

// `rgb`: width x height pixels of R, G, B bytes (sRGB), rows top first, each sampled through
// the mosaic as the sensor would see it. Width and height even, at least 22.
std::vector<std::uint8_t> write(
    const std::uint8_t* rgb, int width, int height, const Options& options = {});

} // namespace DngWriter
