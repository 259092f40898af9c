// SPDX-License-Identifier: MIT

#pragma once

#include <QImage>
#include <QString>

// Writes a picture as a JPEG file.
namespace SaveAsJPG {

// Writes `picture` to `path` as a JPEG of the given quality (handed to the encoder
// unchanged, 0..255; 1 and 100 both work). The file is written under a temporary name in
// the target folder and renamed into place, so a failure never leaves a half-written file
// under `path`. Throws AppError 5 "Cannot save the image. GDI+ Error:<status>" on failure,
// <status> being a number of the GDI+ status enumeration, followed by ": " and the system's
// reason when it gave one ("...GDI+ Error:7: No space left on device").
void SaveJPEG(const QImage& picture, const QString& path, quint8 quality);

// As above, with `iccProfile` (when not empty) embedded in the file unchanged: the colour
// space the picture's values are in. Nothing else is written beside the pixels.
void SaveJPEG(
    const QImage& picture, const QString& path, quint8 quality, const QByteArray& iccProfile);

} // namespace SaveAsJPG
