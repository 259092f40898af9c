// SPDX-License-Identifier: MIT

#pragma once

#include "imaging/core/ColourSpace.h"

#include <QImage>
#include <QPoint>
#include <QSize>
#include <QString>
#include <functional>

// The forms runtime's picture services.
namespace Pictures {

// Decodes a BMP or JPEG file (the format is told by the content, not the name), a cursor
// (.cur) or an icon (.ico) file; see imaging/Bmp.h, JpegReader.h and Icon.h. The result's
// size is the picture's size in pixels: a JPEG turned by its EXIF orientation comes upright.
// An empty path gives a null QImage. `hotspot`, when given, receives a cursor's active point
// in that picture, (0, 0) for any other file.
// Throws AppError 53 "File not found: <path>" or 481 "Invalid picture: <path>" (7 for a
// picture beyond the pixel limit).
QImage LoadPicture(const QString& path, QPoint* hotspot = nullptr);

struct Loaded
{
    QImage image; // the picture, possibly decoded at a reduced scale
    QSize fullSize; // its size at full resolution, in pixels
    ImageCore::ColourSpace colour; // what the file declares its colours to be in
    QPoint hotspot; // a cursor's active point (Icon::Picture::hotspot); (0, 0) otherwise
};

// As LoadPicture, but lets a JPEG be decoded at a reduced DCT scale: `targetFor` maps the
// full size to the size the caller will shrink to, and the image returned covers it.
Loaded LoadPictureFor(const QString& path, const std::function<QSize(QSize)>& targetFor);

// Writes an uncompressed BMP (24-bit, or 32-bit with alpha when some pixel is not opaque),
// replacing an existing file, with `colour` in a V5 header when it declares one. Throws
// AppError naming the path.
void SavePicture(
    const QImage& picture, const QString& path, const ImageCore::ColourSpace& colour = {});

} // namespace Pictures
