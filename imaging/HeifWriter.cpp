// SPDX-License-Identifier: MIT

#include "imaging/ThumbnailWriters.h"
#include "imaging/core/LibHeif.h"
#include "imaging/core/SharedLibrary.h"
#include "runtime/AppError.h"

#include <QScopeGuard>
#include <cstring>
#include <memory>

namespace ThumbnailWriters {
namespace {

struct ContextDeleter
{
    void operator()(heif_context* c) const { ImageCore::libheif().heif_context_free(c); }
};
struct EncoderDeleter
{
    void operator()(heif_encoder* e) const { ImageCore::libheif().heif_encoder_release(e); }
};
struct ImageDeleter
{
    void operator()(heif_image* i) const { ImageCore::libheif().heif_image_release(i); }
};
struct OptionsDeleter
{
    void operator()(heif_encoding_options* o) const
    {
        ImageCore::libheif().heif_encoding_options_free(o);
    }
};

[[noreturn]] void fail(const char* kind, const QString& path, const QString& why)
{
    throw AppError(ErrorNumber::InvalidPicture,
        QStringLiteral("The %1 thumbnail could not be made (%2): %3")
            .arg(QLatin1String(kind), why, path));
}

// libheif, loaded by the first HEIF or AVIF thumbnail.
const ImageCore::LibHeif& loaded(const char* kind, const QString& path)
{
    try {
        return ImageCore::libheif();
    } catch (const ImageCore::LibraryError& error) {
        fail(kind, path, QString::fromStdString(error.what()));
    }
}

heif_error collect(heif_context*, const void* data, size_t size, void* userdata)
{
    auto* bytes = static_cast<std::vector<std::uint8_t>*>(userdata);
    const auto* begin = static_cast<const std::uint8_t*>(data);
    bytes->insert(bytes->end(), begin, begin + size);
    return { heif_error_Ok, heif_suberror_Unspecified, "" };
}

// The picture as libheif takes it: 8 bits per sample for an 8-bit source, otherwise the
// source's 10 or 12 where the encoder writes that many (x265 10, aom 10 and 12).
std::unique_ptr<heif_image, ImageDeleter> toHeifImage(
    const QImage& picture, int bits, const char* kind, const QString& path)
{
    const ImageCore::LibHeif& h = ImageCore::libheif();
    const bool alpha = picture.hasAlphaChannel();
    const bool deep = bits > 8;
    const QImage rgba
        = picture.convertToFormat(deep ? (alpha ? QImage::Format_RGBA64 : QImage::Format_RGBX64)
                                       : (alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888));
    if (rgba.isNull())
        throw AppError::about(ErrorNumber::OutOfMemory, path);
    const heif_chroma chroma = deep
        ? (alpha ? heif_chroma_interleaved_RRGGBBAA_LE : heif_chroma_interleaved_RRGGBB_LE)
        : (alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB);
    heif_image* raw = nullptr;
    if (h.heif_image_create(rgba.width(), rgba.height(), heif_colorspace_RGB, chroma, &raw).code
        != heif_error_Ok)
        fail(kind, path, QStringLiteral("no picture of its size"));
    std::unique_ptr<heif_image, ImageDeleter> image(raw);
    if (h.heif_image_add_plane(
             image.get(), heif_channel_interleaved, rgba.width(), rgba.height(), deep ? bits : 8)
            .code
        != heif_error_Ok)
        throw AppError::about(ErrorNumber::OutOfMemory, path);
    int stride = 0;
    std::uint8_t* plane = h.heif_image_get_plane(image.get(), heif_channel_interleaved, &stride);
    const int channels = alpha ? 4 : 3;
    for (int y = 0; y < rgba.height(); ++y) {
        std::uint8_t* out = plane + std::size_t(y) * std::size_t(stride);
        if (!deep) {
            std::memcpy(out, rgba.constScanLine(y), std::size_t(rgba.width()) * channels);
            continue;
        }
        // RGBX64 holds four samples per pixel; libheif takes the source's depth in 16 bits.
        const auto* in = reinterpret_cast<const std::uint16_t*>(rgba.constScanLine(y));
        auto* samples = reinterpret_cast<std::uint16_t*>(out);
        const std::uint32_t max = (1u << bits) - 1;
        for (int x = 0; x < rgba.width(); ++x) {
            for (int k = 0; k < channels; ++k)
                samples[x * channels + k]
                    = std::uint16_t((std::uint32_t(in[x * 4 + k]) * max + 32767) / 65535);
        }
    }
    return image;
}

std::vector<std::uint8_t> encode(const QImage& picture, const QString& path,
    const Settings& settings, heif_compression_format format, const char* kind)
{
    const ImageCore::LibHeif& h = loaded(kind, path);
    std::unique_ptr<heif_context, ContextDeleter> context(h.heif_context_alloc());
    if (!context)
        throw AppError::about(ErrorNumber::OutOfMemory, path);
    heif_encoder* rawEncoder = nullptr;
    if (h.heif_context_get_encoder_for_format(context.get(), format, &rawEncoder).code
        != heif_error_Ok)
        fail(kind, path, QStringLiteral("libheif has no encoder for it"));
    std::unique_ptr<heif_encoder, EncoderDeleter> encoder(rawEncoder);
    const bool avif = format == heif_compression_AV1;
    // A thumbnail is one of many: the fastest settings that keep the size and quality of the
    // encoders' slower defaults. Measured on a photo at 1600 x 1200 and 400 x 300, quality 40
    // and 10, against the settings vipsthumbnail uses (x265 "slow", aom speed 5): x265
    // "faster" costs 1.1 s instead of 2.7 for a 1.06x file 0.2 dB better ("ultrafast" writes
    // 1.3x the bytes); aom speed 6 costs 1.05 s instead of 4.2 for the same size and quality
    // within 0.1 dB, where speed 8 writes small pictures 1.4x larger and 1.2 dB worse.
    if (avif) {
        h.heif_encoder_set_parameter_integer(encoder.get(), "speed", 6);
        h.heif_encoder_set_parameter_integer(encoder.get(), "threads", 2);
        h.heif_encoder_set_parameter_integer(encoder.get(), "alpha-quality", settings.quality);
    } else {
        h.heif_encoder_set_parameter_string(encoder.get(), "preset", "faster");
    }
    if (settings.lossy) {
        h.heif_encoder_set_lossy_quality(encoder.get(), settings.quality);
    } else {
        // Lossless only in RGB as it is: every sample coded, no matrix.
        h.heif_encoder_set_lossless(encoder.get(), 1);
        h.heif_encoder_set_parameter_string(encoder.get(), "chroma", "444");
    }

    // x265 writes 8 and 10 bits, aom 8, 10 and 12. libheif 1.15 asks aom for its
    // profile 2 at more than 8 bits, which takes 10 bits only as 4:2:2 without alpha (aom
    // fails, or asserts and ends the program, on anything else) and 12 bits in any form: a
    // 10-bit AVIF with alpha or lossless is written with 12.
    int bits = 8;
    if (picture.depth() == 64 && settings.sourceBits > 8)
        bits = settings.sourceBits >= 12 && avif ? 12 : 10;
    if (avif && bits == 10) {
        if (settings.lossy && !picture.hasAlphaChannel())
            h.heif_encoder_set_parameter_string(encoder.get(), "chroma", "422");
        else
            bits = 12;
    }
    std::unique_ptr<heif_image, ImageDeleter> image = toHeifImage(picture, bits, kind, path);

    // The profile, or the code points: primaries and transfer as the source coded them
    // (HDR kept so), the matrix the encoder converts with.
    heif_color_profile_nclx* nclx = h.heif_nclx_color_profile_alloc();
    if (!nclx)
        throw AppError::about(ErrorNumber::OutOfMemory, path);
    const auto freeNclx = qScopeGuard([&h, nclx] { h.heif_nclx_color_profile_free(nclx); });
    if (!settings.iccProfile.empty()) {
        h.heif_image_set_raw_color_profile(
            image.get(), "prof", settings.iccProfile.data(), settings.iccProfile.size());
    } else if (settings.cicp) {
        h.heif_nclx_color_profile_set_color_primaries(nclx, settings.cicp->primaries);
        h.heif_nclx_color_profile_set_transfer_characteristics(nclx, settings.cicp->transfer);
        nclx->full_range_flag = settings.cicp->fullRange;
    }
    // The RGB pixels are coded in YCbCr by BT.601's matrix, unless the source named another
    // that libheif converts with (0, identity, would store RGB as it is).
    const std::uint8_t matrix = settings.cicp ? settings.cicp->matrix : 6;
    h.heif_nclx_color_profile_set_matrix_coefficients(nclx,
        !settings.lossy                                 ? 0
            : matrix == 0 || matrix == 2 || matrix > 14 ? 6
                                                        : matrix);
    h.heif_image_set_nclx_color_profile(image.get(), nclx);

    std::unique_ptr<heif_encoding_options, OptionsDeleter> options(h.heif_encoding_options_alloc());
    options->save_alpha_channel = picture.hasAlphaChannel();
    options->output_nclx_profile = nclx;
    options->save_two_colr_boxes_when_ICC_and_nclx_available = 0;
    const heif_error encoded = h.heif_context_encode_image(
        context.get(), image.get(), encoder.get(), options.get(), nullptr);
    if (encoded.code == heif_error_Memory_allocation_error)
        throw AppError::about(ErrorNumber::OutOfMemory, path);
    if (encoded.code != heif_error_Ok)
        fail(kind, path, QString::fromUtf8(encoded.message));
    std::vector<std::uint8_t> bytes;
    heif_writer writer { 1, collect };
    if (h.heif_context_write(context.get(), &writer, &bytes).code != heif_error_Ok)
        fail(kind, path, QStringLiteral("libheif could not write it"));
    return bytes;
}

} // namespace

std::vector<std::uint8_t> encodeHeif(
    const QImage& picture, const QString& path, const Settings& settings)
{
    return encode(picture, path, settings, heif_compression_HEVC, "HEIF");
}

std::vector<std::uint8_t> encodeAvif(
    const QImage& picture, const QString& path, const Settings& settings)
{
    return encode(picture, path, settings, heif_compression_AV1, "AVIF");
}

} // namespace ThumbnailWriters
