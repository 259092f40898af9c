// SPDX-License-Identifier: MIT

// Hostile picture files: small files that declare huge pictures, files of endless scans,
// and the inputs the fuzzers found. Each must give a picture or an AppError naming the
// file, quickly and without taking memory out of proportion to the file; pictures that
// really are that compressed must still load.

#include "imaging/Pictures.h"
#include "runtime/AppError.h"
#include "tests/common/ImageFixtures.h"
#include "tests/common/TestUtils.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace ImageFixtures;

namespace {

void put32(QByteArray& b, int at, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = char(v >> (8 * i));
}

// An RLE8 file of `width` x `height` whose data is `stream`.
QByteArray rle8(int width, int height, const QByteArray& stream)
{
    BmpLayout layout;
    layout.bitCount = 8;
    layout.compression = 1;
    layout.palette = { qRgb(10, 20, 30), qRgb(200, 100, 50) };
    return bmpFile(layout, width, height, stream);
}

// Every row a run of colour 1 in runs of 255 and an end of line; then the end of picture.
QByteArray fullRle8(int width, int height)
{
    QByteArray row;
    for (int left = width; left > 0; left -= 255)
        row += char(qMin(left, 255)) + QByteArray(1, '\x01');
    row += QByteArray("\x00\x00", 2);
    return row.repeated(height) + QByteArray("\x00\x01", 2);
}

// A JPEG's marker segments: offset and length (with its entropy-coded data for a scan).
struct Segment
{
    int offset;
    int length;
    uchar marker;
};

QList<Segment> segments(const QByteArray& jpeg)
{
    QList<Segment> list;
    const auto* p = reinterpret_cast<const uchar*>(jpeg.constData());
    int pos = 2;
    while (pos + 4 <= jpeg.size() && p[pos] == 0xFF) {
        const uchar marker = p[pos + 1];
        if (marker == 0xD9)
            break;
        int end = pos + 2 + (p[pos + 2] << 8 | p[pos + 3]);
        if (marker == 0xDA) {
            while (end + 1 < jpeg.size()
                && !(p[end] == 0xFF && p[end + 1] != 0x00
                    && (p[end + 1] < 0xD0 || p[end + 1] > 0xD7)))
                ++end;
        }
        list.append({ pos, end - pos, marker });
        pos = end;
    }
    return list;
}

// A flat picture large enough that the compressed-size bound applies.
QImage flat(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(qRgb(90, 140, 200));
    return image;
}

} // namespace

class TestHostile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }
    void smallFileHugePicture_data();
    void smallFileHugePicture();
    void compressedPicturesStillLoad_data();
    void compressedPicturesStillLoad();
    void manyScans_data();
    void manyScans();
    void regressionInputs_data();
    void regressionInputs();

private:
    QString save(const QByteArray& bytes, const QString& name)
    {
        return saveIn(m_dir, bytes, name);
    }
    QTemporaryDir m_dir;
};

void TestHostile::smallFileHugePicture_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("number");

    // An end of picture at once: every pixel would be palette index 0.
    QTest::newRow("RLE8 of 67 MP in 2 bytes") << rle8(8192, 8192, QByteArray("\x00\x01", 2)) << 481;
    QTest::newRow("RLE8 of 17 MP, one run per row")
        << rle8(4100, 4100, QByteArray("\x04\x01\x00\x00", 4).repeated(4100)) << 481;
    BmpLayout rle4;
    rle4.bitCount = 4;
    rle4.compression = 2;
    rle4.palette = { qRgb(0, 0, 0) };
    QTest::newRow("RLE4 of 134 MP in deltas") << bmpFile(rle4, 65536, 2048,
        QByteArray("\x00\x02\xff\xff", 4).repeated(8) + QByteArray("\x00\x01", 2))
                                              << 481;

    // A real 64 x 64 JPEG whose frame header claims 8000 x 4000 (32 MP in 1 KiB).
    QByteArray jpeg = jpegFile(flat(64, 64), JpegKind::Baseline, 75);
    const int sof = int(jpeg.indexOf(QByteArray("\xFF\xC0", 2)));
    jpeg[sof + 5] = char(4000 >> 8);
    jpeg[sof + 6] = char(4000 & 255);
    jpeg[sof + 7] = char(8000 >> 8);
    jpeg[sof + 8] = char(8000 & 255);
    QTest::newRow("JPEG of 32 MP in 1 KiB") << jpeg << 481;
    // Beyond the pixel limit whatever the data: 16384 x 8200.
    jpeg[sof + 5] = char(8200 >> 8);
    jpeg[sof + 6] = char(8200 & 255);
    jpeg[sof + 7] = char(16384 >> 8);
    jpeg[sof + 8] = char(16384 & 255);
    QTest::newRow("JPEG beyond the pixel limit") << jpeg << 7;

    BmpLayout mono;
    mono.bitCount = 1;
    mono.palette = { qRgb(0, 0, 0), qRgb(255, 255, 255) };
    QByteArray bigMono = bmpFile(mono, 8, 8, QByteArray(32, '\0'));
    put32(bigMono, 18, 16384);
    put32(bigMono, 22, 8200);
    QTest::newRow("1-bit BMP beyond the pixel limit") << bigMono << 481;
}

