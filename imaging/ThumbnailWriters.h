// SPDX-License-Identifier: MIT

#pragma once

#include "imaging/core/ColourSpace.h"

#include <QImage>
#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

// The encoders of the kinds read by the reading program, one file each (WebPWriter.cpp,
// TiffWriter.cpp, GifWriter.cpp). Each gives the thumbnail file's bytes, with the colour
// profile and nothing else of the source's metadata, for writeWholeFile: encoding may so run
// on workers ahead of the writes, which keep list order. Reentrant. Each throws AppError
// naming `path`, the thumbnail to be (7 when memory runs out).
namespace ThumbnailWriters {

struct Settings
{
    int quality = 75; // 1 .. 100, for lossy writing
    bool lossy = false; // the source was stored lossily
    std::uint32_t compression = 0; // a TIFF source's Compression tag, 0 for other sources
    std::vector<std::uint8_t> iccProfile; // empty for none
    int sourceBits = 8; // bits per sample of the source, for writers that can keep 10 or 12
    std::optional<ImageCore::Cicp> cicp; // the source's code points, for writers that take them
};

// One frame of an animated thumbnail: the picture, and how long it shows.
struct Frame
{
    QImage image;
    std::uint32_t delayMs = 0;
};

// Lossy at `quality` for a lossy source, lossless otherwise; alpha kept. 16-bit pictures are
// written with 8 bits per sample (WebP has no more).
std::vector<std::uint8_t> encodeWebP(
    const QImage& picture, const QString& path, const Settings& settings);

// RGB, with alpha as an unassociated extra sample; 16 bits per sample for a 16-bit picture
// (Format_RGBA64 / RGBX64), 8 otherwise. The source's compression where it can be written
// (none, LZW, Deflate, PackBits, JPEG at `quality` for 8 bits); otherwise JPEG for a lossy
// source and Deflate for any other.
std::vector<std::uint8_t> encodeTiff(
    const QImage& picture, const QString& path, const Settings& settings);

// A still GIF: the colours reduced to a palette of at most 256 (255 and a transparent one
// when some pixel is less than half opaque).
std::vector<std::uint8_t> encodeGif(
    const QImage& picture, const QString& path, const Settings& settings);

// Animations of frames of one size, `loopCount` as stored (0 plays for ever). WebP as
// encodeWebP; GIF with a palette per frame and, when some pixel is transparent, every frame
// replacing the one before. GIF delays are kept in hundredths of a second.
std::vector<std::uint8_t> encodeAnimatedWebP(const std::vector<Frame>& frames,
    std::uint32_t loopCount, const QString& path, const Settings& settings);
std::vector<std::uint8_t> encodeAnimatedGif(
    const std::vector<Frame>& frames, std::uint32_t loopCount, const QString& path);

// HEIC (x265) and AVIF (aom) through libheif: lossy at `quality` for a lossy source,
// lossless otherwise; alpha kept; 16-bit pictures of a 10- or 12-bit source at that depth
// where the encoder has it (x265 10, aom 10 and 12), else 8 bits; the profile, else the
// source's code points. The file's bytes, for writeWholeFile.
std::vector<std::uint8_t> encodeHeif(
    const QImage& picture, const QString& path, const Settings& settings);
std::vector<std::uint8_t> encodeAvif(
    const QImage& picture, const QString& path, const Settings& settings);
// A JPEG XL file's bytes: lossless for a lossless source, otherwise lossy at the distance
// jxlDistance gives for `quality`; alpha kept; 16-bit pictures at the source's depth (9 to
// 16 bits), others at 8; the code points when JPEG XL can enumerate them, else an RGB
// profile (a grey one writes the picture grey), else sRGB.
std::vector<std::uint8_t> encodeJxl(
    const QImage& picture, const QString& path, const Settings& settings);
// An animation of frames of one size, as encodeJxl writes a picture; `loopCount` as stored
// (0 plays for ever).
std::vector<std::uint8_t> encodeAnimatedJxl(const std::vector<Frame>& frames,
    std::uint32_t loopCount, const QString& path, const Settings& settings);
// The JPEG XL distance a quality of 1 .. 100 maps to (0.1 at 100, 15 at 8 and below).
float jxlDistance(int quality);

// Writes `bytes` as the file `path` through Files::ReplacingFile; throws AppError naming it.
void writeWholeFile(const QString& path, const std::uint8_t* bytes, std::size_t size);
inline void writeWholeFile(const QString& path, const std::vector<std::uint8_t>& bytes)
{
    writeWholeFile(path, bytes.data(), bytes.size());
}

} // namespace ThumbnailWriters
