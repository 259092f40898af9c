// SPDX-License-Identifier: MIT

#include "imaging/Bmp.h"
#include "imaging/core/Limits.h"
#include "runtime/AppError.h"
#include "tests/common/ImageFixtures.h"
#include "tests/common/TestUtils.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

using namespace ImageFixtures;

namespace {

// One way of storing a picture: how the file is laid out, the value stored for each pixel
// and the colour that value stands for.
struct Variant
{
    BmpLayout layout;
    PixelValue value; // stored value of (x, y)
    std::function<QRgb(int, int)> colour; // expected colour of (x, y)
    int tolerance = 0; // per channel, for fields narrower than 8 bits
    bool alpha = false;
    bool rle = false;
};

QList<QRgb> makePalette(int n)
{
    QList<QRgb> p;
    for (int i = 0; i < n; ++i)
        p << qRgb((i * 53 + 17) % 256, (i * 101 + 3) % 256, (i * 29 + 200) % 256);
    return p;
}

// Widens an n-bit channel value to 8 bits by repeating its bits.
int widen(quint32 v, int bits)
{
    int out = 0;
    for (int filled = 0; filled < 8; filled += bits)
        out = (out << bits) | int(v);
    return (out >> (((8 + bits - 1) / bits) * bits - 8)) & 0xFF;
}

Variant paletted(int headerSize, int bpp, int tableSize, bool declareZero, bool topDown = false)
{
    Variant v;
    v.layout.headerSize = headerSize;
    v.layout.bitCount = bpp;
    v.layout.topDown = topDown;
    v.layout.palette = makePalette(tableSize);
    if (declareZero)
        v.layout.coloursUsed = 0;
    const QList<QRgb> pal = v.layout.palette;
    v.value = [tableSize](int x, int y) { return quint32((x * 7 + y * 3) % tableSize); };
    v.colour = [pal, tableSize](int x, int y) { return pal[(x * 7 + y * 3) % tableSize]; };
    return v;
}

Variant rle(int bpp, bool topDown)
{
    Variant v = paletted(40, bpp, bpp == 8 ? 200 : 16, false, topDown);
    v.layout.compression = bpp == 8 ? 1 : 2;
    v.rle = true;
    const int n = bpp == 8 ? 200 : 16;
    const QList<QRgb> pal = v.layout.palette;
    // Runs of three beside single pixels, so both runs and literal groups occur.
    auto index = [n](int x, int y) { return quint32((x % 6 < 3 ? x / 6 : x * 5 + y) % n); };
    v.value = index;
    v.colour = [pal, index](int x, int y) { return pal[int(index(x, y))]; };
    return v;
}

QRgb rgbAt(int x, int y)
{
    return qRgb((x * 37 + y * 11) % 256, (x * 5 + 90) % 256, (y * 71 + x) % 256);
}

Variant direct24(int headerSize, bool topDown = false)
{
    Variant v;
    v.layout.headerSize = headerSize;
    v.layout.bitCount = 24;
    v.layout.topDown = topDown;
    v.value = [](int x, int y) { return quint32(rgbAt(x, y) & 0xFFFFFF); };
    v.colour = rgbAt;
    return v;
}

// 16-bit with the given field widths, red highest, stored under the given compression.
Variant direct16(int rBits, int gBits, int bBits, int compression, int headerSize = 40)
{
    Variant v;
    v.layout.headerSize = headerSize;
    v.layout.bitCount = 16;
    v.layout.compression = compression;
    const quint32 bMask = (1u << bBits) - 1;
    const quint32 gMask = ((1u << gBits) - 1) << bBits;
    const quint32 rMask = ((1u << rBits) - 1) << (bBits + gBits);
    if (compression == 3)
        v.layout.masks = { rMask, gMask, bMask, 0 };
    auto fields = [=](int x, int y) {
        const QRgb c = rgbAt(x, y);
        return std::array<quint32, 3> { quint32(qRed(c)) >> (8 - rBits),
            quint32(qGreen(c)) >> (8 - gBits), quint32(qBlue(c)) >> (8 - bBits) };
    };
    v.value = [=](int x, int y) {
        const auto f = fields(x, y);
        return (f[0] << (bBits + gBits)) | (f[1] << bBits) | f[2];
    };
    v.colour = [=](int x, int y) {
        const auto f = fields(x, y);
        return qRgb(widen(f[0], rBits), widen(f[1], gBits), widen(f[2], bBits));
    };
    v.tolerance = 1;
    return v;
}

QRgb argbAt(int x, int y)
{
    const QRgb c = rgbAt(x, y);
    return qRgba(qRed(c), qGreen(c), qBlue(c), (x * 50 + y * 30) % 256);
}

// 32-bit B, G, R, A bytes; `withAlpha` puts real alpha in the fourth byte, else zero.
Variant direct32(int headerSize, int compression, bool withAlpha, bool topDown = false)
{
    Variant v;
    v.layout.headerSize = headerSize;
    v.layout.bitCount = 32;
    v.layout.compression = compression;
    v.layout.topDown = topDown;
    if (compression != 0)
        v.layout.masks = { 0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000 };
    v.alpha = withAlpha;
    v.value
        = [withAlpha](int x, int y) { return withAlpha ? argbAt(x, y) : rgbAt(x, y) & 0xFFFFFF; };
    v.colour = [withAlpha](int x, int y) { return withAlpha ? argbAt(x, y) : rgbAt(x, y); };
    return v;
}

// 16-bit A4R4G4B4 bit fields; `withAlpha` stores alpha in the top nibble, else zero.
Variant alpha16(bool withAlpha)
{
    Variant v;
    v.layout.bitCount = 16;
    v.layout.compression = 6;
    v.layout.masks = { 0x0F00, 0x00F0, 0x000F, 0xF000 };
    v.alpha = withAlpha;
    auto nibbles = [withAlpha](int x, int y) {
        const QRgb c = argbAt(x, y);
        return std::array<quint32, 4> { quint32(qRed(c)) >> 4, quint32(qGreen(c)) >> 4,
            quint32(qBlue(c)) >> 4, withAlpha ? quint32(qAlpha(c)) >> 4 : 0 };
    };
    v.value = [nibbles](int x, int y) {
        const auto n = nibbles(x, y);
        return (n[3] << 12) | (n[0] << 8) | (n[1] << 4) | n[2];
    };
    v.colour = [nibbles, withAlpha](int x, int y) {
        const auto n = nibbles(x, y);
        return qRgba(
            int(n[0] * 17), int(n[1] * 17), int(n[2] * 17), withAlpha ? int(n[3] * 17) : 255);
    };
    return v;
}

// A declared alpha mask whose values are all zero is a fully transparent picture, not padding.
Variant declaredZeroAlpha(Variant v)
{
    v.alpha = true;
    v.colour = [colour = v.colour](int x, int y) { return colour(x, y) & 0xFFFFFFu; };
    return v;
}

// 32-bit bit fields in an unusual arrangement: 10 bits each, red lowest.
Variant tenBit()
{
    Variant v;
    v.layout.bitCount = 32;
    v.layout.compression = 3;
    v.layout.masks = { 0x000003FF, 0x000FFC00, 0x3FF00000, 0 };
    auto tenOf = [](int c) { return quint32(c) * 1023 / 255; };
    v.value = [tenOf](int x, int y) {
        const QRgb c = rgbAt(x, y);
        return tenOf(qRed(c)) | (tenOf(qGreen(c)) << 10) | (tenOf(qBlue(c)) << 20) | 0xC0000000u;
    };
    v.colour = rgbAt;
    v.tolerance = 1;
    return v;
}

const QList<QPair<const char*, Variant>>& variants()
{
    static const QList<QPair<const char*, Variant>> all = {
        { "1-bit", paletted(40, 1, 2, false) },
        { "1-bit count 0", paletted(40, 1, 2, true) },
        { "2-bit", paletted(40, 2, 4, false) },
        { "4-bit", paletted(40, 4, 16, false) },
        { "4-bit short table", paletted(40, 4, 5, false) },
        { "8-bit", paletted(40, 8, 256, false) },
        { "8-bit count 0", paletted(40, 8, 256, true) },
        { "8-bit short table", paletted(40, 8, 9, false) },
        { "8-bit top-down", paletted(40, 8, 100, false, true) },
        { "8-bit core header", paletted(12, 8, 256, false) },
        { "4-bit core header", paletted(12, 4, 16, false) },
        { "1-bit core header", paletted(12, 1, 2, false) },
        { "8-bit V5 header", paletted(124, 8, 30, false) },
        { "8-bit OS/2 64 header", paletted(64, 8, 40, false) },
        { "RLE8", rle(8, false) },
        { "RLE8 top-down", rle(8, true) },
        { "RLE4", rle(4, false) },
        { "16-bit 555", direct16(5, 5, 5, 0) },
        { "16-bit 565 fields", direct16(5, 6, 5, 3) },
        { "16-bit 444 fields V3", direct16(4, 4, 4, 3, 56) },
        { "16-bit 4444 alpha fields", alpha16(true) },
        { "16-bit 4444 declared alpha all zero", declaredZeroAlpha(alpha16(false)) },
        { "24-bit", direct24(40) },
        { "24-bit top-down", direct24(40, true) },
        { "24-bit core header", direct24(12) },
        { "24-bit OS/2 16 header", direct24(16) },
        { "24-bit V4 header", direct24(108) },
        { "32-bit padding byte", direct32(40, 0, false) },
        { "32-bit alpha byte", direct32(40, 0, true) },
        { "32-bit alpha top-down", direct32(40, 0, true, true) },
        { "32-bit fields", direct32(40, 3, false) },
        { "32-bit alpha fields", direct32(40, 6, true) },
        { "32-bit V2 fields", direct32(52, 3, false) },
        { "32-bit V3 fields alpha", direct32(56, 3, true) },
        { "32-bit V4 alpha", direct32(108, 3, true) },
        { "32-bit V5 alpha", direct32(124, 3, true) },
        { "32-bit V5 alpha mask, alpha all zero", declaredZeroAlpha(direct32(124, 3, false)) },
        { "32-bit V3 alpha mask, alpha all zero", declaredZeroAlpha(direct32(56, 3, false)) },
        { "32-bit V5 without alpha mask", direct32(124, 0, false) },
        { "32-bit 10-bit fields", tenBit() },
    };
    return all;
}

QByteArray fileFor(const Variant& v, int w, int h)
{
    const QByteArray bits = v.rle ? encodeRle(v.layout.bitCount, w, h, v.layout.topDown, v.value)
                                  : packRows(v.layout, w, h, v.value);
    return bmpFile(v.layout, w, h, bits);
}

bool close(QRgb a, QRgb b, int tol)
{
    return std::abs(qRed(a) - qRed(b)) <= tol && std::abs(qGreen(a) - qGreen(b)) <= tol
        && std::abs(qBlue(a) - qBlue(b)) <= tol && qAlpha(a) == qAlpha(b);
}

QString hex(QRgb c)
{
    return QString::number(c, 16).rightJustified(8, '0');
}

} // namespace

