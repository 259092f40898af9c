// SPDX-License-Identifier: MIT

#pragma once

#include <cstddef>
#include <cstdint>

// Every limit a decoder applies before it allocates or loops, so that a hostile file cannot
// make Pictelle take more memory or time than a real picture would. Plain C++: the
// converters and every reader use them. A new decoder adds its limits here.
namespace Limits {

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

// Deflate packs at most 1032 bytes into one, and a PNG pixel takes at least 1/8 byte
// unpacked: a PNG larger than `trustedPixels` whose file is smaller than its pixels need at
// this ratio is damaged, and must not get the whole picture allocated or a huge output begun.
constexpr std::int64_t maxDeflateRatio = 1032;
constexpr std::int64_t minPngPixelsPerByte = 8;
constexpr bool plausiblePngSize(std::int64_t pixels, std::int64_t fileBytes)
{
    return pixels <= trustedPixels || fileBytes * minPngPixelsPerByte * maxDeflateRatio >= pixels;
}

// Largest file read whole (4 GiB): larger than any picture within maxPixels could need.
constexpr std::int64_t maxFileSize = std::int64_t(1) << 32;

// Every progressive JPEG scan passes over the whole picture, so a small file of thousands
// of empty scans would keep the decoder busy for minutes. Real files have a few dozen.
constexpr int maxJpegScans = 500;

// A colour profile larger than this is refused: real RGB profiles are a few KiB, printer
// profiles a few hundred, and an oversized one only costs memory in every step that
// carries it.
constexpr std::size_t maxProfileSize = std::size_t(4) << 20;

} // namespace Limits
