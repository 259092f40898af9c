// SPDX-License-Identifier: MIT

#include "imaging/JpegReader.h"
#include "runtime/AppError.h"
#include "tests/common/ImageFixtures.h"
#include "tests/common/TestUtils.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

using namespace ImageFixtures;

Q_DECLARE_METATYPE(ImageFixtures::JpegKind)

namespace {

// Flat 16x16 blocks, aligned to the largest MCU, so that block centres survive JPEG
// compression and chroma subsampling nearly unchanged.
const QRgb blockColours[]
    = { qRgb(220, 30, 40), qRgb(30, 200, 60), qRgb(40, 50, 210), qRgb(250, 250, 250),
          qRgb(10, 10, 10), qRgb(240, 200, 20), qRgb(128, 128, 128), qRgb(90, 30, 160) };

QRgb blockAt(int x, int y)
{
    return blockColours[(x / 16 + 3 * (y / 16)) % 8];
}

QImage blocks(int w, int h)
{
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y, blockAt(x, y));
    return image;
}

// Quadrants of four colours, so that every turn and flip is told apart.
const QRgb topLeft = qRgb(255, 0, 0), topRight = qRgb(0, 255, 0), bottomLeft = qRgb(0, 0, 255),
           bottomRight = qRgb(255, 255, 0);

QImage quadrants(int w, int h)
{
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y,
                y < h / 2 ? (x < w / 2 ? topLeft : topRight)
                          : (x < w / 2 ? bottomLeft : bottomRight));
    return image;
}

int distance(QRgb a, QRgb b)
{
    return std::max({ std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
        std::abs(qBlue(a) - qBlue(b)) });
}

// Which colour of the four quadrant colours `c` is, or 0.
QRgb nearestQuadrant(QRgb c)
{
    for (QRgb q : { topLeft, topRight, bottomLeft, bottomRight })
        if (distance(c, q) <= 24)
            return q;
    return 0;
}

} // namespace

class TestJpegReader : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }
    void kinds_data();
    void kinds();
    void orientation_data();
    void orientation();
    void dctScaling_data();
    void dctScaling();
    void invalid_data();
    void invalid();
    void cutFiles_data();
    void cutFiles();
    void damagedData();
    void beyondPixelLimit();

private:
    QString save(const QByteArray& bytes, const QString& name = QStringLiteral("t.jpg"))
    {
        const QString p = m_dir.filePath(name);
        if (!writeFile(p, bytes))
            qFatal("cannot write %s", qPrintable(p));
        return p;
    }
    QTemporaryDir m_dir;
};

void TestJpegReader::kinds_data()
{
    QTest::addColumn<JpegKind>("kind");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("tolerance");
    // Tolerances per channel at block centres, quality 95; CMYK loses a little more in the
    // fixture's own integer ink arithmetic.
    for (auto [w, h] : { std::pair { 64, 48 }, std::pair { 67, 37 } }) {
        QTest::addRow("baseline %dx%d", w, h) << JpegKind::Baseline << w << h << 6;
        QTest::addRow("progressive %dx%d", w, h) << JpegKind::Progressive << w << h << 6;
        QTest::addRow("grayscale %dx%d", w, h) << JpegKind::Grayscale << w << h << 4;
        QTest::addRow("cmyk adobe %dx%d", w, h) << JpegKind::CmykAdobe << w << h << 8;
        QTest::addRow("cmyk plain %dx%d", w, h) << JpegKind::CmykPlain << w << h << 8;
        QTest::addRow("ycck %dx%d", w, h) << JpegKind::Ycck << w << h << 8;
    }
}