class TestBmp : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }
    void variants_data();
    void variants();
    void rleEscapes_data();
    void rleEscapes();
    void indexBeyondPalette();
    void shortTableByOffset();
    void damaged_data();
    void damaged();
    void everyTruncation();
    void mutatedHeaders();
    void missingFile();
    void roundTrip_data();
    void roundTrip();
    void writeFailures();
    void rowWriterWithoutFinish();

private:
    QString path(const QString& name) const { return m_dir.filePath(name); }
    QTemporaryDir m_dir;
};

void TestBmp::variants_data()
{
    QTest::addColumn<int>("variant");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    const int widths[] = { 1, 2, 3, 4, 5, 6, 7, 8, 9, 31 };
    for (int i = 0; i < ::variants().size(); ++i)
        for (int w : widths)
            QTest::addRow("%s %dx%d", ::variants()[i].first, w, w % 3 + 2) << i << w << w % 3 + 2;
}

// Every stored pixel comes back as its colour, through read() and through RowReader.
void TestBmp::variants()
{
    QFETCH(int, variant);
    QFETCH(int, width);
    QFETCH(int, height);
    const Variant& v = ::variants()[variant].second;
    const QString file = path("variant.bmp");
    QVERIFY(writeFile(file, fileFor(v, width, height)));

    const QImage image = Bmp::read(file);
    QCOMPARE(image.size(), QSize(width, height));
    QCOMPARE(image.format(), v.alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    Bmp::RowReader reader(file);
    QCOMPARE(reader.width(), width);
    QCOMPARE(reader.height(), height);
    QCOMPARE(reader.hasAlpha(), v.alpha);
    std::vector<QRgb> row(static_cast<size_t>(width));
    for (int y = 0; y < height; ++y) {
        reader.readRow(row.data());
        for (int x = 0; x < width; ++x) {
            const QRgb expected = v.colour(x, y);
            const QRgb got = image.pixel(x, y);
            if (!close(got, expected, v.tolerance))
                QFAIL(qPrintable(QStringLiteral("(%1,%2): %3, expected %4")
                                     .arg(x)
                                     .arg(y)
                                     .arg(hex(got), hex(expected))));
            QCOMPARE(row[size_t(x)], got);
        }
    }
}

void TestBmp::rleEscapes_data()
{
    QTest::addColumn<int>("bitCount");
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QList<int>>("indices"); // 4x3, top row first

    // Stored rows are bottom-up: the first stored row is the picture's last.
    QTest::newRow("delta skips, early end of line")
        << 8 << QByteArray::fromHex("0201 0002 0101 0103 0000 0302 0000 0001")
        << QList<int> { 2, 2, 2, 0, 0, 0, 0, 3, 1, 1, 0, 0 };
    QTest::newRow("early end of picture") << 8 << QByteArray::fromHex("0403 0000 0001")
                                          << QList<int> { 0, 0, 0, 0, 0, 0, 0, 0, 3, 3, 3, 3 };
    QTest::newRow("odd literal group is padded")
        << 8 << QByteArray::fromHex("0003010203 00 0103 0000 0404 0000 0405 0001")
        << QList<int> { 5, 5, 5, 5, 4, 4, 4, 4, 1, 2, 3, 3 };
    QTest::newRow("run past row end is cut")
        << 8 << QByteArray::fromHex("0901 0000 0202 0000 0203 0001")
        << QList<int> { 3, 3, 0, 0, 2, 2, 0, 0, 1, 1, 1, 1 };
    QTest::newRow("literal past row end is cut")
        << 8 << QByteArray::fromHex("00060102030405060000 0000 0000 0001")
        << QList<int> { 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4 };
    QTest::newRow("delta past the last row ends")
        << 8 << QByteArray::fromHex("0407 0000 00020009 0408")
        << QList<int> { 0, 0, 0, 0, 0, 0, 0, 0, 7, 7, 7, 7 };
    QTest::newRow("rle4 run alternates nibbles")
        << 4 << QByteArray::fromHex("0412 0000 0334 0000 0000 0001")
        << QList<int> { 0, 0, 0, 0, 3, 4, 3, 0, 1, 2, 1, 2 };
    QTest::newRow("rle4 odd literal nibbles")
        << 4 << QByteArray::fromHex("00035670 0000 00045678 0000 0001")
        << QList<int> { 0, 0, 0, 0, 5, 6, 7, 8, 5, 6, 7, 0 };
}

// Hand-written streams pin down escapes, padding, clipping and what unwritten pixels get
// (palette index 0).
void TestBmp::rleEscapes()
{
    QFETCH(int, bitCount);
    QFETCH(QByteArray, stream);
    QFETCH(QList<int>, indices);
    BmpLayout layout;
    layout.bitCount = bitCount;
    layout.compression = bitCount == 8 ? 1 : 2;
    layout.palette = makePalette(16);
    const QString file = path("rle.bmp");
    QVERIFY(writeFile(file, bmpFile(layout, 4, 3, stream)));
    const QImage image = Bmp::read(file);
    QCOMPARE(image.size(), QSize(4, 3));
    for (int i = 0; i < indices.size(); ++i)
        QCOMPARE(hex(image.pixel(i % 4, i / 4)), hex(layout.palette[indices[i]]));
}

// Indices past the colour table give black rather than reading past the table.
void TestBmp::indexBeyondPalette()
{
    BmpLayout layout;
    layout.bitCount = 8;
    layout.palette = { qRgb(10, 20, 30), qRgb(200, 100, 50) };
    const QString file = path("beyond.bmp");
    QVERIFY(writeFile(file, bmpFile(layout, 4, 1, packRows(layout, 4, 1, [](int x, int) {
        return quint32(x == 0 ? 1 : x == 1 ? 2 : 255);
    }))));
    const QImage image = Bmp::read(file);
    QCOMPARE(image.pixel(0, 0), layout.palette[1]);
    QCOMPARE(image.pixel(1, 0), qRgb(0, 0, 0));
    QCOMPARE(image.pixel(2, 0), qRgb(0, 0, 0));
}

// A table that declares 0 (all 256) colours but stops where the pixel data begins.
void TestBmp::shortTableByOffset()
{
    BmpLayout layout;
    layout.bitCount = 8;
    layout.palette = makePalette(3);
    layout.coloursUsed = 0;
    const QString file = path("short.bmp");
    QVERIFY(writeFile(file,
        bmpFile(layout, 3, 2, packRows(layout, 3, 2, [](int x, int) { return quint32(x); }))));
    const QImage image = Bmp::read(file);
    for (int x = 0; x < 3; ++x)
        QCOMPARE(image.pixel(x, 1), layout.palette[x]);
}

namespace {

QByteArray valid24(int w = 4, int h = 3)
{
    BmpLayout layout;
    return bmpFile(
        layout, w, h, packRows(layout, w, h, [](int x, int y) { return quint32(x * y); }));
}

QByteArray patched(QByteArray b, int offset, quint32 v, int bytes = 4)
{
    for (int i = 0; i < bytes; ++i)
        b[offset + i] = char(v >> (8 * i));
    return b;
}

} // namespace

void TestBmp::damaged_data()
{
    QTest::addColumn<QByteArray>("bytes");
    const QByteArray good = valid24();
    // Offsets: 10 data offset, 14 header size, 18 width, 22 height, 28 bit count,
    // 30 compression.
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("magic only") << QByteArray("BM");
    QTest::newRow("not a bmp") << QByteArray("GIF89a").append(60, '\0');
    QTest::newRow("header cut") << good.left(30);
    QTest::newRow("header size 0") << patched(good, 14, 0);
    QTest::newRow("header size 99") << patched(good, 14, 99);
    QTest::newRow("header size huge") << patched(good, 14, 0x7FFFFFFF);
    QTest::newRow("width 0") << patched(good, 18, 0);
    QTest::newRow("width negative") << patched(good, 18, quint32(-4));
    QTest::newRow("height 0") << patched(good, 22, 0);
    QTest::newRow("height most negative") << patched(good, 22, 0x80000000u);
    QTest::newRow("absurd size") << patched(patched(good, 18, 100000), 22, 100000);
    QTest::newRow("wide beyond file") << patched(good, 18, 5000);
    QTest::newRow("bit count 0") << patched(good, 28, 0, 2);
    QTest::newRow("bit count 3") << patched(good, 28, 3, 2);
    QTest::newRow("bit count 64") << patched(good, 28, 64, 2);
    QTest::newRow("embedded jpeg") << patched(good, 30, 4);
    QTest::newRow("embedded png") << patched(good, 30, 5);
    QTest::newRow("unknown compression") << patched(good, 30, 77);
    QTest::newRow("fields on 24-bit") << patched(good, 30, 3);
    QTest::newRow("rle8 on 24-bit") << patched(good, 30, 1);
    QTest::newRow("offset beyond file") << patched(good, 10, 5000);
    QTest::newRow("offset inside header") << patched(good, 10, 20);
    QTest::newRow("offset huge") << patched(good, 10, 0xFFFFFFF0u);
    QTest::newRow("last row missing") << good.left(good.size() - 12);

    BmpLayout pal;
    pal.bitCount = 8;
    QTest::newRow("8-bit without table") << bmpFile(pal, 4, 2, QByteArray(8, '\0'));

    BmpLayout rle8;
    rle8.bitCount = 8;
    rle8.compression = 1;
    rle8.palette = makePalette(4);
    QTest::newRow("rle without end") << bmpFile(rle8, 4, 3, QByteArray::fromHex("0401 0000"));
    QTest::newRow("rle literal cut") << bmpFile(rle8, 4, 3, QByteArray::fromHex("0004 0102"));
    QTest::newRow("rle delta cut") << bmpFile(rle8, 4, 3, QByteArray::fromHex("0002 01"));
    QTest::newRow("rle absurd size") << patched(
        patched(bmpFile(rle8, 4, 3, QByteArray::fromHex("0001")), 18, 1 << 20), 22, 1 << 20);
}

// Damaged files raise 481 naming the file; none crashes or allocates without bound.
void TestBmp::damaged()
{
    QFETCH(QByteArray, bytes);
    const QString file = path("damaged.bmp");
    QVERIFY(writeFile(file, bytes));
    for (int pass = 0; pass < 2; ++pass) {
        try {
            if (pass == 0)
                Bmp::read(file);
            else
                Bmp::RowReader reader(file);
            QFAIL("no error raised");
        } catch (const AppError& e) {
            QCOMPARE(e.number(), 481);
            QVERIFY2(TestUtils::keepsWords(e.description(), "Invalid picture: " + file),
                qPrintable(e.description()));
        }
    }
}

// Any cut of a file with unpadded rows loses picture data and must be refused.
void TestBmp::everyTruncation()
{
    BmpLayout layout;
    layout.bitCount = 8;
    layout.palette = makePalette(7);
    const QByteArray full = bmpFile(
        layout, 8, 4, packRows(layout, 8, 4, [](int x, int y) { return quint32((x + y) % 7); }));
    const QString file = path("cut.bmp");
    for (int n = 0; n < full.size(); ++n) {
        QVERIFY(writeFile(file, full.left(n)));
        try {
            Bmp::read(file);
            QFAIL(qPrintable(QStringLiteral("accepted %1 of %2 bytes").arg(n).arg(full.size())));
        } catch (const AppError& e) {
            QCOMPARE(e.number(), 481);
        }
    }
    QVERIFY(writeFile(file, full));
    QCOMPARE(Bmp::read(file).size(), QSize(8, 4));
}

// Random damage to headers and to RLE streams gives a picture or an error, never a crash.
void TestBmp::mutatedHeaders()
{
    struct Seed
    {
        QByteArray bytes;
        bool stream; // damage the pixel data rather than the headers
    };
    auto named = [](const char* name) {
        for (const auto& v : ::variants())
            if (qstrcmp(v.first, name) == 0)
                return v.second;
        qFatal("no variant %s", name);
    };
    const QList<Seed> seeds = { { valid24(5, 3), false }, { fileFor(named("RLE8"), 9, 4), true },
        { fileFor(named("RLE4"), 9, 4), true },
        { fileFor(named("16-bit 565 fields"), 5, 3), false },
        { fileFor(named("32-bit V5 alpha"), 3, 3), false },
        { fileFor(named("8-bit core header"), 3, 3), false } };
    QRandomGenerator rng(20240607);
    const QString file = path("mutated.bmp");
    int decoded = 0;
    for (int i = 0; i < 1800; ++i) {
        const Seed& seed = seeds[i % seeds.size()];
        QByteArray b = seed.bytes;
        const int from = seed.stream ? int(qFromLittleEndian<quint32>(b.constData() + 10)) : 0;
        const int to = seed.stream ? int(b.size()) : std::min<int>(b.size(), 70);
        const int changes = 1 + int(rng.bounded(4));
        for (int c = 0; c < changes; ++c)
            b[from + int(rng.bounded(to - from))] = char(rng.bounded(256));
        QVERIFY(writeFile(file, b));
        try {
            const QImage image = Bmp::read(file);
            QVERIFY(!image.isNull());
            QVERIFY(qint64(image.width()) * image.height() <= Limits::maxPixels);
            ++decoded;
        } catch (const AppError& e) {
            QVERIFY2(e.number() == 481 || e.number() == 7, qPrintable(e.description()));
        }
    }
    QVERIFY(decoded > 0); // some damage is harmless (resolution, sizes in the header)
}

void TestBmp::missingFile()
{
    const QString file = path("no such.bmp");
    try {
        Bmp::read(file);
        QFAIL("no error raised");
    } catch (const AppError& e) {
        QCOMPARE(e.number(), 53);
        QCOMPARE(e.description(), "File not found: " + file);
    }
}

void TestBmp::roundTrip_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<QImage::Format>("format");
    QTest::addColumn<bool>("transparent");
    for (int w : { 1, 2, 3, 4, 5, 6, 7, 8, 13, 257 }) {
        QTest::addRow("opaque %d", w) << w << 3 << QImage::Format_RGB32 << false;
        QTest::addRow("alpha %d", w) << w << 2 << QImage::Format_ARGB32 << true;
    }
    QTest::newRow("alpha format, all opaque") << 7 << 5 << QImage::Format_ARGB32 << false;
    QTest::newRow("premultiplied") << 6 << 600 << QImage::Format_ARGB32_Premultiplied << true;
    QTest::newRow("indexed") << 5 << 3 << QImage::Format_Indexed8 << false;
    QTest::newRow("tall, several blocks") << 3 << 40000 << QImage::Format_RGB32 << false;
}

