// SPDX-License-Identifier: MIT

#include "tests/common/KindFixtures.h"

#include <QFile>
#include <algorithm>
#include <libheif/heif.h>

namespace KindFixtures {

namespace {

// `source` as libheif takes it, at `bits` per sample.
heif_image* heifImage(const QImage& source, int bits)
{
    const bool alpha = source.hasAlphaChannel();
    const int channels = alpha ? 4 : 3, bytes = bits > 8 ? 2 : 1;
    heif_image* picture = nullptr;
    heif_image_create(source.width(), source.height(), heif_colorspace_RGB,
        bits > 8 ? (alpha ? heif_chroma_interleaved_RRGGBBAA_LE : heif_chroma_interleaved_RRGGBB_LE)
                 : (alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB),
        &picture);
    heif_image_add_plane(picture, heif_channel_interleaved, source.width(), source.height(), bits);
    int stride = 0;
    std::uint8_t* plane = heif_image_get_plane(picture, heif_channel_interleaved, &stride);
    for (int y = 0; y < source.height(); ++y) {
        for (int x = 0; x < source.width(); ++x) {
            const QRgb p = source.pixel(x, y);
            const int v[] = { qRed(p), qGreen(p), qBlue(p), qAlpha(p) };
            for (int k = 0; k < channels; ++k) {
                const int s = v[k] * ((1 << bits) - 1) / 255; // little-endian when two bytes
                std::uint8_t* at = plane + std::size_t(y) * stride + (x * channels + k) * bytes;
                at[0] = std::uint8_t(s);
                if (bytes == 2)
                    at[1] = std::uint8_t(s >> 8);
            }
        }
    }
    return picture;
}

} // namespace

bool writeHeif(const QString& path, const QImage& image, const Options& o, bool avif)
{
    heif_image* picture = heifImage(image, o.bits);
    // The thumbnail picture is the picture mirrored, so that a test sees which one was read.
    heif_image* mirrored
        = o.thumbnail > 0 ? heifImage(image.mirrored(true, false), o.bits) : nullptr;
    if (!o.iccProfile.isEmpty())
        heif_image_set_raw_color_profile(
            picture, "prof", o.iccProfile.constData(), std::size_t(o.iccProfile.size()));
    const bool hasCicp = o.cicp.size() == 2;
    heif_color_profile_nclx* nclx = heif_nclx_color_profile_alloc();
    if (hasCicp) {
        heif_nclx_color_profile_set_color_primaries(nclx, std::uint16_t(o.cicp[0]));
        heif_nclx_color_profile_set_transfer_characteristics(nclx, std::uint16_t(o.cicp[1]));
        heif_image_set_nclx_color_profile(picture, nclx);
    }

    heif_context* context = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    heif_context_get_encoder_for_format(
        context, avif ? heif_compression_AV1 : heif_compression_HEVC, &encoder);
    heif_encoder_set_lossy_quality(encoder, o.quality);
    // libheif 1.15 has aom write 10 bits only as 4:2:2 without alpha.
    if (avif && o.bits == 10)
        heif_encoder_set_parameter_string(encoder, "chroma", "422");
    heif_encoding_options* options = heif_encoding_options_alloc();
    options->image_orientation = heif_orientation(o.orientation);
    options->output_nclx_profile = hasCicp ? nclx : nullptr;
    heif_image_handle* handle = nullptr;
    bool ok = encoder
        && heif_context_encode_image(context, picture, encoder, options, &handle).code
            == heif_error_Ok;
    if (ok && o.thumbnail > 0)
        ok = heif_context_encode_thumbnail(
                 context, mirrored, handle, encoder, options, o.thumbnail, nullptr)
                 .code
            == heif_error_Ok;
    ok = ok
        && heif_context_write_to_file(context, QFile::encodeName(path).constData()).code
            == heif_error_Ok;
    heif_image_handle_release(handle);
    heif_encoding_options_free(options);
    heif_encoder_release(encoder);
    heif_context_free(context);
    heif_nclx_color_profile_free(nclx);
    heif_image_release(mirrored);
    heif_image_release(picture);
    return ok;
}

void readHeif(const QByteArray& bytes, Read& r)
{
    heif_context* context = heif_context_alloc();
    heif_image_handle* handle = nullptr;
    heif_image* picture = nullptr;
    if (heif_context_read_from_memory_without_copy(
            context, bytes.constData(), std::size_t(bytes.size()), nullptr)
                .code
            == heif_error_Ok
        && heif_context_get_primary_image_handle(context, &handle).code == heif_error_Ok) {
        r.kind = heif_has_compatible_brand(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                     int(std::min<qsizetype>(bytes.size(), 64)), "avif")
            ? "avif"
            : "heif";
        r.lossy = true;
        r.bits = heif_image_handle_get_luma_bits_per_pixel(handle);
        r.iccProfile.resize(qsizetype(heif_image_handle_get_raw_color_profile_size(handle)));
        if (!r.iccProfile.isEmpty())
            heif_image_handle_get_raw_color_profile(handle, r.iccProfile.data());
        heif_color_profile_nclx* nclx = nullptr;
        if (heif_image_handle_get_nclx_color_profile(handle, &nclx).code == heif_error_Ok) {
            r.cicp = { int(nclx->color_primaries), int(nclx->transfer_characteristics) };
            heif_nclx_color_profile_free(nclx);
        }
        r.hasExif = heif_image_handle_get_number_of_metadata_blocks(handle, nullptr) > 0;
        if (heif_decode_image(
                handle, &picture, heif_colorspace_RGB, heif_chroma_interleaved_RGBA, nullptr)
                .code
            == heif_error_Ok) {
            int stride = 0;
            const std::uint8_t* plane
                = heif_image_get_plane_readonly(picture, heif_channel_interleaved, &stride);
            const int w = heif_image_get_width(picture, heif_channel_interleaved);
            const int h = heif_image_get_height(picture, heif_channel_interleaved);
            r.image = QImage(w, h, QImage::Format_ARGB32);
            for (int y = 0; y < h; ++y) {
                const std::uint8_t* in = plane + std::size_t(y) * stride;
                for (int x = 0; x < w; ++x, in += 4)
                    r.image.setPixel(x, y, qRgba(in[0], in[1], in[2], in[3]));
            }
        }
    }
    heif_image_release(picture);
    heif_image_handle_release(handle);
    heif_context_free(context);
}

} // namespace KindFixtures
