// SPDX-License-Identifier: MIT

#include "tests/common/PngFixtures.h"

#include <QFile>
#include <QtEndian>
#include <cstdio>
#include <memory>
#include <png.h>
#include <vector>

namespace PngFixtures {

namespace {

quint32 mix(quint32 a)
{
    a ^= a >> 16;
    a *= 0x7feb352dU;
    a ^= a >> 15;
    a *= 0x846ca68bU;
    a ^= a >> 16;
    return a;
}

int channelsOf(int colorType)
{
    switch (colorType) {
    case PNG_COLOR_TYPE_GRAY_ALPHA:
        return 2;
    case PNG_COLOR_TYPE_RGB:
        return 3;
    case PNG_COLOR_TYPE_RGB_ALPHA:
        return 4;
    default:
        return 1;
    }
}

// The 8-bit value a reader should see for a sample of `depth` bits.
int to8(int value, int depth)
{
    if (depth == 16)
        return (value * 255 + 32767) / 65535;
    return value * 255 / ((1 << depth) - 1);
}

struct WriteJob
{
    png_structp png;
    png_infop info;
    FILE* file;
    png_uint_32 width;
    png_uint_32 height;
    int bitDepth;
    int colorType;
    int interlace;
    const png_color* palette; // null: none
    int paletteSize;
    const png_byte* trnsAlpha; // palette tRNS
    int trnsCount; // 0: no tRNS
    png_color_16* trnsColor; // grey or RGB tRNS
    png_bytepp rows; // null: header and `idat` only
    const png_byte* idat;
    size_t idatSize;
};

// libpng leaves this function by longjmp on error, so it holds no C++ object.
bool writeGuarded(const WriteJob& job)
{
    if (setjmp(png_jmpbuf(job.png)))
        return false;
    png_init_io(job.png, job.file);
    png_set_IHDR(job.png, job.info, job.width, job.height, job.bitDepth, job.colorType,
        job.interlace, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (job.palette)
        png_set_PLTE(job.png, job.info, job.palette, job.paletteSize);
    if (job.trnsCount > 0)
        png_set_tRNS(job.png, job.info, job.trnsAlpha, job.trnsCount, job.trnsColor);
    png_write_info(job.png, job.info);
    if (job.rows) {
        png_write_image(job.png, job.rows);
        png_write_end(job.png, nullptr);
    } else {
        png_write_chunk(job.png, reinterpret_cast<png_const_bytep>("IDAT"), job.idat, job.idatSize);
        png_write_chunk(job.png, reinterpret_cast<png_const_bytep>("IEND"), nullptr, 0);
    }
    return true;
}

struct FileCloser
{
    void operator()(FILE* file) const { std::fclose(file); }
};

bool runWrite(const QString& path, WriteJob job)
{
    std::unique_ptr<FILE, FileCloser> file(std::fopen(QFile::encodeName(path).constData(), "wb"));
    if (!file)
        return false;
    job.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    job.info = job.png ? png_create_info_struct(job.png) : nullptr;
    job.file = file.get();
    const bool ok = job.info && writeGuarded(job);
    png_destroy_write_struct(&job.png, &job.info);
    return std::fclose(file.release()) == 0 && ok;
}

void putSample(png_bytep row, int index, int depth, int value)
{
    if (depth == 16) {
        row[2 * index] = png_byte(value >> 8);
        row[2 * index + 1] = png_byte(value);
    } else if (depth == 8) {
        row[index] = png_byte(value);
    } else {
        const int bit = index * depth;
        row[bit / 8] |= png_byte(value << (8 - depth - bit % 8));
    }
}

} // namespace

QList<NamedKind> allKinds()
{
    QList<NamedKind> kinds;
    auto add = [&](const char* name, int type, int depth, bool trns, bool interlaced) {
        QString label = QStringLiteral("%1 %2").arg(QLatin1String(name)).arg(depth);
        if (trns)
            label += QLatin1String(" tRNS");
        if (interlaced)
            label += QLatin1String(" interlaced");
        kinds.append({ label, Kind { type, depth, trns, interlaced } });
    };
    for (bool trns : { false, true }) {
        for (int depth : { 1, 2, 4, 8, 16 })
            add("grey", PNG_COLOR_TYPE_GRAY, depth, trns, false);
        for (int depth : { 1, 2, 4, 8 })
            add("palette", PNG_COLOR_TYPE_PALETTE, depth, trns, false);
        for (int depth : { 8, 16 })
            add("rgb", PNG_COLOR_TYPE_RGB, depth, trns, false);
    }
    for (int depth : { 8, 16 }) {
        add("grey+alpha", PNG_COLOR_TYPE_GRAY_ALPHA, depth, false, false);
        add("rgba", PNG_COLOR_TYPE_RGB_ALPHA, depth, false, false);
    }
    add("grey", PNG_COLOR_TYPE_GRAY, 2, true, true);
    add("grey+alpha", PNG_COLOR_TYPE_GRAY_ALPHA, 16, false, true);
    add("rgb", PNG_COLOR_TYPE_RGB, 16, true, true);
    add("rgba", PNG_COLOR_TYPE_RGB_ALPHA, 8, false, true);
    add("palette", PNG_COLOR_TYPE_PALETTE, 4, true, true);
    return kinds;
}

QImage write(const QString& path, const Kind& kind, int width, int height)
{
    const int depth = kind.bitDepth;
    const int channels = channelsOf(kind.colorType);
    const bool isPalette = kind.colorType == PNG_COLOR_TYPE_PALETTE;
    const int maxValue = (1 << depth) - 1;

    std::vector<png_color> palette;
    std::vector<png_byte> paletteAlpha;
    if (isPalette) {
        palette.resize(std::min(1 << depth, 256));
        for (size_t i = 0; i < palette.size(); ++i) {
            const quint32 h = mix(quint32(i) + 977);
            palette[i] = { png_byte(h), png_byte(h >> 8), png_byte(h >> 16) };
        }
        if (kind.transparencyChunk) {
            // One entry short of the palette: the last entry stays opaque by default.
            paletteAlpha.resize(std::max<size_t>(1, palette.size() - 1));
            for (size_t i = 0; i < paletteAlpha.size(); ++i)
                paletteAlpha[i] = i % 3 == 0 ? 0
                    : i % 3 == 1             ? png_byte(1 + mix(quint32(i)) % 254)
                                             : 255;
        }
    }
    const int sampleMax = isPalette ? int(palette.size()) - 1 : maxValue;

    // Raw samples, channel-interleaved; every fifth pixel repeats the first one so that a
    // tRNS colour taken from it occurs several times.
    std::vector<int> samples(size_t(width) * height * channels);
    auto at = [&](int x, int y, int c) -> int& {
        return samples[(size_t(y) * width + x) * channels + c];
    };
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < channels; ++c) {
                int value;
                if ((x + 2 * y) % 5 == 0 && (x | y) != 0)
                    value = at(0, 0, c);
                else if (x == 0)
                    value = c == 0 ? 0 : sampleMax;
                else if (x == 1)
                    value = sampleMax;
                else
                    value = int(mix(quint32(x * 7919 + y * 104729 + c * 31 + depth))
                        % quint32(sampleMax + 1));
                at(x, y, c) = value;
            }

