#include "imaging/JpegEncoder.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <atomic>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <new>
#include <unistd.h>

// After <cstdio>: jpeglib.h uses FILE.
#include <jerror.h>
#include <jpeglib.h>

namespace JpegEncoder {

struct Bitmap
{
    QImage pixels; // always Format_RGB32
};

namespace {

int statusForErrno(int errnoValue)
{
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
    errors->savedErrno = errno; // a failed fwrite left its reason here
    std::longjmp(errors->jump, 1);
}

void dropMessage(j_common_ptr)
{
}

// Owns the compress struct; destroying a struct that was never created is harmless.
class Compressor
{
public:
    Compressor()
    {
        std::memset(&cinfo, 0, sizeof cinfo);
        std::memset(&errors, 0, sizeof errors);
        cinfo.err = jpeg_std_error(&errors.pub);
        errors.pub.error_exit = jumpBack;
        errors.pub.output_message = dropMessage;
    }
    ~Compressor() { jpeg_destroy_compress(&cinfo); }
    Compressor(const Compressor&) = delete;
    Compressor& operator=(const Compressor&) = delete;

    jpeg_compress_struct cinfo;
    ErrorManager errors;
};

struct Encoding
{
    jpeg_compress_struct* cinfo;
    FILE* file;
    const uchar* bits;
    qsizetype bytesPerLine;
    int width;
    int height;
    int quality;
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
    jpeg_stdio_dest(cinfo, job.file);
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

struct FileCloser
{
    void operator()(FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// A file created exclusively under a fresh name in the target's folder; removed again unless
// it was renamed into place.
class TempFile
{
public:
    ~TempFile()
    {
        if (!m_name.isEmpty())
            ::unlink(m_name.constData());
    }

    // Returns the open descriptor, or -1 with errno set.
    int create(const QString& target)
    {
        const QByteArray folder = QFile::encodeName(QFileInfo(target).path());
        for (int attempt = 0; attempt < 100; ++attempt) {
            const QByteArray name = folder + "/.pictelle-"
                + QByteArray::number(QRandomGenerator::global()->generate64(), 36) + ".tmp";
            // 0644 less the umask, as any file the program writes.
            const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            if (fd >= 0) {
                m_name = name;
                return fd;
            }
            if (errno != EEXIST)
                return -1;
        }
        return -1;
    }

    // Returns 0, or -1 with errno set.
    int renameTo(const QString& target)
    {
        if (::rename(m_name.constData(), QFile::encodeName(target).constData()) != 0)
            return -1;
        m_name.clear();
        return 0;
    }

private:
    QByteArray m_name;
};

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
            return GenericError;
        }
    }

    int saveImageToFile(Bitmap* bitmap, const QString& path, const QUuid& encoderClsid,
        const EncoderParameters* parameters) noexcept override
    {
        static const QUuid jpegClsid = QUuid::fromString(QStringView(jpegEncoderClsid));
        int quality = 0;
        if (!bitmap || path.isEmpty() || encoderClsid != jpegClsid
            || !qualityFrom(parameters, &quality))
            return InvalidParameter;
        const QImage& image = bitmap->pixels;
        if (image.width() > JPEG_MAX_DIMENSION || image.height() > JPEG_MAX_DIMENSION)
            return InvalidParameter;

        try {
            TempFile temp;
            const int fd = temp.create(path);
            if (fd < 0)
                return statusForErrno(errno);
            FilePtr file(::fdopen(fd, "wb"));
            if (!file) {
                const int error = errno;
                ::close(fd);
                return statusForErrno(error);
            }

            int status = Ok;
            {
                Compressor compressor;
                status = encodeRows({ &compressor.cinfo, file.get(), image.constBits(),
                    image.bytesPerLine(), image.width(), image.height(), quality });
            }
            if (status != Ok)
                return status;
            // A full disk may show only when the last buffer is flushed at close.
            if (std::fclose(file.release()) != 0)
                return statusForErrno(errno);
            if (temp.renameTo(path) != 0)
                return statusForErrno(errno);
            return Ok;
        } catch (const std::bad_alloc&) {
            return OutOfMemory;
        } catch (...) {
            return GenericError;
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
