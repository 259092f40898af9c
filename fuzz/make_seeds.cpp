// SPDX-License-Identifier: MIT

// fuzz_seeds <folder>: writes the seed corpora <folder>/bmp, <folder>/jpeg, <folder>/png and
// <folder>/kinds from small pictures that the test fixtures make: every BMP layout, icons
// and cursors, every JPEG kind with and without an EXIF orientation, every PNG kind, WebP,
// TIFF, GIF and camera raw (DNG) as the reading program takes them; colour profiles whole and
// damaged in each format's place for them.

#include "tests/common/ColourFixtures.h"
#include "tests/common/DngWriter.h"
#include "tests/common/ImageFixtures.h"
#include "tests/common/KindFixtures.h"
#include "tests/common/PngFixtures.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QtEndian>
#include <cstdio>
#include <gif_lib.h>

using namespace ImageFixtures;

namespace {

QImage testPicture(int w, int h)
{
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y, qRgb(x * 255 / w, y * 255 / h, (x ^ y) * 16 & 255));
    return image;
}

int failures = 0;

// A whole profile and the ways one comes damaged: cut short, its size field and its
// signature wrong.
QList<QPair<QString, QByteArray>> profiles()
{
    const QByteArray whole = ColourFixtures::rgbProfile(64);
    QByteArray lying = whole;
    qToBigEndian<quint32>(8u << 20, lying.data());
    QByteArray unsigned_ = whole;
    unsigned_[36] = 'x';
    return { { "whole", whole }, { "cut", whole.chopped(30) }, { "lying", lying },
        { "unsigned", unsigned_ } };
}

void save(const QString& path, const QByteArray& bytes)
{
    if (bytes.isEmpty() || !writeFile(path, bytes)) {
        std::fprintf(stderr, "fuzz_seeds: cannot write %s\n", qPrintable(path));
        ++failures;
    }
}

void bmpSeeds(const QString& dir)
{
    const int w = 7;
    const int h = 5;
    const auto index = [](int x, int y) { return quint32(x + y) % 4; };
    const QList<QRgb> palette { qRgb(0, 0, 0), qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255) };
    int n = 0;
    auto add = [&](const BmpLayout& layout, const QByteArray& bits) {
        save(QStringLiteral("%1/%2.bmp").arg(dir).arg(n++, 2, 10, QLatin1Char('0')),
            bmpFile(layout, w, h, bits));
    };
    for (int headerSize : { 12, 16, 40, 64, 108, 124 }) {
        for (int bits : { 1, 2, 4, 8, 24 }) {
            if (bits == 2 && headerSize != 40)
                continue;
            BmpLayout layout;
            layout.headerSize = headerSize;
            layout.bitCount = bits;
            if (bits <= 8)
                layout.palette = palette;
            add(layout, packRows(layout, w, h, [&](int x, int y) {
                return bits <= 8 ? index(x, y) : quint32(x * 0x2010 + y * 0x400003);
            }));
        }
    }
    for (int bits : { 4, 8 }) {
        for (bool topDown : { false, true }) {
            BmpLayout layout;
            layout.bitCount = bits;
            layout.compression = bits == 8 ? 1 : 2;
            layout.palette = palette;
            layout.topDown = topDown;
            add(layout, encodeRle(bits, w, h, topDown, index));
        }
    }
    struct Fields
    {
        int bits;
        int compression;
        std::array<quint32, 4> masks;
    };
    for (const Fields& f : {
             Fields { 16, 3, { 0xF800, 0x07E0, 0x001F, 0 } },
             Fields { 16, 6, { 0x0F00, 0x00F0, 0x000F, 0xF000 } },
             Fields { 32, 3, { 0x00FF0000, 0x0000FF00, 0x000000FF, 0 } },
             Fields { 32, 6, { 0x3FF00000, 0x000FFC00, 0x000003FF, 0xC0000000 } },
         }) {
        BmpLayout layout;
        layout.bitCount = f.bits;
        layout.compression = f.compression;
        layout.masks = f.masks;
        add(layout,
            packRows(layout, w, h, [](int x, int y) { return quint32(x * 0x01234567 + y); }));
    }
    BmpLayout plain32;
    plain32.bitCount = 32;
    plain32.topDown = true;
    add(plain32,
        packRows(plain32, w, h, [](int x, int y) { return quint32(x << 24 | y << 8 | x); }));

    // An alpha mask over opaque pixels: read with alpha, written back without it.
    BmpLayout opaque;
    opaque.headerSize = 124;
    opaque.bitCount = 32;
    opaque.compression = 3;
    opaque.masks = { 0xFF000000, 0x0000FF00, 0x000000FF, 0x00FF0000 };
    add(opaque, packRows(opaque, w, h, [](int x, int y) {
        return quint32(x) * 0x25000000u | 0x00FF0000u | quint32(y * 0x3300 | (x ^ y) * 9);
    }));

    // V5 headers with an embedded profile, whole and damaged, and one placed past the end.
    for (const auto& [name, profile] : profiles()) {
        BmpLayout v5;
        v5.headerSize = 124;
        QByteArray file = bmpFile(v5, w, h, packRows(v5, w, h, index));
        qToLittleEndian<quint32>(0x4D424544, file.data() + 14 + 56); // embedded
        qToLittleEndian<quint32>(quint32(file.size() - 14), file.data() + 14 + 112);
        qToLittleEndian<quint32>(
            quint32(profile.size() + (name == "lying" ? 9 : 0)), file.data() + 14 + 116);
        save(QStringLiteral("%1/profile-%2.bmp").arg(dir, name), file + profile);
    }

    // Icons and cursors: a bitmap entry with its mask, and an embedded PNG.
    BmpLayout icon;
    icon.bitCount = 4;
    icon.palette = palette;
    const QByteArray bitmap
        = iconBitmap(icon, 8, 8, packRows(icon, 8, 8, index), [](int x, int y) { return x == y; });
    save(dir + QStringLiteral("/icon.ico"), iconFile(1, { IconEntry { bitmap, 8, 8, 4, {} } }));
    save(dir + QStringLiteral("/cursor.cur"),
        iconFile(2, { IconEntry { bitmap, 8, 8, 4, QPoint(3, 2) } }));
    const QString png = dir + QStringLiteral("/embedded.png");
    if (!PngFixtures::write(png, { 6, 8, false, false }, 8, 8).isNull()) {
        QFile file(png);
        if (file.open(QIODevice::ReadOnly)) {
            save(dir + QStringLiteral("/pngicon.ico"),
                iconFile(1, { IconEntry { file.readAll(), 8, 8, 32, {} } }));
        }
        QFile::remove(png);
    }
}

