// SPDX-License-Identifier: MIT

#pragma once

#include <QByteArray>
#include <QImage>
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
};

// `image` (straight ARGB32; alpha is written only when it has an alpha channel). True when
// written.
bool writeWebP(const QString& path, const QImage& image, const Options& options = {});
bool writeTiff(const QString& path, const QImage& image, const Options& options = {});
// A GIF of at most 256 colours taken as they come; pixels less than half opaque transparent.
// `canvas` larger than the picture declares a logical screen of that size.
bool writeGif(const QString& path, const QImage& image, QSize canvas = {});

// A thumbnail read back: its pixels (ARGB32) and what its file says of itself.
struct Read
{
    QImage image;
    QByteArray kind; // "webp", "tiff", "gif" by its first bytes, else empty
    bool lossy = false; // WebP: a VP8 frame; TIFF: JPEG compression
    int bits = 8;
    std::uint16_t compression = 0; // TIFF
    QByteArray iccProfile;
    bool hasExif = false; // WebP EXIF chunk or TIFF EXIF IFD
};
Read read(const QString& path);

} // namespace KindFixtures
