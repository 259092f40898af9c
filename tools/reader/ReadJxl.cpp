// SPDX-License-Identifier: MIT

#include "imaging/core/LibJxl.h"
#include "imaging/core/Limits.h"
#include "tools/reader/Decoded.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string>
#include <unistd.h>

namespace Reader {
namespace {

// libjxl prints its own reasons on stderr, which would come before ours in the entry's
// message.
class QuietStderr
{
public:
    QuietStderr()
    {
        std::fflush(stderr);
        const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (m_saved >= 0 && null >= 0)
            dup2(null, 2);
        if (null >= 0)
            close(null);
    }
    ~QuietStderr()
    {
        if (m_saved >= 0) {
            dup2(m_saved, 2);
            close(m_saved);
        }
    }
    QuietStderr(const QuietStderr&) = delete;
    QuietStderr& operator=(const QuietStderr&) = delete;

private:
    int m_saved = fcntl(2, F_DUPFD_CLOEXEC, 3);
};

// The code points of an enumerated colour encoding; false when it has none (custom
// primaries or white point, a gamma no code point names, XYB).
bool toCicp(const JxlColorEncoding& c, ImageCore::Cicp& out)
{
    const bool d65 = c.white_point == JXL_WHITE_POINT_D65;
    if (c.color_space == JXL_COLOR_SPACE_GRAY) {
        if (!d65)
            return false;
        out.primaries = 1; // grey is handed back as RGB: any D65 primaries show it alike
    } else if (c.color_space != JXL_COLOR_SPACE_RGB) {
        return false;
    } else if (c.primaries == JXL_PRIMARIES_SRGB && d65) {
        out.primaries = 1;
    } else if (c.primaries == JXL_PRIMARIES_2100 && d65) {
        out.primaries = 9;
    } else if (c.primaries == JXL_PRIMARIES_P3) {
        if (d65)
            out.primaries = 12;
        else if (c.white_point == JXL_WHITE_POINT_DCI)
            out.primaries = 11;
        else
            return false;
    } else {
        return false;
    }
    const auto near = [&](double g) { return std::abs(c.gamma - g) < 1e-3; };
    switch (c.transfer_function) {
    case JXL_TRANSFER_FUNCTION_709:
    case JXL_TRANSFER_FUNCTION_LINEAR:
    case JXL_TRANSFER_FUNCTION_SRGB:
    case JXL_TRANSFER_FUNCTION_PQ:
    case JXL_TRANSFER_FUNCTION_DCI:
    case JXL_TRANSFER_FUNCTION_HLG:
        // The same numbers as the code points.
        out.transfer = std::uint8_t(c.transfer_function);
        break;
    case JXL_TRANSFER_FUNCTION_GAMMA:
        if (near(1 / 2.2))
            out.transfer = 4;
        else if (near(1 / 2.8))
            out.transfer = 5;
        else
            return false;
        break;
    default:
        return false;
    }
    out.matrix = 0; // the pixels are handed back as RGB
    out.fullRange = true;
    return true;
}

std::uint32_t bigEndian32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

// Whether the box container holds a box of `type`; false for a bare codestream.
bool hasBox(const std::vector<std::uint8_t>& bytes, const char (&type)[5])
{
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "\0\0\0\x0cJXL ", 8) != 0)
        return false;
    std::size_t at = 0;
    while (bytes.size() - at >= 8) {
        const std::uint8_t* box = bytes.data() + at;
        if (std::memcmp(box + 4, type, 4) == 0)
            return true;
        std::uint64_t size = bigEndian32(box);
        std::size_t header = 8;
        if (size == 1) {
            if (bytes.size() - at < 16)
                return false;
            size = std::uint64_t(bigEndian32(box + 8)) << 32 | bigEndian32(box + 12);
            header = 16;
        }
        if (size == 0 || size < header || size > bytes.size() - at)
            return false; // the last box, or a damaged one
        at += std::size_t(size);
    }
    return false;
}

// libjxl hands back straight R, G, B, A; the reading program's rows are premultiplied, at
// 8 bits as B, G, R, A.
void toDecodedOrder8(std::vector<std::uint8_t>& pixels, bool premultiply)
{
    for (std::size_t i = 0; i + 3 < pixels.size(); i += 4) {
        std::uint8_t* p = &pixels[i];
        std::swap(p[0], p[2]);
        const unsigned a = p[3];
        if (premultiply && a != 255)
            for (int k = 0; k < 3; ++k)
                p[k] = std::uint8_t((p[k] * a + 127) / 255);
    }
}