// Written pictures read back exactly: 24-bit when opaque, 32-bit with alpha otherwise.
void TestBmp::roundTrip()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(QImage::Format, format);
    QFETCH(bool, transparent);
    QImage source(width, height, transparent ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            source.setPixel(
                x, y, transparent ? (argbAt(x, y) | (x + y == 0 ? 0xFF000000 : 0)) : rgbAt(x, y));
    if (format == QImage::Format_Indexed8)
        source = source.convertToFormat(format, Qt::ThresholdDither);
    else if (format == QImage::Format_ARGB32_Premultiplied)
        source = source.convertToFormat(format);
    const QImage expected
        = source.convertToFormat(transparent ? QImage::Format_ARGB32 : QImage::Format_RGB32);

    const QString file = path("round.bmp");
    QFile::remove(file);
    QVERIFY(writeFile(file, "an older file, longer than the picture will be, to be replaced"));
    Bmp::write(source, file);
    QFile f(file);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    const int bpp = uchar(bytes[28]);
    QCOMPARE(bpp, transparent ? 32 : 24);
    const qint64 stride = (qint64(width) * bpp + 31) / 32 * 4;
    QCOMPARE(bytes.size(), (transparent ? 14 + 124 : 14 + 40) + stride * height);

    const QImage back = Bmp::read(file);
    QCOMPARE(back.format(), transparent ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    QCOMPARE(back.size(), expected.size());
    for (int y = 0; y < height; ++y)
        QVERIFY2(
            std::memcmp(back.constScanLine(y), expected.constScanLine(y), size_t(width) * 4) == 0,
            qPrintable(QStringLiteral("row %1 differs").arg(y)));
}

void TestBmp::writeFailures()
{
    QImage image(3, 3, QImage::Format_RGB32);
    image.fill(Qt::red);

    const QString inMissingFolder = path("missing/out.bmp");
    try {
        Bmp::write(image, inMissingFolder);
        QFAIL("no error raised");
    } catch (const AppError& e) {
        QVERIFY(e.description().endsWith(inMissingFolder));
    }

    // A full disk: the error names the path, and a device is never removed.
    QImage big(2000, 2000, QImage::Format_RGB32);
    big.fill(Qt::blue);
    try {
        Bmp::write(big, "/dev/full");
        QFAIL("no error raised");
    } catch (const AppError& e) {
        QCOMPARE(e.number(), 61);
        QVERIFY(e.description().endsWith("/dev/full"));
    }
    QVERIFY(QFile::exists("/dev/full"));

    try {
        Bmp::write(QImage(), path("empty.bmp"));
        QFAIL("no error raised");
    } catch (const AppError& e) {
        QCOMPARE(e.number(), 5);
    }
    QVERIFY(!QFile::exists(path("empty.bmp")));
}

// Rows are written top first into a file beside the path, which takes the path only at
// finish(); an unfinished writer leaves the path as it was and no temporary behind.
void TestBmp::rowWriterWithoutFinish()
{
    const auto temporaries = [this] {
        return QDir(m_dir.path()).entryList({ ".pictelle-*" }, QDir::Files | QDir::Hidden);
    };
    const QString file = path("rows.bmp");
    const std::vector<QRgb> row(5, qRgb(1, 2, 3));
    {
        Bmp::RowWriter writer(file, 5, 4, false);
        writer.writeRow(row.data());
        QVERIFY(!QFile::exists(file));
        QCOMPARE(temporaries(), QStringList()); // a file without a name until finish()
    }
    QVERIFY(!QFile::exists(file));
    QCOMPARE(temporaries(), QStringList());

    QVERIFY(writeFile(file, "an older file"));
    {
        Bmp::RowWriter writer(file, 5, 4, false);
        writer.writeRow(row.data());
    }
    QFile older(file);
    QVERIFY(older.open(QIODevice::ReadOnly));
    QCOMPARE(older.readAll(), QByteArray("an older file"));
    QCOMPARE(temporaries(), QStringList());

    Bmp::RowWriter writer(file, 5, 2, false);
    writer.writeRow(row.data());
    const std::vector<QRgb> second(5, qRgb(200, 100, 0));
    writer.writeRow(second.data());
    writer.finish();
    writer.finish(); // a second call must not remove the finished file
    const QImage back = Bmp::read(file);
    QCOMPARE(back.pixel(4, 0), row[0]);
    QCOMPARE(back.pixel(0, 1), second[0]);
    QCOMPARE(temporaries(), QStringList());
}

QTEST_GUILESS_MAIN(TestBmp)
#include "tst_bmp.moc"
