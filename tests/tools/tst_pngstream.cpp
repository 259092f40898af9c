// SPDX-License-Identifier: MIT

// png2bmp's direct path on 8-bit RGB and RGBA pictures whose zlib stream is cut into IDAT
// chunks in awkward places, damaged, cut short or followed by more than the picture needs.
// A good file must give the pixels another PNG reader gives; a bad one must fail with the
// reason, leaving no output.

#include "imaging/Bmp.h"
#include "tests/common/TestUtils.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>
#include <zlib.h>

namespace {

QByteArray chunk(const char* type, const QByteArray& data)
{
    const QByteArray body = QByteArray(type, 4) + data;
    uchar be[4];
    qToBigEndian(quint32(data.size()), be);
    QByteArray out(reinterpret_cast<const char*>(be), 4);
    qToBigEndian(
        quint32(crc32(0, reinterpret_cast<const Bytef*>(body.constData()), uInt(body.size()))), be);
    return out + body + QByteArray(reinterpret_cast<const char*>(be), 4);
}

struct Picture
{
    int width;
    int height;
    bool alpha;
    int rowBytes() const { return width * (alpha ? 4 : 3) + 1; }
};

// Rows with every filter type (or only `filter`) and a smooth gradient plus noise, so that
// deflate finds matches.
QByteArray rows(const Picture& p, int count, int badFilterRow = -1, int filter = -1)
{
    QByteArray raw;
    quint32 seed = 7;
    for (int y = 0; y < count; ++y) {
        raw += char(y == badFilterRow ? 5 : filter >= 0 ? filter : y % 5);
        for (int i = 1; i < p.rowBytes(); ++i) {
            seed = seed * 1103515245u + 12345u;
            raw += char((i + y) / 3 + (seed >> 28));
        }
    }
    return raw;
}

// A zlib stream of `data`; `flushAt` > 0 ends a block there on a byte boundary and puts
// `between` after it.
QByteArray zlibStream(const QByteArray& data, int level = 6, int flushAt = 0,
    const QByteArray& between = QByteArray())
{
    z_stream z {};
    deflateInit(&z, level);
    QByteArray out;
    const auto pump = [&](int from, int to, int flush) {
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData())) + from;
        z.avail_in = uInt(to - from);
        QByteArray part(int(deflateBound(&z, uLong(to - from))) + 64, '\0');
        z.next_out = reinterpret_cast<Bytef*>(part.data());
        z.avail_out = uInt(part.size());
        deflate(&z, flush);
        out += part.left(part.size() - int(z.avail_out));
    };
    if (flushAt > 0) {
        pump(0, flushAt, Z_FULL_FLUSH);
        out += between;
    }
    pump(flushAt, int(data.size()), Z_FINISH);
    deflateEnd(&z);
    return out;
}

// The PNG of `stream` in IDAT chunks of `idatSize` bytes (0: one chunk), an empty one after
// every chunk when `empties`.
QByteArray png(const Picture& p, const QByteArray& stream, int idatSize = 0, bool empties = false)
{
    QByteArray ihdr(13, '\0');
    qToBigEndian(quint32(p.width), ihdr.data());
    qToBigEndian(quint32(p.height), ihdr.data() + 4);
    ihdr[8] = 8;
    ihdr[9] = char(p.alpha ? 6 : 2);
    QByteArray out = QByteArray("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", ihdr);
    const int step = idatSize > 0 ? idatSize : int(stream.size());
    for (int at = 0; at < stream.size(); at += step) {
        out += chunk("IDAT", stream.mid(at, step));
        if (empties)
            out += chunk("IDAT", QByteArray());
    }
    return out + chunk("IEND", QByteArray());
}

QByteArray withByte(QByteArray bytes, int at, char value)
{
    bytes[at < 0 ? bytes.size() + at : at] = value;
    return bytes;
}

} // namespace

class TestPngStream : public QObject
{
    Q_OBJECT

private slots:
    void stream_data();
    void stream();
    void filters_data();
    void filters();
};

