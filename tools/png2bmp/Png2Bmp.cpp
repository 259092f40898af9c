// SPDX-License-Identifier: MIT

// png2bmp -O <output.bmp> <input.png>
//
// Converts any valid PNG (every colour type and bit depth, palette and tRNS transparency,
// 16-bit, interlaced) to an uncompressed BMP: 32-bit with alpha when the PNG carries an
// alpha channel or a tRNS chunk, 24-bit otherwise. 16-bit samples are rounded to 8 bits.
// Non-interlaced pictures are converted one row at a time.

#include "imaging/bmpcore/BmpRows.h"
#include "imaging/core/Limits.h"
#include "runtime/files/Fd.h"
#include "tools/common/ToolSupport.h"
#include "tools/png2bmp/FastPng.h"
#include "tools/png2bmp/PngColour.h"

#include <bit>
#include <cerrno>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <png.h>
#include <string>
#include <sys/stat.h>
#include <vector>

using namespace ToolSupport;

namespace {

struct ReadState
{
    FILE* file;
    char message[256]; // libpng's message of the failure
};

void onError(png_structp png, png_const_charp message)
{
    auto* state = static_cast<ReadState*>(png_get_error_ptr(png));
    std::snprintf(state->message, sizeof state->message, "%s", message);
    png_longjmp(png, 1);
}

void onWarning(png_structp, png_const_charp)
{
}

void readData(png_structp png, png_bytep data, size_t length)
{
    auto* state = static_cast<ReadState*>(png_get_error_ptr(png));
    if (std::fread(data, 1, length, state->file) != length)
        png_error(png, std::ferror(state->file) ? std::strerror(errno) : "file ends early");
}

struct Header
{
    png_uint_32 width;
    png_uint_32 height;
    bool alpha;
    int passes;
    ImageCore::ColourSpace colour;
};

// The guarded steps: libpng leaves them by longjmp on error, so they hold no C++ object.
// Each returns false with the reason in the state's message.

bool readHeader(png_structp png, png_infop info, Header* header)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    // The pixel limit below decides; libpng's own default stops at a million per side.
    png_set_user_limits(png, 0x7fffffff, 0x7fffffff);
    png_read_info(png, info);
    const int colorType = png_get_color_type(png, info);
    header->width = png_get_image_width(png, info);
    header->height = png_get_image_height(png, info);
    header->alpha = (colorType & PNG_COLOR_MASK_ALPHA) || png_get_valid(png, info, PNG_INFO_tRNS);
    return true;
}

// Sets libpng up for the rows, which allocates a row: only after the size has been checked.
bool prepareRows(png_structp png, png_infop info, Header* header)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    // Everything becomes 8-bit 0xAARRGGBB in memory order, the Bmp rows' own layout.
    png_set_expand(png); // palette to RGB, grey below 8 bits to 8, tRNS to alpha
    png_set_scale_16(png); // rounds, where png_set_strip_16 would cut
    png_set_gray_to_rgb(png);
    if constexpr (std::endian::native == std::endian::little) {
        png_set_bgr(png);
        if (!header->alpha)
            png_set_filler(png, 0xff, PNG_FILLER_AFTER);
    } else {
        png_set_swap_alpha(png);
        if (!header->alpha)
            png_set_filler(png, 0xff, PNG_FILLER_BEFORE);
    }
    header->passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != size_t(header->width) * 4)
        png_error(png, "unsupported pixel layout");
    return true;
}

bool readRow(png_structp png, std::uint32_t* row)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_read_row(png, reinterpret_cast<png_bytep>(row), nullptr);
    return true;
}

bool readEnd(png_structp png)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_read_end(png, nullptr);
    return true;
}

// The colour chunks libpng has read and judged sound.
ImageCore::ColourSpace colourOf(png_structp png, png_infop info)
{
    PngColour colour;
    png_charp name = nullptr;
    int compression = 0;
    png_bytep profile = nullptr;
    png_uint_32 length = 0;
    if (png_get_iCCP(png, info, &name, &compression, &profile, &length) && profile)
        colour.profile(std::vector<std::uint8_t>(profile, profile + length));
    int intent = 0;
    if (png_get_sRGB(png, info, &intent))
        colour.srgb(intent);
    png_fixed_point gamma = 0;
    if (png_get_gAMA_fixed(png, info, &gamma) && gamma > 0)
        colour.gamma(std::uint32_t(gamma));
    png_fixed_point c[8] = {};
    if (png_get_cHRM_fixed(png, info, &c[0], &c[1], &c[2], &c[3], &c[4], &c[5], &c[6], &c[7])) {
        ImageCore::PngChromaticities values;
        bool valid = true;
        for (size_t i = 0; i < 8; ++i) {
            valid = valid && c[i] >= 0;
            values.values[i] = std::uint32_t(c[i]);
        }
        if (valid)
            colour.chromaticities(values);
    }
    return colour.colourSpace();
}

