// SPDX-License-Identifier: MIT

#include "tools/reader/ReadThumbnail.h"

#include "imaging/core/AreaScaling.h"
#include "imaging/core/Limits.h"
#include "imaging/core/SharedLibrary.h"
#include "tools/common/ToolSupport.h"
#include "tools/reader/Decoded.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

using namespace ToolSupport;

namespace Reader {

void checkPixels(std::int64_t width, std::int64_t height, const char* what)
{
    if (width < 0 || height < 0 || width * height > Limits::maxPixels)
        throw Failure { std::string("the ") + what + " of " + std::to_string(width) + " x "
            + std::to_string(height) + " pixels is larger than " + std::to_string(Limits::maxPixels)
            + " pixels" };
}

int exifOrientation(const std::uint8_t* data, std::size_t size)
{
    if (size >= 6 && std::memcmp(data, "Exif\0\0", 6) == 0) {
        data += 6;
        size -= 6;
    }
    if (size < 8)
        return 1;
    const bool little = data[0] == 'I' && data[1] == 'I';
    if (!little && !(data[0] == 'M' && data[1] == 'M'))
        return 1;
    const auto u16 = [&](std::size_t at) -> std::uint32_t {
        return little ? data[at] | data[at + 1] << 8 : data[at] << 8 | data[at + 1];
    };
    const auto u32 = [&](std::size_t at) -> std::uint32_t {
        return little ? u16(at) | u16(at + 2) << 16 : u16(at) << 16 | u16(at + 2);
    };
    const std::uint32_t ifd = u32(4);
    if (ifd > size - 2)
        return 1;
    const std::uint32_t count = u16(ifd);
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::size_t entry = ifd + 2 + std::size_t(i) * 12;
        if (entry + 12 > size)
            break;
        if (u16(entry) == 0x0112 && u16(entry + 2) == 3) {
            const std::uint32_t value = u16(entry + 8);
            return value >= 1 && value <= 8 ? int(value) : 1;
        }
    }
    return 1;
}

ImageCore::Size thumbnailSizeOf(int width, int height, int percentage)
{
    return ImageCore::storedSize(
        ImageCore::thumbnailSize({ width, height }, ImageCore::scaleFactor(percentage)));
}

// The thumbnail's size: the size rule applies to the upright picture (or the source a smaller
// picture of the same stands for); the stored one is scaled to its turned size and turned
// afterwards, so that only the thumbnail is turned.
ImageCore::Size targetSize(const Decoded& d, int percentage)
{
    const bool turned = d.orientation >= 5;
    ImageCore::Size up
        = turned ? ImageCore::Size { d.height, d.width } : ImageCore::Size { d.width, d.height };
    if (d.sizedAs.width > 0)
        up = d.sizedAs;
    const ImageCore::Size thumb = thumbnailSizeOf(up.width, up.height, percentage);
    return turned ? ImageCore::Size { thumb.height, thumb.width } : thumb;
}

} // namespace Reader

