// SPDX-License-Identifier: MIT

#include "imaging/JpegEncoder.h"

#include "imaging/core/ColourSpace.h"
#include "runtime/Logging.h"
#include "runtime/files/Fd.h"
#include "runtime/files/ReplacingFile.h"

#include <QFile>
#include <atomic>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <new>

// After <cstdio>: jpeglib.h uses FILE.
#include <jerror.h>
#include <jpeglib.h>

namespace JpegEncoder {

struct Bitmap
{
    QImage pixels; // always Format_RGB32
    QByteArray iccProfile; // empty: none
};

namespace {

// The status of an operation that an exception other than std::bad_alloc ended, called from
// its handler. The status says only "generic error", so the log keeps what was thrown.
int genericErrorAfter(const char* operation) noexcept
{
    try {
        throw;
    } catch (const std::exception& error) {
        qCWarning(lcImaging, "JPEG writer: %s failed: %s", operation, error.what());
    } catch (...) {
        qCWarning(lcImaging, "JPEG writer: %s failed with an exception of unknown type", operation);
    }
    return GenericError;
}

// Per thread, as the platform's last error is.
thread_local int lastErrno = 0;

int statusForErrno(int errnoValue)
{
    lastErrno = errnoValue;
    switch (errnoValue) {
    case EACCES:
    case EPERM:
    case EROFS:
        return AccessDenied;
    case ENOMEM:
        return OutOfMemory;
    default:
        return Win32Error;
    }
}

struct ErrorManager
{
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    int savedErrno;
};

void jumpBack(j_common_ptr cinfo)
{
    auto* errors = reinterpret_cast<ErrorManager*>(cinfo->err);
    errors->savedErrno = errno; // a failed write left its reason here
    std::longjmp(errors->jump, 1);
}

void dropMessage(j_common_ptr)
{
}

// libjpeg's output, written to a descriptor in 64 KiB pieces: the bytes are those that
// jpeg_stdio_dest would give, without a stdio stream between. A failed write leaves by
// JERR_FILE_WRITE with its errno for statusForErrno.
struct Destination
{
    static constexpr size_t size = 1 << 16;

    jpeg_destination_mgr pub;
    int fd;
    std::unique_ptr<JOCTET[]> buffer;

    static void init(j_compress_ptr cinfo)
    {
        auto* self = reinterpret_cast<Destination*>(cinfo->dest);
        self->pub.next_output_byte = self->buffer.get();
        self->pub.free_in_buffer = size;
    }
    static void put(j_compress_ptr cinfo, size_t bytes)
    {
        auto* self = reinterpret_cast<Destination*>(cinfo->dest);
        if (const int error = Files::writeFull(self->fd, self->buffer.get(), bytes)) {
            errno = error;
            ERREXIT(cinfo, JERR_FILE_WRITE);
        }
    }
    static boolean empty(j_compress_ptr cinfo)
    {
        put(cinfo, size); // libjpeg asks only with the whole buffer full
        init(cinfo);
        return TRUE;
    }
    static void term(j_compress_ptr cinfo) { put(cinfo, size - cinfo->dest->free_in_buffer); }
};

// Owns the compress struct; destroying a struct that was never created is harmless.
class Compressor
{
public:
    explicit Compressor(int fd)
    {
        std::memset(&cinfo, 0, sizeof cinfo);
        std::memset(&errors, 0, sizeof errors);
        cinfo.err = jpeg_std_error(&errors.pub);
        errors.pub.error_exit = jumpBack;
        errors.pub.output_message = dropMessage;
        destination.pub.init_destination = Destination::init;
        destination.pub.empty_output_buffer = Destination::empty;
        destination.pub.term_destination = Destination::term;
        destination.fd = fd;
        destination.buffer.reset(new JOCTET[Destination::size]);
    }
    ~Compressor() { jpeg_destroy_compress(&cinfo); }
    Compressor(const Compressor&) = delete;
    Compressor& operator=(const Compressor&) = delete;