void jpegSeeds(const QString& dir)
{
    const QImage picture = testPicture(19, 13);
    const struct
    {
        const char* name;
        JpegKind kind;
    } kinds[] = {
        { "baseline", JpegKind::Baseline },
        { "progressive", JpegKind::Progressive },
        { "gray", JpegKind::Grayscale },
        { "cmyk-adobe", JpegKind::CmykAdobe },
        { "cmyk-plain", JpegKind::CmykPlain },
        { "ycck", JpegKind::Ycck },
    };
    // The first byte is the percentage the target reads: 100, 40 and 10 reach every
    // reduction.
    for (const auto& k : kinds) {
        for (char percentage : { char(99), char(39), char(9) }) {
            save(QStringLiteral("%1/%2-%3.jpg")
                     .arg(dir, QLatin1String(k.name))
                     .arg(int(percentage) + 1),
                percentage + jpegFile(picture, k.kind, 75));
        }
    }
    // Profiles in APP2 segments: whole, damaged, split, out of order, and a CMYK one that
    // converts the inks.
    for (const auto& [name, profile] : profiles()) {
        QList<QPair<int, QByteArray>> segments;
        for (const QByteArray& s : ColourFixtures::iccSegments(profile, name == "whole" ? 3 : 1))
            segments << qMakePair(0xE2, s);
        save(QStringLiteral("%1/profile-%2.jpg").arg(dir, name),
            char(39)
                + ColourFixtures::withSegments(
                    jpegFile(picture, JpegKind::Baseline, 50), segments));
        if (name == "whole") {
            std::swap(segments[0], segments[2]);
            save(QStringLiteral("%1/profile-swapped.jpg").arg(dir),
                char(39)
                    + ColourFixtures::withSegments(
                        jpegFile(picture, JpegKind::Baseline, 50), segments));
        }
    }
    for (JpegKind kind : { JpegKind::CmykAdobe, JpegKind::Ycck })
        save(QStringLiteral("%1/profile-cmyk-%2.jpg").arg(dir).arg(int(kind)),
            char(39)
                + ColourFixtures::withSegments(jpegFile(picture, kind, 75),
                    { { 0xE2,
                        ColourFixtures::iccSegments(ColourFixtures::cmykProfile(), 1)[0] } }));
    for (int orientation : { 3, 6, 8 })
        save(QStringLiteral("%1/exif-%2.jpg").arg(dir).arg(orientation),
            char(39)
                + jpegFile(picture, JpegKind::Baseline, 50,
                    exifOrientation(orientation, orientation == 6)));
}

