// SPDX-License-Identifier: MIT

#pragma once

#include "imaging/bmpcore/BmpRows.h"
#include "imaging/core/ColourSpace.h"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

// A direct decoder for the PNG kind that photographs come in: 8-bit RGB or RGBA, not
// interlaced, no tRNS. libpng's row unfiltering has no SIMD in Debian's build and costs a
// third of png2bmp's time on such files, and zlib's inflate half of it; this path inflates with
// ISA-L row by row (never the whole picture), unfilters (RGBA in SSE2 registers) and writes the
// rows on a second thread meanwhile, and leaves every other kind to libpng.
namespace FastPng {

struct Plan
{
    std::uint32_t width;
    std::uint32_t height;
    bool alpha; // RGBA
    long firstIdat; // offset of the first IDAT chunk's length field
    ImageCore::ColourSpace colour; // what the colour chunks before the image data declare
};

// Reads the chunks up to the first IDAT of `file` (positioned after the signature) and says
// whether the picture is of the kind decoded here, with its colour space. Either way the file is
// left positioned after the signature again. Throws ToolError for a file damaged before its image
// data.
std::optional<Plan> examine(FILE* file, const std::string& name);

// Decodes the picture row by row into `writer` and reads on to IEND. Throws ToolError for
// damaged data (CRC, deflate, filter type, a file that ends early).
void decode(FILE* file, const std::string& name, const Plan& plan, BmpCore::RowWriter& writer);

} // namespace FastPng
