// SPDX-License-Identifier: MIT

#include "tests/common/KindFixtures.h"

#include <QFile>
#include <algorithm>
#include <cstring>
#include <gif_lib.h>
#include <tiffio.h>
#include <vector>
#include <webp/decode.h>
#include <webp/demux.h>
#include <webp/encode.h>
#include <webp/mux.h>

namespace KindFixtures {

QImage photo(int width, int height, bool alpha)
{
    QImage image(width, height, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y,
                qRgba((x * 255) / (width - 1), (y * 255) / (height - 1), 128,
                    alpha && x >= width * 3 / 4 ? 0 : 255));
    return image;
}
namespace {

bool writeBytes(const QString& path, const std::uint8_t* data, std::size_t size)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly)
        && f.write(reinterpret_cast<const char*>(data), qint64(size)) == qint64(size);
}

// An EXIF block holding only an Orientation tag, little-endian.
QByteArray exifWithOrientation(int orientation)
{
    const unsigned char bytes[] = { 'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x12, 0x01, 3, 0, 1, 0, 0, 0,
        static_cast<unsigned char>(orientation), 0, 0, 0, 0, 0, 0, 0 };
    return QByteArray(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

bool writeTiffPage(TIFF* tif, const QImage& source, const Options& o)
{
    const bool alpha = source.hasAlphaChannel();
    const QImage image = source.convertToFormat(QImage::Format_ARGB32);
    const int samples = alpha ? 4 : 3;
    const int w = image.width(), h = image.height();
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, o.bits);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_ORIENTATION, o.orientation);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, o.lossy ? COMPRESSION_JPEG : o.compression);
    if (o.lossy)
        TIFFSetField(tif, TIFFTAG_JPEGQUALITY, o.quality);
    if (o.tileSize > 0) {
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, o.tileSize);
        TIFFSetField(tif, TIFFTAG_TILELENGTH, o.tileSize);
    } else {
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 16);
    }
    if (alpha) {
        const std::uint16_t extra[] = { EXTRASAMPLE_UNASSALPHA };
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, extra);
    }
    if (!o.iccProfile.isEmpty())
        TIFFSetField(
            tif, TIFFTAG_ICCPROFILE, std::uint32_t(o.iccProfile.size()), o.iccProfile.constData());
    const std::size_t rowBytes = std::size_t(w) * samples * std::size_t(o.bits / 8);
    // Tiles are cut from the whole picture, written once it is complete.
    std::vector<std::uint8_t> whole(o.tileSize > 0 ? rowBytes * h : 0);
    std::vector<std::uint16_t> row(std::size_t(w) * samples);
    for (int y = 0; y < h; ++y) {
        const auto* in = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < w; ++x) {
            const int v[] = { qRed(in[x]), qGreen(in[x]), qBlue(in[x]), qAlpha(in[x]) };
            for (int k = 0; k < samples; ++k)
                row[std::size_t(x) * samples + k] = std::uint16_t(v[k] * 257);
        }
        if (o.bits == 8) {
            auto* bytes = reinterpret_cast<std::uint8_t*>(row.data());
            for (std::size_t i = 0; i < row.size(); ++i)
                bytes[i] = std::uint8_t(row[i] >> 8);
        }
        if (o.tileSize > 0)
            std::memcpy(&whole[rowBytes * y], row.data(), rowBytes);
        else if (TIFFWriteScanline(tif, row.data(), std::uint32_t(y), 0) < 0)
            return false;
    }
    if (o.tileSize > 0) {
        const std::size_t pixelBytes = rowBytes / std::size_t(w);
        std::vector<std::uint8_t> tile(std::size_t(o.tileSize) * o.tileSize * pixelBytes);
        for (int ty = 0; ty < h; ty += o.tileSize) {
            for (int tx = 0; tx < w; tx += o.tileSize) {
                std::fill(tile.begin(), tile.end(), 0);
                for (int y = ty; y < std::min(h, ty + o.tileSize); ++y)
                    std::memcpy(&tile[std::size_t(y - ty) * o.tileSize * pixelBytes],
                        &whole[rowBytes * y + std::size_t(tx) * pixelBytes],
                        std::size_t(std::min(o.tileSize, w - tx)) * pixelBytes);
                if (TIFFWriteTile(tif, tile.data(), std::uint32_t(tx), std::uint32_t(ty), 0, 0) < 0)
                    return false;
            }
        }
    }
    return TIFFWriteDirectory(tif) != 0;
}

} // namespace

