// SPDX-License-Identifier: MIT

#include "imaging/ThumbnailWriters.h"
#include "imaging/core/Lzw.h"
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
    void lzwDecoder_data() { lzwRoundTrip_data(); }
    void lzwDecoder();
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

// The reading program's decoder takes back what the writer's coder made, whole, cut short at
// either end, or damaged, without reading or writing out of bounds.
void TestTiffWriter::lzwDecoder()
{
    QFETCH(QImage, image);
    if (image.depth() == 64)
        return; // the reading program decodes 8-bit strips only
    const bool alpha = image.hasAlphaChannel();
    const QImage packed
        = image.convertToFormat(alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
    const int samples = alpha ? 4 : 3;
    const std::size_t rowBytes = std::size_t(packed.width()) * std::size_t(samples);
    std::vector<std::uint8_t> rows;
    for (int y = 0; y < packed.height(); ++y)
        rows.insert(rows.end(), packed.constScanLine(y), packed.constScanLine(y) + rowBytes);
    ImageCore::LzwTables tables;
    std::vector<std::uint8_t> coded;
    ImageCore::encodeLzwStrip(
        rows.data(), std::size_t(packed.height()), { rowBytes, samples, 1, false }, tables, coded);

    const auto decode = [&](std::size_t size, std::size_t capacity) {
        std::vector<std::uint8_t> in(coded.begin(), coded.begin() + std::ptrdiff_t(size));
        in.resize(size + ImageCore::lzwInputSlack);
        std::vector<std::uint8_t> out(capacity);
        const long made = ImageCore::decodeLzwStrip(in.data(), size, out.data(), capacity);
        out.resize(std::size_t(std::max(0L, made)));
        for (std::size_t i = 0; i < out.size(); ++i) {
            if (i % rowBytes >= std::size_t(samples))
                out[i] = std::uint8_t(out[i] + out[i - std::size_t(samples)]);
        }
        return out;
    };
    const auto isStartOfRows = [&](const std::vector<std::uint8_t>& out) {
        return std::equal(out.begin(), out.end(), rows.begin());
    };
    QCOMPARE(decode(coded.size(), rows.size()), rows);
    const std::vector<std::uint8_t> half = decode(coded.size() / 2, rows.size());
    QVERIFY(half.size() < rows.size() || rows.size() < 64);
    QVERIFY(isStartOfRows(half));
    const std::vector<std::uint8_t> cut = decode(coded.size(), rows.size() / 2);
    QCOMPARE(cut.size(), rows.size() / 2);
    QVERIFY(isStartOfRows(cut));
    for (std::size_t i = 1; i < coded.size(); i += 7)
        coded[i] = std::uint8_t(coded[i] * 31 + 17);
    QVERIFY(decode(coded.size(), rows.size()).size() <= rows.size());
}

QTEST_GUILESS_MAIN(TestTiffWriter)
#include "tst_tiffwriter.moc"
