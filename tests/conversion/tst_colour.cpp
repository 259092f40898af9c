// SPDX-License-Identifier: MIT

#include "conversion/ConversionRun.h"
#include "imaging/Bmp.h"
#include "tests/common/ColourFixtures.h"
#include "tests/common/FakeRunHost.h"
#include "tests/common/ImageFixtures.h"
#include "tests/common/PngFixtures.h"
#include "tests/common/TestUtils.h"

#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>

using namespace ColourFixtures;

using Chunks = QList<QPair<QByteArray, QByteArray>>;

namespace {

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// EXIF with a GPS position (52 deg 31' N) and a camera serial number.
QByteArray exifWithGps()
{
    QByteArray t("Exif\0\0II*\0\x08\0\0\0", 14);
    auto u16 = [&t](int v) { t.append(char(v & 0xFF)).append(char(v >> 8)); };
    auto u32 = [&](quint32 v) { u16(int(v & 0xFFFF)), u16(int(v >> 16)); };
    u16(2); // IFD0: serial number, GPS IFD
    u16(0xA431), u16(2), u32(8), u32(50); // BodySerialNumber at 50
    u16(0x8825), u16(4), u32(1), u32(58); // GPS IFD at 58
    u32(0);
    t.append("SN12345\0", 8); // at 50
    u16(1); // GPS IFD: latitude, three rationals at 76
    u16(0x0002), u16(5), u32(3), u32(76);
    u32(0);
    for (quint32 v : { 52u, 1u, 31u, 1u, 0u, 1u })
        u32(v);
    return t;
}

QString pngOfKind(const QTemporaryDir& dir, int colorType, int bitDepth, const Chunks& chunks)
{
    const QString plain = dir.filePath("plain.png");
    PngFixtures::Kind kind;
    kind.colorType = colorType;
    kind.bitDepth = bitDepth;
    if (PngFixtures::write(plain, kind, 37, 23).isNull())
        return {};
    return ImageFixtures::saveIn(dir, withChunks(readAll(plain), chunks), "Pic.png");
}

} // namespace

