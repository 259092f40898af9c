// SPDX-License-Identifier: MIT

#pragma once

#include "imaging/core/ColourSpace.h"

#include <QImage>
#include <QSize>
#include <QString>
#include <functional>

// JPEG decoding on libjpeg-turbo: baseline, progressive, grayscale, CMYK and YCCK (inks
// taken as inverted when the file has an Adobe marker, as Adobe's programs write them).
// A picture whose EXIF orientation says it is turned is returned upright, so its width and
// height are those of the upright picture. A file cut short still gives a picture when at
// least the first row of blocks of its first scan is there; the rest shows as libjpeg
// fills it in.
namespace JpegReader {

struct Result
{
    QImage image; // Format_RGB32; upright; possibly reduced by a DCT scale (see read())
    QSize fullSize; // upright size of the picture at full resolution, in pixels
    // The embedded ICC profile (APP2 segments, in sequence, joined) when it describes RGB
    // and the picture is colour; Kind::None otherwise. A damaged or incomplete profile is
    // dropped, the picture still read.
    ImageCore::ColourSpace colour;
};

// Decodes `path`. When `targetFor` is given it is called with the full upright size and
// returns the size the caller will shrink the picture to; the decoder then uses the
// largest DCT reduction (1/2, 1/4, 1/8) whose result still covers that size in both
// directions. Without it the picture is decoded at full size.
// Throws AppError 53 "File not found: <path>" for a missing file, 481 "Invalid picture:
// <path>" for a file that is not a JPEG or cannot be decoded (also one too small for the
// picture it declares, see Limits::plausibleSize, or one of more than 500 scans), 7 "Out of
// memory: <path>" when its header declares more than Limits::maxPixels pixels or memory runs
// out.
Result read(const QString& path, const std::function<QSize(QSize)>& targetFor = {});

} // namespace JpegReader
