// SPDX-License-Identifier: MIT

#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QPoint>
#include <QString>
#include <QTemporaryDir>
#include <array>
#include <functional>

// Picture files made by the tests themselves: BMP files of every variant assembled byte by
// byte, and JPEG files encoded with libjpeg.
namespace ImageFixtures {

// How a BMP file is laid out. Colour tables use 3-byte entries with the 12-byte header and
// 4-byte entries otherwise.
struct BmpLayout
{
    int headerSize = 40; // 12, 16, 40, 52, 56, 64, 108 or 124
    int bitCount = 24;
    int compression = 0; // 0 RGB, 1 RLE8, 2 RLE4, 3 bit fields, 6 alpha bit fields
    bool topDown = false; // negative height
    QList<QRgb> palette; // colour table as written
    qint64 coloursUsed = -1; // the header's colour count; -1 writes palette.size()
    std::array<quint32, 4> masks {}; // red, green, blue, alpha for bit fields
};

// Pixel value of column x, row y (0 = top): a palette index, a raw 16- or 32-bit value, or
// 0xRRGGBB for 24-bit.
using PixelValue = std::function<quint32(int x, int y)>;

// Packs width x height values at layout.bitCount bits each, rows padded to 4 bytes, in the
// row order the layout's height sign gives.
QByteArray packRows(const BmpLayout& layout, int width, int height, const PixelValue& value);

// Encodes palette indices as RLE8 (bitCount 8) or RLE4 (bitCount 4): runs, literal groups,
// an end of line after every row and an end of picture.
QByteArray encodeRle(int bitCount, int width, int height, bool topDown, const PixelValue& index);

// A complete BMP file: file header, info header, masks where a 40-byte header needs them
// after it, the colour table, then `bits` as the pixel data.
QByteArray bmpFile(const BmpLayout& layout, int width, int height, const QByteArray& bits);

// Writes `bytes` to `path`; false when that fails.
bool writeFile(const QString& path, const QByteArray& bytes);

// Writes `bytes` as the file `name` in `dir` and returns its path; a test that cannot
// make its own input file cannot go on, so failure ends the test program.
QString saveIn(const QTemporaryDir& dir, const QByteArray& bytes, const QString& name);

// One picture of an icon or cursor file.
struct IconEntry
{
    QByteArray data; // from iconBitmap(), or a PNG file
    int width;
    int height;
    int bitCount; // written for icons; cursors write the hotspot there
    QPoint hotspot; // cursors only
};

// The bitmap of an icon entry: info header (with the doubled height), colour table, the
// colour rows `bits` (as packRows() gives them) and the AND mask, 1 = transparent.
QByteArray iconBitmap(const BmpLayout& layout, int width, int height, const QByteArray& bits,
    const std::function<bool(int x, int y)>& transparent);

// An icon (type 1) or cursor (type 2) file holding `entries`.
QByteArray iconFile(int type, const QList<IconEntry>& entries);

enum class JpegKind {
    Baseline,
    Progressive,
    Grayscale, // the picture's luminance only
    CmykAdobe, // CMYK stored inverted, with an Adobe marker (what most programs write)
    CmykPlain, // CMYK stored as is, without an Adobe marker
    Ycck, // YCCK with an Adobe marker
};

// The payload of an APP1 segment carrying an EXIF orientation (1..8), in Intel or
// Motorola byte order.
QByteArray exifOrientation(int orientation, bool bigEndian = false);

// Encodes `picture` (any format; alpha ignored) as a JPEG file; an `app1` payload is
// written as an APP1 segment. Returns an empty array when libjpeg fails.
QByteArray jpegFile(
    const QImage& picture, JpegKind kind, int quality = 95, const QByteArray& app1 = {});

// A smooth width x height RGB picture (red across, green down) for tests that need some
// picture of a given size.
QImage gradient(int width, int height);

// A width x height RGB picture of repeatable noise: it compresses badly, so its files are
// large and slow to write, for tests that cut a file short or catch a run midway.
QImage noise(int width, int height);

} // namespace ImageFixtures