void TestJpegReader::kinds()
{
    QFETCH(JpegKind, kind);
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, tolerance);
    const QString file = save(jpegFile(blocks(width, height), kind));
    const JpegReader::Result r = JpegReader::read(file);
    QCOMPARE(r.image.format(), QImage::Format_RGB32);
    QCOMPARE(r.image.size(), QSize(width, height));
    QCOMPARE(r.fullSize, QSize(width, height));
    for (int y = 8; y < height; y += 16) {
        for (int x = 8; x < width; x += 16) {
            QRgb expected = blockAt(x, y);
            if (kind == JpegKind::Grayscale)
                expected = qRgb(qGray(expected), qGray(expected), qGray(expected));
            const QRgb got = r.image.pixel(x, y);
            QVERIFY2(distance(got, expected) <= tolerance,
                qPrintable(QStringLiteral("(%1,%2) %3 expected %4")
                               .arg(x)
                               .arg(y)
                               .arg(got, 8, 16)
                               .arg(expected, 8, 16)));
        }
    }
    // Every pixel opaque: Format_RGB32 relies on it.
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            QCOMPARE(qAlpha(r.image.pixel(x, y)), 255);
}

void TestJpegReader::orientation_data()
{
    QTest::addColumn<int>("orientation");
    QTest::addColumn<bool>("bigEndian");
    // Where the stored top-left and top-right corners appear in the upright picture,
    // read from the tag's meaning ("row 0 is the visual ..., column 0 is the visual ...").
    QTest::addColumn<QPoint>("storedTopLeftAt"); // corner as (0|1, 0|1) = (right?, bottom?)
    QTest::addColumn<QPoint>("storedTopRightAt");
    const QPoint tl(0, 0), tr(1, 0), bl(0, 1), br(1, 1);
    for (bool big : { false, true }) {
        const char* order = big ? "MM" : "II";
        QTest::addRow("1 %s", order) << 1 << big << tl << tr;
        QTest::addRow("2 %s", order) << 2 << big << tr << tl;
        QTest::addRow("3 %s", order) << 3 << big << br << bl;
        QTest::addRow("4 %s", order) << 4 << big << bl << br;
        QTest::addRow("5 %s", order) << 5 << big << tl << bl;
        QTest::addRow("6 %s", order) << 6 << big << tr << br;
        QTest::addRow("7 %s", order) << 7 << big << br << tr;
        QTest::addRow("8 %s", order) << 8 << big << bl << tl;
    }
    QTest::newRow("out of range 9") << 9 << false << tl << tr;
    QTest::newRow("out of range 0") << 0 << false << tl << tr;
}

// The picture comes out upright, with the upright size both as image and as full size.
void TestJpegReader::orientation()
{
    QFETCH(int, orientation);
    QFETCH(bool, bigEndian);
    QFETCH(QPoint, storedTopLeftAt);
    QFETCH(QPoint, storedTopRightAt);
    const int w = 64, h = 32;
    const QString file = save(
        jpegFile(quadrants(w, h), JpegKind::Baseline, 95, exifOrientation(orientation, bigEndian)));
    const JpegReader::Result r = JpegReader::read(file);
    const bool turned = orientation >= 5 && orientation <= 8;
    const QSize upright = turned ? QSize(h, w) : QSize(w, h);
    QCOMPARE(r.image.size(), upright);
    QCOMPARE(r.fullSize, upright);
    auto cornerColour = [&](QPoint corner) {
        return nearestQuadrant(r.image.pixel(
            corner.x() ? upright.width() - 4 : 3, corner.y() ? upright.height() - 4 : 3));
    };
    QCOMPARE(cornerColour(storedTopLeftAt), topLeft);
    QCOMPARE(cornerColour(storedTopRightAt), topRight);
}

