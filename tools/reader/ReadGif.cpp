// SPDX-License-Identifier: MIT

#include "imaging/core/Limits.h"
#include "tools/reader/Decoded.h"

#include <algorithm>
#include <cstring>
#include <gif_lib.h>
#include <memory>
#include <string>

namespace Reader {
namespace {

struct Input
{
    const std::vector<std::uint8_t>* bytes;
    std::size_t at = 0;
};

int readInput(GifFileType* gif, GifByteType* to, int size)
{
    auto* in = static_cast<Input*>(gif->UserData);
    const std::size_t n = std::min(std::size_t(std::max(size, 0)), in->bytes->size() - in->at);
    if (n > 0)
        std::memcpy(to, in->bytes->data() + in->at, n);
    in->at += n;
    return int(n);
}

struct GifCloser
{
    void operator()(GifFileType* gif) const { DGifCloseFile(gif, nullptr); }
};

[[noreturn]] void fail(const GifFileType* gif, const char* what)
{
    const char* why = GifErrorString(gif ? gif->Error : D_GIF_ERR_READ_FAILED);
    throw Failure { std::string(what) + (why ? std::string(": ") + why : std::string()) };
}

// One frame of the file: its place, its colour indices, and how it is shown.
struct Frame
{
    GifImageDesc desc {};
    std::vector<GifPixelType> indices;
    const ColorMapObject* map = nullptr;
    GraphicsControlBlock control { DISPOSAL_UNSPECIFIED, false, 0, NO_TRANSPARENT_COLOR };
};

class Reading
{
public:
    explicit Reading(GifFileType* gif)
        : m_gif(gif)
    {
    }

    std::uint32_t loopCount = 1; // no NETSCAPE2.0 block: played once

    // The next frame, false at the end of the file. Extensions before it set its control.
    bool next(Frame& frame)
    {
        frame.control = { DISPOSAL_UNSPECIFIED, false, 0, NO_TRANSPARENT_COLOR };
        for (;;) {
            GifRecordType type;
            if (DGifGetRecordType(m_gif, &type) == GIF_ERROR)
                fail(m_gif, "the GIF picture is damaged");
            if (type == TERMINATE_RECORD_TYPE)
                return false;
            if (type == EXTENSION_RECORD_TYPE) {
                extension(frame.control);
                continue;
            }
            if (type != IMAGE_DESC_RECORD_TYPE)
                continue;
            if (DGifGetImageDesc(m_gif) == GIF_ERROR)
                fail(m_gif, "the GIF frame's header is damaged");
            break;
        }
        frame.desc = m_gif->Image;
        checkPixels(frame.desc.Width, frame.desc.Height, "frame");
        frame.map = frame.desc.ColorMap ? frame.desc.ColorMap : m_gif->SColorMap;
        if (!frame.map)
            throw Failure { "the GIF picture has no colour table" };
        if (frame.desc.Width < 1 || frame.desc.Height < 1)
            throw Failure { "the GIF picture is empty" };
        const int width = frame.desc.Width;
        frame.indices.resize(std::size_t(width) * std::size_t(frame.desc.Height));
        const auto readRow = [&](int y) {
            if (DGifGetLine(m_gif, frame.indices.data() + std::size_t(y) * width, width)
                == GIF_ERROR)
                fail(m_gif, "the GIF picture's data is damaged");
        };
        if (frame.desc.Interlace) {
            static constexpr int start[] = { 0, 4, 2, 1 };
            static constexpr int step[] = { 8, 8, 4, 2 };
            for (int pass = 0; pass < 4; ++pass) {
                for (int y = start[pass]; y < frame.desc.Height; y += step[pass])
                    readRow(y);
            }
        } else {
            for (int y = 0; y < frame.desc.Height; ++y)
                readRow(y);
        }
        return true;
    }

private:
    void extension(GraphicsControlBlock& control)
    {
        int code = 0;
        GifByteType* block = nullptr;
        if (DGifGetExtension(m_gif, &code, &block) == GIF_ERROR)
            fail(m_gif, "a GIF extension is damaged");
        if (code == GRAPHICS_EXT_FUNC_CODE && block && block[0] >= 4)
            DGifExtensionToGCB(block[0], block + 1, &control);
        const bool netscape = code == APPLICATION_EXT_FUNC_CODE && block && block[0] == 11
            && (std::memcmp(block + 1, "NETSCAPE2.0", 11) == 0
                || std::memcmp(block + 1, "ANIMEXTS1.0", 11) == 0);
        for (;;) {
            if (DGifGetExtensionNext(m_gif, &block) == GIF_ERROR)
                fail(m_gif, "a GIF extension is damaged");
            if (!block)
                break;
            if (netscape && block[0] >= 3 && block[1] == 1)
                loopCount = std::uint32_t(block[2] | block[3] << 8);
        }
    }

