// SPDX-License-Identifier: MIT

#pragma once

#include "imaging/core/ColourSpace.h"
#include "imaging/core/Kinds.h"

#include <cstdint>
#include <string>
#include <vector>

// What the reading program hands back to the run: the scaled picture with what its thumbnail
// must keep of the source. Plain C++, written by pictelle-read and read by the run.
namespace ImageCore {

struct ScaledFrames
{
    struct Frame
    {
        std::uint32_t delayMs = 0; // how long it shows; 0 for a still picture
        // width * height pixels of 4 samples, rows top first, alpha premultiplied:
        // 8 bits: the bytes B, G, R, A (a 0xAARRGGBB word in this machine's byte order);
        // 16 bits: the samples R, G, B, A in this machine's byte order.
        std::vector<std::uint8_t> pixels;
    };

    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint8_t bitsPerSample = 8; // 8 or 16
    bool alpha = false; // some pixel may be transparent (otherwise every A is the maximum)
    Kinds::Kind kind = Kinds::Kind::None; // what the content was, whatever the name said
    bool lossy = false; // the source's samples were stored lossily
    std::uint32_t compression = 0; // a TIFF's Compression tag (1 none, 5 LZW, ...); 0 else
    std::uint32_t loopCount = 0; // for several frames: as stored, 0 plays for ever
    std::uint8_t sourceBits = 8; // bits per sample as the source stored them (8, 10, 12, 16)
    // The source's colour as code points, when it gave them; the pixels are as the source
    // coded them, not converted.
    bool hasCicp = false;
    Cicp cicp;
    std::vector<std::uint8_t> iccProfile; // empty when the source carries none
    std::vector<Frame> frames; // one for a still picture, several for an animation

    std::size_t frameBytes() const { return std::size_t(width) * height * 4 * (bitsPerSample / 8); }
};

// The scratch file, in this machine's byte order (it never leaves the machine):
//   "PICTRD02"                       8 bytes
//   width, height                    u32 each, at least 1, their product at most Limits::maxPixels
//   bitsPerSample, alpha, kind, lossy u8 each
//   compression, loopCount           u32 each
//   sourceBits, hasCicp, primaries, transfer, matrix, fullRange   u8 each
//   frame count                      u32, 1 .. Limits::maxFrames; for more than one, frames
//                                    times width times height at most maxAnimationPixels
//   profile size                     u32, at most Limits::maxProfileSize, then its bytes
//   per frame: delay in ms           u32, then frameBytes() bytes of pixels
// Nothing follows.
std::vector<std::uint8_t> encodeScaledFrames(const ScaledFrames& frames);

// Decodes a scratch file's bytes, checking every size against the limits before it takes
// memory; false with `reason` set when they are not one whole, plausible picture.
bool decodeScaledFrames(
    const std::vector<std::uint8_t>& bytes, ScaledFrames& frames, std::string& reason);

} // namespace ImageCore
