// SPDX-License-Identifier: MIT

#include "imaging/core/AreaScaling.h"
#include "imaging/core/Limits.h"
#include "tools/reader/Decoded.h"

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <libraw/libraw.h>
#include <memory>
#include <string>

// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>

namespace Reader {
namespace {

// LibRaw's flip (bit 1 mirror left-right, 2 top-bottom, 4 transpose) as the EXIF value.
int orientationOfFlip(int flip)
{
    static const int exif[8] = { 1, 2, 4, 3, 5, 8, 6, 7 };
    return exif[flip & 7];
}

bool turned(int orientation)
{
    return orientation >= 5;
}

ImageCore::Size upright(ImageCore::Size stored, int orientation)
{
    return turned(orientation) ? ImageCore::Size { stored.height, stored.width } : stored;
}

// The embedded preview, decoded by libjpeg under setjmp: nothing here may need a destructor
// between the jump and its target.
struct JpegError
{
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

[[noreturn]] void jumpOnError(j_common_ptr cinfo)
{
    std::longjmp(reinterpret_cast<JpegError*>(cinfo->err)->jump, 1);
}

void ignoreMessage(j_common_ptr, int)
{
}

class Preview
{
public:
    Preview(const unsigned char* bytes, std::size_t size)
    {
        m_cinfo.err = jpeg_std_error(&m_error.base);
        m_error.base.error_exit = jumpOnError;
        m_error.base.emit_message = ignoreMessage;
        jpeg_create_decompress(&m_cinfo);
        m_created = true;
        if (setjmp(m_error.jump))
            return;
        jpeg_mem_src(&m_cinfo, bytes, static_cast<unsigned long>(size));
        jpeg_save_markers(&m_cinfo, JPEG_APP0 + 1, 0xffff);
        if (jpeg_read_header(&m_cinfo, TRUE) != JPEG_HEADER_OK)
            return;
        const J_COLOR_SPACE space = m_cinfo.jpeg_color_space;
        if (space != JCS_YCbCr && space != JCS_RGB && space != JCS_GRAYSCALE)
            return;
        for (jpeg_saved_marker_ptr m = m_cinfo.marker_list; m; m = m->next) {
            if (m->marker == JPEG_APP0 + 1 && m->data_length > 6
                && std::memcmp(m->data, "Exif\0\0", 6) == 0)
                m_orientation = exifOrientation(m->data, m->data_length);
        }
        m_width = int(m_cinfo.image_width);
        m_height = int(m_cinfo.image_height);
    }
    ~Preview()
    {
        if (m_created)
            jpeg_destroy_decompress(&m_cinfo);
    }
    Preview(const Preview&) = delete;
    Preview& operator=(const Preview&) = delete;

    // Width and height as stored; 0 when the header cannot be read or its colours are not
    // RGB or grey.
    int width() const { return m_width; }
    int height() const { return m_height; }
    // Its own EXIF orientation, 0 when it says none.
    int orientation() const { return m_orientation; }

