// SPDX-License-Identifier: MIT

#pragma once

#include "imaging/core/ScaledFrames.h"
#include "runtime/files/Fd.h"

#include <cstddef>
#include <string>

namespace Reader {

// The reading program's work without its limits: the first frame or page of the WebP, TIFF,
// GIF or JPEG XL picture `input` (`size` bytes; the content decides the kind), or every frame of an
// animated GIF or WebP with its delay and the loop count, scaled to its thumbnail at
// `percentage` and turned upright. Throws ToolError naming `path`, or
// std::bad_alloc.
ImageCore::ScaledFrames readThumbnail(
    Files::UniqueFd input, std::size_t size, int percentage, const std::string& path);

} // namespace Reader
