// SPDX-License-Identifier: MIT

#include "conversion/FileThumbnail.h"
#include "conversion/PictureScaling.h"
#include "imaging/Bmp.h"
#include "runtime/AppError.h"
#include "tests/common/ImageFixtures.h"
#include "tests/common/TestUtils.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <cstring>

using namespace ImageFixtures;

namespace {

enum class Kind { Rgb24, Argb32, Padding32, LateAlpha32, Palette8, Rle8 };

// Noise, so that every pixel weighs in the averages and a changed summing order shows.
quint32 noise(int x, int y)
{
    quint32 h = quint32(x) * 73856093u ^ quint32(y) * 19349663u ^ 0x5bd1e995u;
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    return h ^ (h >> 15);
}

QByteArray bmpOf(Kind kind, bool topDown, int w, int h)
{
    BmpLayout layout;
    layout.topDown = topDown;
    PixelValue value = [](int x, int y) { return noise(x, y) & 0xFFFFFF; };
    switch (kind) {
    case Kind::Rgb24:
        break;
    case Kind::Argb32: // as png2bmp writes a picture with alpha
        layout.headerSize = 124;
        layout.bitCount = 32;
        layout.compression = 3;
        layout.masks = { 0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000 };
        value = [](int x, int y) { return noise(x, y); };
        break;
    case Kind::Padding32: // fourth bytes all zero: opaque
        layout.bitCount = 32;
        break;
    case Kind::LateAlpha32: // one alpha byte set, in the top row
        layout.bitCount = 32;
        value = [w](int x, int y) {
            return (noise(x, y) & 0xFFFFFF) | (x == w - 1 && y == 0 ? 0xC8000000u : 0u);
        };
        break;
    case Kind::Palette8:
    case Kind::Rle8:
        layout.bitCount = 8;
        for (int i = 0; i < 256; ++i)
            layout.palette << (noise(i, 999) | 0xFF000000u);
        value = [](int x, int y) { return noise(x, y) % 256; };
        break;
    }
    if (kind == Kind::Rle8) {
        layout.compression = 1;
        return bmpFile(layout, w, h, encodeRle(8, w, h, topDown, value));
    }
    return bmpFile(layout, w, h, packRows(layout, w, h, value));
}

QSize targetAt(QSize full, int percentage)
{
    using namespace PictureScaling;
    return storedSize(thumbnailSize(full, scaleFactor(percentage)));
}

// Fails with the first differing pixel.
void compareImages(const QImage& streamed, const QImage& whole)
{
    QCOMPARE(streamed.format(), whole.format());
    QCOMPARE(streamed.size(), whole.size());
    for (int y = 0; y < whole.height(); ++y) {
        if (std::memcmp(
                streamed.constScanLine(y), whole.constScanLine(y), std::size_t(whole.width()) * 4)
            == 0)
            continue;
        for (int x = 0; x < whole.width(); ++x)
            QCOMPARE(
                QString::number(streamed.pixel(x, y), 16), QString::number(whole.pixel(x, y), 16));
    }
}

// What the file gave through the whole picture, or the error's number and text.
QString outcome(const std::function<QImage()>& read, QImage& image)
{
    try {
        image = read();
        return QStringLiteral("picture");
    } catch (const AppError& e) {
        return QString::number(e.number()) + QLatin1Char(' ') + e.description();
    }
}

} // namespace

class TestFileThumbnail : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }
    void streamedEqualsWhole_data();
    void streamedEqualsWhole();
    void everyCutFailsAsBefore_data();
    void everyCutFailsAsBefore();
    void fileShrinksWhileRead_data();
    void fileShrinksWhileRead();

private:
    QTemporaryDir m_dir;
};

void TestFileThumbnail::streamedEqualsWhole_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("topDown");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("percentage");
    const struct
    {
        const char* name;
        Kind kind;
        bool topDown;
    } kinds[] = { { "24-bit", Kind::Rgb24, false }, { "24-bit top-down", Kind::Rgb24, true },
        { "32-bit alpha", Kind::Argb32, false }, { "32-bit alpha top-down", Kind::Argb32, true },
        { "32-bit padding", Kind::Padding32, false },
        { "32-bit late alpha", Kind::LateAlpha32, false }, { "8-bit", Kind::Palette8, false },
        { "RLE8", Kind::Rle8, false } };
    // One row, one column, widths 1 to 7 past a multiple of 4 (row padding), primes.
    const QSize sizes[] = { { 1, 1 }, { 1, 37 }, { 53, 1 }, { 2, 3 }, { 3, 5 }, { 5, 4 }, { 6, 7 },
        { 7, 2 }, { 61, 47 }, { 100, 75 } };
    for (const auto& k : kinds)
        for (const QSize s : sizes)
            for (int p : { 1, 10, 40, 73, 100 })
                QTest::addRow("%s %dx%d %d%%", k.name, s.width(), s.height(), p)
                    << int(k.kind) << k.topDown << s << p;
    // Several blocks of rows, read from either end; alpha found only in the last block read.
    for (const auto& k : kinds)
        for (int p : { 10, 73 })
            QTest::addRow("%s 701x3001 %d%%", k.name, p)
                << int(k.kind) << k.topDown << QSize(701, 3001) << p;
}

