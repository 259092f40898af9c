// SPDX-License-Identifier: MIT

#include "imaging/ThumbnailWriters.h"
#include "runtime/AppError.h"

#include <QScopeGuard>
#include <cstring>
#include <gif_lib.h>

namespace ThumbnailWriters {
namespace {

int writeMemory(GifFileType* gif, const GifByteType* bytes, int size)
{
    auto* out = static_cast<std::vector<std::uint8_t>*>(gif->UserData);
    out->insert(out->end(), bytes, bytes + size);
    return size;
}

} // namespace

void saveGif(const QImage& picture, const QString& path, const Settings&)
{
    const QImage argb = picture.convertToFormat(QImage::Format_ARGB32);
    if (argb.isNull())
        throw AppError::about(ErrorNumber::OutOfMemory, path);
    const int width = argb.width();
    const int height = argb.height();
    const std::size_t count = std::size_t(width) * std::size_t(height);

    // GIF has only a palette and one transparent entry: a pixel less than half opaque
    // becomes that entry, every other is opaque.
    std::vector<GifByteType> red(count), green(count), blue(count), indices(count);
    bool transparent = false;
    for (int y = 0; y < height; ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
        for (int x = 0; x < width; ++x) {
            const std::size_t i = std::size_t(y) * std::size_t(width) + std::size_t(x);
            red[i] = GifByteType(qRed(row[x]));
            green[i] = GifByteType(qGreen(row[x]));
            blue[i] = GifByteType(qBlue(row[x]));
            transparent = transparent || qAlpha(row[x]) < 128;
        }
    }
    // giflib's own median-cut quantiser (MIT, as giflib is).
    int colours = transparent ? 255 : 256;
    GifColorType palette[256] = {};
    if (GifQuantizeBuffer(unsigned(width), unsigned(height), &colours, red.data(), green.data(),
            blue.data(), indices.data(), palette)
        == GIF_ERROR)
        throw AppError::about(ErrorNumber::OutOfMemory, path);
    const int transparentIndex = 255;
    if (transparent) {
        for (int y = 0; y < height; ++y) {
            const auto* row = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
            for (int x = 0; x < width; ++x) {
                if (qAlpha(row[x]) < 128)
                    indices[std::size_t(y) * std::size_t(width) + std::size_t(x)]
                        = GifByteType(transparentIndex);
            }
        }
    }

    std::vector<std::uint8_t> bytes;
    int error = 0;
    GifFileType* gif = EGifOpen(&bytes, writeMemory, &error);
    const auto fail = [&](int code) {
        throw AppError(ErrorNumber::InvalidPicture,
            QStringLiteral("The GIF thumbnail could not be made (%1): %2")
                .arg(QString::fromLatin1(GifErrorString(code)), path));
    };
    if (!gif)
        fail(error);
    auto close = qScopeGuard([&] { EGifCloseFile(gif, nullptr); });
    ColorMapObject* map = GifMakeMapObject(256, palette);
    if (!map)
        throw AppError::about(ErrorNumber::OutOfMemory, path);
    const auto freeMap = qScopeGuard([&] { GifFreeMapObject(map); });
    EGifSetGifVersion(gif, true);
    if (EGifPutScreenDesc(gif, width, height, 8, 0, map) == GIF_ERROR)
        fail(gif->Error);
    if (transparent) {
        GraphicsControlBlock control {};
        control.DisposalMode = DISPOSAL_UNSPECIFIED;
        control.TransparentColor = transparentIndex;
        GifByteType extension[4];
        const std::size_t length = EGifGCBToExtension(&control, extension);
        if (EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, int(length), extension) == GIF_ERROR)
            fail(gif->Error);
    }
    if (EGifPutImageDesc(gif, 0, 0, width, height, false, nullptr) == GIF_ERROR)
        fail(gif->Error);
    for (int y = 0; y < height; ++y) {
        if (EGifPutLine(gif, indices.data() + std::size_t(y) * std::size_t(width), width)
            == GIF_ERROR)
            fail(gif->Error);
    }
    close.dismiss();
    if (EGifCloseFile(gif, &error) == GIF_ERROR)
        fail(error);
    writeWholeFile(path, bytes.data(), bytes.size());
}

} // namespace ThumbnailWriters