bool writeWebP(const QString& path, const QImage& source, const Options& o)
{
    const bool alpha = source.hasAlphaChannel();
    const QImage image = source.convertToFormat(QImage::Format_ARGB32);
    std::uint8_t* out = nullptr;
    const int stride = int(image.bytesPerLine());
    const QImage bgr = image.convertToFormat(QImage::Format_BGR888);
    const std::size_t size = o.lossy
        ? (alpha ? WebPEncodeBGRA(
               image.constBits(), image.width(), image.height(), stride, float(o.quality), &out)
                 : WebPEncodeBGR(bgr.constBits(), bgr.width(), bgr.height(),
                     int(bgr.bytesPerLine()), float(o.quality), &out))
        : WebPEncodeLosslessBGRA(image.constBits(), image.width(), image.height(), stride, &out);
    if (!size)
        return false;
    bool ok = true;
    if (o.iccProfile.isEmpty() && o.orientation == 1) {
        ok = writeBytes(path, out, size);
    } else {
        const WebPData plain { out, size };
        WebPMux* mux = WebPMuxCreate(&plain, 1);
        const QByteArray exif = exifWithOrientation(o.orientation);
        const WebPData icc { reinterpret_cast<const std::uint8_t*>(o.iccProfile.constData()),
            std::size_t(o.iccProfile.size()) };
        const WebPData exifData { reinterpret_cast<const std::uint8_t*>(exif.constData()),
            std::size_t(exif.size()) };
        WebPData assembled { nullptr, 0 };
        ok = mux && (o.iccProfile.isEmpty() || WebPMuxSetChunk(mux, "ICCP", &icc, 1) == WEBP_MUX_OK)
            && (o.orientation == 1 || WebPMuxSetChunk(mux, "EXIF", &exifData, 1) == WEBP_MUX_OK)
            && WebPMuxAssemble(mux, &assembled) == WEBP_MUX_OK
            && writeBytes(path, assembled.bytes, assembled.size);
        WebPDataClear(&assembled);
        WebPMuxDelete(mux);
    }
    WebPFree(out);
    return ok;
}

bool writeTiff(const QString& path, const QImage& image, const Options& o)
{
    TIFFSetWarningHandler(nullptr); // Deflate's old code is written on purpose
    TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), "w");
    if (!tif)
        return false;
    bool ok = writeTiffPage(tif, image, o);
    QImage page = image;
    for (int i = 1; ok && i < o.pages; ++i) {
        page = page.scaled(page.size() / 2);
        ok = writeTiffPage(tif, page, o);
    }
    TIFFClose(tif);
    return ok;
}

bool writeGif(const QString& path, const QImage& source, QSize canvas)
{
    const QImage image = source.convertToFormat(QImage::Format_ARGB32);
    const int w = image.width(), h = image.height();
    QList<QRgb> colours;
    std::vector<GifByteType> indices(std::size_t(w) * h);
    int transparent = -1;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const QRgb p = image.pixel(x, y);
            int index = 0;
            if (qAlpha(p) < 128) {
                if (transparent < 0) {
                    transparent = int(colours.size());
                    colours.append(0);
                }
                index = transparent;
            } else {
                index = int(colours.indexOf(p | 0xff000000u));
                if (index < 0) {
                    if (colours.size() >= 256)
                        return false;
                    index = int(colours.size());
                    colours.append(p | 0xff000000u);
                }
            }
            indices[std::size_t(y) * w + x] = GifByteType(index);
        }
    }
    GifColorType palette[256] = {};
    for (qsizetype i = 0; i < colours.size(); ++i)
        palette[i] = { GifByteType(qRed(colours[i])), GifByteType(qGreen(colours[i])),
            GifByteType(qBlue(colours[i])) };
    int error = 0;
    GifFileType* gif = EGifOpenFileName(QFile::encodeName(path).constData(), false, &error);
    if (!gif)
        return false;
    ColorMapObject* map = GifMakeMapObject(256, palette);
    const QSize screen = canvas.isValid() ? canvas : image.size();
    bool ok = EGifPutScreenDesc(gif, screen.width(), screen.height(), 8, 0, map) != GIF_ERROR;
    if (ok && transparent >= 0) {
        GraphicsControlBlock control {};
        control.TransparentColor = transparent;
        GifByteType ext[4];
        EGifGCBToExtension(&control, ext);
        ok = EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, ext) != GIF_ERROR;
    }
    ok = ok && EGifPutImageDesc(gif, 0, 0, w, h, false, nullptr) != GIF_ERROR;
    for (int y = 0; ok && y < h; ++y)
        ok = EGifPutLine(gif, indices.data() + std::size_t(y) * w, w) != GIF_ERROR;
    GifFreeMapObject(map);
    return EGifCloseFile(gif, &error) != GIF_ERROR && ok;
}

