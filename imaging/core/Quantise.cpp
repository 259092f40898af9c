// SPDX-License-Identifier: MIT

#include "imaging/core/Quantise.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>
#include <queue>

namespace ImageCore {
namespace {

constexpr int maxEntries = 256;
// Colours are gathered in cells of 6 bits per sample: 262144 cells keep what the eye and the
// error measure tell apart, and a photograph fills some tens of thousands of them.
constexpr int cellBits = 6;
constexpr int cellCount = 1 << (3 * cellBits);
// Lloyd's passes after the median cut: the error stops falling noticeably after a few.
constexpr int refinements = 4;

bool opaque(std::uint32_t argb)
{
    return (argb >> 24) >= 128;
}

// The mean colour of a cell, weighted by its pixels.
struct Point
{
    std::array<float, 3> colour;
    float weight;
};

float distance(const std::array<float, 3>& a, const std::array<float, 3>& b)
{
    const float r = a[0] - b[0], g = a[1] - b[1], bl = a[2] - b[2];
    return r * r + g * g + bl * bl;
}

// Nearest colour among a palette, searched outward along r + g + b from where the colour
// falls: a palette colour whose sum differs by d is at least d / sqrt(3) away, which ends the
// search long before the palette's end.
class Nearest
{
public:
    explicit Nearest(const std::vector<std::array<float, 3>>& palette)
    {
        m_order.reserve(palette.size());
        for (std::size_t i = 0; i < palette.size(); ++i)
            m_order.push_back({ palette[i][0] + palette[i][1] + palette[i][2], int(i) });
        std::sort(m_order.begin(), m_order.end(),
            [](const Entry& a, const Entry& b) { return a.sum < b.sum; });
        m_colours.reserve(palette.size());
        m_position.resize(palette.size());
        for (std::size_t i = 0; i < m_order.size(); ++i) {
            m_colours.push_back(palette[std::size_t(m_order[i].index)]);
            m_position[std::size_t(m_order[i].index)] = std::ptrdiff_t(i);
        }
    }

    // `guess`, a palette index likely to be near (or -1), bounds the search from the start.
    int find(const std::array<float, 3>& c, int guess = -1) const
    {
        const float sum = c[0] + c[1] + c[2];
        const auto at = std::lower_bound(
            m_order.begin(), m_order.end(), sum, [](const Entry& e, float s) { return e.sum < s; });
        const std::ptrdiff_t start
            = std::min<std::ptrdiff_t>(at - m_order.begin(), std::ptrdiff_t(m_order.size()) - 1);
        std::ptrdiff_t found = guess >= 0 ? m_position[std::size_t(guess)] : start;
        float best = distance(c, m_colours[std::size_t(found)]);
        if (const float e = distance(c, m_colours[std::size_t(start)]); e < best) {
            best = e;
            found = start;
        }
        bool up = true, down = true;
        for (std::ptrdiff_t k = 1; up || down; ++k) {
            if (up) {
                const std::ptrdiff_t i = start + k;
                if (i >= std::ptrdiff_t(m_order.size())) {
                    up = false;
                } else {
                    const float d = m_order[std::size_t(i)].sum - sum;
                    if (d * d >= 3 * best) {
                        up = false;
                    } else if (const float e = distance(c, m_colours[std::size_t(i)]); e < best) {
                        best = e;
                        found = i;
                    }
                }
            }
            if (down) {
                const std::ptrdiff_t i = start - k;
                if (i < 0) {
                    down = false;
                } else {
                    const float d = sum - m_order[std::size_t(i)].sum;
                    if (d * d >= 3 * best) {
                        down = false;
                    } else if (const float e = distance(c, m_colours[std::size_t(i)]); e < best) {
                        best = e;
                        found = i;
                    }
                }
            }
        }
        return m_order[std::size_t(found)].index;
    }

