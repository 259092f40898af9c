// SPDX-License-Identifier: MIT

#pragma once

#include <QImage>
#include <QList>
#include <QString>

// PNG files made with libpng for the tests, in every colour type and bit depth.
namespace PngFixtures {

struct Kind
{
    int colorType = 0; // PNG_COLOR_TYPE_GRAY, _GRAY_ALPHA, _RGB, _RGB_ALPHA or _PALETTE
    int bitDepth = 8; // 1, 2, 4, 8 or 16 as the colour type allows
    bool transparencyChunk = false; // a tRNS chunk (grey, RGB and palette only)
    bool interlaced = false; // Adam7
};

struct NamedKind
{
    QString name; // e.g. "palette 4 tRNS interlaced"
    Kind kind;
};

// Every valid combination of colour type, bit depth and tRNS, non-interlaced, followed by
// an interlaced one of each colour type.
QList<NamedKind> allKinds();

// Writes a `width` x `height` PNG of `kind` with varied samples (the extremes included;
// several pixels share the tRNS colour when there is one). Returns the pixels a reader
// should see at 8 bits per channel, as Format_ARGB32 (not premultiplied): samples below 8
// bits scaled to 0..255, 16-bit samples rounded to 8 bits, tRNS turned into alpha 0 (or
// the palette entry's alpha), every other pixel alpha 255. Returns a null image on failure.
QImage write(const QString& path, const Kind& kind, int width, int height);

// Writes a valid header declaring `width` x `height` RGB pixels, followed by a few bytes of
// image data only: a reader that allocates before it checks the size would try to take
// the whole picture. Returns false on failure.
bool writeHeaderOnly(const QString& path, quint32 width, quint32 height);

// Flips bytes in the middle of the first IDAT chunk's data of the PNG at `path`, leaving its
// CRC as it was: the file a damaged disk or download gives. False when there is no IDAT.
bool damageImageData(const QString& path);

struct Header
{
    int width = 0;
    int height = 0;
    int bitDepth = 0;
    int colorType = -1; // -1 when the file is not a PNG
};

// The header fields of a PNG file, read from its bytes.
Header readHeader(const QString& path);

} // namespace PngFixtures
