// SPDX-License-Identifier: MIT

// bmp2png -O <output.png> <input.bmp>
//
// Converts any BMP the project's reader takes to an 8-bit PNG: RGBA when some pixel is not
// opaque, RGB otherwise. Rows are converted one at a time; a BMP that carries alpha is read
// twice, first to learn whether any pixel is transparent.

#include "imaging/bmpcore/BmpRows.h"
#include "imaging/core/Limits.h"
#include "runtime/files/Fd.h"
#include "runtime/files/ReplacingFile.h"
#include "tools/common/ToolSupport.h"

#include <cerrno>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <png.h>
#include <string>
#include <vector>

using namespace ToolSupport;

namespace {

// zlib level 1 with the Up filter on every row: on a 819 x 614 photograph this took two
// thirds of the processor time of level 3 with libpng's adaptive choice among all
// filters, for a file 3 percent larger (levels 1 to 3 gave the same size there; the
// adaptive choice alone cost a third of the time).
constexpr int compressionLevel = 1;
constexpr int rowFilters = PNG_FILTER_UP;

// libpng's output, gathered into 64 KiB pieces for the descriptor (libpng writes each chunk
// in several small parts).
struct WriteState
{
    int fd;
    unsigned char* buffer;
    size_t used;
    char message[256];
};

constexpr size_t bufferSize = 1 << 16;

void onError(png_structp png, png_const_charp message)
{
    auto* state = static_cast<WriteState*>(png_get_error_ptr(png));
    std::snprintf(state->message, sizeof state->message, "%s", message);
    png_longjmp(png, 1);
}

void onWarning(png_structp, png_const_charp)
{
}

// Writes out what the buffer holds; 0 or the errno value.
int flushBuffer(WriteState* state)
{
    const int error = Files::writeFull(state->fd, state->buffer, state->used);
    state->used = 0;
    return error;
}

void flushData(png_structp png)
{
    auto* state = static_cast<WriteState*>(png_get_error_ptr(png));
    if (const int error = flushBuffer(state))
        png_error(png, std::strerror(error));
}

void writeData(png_structp png, png_bytep data, size_t length)
{
    auto* state = static_cast<WriteState*>(png_get_error_ptr(png));
    if (length > bufferSize - state->used) {
        flushData(png);
        if (length >= bufferSize) {
            if (const int error = Files::writeFull(state->fd, data, length))
                png_error(png, std::strerror(error));
            return;
        }
    }
    std::memcpy(state->buffer + state->used, data, length);
    state->used += length;
}

// The guarded steps: libpng leaves them by longjmp on error, so they hold no C++ object.

// The colour chunks that stand for `colour`: iCCP, sRGB, or gAMA and cHRM as far as known.
// libpng checks them and leaves out one it finds unsound.
void setColourChunks(png_structp png, png_infop info, const ImageCore::ColourSpace& colour)
{
    using Kind = ImageCore::ColourSpace::Kind;
    if (colour.kind == Kind::Embedded) {
        png_set_iCCP(png, info, "ICC profile", PNG_COMPRESSION_TYPE_BASE, colour.profile.data(),
            png_uint_32(colour.profile.size()));
    } else if (colour.kind == Kind::Srgb) {
        png_set_sRGB(png, info, ImageCore::intentToPng(colour.intent));
    } else if (colour.kind == Kind::Calibrated) {
        if (const auto gamma = ImageCore::gammaToPng(colour.gammas[0]))
            png_set_gAMA_fixed(png, info, png_fixed_point(*gamma));
        if (const auto c = ImageCore::endpointsToPng(colour.endpoints)) {
            const auto& v = c->values;
            png_set_cHRM_fixed(png, info, png_fixed_point(v[0]), png_fixed_point(v[1]),
                png_fixed_point(v[2]), png_fixed_point(v[3]), png_fixed_point(v[4]),
                png_fixed_point(v[5]), png_fixed_point(v[6]), png_fixed_point(v[7]));
        }
    }
}

bool writeHeader(png_structp png, png_infop info, png_uint_32 width, png_uint_32 height, bool alpha,
    const ImageCore::ColourSpace& colour)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_IHDR(png, info, width, height, 8, alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB,
        PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    setColourChunks(png, info, colour); // after the header, which the profile is checked against
    png_set_compression_level(png, compressionLevel);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, rowFilters);
    png_write_info(png, info);
    return true;
}

bool writeRow(png_structp png, png_const_bytep row)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_write_row(png, row);
    return true;
}

