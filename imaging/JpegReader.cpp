// SPDX-License-Identifier: MIT

#include "imaging/JpegReader.h"

#include "imaging/FileBytes.h"
#include "imaging/core/Limits.h"
#include "runtime/AppError.h"

#include <QTransform>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

// jpeglib.h needs size_t and FILE declared before it.
#include <jerror.h>
#include <jpeglib.h>
#include <lcms2.h>

namespace {

struct ErrorJump
{
    jpeg_error_mgr base;
    std::jmp_buf jump;
    bool nothingDecodable = false;
    bool tooManyScans = false;
};

[[noreturn]] void jumpOnError(j_common_ptr cinfo)
{
    std::longjmp(reinterpret_cast<ErrorJump*>(cinfo->err)->jump, 1);
}

void limitScans(j_common_ptr cinfo)
{
    if (cinfo->is_decompressor
        && reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > Limits::maxJpegScans) {
        reinterpret_cast<ErrorJump*>(cinfo->err)->tooManyScans = true;
        jumpOnError(cinfo);
    }
}

// Warnings are tolerated (a damaged stretch decodes as grey), except that the data ends
// before the first row of blocks of the first scan is complete: nothing of the picture
// would be visible.
void onMessage(j_common_ptr cinfo, int level)
{
    if (level != -1)
        return;
    auto* err = reinterpret_cast<ErrorJump*>(cinfo->err);
    ++err->base.num_warnings;
    if (err->base.msg_code != JWRN_JPEG_EOF)
        return;
    auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (d->input_scan_number <= 1 && d->input_iMCU_row == 0) {
        err->nothingDecodable = true;
        std::longjmp(err->jump, 1);
    }
}

// Owns the decompress struct; the phases below run libjpeg under setjmp and hold no C++
// objects with destructors, so a longjmp out of libjpeg skips nothing.
struct Decoder
{
    jpeg_decompress_struct cinfo {};
    ErrorJump err {};
    jpeg_progress_mgr progress {};
    bool created = false;

