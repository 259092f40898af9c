// SPDX-License-Identifier: MIT

#include "imaging/core/Limits.h"
#include "imaging/core/Lzw.h"
#include "tools/reader/Decoded.h"

#include <algorithm>
#include <bit>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <tiffio.h>

namespace Reader {
namespace {

// libtiff reports through a process-wide handler; the reading program reads one file.
char lastError[256];

void onError(const char*, const char* format, va_list args)
{
    std::vsnprintf(lastError, sizeof lastError, format, args);
}

void onWarning(const char*, const char*, va_list)
{
}

struct TiffCloser
{
    void operator()(TIFF* tif) const { TIFFClose(tif); }
};

[[noreturn]] void fail(const char* what)
{
    throw Failure { lastError[0] ? std::string(what) + ": " + lastError : std::string(what) };
}

// One row of 16-bit interleaved samples into R, G, B, A (alpha premultiplied).
void sixteenRow(const std::uint16_t* s, std::size_t width, int spp, int alphaSample,
    bool associated, std::uint16_t* out)
{
    const bool grey = spp - (alphaSample >= 0 ? 1 : 0) == 1;
    for (std::size_t i = 0; i < width; ++i, s += spp) {
        const std::uint32_t a = alphaSample >= 0 ? s[alphaSample] : 65535;
        for (int k = 0; k < 3; ++k) {
            const std::uint32_t v = s[grey ? 0 : k];
            out[i * 4 + std::size_t(k)] = std::uint16_t(
                associated || a == 65535 ? std::min(v, a) : (v * a + 32767) / 65535);
        }
        out[i * 4 + 3] = std::uint16_t(a);
    }
}

// 16-bit RGB(A) or grey(+alpha) samples, interleaved: read as they are, so that the
// thumbnail keeps 16 bits. `spp` samples per pixel, `alphaSample` the index of alpha or -1.
// Rows go to `sink` one by one; a tiled picture is held one row of tiles at a time.
void readSixteen(
    TIFF* tif, const Decoded& d, int spp, int alphaSample, bool associated, RowSink& sink)
{
    const std::size_t w = std::size_t(d.width);
    const std::size_t rowSamples = w * std::size_t(spp);
    std::vector<std::uint16_t> out(w * 4);
    const auto emit = [&](const std::uint16_t* samples) {
        sixteenRow(samples, w, spp, alphaSample, associated, out.data());
        sink.row(reinterpret_cast<const std::uint8_t*>(out.data()));
    };
    if (TIFFIsTiled(tif)) {
        std::uint32_t tw = 0, th = 0;
        TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tw);
        TIFFGetField(tif, TIFFTAG_TILELENGTH, &th);
        checkPixels(tw, th, "tile");
        if (tw == 0 || th == 0)
            throw Failure { "the TIFF picture's tiles are empty" };
        const std::uint32_t bandRows = std::min(th, std::uint32_t(d.height));
        checkPixels(std::int64_t(w), bandRows, "row of tiles");
        std::vector<std::uint16_t> band(rowSamples * bandRows);
        std::vector<std::uint16_t> tile(std::size_t(tw) * th * std::size_t(spp));
        for (std::uint32_t ty = 0; ty < std::uint32_t(d.height); ty += th) {
            const std::uint32_t rows = std::min(th, std::uint32_t(d.height) - ty);
            for (std::uint32_t tx = 0; tx < std::uint32_t(d.width); tx += tw) {
                if (TIFFReadTile(tif, tile.data(), tx, ty, 0, 0) < 0)
                    fail("a TIFF tile is damaged");
                const std::uint32_t cols = std::min(tw, std::uint32_t(d.width) - tx);
                for (std::uint32_t y = 0; y < rows; ++y)
                    std::memcpy(&band[y * rowSamples + tx * std::size_t(spp)],
                        &tile[std::size_t(y) * tw * std::size_t(spp)],
                        std::size_t(cols) * std::size_t(spp) * 2);
            }
            for (std::uint32_t y = 0; y < rows; ++y)
                emit(&band[y * rowSamples]);
        }
    } else {
        if (std::size_t(TIFFScanlineSize(tif)) != rowSamples * 2)
            throw Failure { "the TIFF picture's rows have an unexpected size" };
        std::vector<std::uint16_t> samples(rowSamples);
        for (int y = 0; y < d.height; ++y) {
            if (TIFFReadScanline(tif, samples.data(), std::uint32_t(y), 0) < 0)
                fail("a TIFF row is damaged");
            emit(samples.data());
        }
    }
}

// 8-bit RGB in LZW strips, the most common TIFF, read with our own LZW decoder: libtiff's took
// most of a TIFF thumbnail's time. A strip our decoder does not take (an old-style or
// bit-reversed one) or finds damaged goes through libtiff as before, whose errors are
// passed over as its RGBA reader passes them over. Rows go to `sink` as R, G, B, A.
void readLzwRgb(TIFF* tif, const Decoded& d, std::uint16_t predictor, RowSink& sink)
{
    const std::size_t width = std::size_t(d.width);
    const std::size_t rowBytes = width * 3;
    std::uint32_t rowsPerStrip = 0;
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    rowsPerStrip = std::clamp<std::uint32_t>(rowsPerStrip, 1, std::uint32_t(d.height));
    checkPixels(std::int64_t(width), rowsPerStrip, "strip");
    const std::uint64_t fileSize = TIFFGetSizeProc(tif)(TIFFClientdata(tif));
    std::vector<std::uint8_t> strip(rowBytes * rowsPerStrip);
    std::vector<std::uint8_t> raw;
    std::vector<std::uint8_t> row(width * 4, 255);
    const std::uint32_t strips = (std::uint32_t(d.height) + rowsPerStrip - 1) / rowsPerStrip;
    for (std::uint32_t s = 0; s < strips; ++s) {
        const std::uint32_t rows
            = std::min(rowsPerStrip, std::uint32_t(d.height) - s * rowsPerStrip);
        const std::size_t expected = rowBytes * rows;
        const std::uint64_t coded = TIFFGetStrileByteCount(tif, s);
        long made = -1;
        if (coded > 0 && coded <= fileSize) {
            raw.resize(std::size_t(coded) + ImageCore::lzwInputSlack);
            const tmsize_t got = TIFFReadRawStrip(tif, s, raw.data(), tmsize_t(coded));
            if (got > 0 && raw[0] == 0x80)
                made = ImageCore::decodeLzwStrip(
                    raw.data(), std::size_t(got), strip.data(), expected);
        }
        if (made == long(expected)) {
            if (predictor == PREDICTOR_HORIZONTAL) {
                for (std::uint32_t y = 0; y < rows; ++y) {
                    std::uint8_t* p = &strip[y * rowBytes];
                    for (std::size_t i = 3; i < rowBytes; ++i)
                        p[i] = std::uint8_t(p[i] + p[i - 3]);
                }
            }
        } else {
            std::fill(strip.begin(), strip.end(), 0);
            TIFFReadEncodedStrip(tif, s, strip.data(), tmsize_t(expected));
        }
        for (std::uint32_t y = 0; y < rows; ++y) {
            const std::uint8_t* p = &strip[y * rowBytes];
            for (std::size_t x = 0; x < width; ++x)
                std::memcpy(&row[x * 4], p + x * 3, 3);
            sink.row(row.data());
        }
    }
}

struct RgbaImageEnd
{
    void operator()(TIFFRGBAImage* image) const { TIFFRGBAImageEnd(image); }
};

} // namespace