    png_color_16 trnsColor {};
    if (kind.transparencyChunk && !isPalette) {
        trnsColor.gray = png_uint_16(at(0, 0, 0));
        if (channels == 3) {
            trnsColor.red = png_uint_16(at(0, 0, 0));
            trnsColor.green = png_uint_16(at(0, 0, 1));
            trnsColor.blue = png_uint_16(at(0, 0, 2));
        }
    }

    const size_t rowBytes = (size_t(width) * channels * depth + 7) / 8;
    std::vector<std::vector<png_byte>> rowData(height, std::vector<png_byte>(rowBytes, 0));
    std::vector<png_bytep> rows(height);
    QImage expected(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y) {
        rows[y] = rowData[y].data();
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < channels; ++c)
                putSample(rows[y], x * channels + c, depth, at(x, y, c));
            QRgb pixel;
            if (isPalette) {
                const size_t index = size_t(at(x, y, 0));
                const int alpha = index < paletteAlpha.size() ? paletteAlpha[index] : 255;
                pixel = qRgba(palette[index].red, palette[index].green, palette[index].blue, alpha);
            } else if (channels <= 2) {
                const int grey = to8(at(x, y, 0), depth);
                int alpha = channels == 2 ? to8(at(x, y, 1), depth) : 255;
                if (kind.transparencyChunk && at(x, y, 0) == trnsColor.gray)
                    alpha = 0;
                pixel = qRgba(grey, grey, grey, alpha);
            } else {
                int alpha = channels == 4 ? to8(at(x, y, 3), depth) : 255;
                if (kind.transparencyChunk && at(x, y, 0) == trnsColor.red
                    && at(x, y, 1) == trnsColor.green && at(x, y, 2) == trnsColor.blue)
                    alpha = 0;
                pixel = qRgba(to8(at(x, y, 0), depth), to8(at(x, y, 1), depth),
                    to8(at(x, y, 2), depth), alpha);
            }
            expected.setPixel(x, y, pixel);
        }
    }

    WriteJob job {};
    job.width = png_uint_32(width);
    job.height = png_uint_32(height);
    job.bitDepth = depth;
    job.colorType = kind.colorType;
    job.interlace = kind.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE;
    if (isPalette) {
        job.palette = palette.data();
        job.paletteSize = int(palette.size());
        job.trnsAlpha = paletteAlpha.data();
        job.trnsCount = int(paletteAlpha.size());
    } else if (kind.transparencyChunk) {
        job.trnsCount = 1;
        job.trnsColor = &trnsColor;
    }
    job.rows = rows.data();
    return runWrite(path, job) ? expected : QImage();
}