bool writeAnimatedGif(
    const QString& path, QSize canvas, const QList<AnimationFrame>& frames, int loopCount)
{
    int error = 0;
    GifFileType* gif = EGifOpenFileName(QFile::encodeName(path).constData(), false, &error);
    if (!gif)
        return false;
    EGifSetGifVersion(gif, true);
    bool ok = EGifPutScreenDesc(gif, canvas.width(), canvas.height(), 8, 0, nullptr) != GIF_ERROR;
    if (ok && loopCount != 1) {
        const GifByteType sub[] = { 1, GifByteType(loopCount & 0xff), GifByteType(loopCount >> 8) };
        ok = EGifPutExtensionLeader(gif, APPLICATION_EXT_FUNC_CODE) != GIF_ERROR
            && EGifPutExtensionBlock(gif, 11, "NETSCAPE2.0") != GIF_ERROR
            && EGifPutExtensionBlock(gif, 3, sub) != GIF_ERROR
            && EGifPutExtensionTrailer(gif) != GIF_ERROR;
    }
    for (const AnimationFrame& frame : frames) {
        const QImage image = frame.image.convertToFormat(QImage::Format_ARGB32);
        const int w = image.width(), h = image.height();
        // Entry 0 is transparent, the others the frame's colours as they come.
        QList<QRgb> colours { 0 };
        std::vector<GifByteType> indices(std::size_t(w) * h);
        for (int y = 0; ok && y < h; ++y) {
            for (int x = 0; ok && x < w; ++x) {
                const QRgb p = image.pixel(x, y) | 0xff000000u;
                qsizetype index = qAlpha(image.pixel(x, y)) < 128 ? 0 : colours.indexOf(p, 1);
                if (index < 0) {
                    index = colours.size();
                    colours.append(p);
                    ok = colours.size() <= 256;
                }
                indices[std::size_t(y) * w + x] = GifByteType(index);
            }
        }
        GifColorType palette[256] = {};
        for (qsizetype i = 0; ok && i < colours.size(); ++i)
            palette[i] = { GifByteType(qRed(colours[i])), GifByteType(qGreen(colours[i])),
                GifByteType(qBlue(colours[i])) };
        GraphicsControlBlock control {};
        control.DisposalMode = frame.disposal;
        control.DelayTime = frame.delayMs / 10;
        control.TransparentColor = 0;
        GifByteType ext[4];
        EGifGCBToExtension(&control, ext);
        ColorMapObject* map = GifMakeMapObject(256, palette);
        ok = ok && EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, ext) != GIF_ERROR
            && EGifPutImageDesc(gif, frame.at.x(), frame.at.y(), w, h, false, map) != GIF_ERROR;
        for (int y = 0; ok && y < h; ++y)
            ok = EGifPutLine(gif, indices.data() + std::size_t(y) * w, w) != GIF_ERROR;
        GifFreeMapObject(map);
    }
    return EGifCloseFile(gif, &error) != GIF_ERROR && ok;
}

bool writeAnimatedWebP(
    const QString& path, const QList<AnimationFrame>& frames, int loopCount, bool lossy)
{
    const QSize size = frames.front().image.size();
    WebPAnimEncoderOptions options;
    WebPConfig config;
    if (!WebPAnimEncoderOptionsInit(&options) || !WebPConfigInit(&config))
        return false;
    options.anim_params.loop_count = loopCount;
    config.lossless = lossy ? 0 : 1;
    config.quality = 90;
    WebPAnimEncoder* encoder = WebPAnimEncoderNew(size.width(), size.height(), &options);
    bool ok = encoder != nullptr;
    int timestamp = 0;
    for (const AnimationFrame& frame : frames) {
        const QImage image = frame.image.convertToFormat(QImage::Format_ARGB32);
        WebPPicture pic;
        ok = ok && WebPPictureInit(&pic);
        pic.use_argb = 1;
        pic.width = size.width();
        pic.height = size.height();
        ok = ok && WebPPictureImportBGRA(&pic, image.constBits(), int(image.bytesPerLine()))
            && WebPAnimEncoderAdd(encoder, &pic, timestamp, &config);
        WebPPictureFree(&pic);
        timestamp += frame.delayMs;
    }
    WebPData assembled { nullptr, 0 };
    ok = ok && WebPAnimEncoderAdd(encoder, nullptr, timestamp, nullptr)
        && WebPAnimEncoderAssemble(encoder, &assembled)
        && writeBytes(path, assembled.bytes, assembled.size);
    WebPDataClear(&assembled);
    WebPAnimEncoderDelete(encoder);
    return ok;
}