    GifFileType* m_gif;
};

// Draws `frame` on the canvas of `width` x `height`, clipped to it, its transparent colour
// leaving what is below.
void draw(const Frame& frame, std::vector<std::uint8_t>& canvas, int width, int height)
{
    const GifImageDesc& desc = frame.desc;
    const ColorMapObject* map = frame.map;
    const int transparent = frame.control.TransparentColor;
    for (int y = std::max(0, desc.Top); y < std::min(height, desc.Top + desc.Height); ++y) {
        const GifPixelType* row = frame.indices.data() + std::size_t(y - desc.Top) * desc.Width;
        std::uint8_t* out = canvas.data() + std::size_t(y) * width * 4;
        for (int x = std::max(0, desc.Left); x < std::min(width, desc.Left + desc.Width); ++x) {
            const int index = row[x - desc.Left];
            if (index == transparent || index >= map->ColorCount)
                continue;
            const GifColorType& c = map->Colors[index];
            std::uint8_t* p = out + std::size_t(x) * 4;
            p[0] = c.Blue;
            p[1] = c.Green;
            p[2] = c.Red;
            p[3] = 255;
        }
    }
}

// What a frame's disposal leaves for the next: its area cleared to transparent (viewers show
// the page behind, not the background colour), or the canvas as it was before it.
void dispose(const Frame& frame, std::vector<std::uint8_t>& canvas,
    const std::vector<std::uint8_t>& before, int width, int height)
{
    const GifImageDesc& desc = frame.desc;
    if (frame.control.DisposalMode == DISPOSE_PREVIOUS) {
        canvas = before;
        return;
    }
    if (frame.control.DisposalMode != DISPOSE_BACKGROUND)
        return;
    const int left = std::max(0, desc.Left), right = std::min(width, desc.Left + desc.Width);
    if (left >= right)
        return;
    for (int y = std::max(0, desc.Top); y < std::min(height, desc.Top + desc.Height); ++y)
        std::fill_n(canvas.data() + (std::size_t(y) * width + left) * 4,
            std::size_t(right - left) * 4, std::uint8_t(0));
}

} // namespace

Decoded decodeGif(const std::vector<std::uint8_t>& bytes, FrameSink& sink)
{
    Input input { &bytes };
    int error = 0;
    std::unique_ptr<GifFileType, GifCloser> gif(DGifOpen(&input, readInput, &error));
    if (!gif)
        throw Failure { std::string("not a GIF picture: ") + GifErrorString(error) };
    checkPixels(gif->SWidth, gif->SHeight, "canvas");

    Reading reading(gif.get());
    Frame first;
    if (!reading.next(first))
        throw Failure { "the GIF file holds no picture" };
    // A logical screen of 0 x 0 (some writers leave it so) is taken to be the first frame.
    const int width = gif->SWidth > 0 ? gif->SWidth : first.desc.Width;
    const int height = gif->SHeight > 0 ? gif->SHeight : first.desc.Height;
    checkPixels(width, height, "canvas");
    if (width < 1 || height < 1)
        throw Failure { "the GIF picture is empty" };

    Decoded d;
    d.kind = Kinds::Kind::Gif;
    d.width = width;
    d.height = height;
    // What the frame leaves uncovered, and its transparent colour, show through.
    const GifImageDesc& desc = first.desc;
    const bool covers
        = desc.Left == 0 && desc.Top == 0 && desc.Width >= width && desc.Height >= height;
    d.alpha = first.control.TransparentColor != NO_TRANSPARENT_COLOR || !covers;
    d.pixels.assign(std::size_t(width) * std::size_t(height) * 4, 0);
    draw(first, d.pixels, width, height);

    // A second frame makes it an animation. A file damaged past its first frame shows what
    // came before, as viewers do.
    const auto read = [&](Frame& frame) {
        try {
            return reading.next(frame);
        } catch (const Failure&) {
            return false;
        }
    };
    Frame next;
    if (!read(next))
        return d;
    d.animated = true;
    d.alpha = true;
    sink.begin(d, 0);
    std::vector<std::uint8_t> canvas = std::move(d.pixels);
    d.pixels = {};
    // The canvas a restore-to-previous frame gives back; before the first, all transparent.
    std::vector<std::uint8_t> before;
    if (first.control.DisposalMode == DISPOSE_PREVIOUS)
        before.assign(canvas.size(), 0);
    Frame shown = std::move(first);
    for (bool more = true;;) {
        sink.add(canvas.data(), std::uint32_t(shown.control.DelayTime) * 10);
        if (!more)
            break;
        dispose(shown, canvas, before, width, height);
        if (next.control.DisposalMode == DISPOSE_PREVIOUS)
            before = canvas;
        draw(next, canvas, width, height);
        std::swap(shown, next);
        more = read(next);
    }
    d.loopCount = reading.loopCount;
    return d;
}

} // namespace Reader