void pngSeeds(const QString& dir)
{
    int n = 0;
    for (const PngFixtures::NamedKind& k : PngFixtures::allKinds()) {
        const QString path = QStringLiteral("%1/%2.png").arg(dir).arg(n++, 2, 10, QLatin1Char('0'));
        if (PngFixtures::write(path, k.kind, 9, 6).isNull()) {
            std::fprintf(stderr, "fuzz_seeds: cannot write %s\n", qPrintable(path));
            ++failures;
        }
    }
    // Colour chunks: iCCP whole and damaged, sRGB, gAMA with cHRM, on the direct decoder's
    // kind (RGB) and on libpng's (palette).
    QList<QPair<QString, QList<QPair<QByteArray, QByteArray>>>> sets;
    for (const auto& [name, profile] : profiles())
        sets.append({ "iccp-" + name, { { "iCCP", ColourFixtures::iccpData(profile) } } });
    sets.append({ "srgb", { { "sRGB", QByteArray(1, '\0') } } });
    sets.append({ "gama-chrm",
        { { "gAMA", QByteArray::fromHex("0000b18f") },
            { "cHRM",
                QByteArray::fromHex("00007a2600008084"
                                    "0000fa00000080e8"
                                    "0000753000"
                                    "00ea60"
                                    "00003a9800001770") } } });
    for (const auto& [name, chunks] : sets) {
        for (int colorType : { 2, 3 }) {
            const QString plain = dir + QStringLiteral("/plain.png");
            if (PngFixtures::write(plain, { colorType, 8, false, false }, 9, 6).isNull())
                continue;
            QFile file(plain);
            if (file.open(QIODevice::ReadOnly))
                save(QStringLiteral("%1/%2-%3.png").arg(dir, name).arg(colorType),
                    ColourFixtures::withChunks(file.readAll(), chunks));
            QFile::remove(plain);
        }
    }
}

// Written by libwebp, libtiff and giflib: lossy and lossless WebP with and without alpha and
// an EXIF orientation, TIFF of every compression the thumbnails keep, striped and tiled, 8
// and 16 bits, turned, with a profile and with a second page, GIFs, animated GIFs and
// WebPs, HEIC and AVIF written by libheif, and JPEG XL by libjxl.
// Camera raw files: DNGs without a preview, with one as large as the picture, with a small
// one, turned. Each ends in an odd byte and a percentage byte, which make the fuzz target
// name its input as a DNG and pick the size (a TIFF reader ignores what follows the IFDs).
void rawSeeds(const QString& dir, int& n)
{
    const QImage picture = testPicture(32, 24).convertToFormat(QImage::Format_RGB888);
    const struct
    {
        int orientation;
        QSize preview;
        char percentage;
    } seeds[] = { { 1, {}, 39 }, { 6, {}, 79 }, { 1, { 32, 24 }, 39 }, { 8, { 32, 24 }, 9 },
        { 3, { 8, 6 }, 59 } };
    for (const auto& seed : seeds) {
        DngWriter::Options o;
        o.orientation = seed.orientation;
        if (!seed.preview.isEmpty()) {
            QByteArray jpeg;
            QBuffer buffer(&jpeg);
            buffer.open(QIODevice::WriteOnly);
            picture.scaled(seed.preview).save(&buffer, "JPG", 50);
            o.preview.assign(jpeg.begin(), jpeg.end());
            o.previewWidth = seed.preview.width();
            o.previewHeight = seed.preview.height();
        }
        const std::vector<std::uint8_t> bytes
            = DngWriter::write(picture.constBits(), picture.width(), picture.height(), o);
        save(QStringLiteral("%1/%2.dng").arg(dir).arg(n++, 2, 10, QLatin1Char('0')),
            QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()))
                + '\x01' + seed.percentage);
    }
}

