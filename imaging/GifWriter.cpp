// SPDX-License-Identifier: MIT

#include "imaging/ThumbnailWriters.h"
#include "imaging/core/Quantise.h"
#include "runtime/AppError.h"

#include <QScopeGuard>
#include <algorithm>
#include <cstring>
#include <gif_lib.h>
#include <memory>
#include <utility>

namespace ThumbnailWriters {
namespace {

int writeMemory(GifFileType* gif, const GifByteType* bytes, int size)
{
    auto* out = static_cast<std::vector<std::uint8_t>*>(gif->UserData);
    out->insert(out->end(), bytes, bytes + size);
    return size;
}

// A picture reduced to a palette of its own.
struct Indexed
{
    std::vector<GifByteType> indices;
    GifColorType palette[256] = {};
    bool transparent = false;
    int transparentIndex = NO_TRANSPARENT_COLOR;
};

// GIF has only a palette and one transparent entry: a pixel less than half opaque becomes
// that entry, every other is opaque.
Indexed quantise(const QImage& argb)
{
    const ImageCore::Quantised q
        = ImageCore::quantise(reinterpret_cast<const std::uint32_t*>(argb.constBits()),
            argb.width(), argb.height(), argb.bytesPerLine() / 4);
    Indexed out;
    out.indices = q.indices;
    for (std::size_t i = 0; i < q.palette.size(); ++i)
        out.palette[i] = { q.palette[i].red, q.palette[i].green, q.palette[i].blue };
    out.transparent = q.transparent >= 0;
    out.transparentIndex = q.transparent;
    return out;
}

class GifOutput
{
public:
    explicit GifOutput(const QString& path)
        : m_path(path)
    {
        int error = 0;
        m_gif = EGifOpen(&m_bytes, writeMemory, &error);
        if (!m_gif)
            fail(error);
        EGifSetGifVersion(m_gif, true);
    }
    ~GifOutput()
    {
        if (m_gif)
            EGifCloseFile(m_gif, nullptr);
    }
    GifOutput(const GifOutput&) = delete;
    GifOutput& operator=(const GifOutput&) = delete;

    void screen(int width, int height, const ColorMapObject* map)
    {
        if (EGifPutScreenDesc(m_gif, width, height, 8, 0, map) == GIF_ERROR)
            fail(m_gif->Error);
    }

    // NETSCAPE2.0: how often viewers play the animation, 0 for ever.
    void loop(std::uint32_t count)
    {
        const std::uint16_t n = std::uint16_t(std::min<std::uint32_t>(count, 65535));
        const GifByteType sub[] = { 1, GifByteType(n & 0xff), GifByteType(n >> 8) };
        if (EGifPutExtensionLeader(m_gif, APPLICATION_EXT_FUNC_CODE) == GIF_ERROR
            || EGifPutExtensionBlock(m_gif, 11, "NETSCAPE2.0") == GIF_ERROR
            || EGifPutExtensionBlock(m_gif, 3, sub) == GIF_ERROR
            || EGifPutExtensionTrailer(m_gif) == GIF_ERROR)
            fail(m_gif->Error);
    }

    // One frame covering the screen, with its own palette when `map` is given.
    void frame(const Indexed& picture, int width, int height, const ColorMapObject* map,
        const GraphicsControlBlock* control)
    {
        if (control) {
            GifByteType extension[4];
            const std::size_t length = EGifGCBToExtension(control, extension);
            if (EGifPutExtension(m_gif, GRAPHICS_EXT_FUNC_CODE, int(length), extension)
                == GIF_ERROR)
                fail(m_gif->Error);
        }
        if (EGifPutImageDesc(m_gif, 0, 0, width, height, false, map) == GIF_ERROR)
            fail(m_gif->Error);
        for (int y = 0; y < height; ++y) {
            if (EGifPutLine(m_gif,
                    const_cast<GifByteType*>(picture.indices.data()) + std::size_t(y) * width,
                    width)
                == GIF_ERROR)
                fail(m_gif->Error);
        }
    }

    std::vector<std::uint8_t> finish()
    {
        int error = 0;
        GifFileType* gif = std::exchange(m_gif, nullptr);
        if (EGifCloseFile(gif, &error) == GIF_ERROR)
            fail(error);
        return std::move(m_bytes);
    }

private:
    [[noreturn]] void fail(int code) const
    {
        throw AppError(ErrorNumber::InvalidPicture,
            QStringLiteral("The GIF thumbnail could not be made (%1): %2")
                .arg(QString::fromLatin1(GifErrorString(code)), m_path));
    }

    QString m_path;
    std::vector<std::uint8_t> m_bytes;
    GifFileType* m_gif = nullptr;
};

struct MapFreer
{
    void operator()(ColorMapObject* map) const { GifFreeMapObject(map); }
};
using Map = std::unique_ptr<ColorMapObject, MapFreer>;

Map makeMap(const Indexed& picture, const QString& path)
{
    Map map(GifMakeMapObject(256, picture.palette));
    if (!map)
        throw AppError::about(ErrorNumber::OutOfMemory, path);
    return map;
}

QImage straight(const QImage& picture, const QString& path)
{
    const QImage argb = picture.convertToFormat(QImage::Format_ARGB32);
    if (argb.isNull())
        throw AppError::about(ErrorNumber::OutOfMemory, path);
    return argb;
}

} // namespace

std::vector<std::uint8_t> encodeGif(const QImage& picture, const QString& path, const Settings&)
{
    const QImage argb = straight(picture, path);
    const Indexed indexed = quantise(argb);
    const Map map = makeMap(indexed, path);
    GifOutput out(path);
    out.screen(argb.width(), argb.height(), map.get());
    GraphicsControlBlock control {};
    control.DisposalMode = DISPOSAL_UNSPECIFIED;
    control.TransparentColor = indexed.transparentIndex;
    out.frame(
        indexed, argb.width(), argb.height(), nullptr, indexed.transparent ? &control : nullptr);
    return out.finish();
}

std::vector<std::uint8_t> encodeAnimatedGif(
    const std::vector<Frame>& frames, std::uint32_t loopCount, const QString& path)
{
    const int width = frames.front().image.width();
    const int height = frames.front().image.height();
    std::vector<Indexed> indexed;
    indexed.reserve(frames.size());
    bool transparent = false;
    for (const Frame& frame : frames) {
        indexed.push_back(quantise(straight(frame.image, path)));
        transparent = transparent || indexed.back().transparent;
    }
    GifOutput out(path);
    out.screen(width, height, nullptr);
    // Without the block a GIF plays once.
    if (loopCount != 1)
        out.loop(loopCount);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        // Every frame covers the screen; one with transparent pixels must not show the one
        // before through them, so each is cleared once shown.
        GraphicsControlBlock control {};
        control.DisposalMode = transparent ? DISPOSE_BACKGROUND : DISPOSE_DO_NOT;
        control.DelayTime = int(std::min<std::uint32_t>((frames[i].delayMs + 5) / 10, 65535));
        control.TransparentColor = indexed[i].transparentIndex;
        const Map map = makeMap(indexed[i], path);
        out.frame(indexed[i], width, height, map.get(), &control);
    }
    return out.finish();
}

} // namespace ThumbnailWriters