namespace {

using Reader::Decoded;
using Reader::Failure;

std::vector<std::uint8_t> readAt(int fd, std::size_t size, const std::string& path)
{
    std::vector<std::uint8_t> bytes(size);
    const Files::ReadResult read = Files::readFullAt(fd, bytes.data(), bytes.size(), 0);
    if (read.error)
        throw toolError(path, read.error);
    bytes.resize(read.bytes);
    return bytes;
}

// Turns a picture of `bytesPerPixel` stored as its orientation says into the upright one.
std::vector<std::uint8_t> upright(
    std::vector<std::uint8_t> in, int& width, int& height, int bytesPerPixel, int orientation)
{
    if (orientation <= 1 || orientation > 8)
        return in;
    const int w = width, h = height;
    const bool turned = orientation >= 5;
    const int outW = turned ? h : w, outH = turned ? w : h;
    std::vector<std::uint8_t> out(in.size());
    for (int dy = 0; dy < outH; ++dy) {
        for (int dx = 0; dx < outW; ++dx) {
            int x = dx, y = dy;
            switch (orientation) {
            case 2:
                x = w - 1 - dx;
                break;
            case 3:
                x = w - 1 - dx;
                y = h - 1 - dy;
                break;
            case 4:
                y = h - 1 - dy;
                break;
            case 5:
                x = dy;
                y = dx;
                break;
            case 6:
                x = dy;
                y = h - 1 - dx;
                break;
            case 7:
                x = w - 1 - dy;
                y = h - 1 - dx;
                break;
            case 8:
                x = w - 1 - dy;
                y = dx;
                break;
            }
            std::memcpy(&out[(std::size_t(dy) * outW + dx) * bytesPerPixel],
                &in[(std::size_t(y) * w + x) * bytesPerPixel], std::size_t(bytesPerPixel));
        }
    }
    width = outW;
    height = outH;
    return out;
}

template <class Sample>
std::vector<std::uint8_t> shrink(
    const std::uint8_t* pixels, const Decoded& d, ImageCore::Size target)
{
    std::vector<std::uint8_t> out(std::size_t(target.width) * target.height * 4 * sizeof(Sample));
    ImageCore::AreaAverager<Sample> averager({ d.width, d.height }, target,
        reinterpret_cast<Sample*>(out.data()), std::ptrdiff_t(target.width) * 4);
    const auto* rows = reinterpret_cast<const Sample*>(pixels);
    for (int y = 0; y < d.height; ++y)
        averager.add(rows + std::size_t(y) * d.width * 4);
    averager.finish();
    return out;
}

// Scales the rows as they come when the thumbnail is smaller than the picture, so that
// only the thumbnail is held; otherwise keeps them (the run scales those).
class Thumbnailer final : public Reader::RowSink
{
public:
    explicit Thumbnailer(int percentage)
        : m_percentage(percentage)
    {
    }

    void begin(const Decoded& header) override
    {
        m_header.width = header.width;
        m_header.height = header.height;
        m_header.bitsPerSample = header.bitsPerSample;
        m_header.sourceBits = header.sourceBits;
        m_header.hasCicp = header.hasCicp;
        m_header.cicp = header.cicp;
        m_header.alpha = header.alpha;
        m_header.orientation = header.orientation;
        m_header.iccProfile = header.iccProfile;
        m_header.kind = header.kind;
        m_header.lossy = header.lossy;
        m_header.compression = header.compression;
        m_header.sizedAs = header.sizedAs;
        m_header.redFirst = header.redFirst;
        const Decoded& d = m_header;
        m_target = header.target.width > 0 ? header.target : Reader::targetSize(d, m_percentage);
        m_rowBytes = std::size_t(d.width) * 4 * std::size_t(d.bitsPerSample / 8);
        // Only a thumbnail smaller than its source is scaled here; the run scales any other
        // (the same size is a copy, and enlarging is not area averaging).
        const bool shrink = m_target.width <= d.width && m_target.height <= d.height
            && !(m_target.width == d.width && m_target.height == d.height);
        if (!shrink) {
            m_target = { d.width, d.height };
            m_pixels.resize(m_rowBytes * std::size_t(d.height));
            return;
        }
        m_pixels.resize(
            std::size_t(m_target.width) * m_target.height * 4 * std::size_t(d.bitsPerSample / 8));
        const std::ptrdiff_t stride = std::ptrdiff_t(m_target.width) * 4;
        if (d.bitsPerSample == 16)
            m_sixteen = std::make_unique<ImageCore::AreaAverager<std::uint16_t>>(
                ImageCore::Size { d.width, d.height }, m_target,
                reinterpret_cast<std::uint16_t*>(m_pixels.data()), stride);
        else
            m_eight = std::make_unique<ImageCore::AreaAverager<std::uint8_t>>(
                ImageCore::Size { d.width, d.height }, m_target, m_pixels.data(), stride);
    }

    void row(const std::uint8_t* pixels) override
    {
        if (m_rows >= m_header.height)
            return;
        if (m_sixteen)
            m_sixteen->add(reinterpret_cast<const std::uint16_t*>(pixels));
        else if (m_eight)
            m_eight->add(pixels);
        else
            std::memcpy(&m_pixels[std::size_t(m_rows) * m_rowBytes], pixels, m_rowBytes);
        ++m_rows;
    }