bool writeEnd(png_structp png, png_infop info)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_write_end(png, info);
    return true;
}

// Owns libpng's write structs for one output file.
class PngWriter
{
public:
    PngWriter(int fd, const std::string& name)
        : m_name(name)
        , m_buffer(bufferSize)
    {
        m_state.fd = fd;
        m_state.buffer = m_buffer.data();
        m_state.used = 0;
        m_state.message[0] = '\0';
        m_png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &m_state, onError, onWarning);
        m_info = m_png ? png_create_info_struct(m_png) : nullptr;
        if (!m_info)
            throw ToolError(name, "out of memory");
        png_set_write_fn(m_png, nullptr, writeData, flushData);
    }
    ~PngWriter() { png_destroy_write_struct(&m_png, &m_info); }
    PngWriter(const PngWriter&) = delete;
    PngWriter& operator=(const PngWriter&) = delete;

    void header(int width, int height, bool alpha, const ImageCore::ColourSpace& colour)
    {
        check(writeHeader(m_png, m_info, png_uint_32(width), png_uint_32(height), alpha, colour));
    }
    void row(const std::vector<png_byte>& bytes) { check(writeRow(m_png, bytes.data())); }
    // Writes the end and what the buffer still holds.
    void end()
    {
        check(writeEnd(m_png, m_info));
        if (const int error = flushBuffer(&m_state))
            throw toolError(m_name, error);
    }

private:
    void check(bool ok)
    {
        if (!ok)
            throw ToolError(m_name, m_state.message);
    }

    std::string m_name;
    std::vector<unsigned char> m_buffer;
    WriteState m_state;
    png_structp m_png = nullptr;
    png_infop m_info = nullptr;
};

std::unique_ptr<BmpCore::RowReader> openBmp(const std::string& name)
{
    try {
        auto reader = std::make_unique<BmpCore::RowReader>(name);
        const std::int64_t pixels = std::int64_t(reader->width()) * reader->height();
        if (pixels > Limits::maxPixels)
            throw ToolError(name,
                "picture too large: " + std::to_string(reader->width()) + " x "
                    + std::to_string(reader->height()) + " pixels");
        return reader;
    } catch (const BmpCore::Error& error) {
        throw toolError(name, error);
    }
}

// Reads every row once: true when some pixel is not fully opaque.
bool anyTransparent(BmpCore::RowReader& reader, const std::string& name)
{
    std::vector<std::uint32_t> row(static_cast<size_t>(reader.width()));
    try {
        for (int y = 0; y < reader.height(); ++y) {
            reader.readRow(row.data());
            for (std::uint32_t pixel : row)
                if ((pixel >> 24) != 255)
                    return true;
        }
    } catch (const BmpCore::Error& error) {
        throw toolError(name, error);
    }
    return false;
}

void convert(const Arguments& arguments)
{
    std::unique_ptr<BmpCore::RowReader> reader = openBmp(arguments.input);
    bool alpha = false;
    if (reader->hasAlpha()) {
        alpha = anyTransparent(*reader, arguments.input);
        reader = openBmp(arguments.input);
    }
    const int width = reader->width();
    const int height = reader->height();

    // Written beside the output (0644 less the umask) and renamed into place, so a failure
    // leaves no output.
    Files::ReplacingFile output;
    if (const int error = output.open(arguments.output, 0644))
        throw toolError(arguments.output, error);
    {
        PngWriter writer(output.fd(), arguments.output);
        writer.header(width, height, alpha, reader->header().colour);
        std::vector<std::uint32_t> row(static_cast<size_t>(width));
        std::vector<png_byte> bytes(size_t(width) * (alpha ? 4 : 3));
        for (int y = 0; y < height; ++y) {
            try {
                reader->readRow(row.data());
            } catch (const BmpCore::Error& error) {
                throw toolError(arguments.input, error);
            }
            png_byte* out = bytes.data();
            for (std::uint32_t pixel : row) {
                *out++ = png_byte(pixel >> 16);
                *out++ = png_byte(pixel >> 8);
                *out++ = png_byte(pixel);
                if (alpha)
                    *out++ = png_byte(pixel >> 24);
            }
            writer.row(bytes);
        }
        writer.end();
    }
    if (const int error = output.commit())
        throw toolError(arguments.output, error);
}

} // namespace

int main(int argc, char** argv)
{
    return runMain("bmp2png", "-O <output.png> <input.bmp>", argc, argv, convert);
}