void premultiply16(std::vector<std::uint8_t>& bytes)
{
    auto* s = reinterpret_cast<std::uint16_t*>(bytes.data());
    const std::size_t count = bytes.size() / 2;
    for (std::size_t i = 0; i + 3 < count; i += 4) {
        const std::uint32_t a = s[i + 3];
        if (a != 65535)
            for (std::size_t k = 0; k < 3; ++k)
                s[i + k] = std::uint16_t((s[i + k] * a + 32767) / 65535);
    }
}

} // namespace

Decoded decodeJxl(const std::vector<std::uint8_t>& bytes, FrameSink& sink)
{
    const ImageCore::LibJxl& j = ImageCore::libjxl();
    const std::unique_ptr<JxlDecoder, decltype(j.JxlDecoderDestroy)> decoder(
        j.JxlDecoderCreate(nullptr), j.JxlDecoderDestroy);
    JxlDecoder* dec = decoder.get();
    const QuietStderr quiet;
    // Every core: libjxl's threads took no more processor time than one thread did (djxl,
    // three 12 MP decodes: about 1.0 s of user time either way), so they cost little when
    // several readers run at once.
    const std::unique_ptr<void, decltype(j.JxlThreadParallelRunnerDestroy)> runner(
        j.JxlThreadParallelRunnerCreate(
            nullptr, j.JxlThreadParallelRunnerDefaultNumWorkerThreads()),
        j.JxlThreadParallelRunnerDestroy);
    if (!dec || !runner
        || j.JxlDecoderSetParallelRunner(dec, j.JxlThreadParallelRunner, runner.get())
            != JXL_DEC_SUCCESS
        || j.JxlDecoderSubscribeEvents(dec,
               JXL_DEC_BASIC_INFO | JXL_DEC_COLOR_ENCODING | JXL_DEC_FRAME | JXL_DEC_FULL_IMAGE)
            != JXL_DEC_SUCCESS)
        throw Failure { "the JPEG XL decoder could not be set up" };
    // The orientation is applied to the thumbnail, which is smaller to turn.
    j.JxlDecoderSetKeepOrientation(dec, JXL_TRUE);
    if (j.JxlDecoderSetInput(dec, bytes.data(), bytes.size()) != JXL_DEC_SUCCESS)
        throw Failure { "the JPEG XL decoder could not be set up" };
    j.JxlDecoderCloseInput(dec);

    Decoded d;
    d.kind = Kinds::Kind::Jxl;
    JxlBasicInfo info {};
    JxlPixelFormat format { 4, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0 };
    std::uint32_t frames = 0;
    std::uint32_t delayMs = 0;
    for (;;) {
        const JxlDecoderStatus status = j.JxlDecoderProcessInput(dec);
        switch (status) {
        case JXL_DEC_BASIC_INFO: {
            if (j.JxlDecoderGetBasicInfo(dec, &info) != JXL_DEC_SUCCESS)
                throw Failure { "the JPEG XL header is damaged" };
            checkPixels(info.xsize, info.ysize, "JPEG XL picture");
            if (info.num_extra_channels > Limits::maxJxlExtraChannels)
                throw Failure { "the JPEG XL picture has " + std::to_string(info.num_extra_channels)
                    + " extra channels, more than " + std::to_string(Limits::maxJxlExtraChannels) };
            d.width = int(info.xsize);
            d.height = int(info.ysize);
            d.orientation = int(info.orientation);
            d.alpha = info.alpha_bits > 0;
            d.sourceBits = int(std::clamp<std::uint32_t>(info.bits_per_sample, 1, 16));
            d.bitsPerSample = info.bits_per_sample > 8 ? 16 : 8;
            format.data_type = d.bitsPerSample == 16 ? JXL_TYPE_UINT16 : JXL_TYPE_UINT8;
            // A judgement from the header: the original colour kept (no XYB) and no JPEG to
            // rebuild. Lossy modular coding in the original colour passes as lossless.
            d.lossy = !info.uses_original_profile || hasBox(bytes, "jbrd");
            break;
        }
        case JXL_DEC_COLOR_ENCODING: {
            JxlColorEncoding encoding {};
            if (!info.uses_original_profile
                && j.JxlDecoderGetColorAsEncodedProfile(
                       dec, nullptr, JXL_COLOR_PROFILE_TARGET_ORIGINAL, &encoding)
                    != JXL_DEC_SUCCESS) {
                // Coded as XYB from a picture with a profile: the decoder would give linear
                // sRGB, which 8 bits band; sRGB it can give exactly.
                encoding = {};
                encoding.color_space
                    = info.num_color_channels == 1 ? JXL_COLOR_SPACE_GRAY : JXL_COLOR_SPACE_RGB;
                encoding.white_point = JXL_WHITE_POINT_D65;
                encoding.primaries = JXL_PRIMARIES_SRGB;
                encoding.transfer_function = JXL_TRANSFER_FUNCTION_SRGB;
                encoding.rendering_intent = JXL_RENDERING_INTENT_PERCEPTUAL;
                j.JxlDecoderSetPreferredColorProfile(dec, &encoding);
            }
            if (j.JxlDecoderGetColorAsEncodedProfile(
                    dec, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, &encoding)
                    == JXL_DEC_SUCCESS
                && toCicp(encoding, d.cicp)) {
                d.hasCicp = true;
                break;
            }
            std::size_t size = 0;
            if (j.JxlDecoderGetICCProfileSize(dec, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, &size)
                == JXL_DEC_SUCCESS) {
                if (size > Limits::maxProfileSize)
                    throw Failure { "the colour profile is too large" };
                d.iccProfile.resize(size);
                if (j.JxlDecoderGetColorAsICCProfile(
                        dec, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, d.iccProfile.data(), size)
                    != JXL_DEC_SUCCESS)
                    throw Failure { "the JPEG XL colour profile is damaged" };
            }
            break;
        }
        case JXL_DEC_FRAME: {
            JxlFrameHeader header {};
            if (j.JxlDecoderGetFrameHeader(dec, &header) != JXL_DEC_SUCCESS)
                throw Failure { "the JPEG XL frame header is damaged" };
            if (frames == 0 && info.have_animation && !header.is_last) {
                // Every frame as shown, at 8 bits: the frame sink takes no more.
                d.animated = true;
                d.bitsPerSample = 8;
                format.data_type = JXL_TYPE_UINT8;
                d.loopCount = info.animation.num_loops;
                sink.begin(d, 0);
            }
            const std::uint64_t ticksPerSecond = info.animation.tps_numerator;
            delayMs = ticksPerSecond == 0
                ? 0
                : std::uint32_t(std::min<std::uint64_t>(std::uint64_t(header.duration) * 1000
                        * info.animation.tps_denominator / ticksPerSecond,
                    UINT32_MAX));
            break;
        }
        case JXL_DEC_NEED_IMAGE_OUT_BUFFER: {
            std::size_t size = 0;
            if (j.JxlDecoderImageOutBufferSize(dec, &format, &size) != JXL_DEC_SUCCESS
                || size != std::size_t(d.width) * d.height * 4 * std::size_t(d.bitsPerSample / 8))
                throw Failure { "the JPEG XL frame does not match its header" };
            d.pixels.resize(size); // one frame's, taken again for each
            if (j.JxlDecoderSetImageOutBuffer(dec, &format, d.pixels.data(), size)
                != JXL_DEC_SUCCESS)
                throw Failure { "the JPEG XL frame does not match its header" };
            break;
        }
        case JXL_DEC_FULL_IMAGE: {
            const bool premultiply = d.alpha && !info.alpha_premultiplied;
            if (d.bitsPerSample == 8)
                toDecodedOrder8(d.pixels, premultiply);
            else if (premultiply)
                premultiply16(d.pixels);
            if (!d.animated)
                return d;
            sink.add(d.pixels.data(), delayMs);
            ++frames;
            break;
        }
        case JXL_DEC_NEED_MORE_INPUT:
            throw Failure { "the JPEG XL picture is cut short" };
        case JXL_DEC_SUCCESS:
            if (frames == 0)
                throw Failure { "the JPEG XL picture holds no frame" };
            d.pixels = {};
            return d;
        default:
            throw Failure { "the JPEG XL picture is damaged" };
        }
    }
}

} // namespace Reader