    jpeg_compress_struct cinfo;
    ErrorManager errors;
    Destination destination {};
};

struct Encoding
{
    jpeg_compress_struct* cinfo;
    jpeg_destination_mgr* destination;
    const uchar* bits;
    qsizetype bytesPerLine;
    int width;
    int height;
    int quality;
    const QByteArray* iccProfile;
};

// Encodes Format_RGB32 rows straight from the image's memory. libjpeg leaves this function
// by longjmp on any error, so it holds no object with a destructor. Returns Ok or a status.
int encodeRows(const Encoding& job)
{
    jpeg_compress_struct* cinfo = job.cinfo;
    auto* errors = reinterpret_cast<ErrorManager*>(cinfo->err);
    if (setjmp(errors->jump)) {
        switch (errors->pub.msg_code) {
        case JERR_OUT_OF_MEMORY:
            return OutOfMemory;
        case JERR_FILE_WRITE:
            return statusForErrno(errors->savedErrno);
        default:
            return GenericError;
        }
    }

    jpeg_create_compress(cinfo);
    cinfo->dest = job.destination;
    cinfo->image_width = JDIMENSION(job.width);
    cinfo->image_height = JDIMENSION(job.height);
    cinfo->input_components = 4;
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
    cinfo->in_color_space = JCS_EXT_BGRX;
#else
    cinfo->in_color_space = JCS_EXT_XRGB;
#endif
    jpeg_set_defaults(cinfo);
    jpeg_set_quality(cinfo, job.quality, TRUE);
    jpeg_start_compress(cinfo, TRUE);
    if (!job.iccProfile->isEmpty())
        jpeg_write_icc_profile(cinfo, reinterpret_cast<const JOCTET*>(job.iccProfile->constData()),
            unsigned(job.iccProfile->size()));

    constexpr int batch = 16;
    JSAMPROW rows[batch];
    while (cinfo->next_scanline < cinfo->image_height) {
        const int first = int(cinfo->next_scanline);
        const int count = std::min(batch, job.height - first);
        for (int i = 0; i < count; ++i)
            rows[i] = const_cast<JSAMPROW>(job.bits + (first + i) * job.bytesPerLine);
        jpeg_write_scanlines(cinfo, rows, JDIMENSION(count));
    }
    jpeg_finish_compress(cinfo);
    return Ok;
}

// Reads the quality from the parameters; false when they are not what this encoder takes.
bool qualityFrom(const EncoderParameters* parameters, int* quality)
{
    *quality = 75;
    if (!parameters || parameters->count == 0)
        return true;
    if (parameters->count != 1)
        return false;
    const EncoderParameter& p = parameters->parameter[0];
    static const QUuid qualityGuid = QUuid::fromString(QStringView(encoderQualityGuid));
    if (p.guid != qualityGuid || p.numberOfValues != 1 || p.type != encoderParameterValueTypeLong
        || !p.value)
        return false;
    // libjpeg's own scaling takes the value as it is and keeps it within 1..100.
    *quality = int(std::min<quint32>(*static_cast<const quint32*>(p.value), 1000));
    return true;
}

class LibjpegFacade : public Facade
{
public:
    int startup(Token* token, const StartupInput& input) noexcept override
    {
        if (!token)
            return InvalidParameter;
        if (input.gdiplusVersion != 1)
            return UnsupportedGdiplusVersion;
        *token = ++m_instances;
        return Ok;
    }

    int createBitmapFromPicture(const QImage& picture, Bitmap** bitmap) noexcept override
    {
        if (!bitmap)
            return InvalidParameter;
        *bitmap = nullptr;
        if (picture.isNull())
            return InvalidParameter;
        try {
            auto made = std::make_unique<Bitmap>();
            // Implicit sharing makes this a copy that the caller's later changes don't reach.
            made->pixels = picture.format() == QImage::Format_RGB32
                ? picture
                : picture.convertToFormat(QImage::Format_RGB32);
            if (made->pixels.isNull())
                return OutOfMemory;
            *bitmap = made.release();
            return Ok;
        } catch (const std::bad_alloc&) {
            return OutOfMemory;
        } catch (...) {
            return genericErrorAfter("making the bitmap");
        }
    }

    int setIccProfile(Bitmap* bitmap, const QByteArray& profile) noexcept override
    {
        if (!bitmap || profile.isEmpty() || size_t(profile.size()) > Limits::maxProfileSize)
            return InvalidParameter;
        bitmap->iccProfile = profile; // implicitly shared: no copy, nothing thrown
        return Ok;
    }

    int saveImageToFile(Bitmap* bitmap, const QString& path, const QUuid& encoderClsid,
        const EncoderParameters* parameters) noexcept override
    {
        static const QUuid jpegClsid = QUuid::fromString(QStringView(jpegEncoderClsid));
        int quality = 0;
        if (!bitmap || path.isEmpty() || encoderClsid != jpegClsid
            || !qualityFrom(parameters, &quality))
            return InvalidParameter;
        lastErrno = 0;
        const QImage& image = bitmap->pixels;
        if (image.width() > JPEG_MAX_DIMENSION || image.height() > JPEG_MAX_DIMENSION)
            return InvalidParameter;

        try {
            // 0644 less the umask, as any file the program writes.
            Files::ReplacingFile file;
            if (const int error = file.open(QFile::encodeName(path).toStdString(), 0644))
                return statusForErrno(error);
            int status = Ok;
            {
                Compressor compressor(file.fd());
                status = encodeRows({ &compressor.cinfo, &compressor.destination.pub,
                    image.constBits(), image.bytesPerLine(), image.width(), image.height(), quality,
                    &bitmap->iccProfile });
            }
            if (status != Ok)
                return status; // the file's destructor removes the temporary
            if (const int error = file.commit())
                return statusForErrno(error);
            return Ok;
        } catch (const std::bad_alloc&) {
            return OutOfMemory;
        } catch (...) {
            return genericErrorAfter("saving the file");
        }
    }

    int disposeImage(Bitmap* bitmap) noexcept override
    {
        if (!bitmap)
            return InvalidParameter;
        delete bitmap;
        return Ok;
    }

    int shutdown(Token) noexcept override { return Ok; }
    int lastError() const noexcept override { return lastErrno; }

private:
    std::atomic<Token> m_instances { 0 };
};

} // namespace

Facade& libjpeg()
{
    static LibjpegFacade facade;
    return facade;
}

} // namespace JpegEncoder
