// SPDX-License-Identifier: MIT

// pictelle-read -p <percentage> -O <output> <input>
//
// Reads the first frame or page of a WebP, TIFF or GIF picture, or every frame of an animated
// GIF or WebP (the content decides which, whatever the name says), scales it to its thumbnail size
// at <percentage> with the area averaging every thumbnail gets, applies its orientation, and writes
// it with what the thumbnail must keep of the source (imaging/core/ScaledFrames.h) to <output>. The
// decoders are large C libraries: they run here, under limits of memory and processor time,
// so that a hostile file ends this process and not the run that started it.

#include "imaging/core/AreaScaling.h"
#include "imaging/core/Limits.h"
#include "imaging/core/ScaledFrames.h"
#include "runtime/files/Fd.h"
#include "runtime/files/ReplacingFile.h"
#include "tools/common/ToolSupport.h"
#include "tools/reader/Decoded.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace ToolSupport;

// AddressSanitizer reserves terabytes of address space for its shadow memory at start, so a
// sanitizer build cannot run under an address-space limit; it checks the allocations itself.
#if defined(__SANITIZE_ADDRESS__)
#define PICTELLE_READ_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PICTELLE_READ_SANITIZED 1
#endif
#endif

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

} // namespace Reader

namespace {

using Reader::Decoded;
using Reader::Failure;

// Limits and the parent's end, before any byte of the file is decoded.
void fenceOff(pid_t parent)
{
#ifndef PICTELLE_READ_SANITIZED
    const rlimit memory { Limits::readerAddressSpace, Limits::readerAddressSpace };
    setrlimit(RLIMIT_AS, &memory);
#endif
    // SIGXCPU at the limit, SIGKILL a second later should it be caught.
    const rlimit cpu { Limits::readerCpuSeconds, Limits::readerCpuSeconds + 1 };
    setrlimit(RLIMIT_CPU, &cpu);
    // A reader ended by a signal leaves no core file in the user's folder.
    const rlimit core { 0, 0 };
    setrlimit(RLIMIT_CORE, &core);
    alarm(Limits::readerWallSeconds);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    // The parent may have ended before the request above was made: nobody waits any more.
    if (getppid() != parent)
        _exit(1);
}

// The input, a regular file of at most Limits::maxFileSize bytes (a pipe or device would be
// waited on without end).
Files::UniqueFd openInput(const std::string& path, std::size_t& size)
{
    Files::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid())
        throw toolError(path, errno);
    struct stat st;
    if (fstat(fd.get(), &st) != 0)
        throw toolError(path, errno);
    if (!S_ISREG(st.st_mode))
        throw ToolError(path, "not a regular file");
    if (st.st_size > Limits::maxFileSize)
        throw ToolError(path, "the file is larger than any picture it could hold");
    size = std::size_t(st.st_size);
    return fd;
}

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
std::vector<std::uint8_t> upright(const std::vector<std::uint8_t>& in, int& width, int& height,
    int bytesPerPixel, int orientation)
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

// The thumbnail's size: the size rule applies to the upright picture; the stored one is
// scaled to its turned size and turned afterwards, so that only the thumbnail is turned.
ImageCore::Size targetSize(const Decoded& d, int percentage)
{
    const bool turned = d.orientation >= 5;
    const ImageCore::Size up
        = turned ? ImageCore::Size { d.height, d.width } : ImageCore::Size { d.width, d.height };
    const ImageCore::Size thumb
        = ImageCore::storedSize(ImageCore::thumbnailSize(up, ImageCore::scaleFactor(percentage)));
    return turned ? ImageCore::Size { thumb.height, thumb.width } : thumb;
}

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
        m_target = targetSize(header, m_percentage);
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
            pixels = upright(pixels, width, height, 4, m_header.orientation);
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

void write(const ImageCore::ScaledFrames& out, const std::string& path);

