// SPDX-License-Identifier: MIT

#pragma once

#include "imaging/core/ColourSpace.h"

#include <QImage>
#include <QSize>
#include <QString>
#include <functional>

// A picture file read and scaled to its thumbnail in one go, so that a large picture is
// never held whole where it need not be.
namespace FileThumbnail {

// A picture scaled to its thumbnail size, with the colour space its source declared.
struct Picture
{
    QImage image;
    ImageCore::ColourSpace colour;
};

// Reads the picture file `path` and scales it (PictureScaling::scale) to
// `targetFor(its size in pixels)`: byte for byte what scaling Pictures::LoadPicture's picture
// gives. A BMP is streamed row by row into the scaler; a JPEG is decoded at the DCT
// reduction that still covers the target. Throws AppError as Pictures::LoadPictureFor does,
// std::bad_alloc when memory runs out. Reentrant.
Picture read(const QString& path, const std::function<QSize(QSize)>& targetFor);

} // namespace FileThumbnail