    Decoder() = default;
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;
    ~Decoder()
    {
        if (created)
            jpeg_destroy_decompress(&cinfo);
    }
};

// Why libjpeg gave up on a file of `size` bytes, in its own words, except that a file which
// ends before anything of the picture says where it ends (an interrupted copy, mostly).
QString failure(Decoder& d, qsizetype size)
{
    if (d.err.nothingDecodable || d.err.base.msg_code == JERR_INPUT_EOF)
        return QStringLiteral("ends early at byte %1").arg(size);
    if (d.err.tooManyScans)
        return QStringLiteral("more than %1 scans").arg(Limits::maxJpegScans);
    char text[JMSG_LENGTH_MAX] = {};
    d.err.base.format_message(reinterpret_cast<j_common_ptr>(&d.cinfo), text);
    return QString::fromLatin1(text);
}

bool readHeader(Decoder& d, const unsigned char* data, unsigned long size)
{
    d.cinfo.err = jpeg_std_error(&d.err.base);
    d.err.base.error_exit = jumpOnError;
    d.err.base.emit_message = onMessage;
    if (setjmp(d.err.jump))
        return false;
    jpeg_create_decompress(&d.cinfo);
    d.created = true;
    d.progress.progress_monitor = limitScans; // after the create, which clears the struct
    d.cinfo.progress = &d.progress;
    jpeg_mem_src(&d.cinfo, data, size);
    jpeg_save_markers(&d.cinfo, JPEG_APP0 + 1, 0xFFFF);
    jpeg_save_markers(&d.cinfo, JPEG_APP0 + 2, 0xFFFF);
    jpeg_read_header(&d.cinfo, TRUE);
    return true;
}

bool setOutput(Decoder& d, J_COLOR_SPACE space, unsigned int scaleNum)
{
    if (setjmp(d.err.jump))
        return false;
    d.cinfo.out_color_space = space;
    d.cinfo.scale_num = scaleNum;
    d.cinfo.scale_denom = 8;
    jpeg_calc_output_dimensions(&d.cinfo);
    return true;
}

// 255 * 255 products scaled back to 0..255, rounded.
inline unsigned char mul255(unsigned int a, unsigned int b)
{
    const unsigned int t = a * b + 128;
    return static_cast<unsigned char>((t + (t >> 8)) >> 8);
}

// C, M, Y, K bytes become B, G, R, 255 in place. Adobe files store the inks inverted, so
// there a stored value is already the amount of light.
void naiveCmykToRgb(unsigned char* row, JDIMENSION width, bool inverted)
{
    for (JDIMENSION x = 0; x < width; ++x) {
        unsigned char* p = row + 4 * x;
        unsigned int c = p[0], m = p[1], y = p[2], k = p[3];
        if (!inverted) {
            c = 255 - c;
            m = 255 - m;
            y = 255 - y;
            k = 255 - k;
        }
        p[0] = mul255(y, k);
        p[1] = mul255(m, k);
        p[2] = mul255(c, k);
        p[3] = 255;
    }
}

struct RowJob
{
    unsigned char* bits;
    qsizetype bytesPerLine;
    bool cmyk;
    bool inverted;
    cmsHTRANSFORM transform; // CMYK through the file's profile to sRGB, or null
    unsigned char* inks; // one row of CMYK for the transform
};

bool decodeRows(Decoder& d, const RowJob& job)
{
    if (setjmp(d.err.jump))
        return false;
    jpeg_start_decompress(&d.cinfo);
    const JDIMENSION width = d.cinfo.output_width;
    while (d.cinfo.output_scanline < d.cinfo.output_height) {
        unsigned char* row = job.bits + job.bytesPerLine * qsizetype(d.cinfo.output_scanline);
        unsigned char* into = job.transform ? job.inks : row;
        if (jpeg_read_scanlines(&d.cinfo, &into, 1) != 1)
            break;
        if (!job.cmyk)
            continue;
        if (!job.transform) {
            naiveCmykToRgb(row, width, job.inverted);
            continue;
        }
        cmsDoTransform(job.transform, job.inks, row, width);
        for (JDIMENSION x = 0; x < width; ++x)
            row[4 * x + 3] = 255;
    }
    jpeg_finish_decompress(&d.cinfo);
    return true;
}

// The length of a file cut short, without a marker segment that the cut left incomplete:
// libjpeg then meets the end at a segment boundary and keeps the scans it has, where a
// half table between two progressive scans would be a fatal error.
qsizetype completeLength(const unsigned char* p, qsizetype n)
{
    if (n >= 4 && p[n - 2] == 0xFF && p[n - 1] == 0xD9)
        return n;
    qsizetype pos = 2; // after the start marker
    while (pos + 4 <= n) {
        if (p[pos] != 0xFF)
            return n; // not where a marker should be: leave the damage to libjpeg
        const unsigned char marker = p[pos + 1];
        if (marker == 0xFF) { // fill byte
            ++pos;
            continue;
        }
        if (marker == 0xD9)
            return n;
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            pos += 2;
            continue;
        }
        const qsizetype end = pos + 2 + ((p[pos + 2] << 8) | p[pos + 3]);
        if (end > n)
            return pos;
        pos = end;
        if (marker != 0xDA)
            continue;
        // Entropy-coded data runs to the next marker other than a stuffed zero or a restart.
        for (;;) {
            const void* ff = std::memchr(p + pos, 0xFF, size_t(n - pos));
            if (!ff)
                return n;
            pos = static_cast<const unsigned char*>(ff) - p;
            if (pos + 1 >= n)
                return n;
            const unsigned char next = p[pos + 1];
            if (next == 0x00 || (next >= 0xD0 && next <= 0xD7) || next == 0xFF) {
                pos += next == 0xFF ? 1 : 2;
                continue;
            }
            break;
        }
    }
    return pos; // a marker cut within its first four bytes
}

std::uint32_t profileDataSpaceOf(const std::vector<std::uint8_t>& profile)
{
    return ImageCore::profileDataSpace(profile.data(), profile.size());
}

// The EXIF orientation (1..8) of an APP1 payload; 1 when there is none or it is damaged.
int exifOrientation(const unsigned char* p, unsigned int n)
{
    if (n < 14 || std::memcmp(p, "Exif\0\0", 6) != 0)
        return 1;
    const unsigned char* t = p + 6;
    const quint64 len = n - 6;
    bool big;
    if (t[0] == 'I' && t[1] == 'I')
        big = false;
    else if (t[0] == 'M' && t[1] == 'M')
        big = true;
    else
        return 1;
    auto rd16 = [&](quint64 o) -> unsigned int {
        return big ? (t[o] << 8) | t[o + 1] : t[o] | (t[o + 1] << 8);
    };
    auto rd32 = [&](quint64 o) -> quint64 {
        return big ? (quint64(rd16(o)) << 16) | rd16(o + 2)
                   : rd16(o) | (quint64(rd16(o + 2)) << 16);
    };
    if (rd16(2) != 42)
        return 1;
    const quint64 ifd = rd32(4);
    if (ifd + 2 > len)
        return 1;
    const unsigned int count = rd16(ifd);
    for (unsigned int i = 0; i < count; ++i) {
        const quint64 e = ifd + 2 + 12 * quint64(i);
        if (e + 12 > len)
            break;
        if (rd16(e) == 0x0112 && rd16(e + 2) == 3) {
            const unsigned int v = rd16(e + 8);
            return v >= 1 && v <= 8 ? int(v) : 1;
        }
    }
    return 1;
}

