// SPDX-License-Identifier: MIT

#include "imaging/core/AreaScaling.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace ImageCore {

float scaleFactor(int percentage)
{
    return static_cast<float>(percentage / 100.0);
}

Size thumbnailSize(Size picture, float factor)
{
    // Both factors have at most 24 significant bits, so the double product is exact;
    // nearbyint rounds ties to even in the default rounding mode.
    const auto side = [factor](int length) {
        return static_cast<int>(std::nearbyint(static_cast<double>(length) * factor));
    };
    return { side(picture.width), side(picture.height) };
}

Size storedSize(Size computed)
{
    return { std::max(1, computed.width), std::max(1, computed.height) };
}

// Where one source pixel (or row) falls among the target pixels: it covers the span
// [i*T, (i+1)*T) in units where target pixel t spans [t*S, (t+1)*S), so it lies in
// `first` and, when it straddles a border, partly in first + 1.
template <class Sample>
auto AreaAverager<Sample>::contributions(int sourceLength, int targetLength)
    -> std::vector<Contribution>
{
    std::vector<Contribution> result(std::size_t(std::max(0, sourceLength)));
    const std::int64_t s = sourceLength;
    const std::int64_t t = targetLength;
    const float norm = 1.0f / static_cast<float>(s);
    for (std::int64_t i = 0; i < s; ++i) {
        const std::int64_t start = i * t;
        const std::int64_t end = start + t;
        const std::int64_t first = start / s;
        const std::int64_t border = (first + 1) * s;
        if (end <= border || first + 1 >= t) {
            result[std::size_t(i)] = { int(first), float(t) * norm, 0.0f };
        } else {
            result[std::size_t(i)]
                = { int(first), float(border - start) * norm, float(end - border) * norm };
        }
    }
    return result;
}

namespace {

// Adds one source row, weighted, to a row of running sums (4 floats per source pixel).
template <class Sample> void accumulate(float* sums, const Sample* row, float weight, int count)
{
    for (int k = 0; k < count; ++k)
        sums[k] += static_cast<float>(row[k]) * weight;
}

} // namespace

template <class Sample>
AreaAverager<Sample>::AreaAverager(Size source, Size target, Sample* out, std::ptrdiff_t outStride)
    : m_target(target)
    , m_out(out)
    , m_outStride(outStride)
    , m_cx(contributions(source.width, target.width))
    , m_cy(contributions(source.height, target.height))
    , m_current(4 * std::size_t(std::max(0, source.width)), 0.0f)
    , m_next(m_current.size(), 0.0f)
    , m_reduced(4 * std::size_t(std::max(0, target.width)))
{
}

template <class Sample> void AreaAverager<Sample>::add(const Sample* row)
{
    if (m_y >= int(m_cy.size()))
        return;
    const Contribution& c = m_cy[std::size_t(m_y++)];
    while (m_currentRow < c.first)
        finishRow();
    const int count = int(m_current.size());
    accumulate(m_current.data(), row, c.weightFirst, count);
    if (c.weightNext != 0.0f)
        accumulate(m_next.data(), row, c.weightNext, count);
}

template <class Sample> void AreaAverager<Sample>::finish()
{
    while (m_currentRow < m_target.height)
        finishRow();
}

// Reduces the row of column sums to the target width and stores it; the sums already hold
// the target row's vertical average.
template <class Sample> void AreaAverager<Sample>::finishRow()
{
    constexpr float top = float(std::numeric_limits<Sample>::max());
    float* reduced = m_reduced.data();
    std::memset(reduced, 0, sizeof(float) * m_reduced.size());
    const int n = int(m_cx.size());
    const float* sums = m_current.data();
    for (int i = 0; i < n; ++i) {
        const float* p = sums + 4 * i;
        const Contribution& c = m_cx[std::size_t(i)];
        float* o = reduced + 4 * c.first;
        for (int k = 0; k < 4; ++k)
            o[k] += p[k] * c.weightFirst;
        if (c.weightNext != 0.0f) {
            for (int k = 0; k < 4; ++k)
                o[4 + k] += p[k] * c.weightNext;
        }
    }
    Sample* out = m_out + m_outStride * m_currentRow;
    for (int k = 0; k < 4 * m_target.width; ++k) {
        const float v = reduced[k] + 0.5f;
        out[k] = v >= top ? Sample(top) : v <= 0.0f ? 0 : static_cast<Sample>(v);
    }
    m_current.swap(m_next);
    std::fill(m_next.begin(), m_next.end(), 0.0f);
    ++m_currentRow;
}

template class AreaAverager<std::uint8_t>;
template class AreaAverager<std::uint16_t>;

} // namespace ImageCore
