// SPDX-License-Identifier: MIT

#include "conversion/PictureScaling.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <optional>
#include <vector>

namespace PictureScaling {

float scaleFactor(int percentage)
{
    return static_cast<float>(percentage / 100.0);
}

QSize thumbnailSize(QSize picture, float factor)
{
    // Both factors have at most 24 significant bits, so the double product is exact;
    // nearbyint rounds ties to even in the default rounding mode.
    const auto side = [factor](int length) {
        return static_cast<int>(std::nearbyint(static_cast<double>(length) * factor));
    };
    return QSize(side(picture.width()), side(picture.height()));
}

QSize storedSize(QSize computed)
{
    return QSize(std::max(1, computed.width()), std::max(1, computed.height()));
}

namespace {

// Where one source pixel (or row) falls among the target pixels: it covers the span
// [i*T, (i+1)*T) in units where target pixel t spans [t*S, (t+1)*S), so it lies in
// `first` and, when it straddles a border, partly in first + 1.
struct Contribution
{
    int first;
    float weightFirst; // share of the target pixel's area, 0..1
    float weightNext;
};

std::vector<Contribution> contributions(int sourceLength, int targetLength)
{
    std::vector<Contribution> result(sourceLength);
    const qint64 s = sourceLength;
    const qint64 t = targetLength;
    const float norm = 1.0f / static_cast<float>(s);
    for (qint64 i = 0; i < s; ++i) {
        const qint64 start = i * t;
        const qint64 end = start + t;
        const qint64 first = start / s;
        const qint64 border = (first + 1) * s;
        if (end <= border || first + 1 >= t) {
            result[i] = { int(first), float(t) * norm, 0.0f };
        } else {
            result[i] = { int(first), float(border - start) * norm, float(end - border) * norm };
        }
    }
    return result;
}

// Adds one source row, weighted, to a row of running sums (4 floats per source pixel).
void accumulate(float* sums, const uchar* row, float weight, int count)
{
    for (int k = 0; k < count; ++k)
        sums[k] += static_cast<float>(row[k]) * weight;
}

// Reduces a row of column sums to the target width and stores it as bytes; the sums
// already hold each target row's vertical average.
void emitRow(const float* sums, const std::vector<Contribution>& cx, float* reduced, uchar* out,
    int targetWidth)
{
    std::memset(reduced, 0, sizeof(float) * 4 * std::size_t(targetWidth));
    const int n = int(cx.size());
    for (int i = 0; i < n; ++i) {
        const float* p = sums + 4 * i;
        const Contribution& c = cx[i];
        float* o = reduced + 4 * c.first;
        for (int k = 0; k < 4; ++k)
            o[k] += p[k] * c.weightFirst;
        if (c.weightNext != 0.0f) {
            for (int k = 0; k < 4; ++k)
                o[4 + k] += p[k] * c.weightNext;
        }
    }
    for (int k = 0; k < 4 * targetWidth; ++k) {
        const float v = reduced[k] + 0.5f;
        out[k] = v >= 255.0f ? 255 : v <= 0.0f ? 0 : static_cast<uchar>(v);
    }
}

// Area average of a 32-bit picture whose four bytes per pixel average independently
// (RGB32, or premultiplied ARGB32), fed one source row at a time, top first. Rows are
// summed first, at the source width, which vectorises well; each finished target row is
// then reduced across once.
class AreaAverager
{
public:
    AreaAverager(QSize source, QSize target, QImage::Format format)
        : m_result(target, format)
        , m_cx(contributions(source.width(), target.width()))
        , m_cy(contributions(source.height(), target.height()))
        , m_current(4 * std::size_t(source.width()), 0.0f)
        , m_next(m_current.size(), 0.0f)
        , m_reduced(4 * std::size_t(target.width()))
    {
    }

    // The next source row: 4 bytes per pixel.
    void add(const uchar* row)
    {
        if (m_result.isNull() || m_y >= int(m_cy.size()))
            return;
        const Contribution& c = m_cy[std::size_t(m_y++)];
        while (m_currentRow < c.first)
            finishRow();
        const int count = int(m_current.size());
        accumulate(m_current.data(), row, c.weightFirst, count);
        if (c.weightNext != 0.0f)
            accumulate(m_next.data(), row, c.weightNext, count);
    }

    // The result once every row is in; null when it could not be allocated.
    QImage finish()
    {
        if (m_result.isNull())
            return m_result;
        while (m_currentRow < m_result.height())
            finishRow();
        return m_result;
    }

private:
    void finishRow()
    {
        emitRow(m_current.data(), m_cx, m_reduced.data(), m_result.scanLine(m_currentRow),
            m_result.width());
        m_current.swap(m_next);
        std::fill(m_next.begin(), m_next.end(), 0.0f);
        ++m_currentRow;
    }

    QImage m_result;
    const std::vector<Contribution> m_cx;
    const std::vector<Contribution> m_cy;
    std::vector<float> m_current;
    std::vector<float> m_next;
    std::vector<float> m_reduced;
    int m_y = 0; // source rows added
    int m_currentRow = 0; // the target row m_current sums
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
