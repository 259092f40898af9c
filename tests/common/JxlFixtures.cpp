// SPDX-License-Identifier: MIT

#include "tests/common/KindFixtures.h"

#include <QBuffer>
#include <QFile>
#include <algorithm>
#include <jxl/decode.h>
#include <jxl/decode_cxx.h>
#include <jxl/encode.h>
#include <jxl/encode_cxx.h>
#include <vector>

namespace KindFixtures {
namespace {

// Whether a box of `type` lies at the top level of a JPEG XL container.
bool hasBox(const QByteArray& bytes, const char* type)
{
    if (!bytes.startsWith(QByteArray("\0\0\0\x0cJXL ", 8)))
        return false;
    qsizetype at = 0;
    while (bytes.size() - at >= 8) {
        if (bytes.mid(at + 4, 4) == type)
            return true;
        const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.constData() + at);
        const qsizetype size = qsizetype(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
        if (size < 8)
            return false;
        at += size;
    }
    return false;
}

} // namespace

// Still when `loopCount` is negative, else an animation of the frames (each the canvas).
bool writeFrames(
    const QString& path, const QList<AnimationFrame>& frames, const Options& o, int loopCount)
{
    const QImage& source = frames.front().image;
    const JxlEncoderPtr encoder = JxlEncoderMake(nullptr);
    JxlEncoder* enc = encoder.get();
    JxlEncoderFrameSettings* frame = JxlEncoderFrameSettingsCreate(enc, nullptr);
    if (o.fromJpeg) {
        QByteArray jpeg;
        QBuffer buffer(&jpeg);
        if (!source.save(&buffer, "JPG", o.quality) || JxlEncoderUseContainer(enc, JXL_TRUE)
            || JxlEncoderStoreJPEGMetadata(enc, JXL_TRUE)
            || JxlEncoderAddJPEGFrame(frame,
                reinterpret_cast<const std::uint8_t*>(jpeg.constData()), std::size_t(jpeg.size())))
            return false;
    } else {
        const bool alpha = source.hasAlphaChannel();
        // A grey profile takes one colour sample.
        const bool grey = o.iccProfile.mid(16, 4) == "GRAY";
        const std::uint32_t channels = (grey ? 1 : 3) + (alpha ? 1 : 0);
        const bool wide = o.bits > 8;
        JxlBasicInfo info;
        JxlEncoderInitBasicInfo(&info);
        info.xsize = std::uint32_t(source.width());
        info.ysize = std::uint32_t(source.height());
        info.bits_per_sample = std::uint32_t(o.bits);
        info.num_color_channels = grey ? 1 : 3;
        info.num_extra_channels = alpha ? 1 : 0;
        info.alpha_bits = alpha ? info.bits_per_sample : 0;
        info.orientation = JxlOrientation(o.orientation);
        info.uses_original_profile = o.lossy ? JXL_FALSE : JXL_TRUE;
        info.have_animation = loopCount >= 0;
        info.animation = { 1000, 1, std::uint32_t(std::max(loopCount, 0)), JXL_FALSE };
        if (JxlEncoderSetBasicInfo(enc, &info))
            return false;
        JxlColorEncoding colour;
        JxlColorEncodingSetToSRGB(&colour, JXL_FALSE);
        if (o.cicp.size() == 2) {
            colour.primaries = JxlPrimaries(o.cicp[0]);
            colour.transfer_function = JxlTransferFunction(o.cicp[1]);
        }
        if (o.iccProfile.isEmpty()
                ? JxlEncoderSetColorEncoding(enc, &colour) != JXL_ENC_SUCCESS
                : JxlEncoderSetICCProfile(enc,
                      reinterpret_cast<const std::uint8_t*>(o.iccProfile.constData()),
                      std::size_t(o.iccProfile.size()))
                    != JXL_ENC_SUCCESS)
            return false;
        if (o.lossy ? JxlEncoderSetFrameDistance(frame, 1.0f)
                    : JxlEncoderSetFrameLossless(frame, JXL_TRUE))
            return false;
        const JxlPixelFormat format { channels, wide ? JXL_TYPE_UINT16 : JXL_TYPE_UINT8,
            JXL_NATIVE_ENDIAN, 0 };
        for (const AnimationFrame& f : frames) {
            std::vector<std::uint16_t> samples;
            for (int y = 0; y < f.image.height(); ++y)
                for (int x = 0; x < f.image.width(); ++x) {
                    const QRgb c = f.image.pixel(x, y);
                    const int colour[] = { qRed(c), qGreen(c), qBlue(c), qAlpha(c) };
                    const int grey2[] = { qGray(c), qAlpha(c) };
                    for (std::uint32_t k = 0; k < channels; ++k) {
                        const int v = grey ? grey2[k] : colour[k];
                        samples.push_back(std::uint16_t(wide ? v * 257 : v));
                    }
                }
            std::vector<std::uint8_t> narrow(samples.begin(), samples.end());
            JxlFrameHeader header;
            JxlEncoderInitFrameHeader(&header);
            header.duration = std::uint32_t(f.delayMs);
            if ((loopCount >= 0 && JxlEncoderSetFrameHeader(frame, &header))
                || (wide ? JxlEncoderAddImageFrame(
                        frame, &format, samples.data(), samples.size() * 2)
                         : JxlEncoderAddImageFrame(frame, &format, narrow.data(), narrow.size())))
                return false;
        }
    }
    JxlEncoderCloseInput(enc);
    std::vector<std::uint8_t> out(1 << 16);
    std::uint8_t* next = out.data();
    std::size_t room = out.size();
    if (JxlEncoderProcessOutput(enc, &next, &room) != JXL_ENC_SUCCESS)
        return false;
    QFile f(path);
    const qint64 size = next - out.data();
    return f.open(QIODevice::WriteOnly)
        && f.write(reinterpret_cast<const char*>(out.data()), size) == size;
}

bool writeJxl(const QString& path, const QImage& image, const Options& options)
{
    return writeFrames(path, { { image, {}, 0, 0 } }, options, -1);
}

bool writeAnimatedJxl(
    const QString& path, const QList<AnimationFrame>& frames, int loopCount, bool lossy)
{
    Options options;
    options.lossy = lossy;
    return writeFrames(path, frames, options, loopCount);
}

void readJxl(const QByteArray& bytes, Read& r)
{
    r.kind = "jxl";
    r.hasExif = hasBox(bytes, "Exif");
    const JxlDecoderPtr decoder = JxlDecoderMake(nullptr);
    JxlDecoder* dec = decoder.get();
    JxlDecoderSubscribeEvents(
        dec, JXL_DEC_BASIC_INFO | JXL_DEC_COLOR_ENCODING | JXL_DEC_FRAME | JXL_DEC_FULL_IMAGE);
    JxlDecoderSetInput(
        dec, reinterpret_cast<const std::uint8_t*>(bytes.constData()), std::size_t(bytes.size()));
    JxlDecoderCloseInput(dec);
    const JxlPixelFormat format { 4, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0 };
    JxlBasicInfo info {};
    QImage rgba;
    for (;;) {
        switch (JxlDecoderProcessInput(dec)) {
        case JXL_DEC_BASIC_INFO:
            JxlDecoderGetBasicInfo(dec, &info);
            r.bits = int(info.bits_per_sample);
            r.lossy = !info.uses_original_profile || hasBox(bytes, "jbrd");
            break;
        case JXL_DEC_COLOR_ENCODING: {
            JxlColorEncoding c;
            std::size_t size = 0;
            if (JxlDecoderGetColorAsEncodedProfile(
                    dec, nullptr, JXL_COLOR_PROFILE_TARGET_ORIGINAL, &c)
                == JXL_DEC_SUCCESS) {
                r.cicp = { c.primaries == JXL_PRIMARIES_P3 ? 12 : int(c.primaries),
                    int(c.transfer_function) };
            } else if (JxlDecoderGetICCProfileSize(
                           dec, nullptr, JXL_COLOR_PROFILE_TARGET_ORIGINAL, &size)
                == JXL_DEC_SUCCESS) {
                r.iccProfile.resize(qsizetype(size));
                JxlDecoderGetColorAsICCProfile(dec, nullptr, JXL_COLOR_PROFILE_TARGET_ORIGINAL,
                    reinterpret_cast<std::uint8_t*>(r.iccProfile.data()), size);
            }
            break;
        }
        case JXL_DEC_NEED_IMAGE_OUT_BUFFER: {
            // Turned upright by the decoder: the buffer has the shown size.
            const bool turned = info.orientation >= JXL_ORIENT_TRANSPOSE;
            rgba = QImage(int(turned ? info.ysize : info.xsize),
                int(turned ? info.xsize : info.ysize), QImage::Format_RGBA8888);
            JxlDecoderSetImageOutBuffer(dec, &format, rgba.bits(), std::size_t(rgba.sizeInBytes()));
            break;
        }
        case JXL_DEC_FRAME: {
            JxlFrameHeader header;
            JxlDecoderGetFrameHeader(dec, &header);
            if (info.have_animation) {
                r.loopCount = int(info.animation.num_loops);
                r.delays.append(int(std::uint64_t(header.duration) * 1000
                    * info.animation.tps_denominator / info.animation.tps_numerator));
            }
            break;
        }
        case JXL_DEC_FULL_IMAGE:
            r.frames.append(rgba.convertToFormat(QImage::Format_ARGB32));
            r.image = r.frames.front();
            break;
        case JXL_DEC_SUCCESS:
            if (r.frames.size() == 1) {
                r.frames.clear();
                r.delays.clear();
            }
            return;
        default:
            return;
        }
    }
}

} // namespace KindFixtures
