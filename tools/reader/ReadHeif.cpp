// SPDX-License-Identifier: MIT

#include "imaging/core/LibHeif.h"
#include "imaging/core/Limits.h"
#include "tools/reader/Decoded.h"

#include <algorithm>
#include <memory>
#include <string>

// HEIC and AVIF both through libheif: it applies irot, imir and clap itself (libavif leaves
// them to the caller), reads grids whole and takes the same 0-100 quality when writing.
namespace Reader {
namespace {

struct ContextDeleter
{
    void operator()(heif_context* c) const { ImageCore::libheif().heif_context_free(c); }
};
struct HandleDeleter
{
    void operator()(heif_image_handle* h) const
    {
        ImageCore::libheif().heif_image_handle_release(h);
    }
};
struct ImageDeleter
{
    void operator()(heif_image* i) const { ImageCore::libheif().heif_image_release(i); }
};
struct OptionsDeleter
{
    void operator()(heif_decoding_options* o) const
    {
        ImageCore::libheif().heif_decoding_options_free(o);
    }
};
using Handle = std::unique_ptr<heif_image_handle, HandleDeleter>;

void check(heif_error error, const char* what)
{
    if (error.code != heif_error_Ok)
        throw Failure { std::string(what) + ": " + (error.message ? error.message : "failed") };
}

// The thumbnail picture the file holds that is at least `wanted` in both directions, the
// smallest of them; none when each is smaller.
Handle thumbnailOf(heif_image_handle* primary, ImageCore::Size wanted)
{
    const ImageCore::LibHeif& h = ImageCore::libheif();
    const int count = h.heif_image_handle_get_number_of_thumbnails(primary);
    if (count <= 0 || count > int(Limits::maxHeifThumbnails))
        return {};
    heif_item_id ids[Limits::maxHeifThumbnails];
    h.heif_image_handle_get_list_of_thumbnail_IDs(primary, ids, count);
    Handle best;
    for (int i = 0; i < count; ++i) {
        heif_image_handle* raw = nullptr;
        if (h.heif_image_handle_get_thumbnail(primary, ids[i], &raw).code != heif_error_Ok)
            continue;
        Handle candidate(raw);
        const int width = h.heif_image_handle_get_width(raw);
        const int height = h.heif_image_handle_get_height(raw);
        if (width >= wanted.width && height >= wanted.height
            && (!best
                || std::int64_t(width) * height
                    < std::int64_t(h.heif_image_handle_get_width(best.get()))
                        * h.heif_image_handle_get_height(best.get())))
            best = std::move(candidate);
    }
    return best;
}

// 8 bits: R, G, B, A as libheif gives them to B, G, R, A; more: the samples stretched to 16
// bits. Alpha premultiplied unless the file stored it so.
template <class Sample>
void convertRow(const Sample* in, Sample* out, int width, int bits, bool alpha, bool premultiply)
{
    constexpr bool eight = sizeof(Sample) == 1;
    const std::uint32_t max = (1u << bits) - 1, full = eight ? 255 : 65535;
    const int channels = alpha ? 4 : 3;
    for (int x = 0; x < width; ++x, in += channels, out += 4) {
        std::uint32_t v[4] = { in[0], in[1], in[2], alpha ? in[3] : max };
        if (!eight) {
            for (std::uint32_t& s : v)
                s = (std::min(s, max) * full + max / 2) / max;
        }
        if (premultiply && v[3] != full) {
            for (int k = 0; k < 3; ++k)
                v[k] = (v[k] * v[3] + full / 2) / full;
        }
        out[0] = Sample(v[eight ? 2 : 0]);
        out[1] = Sample(v[1]);
        out[2] = Sample(v[eight ? 0 : 2]);
        out[3] = Sample(v[3]);
    }
}

} // namespace

Decoded decodeHeif(const std::vector<std::uint8_t>& bytes, int percentage, RowSink& sink)
{
    const ImageCore::LibHeif& h = ImageCore::libheif();
    std::unique_ptr<heif_context, ContextDeleter> context(h.heif_context_alloc());
    if (!context)
        throw std::bad_alloc();
    // libheif's own limit bounds each side alone; the pixel count is checked below.
    h.heif_context_set_maximum_image_size_limit(context.get(), Limits::maxHeifSide);
    check(h.heif_context_read_from_memory_without_copy(
              context.get(), bytes.data(), bytes.size(), nullptr),
        "not a whole HEIF picture");
    heif_image_handle* raw = nullptr;
    check(h.heif_context_get_primary_image_handle(context.get(), &raw), "no primary picture");
    Handle primary(raw);

    Decoded d;
    d.kind = Kinds::fromContent(bytes.data(), std::min(bytes.size(), Kinds::headBytes));
    // Nothing tells whether the stream was coded losslessly; phones and cameras code lossily.
    d.lossy = true;
    // The size after irot and clap; for a grid the grid's declared size, which is what
    // its tiles are composed into.
    const int width = h.heif_image_handle_get_width(primary.get());
    const int height = h.heif_image_handle_get_height(primary.get());
    checkPixels(width, height, "HEIF picture");
    if (width < 1 || height < 1)
        throw Failure { "the HEIF picture has no pixels" };

    // Colour from the primary picture, also when a thumbnail picture is read.
    const std::size_t iccSize = h.heif_image_handle_get_raw_color_profile_size(primary.get());
    if (iccSize > Limits::maxProfileSize)
        throw Failure { "the colour profile is too large" };
    if (iccSize > 0) {
        d.iccProfile.resize(iccSize);
        check(h.heif_image_handle_get_raw_color_profile(primary.get(), d.iccProfile.data()),
            "the colour profile cannot be read");
    }
    // The code points stored with the picture, else those of its coded stream.
    const auto takeNclx = [&h, &d](heif_error error, heif_color_profile_nclx* nclx) {
        if (error.code == heif_error_Ok && nclx) {
            d.hasCicp = true;
            d.cicp = { std::uint8_t(nclx->color_primaries),
                std::uint8_t(nclx->transfer_characteristics),
                std::uint8_t(nclx->matrix_coefficients), nclx->full_range_flag != 0 };
        }
        h.heif_nclx_color_profile_free(nclx);
    };
    heif_color_profile_nclx* nclx = nullptr;
    heif_error error = h.heif_image_handle_get_nclx_color_profile(primary.get(), &nclx);
    takeNclx(error, nclx);
    d.sourceBits = h.heif_image_handle_get_luma_bits_per_pixel(primary.get());
    if (d.sourceBits < 8 || d.sourceBits > 16)
        d.sourceBits = 8;

    Handle thumbnail = thumbnailOf(primary.get(), thumbnailSizeOf(width, height, percentage));
    heif_image_handle* chosen = thumbnail ? thumbnail.get() : primary.get();
    if (thumbnail)
        d.sizedAs = { width, height };
    d.width = h.heif_image_handle_get_width(chosen);
    d.height = h.heif_image_handle_get_height(chosen);
    checkPixels(d.width, d.height, "HEIF picture");
    d.alpha = h.heif_image_handle_has_alpha_channel(chosen);
    const bool premultiplied = h.heif_image_handle_is_premultiplied_alpha(chosen);
    const int bits = h.heif_image_handle_get_luma_bits_per_pixel(chosen);
    d.bitsPerSample = bits > 8 ? 16 : 8;

    std::unique_ptr<heif_decoding_options, OptionsDeleter> options(h.heif_decoding_options_alloc());
    options->ignore_transformations = 0; // irot, imir and clap applied
    options->convert_hdr_to_8bit = 0; // PQ and HLG kept as coded, not tone-mapped
    const heif_chroma chroma = d.bitsPerSample == 8
        ? (d.alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB)
        : (d.alpha ? heif_chroma_interleaved_RRGGBBAA_LE : heif_chroma_interleaved_RRGGBB_LE);
    heif_image* decodedRaw = nullptr;
    check(h.heif_decode_image(chosen, &decodedRaw, heif_colorspace_RGB, chroma, options.get()),
        "the HEIF picture cannot be decoded");
    std::unique_ptr<heif_image, ImageDeleter> image(decodedRaw);
    if (!d.hasCicp) {
        nclx = nullptr;
        error = h.heif_image_get_nclx_color_profile(image.get(), &nclx);
        takeNclx(error, nclx);
    }
    const heif_channel channel = heif_channel_interleaved;
    if (h.heif_image_get_width(image.get(), channel) != d.width
        || h.heif_image_get_height(image.get(), channel) != d.height)
        throw Failure { "the decoded HEIF picture is not of its declared size" };
    const int planeBits = h.heif_image_get_bits_per_pixel_range(image.get(), channel);
    int stride = 0;
    const std::uint8_t* plane = h.heif_image_get_plane_readonly(image.get(), channel, &stride);
    if (!plane || planeBits < 1 || planeBits > 16)
        throw Failure { "the decoded HEIF picture has no pixels" };

    sink.begin(d);
    std::vector<std::uint8_t> row(std::size_t(d.width) * 4 * std::size_t(d.bitsPerSample / 8));
    for (int y = 0; y < d.height; ++y) {
        const std::uint8_t* in = plane + std::size_t(y) * std::size_t(stride);
        if (d.bitsPerSample == 8)
            convertRow(in, row.data(), d.width, 8, d.alpha, !premultiplied);
        else
            convertRow(reinterpret_cast<const std::uint16_t*>(in),
                reinterpret_cast<std::uint16_t*>(row.data()), d.width, planeBits, d.alpha,
                !premultiplied);
        sink.row(row.data());
    }
    return d;
}

} // namespace Reader
