// SPDX-License-Identifier: MIT

#include "imaging/ThumbnailWriters.h"
#include "runtime/AppError.h"

#include <QScopeGuard>
#include <memory>
#include <webp/encode.h>
#include <webp/mux.h>

namespace ThumbnailWriters {
namespace {

struct MuxDeleter
{
    void operator()(WebPMux* mux) const { WebPMuxDelete(mux); }
};

[[noreturn]] void fail(const QString& path, const QString& why)
{
    throw AppError(ErrorNumber::InvalidPicture,
        QStringLiteral("The WebP thumbnail could not be made (%1): %2").arg(why, path));
}

} // namespace

void saveWebP(const QImage& picture, const QString& path, const Settings& settings)
{
    const bool alpha = picture.hasAlphaChannel();
    const QImage bgra
        = picture.convertToFormat(alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (bgra.isNull())
        throw AppError::about(ErrorNumber::OutOfMemory, path);

    WebPConfig config;
    if (!WebPConfigInit(&config))
        fail(path, QStringLiteral("the encoder does not match its header"));
    if (settings.lossy) {
        config.quality = float(settings.quality);
    } else {
        WebPConfigLosslessPreset(&config, 6);
    }
    WebPPicture pic;
    if (!WebPPictureInit(&pic))
        fail(path, QStringLiteral("the encoder does not match its header"));
    pic.use_argb = settings.lossy ? 0 : 1;
    pic.width = bgra.width();
    pic.height = bgra.height();
    const auto* rows = bgra.constBits();
    const int stride = int(bgra.bytesPerLine());
    const int imported = alpha ? WebPPictureImportBGRA(&pic, rows, stride)
                               : WebPPictureImportBGRX(&pic, rows, stride);
    WebPMemoryWriter memory;
    WebPMemoryWriterInit(&memory);
    pic.writer = WebPMemoryWrite;
    pic.custom_ptr = &memory;
    const int encoded = imported && WebPEncode(&config, &pic);
    const WebPEncodingError error = pic.error_code;
    WebPPictureFree(&pic);
    const auto freeMemory = qScopeGuard([&] { WebPMemoryWriterClear(&memory); });
    if (!encoded) {
        if (error == VP8_ENC_ERROR_OUT_OF_MEMORY || !imported)
            throw AppError::about(ErrorNumber::OutOfMemory, path);
        fail(path, QStringLiteral("error %1").arg(int(error)));
    }
    if (settings.iccProfile.empty()) {
        writeWholeFile(path, memory.mem, memory.size);
        return;
    }
    const WebPData image { memory.mem, memory.size };
    std::unique_ptr<WebPMux, MuxDeleter> mux(WebPMuxCreate(&image, 0));
    const WebPData icc { settings.iccProfile.data(), settings.iccProfile.size() };
    WebPData assembled { nullptr, 0 };
    if (!mux || WebPMuxSetChunk(mux.get(), "ICCP", &icc, 0) != WEBP_MUX_OK
        || WebPMuxAssemble(mux.get(), &assembled) != WEBP_MUX_OK)
        fail(path, QStringLiteral("the colour profile could not be added"));
    const auto freeAssembled = qScopeGuard([&] { WebPDataClear(&assembled); });
    writeWholeFile(path, assembled.bytes, assembled.size);
}

} // namespace ThumbnailWriters
