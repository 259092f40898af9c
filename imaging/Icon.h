// SPDX-License-Identifier: MIT

#pragma once

#include <QImage>
#include <QPoint>
#include <QString>

// Icon (.ico) and cursor (.cur) files: a directory of pictures, each a bitmap with an AND
// mask or an embedded PNG.
namespace Icon {

struct Picture
{
    QImage image; // Format_ARGB32
    QPoint hotspot; // a cursor's active point in pixels from the top left; (0, 0) for icons
};

// True when `head` (the file's first bytes, at least 6) starts an icon or cursor directory.
bool looksLikeIcon(const QByteArray& head);

// Reads the largest picture of the file (the deepest colour among equally large ones).
// Throws AppError 53 "File not found: <path>" or 481 "Invalid picture: <path>".
Picture read(const QString& path);

} // namespace Icon
