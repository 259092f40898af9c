// SPDX-License-Identifier: MIT

// pictelle-read run as a program on what it must refuse: one line on stderr naming the file,
// a non-zero exit, and no output or temporary file left.

#include "tests/common/KindFixtures.h"
#include "tests/common/TestUtils.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>

class TestReader : public QObject
{
    Q_OBJECT

private slots:
    void refuses_data();
    void refuses();
    void brokenLibrary_data();
    void brokenLibrary();
};

namespace {

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A little-endian TIFF header with one directory of `entries` (tag, type, count, value).
QByteArray tiffWith(const QList<std::array<quint32, 4>>& entries)
{
    QByteArray b("II*\0\x08\0\0\0", 8);
    const auto put16 = [&](quint32 v) { b.append(char(v & 0xff)).append(char(v >> 8 & 0xff)); };
    const auto put32 = [&](quint32 v) {
        put16(v & 0xffff);
        put16(v >> 16);
    };
    put16(quint32(entries.size()));
    for (const auto& e : entries) {
        put16(e[0]);
        put16(e[1]);
        put32(e[2]);
        put32(e[3]);
    }
    put32(0);
    b.append(QByteArray(64, '\0'));
    return b;
}

// `heif` with every picture's declared size (its ispe property) replaced.
QByteArray withDeclaredSize(QByteArray heif, quint32 width, quint32 height)
{
    for (qsizetype at = heif.indexOf("ispe"); at >= 0; at = heif.indexOf("ispe", at + 4)) {
        for (int i = 0; i < 4; ++i) {
            heif[at + 8 + i] = char(width >> (24 - 8 * i));
            heif[at + 12 + i] = char(height >> (24 - 8 * i));
        }
    }
    return heif;
}

} // namespace

void TestReader::refuses_data()
{
    QTest::addColumn<QByteArray>("bytes"); // the input; empty: the input is missing
    QTest::addColumn<QStringList>("arguments"); // before -O; empty: a usage error
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("reason");

    const QStringList percent { "-p", "40" };
    QImage small(16, 12, QImage::Format_ARGB32);
    small.fill(qRgba(10, 200, 30, 128));
    QTemporaryDir dir;
    KindFixtures::writeWebP(dir.filePath("a.webp"), small);
    KindFixtures::Options lzw;
    lzw.compression = 5;
    KindFixtures::writeTiff(dir.filePath("a.tif"), small, lzw);
    KindFixtures::writeGif(dir.filePath("a.gif"), small);
    const QByteArray webp = fileBytes(dir.filePath("a.webp"));
    const QByteArray tiff = fileBytes(dir.filePath("a.tif"));
    const QByteArray gif = fileBytes(dir.filePath("a.gif"));
    KindFixtures::writeHeif(dir.filePath("a.heic"), small, {}, false);
    const QByteArray heic = fileBytes(dir.filePath("a.heic"));
    KindFixtures::writeJxl(dir.filePath("a.jxl"), small);
    const QByteArray jxl = fileBytes(dir.filePath("a.jxl"));

    QTest::newRow("missing") << QByteArray() << percent << 1 << "No such file or directory";
    QTest::newRow("a PNG") << QByteArray("\x89PNG\r\n\x1a\n0000", 12) << percent << 1
                           << "not a picture of a kind this reader reads";
    QTest::newRow("WebP cut short")
        << webp.left(webp.size() / 2) << percent << 1 << "not a whole WebP picture";
    QTest::newRow("TIFF cut short") << tiff.left(tiff.size() - 20) << percent << 1 << "TIFF";
    QTest::newRow("GIF cut short") << gif.left(gif.size() / 2) << percent << 1 << "GIF";
    // 20000 x 20000 pixels declared in a few bytes: refused before allocation.
    QTest::newRow("TIFF too large") << tiffWith(
        { { 256, 4, 1, 20000 }, { 257, 4, 1, 20000 }, { 258, 3, 1, 8 }, { 262, 3, 1, 1 },
            { 273, 4, 1, 8 }, { 277, 3, 1, 1 }, { 278, 4, 1, 20000 }, { 279, 4, 1, 16 } })
                                    << percent << 1 << "larger than 134217728 pixels";
    QTest::newRow("HEIC cut short") << heic.left(heic.size() * 3 / 4) << percent << 1 << "HEIF";
    // The pixel count checked before decoding: libheif bounds each side alone.
    QTest::newRow("HEIC too large")
        << withDeclaredSize(heic, 20000, 20000) << percent << 1 << "larger than 134217728 pixels";
    QTest::newRow("HEIC side too long")
        << withDeclaredSize(heic, 70000, 1) << percent << 1 << "not a whole HEIF picture";
    // A JPEG XL header of 20000 x 20000 pixels, refused at its header.
    QTest::newRow("JPEG XL too large") << QByteArray("\xff\x0a\xfc\x70\x22\x01\0\0\0\0\0\0\0\0", 14)
                                       << percent << 1 << "larger than 134217728 pixels";
    QTest::newRow("JPEG XL cut short")
        << jxl.left(jxl.size() / 2) << percent << 1 << "the JPEG XL picture is damaged";
    QTest::newRow("no percentage") << webp << QStringList() << 2 << "usage:";
    QTest::newRow("percentage 0") << webp << QStringList { "-p", "0" } << 2 << "usage:";
    QTest::newRow("percentage 101") << webp << QStringList { "-p", "101" } << 2 << "usage:";
}

