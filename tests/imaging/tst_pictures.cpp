// SPDX-License-Identifier: MIT

#include "imaging/Icon.h"
#include "imaging/Pictures.h"
#include "runtime/AppError.h"
#include "tests/common/ImageFixtures.h"
#include "tests/common/TestUtils.h"

#include <QBuffer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace ImageFixtures;

namespace {

QRgb colourAt(int x, int y)
{
    return qRgb((x * 40) % 256, (y * 60) % 256, (x * y * 7) % 256);
}

QImage pattern(int w, int h, bool alpha)
{
    QImage image(w, h, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const QRgb c = colourAt(x, y);
            image.setPixel(
                x, y, alpha ? qRgba(qRed(c), qGreen(c), qBlue(c), (x * 31 + y * 17) % 256) : c);
        }
    return image;
}

QByteArray bmpBytes(int w, int h)
{
    BmpLayout layout;
    return bmpFile(layout, w, h,
        packRows(layout, w, h, [](int x, int y) { return quint32(colourAt(x, y) & 0xFFFFFF); }));
}

QByteArray pngBytes(const QImage& image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// A 32-bit icon bitmap whose alpha comes from the pattern.
QByteArray alphaIconBitmap(int w, int h)
{
    BmpLayout layout;
    layout.bitCount = 32;
    const QImage p = pattern(w, h, true);
    return iconBitmap(layout, w, h,
        packRows(layout, w, h, [&](int x, int y) { return p.pixel(x, y); }),
        [](int, int) { return false; });
}

void expectError(const std::function<void()>& f, int number, const QString& description)
{
    try {
        f();
        QFAIL("no error raised");
    } catch (const AppError& e) {
        QCOMPARE(e.number(), number);
        QVERIFY2(TestUtils::keepsWords(e.description(), description), qPrintable(e.description()));
    }
}

} // namespace

class TestPictures : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }
    void contentDecides_data();
    void contentDecides();
    void emptyPath();
    void errors_data();
    void errors();
    void missingAndFolder();
    void loadForScalesOnlyJpeg();
    void saveRoundTrip_data();
    void saveRoundTrip();
    void iconWithMask();
    void icons_data();
    void icons();
    void cursorHotspot();
    void damagedIcons_data();
    void damagedIcons();

private:
    QString save(const QByteArray& bytes, const QString& name)
    {
        return saveIn(m_dir, bytes, name);
    }
    QTemporaryDir m_dir;
};

void TestPictures::contentDecides_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QSize>("size");
    QTest::newRow("bmp") << bmpBytes(7, 5) << "a.bmp" << QSize(7, 5);
    QTest::newRow("bmp named jpg") << bmpBytes(7, 5) << "b.JPG" << QSize(7, 5);
    QTest::newRow("jpeg named bmp")
        << jpegFile(pattern(33, 17, false), JpegKind::Baseline) << "c.bmp" << QSize(33, 17);
    QTest::newRow("jpeg without extension")
        << jpegFile(pattern(9, 30, false), JpegKind::Progressive) << "noext" << QSize(9, 30);
    QTest::newRow("icon named png")
        << iconFile(1, { { alphaIconBitmap(16, 16), 16, 16, 32, {} } }) << "d.png" << QSize(16, 16);
}

void TestPictures::contentDecides()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, name);
    QFETCH(QSize, size);
    const QImage image = Pictures::LoadPicture(save(bytes, name));
    QCOMPARE(image.size(), size);
}

void TestPictures::emptyPath()
{
    QVERIFY(Pictures::LoadPicture(QString()).isNull());
    const Pictures::Loaded loaded = Pictures::LoadPictureFor(QString(), [](QSize s) { return s; });
    QVERIFY(loaded.image.isNull());
}

void TestPictures::errors_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("empty file") << QByteArray();
    QTest::newRow("one byte") << QByteArray("B");
    QTest::newRow("text") << QByteArray("hello, world\n");
    QTest::newRow("png") << pngBytes(pattern(4, 4, false));
    QTest::newRow("gif") << QByteArray("GIF89a\x01\x00\x01\x00", 10);
    QTest::newRow("damaged bmp") << bmpBytes(40, 40).left(100);
    QTest::newRow("damaged jpeg") << QByteArray("\xFF\xD8\xFF\xE0garbage", 11);
}

// Anything that is not a readable BMP, JPEG, icon or cursor is an invalid picture.
void TestPictures::errors()
{
    QFETCH(QByteArray, bytes);
    const QString file = save(bytes, "Holiday 2023.jpg");
    expectError([&] { Pictures::LoadPicture(file); }, 481, "Invalid picture: " + file);
}

void TestPictures::missingAndFolder()
{
    const QString missing = m_dir.filePath("none.bmp");
    expectError([&] { Pictures::LoadPicture(missing); }, 53, "File not found: " + missing);
    try {
        Pictures::LoadPicture(m_dir.path());
        QFAIL("no error raised");
    } catch (const AppError& e) {
        QVERIFY(e.number() != 0);
        QVERIFY(e.description().endsWith(m_dir.path()));
    }
}