Decoded decodeTiff(Files::UniqueFd input, RowSink& sink)
{
    TIFFSetErrorHandler(onError);
    TIFFSetWarningHandler(onWarning);
    // "m": read, not mapped, so that the file does not count against the address space.
    std::unique_ptr<TIFF, TiffCloser> tif(TIFFFdOpen(input.get(), "picture", "rm"));
    if (!tif)
        fail("not a TIFF picture");
    input.release(); // TIFFClose closes it

    std::uint32_t width = 0, height = 0;
    std::uint16_t bits = 1, spp = 1, photometric = 0, planar = PLANARCONFIG_CONTIG,
                  compression = COMPRESSION_NONE, orientation = ORIENTATION_TOPLEFT;
    TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_COMPRESSION, &compression);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_ORIENTATION, &orientation);
    if (!TIFFGetField(tif.get(), TIFFTAG_PHOTOMETRIC, &photometric))
        photometric = spp >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
    checkPixels(width, height, "picture");
    if (width == 0 || height == 0)
        throw Failure { "the TIFF picture is empty" };

    Decoded d;
    d.kind = Kinds::Kind::Tiff;
    d.width = int(width);
    d.height = int(height);
    d.compression = compression;
    d.lossy = compression == COMPRESSION_JPEG || compression == COMPRESSION_OJPEG;
    d.orientation = orientation >= 1 && orientation <= 8 ? orientation : 1;
    std::uint32_t profileSize = 0;
    void* profile = nullptr;
    if (TIFFGetField(tif.get(), TIFFTAG_ICCPROFILE, &profileSize, &profile) && profile) {
        if (profileSize > Limits::maxProfileSize)
            throw Failure { "the colour profile is too large" };
        const auto* p = static_cast<const std::uint8_t*>(profile);
        d.iccProfile.assign(p, p + profileSize);
    }
    std::uint16_t extraCount = 0;
    std::uint16_t* extra = nullptr;
    TIFFGetField(tif.get(), TIFFTAG_EXTRASAMPLES, &extraCount, &extra);
    const bool hasAlpha = extraCount > 0 && extra
        && (extra[0] == EXTRASAMPLE_ASSOCALPHA || extra[0] == EXTRASAMPLE_UNASSALPHA);
    d.alpha = hasAlpha;

    const int colourSamples = int(spp) - extraCount;
    const bool sixteen = bits == 16 && planar == PLANARCONFIG_CONTIG
        && ((photometric == PHOTOMETRIC_RGB && colourSamples == 3)
            || (photometric == PHOTOMETRIC_MINISBLACK && colourSamples == 1));
    if (sixteen) {
        d.bitsPerSample = 16;
        sink.begin(d);
        readSixteen(tif.get(), d, spp, hasAlpha ? colourSamples : -1,
            hasAlpha && extra[0] == EXTRASAMPLE_ASSOCALPHA, sink);
        return d;
    }

    std::uint16_t predictor = PREDICTOR_NONE, fillOrder = FILLORDER_MSB2LSB;
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_PREDICTOR, &predictor);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_FILLORDER, &fillOrder);
    if (compression == COMPRESSION_LZW && bits == 8 && spp == 3 && extraCount == 0
        && planar == PLANARCONFIG_CONTIG && photometric == PHOTOMETRIC_RGB
        && !TIFFIsTiled(tif.get()) && fillOrder == FILLORDER_MSB2LSB
        && (predictor == PREDICTOR_NONE || predictor == PREDICTOR_HORIZONTAL)) {
        d.redFirst = true;
        sink.begin(d);
        readLzwRgb(tif.get(), d, predictor, sink);
        return d;
    }

    // Every other layout through libtiff's RGBA reader, which premultiplies alpha. It would
    // flip the rows for some orientations and not others; the orientation is applied to the
    // thumbnail instead, so the rows are read as stored.
    char why[1024] = "";
    if (!TIFFRGBAImageOK(tif.get(), why))
        throw Failure { std::string("this kind of TIFF picture cannot be read: ") + why };
    TIFFSetField(tif.get(), TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    TIFFRGBAImage image;
    if (!TIFFRGBAImageBegin(&image, tif.get(), 0, why))
        throw Failure { std::string("this kind of TIFF picture cannot be read: ") + why };
    const std::unique_ptr<TIFFRGBAImage, RgbaImageEnd> ending(&image);
    image.req_orientation = ORIENTATION_TOPLEFT;
    // A band of whole strips or one row of tiles, so that each is decoded once.
    std::uint32_t band = 0;
    if (TIFFIsTiled(tif.get()))
        TIFFGetField(tif.get(), TIFFTAG_TILELENGTH, &band);
    else
        TIFFGetFieldDefaulted(tif.get(), TIFFTAG_ROWSPERSTRIP, &band);
    band = std::clamp<std::uint32_t>(band, 1, height);
    // libtiff's words hold A B G R from the top bit down: bytes R, G, B, A where the machine
    // stores the low byte first, handed on as they are; elsewhere turned into our bytes, as
    // they are when libtiff takes an extra sample for alpha that we do not.
    const bool wordsAreBytes
        = std::endian::native == std::endian::little && (hasAlpha || image.alpha == 0);
    d.redFirst = wordsAreBytes;
    sink.begin(d);
    std::vector<std::uint32_t> raster(std::size_t(width) * band);
    std::vector<std::uint8_t> row(wordsAreBytes ? 0 : std::size_t(width) * 4);
    for (std::uint32_t top = 0; top < height; top += band) {
        const std::uint32_t rows = std::min(band, height - top);
        image.row_offset = int(top);
        image.col_offset = 0;
        if (!TIFFRGBAImageGet(&image, raster.data(), width, rows))
            fail("the TIFF picture is damaged");
        for (std::uint32_t y = 0; y < rows; ++y) {
            const std::uint32_t* words = &raster[std::size_t(y) * width];
            if (wordsAreBytes) {
                sink.row(reinterpret_cast<const std::uint8_t*>(words));
                continue;
            }
            for (std::size_t x = 0; x < width; ++x) {
                const std::uint32_t v = words[x];
                std::uint8_t* p = &row[x * 4];
                p[0] = std::uint8_t(TIFFGetB(v));
                p[1] = std::uint8_t(TIFFGetG(v));
                p[2] = std::uint8_t(TIFFGetR(v));
                p[3] = hasAlpha ? std::uint8_t(TIFFGetA(v)) : 255;
            }
            sink.row(row.data());
        }
    }
    return d;
}

} // namespace Reader