void TestReader::refuses()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, reason);

    QTemporaryDir dir;
    const QString input = dir.filePath("in.pic");
    if (!bytes.isEmpty()) {
        QFile f(input);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
    }
    QDir(dir.path()).mkdir("out");
    const QString output = dir.filePath("out/out.read");
    QProcess reader;
    reader.start(
        TestUtils::binDir() + "/pictelle-read", arguments + QStringList { "-O", output, input });
    QVERIFY(reader.waitForFinished(60000));
    QCOMPARE(reader.exitStatus(), QProcess::NormalExit);
    QCOMPARE(reader.exitCode(), exitCode);
    const QString errors = QString::fromLocal8Bit(reader.readAllStandardError());
    QCOMPARE(errors.count('\n'), 1);
    if (exitCode == 1)
        QVERIFY2(errors.startsWith("pictelle-read: " + input + ": "), qPrintable(errors));
    QVERIFY2(errors.contains(reason), qPrintable(errors));
    QCOMPARE(QDir(dir.filePath("out")).entryList(QDir::Files | QDir::Hidden), QStringList());
}

// A decoder's library that cannot be loaded (damaged here; the same path as one not installed)
// ends the reading of that file with its name and the library's; loaded at the start, as it
// once was, it would end the program before main.
void TestReader::brokenLibrary_data()
{
    QTest::addColumn<bool>("heif"); // else JPEG XL
    QTest::addColumn<QString>("library");

    QTest::newRow("HEIC") << true << "libheif.so.1";
    QTest::newRow("JPEG XL's threads") << false << "libjxl_threads.so.0.7";
}

void TestReader::brokenLibrary()
{
    QFETCH(bool, heif);
    QFETCH(QString, library);

    QTemporaryDir dir;
    QImage small(16, 12, QImage::Format_RGB32);
    small.fill(qRgb(10, 200, 30));
    const QString input = dir.filePath(heif ? "in.heic" : "in.jxl");
    QVERIFY(heif ? KindFixtures::writeHeif(input, small, {}, false)
                 : KindFixtures::writeJxl(input, small));
    QVERIFY(QDir(dir.path()).mkdir("lib"));
    QFile broken(dir.filePath("lib/" + library));
    QVERIFY(broken.open(QIODevice::WriteOnly) && broken.write("not a library") > 0);
    broken.close();

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(
        "LD_LIBRARY_PATH", dir.filePath("lib") + ':' + environment.value("LD_LIBRARY_PATH"));
    QProcess reader;
    reader.setProcessEnvironment(environment);
    const QString output = dir.filePath("out.read");
    reader.start(TestUtils::binDir() + "/pictelle-read", { "-p", "40", "-O", output, input });
    QVERIFY(reader.waitForFinished(60000));
    QCOMPARE(reader.exitStatus(), QProcess::NormalExit);
    QCOMPARE(reader.exitCode(), 1);
    const QString errors = QString::fromLocal8Bit(reader.readAllStandardError());
    QVERIFY2(errors.startsWith(
                 "pictelle-read: " + input + ": the library " + library + " could not be loaded"),
        qPrintable(errors));
    QVERIFY(!QFile::exists(output));
}

QTEST_GUILESS_MAIN(TestReader)
#include "tst_reader.moc"
