// SPDX-License-Identifier: MIT

// png2bmp and bmp2png on hostile input and on a disk that fills: they must fail with one
// line naming the file, exit 1, and leave neither output nor temporary file; an output
// that existed before stays whole.

#include "tests/common/ImageFixtures.h"
#include "tests/common/PngFixtures.h"
#include "tests/common/TestUtils.h"

#include <QCryptographicHash>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <sys/resource.h>
#include <zlib.h>

namespace {

struct Run
{
    int exitCode = -1;
    QString errors;
};

Run convert(const QString& program, const QString& output, const QString& input,
    rlim_t fileSizeLimit = RLIM_INFINITY)
{
    QProcess process;
    process.setChildProcessModifier([fileSizeLimit] {
        // Beyond the limit a write fails with EFBIG, as on a full disk.
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit { fileSizeLimit, fileSizeLimit };
        setrlimit(RLIMIT_FSIZE, &limit);
    });
    process.start(TestUtils::binDir() + '/' + program, { "-O", output, input });
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
        return {};
    return { process.exitCode(), QString::fromLocal8Bit(process.readAllStandardError()) };
}

QByteArray digest(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly)
        ? QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256)
        : QByteArray();
}

void putBe32(QByteArray& b, int at, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = char(v >> (24 - 8 * i));
}

// A PNG of a valid header (`interlaced` or not) declaring `width` x `height` RGB pixels,
// followed by a few bytes of image data only.
QByteArray headerOnlyPng(quint32 width, quint32 height, bool interlaced)
{
    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    QByteArray ihdr("IHDR\0\0\0\0\0\0\0\0\x08\x02\0\0\0", 17);
    putBe32(ihdr, 4, width);
    putBe32(ihdr, 8, height);
    ihdr[16] = char(interlaced ? 1 : 0);
    auto chunk = [&](const QByteArray& typeAndData) {
        QByteArray length(4, '\0');
        putBe32(length, 0, quint32(typeAndData.size() - 4));
        QByteArray crc(4, '\0');
        putBe32(crc, 0,
            quint32(crc32(0, reinterpret_cast<const Bytef*>(typeAndData.constData()),
                uInt(typeAndData.size()))));
        png += length + typeAndData + crc;
    };
    chunk(ihdr);
    chunk(QByteArray("IDAT\x78\x9c\x63\x00\x00\x00\x01\x00\x01", 13));
    chunk(QByteArray("IEND", 4));
    return png;
}

} // namespace

class TestHostileTools : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }
    void hostileInput_data();
    void hostileInput();
    void diskFills_data();
    void diskFills();

private:
    QString path(const QString& name) const { return m_dir->filePath(name); }
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestHostileTools::hostileInput_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("reason"); // part of the message; empty: any

    // 67 MP declared in 70 bytes: an interlaced one would have the whole picture allocated.
    QTest::newRow("png2bmp: interlaced header only")
        << "png2bmp" << headerOnlyPng(8192, 8192, true) << "file too small";
    QTest::newRow("png2bmp: header only")
        << "png2bmp" << headerOnlyPng(8192, 8192, false) << "file too small";
    QTest::newRow("png2bmp: beyond the pixel limit")
        << "png2bmp" << headerOnlyPng(65536, 4096, false) << "too large";
    QTest::newRow("png2bmp: small picture, data cut")
        << "png2bmp" << headerOnlyPng(300, 200, true) << QString();

    ImageFixtures::BmpLayout rle;
    rle.bitCount = 8;
    rle.compression = 1;
    rle.palette = { qRgb(1, 2, 3) };
    QTest::newRow("bmp2png: RLE8 of 67 MP in 2 bytes")
        << "bmp2png" << ImageFixtures::bmpFile(rle, 8192, 8192, QByteArray("\x00\x01", 2))
        << "Invalid picture";

    const QDir data(TestUtils::sourceDir() + QStringLiteral("/tests/data/hostile"));
    for (const QString& name : data.entryList({ "*.png" }, QDir::Files)) {
        QFile file(data.filePath(name));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QTest::addRow("png2bmp: %s", qPrintable(name)) << "png2bmp" << file.readAll() << QString();
    }
    for (const QString& name : data.entryList({ "refuse-*.bmp" }, QDir::Files)) {
        QFile file(data.filePath(name));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QTest::addRow("bmp2png: %s", qPrintable(name)) << "bmp2png" << file.readAll() << QString();
    }
}

void TestHostileTools::hostileInput()
{
    QFETCH(QString, program);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, reason);
    const QString input = path("input");
    QVERIFY(ImageFixtures::writeFile(input, bytes));
    const Run r = convert(program, path("output"), input);
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.errors.startsWith(program + ": " + input + ": ") && r.errors.count('\n') == 1,
        qPrintable(r.errors));
    QVERIFY2(r.errors.contains(reason), qPrintable(r.errors));
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList { "input" });
    // Refused before anything the size of the picture or of a row was allocated: every
    // converter this test has run stayed small.
    rusage usage {};
    QCOMPARE(getrusage(RUSAGE_CHILDREN, &usage), 0);
    QVERIFY2(usage.ru_maxrss < 256 * 1024, qPrintable(QString::number(usage.ru_maxrss)));
}

void TestHostileTools::diskFills_data()
{
    QTest::addColumn<QString>("program");
    QTest::newRow("png2bmp") << "png2bmp";
    QTest::newRow("bmp2png") << "bmp2png";
}

// Output files may not grow beyond 16 KiB: the 200 x 150 picture does not fit either way.
void TestHostileTools::diskFills()
{
    QFETCH(QString, program);
    const QString png = path("in.png");
    const QImage picture
        = PngFixtures::write(png, PngFixtures::Kind { 2, 8, false, false }, 200, 150);
    QVERIFY(!picture.isNull());
    QString input = png;
    if (program == "bmp2png") {
        input = path("in.bmp");
        QVERIFY(convert("png2bmp", input, png).exitCode == 0);
    }
    const QString output = path("out");
    QVERIFY(ImageFixtures::writeFile(output, "the previous output"));
    const QByteArray before = digest(output);

    const Run r = convert(program, output, input, 16384);
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(
        r.errors.contains(output) && r.errors.contains(QString::fromLocal8Bit(strerror(EFBIG))),
        qPrintable(r.errors));
    QCOMPARE(digest(output), before);
    QStringList expected { "in.png", "out" };
    if (input != png)
        expected.append("in.bmp");
    QStringList left = QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden);
    for (const QString& name : expected)
        left.removeAll(name);
    QCOMPARE(left, QStringList());
}

QTEST_GUILESS_MAIN(TestHostileTools)
#include "tst_hostile.moc"