bool writeHeaderOnly(const QString& path, quint32 width, quint32 height)
{
    static const png_byte someData[] = { 0x78, 0x9c, 0x63, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01 };
    WriteJob job {};
    job.width = width;
    job.height = height;
    job.bitDepth = 8;
    job.colorType = PNG_COLOR_TYPE_RGB;
    job.interlace = PNG_INTERLACE_NONE;
    job.idat = someData;
    job.idatSize = sizeof someData;
    return runWrite(path, job);
}

bool damageImageData(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        return false;
    QByteArray bytes = file.readAll();
    const qsizetype type = bytes.indexOf("IDAT");
    if (type < 4)
        return false;
    const auto length = qFromBigEndian<quint32>(bytes.constData() + type - 4);
    if (length == 0 || type + 4 + qsizetype(length) > bytes.size())
        return false;
    for (qsizetype i = type + 4 + length / 2;
         i < type + 4 + qsizetype(length) && i < type + 8 + length / 2; ++i)
        bytes[i] = char(~bytes[i]);
    return file.seek(0) && file.write(bytes) == bytes.size();
}

Header readHeader(const QString& path)
{
    Header header;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return header;
    const QByteArray bytes = file.read(33);
    static const char signature[] = "\x89PNG\r\n\x1a\n";
    if (bytes.size() < 33 || !bytes.startsWith(QByteArray(signature, 8))
        || bytes.mid(12, 4) != "IHDR")
        return header;
    auto be32 = [&](int at) {
        return int(quint32(uchar(bytes[at])) << 24 | quint32(uchar(bytes[at + 1])) << 16
            | quint32(uchar(bytes[at + 2])) << 8 | quint32(uchar(bytes[at + 3])));
    };
    header.width = be32(16);
    header.height = be32(20);
    header.bitDepth = uchar(bytes[24]);
    header.colorType = uchar(bytes[25]);
    return header;
}

} // namespace PngFixtures