void TestHostile::smallFileHugePicture()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, number);
    const QString file = save(bytes, QStringLiteral("huge"));
    try {
        Pictures::LoadPicture(file);
        QFAIL("no error raised");
    } catch (const AppError& e) {
        QCOMPARE(e.number(), number);
        QVERIFY(e.description().contains(file));
    }
}

void TestHostile::compressedPicturesStillLoad_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QRgb>("colour");
    QTest::addColumn<int>("tolerance");

    // 4800 x 3600 is above the size trusted without data; these are as small as real
    // files of such pictures get.
    const int w = 4800;
    const int h = 3600;
    QTest::newRow("RLE8 of full runs") << rle8(w, h, fullRle8(w, h)) << qRgb(200, 100, 50) << 0;
    const QImage picture = flat(w, h);
    QTest::newRow("flat baseline JPEG")
        << jpegFile(picture, JpegKind::Baseline, 50) << qRgb(90, 140, 200) << 4;
    QTest::newRow("flat progressive JPEG")
        << jpegFile(picture, JpegKind::Progressive, 50) << qRgb(90, 140, 200) << 4;
    QTest::newRow("flat grayscale JPEG")
        << jpegFile(picture, JpegKind::Grayscale, 50) << qRgb(130, 130, 130) << 6;
}

void TestHostile::compressedPicturesStillLoad()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QRgb, colour);
    QFETCH(int, tolerance);
    const QString file = save(bytes, QStringLiteral("compressed"));
    const Pictures::Loaded loaded
        = Pictures::LoadPictureFor(file, [](QSize full) { return full / 10; });
    QCOMPARE(loaded.fullSize, QSize(4800, 3600));
    for (QPoint p : { QPoint(0, 0), QPoint(loaded.image.width() - 1, loaded.image.height() - 1) }) {
        const QRgb got = loaded.image.pixel(p);
        QVERIFY2(qAbs(qRed(got) - qRed(colour)) <= tolerance
                && qAbs(qGreen(got) - qGreen(colour)) <= tolerance
                && qAbs(qBlue(got) - qBlue(colour)) <= tolerance,
            qPrintable(QString::number(got, 16)));
    }
}

void TestHostile::manyScans_data()
{
    QTest::addColumn<int>("copies");
    QTest::addColumn<bool>("loads");
    QTest::newRow("30 extra scans") << 30 << true;
    QTest::newRow("600 extra scans") << 600 << false;
}

// A progressive file whose first AC scan is repeated: each copy is a whole pass over the
// picture, so a few kilobytes of them would keep the decoder busy without end.
void TestHostile::manyScans()
{
    QFETCH(int, copies);
    QFETCH(bool, loads);
    const QByteArray jpeg = jpegFile(flat(40, 24), JpegKind::Progressive, 80);
    const QList<Segment> list = segments(jpeg);
    int firstAc = -1;
    int scans = 0;
    for (int i = 0; i < list.size(); ++i)
        if (list[i].marker == 0xDA && ++scans == 2)
            firstAc = i;
    QVERIFY(firstAc > 0);
    // The scan with the Huffman table defined just before it.
    const int from
        = list[firstAc - 1].marker == 0xC4 ? list[firstAc - 1].offset : list[firstAc].offset;
    const QByteArray unit = jpeg.mid(from, list[firstAc].offset + list[firstAc].length - from);
    const QByteArray body = jpeg.left(jpeg.size() - 2);
    const QString file
        = save(body + unit.repeated(copies) + QByteArray("\xFF\xD9", 2), "scans.jpg");
    try {
        const QImage image = Pictures::LoadPicture(file);
        QVERIFY(loads);
        QCOMPARE(image.size(), QSize(40, 24));
    } catch (const AppError& e) {
        QVERIFY2(!loads, qPrintable(e.description()));
        QCOMPARE(e.number(), 481);
        QVERIFY(e.description().contains(file));
    }
}

void TestHostile::regressionInputs_data()
{
    QTest::addColumn<QString>("file");
    const QDir dir(TestUtils::sourceDir() + QStringLiteral("/tests/data/hostile"));
    const QStringList names = dir.entryList({ "*.bmp", "*.jpg", "*.ico" }, QDir::Files);
    QVERIFY(!names.isEmpty());
    for (const QString& name : names)
        QTest::newRow(qPrintable(name)) << dir.filePath(name);
}

// Inputs that once crashed, hung or took too much memory. A name starting with "refuse-"
// must give an error; the others must give a picture or an error naming the file.
void TestHostile::regressionInputs()
{
    QFETCH(QString, file);
    const bool refuse = QFileInfo(file).fileName().startsWith("refuse-");
    for (int percentage : { 100, 40, 5 }) {
        try {
            const Pictures::Loaded loaded = Pictures::LoadPictureFor(
                file, [percentage](QSize full) { return full * percentage / 100; });
            QVERIFY(!refuse);
            QVERIFY(!loaded.image.isNull());
        } catch (const AppError& e) {
            QVERIFY2(e.number() == 481 || e.number() == 7, qPrintable(e.description()));
            QVERIFY(e.description().contains(file));
        }
    }
}

QTEST_GUILESS_MAIN(TestHostile)
#include "tst_hostile.moc"
