// SPDX-License-Identifier: MIT

#include "imaging/ThumbnailWriters.h"
#include "imaging/core/Lzw.h"
#include "runtime/AppError.h"

#include <QScopeGuard>
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <tiffio.h>

namespace ThumbnailWriters {
namespace {

// The TIFF is made in memory and written whole, so that a failed thumbnail leaves nothing.
struct Memory
{
    std::vector<std::uint8_t> bytes;
    toff_t at = 0;
};

tsize_t readMemory(thandle_t h, tdata_t to, tsize_t size)
{
    auto* m = static_cast<Memory*>(h);
    const toff_t left = m->at < m->bytes.size() ? m->bytes.size() - m->at : 0;
    const toff_t n = std::min<toff_t>(toff_t(std::max<tsize_t>(size, 0)), left);
    if (n > 0)
        std::memcpy(to, m->bytes.data() + m->at, n);
    m->at += n;
    return tsize_t(n);
}
tsize_t writeMemory(thandle_t h, tdata_t from, tsize_t size)
{
    auto* m = static_cast<Memory*>(h);
    if (size < 0)
        return -1;
    if (m->bytes.size() < m->at + toff_t(size))
        m->bytes.resize(m->at + toff_t(size));
    if (size > 0)
        std::memcpy(m->bytes.data() + m->at, from, std::size_t(size));
    m->at += toff_t(size);
    return size;
}
toff_t seekMemory(thandle_t h, toff_t offset, int whence)
{
    auto* m = static_cast<Memory*>(h);
    const toff_t base = whence == SEEK_CUR ? m->at : whence == SEEK_END ? m->bytes.size() : 0;
    m->at = base + offset;
    return m->at;
}
int closeNothing(thandle_t)
{
    return 0;
}
toff_t sizeOfMemory(thandle_t h)
{
    return static_cast<Memory*>(h)->bytes.size();
}
int mapNothing(thandle_t, tdata_t*, toff_t*)
{
    return 0;
}
void unmapNothing(thandle_t, tdata_t, toff_t)
{
}

// Keeps what libtiff said last about this file, for the message.
int onError(TIFF*, void* buffer, const char*, const char* format, va_list args)
{
    std::vsnprintf(static_cast<char*>(buffer), 256, format, args);
    return 1;
}

int onWarning(TIFF*, void*, const char*, const char*, va_list)
{
    return 1;
}

bool writable(std::uint32_t compression)
{
    switch (compression) {
    case COMPRESSION_NONE:
    case COMPRESSION_LZW:
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE:
    case COMPRESSION_PACKBITS:
    case COMPRESSION_JPEG:
        return true;
    default:
        return false;
    }
}

} // namespace

std::vector<std::uint8_t> encodeTiff(
    const QImage& picture, const QString& path, const Settings& settings)
{
    const bool alpha = picture.hasAlphaChannel();
    const bool sixteen = picture.depth() == 64;
    const QImage pixels = sixteen
        ? picture.convertToFormat(alpha ? QImage::Format_RGBA64 : QImage::Format_RGBX64)
        : picture.convertToFormat(alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (pixels.isNull())
        throw AppError::about(ErrorNumber::OutOfMemory, path);
    std::uint32_t compression = settings.compression;
    if (!writable(compression))
        compression = settings.lossy ? COMPRESSION_JPEG : COMPRESSION_ADOBE_DEFLATE;
    // The old code of the same Deflate, under the code readers know best.
    if (compression == COMPRESSION_DEFLATE)
        compression = COMPRESSION_ADOBE_DEFLATE;
    if (compression == COMPRESSION_JPEG && sixteen)
        compression = COMPRESSION_ADOBE_DEFLATE;
    const int samples = alpha ? 4 : 3;

    Memory memory;
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    char lastError[256] = "";
    TIFFOpenOptionsSetErrorHandlerExtR(options, onError, lastError);
    TIFFOpenOptionsSetWarningHandlerExtR(options, onWarning, nullptr);
    TIFF* tif = TIFFClientOpenExt("thumbnail", "w", &memory, readMemory, writeMemory, seekMemory,
        closeNothing, sizeOfMemory, mapNothing, unmapNothing, options);
    TIFFOpenOptionsFree(options);
    const auto fail = [&](const char* what) {
        throw AppError(ErrorNumber::InvalidPicture,
            QStringLiteral("The TIFF thumbnail could not be made (%1%2): %3")
                .arg(QLatin1String(what),
                    lastError[0] ? QStringLiteral(", ") + QString::fromLocal8Bit(lastError)
                                 : QString(),
                    path));
    };
    if (!tif)
        fail("no TIFF writer");
    auto close = qScopeGuard([&] { TIFFClose(tif); });

    const std::uint32_t width = std::uint32_t(pixels.width());
    const std::uint32_t height = std::uint32_t(pixels.height());
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, sixteen ? 16 : 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, compression);
    if (alpha) {
        const std::uint16_t extra[] = { EXTRASAMPLE_UNASSALPHA };
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, extra);
    }
    if (compression == COMPRESSION_JPEG && !alpha) {
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_YCBCR);
        TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    } else {
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    }
    if (compression == COMPRESSION_JPEG)
        TIFFSetField(tif, TIFFTAG_JPEGQUALITY, std::clamp(settings.quality, 1, 100));
    if (compression == COMPRESSION_LZW || compression == COMPRESSION_ADOBE_DEFLATE
        || compression == COMPRESSION_DEFLATE)
        TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    // Strips of about 64 KiB, a multiple of 16 rows as JPEG's subsampled blocks need.
    const std::uint32_t rowBytes = width * std::uint32_t(samples) * (sixteen ? 2 : 1);
    const std::uint32_t rowsPerStrip = std::max<std::uint32_t>(16, (65536 / rowBytes) / 16 * 16);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
    if (!settings.iccProfile.empty())
        TIFFSetField(tif, TIFFTAG_ICCPROFILE, std::uint32_t(settings.iccProfile.size()),
            settings.iccProfile.data());

    const auto fillRow = [&](std::uint32_t y, std::uint8_t* row) {
        if (sixteen) {
            const auto* in = reinterpret_cast<const std::uint16_t*>(pixels.constScanLine(int(y)));
            auto* out = reinterpret_cast<std::uint16_t*>(row);
            for (std::uint32_t x = 0; x < width; ++x) {
                for (int k = 0; k < samples; ++k)
                    out[x * std::uint32_t(samples) + std::uint32_t(k)]
                        = in[x * 4 + std::uint32_t(k)];
            }
        } else {
            const auto* in = reinterpret_cast<const QRgb*>(pixels.constScanLine(int(y)));
            for (std::uint32_t x = 0; x < width; ++x) {
                std::uint8_t* out = &row[x * std::uint32_t(samples)];
                out[0] = std::uint8_t(qRed(in[x]));
                out[1] = std::uint8_t(qGreen(in[x]));
                out[2] = std::uint8_t(qBlue(in[x]));
                if (alpha)
                    out[3] = std::uint8_t(qAlpha(in[x]));
            }
        }
    };
    if (compression == COMPRESSION_LZW) {
        // Our own coder: libtiff's took a fifth of a TIFF run's time. The strips are laid
        // out as libtiff lays them.
        const ImageCore::LzwLayout layout { rowBytes, samples, sixteen ? 2 : 1,
            TIFFIsBigEndian(tif) != 0 };
        std::vector<std::uint8_t> rows(std::size_t(rowBytes) * rowsPerStrip);
        // Room for the file at once: growing it copies and touches fresh pages each time,
        // and pages never written cost nothing.
        memory.bytes.reserve(std::size_t(rowBytes) * height + 65536);
        ImageCore::LzwTables tables;
        std::vector<std::uint8_t> coded;
        for (std::uint32_t top = 0; top < height; top += rowsPerStrip) {
            const std::uint32_t count = std::min(rowsPerStrip, height - top);
            for (std::uint32_t y = 0; y < count; ++y)
                fillRow(top + y, rows.data() + std::size_t(y) * rowBytes);
            ImageCore::encodeLzwStrip(rows.data(), count, layout, tables, coded);
            if (TIFFWriteRawStrip(tif, top / rowsPerStrip, coded.data(), tmsize_t(coded.size()))
                < 0)
                fail("a strip could not be written");
        }
    } else {
        std::vector<std::uint8_t> row(rowBytes);
        for (std::uint32_t y = 0; y < height; ++y) {
            fillRow(y, row.data());
            if (TIFFWriteScanline(tif, row.data(), y, 0) < 0)
                fail("a row could not be written");
        }
    }
    if (!TIFFWriteDirectory(tif))
        fail("the directory could not be written");
    close.dismiss();
    TIFFClose(tif);
    return std::move(memory.bytes);
}

} // namespace ThumbnailWriters