    // Decodes at the smallest scale whose stored size covers `atLeast` (stored orientation),
    // into B, G, R, A rows of `pixels`; false when the data is damaged.
    bool decode(ImageCore::Size atLeast, std::vector<std::uint8_t>& pixels, int& width, int& height)
    {
        if (setjmp(m_error.jump))
            return false;
        m_cinfo.out_color_space = JCS_EXT_BGRA;
        m_cinfo.scale_denom = 8;
        for (unsigned num = 1; num <= 8; ++num) {
            m_cinfo.scale_num = num;
            jpeg_calc_output_dimensions(&m_cinfo);
            if (int(m_cinfo.output_width) >= atLeast.width
                && int(m_cinfo.output_height) >= atLeast.height)
                break;
        }
        jpeg_start_decompress(&m_cinfo);
        width = int(m_cinfo.output_width);
        height = int(m_cinfo.output_height);
        pixels.resize(std::size_t(width) * height * 4);
        while (m_cinfo.output_scanline < m_cinfo.output_height) {
            JSAMPROW row = &pixels[std::size_t(m_cinfo.output_scanline) * width * 4];
            jpeg_read_scanlines(&m_cinfo, &row, 1);
        }
        jpeg_finish_decompress(&m_cinfo);
        return true;
    }

private:
    jpeg_decompress_struct m_cinfo {};
    JpegError m_error {};
    bool m_created = false;
    int m_width = 0;
    int m_height = 0;
    int m_orientation = 0;
};

struct ImageDeleter
{
    void operator()(libraw_processed_image_t* image) const { LibRaw::dcraw_clear_mem(image); }
};

[[noreturn]] void fail(const std::string& what, int code)
{
    throw Failure { what + " (" + libraw_strerror(code) + ")" };
}

// Whether the preview's aspect is the visible picture's within 1 %, both upright.
bool sameAspect(ImageCore::Size preview, ImageCore::Size visible)
{
    const double a = double(preview.width) / preview.height;
    const double b = double(visible.width) / visible.height;
    return std::abs(a - b) <= 0.01 * b;
}

// LibRaw says on stderr where data ended or was wrong; the reason goes into the one line of
// the failure instead.
void noteDataError(void* data, const char*, const int offset)
{
    *static_cast<bool*>(data) = true;
    (void)offset;
}

} // namespace

Decoded decodeRaw(int fd, int percentage, RowSink& sink)
{
    // LibRaw's object holds several hundred KiB of tables: not on the stack.
    auto raw = std::make_unique<LibRaw>();
    raw->imgdata.params.max_raw_memory_mb = Limits::rawMemoryMegabytes;
    bool damaged = false;
    raw->set_dataerror_handler(noteDataError, &damaged);
    // LibRaw reads the file as it needs it, through the descriptor already opened and checked:
    // a preview is found without reading the raw data.
    const std::string name = "/proc/self/fd/" + std::to_string(fd);
    int code = raw->open_file(name.c_str());
    if (code == LIBRAW_FILE_UNSUPPORTED) {
        const std::string camera
            = std::string(raw->imgdata.idata.make) + " " + raw->imgdata.idata.model;
        throw Failure { "the camera" + (camera.size() > 1 ? " " + camera : std::string())
            + " is not supported by LibRaw " + LibRaw::version()
            + " (a camera newer than it, or not a camera raw file)" };
    }
    if (code != LIBRAW_SUCCESS)
        fail("the raw file cannot be opened", code);
    const libraw_image_sizes_t& sizes = raw->imgdata.sizes;
    checkPixels(sizes.raw_width, sizes.raw_height, "raw picture");
    if (sizes.width < 1 || sizes.height < 1)
        throw Failure { "the raw file shows no picture" };

    // The visible picture as LibRaw develops it: stretched to square pixels, then turned.
    ImageCore::Size stored { sizes.width, sizes.height };
    if (sizes.pixel_aspect < 0.995)
        stored.height = int(std::lround(sizes.height / sizes.pixel_aspect));
    else if (sizes.pixel_aspect > 1.005)
        stored.width = int(std::lround(sizes.width * sizes.pixel_aspect));
    const int rawOrientation = orientationOfFlip(sizes.flip);
    const ImageCore::Size visible = upright(stored, rawOrientation);
    const ImageCore::Size target = ImageCore::storedSize(
        ImageCore::thumbnailSize(visible, ImageCore::scaleFactor(percentage)));

    Decoded d;
    d.kind = Kinds::Kind::Raw;
    d.lossy = false;

    // The camera's own JPEG preview, when it holds the thumbnail: far faster than developing.
    if (raw->unpack_thumb() == LIBRAW_SUCCESS
        && raw->imgdata.thumbnail.tformat == LIBRAW_THUMBNAIL_JPEG
        && raw->imgdata.thumbnail.tlength > 0) {
        Preview preview(reinterpret_cast<unsigned char*>(raw->imgdata.thumbnail.thumb),
            raw->imgdata.thumbnail.tlength);
        // A preview that says how it lies is turned as it says; one that does not lies as the
        // sensor does.
        const int orientation = preview.orientation() > 1 ? preview.orientation() : rawOrientation;
        const ImageCore::Size shown = upright({ preview.width(), preview.height() }, orientation);
        // A preview must also be one a real file could hold: a hostile one of 65535 x 65535
        // pixels in a few bytes would take gigabytes even at an eighth of its size.
        if (preview.width() > 0 && shown.width >= target.width && shown.height >= target.height
            && sameAspect(shown, visible)
            && Limits::plausibleSize(
                std::int64_t(preview.width()) * preview.height(), raw->imgdata.thumbnail.tlength)) {
            const ImageCore::Size need = upright(target, orientation);
            if (preview.decode(need, d.pixels, d.width, d.height)) {
                d.orientation = orientation;
                d.sizedAs = visible;
                sink.begin(d);
                for (int y = 0; y < d.height; ++y)
                    sink.row(&d.pixels[std::size_t(y) * d.width * 4]);
                d.pixels = {};
                return d;
            }
        }
    }

    // Developed as a viewer of raw files shows it: the camera's white balance, sRGB, 8 bits,
    // turned upright; at half size (each 2 x 2 block of the sensor one pixel, no
    // interpolation) when that still covers the thumbnail.
    libraw_output_params_t& params = raw->imgdata.params;
    const bool half = target.width <= visible.width / 2 && target.height <= visible.height / 2;
    params.half_size = half ? 1 : 0;
    params.use_camera_wb = 1;
    params.output_color = 1;
    params.output_bps = 8;
    params.user_qual = 2; // PPG: near AHD's look at a fraction of its time
    if ((code = raw->unpack()) != LIBRAW_SUCCESS)
        fail(
            damaged ? "the raw data is cut short or damaged" : "the raw data cannot be read", code);
    if ((code = raw->dcraw_process()) != LIBRAW_SUCCESS)
        fail("the raw data cannot be developed", code);
    std::unique_ptr<libraw_processed_image_t, ImageDeleter> image(raw->dcraw_make_mem_image(&code));
    if (!image)
        fail("the developed picture cannot be made", code);
    if (image->type != LIBRAW_IMAGE_BITMAP || image->bits != 8
        || (image->colors != 3 && image->colors != 1))
        throw Failure { "the developed picture is not 8-bit RGB" };
    d.width = image->width;
    d.height = image->height;
    // The size rule takes the whole visible picture, also when it was developed at half size
    // (unless LibRaw's geometry differs from the one computed above, as for a rotated sensor).
    ImageCore::Size rule { d.width, d.height };
    if (half && d.width >= target.width && d.height >= target.height)
        rule = visible;
    d.sizedAs = rule;
    raw.reset(); // its buffers are no longer needed
    sink.begin(d);
    std::vector<std::uint8_t> row(std::size_t(d.width) * 4);
    const int colours = image->colors;
    for (int y = 0; y < d.height; ++y) {
        const std::uint8_t* in = image->data + std::size_t(y) * d.width * colours;
        for (int x = 0; x < d.width; ++x, in += colours) {
            std::uint8_t* out = &row[std::size_t(x) * 4];
            out[0] = in[colours == 3 ? 2 : 0];
            out[1] = in[colours == 3 ? 1 : 0];
            out[2] = in[0];
            out[3] = 255;
        }
        sink.row(row.data());
    }
    return d;
}

} // namespace Reader
