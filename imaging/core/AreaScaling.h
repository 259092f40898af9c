// SPDX-License-Identifier: MIT

#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The thumbnail size rule and the area averaging every thumbnail is scaled with, without Qt:
// the run (conversion/PictureScaling) and the reading program share them, so every kind of
// picture is sized and scaled alike.
namespace ImageCore {

struct Size
{
    int width = 0;
    int height = 0;
    bool operator==(const Size&) const = default;
};

// p / 100 computed in double precision and held in single precision, as the sizes of
// existing thumbnails were computed with it (0.4 is really 0.4000000059604645).
float scaleFactor(int percentage);

// Each side times `factor`, formed exactly and rounded to the nearest whole number, ties to
// even. A side may come out as 0.
Size thumbnailSize(Size picture, float factor);

// A side that rounds to 0 is stored as 1 pixel, since a picture file cannot be empty.
Size storedSize(Size computed);

// Area average of pictures of 4 samples per pixel that average independently (opaque, or
// premultiplied alpha), fed one source row at a time, top first, into rows of `out` that are
// `outStride` samples apart (the caller owns them). Every target pixel is the mean of the
// source area it covers, partial pixels weighted by their share. Only for shrinking (the
// target no larger than the source on either side, neither empty).
template <class Sample> class AreaAverager
{
public:
    AreaAverager(Size source, Size target, Sample* out, std::ptrdiff_t outStride);

    // The next source row: 4 samples per pixel. Rows past the last are ignored.
    void add(const Sample* row);
    // Writes the target rows still pending; call once every row is in.
    void finish();

private:
    struct Contribution
    {
        int first;
        float weightFirst; // share of the target pixel's area, 0..1
        float weightNext;
    };
    // The source pixels a target pixel averages: [begin, end) lie in it alone, and
    // `straddling` (begin - 1) too when its weightNext is not 0.
    struct Span
    {
        int begin;
        int end;
        bool straddling;
    };
    static std::vector<Contribution> contributions(int sourceLength, int targetLength);
    static std::vector<Span> spans(const std::vector<Contribution>& cx, int targetLength);
    void finishRow();

    Size m_target;
    Sample* m_out;
    std::ptrdiff_t m_outStride;
    std::vector<Contribution> m_cx;
    std::vector<Span> m_tx;
    std::vector<Contribution> m_cy;
    std::vector<float> m_current;
    std::vector<float> m_next;
    // A row of sums nothing was added to yet holds stale values, not zeros: the first row
    // added is stored rather than added, which spares clearing the row each time.
    bool m_currentEmpty = true;
    bool m_nextEmpty = true;
    int m_y = 0; // source rows added
    int m_currentRow = 0; // the target row m_current sums
};

extern template class AreaAverager<std::uint8_t>;
extern template class AreaAverager<std::uint16_t>;

} // namespace ImageCore