// The streamed thumbnail is byte for byte the thumbnail of the whole picture.
void TestFileThumbnail::streamedEqualsWhole()
{
    QFETCH(int, kind);
    QFETCH(bool, topDown);
    QFETCH(QSize, size);
    QFETCH(int, percentage);
    const QString file = m_dir.filePath(QStringLiteral("picture.bmp"));
    QVERIFY(writeFile(file, bmpOf(Kind(kind), topDown, size.width(), size.height())));
    const QSize target = targetAt(size, percentage);
    const QImage whole = PictureScaling::scale(Bmp::read(file), target);
    QVERIFY(!whole.isNull());
    const QImage streamed = FileThumbnail::read(file, [percentage](QSize full) {
        return targetAt(full, percentage);
    }).image;
    compareImages(streamed, whole);
}

void TestFileThumbnail::everyCutFailsAsBefore_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("topDown");
    QTest::newRow("24-bit") << int(Kind::Rgb24) << false;
    QTest::newRow("32-bit alpha top-down") << int(Kind::Argb32) << true;
    QTest::newRow("8-bit") << int(Kind::Palette8) << false;
    QTest::newRow("RLE8") << int(Kind::Rle8) << false;
}

// Every cut of a file (only the last row's padding may go) gives the error the whole
// picture gave, naming the file, or the same thumbnail.
void TestFileThumbnail::everyCutFailsAsBefore()
{
    QFETCH(int, kind);
    QFETCH(bool, topDown);
    const QByteArray full = bmpOf(Kind(kind), topDown, 5, 3);
    const QString file = m_dir.filePath(QStringLiteral("cut.bmp"));
    const auto target = [](QSize s) { return targetAt(s, 73); };
    // The words up to the file's name: a file too short to tell its kind is no BMP to the
    // BMP reader, and none of the kinds it knows to the loader that chooses by content.
    const auto words = [&](const QString& outcome) {
        const qsizetype at = outcome.indexOf(file);
        return at < 0 ? outcome : outcome.left(at + file.size());
    };
    int accepted = 0;
    for (qsizetype n = 0; n <= full.size(); ++n) {
        QVERIFY(writeFile(file, full.left(n)));
        QImage whole;
        QImage streamed;
        const QString before = outcome(
            [&] { return PictureScaling::scale(Bmp::read(file), target(QSize(5, 3))); }, whole);
        const QString now
            = outcome([&] { return FileThumbnail::read(file, target).image; }, streamed);
        QCOMPARE(words(now), words(before));
        if (n >= 2)
            QCOMPARE(now, before);
        if (before == QLatin1String("picture")) {
            compareImages(streamed, whole);
            ++accepted;
        }
    }
    QVERIFY(accepted >= 1);
}

void TestFileThumbnail::fileShrinksWhileRead_data()
{
    QTest::addColumn<bool>("topDown");
    QTest::newRow("bottom-up") << false;
    QTest::newRow("top-down") << true;
}

// Rows lost after the headers were checked are a damaged picture, not a crash or garbage.
void TestFileThumbnail::fileShrinksWhileRead()
{
    QFETCH(bool, topDown);
    const QString file = m_dir.filePath(QStringLiteral("shrinks.bmp"));
    const QByteArray bytes = bmpOf(Kind::Rgb24, topDown, 701, 3001);
    QVERIFY(writeFile(file, bytes));
    Bmp::RowReader reader(file);
    QVERIFY(QFile::resize(file, bytes.size() / 2));
    std::vector<QRgb> row(701);
    try {
        for (int y = 0; y < reader.height(); ++y)
            reader.readRow(row.data());
        QFAIL("the rows past the end were read");
    } catch (const AppError& e) {
        QCOMPARE(e.number(), 481);
        QVERIFY2(TestUtils::keepsWords(e.description(), "Invalid picture: " + file),
            qPrintable(e.description()));
    }
}

QTEST_GUILESS_MAIN(TestFileThumbnail)
#include "tst_filethumbnail.moc"
