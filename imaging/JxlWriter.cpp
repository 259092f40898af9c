// SPDX-License-Identifier: MIT

#include "imaging/ThumbnailWriters.h"
#include "imaging/core/LibJxl.h"
#include "imaging/core/SharedLibrary.h"
#include "runtime/AppError.h"

#include <algorithm>
#include <cmath>
#include <memory>

namespace ThumbnailWriters {
namespace {

// Effort 3 of 1 .. 9 (measured with cjxl on three 1600 x 1200 thumbnails at 40 and 90 %):
// files 4 to 9 % larger than effort 7's and within 0.8 dB of its PSNR, in a seventh of its
// processor time; efforts 1 and 2 give the same pixels in larger files, 4 hardly differs.
constexpr int effort = 3;

[[noreturn]] void fail(const QString& path, const QString& why)
{
    throw AppError(ErrorNumber::InvalidPicture,
        QStringLiteral("The JPEG XL thumbnail could not be made (%1): %2").arg(why, path));
}

// libjxl, loaded by the first JPEG XL thumbnail.
const ImageCore::LibJxl& loaded(const QString& path)
{
    try {
        return ImageCore::libjxl();
    } catch (const ImageCore::LibraryError& error) {
        fail(path, QString::fromStdString(error.what()));
    }
}

// The colour encoding that code points name; false for those JPEG XL cannot enumerate.
bool toEncoding(const ImageCore::Cicp& cicp, JxlColorEncoding& c)
{
    c = {};
    c.color_space = JXL_COLOR_SPACE_RGB;
    c.white_point = JXL_WHITE_POINT_D65;
    c.rendering_intent = JXL_RENDERING_INTENT_PERCEPTUAL;
    switch (cicp.primaries) {
    case 1:
        c.primaries = JXL_PRIMARIES_SRGB;
        break;
    case 9:
        c.primaries = JXL_PRIMARIES_2100;
        break;
    case 11:
        c.primaries = JXL_PRIMARIES_P3;
        c.white_point = JXL_WHITE_POINT_DCI;
        break;
    case 12:
        c.primaries = JXL_PRIMARIES_P3;
        break;
    default:
        return false;
    }
    switch (cicp.transfer) {
    case 1:
    case 6:
    case 14:
    case 15: // BT.601 and BT.2020 share BT.709's curve
        c.transfer_function = JXL_TRANSFER_FUNCTION_709;
        break;
    case 4:
        c.transfer_function = JXL_TRANSFER_FUNCTION_GAMMA;
        c.gamma = 1 / 2.2;
        break;
    case 5:
        c.transfer_function = JXL_TRANSFER_FUNCTION_GAMMA;
        c.gamma = 1 / 2.8;
        break;
    case 8:
    case 13:
    case 16:
    case 17:
    case 18:
        c.transfer_function = JxlTransferFunction(cicp.transfer);
        break;
    default:
        return false;
    }
    return true;
}

} // namespace

float jxlDistance(int quality)
{
    // The mapping cjxl 0.7 uses for its -q, so that a percentage writes what cjxl and other
    // tools write at that quality: 90 gives 1.0 (visually lossless), 40 gives 5.5. Capped at
    // the encoder's largest distance, which percentages below 9 reach.
    const double q = std::clamp(quality, 1, 100);
    const double distance
        = q >= 30 ? 0.1 + (100 - q) * 0.09 : 6.4 + std::pow(2.5, (30 - q) / 5.0) / 6.25;
    return float(std::min(distance, 15.0));
}

namespace {

// A frame's samples as the encoder takes them, alpha straight.
struct Samples
{
    QImage rows;
    std::vector<std::uint16_t> wide;
    std::vector<std::uint8_t> narrow;
    const void* data = nullptr;
    std::size_t bytes = 0;
    JxlPixelFormat format {};
};

// `grey`: one colour sample (a grey picture with a grey profile).
Samples samplesOf(const QImage& picture, bool alpha, bool sixteen, bool grey, const QString& path)
{
    Samples s;
    s.format = { (grey ? 1U : 3U) + (alpha ? 1U : 0U), sixteen ? JXL_TYPE_UINT16 : JXL_TYPE_UINT8,
        JXL_NATIVE_ENDIAN, 0 };
    if (!grey && !(sixteen && !alpha)) {
        s.rows = picture.convertToFormat(sixteen ? QImage::Format_RGBA64
                : alpha                          ? QImage::Format_RGBA8888
                                                 : QImage::Format_RGB888);
        if (s.rows.isNull())
            throw AppError::about(ErrorNumber::OutOfMemory, path);
        s.format.align = 4; // Qt's rows are the shortest that keep four-byte alignment
        s.data = s.rows.constBits();
        s.bytes = std::size_t(s.rows.sizeInBytes());
        return s;
    }
    // Packed by hand: Qt has no format for 16-bit RGB or for grey with alpha.
    const QImage rgba = picture.convertToFormat(QImage::Format_RGBA64);
    if (rgba.isNull())
        throw AppError::about(ErrorNumber::OutOfMemory, path);
    std::vector<int> picks = grey ? std::vector<int> { 1 } : std::vector<int> { 0, 1, 2 };
    if (alpha)
        picks.push_back(3);
    s.wide.reserve(std::size_t(rgba.width()) * rgba.height() * picks.size());
    for (int y = 0; y < rgba.height(); ++y) {
        const auto* row = reinterpret_cast<const std::uint16_t*>(rgba.constScanLine(y));
        for (int x = 0; x < rgba.width(); ++x)
            for (int k : picks)
                s.wide.push_back(row[std::size_t(x) * 4 + std::size_t(k)]);
    }
    if (sixteen) {
        s.data = s.wide.data();
        s.bytes = s.wide.size() * 2;
        return s;
    }
    s.narrow.resize(s.wide.size());
    std::transform(s.wide.begin(), s.wide.end(), s.narrow.begin(),
        [](std::uint16_t v) { return std::uint8_t(v >> 8); });
    s.wide = {};
    s.data = s.narrow.data();
    s.bytes = s.narrow.size();
    return s;
}

// The frames of one size as a JPEG XL file; an animation when `animated`, with each frame's
// delay in milliseconds.
std::vector<std::uint8_t> encodeFrames(const std::vector<Frame>& frames, bool animated,
    std::uint32_t loopCount, const QString& path, const Settings& settings)
{
    const QImage& first = frames.front().image;
    const bool alpha = first.hasAlphaChannel();
    const bool sixteen = first.depth() == 64;
    // Code points where JPEG XL enumerates them, else an RGB profile, or a grey one for a
    // picture written grey (the encoder takes a grey profile only so), else sRGB.
    JxlColorEncoding colour;
    const bool enumerated = settings.cicp && toEncoding(*settings.cicp, colour);
    const std::uint32_t space
        = ImageCore::profileDataSpace(settings.iccProfile.data(), settings.iccProfile.size());
    const bool grey = !enumerated && space == ImageCore::signature("GRAY");
    const bool profile = !enumerated && (grey || space == ImageCore::signature("RGB "));

    const ImageCore::LibJxl& j = loaded(path);
    const std::unique_ptr<JxlEncoder, decltype(j.JxlEncoderDestroy)> encoder(
        j.JxlEncoderCreate(nullptr), j.JxlEncoderDestroy);
    // Every core, as the reading program decodes: the threads add no processor time.
    const std::unique_ptr<void, decltype(j.JxlThreadParallelRunnerDestroy)> runner(
        j.JxlThreadParallelRunnerCreate(
            nullptr, j.JxlThreadParallelRunnerDefaultNumWorkerThreads()),
        j.JxlThreadParallelRunnerDestroy);
    if (!encoder || !runner)
        throw AppError::about(ErrorNumber::OutOfMemory, path);
    JxlEncoder* enc = encoder.get();
    if (j.JxlEncoderSetParallelRunner(enc, j.JxlThreadParallelRunner, runner.get())
        != JXL_ENC_SUCCESS)
        fail(path, QStringLiteral("no threads"));

    const bool lossless = !settings.lossy;
    JxlBasicInfo info;
    j.JxlEncoderInitBasicInfo(&info);
    info.xsize = std::uint32_t(first.width());
    info.ysize = std::uint32_t(first.height());
    // 10- and 12-bit sources keep their depth; the samples are scaled to it from 16 bits.
    info.bits_per_sample = sixteen ? std::uint32_t(std::clamp(settings.sourceBits, 9, 16)) : 8;
    info.num_color_channels = grey ? 1 : 3;
    info.num_extra_channels = alpha ? 1 : 0;
    info.alpha_bits = alpha ? info.bits_per_sample : 0;
    info.uses_original_profile = lossless ? JXL_TRUE : JXL_FALSE;
    if (animated) {
        info.have_animation = JXL_TRUE;
        info.animation.tps_numerator = 1000; // ticks of a millisecond
        info.animation.tps_denominator = 1;
        info.animation.num_loops = loopCount;
    }
    if (j.JxlEncoderSetBasicInfo(enc, &info) != JXL_ENC_SUCCESS)
        fail(path, QStringLiteral("the picture's header was refused"));

    if (enumerated) {
        if (j.JxlEncoderSetColorEncoding(enc, &colour) != JXL_ENC_SUCCESS)
            fail(path, QStringLiteral("the colour description was refused"));
    } else if (profile) {
        if (j.JxlEncoderSetICCProfile(enc, settings.iccProfile.data(), settings.iccProfile.size())
            != JXL_ENC_SUCCESS)
            fail(path, QStringLiteral("the colour profile was refused"));
    } else {
        j.JxlColorEncodingSetToSRGB(&colour, JXL_FALSE);
        j.JxlEncoderSetColorEncoding(enc, &colour);
    }

    JxlEncoderFrameSettings* frame = j.JxlEncoderFrameSettingsCreate(enc, nullptr);
    if (!frame || j.JxlEncoderFrameSettingsSetOption(frame, JXL_ENC_FRAME_SETTING_EFFORT, effort)
        || (lossless ? j.JxlEncoderSetFrameLossless(frame, JXL_TRUE)
                     : j.JxlEncoderSetFrameDistance(frame, jxlDistance(settings.quality))))
        fail(path, QStringLiteral("the settings were refused"));
    std::size_t bytes = 0;
    for (const Frame& f : frames) {
        const Samples samples = samplesOf(f.image, alpha, sixteen, grey, path);
        bytes += samples.bytes;
        if (animated) {
            JxlFrameHeader header;
            j.JxlEncoderInitFrameHeader(&header);
            header.duration = f.delayMs;
            if (j.JxlEncoderSetFrameHeader(frame, &header) != JXL_ENC_SUCCESS)
                fail(path, QStringLiteral("the frame's header was refused"));
        }
        if (j.JxlEncoderAddImageFrame(frame, &samples.format, samples.data, samples.bytes)
            != JXL_ENC_SUCCESS)
            fail(path, QStringLiteral("error %1").arg(int(j.JxlEncoderGetError(enc))));
    }
    j.JxlEncoderCloseInput(enc);

    std::vector<std::uint8_t> out(std::max<std::size_t>(4096, bytes / 8));
    std::uint8_t* next = out.data();
    std::size_t room = out.size();
    for (;;) {
        const JxlEncoderStatus status = j.JxlEncoderProcessOutput(enc, &next, &room);
        if (status == JXL_ENC_SUCCESS)
            break;
        if (status != JXL_ENC_NEED_MORE_OUTPUT) {
            if (j.JxlEncoderGetError(enc) == JXL_ENC_ERR_OOM)
                throw AppError::about(ErrorNumber::OutOfMemory, path);
            fail(path, QStringLiteral("error %1").arg(int(j.JxlEncoderGetError(enc))));
        }
        const std::size_t used = std::size_t(next - out.data());
        out.resize(out.size() * 2);
        next = out.data() + used;
        room = out.size() - used;
    }
    out.resize(std::size_t(next - out.data()));
    return out;
}

} // namespace

std::vector<std::uint8_t> encodeJxl(
    const QImage& picture, const QString& path, const Settings& settings)
{
    return encodeFrames({ { picture, 0 } }, false, 0, path, settings);
}

std::vector<std::uint8_t> encodeAnimatedJxl(const std::vector<Frame>& frames,
    std::uint32_t loopCount, const QString& path, const Settings& settings)
{
    return encodeFrames(frames, true, loopCount, path, settings);
}

} // namespace ThumbnailWriters