int orientationOf(const jpeg_decompress_struct& cinfo)
{
    for (jpeg_saved_marker_ptr m = cinfo.marker_list; m; m = m->next) {
        if (m->marker == JPEG_APP0 + 1 && m->data_length >= 6
            && std::memcmp(m->data, "Exif\0\0", 6) == 0)
            return exifOrientation(m->data, m->data_length);
    }
    return 1;
}

// The ICC profile of APP2 segments "ICC_PROFILE\0", sequence number, count: numbered 1 to
// count, in that order, with one count; anything else is a damaged profile and gives none.
std::vector<std::uint8_t> iccProfileOf(const jpeg_decompress_struct& cinfo)
{
    constexpr unsigned int headerSize = 14;
    std::vector<std::uint8_t> profile;
    int next = 1;
    int count = 0;
    for (jpeg_saved_marker_ptr m = cinfo.marker_list; m; m = m->next) {
        if (m->marker != JPEG_APP0 + 2 || m->data_length < headerSize
            || std::memcmp(m->data, "ICC_PROFILE\0", 12) != 0)
            continue;
        if (next == 1)
            count = m->data[13];
        if (m->data[12] != next || m->data[13] != count
            || profile.size() + (m->data_length - headerSize) > Limits::maxProfileSize)
            return {};
        profile.insert(profile.end(), m->data + headerSize, m->data + m->data_length);
        ++next;
    }
    if (next != count + 1 || profileDataSpaceOf(profile) == 0)
        return {};
    return profile;
}

// Turns the decoded picture upright as its EXIF orientation says.
QImage upright(const QImage& image, int orientation)
{
    switch (orientation) {
    case 2:
        return image.mirrored(true, false);
    case 3:
        return image.mirrored(true, true);
    case 4:
        return image.mirrored(false, true);
    case 5:
        return image.transformed(QTransform().rotate(90)).mirrored(true, false);
    case 6:
        return image.transformed(QTransform().rotate(90));
    case 7:
        return image.transformed(QTransform().rotate(90)).mirrored(false, true);
    case 8:
        return image.transformed(QTransform().rotate(270));
    default:
        return image;
    }
}

// Reads the header of the JPEG in `bytes` into `d` and checks the picture's size.
void openJpeg(Decoder& d, const QByteArray& bytes, const QString& path)
{
    if (bytes.size() < 3 || uchar(bytes[0]) != 0xFF || uchar(bytes[1]) != 0xD8)
        throwInvalidPicture(path,
            bytes.size() >= 2 && uchar(bytes[0]) == 0xFF && uchar(bytes[1]) == 0xD8
                ? QStringLiteral("ends early at byte %1").arg(bytes.size())
                : QStringLiteral("not a JPEG file"));
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.constData());
    const qsizetype length = completeLength(data, bytes.size());
    if (!readHeader(d, data, static_cast<unsigned long>(length))) {
        if (d.err.base.msg_code == JERR_OUT_OF_MEMORY && !d.err.nothingDecodable)
            throwOutOfMemory(path);
        throwInvalidPicture(path, failure(d, bytes.size()));
    }
    const qint64 pixels = qint64(d.cinfo.image_width) * d.cinfo.image_height;
    const QString size
        = QStringLiteral("%1 x %2 pixels").arg(d.cinfo.image_width).arg(d.cinfo.image_height);
    if (pixels > Limits::maxPixels)
        throwOutOfMemory(path,
            QStringLiteral("%1, more than the %2 a picture may have")
                .arg(size)
                .arg(Limits::maxPixels));
    if (!Limits::plausibleSize(pixels, bytes.size()))
        throwInvalidPicture(
            path, QStringLiteral("%1 in only %2 bytes").arg(size).arg(bytes.size()));
}

// The numerator of the smallest of 1/8, 2/8, 4/8, 8/8 whose (rounded up) result of a
// `width` x `height` picture still covers `target`.
unsigned int scaleFor(qint64 width, qint64 height, QSize target)
{
    for (unsigned int num : { 1u, 2u, 4u }) {
        if ((width * num + 7) / 8 >= target.width() && (height * num + 7) / 8 >= target.height())
            return num;
    }
    return 8;
}

J_COLOR_SPACE outputSpace(const jpeg_decompress_struct& cinfo, const QString& path)
{
    switch (cinfo.jpeg_color_space) {
    case JCS_GRAYSCALE:
    case JCS_YCbCr:
    case JCS_RGB:
        return JCS_EXT_BGRA; // writes 255 in the fourth byte, as Format_RGB32 needs
    case JCS_CMYK:
    case JCS_YCCK:
        return JCS_CMYK;
    default:
        throwInvalidPicture(path,
            QStringLiteral("unsupported colour space of %1 components").arg(cinfo.num_components));
    }
}

