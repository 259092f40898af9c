// SPDX-License-Identifier: MIT

#pragma once

#include <cstdint>

// Limits that every decoder applies before it allocates, so that a hostile file cannot make
// Pictelle take more memory than a real picture would. Plain C++: the converters use them too.
namespace DecodeLimits {

// Largest picture accepted, in pixels (134 megapixels, 512 MiB as a 32-bit picture);
// larger ones are refused as invalid (481). Thumbnails of larger pictures are rare enough
// that the memory such a picture takes is not worth risking on a hostile file.
constexpr std::int64_t maxPixels = std::int64_t(1) << 27;

// A compressed picture (RLE BMP, JPEG) larger than `trustedPixels` must hold at least one
// byte of data per `maxPixelsPerByte` pixels, so that a file of a few bytes cannot make a
// decoder take hundreds of megabytes. Huffman-coded JPEG needs at least one bit per 8 x 8
// block, a byte per 512 pixels; an RLE run covers at most 255 pixels in two bytes. Only
// pictures that leave nearly every pixel unwritten (or an arithmetic-coded flat JPEG) are
// refused.
constexpr std::int64_t trustedPixels = std::int64_t(1) << 24;
constexpr std::int64_t maxPixelsPerByte = 1024;

// Whether a picture of `pixels` may be decoded from `dataBytes` of compressed data.
constexpr bool plausibleSize(std::int64_t pixels, std::int64_t dataBytes)
{
    return pixels <= maxPixels
        && (pixels <= trustedPixels || dataBytes * maxPixelsPerByte >= pixels);
}

} // namespace DecodeLimits