    // Appends every palette index within `radius` of `c`.
    void within(const std::array<float, 3>& c, float radius, std::vector<std::uint8_t>& out) const
    {
        const float sum = c[0] + c[1] + c[2];
        const float reach = radius * radius;
        const auto from = std::lower_bound(m_order.begin(), m_order.end(), sum - radius * 1.7321f,
            [](const Entry& e, float s) { return e.sum < s; });
        for (auto e = from; e != m_order.end() && e->sum <= sum + radius * 1.7321f; ++e) {
            if (distance(c, m_colours[std::size_t(e - m_order.begin())]) <= reach)
                out.push_back(std::uint8_t(e->index));
        }
    }

private:
    struct Entry
    {
        float sum;
        int index;
    };
    std::vector<Entry> m_order;
    std::vector<std::array<float, 3>> m_colours;
    std::vector<std::ptrdiff_t> m_position; // of each palette index in m_order
};

// A box of the median cut: points [begin, end) and their squared error about their mean.
struct Box
{
    std::size_t begin;
    std::size_t end;
    double error;
    bool operator<(const Box& other) const { return error < other.error; }
};

struct Moments
{
    double weight = 0;
    std::array<double, 3> sum {};
    double squares = 0;

    void add(const Point& p)
    {
        weight += p.weight;
        for (int k = 0; k < 3; ++k) {
            sum[std::size_t(k)] += double(p.weight) * p.colour[std::size_t(k)];
            squares += double(p.weight) * p.colour[std::size_t(k)] * p.colour[std::size_t(k)];
        }
    }
    double error() const
    {
        if (weight <= 0)
            return 0;
        return std::max(
            0.0, squares - (sum[0] * sum[0] + sum[1] * sum[1] + sum[2] * sum[2]) / weight);
    }
    Moments minus(const Moments& other) const
    {
        Moments m;
        m.weight = weight - other.weight;
        for (std::size_t k = 0; k < 3; ++k)
            m.sum[k] = sum[k] - other.sum[k];
        m.squares = squares - other.squares;
        return m;
    }
};

Moments momentsOf(const std::vector<Point>& points, std::size_t begin, std::size_t end)
{
    Moments m;
    for (std::size_t i = begin; i < end; ++i)
        m.add(points[i]);
    return m;
}

// Splits the box along its widest-spread sample where the two halves' summed error is least.
std::size_t split(std::vector<Point>& points, const Box& box)
{
    const Moments all = momentsOf(points, box.begin, box.end);
    std::array<double, 3> spread {};
    for (std::size_t i = box.begin; i < box.end; ++i) {
        for (std::size_t k = 0; k < 3; ++k) {
            const double d = points[i].colour[k] - all.sum[k] / all.weight;
            spread[k] += points[i].weight * d * d;
        }
    }
    const std::size_t axis
        = std::size_t(std::max_element(spread.begin(), spread.end()) - spread.begin());
    std::sort(points.begin() + std::ptrdiff_t(box.begin), points.begin() + std::ptrdiff_t(box.end),
        [axis](const Point& a, const Point& b) { return a.colour[axis] < b.colour[axis]; });
    Moments left;
    double best = -1;
    std::size_t at = box.begin + 1;
    for (std::size_t i = box.begin; i + 1 < box.end; ++i) {
        left.add(points[i]);
        if (points[i].colour[axis] == points[i + 1].colour[axis])
            continue;
        const double e = left.error() + all.minus(left).error();
        if (best < 0 || e < best) {
            best = e;
            at = i + 1;
        }
    }
    return at;
}

std::vector<std::array<float, 3>> medianCut(std::vector<Point>& points, int entries)
{
    std::priority_queue<Box> boxes;
    boxes.push({ 0, points.size(), momentsOf(points, 0, points.size()).error() });
    std::vector<Box> done;
    while (!boxes.empty() && int(boxes.size() + done.size()) < entries) {
        const Box box = boxes.top();
        boxes.pop();
        if (box.end - box.begin < 2 || box.error <= 0) {
            done.push_back(box);
            continue;
        }
        const std::size_t at = split(points, box);
        boxes.push({ box.begin, at, momentsOf(points, box.begin, at).error() });
        boxes.push({ at, box.end, momentsOf(points, at, box.end).error() });
    }
    for (; !boxes.empty(); boxes.pop())
        done.push_back(boxes.top());
    std::vector<std::array<float, 3>> palette;
    for (const Box& box : done) {
        const Moments m = momentsOf(points, box.begin, box.end);
        palette.push_back(
            { float(m.sum[0] / m.weight), float(m.sum[1] / m.weight), float(m.sum[2] / m.weight) });
    }
    return palette;
}

// Lloyd's passes: each colour moves to the mean of the points nearest to it. `nearestOf`
// ends as each point's nearest colour before the last move, a close guess for its pixels.
void refine(const std::vector<Point>& points, std::vector<std::array<float, 3>>& palette,
    std::vector<int>& nearestOf)
{
    nearestOf.assign(points.size(), -1);
    for (int pass = 0; pass < refinements; ++pass) {
        const Nearest nearest(palette);
        std::vector<Moments> sums(palette.size());
        for (std::size_t i = 0; i < points.size(); ++i) {
            nearestOf[i] = nearest.find(points[i].colour, nearestOf[i]);
            sums[std::size_t(nearestOf[i])].add(points[i]);
        }
        for (std::size_t i = 0; i < palette.size(); ++i) {
            if (sums[i].weight > 0)
                palette[i] = { float(sums[i].sum[0] / sums[i].weight),
                    float(sums[i].sum[1] / sums[i].weight),
                    float(sums[i].sum[2] / sums[i].weight) };
        }
    }
}

std::uint32_t cellOfColour(std::uint32_t argb)
{
    constexpr int drop = 8 - cellBits;
    constexpr std::uint32_t mask = (1u << cellBits) - 1;
    return ((argb >> (16 + drop)) & mask) << (2 * cellBits)
        | ((argb >> (8 + drop)) & mask) << cellBits | ((argb >> drop) & mask);
}

std::uint8_t toByte(float v)
{
    return std::uint8_t(std::clamp(v + 0.5f, 0.0f, 255.0f));
}

std::array<float, 3> colourOf(std::uint32_t argb)
{
    return { float((argb >> 16) & 0xff), float((argb >> 8) & 0xff), float(argb & 0xff) };
}

// The opaque colours of the picture when they are no more than `limit` (none when every
// pixel is transparent), else nothing.
std::optional<std::vector<std::uint32_t>> fewColours(
    const std::uint32_t* argb, int width, int height, std::ptrdiff_t stride, int limit)
{
    // Open addressing in a table four times the limit; 0 marks a free slot, so colours are
    // kept with their top bit set.
    constexpr std::size_t slots = 1024;
    std::array<std::uint32_t, slots> table {};
    std::vector<std::uint32_t> colours;
    for (int y = 0; y < height; ++y) {
        const std::uint32_t* row = argb + y * stride;
        std::uint32_t last = 0;
        for (int x = 0; x < width; ++x) {
            if (!opaque(row[x]))
                continue;
            const std::uint32_t key = (row[x] & 0xffffff) | 0x80000000u;
            if (key == last)
                continue;
            last = key;
            std::size_t slot = (key * 2654435761u) >> 22;
            while (table[slot] != 0 && table[slot] != key)
                slot = (slot + 1) & (slots - 1);
            if (table[slot] == key)
                continue;
            if (int(colours.size()) == limit)
                return std::nullopt;
            table[slot] = key;
            colours.push_back(key & 0xffffff);
        }
    }
    return colours;
}

} // namespace

Quantised quantise(const std::uint32_t* argb, int width, int height, std::ptrdiff_t stride)
{
    Quantised out;
    out.indices.resize(std::size_t(width) * std::size_t(height));
    bool transparent = false;
    for (int y = 0; y < height && !transparent; ++y) {
        for (int x = 0; x < width && !transparent; ++x)
            transparent = !opaque(argb[y * stride + x]);
    }
    const int entries = transparent ? maxEntries - 1 : maxEntries;

    std::vector<std::array<float, 3>> palette;
    std::vector<std::int32_t> cellOf; // each cell's point, or -1
    std::vector<int> nearestOf; // each point's likely colour
    if (const auto few = fewColours(argb, width, height, stride, entries)) {
        for (const std::uint32_t c : *few)
            palette.push_back(colourOf(c));
    } else {
        // Every cell's pixel count and colour sums, in the order cells are first met.
        cellOf.assign(cellCount, -1);
        std::vector<std::array<std::uint64_t, 4>> cells;
        for (int y = 0; y < height; ++y) {
            const std::uint32_t* row = argb + y * stride;
            for (int x = 0; x < width; ++x) {
                const std::uint32_t c = row[x];
                if (!opaque(c))
                    continue;
                const std::uint32_t r = (c >> 16) & 0xff, g = (c >> 8) & 0xff, b = c & 0xff;
                std::int32_t& at = cellOf[cellOfColour(c)];
                if (at < 0) {
                    at = std::int32_t(cells.size());
                    cells.push_back({});
                }
                std::array<std::uint64_t, 4>& sums = cells[std::size_t(at)];
                ++sums[0];
                sums[1] += r;
                sums[2] += g;
                sums[3] += b;
            }
        }
        std::vector<Point> points;
        points.reserve(cells.size());
        for (const auto& s : cells) {
            const double n = double(s[0]);
            points.push_back(
                { { float(double(s[1]) / n), float(double(s[2]) / n), float(double(s[3]) / n) },
                    float(n) });
        }
        palette = medianCut(points, entries);
        refine(points, palette, nearestOf);
    }

    out.palette.reserve(palette.size() + 1);
    for (const auto& c : palette)
        out.palette.push_back({ toByte(c[0]), toByte(c[1]), toByte(c[2]) });
    // Each pixel takes the nearest of the colours as they are stored.
    std::vector<std::array<float, 3>> stored;
    for (const Quantised::Colour& c : out.palette)
        stored.push_back({ float(c.red), float(c.green), float(c.blue) });
    const Nearest nearest(stored);
    if (transparent) {
        out.transparent = int(out.palette.size());
        out.palette.push_back({});
    }
    // The colours any pixel of a cell may be nearest to: within the cell's half diagonal
    // twice over of the distance from its centre to the nearest, so that each pixel compares
    // a few instead of searching the palette.
    std::vector<std::uint32_t> firstCandidate, endCandidate;
    std::vector<std::uint8_t> candidates;
    if (!cellOf.empty()) {
        constexpr float half = float(1 << (7 - cellBits)) - 0.5f;
        const float diagonal = 2 * half * 1.7321f;
        firstCandidate.resize(nearestOf.size());
        endCandidate.resize(nearestOf.size());
        for (std::uint32_t cell = 0; cell < std::uint32_t(cellCount); ++cell) {
            const std::int32_t point = cellOf[cell];
            if (point < 0)
                continue;
            constexpr int drop = 8 - cellBits;
            constexpr std::uint32_t mask = (1u << cellBits) - 1;
            const std::array<float, 3> centre { float((cell >> (2 * cellBits)) << drop) + half,
                float(((cell >> cellBits) & mask) << drop) + half,
                float((cell & mask) << drop) + half };
            const int best = nearest.find(centre, nearestOf[std::size_t(point)]);
            const float d = std::sqrt(distance(centre, stored[std::size_t(best)]));
            firstCandidate[std::size_t(point)] = std::uint32_t(candidates.size());
            nearest.within(centre, d + diagonal, candidates);
            endCandidate[std::size_t(point)] = std::uint32_t(candidates.size());
        }
    }
    std::uint32_t lastColour = 0;
    int lastIndex = -1;
    for (int y = 0; y < height; ++y) {
        const std::uint32_t* row = argb + y * stride;
        std::uint8_t* indices = &out.indices[std::size_t(y) * std::size_t(width)];
        for (int x = 0; x < width; ++x) {
            const std::uint32_t c = row[x];
            if (!opaque(c)) {
                indices[x] = std::uint8_t(out.transparent);
                continue;
            }
            if (lastIndex < 0 || (c & 0xffffff) != lastColour) {
                lastColour = c & 0xffffff;
                const std::array<float, 3> colour = colourOf(c);
                if (cellOf.empty()) {
                    lastIndex = nearest.find(colour);
                } else {
                    const std::size_t point = std::size_t(cellOf[cellOfColour(c)]);
                    float best = -1;
                    for (std::uint32_t k = firstCandidate[point]; k < endCandidate[point]; ++k) {
                        const float e = distance(colour, stored[candidates[k]]);
                        if (best < 0 || e < best) {
                            best = e;
                            lastIndex = candidates[k];
                        }
                    }
                }
            }
            indices[x] = std::uint8_t(lastIndex);
        }
    }
    return out;
}

} // namespace ImageCore
