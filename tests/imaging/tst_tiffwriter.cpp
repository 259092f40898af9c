// SPDX-License-Identifier: MIT

#include "imaging/ThumbnailWriters.h"
#include "tests/common/KindFixtures.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

namespace {

enum class Fill { Noise, Flat, Gradient };

// Made with alpha, then converted to `format`.
QImage picture(int width, int height, QImage::Format format, Fill fill)
{
    const bool sixteen = QImage::toPixelFormat(format).bitsPerPixel() == 64;
    QImage image(width, height, sixteen ? QImage::Format_RGBA64 : QImage::Format_ARGB32);
    QRandomGenerator random(quint32(width * 7919 + height));
    for (int y = 0; y < height; ++y) {
        uchar* line = image.scanLine(y);
        for (qsizetype i = 0; i < image.bytesPerLine(); ++i)
            line[i] = fill == Fill::Noise ? uchar(random.bounded(256))
                : fill == Fill::Flat      ? uchar(0x5a + i % 4)
                                          : uchar((i / 3 + y * 2) % 256);
    }
    return image.convertToFormat(format);
}

} // namespace

class TestTiffWriter : public QObject
{
    Q_OBJECT

private slots:
    void lzwRoundTrip_data();
    void lzwRoundTrip();
};

void TestTiffWriter::lzwRoundTrip_data()
{
    QTest::addColumn<QImage>("image");

    const auto rgb = QImage::Format_RGB32, rgba = QImage::Format_ARGB32;
    // The table fills and is cleared many times within a strip.
    QTest::newRow("noise") << picture(1600, 300, rgb, Fill::Noise);
    // Strings as long as a strip allows.
    QTest::newRow("flat colour") << picture(700, 500, rgb, Fill::Flat);
    QTest::newRow("gradient") << picture(640, 480, rgb, Fill::Gradient);
    QTest::newRow("one pixel wide") << picture(1, 301, rgb, Fill::Noise);
    QTest::newRow("one row") << picture(997, 1, rgb, Fill::Gradient);
    // 999-byte rows, 64 to a strip, and a last strip of 36.
    QTest::newRow("rows ending mid-strip") << picture(333, 100, rgb, Fill::Noise);
    QTest::newRow("alpha") << picture(450, 200, rgba, Fill::Noise);
    QTest::newRow("16-bit") << picture(300, 200, QImage::Format_RGBX64, Fill::Noise);
    QTest::newRow("16-bit gradient, alpha")
        << picture(257, 90, QImage::Format_RGBA64, Fill::Gradient);
}

void TestTiffWriter::lzwRoundTrip()
{
    QFETCH(QImage, image);

    ThumbnailWriters::Settings settings;
    settings.compression = 5; // LZW
    const std::vector<std::uint8_t> bytes
        = ThumbnailWriters::encodeTiff(image, QStringLiteral("t.tif"), settings);
    QTemporaryDir dir;
    QFile file(dir.filePath("t.tif"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size())),
        qint64(bytes.size()));
    file.close();

    QCOMPARE(int(KindFixtures::read(file.fileName()).compression), 5);
    const QImage read = KindFixtures::readTiffSamples(file.fileName());
    QVERIFY(!read.isNull());
    QCOMPARE(read, image.convertToFormat(read.format()));
}

QTEST_GUILESS_MAIN(TestTiffWriter)
#include "tst_tiffwriter.moc"