// Owns a LittleCMS transform from a CMYK profile to sRGB; null when the profile is not
// one LittleCMS can use.
class CmykTransform
{
public:
    CmykTransform(const std::vector<std::uint8_t>& profile, bool inverted)
    {
        cmsHPROFILE cmyk = cmsOpenProfileFromMem(profile.data(), cmsUInt32Number(profile.size()));
        cmsHPROFILE srgb = cmsCreate_sRGBProfile();
        if (cmyk && srgb && cmsGetColorSpace(cmyk) == cmsSigCmykData)
            // Relative colorimetric with black point compensation, as print work flows
            // convert; the fourth output byte is set to 255 afterwards.
            m_transform = cmsCreateTransform(cmyk, inverted ? TYPE_CMYK_8_REV : TYPE_CMYK_8, srgb,
                TYPE_BGRA_8, INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_BLACKPOINTCOMPENSATION);
        if (cmyk)
            cmsCloseProfile(cmyk);
        if (srgb)
            cmsCloseProfile(srgb);
    }
    ~CmykTransform()
    {
        if (m_transform)
            cmsDeleteTransform(m_transform);
    }
    CmykTransform(const CmykTransform&) = delete;
    CmykTransform& operator=(const CmykTransform&) = delete;

    cmsHTRANSFORM get() const { return m_transform; }

private:
    cmsHTRANSFORM m_transform = nullptr;
};

// Decodes the picture as setOutput() arranged it; a CMYK picture through `cmykProfile`
// when it holds one.
QImage decodeImage(Decoder& d, J_COLOR_SPACE space, const std::vector<std::uint8_t>& cmykProfile,
    const QString& path, qsizetype size)
{
    QImage image(int(d.cinfo.output_width), int(d.cinfo.output_height), QImage::Format_RGB32);
    if (image.isNull())
        throwOutOfMemory(path);
    const bool cmyk = space == JCS_CMYK;
    const bool inverted = d.cinfo.saw_Adobe_marker;
    std::unique_ptr<CmykTransform> transform;
    std::vector<unsigned char> inks;
    if (cmyk && !cmykProfile.empty()) {
        transform = std::make_unique<CmykTransform>(cmykProfile, inverted);
        inks.resize(size_t(d.cinfo.output_width) * 4);
    }
    const RowJob job { image.bits(), image.bytesPerLine(), cmyk, inverted,
        transform ? transform->get() : nullptr, inks.data() };
    if (!decodeRows(d, job)) {
        if (d.err.base.msg_code == JERR_OUT_OF_MEMORY && !d.err.nothingDecodable)
            throwOutOfMemory(path);
        throwInvalidPicture(path, failure(d, size));
    }
    return image;
}

} // namespace

namespace JpegReader {

Result read(const QString& path, const std::function<QSize(QSize)>& targetFor)
{
    const QByteArray bytes = readFileBytes(path);
    Decoder d; // reads from `bytes`
    openJpeg(d, bytes, path);
    const qint64 w = d.cinfo.image_width;
    const qint64 h = d.cinfo.image_height;
    const int orientation = orientationOf(d.cinfo);
    const bool swap = orientation >= 5;

    Result result;
    result.fullSize = swap ? QSize(int(h), int(w)) : QSize(int(w), int(h));
    unsigned int scaleNum = 8;
    if (targetFor) {
        QSize target = targetFor(result.fullSize);
        if (swap)
            target.transpose();
        scaleNum = scaleFor(w, h, target);
    }
    const J_COLOR_SPACE space = outputSpace(d.cinfo, path);
    if (!setOutput(d, space, scaleNum))
        throwInvalidPicture(path, failure(d, bytes.size()));

    // An RGB profile goes with the picture into its thumbnail; a CMYK one converts the inks
    // to sRGB here, since the thumbnail is RGB.
    std::vector<std::uint8_t> profile = iccProfileOf(d.cinfo);
    const std::uint32_t profileSpace = profileDataSpaceOf(profile);
    const bool colour
        = d.cinfo.jpeg_color_space == JCS_YCbCr || d.cinfo.jpeg_color_space == JCS_RGB;
    std::vector<std::uint8_t> cmykProfile;
    if (colour && profileSpace == ImageCore::signature("RGB ")) {
        result.colour.kind = ImageCore::ColourSpace::Kind::Embedded;
        result.colour.profile = std::move(profile);
    } else if (space == JCS_CMYK && profileSpace == ImageCore::signature("CMYK")) {
        cmykProfile = std::move(profile);
    }

    result.image = upright(decodeImage(d, space, cmykProfile, path, bytes.size()), orientation);
    if (result.image.isNull())
        throwOutOfMemory(path);
    return result;
}

} // namespace JpegReader