class TestColourRun : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_program = std::make_unique<QTemporaryDir>();
        m_pics = std::make_unique<QTemporaryDir>();
        QVERIFY(m_program->isValid() && m_pics->isValid());
        for (const char* tool : { "png2bmp", "bmp2png" })
            QVERIFY(QFile::link(TestUtils::binDir() + "/" + tool, m_program->filePath(tool)));
        m_host = FakeRunHost();
    }

    // A JPEG thumbnail carries the profile byte for byte, and no EXIF (GPS, serial), XMP,
    // IPTC or comment of its source.
    void jpegKeepsProfileOnly()
    {
        const QByteArray profile = rgbProfile(60000);
        QList<QPair<int, QByteArray>> segments = { { 0xE1, exifWithGps() },
            { 0xE1, QByteArray("http://ns.adobe.com/xap/1.0/\0<x:xmpmeta/>", 41) },
            { 0xED, QByteArray("Photoshop 3.0\0", 14) + "8BIM" }, { 0xFE, "a comment" } };
        for (const QByteArray& s : iccSegments(profile, 2))
            segments << qMakePair(0xE2, s);
        const QString source = ImageFixtures::saveIn(*m_pics,
            withSegments(ImageFixtures::jpegFile(
                             ImageFixtures::gradient(200, 120), ImageFixtures::JpegKind::Baseline),
                segments),
            "Photo.jpg");
        QVERIFY(run(source));
        const QByteArray thumb = readAll(m_pics->filePath("tPhoto.jpg"));
        QCOMPARE(jpegProfile(thumb), profile);
        const QList<int> markers = jpegMarkers(thumb);
        for (int kept : { 0xE1, 0xED, 0xFE })
            QVERIFY2(!markers.contains(kept), qPrintable(QString::number(kept, 16)));
        QVERIFY(!thumb.contains("SN12345") && !thumb.contains("xmpmeta"));
    }

    void pngKeepsColourChunks_data()
    {
        QTest::addColumn<int>("colorType");
        QTest::addColumn<int>("bitDepth");
        QTest::addColumn<Chunks>("chunks");
        const QByteArray profile = rgbProfile(2000);
        const QByteArray gama("\0\0\xB1\x8F", 4); // 45455
        const QByteArray chrm = QByteArray::fromHex("00007a260000808400"
                                                    "00fa00000080e80000753000"
                                                    "00ea6000003a98000017 70");
        QTest::newRow("iCCP, RGB") << 2 << 8 << Chunks { { "iCCP", iccpData(profile) } };
        QTest::newRow("iCCP, 16-bit RGBA") << 6 << 16 << Chunks { { "iCCP", iccpData(profile) } };
        QTest::newRow("gAMA and cHRM, RGB")
            << 2 << 8 << Chunks { { "gAMA", gama }, { "cHRM", chrm } };
        QTest::newRow("gAMA, palette") << 3 << 4 << Chunks { { "gAMA", gama } };
        QTest::newRow("sRGB, RGBA") << 6 << 8 << Chunks { { "sRGB", QByteArray(1, '\1') } };
        QTest::newRow("none, RGBA") << 6 << 8 << Chunks {};
        QTest::newRow("damaged iCCP, RGB")
            << 2 << 8 << Chunks { { "iCCP", iccpData(profile.chopped(9)) } };
    }

    // The thumbnail holds the same colour chunks as its source (a damaged profile none).
    void pngKeepsColourChunks()
    {
        QFETCH(int, colorType);
        QFETCH(int, bitDepth);
        QFETCH(Chunks, chunks);
        const QString source = pngOfKind(*m_pics, colorType, bitDepth, chunks);
        QVERIFY(!source.isEmpty());
        QVERIFY(run(source));
        const QByteArray in = readAll(source), out = readAll(m_pics->filePath("tPic.png"));
        QVERIFY(!out.isEmpty());
        const bool damaged = QByteArray(QTest::currentDataTag()).startsWith("damaged");
        for (const QByteArray type : { "iCCP", "sRGB", "gAMA", "cHRM" }) {
            const bool given = std::any_of(
                chunks.begin(), chunks.end(), [&](const auto& c) { return c.first == type; });
            QCOMPARE(chunkData(in, type).size(), given ? 1 : 0);
            QCOMPARE(chunkData(out, type), damaged ? QList<QByteArray>() : chunkData(in, type));
        }
    }

    // A BMP with an embedded profile gives a thumbnail with the same profile.
    void bmpKeepsProfile()
    {
        ImageCore::ColourSpace colour;
        colour.kind = ImageCore::ColourSpace::Kind::Embedded;
        const QByteArray profile = rgbProfile(500);
        colour.profile.assign(profile.begin(), profile.end());
        Bmp::write(ImageFixtures::gradient(50, 30), m_pics->filePath("Pic.bmp"), colour);
        QVERIFY(run(m_pics->filePath("Pic.bmp")));
        ImageCore::ColourSpace thumb;
        QCOMPARE(Bmp::read(m_pics->filePath("tPic.bmp"), &thumb).size(), QSize(20, 12));
        QVERIFY(thumb == colour);
    }

    // A PNG transparent everywhere stays transparent everywhere.
    void transparentPngStaysTransparent()
    {
        QImage clear(40, 30, QImage::Format_ARGB32);
        clear.fill(qRgba(10, 20, 30, 0));
        QVERIFY(clear.save(m_pics->filePath("Clear.png"), "PNG"));
        QVERIFY(run(m_pics->filePath("Clear.png")));
        const QImage thumb(m_pics->filePath("tClear.png"), "PNG");
        QCOMPARE(thumb.size(), QSize(16, 12));
        QVERIFY(thumb.hasAlphaChannel());
        for (int y = 0; y < thumb.height(); ++y)
            for (int x = 0; x < thumb.width(); ++x)
                QCOMPARE(qAlpha(thumb.pixel(x, y)), 0);
    }

private:
    bool run(const QString& entry)
    {
        m_host.entries = 1;
        const bool done = ConversionRun::run({ { entry }, m_program->path() }, m_host);
        for (const AppError& e : m_host.errors)
            qWarning() << e.description();
        return done && m_host.errors.isEmpty();
    }

    std::unique_ptr<QTemporaryDir> m_program;
    std::unique_ptr<QTemporaryDir> m_pics;
    FakeRunHost m_host;
};

QTEST_GUILESS_MAIN(TestColourRun)
#include "tst_colour.moc"
