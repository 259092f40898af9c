// SPDX-License-Identifier: MIT

#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QString>
#include <cstdint>

// Pictures of the kinds the reading program reads, made and read back with the libraries'
// own encoders and decoders, so that no test picture needs to be committed.
namespace KindFixtures {

struct Options
{
    bool lossy = false; // WebP: VP8 at `quality`; TIFF: JPEG compression
    int quality = 90;
    int bits = 8; // TIFF: 8 or 16 bits per sample
    std::uint16_t compression = 1; // TIFF
    int orientation = 1; // TIFF Orientation, or a WebP EXIF block's
    QByteArray iccProfile;
    int pages = 1; // TIFF: further pages, each half the size of the one before
    int tileSize = 0; // TIFF: square tiles of this side (a multiple of 16), or strips of 16 rows
    int thumbnail = 0; // HEIF: the picture mirrored as a thumbnail picture of this longer side
    // HEIF, JPEG XL: primaries and transfer code points, instead of the default or a profile
    QList<int> cicp;
    bool fromJpeg = false; // JPEG XL: a JPEG recompressed, with its reconstruction box
};

// Red grows to the right, green downwards, blue half: every corner its own colour; the right
// quarter is transparent when `alpha`.
QImage photo(int width, int height, bool alpha = false);

// `image` (straight ARGB32; alpha is written only when it has an alpha channel). True when
// written.
bool writeWebP(const QString& path, const QImage& image, const Options& options = {});
bool writeTiff(const QString& path, const QImage& image, const Options& options = {});
// A GIF of at most 256 colours taken as they come; pixels less than half opaque transparent.
// `canvas` larger than the picture declares a logical screen of that size.
bool writeGif(const QString& path, const QImage& image, QSize canvas = {});
// HEIC (x265) or AVIF (aom) through libheif, always lossy; `bits` 8, 10 or 12 (a 10-bit AVIF
// has no alpha); `orientation` as irot/imir (the EXIF numbering).
bool writeHeif(const QString& path, const QImage& image, const Options& options, bool avif);
// JPEG XL by libjxl: lossy at distance 1 or lossless; `bits` 8 to 16 taken from 16-bit samples;
// `orientation` in its header.
bool writeJxl(const QString& path, const QImage& image, const Options& options = {});

// One frame of an animation made for a test: a GIF frame at `at` (transparent where less than
// half opaque) shown as `disposal` says (giflib's DISPOSE_*); WebP frames cover the canvas.
struct AnimationFrame
{
    QImage image;
    QPoint at;
    int delayMs = 100;
    int disposal = 0;
};
// `loopCount` 0 plays for ever; a GIF of loop count 1 has no NETSCAPE2.0 block.
bool writeAnimatedGif(
    const QString& path, QSize canvas, const QList<AnimationFrame>& frames, int loopCount);
bool writeAnimatedWebP(
    const QString& path, const QList<AnimationFrame>& frames, int loopCount, bool lossy);
bool writeAnimatedJxl(
    const QString& path, const QList<AnimationFrame>& frames, int loopCount, bool lossy);

// A thumbnail read back: its pixels (ARGB32) and what its file says of itself.
struct Read
{
    QImage image;
    QByteArray kind; // "webp", "tiff", "gif", "heif", "avif" by its first bytes, else empty
    bool lossy = false; // WebP: a VP8 frame; TIFF: JPEG compression; HEIF: always
    int bits = 8;
    std::uint16_t compression = 0; // TIFF
    QByteArray iccProfile;
    // HEIF: the nclx primaries and transfer; JPEG XL: those of an enumerated colour
    QList<int> cicp;
    bool hasExif = false; // WebP EXIF chunk, TIFF EXIF IFD, HEIF Exif or XMP item
    // An animation's frames as shown (a GIF's each covering the screen, as ours are), delays
    // and loop count (1 for a GIF without one); `image` is the first.
    QList<QImage> frames;
    QList<int> delays;
    int loopCount = -1;
};
Read read(const QString& path);
// A contiguous RGB or RGBA TIFF's first page as its samples are stored, through libtiff's
// scanlines (no premultiplying): RGBA8888 / RGBX8888, or RGBA64 / RGBX64 for 16 bits. Null
// when libtiff cannot read it.
QImage readTiffSamples(const QString& path);
// The HEIF and AVIF part of read(): the primary picture upright.
void readHeif(const QByteArray& bytes, Read& read);
// A JPEG XL file's frames, upright; lossy when coded as XYB or holding a JPEG to rebuild.
void readJxl(const QByteArray& bytes, Read& read);

} // namespace KindFixtures