QImage readTiffSamples(const QString& path)
{
    TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), "r");
    if (!tif)
        return {};
    std::uint32_t w = 0, h = 0;
    std::uint16_t bits = 0, samples = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    const std::size_t size = bits / 8, pixel = samples * size;
    QImage image((bits == 8 || bits == 16) && (samples == 3 || samples == 4)
            ? QImage(int(w), int(h),
                bits == 16 ? (samples == 4 ? QImage::Format_RGBA64 : QImage::Format_RGBX64)
                           : (samples == 4 ? QImage::Format_RGBA8888 : QImage::Format_RGBX8888))
            : QImage());
    image.fill(Qt::black); // opaque where no alpha is stored
    std::vector<std::uint8_t> row(std::size_t(TIFFScanlineSize64(tif)));
    for (std::uint32_t y = 0; y < h && !image.isNull(); ++y) {
        if (TIFFReadScanline(tif, row.data(), y, 0) < 0)
            image = QImage();
        for (std::uint32_t x = 0; x < w && !image.isNull(); ++x)
            std::memcpy(image.scanLine(int(y)) + x * 4 * size, row.data() + x * pixel, pixel);
    }
    TIFFClose(tif);
    return image;
}

Read read(const QString& path)
{
    Read r;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return r;
    const QByteArray bytes = f.readAll();
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.constData());
    if (bytes.startsWith("RIFF") && bytes.mid(8, 4) == "WEBP") {
        r.kind = "webp";
        int w = 0, h = 0;
        std::uint8_t* pixels = WebPDecodeBGRA(data, std::size_t(bytes.size()), &w, &h);
        if (pixels) {
            r.image = QImage(pixels, w, h, QImage::Format_ARGB32).copy();
            WebPFree(pixels);
        }
        const WebPData whole { data, std::size_t(bytes.size()) };
        WebPDemuxer* demux = WebPDemux(&whole);
        WebPChunkIterator chunk;
        if (demux && WebPDemuxGetChunk(demux, "ICCP", 1, &chunk)) {
            r.iccProfile = QByteArray(
                reinterpret_cast<const char*>(chunk.chunk.bytes), qsizetype(chunk.chunk.size));
            WebPDemuxReleaseChunkIterator(&chunk);
        }
        r.hasExif = demux && WebPDemuxGetChunk(demux, "EXIF", 1, &chunk);
        if (r.hasExif)
            WebPDemuxReleaseChunkIterator(&chunk);
        WebPDemuxDelete(demux);
        WebPBitstreamFeatures features {};
        if (WebPGetFeatures(data, std::size_t(bytes.size()), &features) == VP8_STATUS_OK)
            r.lossy = features.format == 1;
        if (features.has_animation) {
            WebPAnimDecoderOptions options;
            WebPAnimDecoderOptionsInit(&options);
            options.color_mode = MODE_BGRA;
            WebPAnimDecoder* anim = WebPAnimDecoderNew(&whole, &options);
            WebPAnimInfo info;
            if (anim && WebPAnimDecoderGetInfo(anim, &info)) {
                r.loopCount = int(info.loop_count);
                std::uint8_t* canvas = nullptr;
                int timestamp = 0, before = 0;
                while (WebPAnimDecoderGetNext(anim, &canvas, &timestamp)) {
                    r.frames.append(QImage(canvas, int(info.canvas_width), int(info.canvas_height),
                        QImage::Format_ARGB32)
                                        .copy());
                    r.delays.append(timestamp - before);
                    before = timestamp;
                }
                // Which frame is lossy the first one's header says.
                WebPDemuxer* frames = WebPDemux(&whole);
                WebPIterator it;
                if (frames && WebPDemuxGetFrame(frames, 1, &it)) {
                    r.lossy = WebPGetFeatures(it.fragment.bytes, it.fragment.size, &features)
                            == VP8_STATUS_OK
                        && features.format == 1;
                    WebPDemuxReleaseIterator(&it);
                }
                WebPDemuxDelete(frames);
            }
            WebPAnimDecoderDelete(anim);
            if (!r.frames.isEmpty())
                r.image = r.frames.front();
        }
    } else if (bytes.startsWith("II*") || bytes.startsWith(QByteArray("MM\0*", 4))) {
        r.kind = "tiff";
        TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), "r");
        if (!tif)
            return r;
        std::uint32_t w = 0, h = 0;
        std::uint16_t bits = 0;
        TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
        TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
        TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
        TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &r.compression);
        r.bits = bits;
        r.lossy = r.compression == COMPRESSION_JPEG;
        std::uint32_t iccSize = 0;
        void* icc = nullptr;
        if (TIFFGetField(tif, TIFFTAG_ICCPROFILE, &iccSize, &icc))
            r.iccProfile = QByteArray(static_cast<const char*>(icc), qsizetype(iccSize));
        std::uint64_t exifOffset = 0;
        r.hasExif = TIFFGetField(tif, TIFFTAG_EXIFIFD, &exifOffset);
        std::vector<std::uint32_t> raster(std::size_t(w) * h);
        if (TIFFReadRGBAImageOriented(tif, w, h, raster.data(), ORIENTATION_TOPLEFT, 0)) {
            r.image = QImage(int(w), int(h), QImage::Format_ARGB32);
            for (std::uint32_t y = 0; y < h; ++y)
                for (std::uint32_t x = 0; x < w; ++x) {
                    const std::uint32_t v = raster[std::size_t(y) * w + x];
                    r.image.setPixel(int(x), int(y),
                        qUnpremultiply(qRgba(int(TIFFGetR(v)), int(TIFFGetG(v)), int(TIFFGetB(v)),
                            int(TIFFGetA(v)))));
                }
        }
        TIFFClose(tif);
    } else if (bytes.mid(4, 4) == "ftyp") {
        readHeif(bytes, r);
    } else if (bytes.startsWith("GIF8")) {
        r.kind = "gif";
        int error = 0;
        GifFileType* gif = DGifOpenFileName(QFile::encodeName(path).constData(), &error);
        if (!gif || DGifSlurp(gif) == GIF_ERROR || gif->ImageCount < 1) {
            DGifCloseFile(gif, &error);
            return r;
        }
        r.loopCount = 1;
        for (int k = 0; k < gif->ImageCount; ++k) {
            GraphicsControlBlock control {};
            control.TransparentColor = NO_TRANSPARENT_COLOR;
            DGifSavedExtensionToGCB(gif, k, &control);
            const SavedImage& frame = gif->SavedImages[k];
            const ColorMapObject* map
                = frame.ImageDesc.ColorMap ? frame.ImageDesc.ColorMap : gif->SColorMap;
            QImage image(frame.ImageDesc.Width, frame.ImageDesc.Height, QImage::Format_ARGB32);
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x) {
                    const int i = frame.RasterBits[y * image.width() + x];
                    const GifColorType c = map->Colors[i];
                    image.setPixel(
                        x, y, i == control.TransparentColor ? 0u : qRgb(c.Red, c.Green, c.Blue));
                }
            r.frames.append(image);
            r.delays.append(control.DelayTime * 10);
            for (int e = 0; e + 1 < frame.ExtensionBlockCount; ++e) {
                const ExtensionBlock& b = frame.ExtensionBlocks[e];
                const ExtensionBlock& sub = frame.ExtensionBlocks[e + 1];
                if (b.Function == APPLICATION_EXT_FUNC_CODE && b.ByteCount == 11
                    && std::memcmp(b.Bytes, "NETSCAPE2.0", 11) == 0 && sub.ByteCount >= 3)
                    r.loopCount = sub.Bytes[1] | sub.Bytes[2] << 8;
            }
        }
        r.image = r.frames.front();
        if (r.frames.size() == 1) {
            r.frames.clear();
            r.delays.clear();
        }
        DGifCloseFile(gif, &error);
    } else if (bytes.startsWith("\xff\x0a") || bytes.startsWith(QByteArray("\0\0\0\x0cJXL ", 8))) {
        readJxl(bytes, r);
    }
    return r;
}

} // namespace KindFixtures
