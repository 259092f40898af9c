// SPDX-License-Identifier: MIT

#include "imaging/Bmp.h"
#include "imaging/Pictures.h"
#include "imaging/SaveAsJPG.h"
#include "imaging/core/ColourSpace.h"
#include "imaging/core/Quantise.h"
#include "tests/common/ColourFixtures.h"
#include "tests/common/ImageFixtures.h"

#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>
#include <cmath>
#include <functional>

using namespace ColourFixtures;
using ImageCore::ColourSpace;
using Kind = ImageCore::ColourSpace::Kind;
using Painter = std::function<std::uint32_t(int x, int y)>;
Q_DECLARE_METATYPE(Painter)

namespace {

QByteArray bytesOf(const std::vector<std::uint8_t>& v)
{
    return QByteArray(reinterpret_cast<const char*>(v.data()), qsizetype(v.size()));
}

QList<QPair<int, QByteArray>> app2(const QList<QByteArray>& payloads)
{
    QList<QPair<int, QByteArray>> segments;
    for (const QByteArray& p : payloads)
        segments << qMakePair(0xE2, p);
    return segments;
}

// A 24-bit BMP with a V5 header whose colour fields say `type`, an embedded profile after
// the pixels when `profile` is given, placed `profileShift` bytes further than it lies.
QByteArray v5Bmp(quint32 type, const QByteArray& profile = {}, qint64 profileShift = 0)
{
    ImageFixtures::BmpLayout layout;
    layout.headerSize = 124;
    QByteArray file = ImageFixtures::bmpFile(layout, 5, 3,
        ImageFixtures::packRows(layout, 5, 3, [](int x, int y) { return quint32(x * 40 + y); }));
    char* info = file.data() + 14;
    qToLittleEndian<quint32>(type, info + 56);
    for (int i = 0; i < 12; ++i) // endpoints and gammas, looked at when calibrated
        qToLittleEndian<quint32>(0x10000000u + quint32(i) * 0x1000000u, info + 60 + 4 * i);
    qToLittleEndian<quint32>(ImageCore::IntentRelative, info + 108);
    if (!profile.isEmpty()) {
        qToLittleEndian<quint32>(quint32(file.size() - 14 + profileShift), info + 112);
        qToLittleEndian<quint32>(quint32(profile.size()), info + 116);
        file += profile;
    }
    return file;
}

QByteArray damaged(QByteArray profile, int at, char value)
{
    profile[at] = value;
    return profile;
}

// A picture of straight 0xAARRGGBB words, `width` wide, with a row gap of 3 words.
struct Words
{
    int width = 0;
    int height = 0;
    std::ptrdiff_t stride = 0;
    std::vector<std::uint32_t> words;
};

Words paint(int width, int height, const Painter& pixel)
{
    Words w { width, height, width + 3, {} };
    w.words.assign(std::size_t(w.stride) * std::size_t(height), 0xdeadbeefu);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            w.words[std::size_t(y * w.stride + x)] = pixel(x, y);
    }
    return w;
}

// n different opaque colours spread over the cube, one per pixel in turn.
std::uint32_t spread(int i)
{
    const std::uint32_t v = std::uint32_t(i) * 2654435761u;
    return 0xff000000u | (v >> 8);
}

} // namespace

class TestColour : public QObject
{
    Q_OBJECT

private slots:
    void jpegProfiles_data()
    {
        QTest::addColumn<QList<QByteArray>>("payloads");
        QTest::addColumn<bool>("grey");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray small = rgbProfile(), large = rgbProfile(30000);
        QByteArray oversized = large + QByteArray(5 << 20, 'x');
        qToBigEndian<quint32>(quint32(oversized.size()), oversized.data());
        QList<QByteArray> reversed = iccSegments(large, 3);
        std::reverse(reversed.begin(), reversed.end());
        QList<QByteArray> counts = iccSegments(large, 3);
        counts[1][13] = 4;

        QTest::newRow("one segment") << iccSegments(small, 1) << false << small;
        QTest::newRow("three segments") << iccSegments(large, 3) << false << large;
        QTest::newRow("segments out of order") << reversed << false << QByteArray();
        QTest::newRow("a segment missing")
            << iccSegments(large, 3).mid(0, 2) << false << QByteArray();
        QTest::newRow("counts disagree") << counts << false << QByteArray();
        QTest::newRow("truncated") << iccSegments(small.chopped(40), 1) << false << QByteArray();
        QTest::newRow("over the size limit") << iccSegments(oversized, 90) << false << QByteArray();
        QTest::newRow("no profile signature")
            << iccSegments(damaged(small, 36, 'x'), 1) << false << QByteArray();
        QTest::newRow("grey profile") << iccSegments(greyProfile(), 1) << false << QByteArray();
        QTest::newRow("RGB profile on a grey picture")
            << iccSegments(small, 1) << true << QByteArray();
    }