// Owns libpng's read structs for one input file.
class PngReader
{
public:
    PngReader(FILE* file, const std::string& name)
        : m_name(name)
    {
        m_state.file = file;
        m_state.message[0] = '\0';
        m_png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &m_state, onError, onWarning);
        m_info = m_png ? png_create_info_struct(m_png) : nullptr;
        if (!m_info)
            throw ToolError(name, "out of memory");
        png_set_read_fn(m_png, nullptr, readData);
        png_set_sig_bytes(m_png, 8); // checked by the caller
    }
    ~PngReader() { png_destroy_read_struct(&m_png, &m_info, nullptr); }
    PngReader(const PngReader&) = delete;
    PngReader& operator=(const PngReader&) = delete;

    Header header()
    {
        Header header {};
        check(readHeader(m_png, m_info, &header));
        header.colour = colourOf(m_png, m_info);
        return header;
    }
    void prepare(Header& header) { check(prepareRows(m_png, m_info, &header)); }
    void row(std::uint32_t* out) { check(readRow(m_png, out)); }
    void end() { check(readEnd(m_png)); }

private:
    void check(bool ok)
    {
        if (!ok)
            throw ToolError(m_name, m_state.message);
    }

    std::string m_name;
    ReadState m_state;
    png_structp m_png = nullptr;
    png_infop m_info = nullptr;
};

// Refuses a picture beyond the pixel limit, or one declaring more pixels than its file can
// hold, before anything is allocated.
void checkSize(FILE* input, const std::string& name, std::uint32_t width, std::uint32_t height)
{
    // Unsigned: two sides of up to 2^32 - 1 overflow a signed product.
    const std::uint64_t product = std::uint64_t(width) * height;
    if (width > 0x7fffffff || height > 0x7fffffff || product > std::uint64_t(Limits::maxPixels))
        throw ToolError(name,
            "picture too large: " + std::to_string(width) + " x " + std::to_string(height)
                + " pixels");
    const auto pixels = std::int64_t(product);
    struct stat st;
    if (::fstat(::fileno(input), &st) == 0 && S_ISREG(st.st_mode)
        && !Limits::plausiblePngSize(pixels, std::int64_t(st.st_size)))
        throw ToolError(name,
            "file too small for " + std::to_string(width) + " x " + std::to_string(height)
                + " pixels");
}

// Writes the BMP, filled row by row by `fill`: BmpCore::RowWriter writes it beside the output
// and renames it into place, so a failure leaves no output.
void writeBmp(const Arguments& arguments, int width, int height, bool alpha,
    const ImageCore::ColourSpace& colour, const std::function<void(BmpCore::RowWriter&)>& fill)
{
    try {
        BmpCore::RowWriter writer(arguments.output, width, height, alpha, colour);
        fill(writer);
        writer.finish();
    } catch (const BmpCore::Error& error) {
        // imaging words a system error as the system does, except ENOENT, which reads as the
        // forms runtime worded it; the converter says what the system says.
        if (error.kind() == BmpCore::Error::File)
            throw toolError(arguments.output, error.errnoValue());
        throw toolError(arguments.output, error);
    }
}

void convert(const Arguments& arguments)
{
    const Files::Stream input(std::fopen(arguments.input.c_str(), "rb"));
    if (!input)
        throw toolError(arguments.input, errno);
    png_byte signature[8] = {};
    const size_t signatureSize = std::fread(signature, 1, sizeof signature, input.get());
    if (signatureSize != sizeof signature || png_sig_cmp(signature, 0, sizeof signature) != 0)
        throw ToolError(
            arguments.input, std::ferror(input.get()) ? std::strerror(errno) : "not a PNG file");

    // The direct decoder looks ahead and comes back, which only a regular file allows.
    struct stat st;
    const bool seekable = ::fstat(::fileno(input.get()), &st) == 0 && S_ISREG(st.st_mode);
    if (const auto plan
        = seekable ? FastPng::examine(input.get(), arguments.input) : std::nullopt) {
        checkSize(input.get(), arguments.input, plan->width, plan->height);
        writeBmp(arguments, int(plan->width), int(plan->height), plan->alpha, plan->colour,
            [&](BmpCore::RowWriter& writer) {
                FastPng::decode(input.get(), arguments.input, *plan, writer);
            });
        return;
    }

    PngReader reader(input.get(), arguments.input);
    Header header = reader.header();
    checkSize(input.get(), arguments.input, header.width, header.height);
    reader.prepare(header);
    const int width = int(header.width);
    const int height = int(header.height);
    writeBmp(
        arguments, width, height, header.alpha, header.colour, [&](BmpCore::RowWriter& writer) {
            if (header.passes == 1) {
                std::vector<std::uint32_t> row(static_cast<size_t>(width));
                for (int y = 0; y < height; ++y) {
                    reader.row(row.data());
                    writer.writeRow(row.data());
                }
            } else {
                // Later passes fill in the rows of the earlier ones, so the picture is held whole.
                std::vector<std::uint32_t> picture(static_cast<size_t>(width) * size_t(height));
                for (int pass = 0; pass < header.passes; ++pass)
                    for (int y = 0; y < height; ++y)
                        reader.row(picture.data() + size_t(y) * width);
                for (int y = 0; y < height; ++y)
                    writer.writeRow(picture.data() + size_t(y) * width);
            }
            reader.end();
        });
}

} // namespace

int main(int argc, char** argv)
{
    return runMain("png2bmp", "-O <output.bmp> <input.png>", argc, argv, convert);
}
