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

// The reading program (pictelle-read) runs each of the large C decoders of the newer kinds
// (WebP, TIFF, GIF, HEIF, AVIF, JPEG XL, camera raw) on one file, under these limits set
// before it decodes anything:
// its address space: a picture within maxPixels takes 512 MiB at 8 bits per sample and 1 GiB
// at 16, and its thumbnail as much again at 100 %; anything beyond is a runaway allocation.
constexpr std::uint64_t readerAddressSpace = std::uint64_t(3) << 30;
// its processor time, in seconds: the largest picture within maxPixels decodes in a few
// seconds; a decoder looping on a hostile file is killed (SIGXCPU) instead.
constexpr unsigned readerCpuSeconds = 60;
// its wall-clock time, in seconds: a reader waiting on something that never comes (it reads
// only a regular file, so this should not happen) still ends.
constexpr unsigned readerWallSeconds = 300;

// A camera raw file is read whole for LibRaw: the largest raw files (uncompressed medium
// format, 150 megapixels at 16 bits) are some 300 MiB; a larger file is no raw file of a
// picture within maxPixels and would only take the reader's memory.
constexpr std::int64_t maxRawFileSize = std::int64_t(1) << 30;

// LibRaw's own limit on its raw data buffer, in MiB (its max_raw_memory_mb): a raw picture of
// maxPixels takes 256 MiB at one 16-bit sample per pixel, 1 GiB at four, within
// readerAddressSpace with the developed picture beside it. (LibRaw 0.20 also refuses any
// single allocation beyond its built-in 2 GiB.)
constexpr unsigned rawMemoryMegabytes = 1024;

// Frames of an animation, and the frames the reading program hands back: GIF and WebP
// animations people keep have at most a few hundred; thousands only make a file that takes
// minutes and gigabytes to compose.
constexpr std::uint32_t maxFrames = 5000;

// A canvas (GIF logical screen, WebP canvas) is a picture: maxPixels bounds it before any
// frame is composed on it. A GIF frame or WebP frame beyond its canvas is clipped, as
// viewers do.
constexpr std::int64_t maxCanvasPixels = maxPixels;

// The canvas of an animation of several frames: composing holds it two or three times (the
// canvas, libwebp's previous one, a GIF's state to restore), 384 MiB at this size, within
// readerAddressSpace. 32 megapixels is more than an 8K video frame; animations are far
// smaller.
constexpr std::int64_t maxAnimationCanvasPixels = std::int64_t(1) << 25;

// Frames times canvas pixels composed and averaged: each pixel costs a few nanoseconds, so
// 4 gigapixels take some ten seconds, well within readerCpuSeconds; beyond that a small file
// of many large empty frames only keeps the reader busy.
constexpr std::int64_t maxComposedPixels = std::int64_t(1) << 32;

// Pixels of all the scaled frames handed back together (128 MiB at 8 bits per sample): the
// run holds them about three times while it writes the thumbnail. A 320 x 240 thumbnail may
// have some 430 frames, a 100 x 100 one every frame maxFrames allows.
constexpr std::int64_t maxAnimationPixels = std::int64_t(1) << 25;

// HEIF and AVIF: libheif refuses a side beyond this before it reads the picture's items
// (its limit bounds each side alone; maxPixels bounds their product, checked by the reader).
// Panoramas reach some 30000 pixels; 65536 also lets a grid of phone tiles through.
constexpr int maxHeifSide = 1 << 16;
// Thumbnail pictures of one HEIF picture looked at: phones store one, a few at most.
constexpr std::size_t maxHeifThumbnails = 16;
// Extra channels of a JPEG XL picture (alpha, depth, spot colours): each costs the decoder a
// plane of the picture's size; real pictures have alpha and perhaps a depth map.
constexpr std::uint32_t maxJxlExtraChannels = 8;

} // namespace Limits