    ImageCore::ScaledFrames finish()
    {
        if (m_rows != m_header.height)
            throw Failure { "the picture ended before its last row" };
        if (m_sixteen)
            m_sixteen->finish();
        if (m_eight)
            m_eight->finish();
        if (m_header.redFirst && m_header.bitsPerSample == 8) {
            for (std::size_t i = 0; i + 3 < m_pixels.size(); i += 4)
                std::swap(m_pixels[i], m_pixels[i + 2]);
        }
        int width = m_target.width, height = m_target.height;
        std::vector<std::uint8_t> pixels = upright(
            std::move(m_pixels), width, height, m_header.bitsPerSample / 2, m_header.orientation);
        ImageCore::ScaledFrames out;
        out.width = std::uint32_t(width);
        out.height = std::uint32_t(height);
        out.bitsPerSample = std::uint8_t(m_header.bitsPerSample);
        out.alpha = m_header.alpha;
        out.kind = m_header.kind;
        out.lossy = m_header.lossy;
        out.compression = m_header.compression;
        out.sourceBits = std::uint8_t(m_header.sourceBits);
        out.hasCicp = m_header.hasCicp;
        out.cicp = m_header.cicp;
        out.iccProfile = std::move(m_header.iccProfile);
        out.frames.push_back({ 0, std::move(pixels) });
        return out;
    }

private:
    int m_percentage;
    Decoded m_header;
    ImageCore::Size m_target;
    std::size_t m_rowBytes = 0;
    std::vector<std::uint8_t> m_pixels;
    std::unique_ptr<ImageCore::AreaAverager<std::uint8_t>> m_eight;
    std::unique_ptr<ImageCore::AreaAverager<std::uint16_t>> m_sixteen;
    int m_rows = 0;
};

// Scales each composed frame of an animation as it comes, so that only the small ones are
// kept, refusing a count or size beyond the limits before memory is taken for it.
class ScalingSink : public Reader::FrameSink
{
public:
    ScalingSink(int percentage, ImageCore::ScaledFrames& out)
        : m_percentage(percentage)
        , m_out(out)
    {
    }

    void begin(const Decoded& header, std::uint32_t frames) override
    {
        m_header = header;
        m_canvas = std::int64_t(header.width) * header.height;
        m_target = Reader::targetSize(header, m_percentage);
        if (m_canvas > Limits::maxAnimationCanvasPixels)
            throw Failure { "the animation's canvas of " + std::to_string(header.width) + " x "
                + std::to_string(header.height) + " pixels is larger than "
                + std::to_string(Limits::maxAnimationCanvasPixels) + " pixels" };
        if (frames > 0)
            check(frames);
    }

    void add(const std::uint8_t* canvas, std::uint32_t delayMs) override
    {
        check(std::uint32_t(m_out.frames.size()) + 1);
        Decoded frame;
        frame.width = m_header.width;
        frame.height = m_header.height;
        int width = frame.width, height = frame.height;
        std::vector<std::uint8_t> pixels;
        if (m_target.width < width || m_target.height < height) {
            pixels = shrink<std::uint8_t>(canvas, frame, m_target);
            width = m_target.width;
            height = m_target.height;
        } else {
            pixels.assign(canvas, canvas + std::size_t(width) * height * 4);
        }
        if (m_header.orientation > 1)
            pixels = upright(std::move(pixels), width, height, 4, m_header.orientation);
        m_out.width = std::uint32_t(width);
        m_out.height = std::uint32_t(height);
        m_out.frames.push_back({ delayMs, std::move(pixels) });
    }

private:
    void check(std::uint32_t frames) const
    {
        if (frames > Limits::maxFrames)
            throw Failure { "the animation has more than " + std::to_string(Limits::maxFrames)
                + " frames" };
        if (frames * m_canvas > Limits::maxComposedPixels)
            throw Failure { "the animation's " + std::to_string(frames) + " frames of "
                + std::to_string(m_canvas) + " pixels are more than "
                + std::to_string(Limits::maxComposedPixels) + " pixels to compose" };
        if (frames * std::int64_t(m_target.width) * m_target.height > Limits::maxAnimationPixels)
            throw Failure { "the animation's " + std::to_string(frames) + " frames of "
                + std::to_string(m_target.width) + " x " + std::to_string(m_target.height)
                + " pixels are more than " + std::to_string(Limits::maxAnimationPixels)
                + " pixels" };
    }