void TestJpegReader::dctScaling_data()
{
    QTest::addColumn<QSize>("stored");
    QTest::addColumn<int>("orientation");
    QTest::addColumn<QSize>("target"); // upright
    QTest::addColumn<QSize>("expected");

    QTest::newRow("40% of 640x480") << QSize(640, 480) << 1 << QSize(256, 192) << QSize(320, 240);
    QTest::newRow("exactly a half") << QSize(640, 480) << 1 << QSize(320, 240) << QSize(320, 240);
    QTest::newRow("one more than a quarter")
        << QSize(640, 480) << 1 << QSize(161, 60) << QSize(320, 240);
    QTest::newRow("a quarter") << QSize(640, 480) << 1 << QSize(81, 61) << QSize(160, 120);
    QTest::newRow("an eighth") << QSize(640, 480) << 1 << QSize(80, 60) << QSize(80, 60);
    QTest::newRow("full") << QSize(640, 480) << 1 << QSize(640, 480) << QSize(640, 480);
    QTest::newRow("target beyond picture")
        << QSize(64, 48) << 1 << QSize(500, 500) << QSize(64, 48);
    QTest::newRow("zero target") << QSize(64, 48) << 1 << QSize(0, 0) << QSize(8, 6);
    QTest::newRow("odd sides round up") << QSize(1001, 777) << 1 << QSize(10, 8) << QSize(126, 98);
    QTest::newRow("odd sides, quarter")
        << QSize(1001, 777) << 1 << QSize(251, 100) << QSize(251, 195);
    QTest::newRow("odd sides, half") << QSize(1001, 777) << 1 << QSize(252, 100) << QSize(501, 389);
    QTest::newRow("tiny") << QSize(17, 9) << 1 << QSize(3, 2) << QSize(3, 2);
    QTest::newRow("height decides") << QSize(640, 480) << 1 << QSize(10, 121) << QSize(320, 240);
    // Turned pictures compare the stored sides with the target's other sides.
    QTest::newRow("turned, half") << QSize(640, 480) << 6 << QSize(100, 300) << QSize(240, 320);
    QTest::newRow("turned, eighth") << QSize(640, 480) << 8 << QSize(60, 80) << QSize(60, 80);
    QTest::newRow("turned, full") << QSize(640, 480) << 5 << QSize(241, 320) << QSize(480, 640);
}

void TestJpegReader::dctScaling()
{
    QFETCH(QSize, stored);
    QFETCH(int, orientation);
    QFETCH(QSize, target);
    QFETCH(QSize, expected);
    const QString file = save(jpegFile(blocks(stored.width(), stored.height()), JpegKind::Baseline,
        90, orientation != 1 ? exifOrientation(orientation) : QByteArray()));
    QSize askedWith;
    const JpegReader::Result r = JpegReader::read(file, [&](QSize full) {
        askedWith = full;
        return target;
    });
    const QSize upright = orientation >= 5 ? stored.transposed() : stored;
    QCOMPARE(askedWith, upright);
    QCOMPARE(r.fullSize, upright);
    QCOMPARE(r.image.size(), expected);
    if (target.width() <= upright.width() && target.height() <= upright.height()) {
        QVERIFY(r.image.width() >= target.width());
        QVERIFY(r.image.height() >= target.height());
    }
    // A reduced picture still shows the blocks where they belong.
    if (orientation == 1) {
        const int sx = upright.width() / 32 * 16 + 8, sy = upright.height() / 32 * 16 + 8;
        const QRgb c = r.image.pixel(int(qint64(sx) * r.image.width() / upright.width()),
            int(qint64(sy) * r.image.height() / upright.height()));
        QVERIFY(distance(c, blockAt(sx, sy)) <= 40 || r.image.width() < 16);
    }
}

void TestJpegReader::invalid_data()
{
    QTest::addColumn<QByteArray>("bytes");
    const QByteArray good = jpegFile(blocks(48, 32), JpegKind::Baseline);
    const int sos = good.indexOf(QByteArray("\xFF\xDA", 2));
    QVERIFY(sos > 0);
    const int sosEnd = sos + 2 + (uchar(good[sos + 2]) << 8 | uchar(good[sos + 3]));

    QTest::newRow("empty") << QByteArray();
    QTest::newRow("text") << QByteArray("This is not a picture at all.");
    QTest::newRow("bmp") << QByteArray("BM").append(100, '\x01');
    QTest::newRow("start marker only") << QByteArray("\xFF\xD8", 2);
    QTest::newRow("start and end") << QByteArray("\xFF\xD8\xFF\xD9", 4);
    QTest::newRow("cut in the headers") << good.left(sos - 20);
    QTest::newRow("cut before the scan") << good.left(sos);
    QTest::newRow("no scan data") << good.left(sosEnd);
    QTest::newRow("a few bytes of scan") << good.left(sosEnd + 6);
    QByteArray zeroWidth = good;
    const int sof = good.indexOf(QByteArray("\xFF\xC0", 2));
    zeroWidth[sof + 7] = 0;
    zeroWidth[sof + 8] = 0;
    QTest::newRow("zero width") << zeroWidth;
    QByteArray components = good;
    components[sof + 9] = 2; // two components: no known colour space
    QTest::newRow("two components") << components;
}