void TestPngStream::stream_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("reason"); // empty: a good file

    const Picture p { 53, 41, true };
    const QByteArray all = rows(p, p.height);
    const QByteArray good = zlibStream(all);
    const Picture rgb { 97, 29, false };
    QTest::newRow("one chunk") << png(p, good) << QString();
    QTest::newRow("RGB, one-byte chunks")
        << png(rgb, zlibStream(rows(rgb, rgb.height)), 1) << QString();
    QTest::newRow("one-byte chunks") << png(p, good, 1) << QString();
    QTest::newRow("empty chunks between") << png(p, good, 100, true) << QString();
    QTest::newRow("stored blocks in 7-byte chunks") << png(p, zlibStream(all, 0), 7) << QString();
    QTest::newRow("a row more than the picture")
        << png(p, zlibStream(rows(p, p.height + 1))) << QString();
    QTest::newRow("IDAT after the stream's end")
        << png(p, good + QByteArray("\0\0\0\0", 4), int(good.size())) << QString();

    QTest::newRow("Adler-32 wrong")
        << png(p, withByte(good, -1, char(good.back() ^ 1)), 50) << "incorrect data check";
    QTest::newRow("header check") << png(p, withByte(good, 1, char(good[1] ^ 1)))
                                  << "incorrect header check";
    QTest::newRow("not deflate") << png(p, "\x77\x09" + good.mid(2)) << "unknown compression";
    QTest::newRow("window too large") << png(p, "\x88\x1c" + good.mid(2)) << "window size";
    QTest::newRow("preset dictionary") << png(p, "\x78\xbb" + good.mid(2)) << "damaged image data";
    // A fixed-code block whose first symbol copies from before the stream's start.
    QTest::newRow("distance too far back")
        << png(p, QByteArray("\x78\x01\x03\x02\0\0\0\0", 8)) << "too far back";
    QTest::newRow("invalid block in the middle")
        << png(p, zlibStream(all, 6, int(all.size()) / 2, "\x07"), 30) << "invalid deflate block";
    QTest::newRow("stream ends a row early")
        << png(p, zlibStream(rows(p, p.height - 1)), 5) << "not enough image data";
    QTest::newRow("chunks end early")
        << png(p, good.left(good.size() / 2), 5) << "not enough image data";
    // Signature and IHDR take 33 bytes, each 40-byte IDAT chunk 52.
    QByteArray crc = png(p, good, 40);
    crc[33 + 2 * 52 + 20] = char(crc[33 + 2 * 52 + 20] ^ 0x10);
    QTest::newRow("CRC of a later chunk") << crc << "CRC error";
    QTest::newRow("file ends in a chunk")
        << png(p, good, 64).left(33 + 3 * 76 + 20) << "ends early";
    QTest::newRow("bad filter type")
        << png(p, zlibStream(rows(p, p.height, 30)), 64) << "bad adaptive filter";

    // Large enough to be written beside the inflate: a failure must still end the run cleanly,
    // with the reason of the first bad row.
    const Picture large { 320, 300, true };
    const QByteArray largeRows = rows(large, large.height);
    const QByteArray largeGood = zlibStream(largeRows);
    QTest::newRow("large, good") << png(large, largeGood, 4096) << QString();
    QTest::newRow("large, bad filter type late")
        << png(large, zlibStream(rows(large, large.height, 250)), 4096) << "bad adaptive filter";
    QTest::newRow("large, bad filter type then a cut")
        << png(large, zlibStream(rows(large, large.height, 100)).left(largeGood.size() / 2), 999)
        << "bad adaptive filter";
    QTest::newRow("large, chunks end early")
        << png(large, largeGood.left(largeGood.size() * 3 / 4), 999) << "not enough image data";
    QTest::newRow("large, Adler-32 wrong")
        << png(large, withByte(largeGood, -1, char(largeGood.back() ^ 1)), 4096)
        << "incorrect data check";
}

// Each filter type alone on rows of 1 to 17 pixels and of widths around the vector sizes the
// unfiltering may work in, 3 and 4 bytes a pixel; the larger pictures are unfiltered beside
// the inflate rather than after it.
void TestPngStream::filters_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("reason");
    QList<int> widths;
    for (int w = 1; w <= 17; ++w)
        widths << w;
    widths << 31 << 33 << 63 << 65 << 301;
    const char* names[] = { "none", "sub", "up", "average", "paeth" };
    for (int filter = 0; filter < 5; ++filter)
        for (const bool alpha : { false, true })
            for (const int width : widths) {
                const Picture p { width, width == 301 ? 300 : 7, alpha };
                QTest::addRow("%s %s %d", names[filter], alpha ? "RGBA" : "RGB", width)
                    << png(p, zlibStream(rows(p, p.height, -1, filter))) << QString();
            }
}

void TestPngStream::filters()
{
    stream();
}

void TestPngStream::stream()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    const QString input = dir.filePath("in.png");
    QFile file(input);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    file.close();
    const QString output = dir.filePath("out.bmp");
    QProcess process;
    process.start(TestUtils::binDir() + "/png2bmp", { "-O", output, input });
    QVERIFY(process.waitForFinished(60000));
    const QString said = QString::fromLocal8Bit(process.readAllStandardError());
    if (!reason.isEmpty()) {
        QCOMPARE(process.exitCode(), 1);
        QVERIFY2(
            said.startsWith("png2bmp: " + input + ": ") && said.contains(reason), qPrintable(said));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList { "in.png" });
        return;
    }
    QCOMPARE(said, QString());
    QCOMPARE(process.exitCode(), 0);
    const QImage expected = QImage(input).convertToFormat(QImage::Format_ARGB32);
    QVERIFY(!expected.isNull());
    QCOMPARE(Bmp::read(output).convertToFormat(QImage::Format_ARGB32), expected);
}

QTEST_GUILESS_MAIN(TestPngStream)
#include "tst_pngstream.moc"
