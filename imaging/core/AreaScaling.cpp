// SPDX-License-Identifier: MIT

#include "imaging/core/AreaScaling.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

template <class Sample>
auto AreaAverager<Sample>::spans(const std::vector<Contribution>& cx, int targetLength)
    -> std::vector<Span>
{
    std::vector<Span> result(std::size_t(std::max(0, targetLength)));
    const int n = int(cx.size());
    int i = 0;
    for (int t = 0; t < targetLength; ++t) {
        const bool straddling = i > 0 && cx[std::size_t(i - 1)].first == t - 1
            && cx[std::size_t(i - 1)].weightNext != 0.0f;
        const int begin = i;
        while (i < n && cx[std::size_t(i)].first == t)
            ++i;
        result[std::size_t(t)] = { begin, i, straddling };
    }
    return result;
}

namespace {

// One pixel's four samples as one vector: the four channels average independently, each in
// the same order of operations as one at a time would, so results do not depend on it.
using Floats = float __attribute__((vector_size(16)));
using Ints = std::int32_t __attribute__((vector_size(16)));

Floats loadSums(const float* p)
{
    Floats v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

void storeSums(float* p, Floats v)
{
    std::memcpy(p, &v, sizeof v);
}

// The four samples of one pixel as a vector.
template <class Sample> struct Pixel;
template <> struct Pixel<std::uint8_t>
{
    using Samples = std::uint8_t __attribute__((vector_size(4)));
};
template <> struct Pixel<std::uint16_t>
{
    using Samples = std::uint16_t __attribute__((vector_size(8)));
};

template <class Sample> Floats loadPixel(const Sample* p)
{
    typename Pixel<Sample>::Samples v;
    std::memcpy(&v, p, sizeof v);
    return __builtin_convertvector(__builtin_convertvector(v, Ints), Floats);
}

#if defined(__SSE2__)
// Bytes widened by interleaving with zeros: compilers convert a vector of bytes one by one.
template <> Floats loadPixel(const std::uint8_t* p)
{
    std::int32_t word;
    std::memcpy(&word, p, sizeof word);
    const __m128i zero = _mm_setzero_si128();
    const __m128i bytes = _mm_cvtsi32_si128(word);
    return Floats(_mm_cvtepi32_ps(_mm_unpacklo_epi16(_mm_unpacklo_epi8(bytes, zero), zero)));
}
#endif

// Stores a pixel of values already within the sample's range, cut to whole numbers.
template <class Sample> void storePixel(Sample* p, Floats v)
{
    const auto samples = __builtin_convertvector(
        __builtin_convertvector(v, Ints), typename Pixel<Sample>::Samples);
    std::memcpy(p, &samples, sizeof samples);
}

#if defined(__SSE2__)
// Packed down with saturation, which the values never reach: no lane-by-lane conversion.
template <> void storePixel(std::uint8_t* p, Floats v)
{
    const __m128i words = _mm_cvttps_epi32(__m128(v));
    const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(words, words), words);
    const std::int32_t word = _mm_cvtsi128_si32(bytes);
    std::memcpy(p, &word, sizeof word);
}
#endif

// Adds one source row, weighted, to a row of running sums (4 floats per source pixel), or
// stores it there when the sums are still empty.
template <class Sample>
void accumulate(float* sums, const Sample* row, float weight, int pixels, bool store)
{
    const Floats w = { weight, weight, weight, weight };
    if (store) {
        for (int i = 0; i < pixels; ++i)
            storeSums(sums + 4 * i, loadPixel(row + 4 * i) * w);
    } else {
        for (int i = 0; i < pixels; ++i)
            storeSums(sums + 4 * i, loadSums(sums + 4 * i) + loadPixel(row + 4 * i) * w);
    }
}

} // namespace

template <class Sample>
AreaAverager<Sample>::AreaAverager(Size source, Size target, Sample* out, std::ptrdiff_t outStride)
    : m_target(target)
    , m_out(out)
    , m_outStride(outStride)
    , m_cx(contributions(source.width, target.width))
    , m_tx(spans(m_cx, target.width))
    , m_cy(contributions(source.height, target.height))
    , m_current(4 * std::size_t(std::max(0, source.width)), 0.0f)
    , m_next(m_current.size(), 0.0f)
{
}

template <class Sample> void AreaAverager<Sample>::add(const Sample* row)
{
    if (m_y >= int(m_cy.size()))
        return;
    const Contribution& c = m_cy[std::size_t(m_y++)];
    while (m_currentRow < c.first)
        finishRow();
    const int pixels = int(m_current.size() / 4);
    accumulate(m_current.data(), row, c.weightFirst, pixels, m_currentEmpty);
    m_currentEmpty = false;
    if (c.weightNext != 0.0f) {
        accumulate(m_next.data(), row, c.weightNext, pixels, m_nextEmpty);
        m_nextEmpty = false;
    }
}

template <class Sample> void AreaAverager<Sample>::finish()
{
    while (m_currentRow < m_target.height)
        finishRow();
}

// Reduces the row of column sums to the target width and stores it; the sums already hold
// the target row's vertical average. Each target pixel adds its source pixels left to right.
template <class Sample> void AreaAverager<Sample>::finishRow()
{
    if (m_currentEmpty)
        std::fill(m_current.begin(), m_current.end(), 0.0f);
    constexpr float top = float(std::numeric_limits<Sample>::max());
    const Floats zero = {};
    const Floats half = { 0.5f, 0.5f, 0.5f, 0.5f };
    const Floats ceiling = { top, top, top, top };
    const float* sums = m_current.data();
    Sample* out = m_out + m_outStride * m_currentRow;
    for (int t = 0; t < m_target.width; ++t) {
        const Span& span = m_tx[std::size_t(t)];
        Floats sum = zero;
        if (span.straddling)
            sum += loadSums(sums + 4 * (span.begin - 1))
                * m_cx[std::size_t(span.begin - 1)].weightNext;
        for (int i = span.begin; i < span.end; ++i)
            sum += loadSums(sums + 4 * i) * m_cx[std::size_t(i)].weightFirst;
        Floats v = sum + half;
        v = v < zero ? zero : v;
        v = v > ceiling ? ceiling : v;
        storePixel(out + 4 * t, v);
    }
    m_current.swap(m_next);
    m_currentEmpty = m_nextEmpty;
    m_nextEmpty = true;
    ++m_currentRow;
}

template class AreaAverager<std::uint8_t>;
template class AreaAverager<std::uint16_t>;

} // namespace ImageCore