    // The profile comes back byte for byte, or not at all; the picture is read either way.
    void jpegProfiles()
    {
        QFETCH(QList<QByteArray>, payloads);
        QFETCH(bool, grey);
        QFETCH(QByteArray, expected);
        QTemporaryDir dir;
        const QByteArray plain = ImageFixtures::jpegFile(ImageFixtures::gradient(40, 24),
            grey ? ImageFixtures::JpegKind::Grayscale : ImageFixtures::JpegKind::Baseline);
        const QString path
            = ImageFixtures::saveIn(dir, withSegments(plain, app2(payloads)), "p.jpg");
        const Pictures::Loaded loaded = Pictures::LoadPictureFor(path, {});
        QCOMPARE(loaded.image.size(), QSize(40, 24));
        QCOMPARE(loaded.colour.kind, expected.isEmpty() ? Kind::None : Kind::Embedded);
        QCOMPARE(bytesOf(loaded.colour.profile), expected);
    }

    // The writer splits a large profile over several segments that the reader joins again;
    // without one it writes no APP2 at all.
    void jpegWriterCarriesProfile_data()
    {
        QTest::addColumn<QByteArray>("profile");
        QTest::addColumn<int>("segments");
        QTest::newRow("none") << QByteArray() << 0;
        QTest::newRow("small") << rgbProfile() << 1;
        const QByteArray large = rgbProfile(60000);
        // 65519 profile bytes fit in one segment beside its 16 bytes of markings.
        QTest::newRow("several segments") << large << int((large.size() + 65518) / 65519);
    }
    void jpegWriterCarriesProfile()
    {
        QFETCH(QByteArray, profile);
        QFETCH(int, segments);
        QTemporaryDir dir;
        const QString path = dir.filePath("out.jpg");
        SaveAsJPG::SaveJPEG(ImageFixtures::gradient(30, 20), path, 80, profile);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QCOMPARE(jpegMarkers(bytes).count(0xE2), segments);
        QCOMPARE(jpegProfile(bytes), profile);
        QCOMPARE(bytesOf(Pictures::LoadPictureFor(path, {}).colour.profile), profile);
    }

    // A CMYK picture with a profile is converted through it (lightness from K alone), in
    // every ink layout; the CMYK profile is not passed on to the RGB picture.
    void cmykThroughProfile_data()
    {
        QTest::addColumn<ImageFixtures::JpegKind>("kind");
        QTest::newRow("Adobe inverted") << ImageFixtures::JpegKind::CmykAdobe;
        QTest::newRow("plain") << ImageFixtures::JpegKind::CmykPlain;
        QTest::newRow("YCCK") << ImageFixtures::JpegKind::Ycck;
    }
    void cmykThroughProfile()
    {
        QFETCH(ImageFixtures::JpegKind, kind);
        QImage picture(32, 16, QImage::Format_RGB32);
        picture.fill(qRgb(255, 0, 0)); // no black ink: white through the profile
        for (int y = 0; y < 16; ++y)
            for (int x = 16; x < 32; ++x)
                picture.setPixel(x, y, qRgb(0, 0, 128)); // half black ink: L* 50, grey
        QTemporaryDir dir;
        const QString path = ImageFixtures::saveIn(dir,
            withSegments(
                ImageFixtures::jpegFile(picture, kind, 100), app2(iccSegments(cmykProfile(), 1))),
            "cmyk.jpg");
        const Pictures::Loaded loaded = Pictures::LoadPictureFor(path, {});
        QCOMPARE(loaded.colour.kind, Kind::None);
        const QRgb light = loaded.image.pixel(4, 8), mid = loaded.image.pixel(28, 8);
        QVERIFY2(qRed(light) > 240 && qGreen(light) > 240 && qBlue(light) > 240,
            qPrintable(QString::number(light, 16)));
        QVERIFY2(qAbs(qRed(mid) - qBlue(mid)) < 8 && qAbs(qGreen(mid) - 119) < 10,
            qPrintable(QString::number(mid, 16)));
    }

