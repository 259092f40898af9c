// SPDX-License-Identifier: MIT

#pragma once

#include <QImage>
#include <QSize>
#include <memory>

// Thumbnail sizes and the smooth downscale that makes a thumbnail look like a small
// photograph rather than a mosaic of sampled pixels.
namespace PictureScaling {

// The scale factor for a percentage: p / 100 computed in double precision and held in
// single precision, as the sizes of existing thumbnails were computed with it (0.4 is
// really 0.4000000059604645).
float scaleFactor(int percentage);

// The thumbnail's size in pixels: each side times `factor`, formed exactly and rounded to
// the nearest whole number, ties to even. A side may come out as 0.
QSize thumbnailSize(QSize picture, float factor);

// The size actually stored: a side that rounds to 0 is stored as 1 pixel, since a picture
// file cannot be empty.
QSize storedSize(QSize computed);

// Area-averaging resample of `source` to `target` pixels: every target pixel is the mean
// of the source area it covers, partial pixels weighted by their share. The same size
// returns the pixels unchanged. Transparent pixels do not bleed their colour (the average
// is taken premultiplied). Result: Format_RGB32 for an opaque source, Format_ARGB32
// otherwise. Enlarging falls back to a smooth bilinear scale.
QImage scale(const QImage& source, QSize target);

// scale() of a picture handed over one row at a time, top row first, holding a few rows
// rather than the picture: the same bytes as scale() of the whole picture. Only a copy
// (same size) or an enlargement collects every row first.
class RowScaler
{
public:
    // `alpha`: the rows carry straight alpha, as a picture with an alpha channel does;
    // otherwise they are opaque, alpha 255. Throws std::bad_alloc as finish() does.
    RowScaler(QSize source, QSize target, bool alpha);
    ~RowScaler();
    RowScaler(const RowScaler&) = delete;
    RowScaler& operator=(const RowScaler&) = delete;

    // The next row: source.width() pixels of 0xAARRGGBB. Rows past the last are ignored.
    void addRow(const QRgb* row);
    // The scaled picture once every row is in, as scale() returns it. Throws
    // std::bad_alloc when the rows it must hold cannot be allocated.
    QImage finish();

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace PictureScaling
