// SPDX-License-Identifier: MIT

#include "tests/common/ImageFixtures.h"

#include <QFile>
#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <jpeglib.h>
#include <vector>

namespace ImageFixtures {

namespace {

void put16(QByteArray& b, quint32 v)
{
    b.append(char(v & 0xFF));
    b.append(char((v >> 8) & 0xFF));
}
void put32(QByteArray& b, quint32 v)
{
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}

} // namespace

QByteArray packRows(const BmpLayout& layout, int width, int height, const PixelValue& value)
{
    const int bpp = layout.bitCount;
    const qsizetype stride = (qsizetype(width) * bpp + 31) / 32 * 4;
    QByteArray bits(stride * height, '\0');
    for (int y = 0; y < height; ++y) {
        const int stored = layout.topDown ? y : height - 1 - y;
        auto* row = reinterpret_cast<uchar*>(bits.data() + stored * stride);
        for (int x = 0; x < width; ++x) {
            const quint32 v = value(x, y);
            switch (bpp) {
            case 1:
            case 2:
            case 4:
            case 8: {
                const int perByte = 8 / bpp;
                const int shift = 8 - bpp * (x % perByte + 1);
                row[x / perByte] |= uchar((v & ((1u << bpp) - 1)) << shift);
                break;
            }
            case 16:
                row[2 * x] = uchar(v);
                row[2 * x + 1] = uchar(v >> 8);
                break;
            case 24:
                row[3 * x] = uchar(v);
                row[3 * x + 1] = uchar(v >> 8);
                row[3 * x + 2] = uchar(v >> 16);
                break;
            case 32:
                for (int i = 0; i < 4; ++i)
                    row[4 * x + i] = uchar(v >> (8 * i));
                break;
            }
        }
    }
    return bits;
}

QByteArray encodeRle(int bitCount, int width, int height, bool topDown, const PixelValue& index)
{
    const bool four = bitCount == 4;
    QByteArray out;
    for (int stored = 0; stored < height; ++stored) {
        const int y = topDown ? stored : height - 1 - stored;
        std::vector<int> row(static_cast<size_t>(width));
        for (int x = 0; x < width; ++x)
            row[size_t(x)] = int(index(x, y));
        int x = 0;
        while (x < width) {
            int run = 1;
            while (x + run < width && run < 255 && row[size_t(x + run)] == row[size_t(x)])
                ++run;
            if (run >= 2 || width - x < 3) {
                const int n = std::min(run, width - x);
                out.append(char(n));
                out.append(char(four ? (row[size_t(x)] << 4) | row[size_t(x)] : row[size_t(x)]));
                x += n;
                continue;
            }
            // A literal group up to the next pair of equal values.
            int n = 1;
            while (x + n < width && n < 255
                && !(x + n + 1 < width && row[size_t(x + n)] == row[size_t(x + n + 1)]))
                ++n;
            if (n < 3) {
                out.append(char(1));
                out.append(char(four ? row[size_t(x)] << 4 : row[size_t(x)]));
                x += 1;
                continue;
            }
            out.append(char(0));
            out.append(char(n));
            QByteArray group;
            for (int i = 0; i < n; ++i) {
                const int v = row[size_t(x + i)];
                if (!four)
                    group.append(char(v));
                else if (i % 2 == 0)
                    group.append(char(v << 4));
                else
                    group[group.size() - 1] = char(group.back() | v);
            }
            if (group.size() % 2)
                group.append('\0');
            out.append(group);
            x += n;
        }
        out.append(char(0));
        out.append(char(0));
    }
    out.append(char(0));
    out.append(char(1));
    return out;
}

QByteArray bmpFile(const BmpLayout& layout, int width, int height, const QByteArray& bits)
{
    QByteArray info;
    const bool core = layout.headerSize == 12;
    put32(info, quint32(layout.headerSize));
    if (core) {
        put16(info, quint32(width));
        put16(info, quint32(height));
        put16(info, 1);
        put16(info, quint32(layout.bitCount));
    } else {
        put32(info, quint32(width));
        put32(info, quint32(layout.topDown ? -height : height));
        put16(info, 1);
        put16(info, quint32(layout.bitCount));
        put32(info, quint32(layout.compression));
        put32(info, quint32(bits.size()));
        put32(info, 2835);
        put32(info, 2835);
        put32(info, quint32(layout.coloursUsed >= 0 ? layout.coloursUsed : layout.palette.size()));
        put32(info, 0);
        for (quint32 m : layout.masks)
            put32(info, m);
        if (layout.headerSize >= 108)
            put32(info, 0x73524742); // sRGB
        info.resize(layout.headerSize, '\0');
    }
    // A 40-byte header keeps its bit field masks after it.
    const bool bitfields = layout.compression == 3 || layout.compression == 6;
    if (bitfields && layout.headerSize == 40) {
        for (int i = 0; i < (layout.compression == 6 ? 4 : 3); ++i)
            put32(info, layout.masks[size_t(i)]);
    }
    for (QRgb c : layout.palette) {
        info.append(char(qBlue(c)));
        info.append(char(qGreen(c)));
        info.append(char(qRed(c)));
        if (!core)
            info.append('\0');
    }
    QByteArray file("BM");
    const quint32 offset = 14 + quint32(info.size());
    put32(file, offset + quint32(bits.size()));
    put32(file, 0);
    put32(file, offset);
    return file + info + bits;
}

QByteArray iconBitmap(const BmpLayout& layout, int width, int height, const QByteArray& bits,
    const std::function<bool(int x, int y)>& transparent)
{
    BmpLayout maskLayout;
    maskLayout.bitCount = 1;
    maskLayout.topDown = layout.topDown;
    const QByteArray mask = packRows(maskLayout, width, height,
        [&](int x, int y) { return quint32(transparent(x, y) ? 1 : 0); });
    return bmpFile(layout, width, 2 * height, bits + mask).mid(14);
}

QByteArray iconFile(int type, const QList<IconEntry>& entries)
{
    QByteArray b;
    put16(b, 0);
    put16(b, quint32(type));
    put16(b, quint32(entries.size()));
    quint32 offset = 6 + 16 * quint32(entries.size());
    for (const IconEntry& e : entries) {
        b.append(char(e.width >= 256 ? 0 : e.width));
        b.append(char(e.height >= 256 ? 0 : e.height));
        b.append('\0');
        b.append('\0');
        put16(b, type == 2 ? quint32(e.hotspot.x()) : 1);
        put16(b, type == 2 ? quint32(e.hotspot.y()) : quint32(e.bitCount));
        put32(b, quint32(e.data.size()));
        put32(b, offset);
        offset += quint32(e.data.size());
    }
    for (const IconEntry& e : entries)
        b.append(e.data);
    return b;
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile::remove(path); // a new file is much faster to write than a truncated one
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() && f.flush();
}

QString saveIn(const QTemporaryDir& dir, const QByteArray& bytes, const QString& name)
{
    const QString path = dir.filePath(name);
    if (!writeFile(path, bytes))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

QByteArray exifOrientation(int orientation, bool bigEndian)
{
    QByteArray b("Exif\0\0", 6);
    auto p16 = [&](quint32 v) {
        if (bigEndian) {
            b.append(char(v >> 8));
            b.append(char(v));
        } else {
            put16(b, v);
        }
    };
    auto p32 = [&](quint32 v) {
        if (bigEndian) {
            p16(v >> 16);
            p16(v & 0xFFFF);
        } else {
            put32(b, v);
        }
    };
    b.append(bigEndian ? "MM" : "II");
    p16(42);
    p32(8); // first IFD right after the TIFF header
    p16(2); // two entries: an unrelated one first
    p16(0x010F); // Make, ASCII, fits in place
    p16(2);
    p32(4);
    b.append("Ab\0\0", 4);
    p16(0x0112); // Orientation, SHORT
    p16(3);
    p32(1);
    p16(quint32(orientation));
    p16(0);
    p32(0);
    return b;
}

namespace {

struct JpegErrorJump
{
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

void jumpOnError(j_common_ptr cinfo)
{
    std::longjmp(reinterpret_cast<JpegErrorJump*>(cinfo->err)->jump, 1);
}

// No C++ objects live between setjmp and the longjmp out of libjpeg.
bool compress(jpeg_compress_struct& cinfo, JpegErrorJump& err, JpegKind kind, int quality,
    const QByteArray& app1, const std::vector<JSAMPLE>& pixels, int width, int height,
    int components, unsigned char** out, unsigned long* outSize)
{
    cinfo.err = jpeg_std_error(&err.base);
    err.base.error_exit = jumpOnError;
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&cinfo);
        return false;
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, out, outSize);
    cinfo.image_width = JDIMENSION(width);
    cinfo.image_height = JDIMENSION(height);
    cinfo.input_components = components;
    cinfo.in_color_space = components == 1 ? JCS_GRAYSCALE : components == 3 ? JCS_RGB : JCS_CMYK;
    jpeg_set_defaults(&cinfo);
    if (kind == JpegKind::Ycck)
        jpeg_set_colorspace(&cinfo, JCS_YCCK);
    if (kind == JpegKind::CmykPlain)
        cinfo.write_Adobe_marker = FALSE;
    jpeg_set_quality(&cinfo, quality, TRUE);
    if (kind == JpegKind::Progressive)
        jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    if (!app1.isEmpty())
        jpeg_write_marker(&cinfo, JPEG_APP0 + 1, reinterpret_cast<const JOCTET*>(app1.constData()),
            unsigned(app1.size()));
    const size_t stride = size_t(cinfo.image_width) * size_t(components);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPLE*>(pixels.data()) + stride * cinfo.next_scanline;
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return true;
}

} // namespace

QByteArray jpegFile(const QImage& picture, JpegKind kind, int quality, const QByteArray& app1)
{
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB32);
    const int components = kind == JpegKind::Grayscale                  ? 1
        : (kind == JpegKind::Baseline || kind == JpegKind::Progressive) ? 3
                                                                        : 4;
    const bool inverted = kind == JpegKind::CmykAdobe || kind == JpegKind::Ycck;
    std::vector<JSAMPLE> pixels;
    pixels.reserve(size_t(rgb.width()) * size_t(rgb.height()) * size_t(components));
    for (int y = 0; y < rgb.height(); ++y) {
        for (int x = 0; x < rgb.width(); ++x) {
            const QRgb c = rgb.pixel(x, y);
            const int r = qRed(c), g = qGreen(c), b = qBlue(c);
            if (components == 1) {
                pixels.push_back(JSAMPLE(qGray(c)));
            } else if (components == 3) {
                pixels.insert(pixels.end(), { JSAMPLE(r), JSAMPLE(g), JSAMPLE(b) });
            } else {
                const int k = 255 - std::max({ r, g, b });
                auto ink = [k](int v) { return k == 255 ? 0 : (255 - v - k) * 255 / (255 - k); };
                const int cmyk[4] = { ink(r), ink(g), ink(b), k };
                for (int v : cmyk)
                    pixels.push_back(JSAMPLE(inverted ? 255 - v : v));
            }
        }
    }

    jpeg_compress_struct cinfo {};
    JpegErrorJump err {};
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    const bool ok = compress(cinfo, err, kind, quality, app1, pixels, rgb.width(), rgb.height(),
        components, &out, &outSize);
    QByteArray result;
    if (ok)
        result = QByteArray(reinterpret_cast<const char*>(out), qsizetype(outSize));
    std::free(out);
    return result;
}

QImage gradient(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb((x * 255) / width, (y * 255) / height, 90));
    return image;
}

QImage noise(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    quint32 state = 2463534242u; // xorshift32
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            row[x] = 0xff000000u | (state & 0xffffffu);
        }
    }
    return image;
}

} // namespace ImageFixtures