    void bmpColourSpaces_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<Kind>("kind");
        const QByteArray profile = rgbProfile();
        QTest::newRow("embedded profile")
            << v5Bmp(ImageCore::signature("MBED"), profile) << Kind::Embedded;
        QTest::newRow("calibrated") << v5Bmp(0) << Kind::Calibrated;
        QTest::newRow("sRGB") << v5Bmp(ImageCore::signature("sRGB")) << Kind::Srgb;
        QTest::newRow("system default") << v5Bmp(ImageCore::signature("Win ")) << Kind::None;
        QTest::newRow("linked profile")
            << v5Bmp(ImageCore::signature("LINK"), "/etc/passwd") << Kind::None;
        QTest::newRow("profile past the end")
            << v5Bmp(ImageCore::signature("MBED"), profile, 8) << Kind::None;
        QTest::newRow("truncated profile")
            << v5Bmp(ImageCore::signature("MBED"), profile.chopped(1)) << Kind::None;
    }

    // What a BMP declares is read, and written again as it was.
    void bmpColourSpaces()
    {
        QFETCH(QByteArray, file);
        QFETCH(Kind, kind);
        QTemporaryDir dir;
        ColourSpace colour;
        const QImage image = Bmp::read(ImageFixtures::saveIn(dir, file, "in.bmp"), &colour);
        QCOMPARE(image.size(), QSize(5, 3));
        QCOMPARE(colour.kind, kind);
        if (kind == Kind::Embedded)
            QCOMPARE(bytesOf(colour.profile), rgbProfile());
        if (kind == Kind::Calibrated)
            QCOMPARE(colour.gammas[2], 0x1B000000u);
        Bmp::write(image, dir.filePath("out.bmp"), colour);
        ColourSpace again;
        QCOMPARE(Bmp::read(dir.filePath("out.bmp"), &again), image);
        QVERIFY(again == colour);
    }

    // PNG's colour chunks survive their trip through the V5 fields in their own units.
    void pngUnitsRoundTrip_data()
    {
        QTest::addColumn<QList<quint32>>("chromaticities");
        QTest::addColumn<quint32>("gamma");
        QTest::newRow("sRGB") << QList<quint32> { 31270, 32900, 64000, 33000, 30000, 60000, 15000,
            6000 } << 45455u;
        QTest::newRow("wide, D50")
            << QList<quint32> { 34570, 35850, 73470, 26530, 15960, 84040, 3660, 1 } << 55556u;
        QTest::newRow("linear") << QList<quint32> { 31270, 32900, 70800, 29200, 17000, 79700, 13100,
            4600 } << 100000u;
    }
    void pngUnitsRoundTrip()
    {
        QFETCH(QList<quint32>, chromaticities);
        QFETCH(quint32, gamma);
        ImageCore::PngChromaticities c;
        std::copy(chromaticities.begin(), chromaticities.end(), c.values.begin());
        const auto endpoints = ImageCore::endpointsFromPng(c);
        QVERIFY(endpoints);
        const auto back = ImageCore::endpointsToPng(*endpoints);
        QVERIFY(back);
        QCOMPARE(QList<quint32>(back->values.begin(), back->values.end()), chromaticities);
        QCOMPARE(ImageCore::gammaToPng(*ImageCore::gammaFromPng(gamma)), gamma);
    }

    void pngUnitsRefused()
    {
        ImageCore::PngChromaticities zeroY;
        zeroY.values = { 31270, 0, 64000, 33000, 30000, 60000, 15000, 6000 };
        QVERIFY(!ImageCore::endpointsFromPng(zeroY));
        ImageCore::PngChromaticities sameTwice;
        sameTwice.values = { 31270, 32900, 64000, 33000, 64000, 33000, 15000, 6000 };
        QVERIFY(!ImageCore::endpointsFromPng(sameTwice));
        QVERIFY(!ImageCore::gammaFromPng(0));
    }

    void quantise_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<Painter>("pixel");
        QTest::addColumn<bool>("transparent");
        QTest::addColumn<int>("entries"); // in the palette, the transparent one included
        // Over the opaque pixels; infinite: exact. giflib's median cut on 5-bit colour gives
        // 28 dB on the gradient and 25 on the noise.
        QTest::addColumn<double>("minPsnr");

        const double exact = qInf();
        QTest::newRow("200 colours kept exactly")
            << 40 << 30 << Painter([](int x, int y) { return spread((y * 40 + x) % 200); }) << false
            << 200 << exact;
        QTest::newRow("256 colours kept exactly")
            << 32 << 16 << Painter([](int x, int y) { return spread((y * 32 + x) % 256); }) << false
            << 256 << exact;
        QTest::newRow("255 colours and transparency kept exactly")
            << 32 << 16 << Painter([](int x, int y) {
                   const int i = y * 32 + x;
                   return i % 2 ? spread(i / 2 % 255) : (i % 4 ? 0x7f102030u : 0u);
               })
            << true << 256 << exact;
        // A colour at half opacity is opaque: 256 of them leave no room for exactness.
        QTest::newRow("256 colours and transparency") << 32 << 16 << Painter([](int x, int y) {
            const int i = y * 32 + x;
            return i < 256 ? (spread(i) & 0x80ffffffu) : 0x00ffffffu;
        }) << true << 256 << 45.0;
        QTest::newRow("every pixel transparent")
            << 7 << 5 << Painter([](int x, int) { return x % 2 ? 0x7fffffffu : 0u; }) << true << 1
            << exact;
        QTest::newRow("smooth gradient of 65536 colours")
            << 256 << 256 << Painter([](int x, int y) {
                   return 0xff000000u | std::uint32_t(x) << 16 | std::uint32_t(y) << 8
                       | std::uint32_t((x + y) / 2);
               })
            << false << 256 << 34.0;
        QTest::newRow("noise of as many colours as pixels")
            << 200 << 150 << Painter([](int x, int y) { return spread(y * 200 + x); }) << false
            << 256 << 26.0;
    }

    void quantise()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(Painter, pixel);
        QFETCH(bool, transparent);
        QFETCH(int, entries);
        QFETCH(double, minPsnr);
        const Words in = paint(width, height, pixel);
        const ImageCore::Quantised q
            = ImageCore::quantise(in.words.data(), width, height, in.stride);

        QCOMPARE(int(q.palette.size()), entries);
        QCOMPARE(q.indices.size(), std::size_t(width) * std::size_t(height));
        QCOMPARE(q.transparent >= 0, transparent);
        if (transparent)
            QCOMPARE(q.transparent, int(q.palette.size()) - 1);
        double squares = 0;
        std::size_t opaque = 0;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const std::uint32_t c = in.words[std::size_t(y * in.stride + x)];
                const int index = q.indices[std::size_t(y * width + x)];
                QVERIFY(index < int(q.palette.size()));
                if (c >> 24 < 128) {
                    QCOMPARE(index, q.transparent);
                    continue;
                }
                QVERIFY(index != q.transparent);
                const ImageCore::Quantised::Colour& p = q.palette[std::size_t(index)];
                for (const auto& [got, want] : { std::pair { p.red, c >> 16 },
                         std::pair { p.green, c >> 8 }, std::pair { p.blue, c } }) {
                    const double d = double(got) - double(want & 0xff);
                    squares += d * d;
                }
                ++opaque;
            }
        }
        const double psnr
            = squares == 0 ? qInf() : 10 * std::log10(255.0 * 255.0 * double(3 * opaque) / squares);
        QVERIFY2(psnr >= minPsnr, qPrintable(QStringLiteral("PSNR %1 dB").arg(psnr)));
    }
};

QTEST_GUILESS_MAIN(TestColour)
#include "tst_colour.moc"
