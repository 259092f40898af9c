// SPDX-License-Identifier: MIT

#include "conversion/PictureScaling.h"

#include <cmath>
#include <cstring>
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

// Area average of a 32-bit image whose four bytes per pixel average independently
// (RGB32, or premultiplied ARGB32). Rows are summed first, at the source width, which
// vectorises well; each finished target row is then reduced across once.
QImage areaAverage(const QImage& source, QSize target, QImage::Format format)
{
    const int tw = target.width();
    const int th = target.height();
    QImage result(tw, th, format);
    if (result.isNull())
        return result;
    const auto cx = contributions(source.width(), tw);
    const auto cy = contributions(source.height(), th);
    const int count = 4 * source.width();
    std::vector<float> current(count, 0.0f);
    std::vector<float> next(count, 0.0f);
    std::vector<float> reduced(4 * std::size_t(tw));
    int currentRow = 0;
    const auto finishRow = [&] {
        emitRow(current.data(), cx, reduced.data(), result.scanLine(currentRow), tw);
        current.swap(next);
        std::fill(next.begin(), next.end(), 0.0f);
        ++currentRow;
    };
    for (int y = 0; y < source.height(); ++y) {
        const Contribution& c = cy[y];
        while (currentRow < c.first)
            finishRow();
        const uchar* row = source.constScanLine(y);
        accumulate(current.data(), row, c.weightFirst, count);
        if (c.weightNext != 0.0f)
            accumulate(next.data(), row, c.weightNext, count);
    }
    while (currentRow < th)
        finishRow();
    return result;
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
