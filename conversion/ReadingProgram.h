// SPDX-License-Identifier: MIT

#pragma once

#include "conversion/FileThumbnail.h"
#include "imaging/ThumbnailWriters.h"
#include "imaging/core/Kinds.h"

#include <QString>
#include <cstdint>
#include <optional>

// The picture pictelle-read handed back (imaging/core/ScaledFrames.h), as the run holds it.
namespace ReadingProgram {

struct Read
{
    FileThumbnail::Picture picture; // already at its thumbnail size, upright
    Kinds::Kind kind = Kinds::Kind::None; // what the content was
    bool lossy = false;
    std::uint32_t compression = 0; // a TIFF's Compression tag
    // An animation: every frame (the first is also `picture`), ARGB32 or RGB32; empty for a
    // still picture.
    std::vector<ThumbnailWriters::Frame> frames;
    std::uint32_t loopCount = 0; // as stored, 0 plays for ever
    std::uint8_t sourceBits = 8; // bits per sample as the source stored them
    std::optional<ImageCore::Cicp> cicp; // the source's code points, when it gave them
};

// Reads the scratch file `path` the reading program wrote for the entry `entry`. The first
// frame becomes the picture, and every frame of an animation goes to `frames`: Format_RGB32 /
// ARGB32 for 8 bits per sample, RGBX64 / RGBA64 for 16. Throws AppError 481 naming the entry when
// the file is not a whole picture of ours, 7 when memory runs out.
Read fromScratchFile(const QString& path, const QString& entry);

} // namespace ReadingProgram