// The target reaches the JPEG decoder; a BMP comes whole with its own size as full size.
void TestPictures::loadForScalesOnlyJpeg()
{
    const auto quarter = [](QSize s) { return s / 4; };
    const QString jpeg = save(jpegFile(pattern(400, 200, false), JpegKind::Baseline), "big.jpg");
    const Pictures::Loaded j = Pictures::LoadPictureFor(jpeg, quarter);
    QCOMPARE(j.fullSize, QSize(400, 200));
    QCOMPARE(j.image.size(), QSize(100, 50));

    const QString bmp = save(bmpBytes(400, 200), "big.bmp");
    const Pictures::Loaded b = Pictures::LoadPictureFor(bmp, quarter);
    QCOMPARE(b.fullSize, QSize(400, 200));
    QCOMPARE(b.image.size(), QSize(400, 200));
}

void TestPictures::saveRoundTrip_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<bool>("alpha");
    for (int w : { 1, 3, 6, 11 }) {
        QTest::addRow("opaque %d", w) << w << false;
        QTest::addRow("alpha %d", w) << w << true;
    }
}

// SavePicture then LoadPicture gives the same pixels, replacing an older file.
void TestPictures::saveRoundTrip()
{
    QFETCH(int, width);
    QFETCH(bool, alpha);
    const QImage source = pattern(width, 4, alpha);
    const QString file = save(QByteArray(5000, 'x'), "temp.bmp");
    Pictures::SavePicture(source, file);
    const QImage back = Pictures::LoadPicture(file);
    QCOMPARE(back.format(), alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    QCOMPARE(back, source);
}

// A 4-bit icon takes its transparency from the AND mask.
void TestPictures::iconWithMask()
{
    BmpLayout layout;
    layout.bitCount = 4;
    layout.palette = { qRgb(0, 0, 0), qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255) };
    const int w = 13, h = 7;
    auto index = [](int x, int y) { return quint32((x + y) % 4); };
    auto hole = [](int x, int y) { return x < 3 && y < 2; };
    const QString file = save(
        iconFile(
            1, { { iconBitmap(layout, w, h, packRows(layout, w, h, index), hole), w, h, 4, {} } }),
        "mask.ico");
    const QImage image = Pictures::LoadPicture(file);
    QCOMPARE(image.size(), QSize(w, h));
    QVERIFY(image.hasAlphaChannel());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            if (hole(x, y))
                QCOMPARE(qAlpha(image.pixel(x, y)), 0);
            else
                QCOMPARE(image.pixel(x, y), layout.palette[int(index(x, y))]);
        }
}

void TestPictures::icons_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QImage>("expected");
    BmpLayout layout;
    layout.bitCount = 32;
    auto solid = [&](int s, QRgb c) {
        return iconBitmap(layout, s, s,
            packRows(layout, s, s, [c](int, int) { return quint32(c); }),
            [](int, int) { return false; });
    };
    QImage green(48, 48, QImage::Format_ARGB32);
    green.fill(0xFF00FF00u);
    // A 32-bit icon with alpha of its own keeps it, whatever the mask says.
    QTest::newRow("own alpha") << iconFile(1, { { alphaIconBitmap(5, 9), 5, 9, 32, {} } })
                               << pattern(5, 9, true);
    QTest::newRow("largest of three") << iconFile(1,
        { { solid(16, 0xFF0000FF), 16, 16, 32, {} }, { solid(48, 0xFF00FF00), 48, 48, 32, {} },
            { solid(32, 0xFFFF0000), 32, 32, 32, {} } })
                                      << green;
    QTest::newRow("png inside") << iconFile(
        1, { { pngBytes(pattern(256, 256, true)), 256, 256, 32, {} } })
                                << pattern(256, 256, true);
}

void TestPictures::icons()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QImage, expected);
    QCOMPARE(Pictures::LoadPicture(save(bytes, "icon.ico")), expected);
}

// A cursor's hotspot comes from its directory, where an icon keeps its colour depth.
void TestPictures::cursorHotspot()
{
    const QString file
        = save(iconFile(2, { { alphaIconBitmap(32, 32), 32, 32, 0, QPoint(6, 1) } }), "HAND-M.CUR");
    const Icon::Picture cursor = Icon::read(file);
    QCOMPARE(cursor.hotspot, QPoint(6, 1));
    QCOMPARE(cursor.image, pattern(32, 32, true));
    QCOMPARE(Pictures::LoadPicture(file).size(), QSize(32, 32));
}

void TestPictures::damagedIcons_data()
{
    QTest::addColumn<QByteArray>("bytes");
    const QByteArray good = iconFile(1, { { alphaIconBitmap(8, 8), 8, 8, 32, {} } });
    auto patched = [&](int at, quint32 v) {
        QByteArray b = good;
        for (int i = 0; i < 4; ++i)
            b[at + i] = char(v >> (8 * i));
        return b;
    };
    QTest::newRow("directory only") << good.left(6);
    QTest::newRow("entry cut") << good.left(15);
    QTest::newRow("bitmap cut") << good.left(good.size() - 200);
    QTest::newRow("length beyond file") << patched(14, 100000);
    QTest::newRow("offset beyond file") << patched(18, 100000);
    QTest::newRow("offset into directory") << patched(18, 2);
    QTest::newRow("bad header size") << patched(22, 7);
    QTest::newRow("absurd width") << patched(26, 0x7FFFFFFF);
    QTest::newRow("broken png") << iconFile(
        1, { { pngBytes(pattern(4, 4, true)).left(30), 4, 4, 32, {} } });
}

void TestPictures::damagedIcons()
{
    QFETCH(QByteArray, bytes);
    const QString file = save(bytes, "bad.ico");
    expectError([&] { Pictures::LoadPicture(file); }, 481, "Invalid picture: " + file);
}

QTEST_GUILESS_MAIN(TestPictures)
#include "tst_pictures.moc"
