// SPDX-License-Identifier: MIT

#pragma once

#include <QImage>
#include <QString>
#include <QUuid>

// A small JPEG encoder facade in the shape of the GDI+ flat interface the JPEG writer was
// designed around: start-up, bitmap from picture, save with a quality parameter, dispose,
// shut down. Every operation returns a number of the published GDI+ status enumeration, so
// the writer's error text carries the same numbers a GDI+ user would see.
namespace JpegEncoder {

// Numbers of the GDI+ status enumeration that this facade returns. File errors map as:
// permission refused (EACCES, EPERM, EROFS) -> AccessDenied; any other failure of the
// operating system while creating, writing, closing or renaming the file, a missing
// folder and a full disk included -> Win32Error.
enum Status : int {
    Ok = 0,
    GenericError = 1,
    InvalidParameter = 2,
    OutOfMemory = 3,
    Win32Error = 7,
    FileNotFound = 10,
    AccessDenied = 12,
    UnsupportedGdiplusVersion = 17,
};

// The JPEG encoder's class identifier and the quality parameter's identifier, as text.
inline constexpr char16_t jpegEncoderClsid[] = u"{557CF401-1A04-11D3-9A73-0000F81EF32E}";
inline constexpr char16_t encoderQualityGuid[] = u"{1D5BE4B5-FA4A-452D-9CDD-5DB35105E7EB}";
// Parameter value type "32-bit unsigned long".
constexpr quint32 encoderParameterValueTypeLong = 4;

struct StartupInput
{
    quint32 gdiplusVersion = 1; // only 1 is supported
    bool suppressBackgroundThread = false; // accepted for the record; no thread is started
    bool suppressExternalCodecs = false;
};

struct EncoderParameter
{
    QUuid guid;
    quint32 numberOfValues = 0;
    quint32 type = 0;
    const void* value = nullptr; // points at `numberOfValues` values of `type`
};

// One parameter is all the writer ever passes (the quality).
struct EncoderParameters
{
    quint32 count = 0;
    EncoderParameter parameter[1];
};

using Token = quintptr;
struct Bitmap; // opaque; made by createBitmapFromPicture, released by disposeImage

// The five operations. None of them throws.
class Facade
{
public:
    virtual ~Facade() = default;

    // Starts an encoder instance; `*token` is for shutdown().
    virtual int startup(Token* token, const StartupInput& input) noexcept = 0;
    // Makes a bitmap holding a copy of `picture`'s pixels (its alpha is not kept).
    // InvalidParameter for a null picture, OutOfMemory when the copy cannot be made.
    virtual int createBitmapFromPicture(const QImage& picture, Bitmap** bitmap) noexcept = 0;
    // Writes `bitmap` as a JPEG file at `path` under a temporary name in the target folder,
    // renamed into place once complete; a failure leaves neither that name nor `path`
    // behind (an existing file at `path` stays as it was). The quality parameter, when
    // given (0..100; larger values act as 100, 0 as 1), is handed to the encoder's own
    // quality scaling; without it the quality is 75.
    // Gives `bitmap` an ICC profile, written unchanged into the file (split over as many
    // APP2 segments as it needs). InvalidParameter for an empty profile or one larger than
    // Limits::maxProfileSize.
    virtual int setIccProfile(Bitmap* bitmap, const QByteArray& profile) noexcept = 0;
    virtual int saveImageToFile(Bitmap* bitmap, const QString& path, const QUuid& encoderClsid,
        const EncoderParameters* parameters) noexcept = 0;
    virtual int disposeImage(Bitmap* bitmap) noexcept = 0;
    virtual int shutdown(Token token) noexcept = 0;

    // The errno value behind this thread's last AccessDenied, OutOfMemory or Win32Error, as
    // the platform keeps a last error beside GDI+'s status; 0 when the system gave none.
    virtual int lastError() const noexcept { return 0; }
};

// The facade over libjpeg-turbo that the program uses.
Facade& libjpeg();

} // namespace JpegEncoder

namespace SaveAsJPG {

// SaveJPEG over a given facade, so that a test can watch or fail its steps. Behaves and
// throws as SaveJPEG(picture, path, quality).
void SaveJPEG(JpegEncoder::Facade& encoder, const QImage& picture, const QString& path,
    quint8 quality, const QByteArray& iccProfile = {});

} // namespace SaveAsJPG
