// SPDX-License-Identifier: MIT

#include "conversion/PictureScaling.h"

#include "imaging/core/AreaScaling.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <optional>
#include <vector>

namespace PictureScaling {

float scaleFactor(int percentage)
{
    return ImageCore::scaleFactor(percentage);
}

QSize thumbnailSize(QSize picture, float factor)
{
    const ImageCore::Size size
        = ImageCore::thumbnailSize({ picture.width(), picture.height() }, factor);
    return QSize(size.width, size.height);
}

QSize storedSize(QSize computed)
{
    const ImageCore::Size size = ImageCore::storedSize({ computed.width(), computed.height() });
    return QSize(size.width, size.height);
}

namespace {

// The shared area average into a QImage of `format` (RGB32, or premultiplied ARGB32, whose
// four bytes per pixel average independently).
class AreaAverager
{
public:
    AreaAverager(QSize source, QSize target, QImage::Format format)
        : m_result(target, format)
    {
        if (!m_result.isNull())
            m_averager.emplace(ImageCore::Size { source.width(), source.height() },
                ImageCore::Size { target.width(), target.height() }, m_result.bits(),
                m_result.bytesPerLine());
    }

    // The next source row: 4 bytes per pixel.
    void add(const uchar* row)
    {
        if (m_averager)
            m_averager->add(row);
    }

    // The result once every row is in; null when it could not be allocated.
    QImage finish()
    {
        if (m_averager)
            m_averager->finish();
        return m_result;
    }

private:
    QImage m_result;
    std::optional<ImageCore::AreaAverager<std::uint8_t>> m_averager;
};

QImage areaAverage(const QImage& source, QSize target, QImage::Format format)
{
    AreaAverager averager(source.size(), target, format);
    for (int y = 0; y < source.height(); ++y)
        averager.add(source.constScanLine(y));
    return averager.finish();
}

} // namespace

QImage scale(const QImage& source, QSize target)
{
    if (source.isNull() || target.isEmpty())
        return QImage();
    const bool alpha = source.hasAlphaChannel();
    const QImage::Format plain = alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32;
    if (source.size() == target)
        return source.format() == plain ? source : source.convertToFormat(plain);
    if (target.width() > source.width() || target.height() > source.height())
        return source.convertToFormat(plain).scaled(
            target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);

    if (!alpha) {
        const QImage rgb = source.format() == QImage::Format_RGB32
            ? source
            : source.convertToFormat(QImage::Format_RGB32);
        return areaAverage(rgb, target, QImage::Format_RGB32);
    }
    const QImage premultiplied = source.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    return areaAverage(premultiplied, target, QImage::Format_ARGB32_Premultiplied)
        .convertToFormat(QImage::Format_ARGB32);
}

} // namespace PictureScaling

namespace PictureScaling {

// Rows of straight alpha are premultiplied a block at a time by the very conversion scale()
// applies to the whole picture, so that both give the same bytes.
struct RowScaler::Private
{
    Private(QSize source, QSize target, bool alpha)
        : source(source)
        , target(target)
        , alpha(alpha)
    {
    }

    const QSize source;
    const QSize target;
    const bool alpha;
    std::optional<AreaAverager> averager; // unless the picture is only copied or enlarged
    QImage rows; // the whole picture to copy or enlarge, or a block of rows to premultiply
    int rowsHeld = 0;
    int added = 0;

    void flushBlock()
    {
        if (rowsHeld == 0)
            return;
        const QImage premultiplied = rows.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        for (int y = 0; y < rowsHeld; ++y)
            averager->add(premultiplied.constScanLine(y));
        rowsHeld = 0;
    }
};

RowScaler::RowScaler(QSize source, QSize target, bool alpha)
    : d(std::make_unique<Private>(source, target, alpha))
{
    const QImage::Format plain = alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32;
    if (source.isEmpty() || target.isEmpty())
        return;
    if (source == target || target.width() > source.width() || target.height() > source.height()) {
        d->rows = QImage(source, plain);
        if (d->rows.isNull())
            throw std::bad_alloc();
        d->rows.fill(0);
        return;
    }
    d->averager.emplace(
        source, target, alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    if (alpha) {
        const int blockRows = std::clamp(
            (1 << 18) / std::max(1, 4 * source.width()), 1, std::max(1, source.height()));
        d->rows = QImage(source.width(), blockRows, plain);
        if (d->rows.isNull())
            throw std::bad_alloc();
    }
}

RowScaler::~RowScaler() = default;

void RowScaler::addRow(const QRgb* row)
{
    if (d->added >= d->source.height() || (!d->averager && d->rows.isNull()))
        return;
    ++d->added;
    if (d->averager && !d->alpha) {
        d->averager->add(reinterpret_cast<const uchar*>(row));
        return;
    }
    std::memcpy(
        d->rows.scanLine(d->rowsHeld++), row, sizeof(QRgb) * std::size_t(d->source.width()));
    if (d->averager && d->rowsHeld == d->rows.height())
        d->flushBlock();
}

QImage RowScaler::finish()
{
    if (!d->averager)
        return d->rows.isNull() ? QImage() : scale(d->rows, d->target);
    if (!d->alpha)
        return d->averager->finish();
    d->flushBlock();
    return d->averager->finish().convertToFormat(QImage::Format_ARGB32);
}

} // namespace PictureScaling
