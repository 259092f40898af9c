// SPDX-License-Identifier: MIT

#pragma once

#include "imaging/bmpcore/DibDecode.h"
#include "imaging/core/ColourSpace.h"

#include <QImage>
#include <QString>
#include <memory>

// The project's own BMP reader and writer.
//
// Reading accepts every variant in use: 1, 4 and 8 bit palettes, RLE4 and RLE8, 16, 24 and
// 32 bit, bit fields (BI_BITFIELDS and BI_ALPHABITFIELDS), top-down and bottom-up rows, and
// every header version (OS/2 core header, BITMAPINFOHEADER, V2 to V5). Images come out as
// QImage::Format_RGB32 when opaque and QImage::Format_ARGB32 when the file carries alpha.
// A file that declares an alpha mask keeps its alpha as stored; a 32-bit file without one
// whose alpha values are all zero is opaque (the fourth byte was padding).
// Palette indices beyond the colour table give black; pixels that an RLE picture leaves
// out (delta, early end of line or picture) take palette index 0, and runs that pass the
// end of a row are cut there. Only the padding of the last row may be missing.
// Failures throw AppError: 53 "File not found: <path>" for a missing file, the error of
// fileError() when it cannot be read, 481 "Invalid picture: <path>" for a file that is not
// a BMP or is damaged, 7 when memory runs out; declared sizes are checked against the file
// size and a pixel limit before anything is allocated.
namespace Bmp {

// `colour`, when given, receives the colour space the header declares.
QImage read(const QString& path, ImageCore::ColourSpace* colour = nullptr);

// Writes an uncompressed bottom-up BMP, replacing an existing file: 24-bit, or 32-bit with
// an alpha mask (BITMAPV5HEADER, straight alpha) when the image has an alpha channel and
// some pixel is not opaque. The file is written beside the path and renamed into place
// (Files::ReplacingFile: a link there is replaced, a device written in place), so on failure
// the path keeps what it held and AppError from fileError() naming the path is thrown (61 for
// a full disk); a null image throws 5, a picture too large for the format 6.
// A declared `colour` is written into a V5 header.
void write(const QImage& image, const QString& path, const ImageCore::ColourSpace& colour = {});

// Reads a BMP one row at a time, top row first, holding a block of rows rather than the
// picture or the file (BmpCore::RowReader). Compressed (RLE) files are decoded whole behind
// the same calls.
class RowReader
{
public:
    explicit RowReader(const QString& path); // throws AppError as read() does
    ~RowReader();
    RowReader(const RowReader&) = delete;
    RowReader& operator=(const RowReader&) = delete;

    int width() const;
    int height() const;
    // True when the file carries an alpha channel (32-bit with an alpha mask, or 32-bit
    // BI_RGB whose fourth bytes are not all zero).
    bool hasAlpha() const;
    // The parsed headers, for what they carry beside the pixels.
    const BmpDecode::DibHeader& header() const;
    // Decodes the next row, top first, into `width()` pixels of 0xAARRGGBB (alpha 255 when
    // opaque). Throws AppError 481 when the file ends early or is damaged.
    void readRow(QRgb* out);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

// Writes a BMP one row at a time, top row first (rows land at their places in the
// bottom-up file by positioned writes), beside the path as write() does. finish() closes
// and checks the file and renames it into place; without it the destructor removes the
// unfinished file and the path keeps what it held.
class RowWriter
{
public:
    // Throws AppError.
    RowWriter(const QString& path, int width, int height, bool alpha,
        const ImageCore::ColourSpace& colour = {});
    ~RowWriter();
    RowWriter(const RowWriter&) = delete;
    RowWriter& operator=(const RowWriter&) = delete;

    void writeRow(const QRgb* row); // `width` pixels of 0xAARRGGBB
    void finish();

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace Bmp
