// SPDX-License-Identifier: MIT

#include "imaging/core/Limits.h"
#include "tools/reader/Decoded.h"

#include <algorithm>
#include <memory>
#include <string>
#include <webp/decode.h>
#include <webp/demux.h>

namespace Reader {
namespace {

struct DemuxDeleter
{
    void operator()(WebPDemuxer* d) const { WebPDemuxDelete(d); }
};
struct AnimDeleter
{
    void operator()(WebPAnimDecoder* d) const { WebPAnimDecoderDelete(d); }
};

std::vector<std::uint8_t> chunk(WebPDemuxer* demux, const char* fourcc)
{
    WebPChunkIterator it;
    std::vector<std::uint8_t> bytes;
    if (WebPDemuxGetChunk(demux, fourcc, 1, &it)) {
        bytes.assign(it.chunk.bytes, it.chunk.bytes + it.chunk.size);
        WebPDemuxReleaseChunkIterator(&it);
    }
    return bytes;
}

} // namespace

Decoded decodeWebP(const std::vector<std::uint8_t>& bytes, FrameSink& sink, int percentage)
{
    const WebPData data { bytes.data(), bytes.size() };
    std::unique_ptr<WebPDemuxer, DemuxDeleter> demux(WebPDemux(&data));
    if (!demux)
        throw Failure { "not a whole WebP picture" };
    const std::uint32_t width = WebPDemuxGetI(demux.get(), WEBP_FF_CANVAS_WIDTH);
    const std::uint32_t height = WebPDemuxGetI(demux.get(), WEBP_FF_CANVAS_HEIGHT);
    const std::uint32_t frames = WebPDemuxGetI(demux.get(), WEBP_FF_FRAME_COUNT);
    const std::uint32_t flags = WebPDemuxGetI(demux.get(), WEBP_FF_FORMAT_FLAGS);
    checkPixels(width, height, "canvas");
    if (frames < 1)
        throw Failure { "the WebP picture holds no frame" };
    if (frames > Limits::maxFrames)
        throw Failure { "the WebP animation has more than " + std::to_string(Limits::maxFrames)
            + " frames" };

    Decoded d;
    d.kind = Kinds::Kind::WebP;
    d.width = int(width);
    d.height = int(height);
    if (flags & ICCP_FLAG)
        d.iccProfile = chunk(demux.get(), "ICCP");
    if (d.iccProfile.size() > Limits::maxProfileSize)
        throw Failure { "the colour profile is too large" };
    if (flags & EXIF_FLAG) {
        const std::vector<std::uint8_t> exif = chunk(demux.get(), "EXIF");
        d.orientation = exifOrientation(exif.data(), exif.size());
    }

    WebPIterator first;
    if (!WebPDemuxGetFrame(demux.get(), 1, &first))
        throw Failure { "the WebP picture's first frame cannot be found" };
    WebPBitstreamFeatures features;
    const VP8StatusCode status
        = WebPGetFeatures(first.fragment.bytes, first.fragment.size, &features);
    WebPDemuxReleaseIterator(&first);
    if (status != VP8_STATUS_OK)
        throw Failure { "the WebP frame's header is damaged" };
    d.lossy = features.format != 2; // 1 lossy, 2 lossless, 0 mixed in an animation
    d.alpha = (flags & ALPHA_FLAG) || features.has_alpha;

    if (frames == 1 && !(flags & ANIMATION_FLAG)) {
        WebPDecoderConfig config;
        if (!WebPInitDecoderConfig(&config))
            throw Failure { "the WebP decoder does not match its header" };
        // libwebp scales while it decodes, before its colour conversion, so that the whole
        // picture is never held: its rescaler averages areas as ours does (measured on
        // photographs: the same error against a box filter as decoding whole, or as decoding
        // to twice the size and halving, at 60 % of the time and a third of the memory).
        const ImageCore::Size target = targetSize(d, percentage);
        if (target.width < d.width && target.height < d.height) {
            config.options.use_scaling = 1;
            config.options.scaled_width = target.width;
            config.options.scaled_height = target.height;
            d.width = target.width;
            d.height = target.height;
            d.target = target;
        }
        d.pixels.resize(std::size_t(d.width) * std::size_t(d.height) * 4);
        // The loop filter runs on a second thread beside the decoding: no more processor
        // time, and less waiting when a core is free (six photographs at 10 %: 1.3 s
        // against 1.8 s).
        config.options.use_threads = 1;
        config.output.colorspace = MODE_bgrA;
        config.output.is_external_memory = 1;
        config.output.u.RGBA.rgba = d.pixels.data();
        config.output.u.RGBA.stride = d.width * 4;
        config.output.u.RGBA.size = d.pixels.size();
        const VP8StatusCode decoded = WebPDecode(bytes.data(), bytes.size(), &config);
        WebPFreeDecBuffer(&config.output);
        if (decoded != VP8_STATUS_OK)
            throw Failure { "the WebP picture is damaged (" + std::to_string(int(decoded)) + ")" };
        return d;
    }
    WebPAnimDecoderOptions options;
    if (!WebPAnimDecoderOptionsInit(&options))
        throw Failure { "the WebP decoder does not match its header" };
    options.color_mode = MODE_bgrA;
    options.use_threads = 0;
    if (frames == 1) {
        // A one-frame animation is a still picture, composed on its canvas as a viewer
        // shows it.
        d.pixels.resize(std::size_t(width) * height * 4);
        std::unique_ptr<WebPAnimDecoder, AnimDeleter> anim(WebPAnimDecoderNew(&data, &options));
        std::uint8_t* canvas = nullptr;
        int timestamp = 0;
        if (!anim || !WebPAnimDecoderGetNext(anim.get(), &canvas, &timestamp))
            throw Failure { "the WebP animation's first frame is damaged" };
        std::copy(canvas, canvas + d.pixels.size(), d.pixels.begin());
        d.alpha = true;
        return d;
    }
    d.animated = true;
    d.alpha = true;
    d.loopCount = WebPDemuxGetI(demux.get(), WEBP_FF_LOOP_COUNT);
    sink.begin(d, frames);
    std::unique_ptr<WebPAnimDecoder, AnimDeleter> anim(WebPAnimDecoderNew(&data, &options));
    if (!anim)
        throw Failure { "the WebP animation cannot be decoded" };
    // Each timestamp is where its frame ends.
    int shownUntil = 0;
    for (std::uint32_t i = 0; i < frames; ++i) {
        std::uint8_t* canvas = nullptr;
        int timestamp = 0;
        if (!WebPAnimDecoderGetNext(anim.get(), &canvas, &timestamp))
            throw Failure { "the WebP animation's frame " + std::to_string(i + 1) + " is damaged" };
        sink.add(canvas, std::uint32_t(std::max(0, timestamp - shownUntil)));
        shownUntil = timestamp;
    }
    return d;
}

} // namespace Reader