void TestJpegReader::invalid()
{
    QFETCH(QByteArray, bytes);
    const QString file = save(bytes, "bad name.jpg");
    try {
        JpegReader::read(file);
        QFAIL("no error raised");
    } catch (const AppError& e) {
        QCOMPARE(e.number(), 481);
        QVERIFY2(TestUtils::keepsWords(e.description(), "Invalid picture: " + file),
            qPrintable(e.description()));
    }
}

void TestJpegReader::cutFiles_data()
{
    QTest::addColumn<JpegKind>("kind");
    QTest::newRow("baseline") << JpegKind::Baseline;
    QTest::newRow("progressive") << JpegKind::Progressive;
}

// Cut anywhere after the first part of its scan data (baseline: the first half of the
// scan; progressive: the whole first scan), a file still gives the whole picture with its
// top intact.
void TestJpegReader::cutFiles()
{
    QFETCH(JpegKind, kind);
    const QByteArray good = jpegFile(blocks(64, 128), kind);
    const QByteArray sos("\xFF\xDA", 2);
    const int first = good.indexOf(sos);
    const int second = good.indexOf(sos, first + 2);
    QVERIFY(kind == JpegKind::Baseline ? second < 0 : second > 0);
    const int from = second > 0 ? second : first + (good.size() - first) / 2;
    for (int cut = from; cut < good.size(); ++cut) {
        JpegReader::Result r;
        try {
            r = JpegReader::read(save(good.left(cut)));
        } catch (const AppError& e) {
            QFAIL(qPrintable(QStringLiteral("cut at %1 of %2 (second scan at %3): %4")
                                 .arg(cut)
                                 .arg(good.size())
                                 .arg(second)
                                 .arg(e.description())));
        }
        QCOMPARE(r.image.size(), QSize(64, 128));
        QVERIFY2(
            distance(r.image.pixel(8, 8), blockAt(8, 8)) <= 60, qPrintable(QString::number(cut)));
    }
}

// Damaged scan data decodes to something or raises 481; it never crashes.
void TestJpegReader::damagedData()
{
    const QByteArray good = jpegFile(blocks(48, 48), JpegKind::Progressive);
    QRandomGenerator rng(77);
    int pictures = 0;
    for (int i = 0; i < 300; ++i) {
        QByteArray b = good;
        for (int c = 0; c < 1 + int(rng.bounded(6)); ++c)
            b[2 + int(rng.bounded(b.size() - 2))] = char(rng.bounded(256));
        const QString file = save(b, "damaged.jpg");
        try {
            const JpegReader::Result r = JpegReader::read(file);
            QVERIFY(!r.image.isNull());
            ++pictures;
        } catch (const AppError& e) {
            QVERIFY2(e.number() == 481 || e.number() == 7, qPrintable(e.description()));
        }
    }
    QVERIFY(pictures > 0);
}

// A header declaring a picture beyond the pixel limit is refused before decoding.
void TestJpegReader::beyondPixelLimit()
{
    QByteArray b = jpegFile(blocks(16, 16), JpegKind::Baseline);
    const int sof = b.indexOf(QByteArray("\xFF\xC0", 2));
    for (int i : { 5, 7 }) { // height, width: 65000
        b[sof + i] = char(0xFD);
        b[sof + i + 1] = char(0xE8);
    }
    const QString file = save(b);
    try {
        JpegReader::read(file);
        QFAIL("no error raised");
    } catch (const AppError& e) {
        QCOMPARE(e.number(), 7);
        QVERIFY(e.description().contains(file));
    }
}

QTEST_GUILESS_MAIN(TestJpegReader)
#include "tst_jpegreader.moc"