void convert(const Arguments& arguments, int percentage)
{
    std::size_t size = 0;
    Files::UniqueFd input = openInput(arguments.input, size);
    const std::vector<std::uint8_t> head
        = readAt(input.get(), std::min<std::size_t>(size, 12), arguments.input);
    Decoded d;
    ImageCore::ScaledFrames out;
    ScalingSink sink(percentage, out);
    try {
        switch (Kinds::fromContent(head.data(), head.size())) {
        case Kinds::Kind::WebP:
            d = Reader::decodeWebP(readAt(input.get(), size, arguments.input), sink);
            break;
        case Kinds::Kind::Tiff:
            // libtiff reads only what it needs: the file is not held whole.
            d = Reader::decodeTiff(std::move(input));
            break;
        case Kinds::Kind::Gif:
            d = Reader::decodeGif(readAt(input.get(), size, arguments.input), sink);
            break;
        default:
            throw Failure { "not a WebP, TIFF or GIF picture" };
        }
    } catch (const Failure& failure) {
        throw ToolError(arguments.input, failure.reason);
    }

    if (d.animated) {
        // Some frame may be transparent only after scaling, or none at all.
        out.alpha = false;
        for (const ImageCore::ScaledFrames::Frame& frame : out.frames) {
            for (std::size_t i = 3; i < frame.pixels.size() && !out.alpha; i += 4)
                out.alpha = frame.pixels[i] != 255;
        }
        out.kind = d.kind;
        out.lossy = d.lossy;
        out.loopCount = d.loopCount;
        out.iccProfile = std::move(d.iccProfile);
        write(out, arguments.output);
        return;
    }
    const ImageCore::Size target = targetSize(d, percentage);
    int width = d.width, height = d.height;
    std::vector<std::uint8_t> pixels;
    // Only a thumbnail smaller than its source is scaled here; the run scales any other
    // (the same size is a copy, and enlarging is not area averaging).
    if (target.width <= d.width && target.height <= d.height
        && !(target.width == d.width && target.height == d.height)) {
        pixels = d.bitsPerSample == 16 ? shrink<std::uint16_t>(d.pixels.data(), d, target)
                                       : shrink<std::uint8_t>(d.pixels.data(), d, target);
        width = target.width;
        height = target.height;
    } else {
        pixels = std::move(d.pixels);
    }
    pixels = upright(pixels, width, height, d.bitsPerSample / 2, d.orientation);

    out.width = std::uint32_t(width);
    out.height = std::uint32_t(height);
    out.bitsPerSample = std::uint8_t(d.bitsPerSample);
    out.alpha = d.alpha;
    out.kind = d.kind;
    out.lossy = d.lossy;
    out.compression = d.compression;
    out.iccProfile = std::move(d.iccProfile);
    out.frames.push_back({ 0, std::move(pixels) });
    write(out, arguments.output);
}

void write(const ImageCore::ScaledFrames& out, const std::string& path)
{
    const std::vector<std::uint8_t> encoded = ImageCore::encodeScaledFrames(out);

    Files::ReplacingFile file;
    if (int error = file.open(path, 0600))
        throw toolError(path, error);
    if (int error = Files::writeFull(file.fd(), encoded.data(), encoded.size()))
        throw toolError(path, error);
    if (int error = file.commit())
        throw toolError(path, error);
}

} // namespace

int main(int argc, char** argv)
{
    const pid_t parent = getppid();
    fenceOff(parent);
    static const char usage[] = "-p <percentage> -O <output> <input>";
    if (argc != 6 || std::strcmp(argv[1], "-p") != 0) {
        std::fprintf(stderr, "usage: pictelle-read %s\n", usage);
        return 2;
    }
    char* end = nullptr;
    const long percentage = std::strtol(argv[2], &end, 10);
    if (*end != '\0' || percentage < 1 || percentage > 100) {
        std::fprintf(stderr, "usage: pictelle-read %s\n", usage);
        return 2;
    }
    // The rest is a converter's command line, with the program's name in front.
    argv[2] = argv[0];
    return runMain("pictelle-read", usage, argc - 2, argv + 2,
        [percentage](const Arguments& arguments) { convert(arguments, int(percentage)); });
}
