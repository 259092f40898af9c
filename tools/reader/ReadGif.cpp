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

} // namespace

Decoded decodeGif(const std::vector<std::uint8_t>& bytes)
{
    Input input { &bytes };
    int error = 0;
    std::unique_ptr<GifFileType, GifCloser> gif(DGifOpen(&input, readInput, &error));
    if (!gif)
        throw Failure { std::string("not a GIF picture: ") + GifErrorString(error) };
    checkPixels(gif->SWidth, gif->SHeight, "canvas");

    int transparent = NO_TRANSPARENT_COLOR;
    for (;;) {
        GifRecordType type;
        if (DGifGetRecordType(gif.get(), &type) == GIF_ERROR)
            fail(gif.get(), "the GIF picture is damaged");
        if (type == TERMINATE_RECORD_TYPE)
            throw Failure { "the GIF file holds no picture" };
        if (type == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* block = nullptr;
            if (DGifGetExtension(gif.get(), &code, &block) == GIF_ERROR)
                fail(gif.get(), "a GIF extension is damaged");
            if (code == GRAPHICS_EXT_FUNC_CODE && block && block[0] >= 4) {
                GraphicsControlBlock control;
                DGifExtensionToGCB(block[0], block + 1, &control);
                transparent = control.TransparentColor;
            }
            while (block) {
                if (DGifGetExtensionNext(gif.get(), &block) == GIF_ERROR)
                    fail(gif.get(), "a GIF extension is damaged");
            }
            continue;
        }
        if (type != IMAGE_DESC_RECORD_TYPE)
            continue;
        if (DGifGetImageDesc(gif.get()) == GIF_ERROR)
            fail(gif.get(), "the GIF frame's header is damaged");
        break;
    }

    const GifImageDesc& frame = gif->Image;
    checkPixels(frame.Width, frame.Height, "frame");
    const ColorMapObject* map = frame.ColorMap ? frame.ColorMap : gif->SColorMap;
    if (!map)
        throw Failure { "the GIF picture has no colour table" };
    // A logical screen of 0 x 0 (some writers leave it so) is taken to be the frame.
    const int width = gif->SWidth > 0 ? gif->SWidth : frame.Width;
    const int height = gif->SHeight > 0 ? gif->SHeight : frame.Height;
    checkPixels(width, height, "canvas");
    if (width < 1 || height < 1 || frame.Width < 1 || frame.Height < 1)
        throw Failure { "the GIF picture is empty" };

    std::vector<GifPixelType> indices(std::size_t(frame.Width) * std::size_t(frame.Height));
    const auto readRow = [&](int y) {
        if (DGifGetLine(gif.get(), indices.data() + std::size_t(y) * frame.Width, frame.Width)
            == GIF_ERROR)
            fail(gif.get(), "the GIF picture's data is damaged");
    };
    if (frame.Interlace) {
        static constexpr int start[] = { 0, 4, 2, 1 };
        static constexpr int step[] = { 8, 8, 4, 2 };
        for (int pass = 0; pass < 4; ++pass) {
            for (int y = start[pass]; y < frame.Height; y += step[pass])
                readRow(y);
        }
    } else {
        for (int y = 0; y < frame.Height; ++y)
            readRow(y);
    }

    Decoded d;
    d.kind = Kinds::Kind::Gif;
    d.width = width;
    d.height = height;
    // What the frame leaves uncovered, and its transparent colour, show through.
    const bool covers
        = frame.Left == 0 && frame.Top == 0 && frame.Width >= width && frame.Height >= height;
    d.alpha = transparent != NO_TRANSPARENT_COLOR || !covers;
    d.pixels.assign(std::size_t(width) * std::size_t(height) * 4, 0);
    // A frame reaching outside the canvas is clipped, as viewers do.
    for (int y = std::max(0, frame.Top); y < std::min(height, frame.Top + frame.Height); ++y) {
        const GifPixelType* row = indices.data() + std::size_t(y - frame.Top) * frame.Width;
        std::uint8_t* out = d.pixels.data() + std::size_t(y) * width * 4;
        for (int x = std::max(0, frame.Left); x < std::min(width, frame.Left + frame.Width); ++x) {
            const int index = row[x - frame.Left];
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
    return d;
}

} // namespace Reader