void kindSeeds(const QString& dir)
{
    const QImage opaque = testPicture(19, 13);
    QImage alphaImage = opaque.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < alphaImage.height(); ++y)
        alphaImage.setPixel(0, y, qRgba(10, 20, 30, y * 16));
    const QImage& alpha = alphaImage;
    const auto check = [](bool written, const QString& path) {
        if (!written) {
            std::fprintf(stderr, "fuzz_seeds: cannot write %s\n", qPrintable(path));
            ++failures;
        }
    };
    int n = 0;
    const auto name = [&](const char* extension) {
        return QStringLiteral("%1/%2.%3")
            .arg(dir)
            .arg(n++, 2, 10, QLatin1Char('0'))
            .arg(QLatin1String(extension));
    };
    for (const QImage* image : { &opaque, &alpha }) {
        for (bool lossy : { false, true }) {
            KindFixtures::Options o;
            o.lossy = lossy;
            o.quality = 50;
            o.orientation = lossy ? 6 : 1;
            const QString path = name("webp");
            check(KindFixtures::writeWebP(path, *image, o), path);
        }
        const QString gif = name("gif");
        check(KindFixtures::writeGif(gif, *image, QSize(23, 15)), gif);
    }
    // Animations: GIF frames placed, clipped and disposed each way; WebP frames blended.
    const QImage small = testPicture(7, 5);
    const QList<KindFixtures::AnimationFrame> gifFrames { { opaque, {}, 40, DISPOSE_DO_NOT },
        { small, { 3, 2 }, 60, DISPOSE_PREVIOUS }, { alpha, { 4, 6 }, 80, DISPOSE_BACKGROUND },
        { small, { 15, 10 }, 0, DISPOSE_DO_NOT } };
    for (int loopCount : { 0, 1 }) {
        const QString path = name("gif");
        check(KindFixtures::writeAnimatedGif(path, QSize(19, 13), gifFrames, loopCount), path);
    }
    const QList<KindFixtures::AnimationFrame> webpFrames { { opaque, {}, 40 }, { alpha, {}, 60 },
        { opaque.mirrored(), {}, 80 } };
    for (bool lossy : { false, true }) {
        const QString path = name("webp");
        check(KindFixtures::writeAnimatedWebP(path, webpFrames, lossy ? 2 : 0, lossy), path);
    }
    const QByteArray profile = profiles().first().second;
    for (std::uint16_t compression : { 1, 5, 8, 32773, 7 }) {
        for (int tiled : { 0, 16 }) {
            KindFixtures::Options o;
            o.lossy = compression == 7;
            o.compression = compression == 7 ? 1 : compression;
            o.tileSize = tiled;
            o.bits = compression == 8 ? 16 : 8;
            o.orientation = compression == 5 ? 8 : 1;
            o.iccProfile = compression == 32773 ? profile : QByteArray();
            o.pages = compression == 1 ? 2 : 1;
            const QString path = name("tif");
            check(KindFixtures::writeTiff(path, tiled ? alpha : opaque, o), path);
        }
    }
    // HEIC and AVIF: 8 bits with a thumbnail picture inside, 10 bits turned (HEIC with alpha).
    for (bool avif : { false, true }) {
        for (int bits : { 8, 10 }) {
            KindFixtures::Options o;
            o.quality = 50;
            o.bits = bits;
            o.orientation = bits == 10 ? 6 : 1;
            o.thumbnail = bits == 8 ? 8 : 0;
            const QString path = name(avif ? "avif" : "heic");
            check(
                KindFixtures::writeHeif(path, bits == 10 && !avif ? alpha : opaque, o, avif), path);
        }
    }
    // JPEG XL by libjxl: lossy and lossless, alpha, 16 and 10 bits, turned, a profile, PQ
    // code points, a recompressed JPEG.
    for (int variant = 0; variant < 8; ++variant) {
        KindFixtures::Options o;
        o.lossy = variant % 2 == 1;
        o.bits = variant == 2 ? 16 : variant == 3 ? 10 : 8;
        o.orientation = variant == 1 ? 6 : 1;
        o.iccProfile = variant == 4 ? profile : QByteArray();
        o.cicp = variant == 5 ? QList<int> { 9, 16 } : QList<int> {};
        o.fromJpeg = variant == 7;
        const QString path = name("jxl");
        check(KindFixtures::writeJxl(path, variant % 4 == 0 ? alpha : opaque, o), path);
    }
    const QString animatedJxl = name("jxl");
    check(KindFixtures::writeAnimatedJxl(animatedJxl, webpFrames, 2, true), animatedJxl);
    rawSeeds(dir, n);
}

} // namespace

// x265 keeps a few blocks of its own for the whole process, which LeakSanitizer reports.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libx265.so\n";
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fputs("usage: fuzz_seeds <folder>\n", stderr);
        return 2;
    }
    const QString root = QFile::decodeName(argv[1]);
    for (const char* sub : { "bmp", "jpeg", "png", "kinds" })
        QDir().mkpath(root + QLatin1Char('/') + QLatin1String(sub));
    bmpSeeds(root + QStringLiteral("/bmp"));
    jpegSeeds(root + QStringLiteral("/jpeg"));
    pngSeeds(root + QStringLiteral("/png"));
    kindSeeds(root + QStringLiteral("/kinds"));
    return failures == 0 ? 0 : 1;
}