    const int m_percentage;
    ImageCore::ScaledFrames& m_out;
    Decoded m_header;
    std::int64_t m_canvas = 0;
    ImageCore::Size m_target;
};

// A picture decoded whole, given to `sink` row by row.
void feed(const Decoded& d, Reader::RowSink& sink)
{
    sink.begin(d);
    const std::size_t rowBytes = std::size_t(d.width) * 4 * std::size_t(d.bitsPerSample / 8);
    for (int y = 0; y < d.height; ++y)
        sink.row(&d.pixels[std::size_t(y) * rowBytes]);
}

} // namespace

namespace Reader {

ImageCore::ScaledFrames readThumbnail(
    Files::UniqueFd input, std::size_t size, int percentage, const std::string& path)
{
    const std::vector<std::uint8_t> head
        = readAt(input.get(), std::min(size, Kinds::headBytes), path);
    // The name decides only between a TIFF and a camera raw file, which is TIFF inside.
    const std::size_t slash = path.find_last_of('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.find_last_of('.');
    const Kinds::Kind named
        = Kinds::fromExtension(dot == std::string::npos ? name : name.substr(dot + 1));
    Thumbnailer thumbnailer(percentage);
    ImageCore::ScaledFrames animation;
    ScalingSink frames(percentage, animation);
    Decoded d;
    try {
        switch (Kinds::readAs(named, Kinds::fromContent(head.data(), head.size()))) {
        case Kinds::Kind::WebP:
            d = decodeWebP(readAt(input.get(), size, path), frames, percentage);
            break;
        case Kinds::Kind::Tiff:
            // libtiff reads only what it needs: the file is not held whole.
            decodeTiff(std::move(input), thumbnailer);
            return thumbnailer.finish();
        case Kinds::Kind::Gif:
            d = decodeGif(readAt(input.get(), size, path), frames);
            break;
        case Kinds::Kind::Heif:
        case Kinds::Kind::Avif:
            decodeHeif(readAt(input.get(), size, path), percentage, thumbnailer);
            return thumbnailer.finish();
        case Kinds::Kind::Jxl:
            d = decodeJxl(readAt(input.get(), size, path), frames);
            break;
        case Kinds::Kind::Raw:
            if (std::int64_t(size) > Limits::maxRawFileSize)
                throw Failure { "the raw file is larger than "
                    + std::to_string(Limits::maxRawFileSize >> 20) + " MiB" };
            decodeRaw(input.get(), percentage, thumbnailer);
            return thumbnailer.finish();
        default:
            throw Failure { "not a picture of a kind this reader reads" };
        }
        if (!d.animated) {
            feed(d, thumbnailer);
            return thumbnailer.finish();
        }
    } catch (const Failure& failure) {
        throw ToolError(path, failure.reason);
    } catch (const ImageCore::LibraryError& error) {
        throw ToolError(path, error.what());
    }
    // Some frame may be transparent only after scaling, or none at all.
    animation.alpha = false;
    for (const ImageCore::ScaledFrames::Frame& frame : animation.frames) {
        for (std::size_t i = 3; i < frame.pixels.size() && !animation.alpha; i += 4)
            animation.alpha = frame.pixels[i] != 255;
    }
    animation.kind = d.kind;
    animation.lossy = d.lossy;
    animation.loopCount = d.loopCount;
    animation.iccProfile = std::move(d.iccProfile);
    animation.hasCicp = d.hasCicp;
    animation.cicp = d.cicp;
    return animation;
}

} // namespace Reader
