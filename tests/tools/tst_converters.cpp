// SPDX-License-Identifier: MIT

#include "imaging/Bmp.h"
#include "tests/common/PngFixtures.h"
#include "tests/common/TestUtils.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <fcntl.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

Q_DECLARE_METATYPE(PngFixtures::Kind)

namespace {

struct Outcome
{
    int exitCode = -1;
    QString stdErr;
};

Outcome runTool(const QString& tool, const QStringList& arguments, const QString& workDir = {})
{
    QProcess process;
    process.setProgram(TestUtils::binDir() + "/" + tool);
    process.setArguments(arguments);
    if (!workDir.isEmpty())
        process.setWorkingDirectory(workDir);
    process.start();
    Outcome outcome;
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit)
        return outcome;
    outcome.exitCode = process.exitCode();
    outcome.stdErr = QString::fromLocal8Bit(process.readAllStandardError());
    return outcome;
}

Outcome convert(
    const QString& tool, const QString& output, const QString& input, const QString& workDir = {})
{
    return runTool(tool, { "-O", output, input }, workDir);
}

int bmpBitCount(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray head = file.read(30);
    return head.size() < 30 ? -1 : uchar(head[28]) | uchar(head[29]) << 8;
}

QStringList filesIn(const QString& folder)
{
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

// Whether process `pid` has a file open in `folder`, one without a name included.
bool writesIn(qint64 pid, const QString& folder)
{
    const QString fds = QStringLiteral("/proc/%1/fd/").arg(pid);
    for (const QString& fd :
        QDir(fds).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        char target[4096];
        const ssize_t n
            = ::readlink(QFile::encodeName(fds + fd).constData(), target, sizeof target);
        if (n > 0 && QFile::decodeName(QByteArray(target, int(n))).startsWith(folder + '/'))
            return true;
    }
    return false;
}

bool anyTransparent(const QImage& image)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) != 255)
                return true;
    return false;
}

// Names the first differing pixel, so a failure says where and how.
QString firstDifference(const QImage& actual, const QImage& expected)
{
    if (actual.size() != expected.size())
        return QStringLiteral("size %1x%2, expected %3x%4")
            .arg(actual.width())
            .arg(actual.height())
            .arg(expected.width())
            .arg(expected.height());
    for (int y = 0; y < expected.height(); ++y)
        for (int x = 0; x < expected.width(); ++x)
            if (actual.pixel(x, y) != expected.pixel(x, y))
                return QStringLiteral("pixel %1,%2 is %3, expected %4")
                    .arg(x)
                    .arg(y)
                    .arg(actual.pixel(x, y), 8, 16, QLatin1Char('0'))
                    .arg(expected.pixel(x, y), 8, 16, QLatin1Char('0'));
    return QString();
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeAll(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

QByteArray le32(quint32 v)
{
    const char bytes[] = { char(v), char(v >> 8), char(v >> 16), char(v >> 24) };
    return QByteArray(bytes, 4);
}

// A plain BMP header for a 24-bit picture of the declared size, with no pixel data.
QByteArray bmpHeaderOnly(quint32 width, quint32 height)
{
    const quint32 dataSize = ((width * 3 + 3) & ~3U) * height;
    return "BM" + le32(54 + dataSize) + le32(0) + le32(54) + le32(40) + le32(width) + le32(height)
        + QByteArray("\x01\x00\x18\x00", 4) + le32(0) + le32(dataSize) + le32(2835) + le32(2835)
        + le32(0) + le32(0);
}

QImage opaqueSample(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb(x * 37 % 256, y * 53 % 256, (x * y * 11 + 5) % 256));
    return image;
}

// Writes a `width` x `height` 8-bit RGB or RGBA PNG whose rows all use `filter`, from noisy
// pixels that exercise every predictor's edge cases; returns the pixels or a null image.
QImage writeFiltered(const QString& path, int filter, bool alpha, int width, int height)
{
    QImage pixels(width, height, QImage::Format_ARGB32);
    quint32 seed = 12345u + quint32(filter);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            seed = seed * 1664525u + 1013904223u;
            pixels.setPixel(x, y,
                qRgba(seed >> 24, (seed >> 16) & 255, (x * 37 + y) & 255,
                    alpha ? (seed >> 8) & 255 : 255));
        }
    FILE* file = std::fopen(QFile::encodeName(path).constData(), "wb");
    if (!file)
        return {};
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(file);
        return {};
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, width, height, 8, alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB,
        PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_filter(png, 0, filter);
    png_write_info(png, info);
    std::vector<png_byte> row(size_t(width) * (alpha ? 4 : 3));
    for (int y = 0; y < height; ++y) {
        png_byte* out = row.data();
        for (int x = 0; x < width; ++x) {
            const QRgb p = pixels.pixel(x, y);
            *out++ = png_byte(qRed(p));
            *out++ = png_byte(qGreen(p));
            *out++ = png_byte(qBlue(p));
            if (alpha)
                *out++ = png_byte(qAlpha(p));
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return std::fclose(file) == 0 ? pixels : QImage();
}

} // namespace

class TestConverters : public QObject
{
    Q_OBJECT

private slots:
    // Photographs come as 8-bit RGB or RGBA with every row filter: each must be undone
    // exactly, whichever way png2bmp decodes them.
    void everyRowFilter_data()
    {
        QTest::addColumn<int>("filter");
        QTest::addColumn<bool>("alpha");
        const struct
        {
            const char* name;
            int filter;
        } filters[] = { { "none", PNG_FILTER_NONE }, { "sub", PNG_FILTER_SUB },
            { "up", PNG_FILTER_UP }, { "average", PNG_FILTER_AVG }, { "paeth", PNG_FILTER_PAETH } };
        for (const auto& f : filters) {
            QTest::addRow("%s rgb", f.name) << f.filter << false;
            QTest::addRow("%s rgba", f.name) << f.filter << true;
        }
    }

    void everyRowFilter()
    {
        QFETCH(int, filter);
        QFETCH(bool, alpha);
        QTemporaryDir dir;
        const QString png = dir.filePath("in.png");
        const QString bmp = dir.filePath("out.bmp");
        const QImage expected = writeFiltered(png, filter, alpha, 41, 13);
        QVERIFY(!expected.isNull());
        const Outcome outcome = convert("png2bmp", bmp, png);
        QCOMPARE(outcome.stdErr, QString());
        QCOMPARE(outcome.exitCode, 0);
        const QImage got = Bmp::read(bmp).convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(got.size(), expected.size());
        for (int y = 0; y < got.height(); ++y)
            for (int x = 0; x < got.width(); ++x)
                QCOMPARE(got.pixel(x, y), expected.pixel(x, y));
    }

    void roundTrip_data()
    {
        QTest::addColumn<PngFixtures::Kind>("kind");
        QTest::addColumn<QSize>("size");
        // Widths 1 to 7 and primes: BMP rows are padded to 4 bytes, PNG rows below 8 bits
        // to whole bytes.
        const QList<QSize> sizes { { 1, 1 }, { 2, 3 }, { 3, 5 }, { 4, 2 }, { 5, 7 }, { 6, 4 },
            { 7, 7 }, { 13, 11 }, { 31, 9 }, { 37, 23 } };
        const QList<PngFixtures::NamedKind> kinds = PngFixtures::allKinds();
        for (int i = 0; i < kinds.size(); ++i) {
            QSize size = sizes[i % sizes.size()];
            // The BMP reader takes a 32-bit picture whose alpha is zero throughout for one
            // without alpha, as other writers leave that byte unused; one pixel in the tRNS
            // colour would be just that.
            if (size == QSize(1, 1) && kinds[i].kind.transparencyChunk)
                size = QSize(2, 1);
            QTest::addRow("%s %dx%d", qPrintable(kinds[i].name), size.width(), size.height())
                << kinds[i].kind << size;
            QTest::addRow("%s 29x17", qPrintable(kinds[i].name)) << kinds[i].kind << QSize(29, 17);
        }
    }

    // PNG -> BMP -> PNG keeps every pixel, alpha included. The BMP is checked on its own
    // too, so that a fault made twice over cannot cancel out.
    void roundTrip()
    {
        QFETCH(PngFixtures::Kind, kind);
        QFETCH(QSize, size);
        QTemporaryDir dir;
        const QString source = dir.filePath("my.photo.png");
        const QImage expected = PngFixtures::write(source, kind, size.width(), size.height());
        QVERIFY(!expected.isNull());
        const QString bmp = dir.filePath("temp1.bmp");
        writeAll(bmp, "an older scratch file");

        const Outcome toBmp = convert("png2bmp", bmp, source);
        QCOMPARE(toBmp.stdErr, QString());
        QCOMPARE(toBmp.exitCode, 0);
        const bool transparencyDeclared
            = kind.transparencyChunk || (kind.colorType & PNG_COLOR_MASK_ALPHA);
        QCOMPARE(bmpBitCount(bmp), transparencyDeclared ? 32 : 24);
        const QImage fromBmp = Bmp::read(bmp).convertToFormat(QImage::Format_ARGB32);
        QVERIFY2(firstDifference(fromBmp, expected).isEmpty(),
            qPrintable(firstDifference(fromBmp, expected)));

        const QString back = dir.filePath("temp.png");
        const Outcome toPng = convert("bmp2png", back, bmp);
        QCOMPARE(toPng.stdErr, QString());
        QCOMPARE(toPng.exitCode, 0);
        const PngFixtures::Header header = PngFixtures::readHeader(back);
        QCOMPARE(header.bitDepth, 8);
        QCOMPARE(header.colorType,
            anyTransparent(expected) ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB);
        const QImage final = QImage(back).convertToFormat(QImage::Format_ARGB32);
        QVERIFY2(firstDifference(final, expected).isEmpty(),
            qPrintable(firstDifference(final, expected)));

        QCOMPARE(filesIn(dir.path()), QStringList({ "my.photo.png", "temp.png", "temp1.bmp" }));
    }

    void bmpToPng_data()
    {
        QTest::addColumn<QImage>("picture");
        QTest::addColumn<bool>("alphaRows"); // written as 32-bit rows with alpha
        for (int width = 1; width <= 7; ++width)
            QTest::addRow("opaque %dx3", width) << opaqueSample(width, 3) << false;
        QImage translucent = opaqueSample(11, 6).convertToFormat(QImage::Format_ARGB32);
        translucent.setPixel(10, 5, qRgba(1, 2, 3, 0));
        translucent.setPixel(4, 2, qRgba(200, 100, 50, 128));
        QTest::newRow("one translucent pixel") << translucent << true;
        QTest::newRow("alpha rows, all opaque")
            << opaqueSample(9, 4).convertToFormat(QImage::Format_ARGB32) << true;
    }

    // What the conversion run hands over: BMPs of the project's writer.
    void bmpToPng()
    {
        QFETCH(QImage, picture);
        QFETCH(bool, alphaRows);
        QTemporaryDir dir;
        const QString bmp = dir.filePath("temp.bmp");
        {
            Bmp::RowWriter writer(bmp, picture.width(), picture.height(), alphaRows);
            for (int y = 0; y < picture.height(); ++y)
                writer.writeRow(reinterpret_cast<const QRgb*>(picture.constScanLine(y)));
            writer.finish();
        }
        const QString png = dir.filePath("temp.png");
        const Outcome outcome = convert("bmp2png", png, bmp);
        QCOMPARE(outcome.stdErr, QString());
        QCOMPARE(outcome.exitCode, 0);
        const QImage expected = picture.convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(PngFixtures::readHeader(png).colorType,
            anyTransparent(expected) ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB);
        const QImage written = QImage(png).convertToFormat(QImage::Format_ARGB32);
        QVERIFY2(firstDifference(written, expected).isEmpty(),
            qPrintable(firstDifference(written, expected)));
    }

    void unreadableInput_data()
    {
        QTest::addColumn<QString>("tool");
        QTest::addColumn<QByteArray>("content"); // empty with `missing`: no file at all
        QTest::addColumn<bool>("missing");

        QTemporaryDir scratch;
        const QString png = scratch.filePath("good.png");
        PngFixtures::write(png, { PNG_COLOR_TYPE_RGB, 8, false, false }, 40, 30);
        const QByteArray good = readAll(png);
        const qsizetype idat = good.indexOf("IDAT");
        QByteArray idatFlipped = good;
        idatFlipped[idat + 10] = char(idatFlipped[idat + 10] ^ 0x55);
        QByteArray ihdrFlipped = good;
        ihdrFlipped[17] = char(ihdrFlipped[17] ^ 0x01);
        PngFixtures::writeHeaderOnly(png, 20000, 20000); // 400 million pixels
        const QByteArray hugePng = readAll(png);

        QTest::newRow("png: missing") << "png2bmp" << QByteArray() << true;
        QTest::newRow("png: empty") << "png2bmp" << QByteArray() << false;
        QTest::newRow("png: not a png") << "png2bmp" << QByteArray("just some text\n") << false;
        QTest::newRow("png: signature only") << "png2bmp" << good.left(8) << false;
        QTest::newRow("png: cut in header") << "png2bmp" << good.left(30) << false;
        QTest::newRow("png: cut in image data") << "png2bmp" << good.left(idat + 60) << false;
        QTest::newRow("png: no end chunk") << "png2bmp" << good.left(good.size() - 12) << false;
        QTest::newRow("png: damaged image data") << "png2bmp" << idatFlipped << false;
        QTest::newRow("png: damaged header") << "png2bmp" << ihdrFlipped << false;
        QTest::newRow("png: over the pixel limit") << "png2bmp" << hugePng << false;

        QImage picture = opaqueSample(13, 9);
        const QString bmp = scratch.filePath("good.bmp");
        Bmp::write(picture, bmp);
        const QByteArray goodBmp = readAll(bmp);
        QTest::newRow("bmp: missing") << "bmp2png" << QByteArray() << true;
        QTest::newRow("bmp: empty") << "bmp2png" << QByteArray() << false;
        QTest::newRow("bmp: not a bmp") << "bmp2png" << good << false;
        QTest::newRow("bmp: header only") << "bmp2png" << goodBmp.left(54) << false;
        QTest::newRow("bmp: cut in pixels")
            << "bmp2png" << goodBmp.left(goodBmp.size() / 2) << false;
        QTest::newRow("bmp: over the pixel limit")
            << "bmp2png" << bmpHeaderOnly(30000, 30000) << false;
    }

    // A file the converter cannot read: one line on stderr naming it, a failure exit, and
    // nothing written.
    void unreadableInput()
    {
        QFETCH(QString, tool);
        QFETCH(QByteArray, content);
        QFETCH(bool, missing);
        QTemporaryDir dir;
        const QString input = dir.filePath(tool == "png2bmp" ? "in.png" : "in.bmp");
        if (!missing)
            writeAll(input, content);
        const QString output = dir.filePath("out");

        const Outcome outcome = convert(tool, output, input);
        QCOMPARE(outcome.exitCode, 1);
        QVERIFY2(outcome.stdErr.startsWith(tool + ": " + input + ": "), qPrintable(outcome.stdErr));
        QVERIFY(outcome.stdErr.size() > tool.size() + input.size() + 5);
        QCOMPARE(outcome.stdErr.count('\n'), 1);
        QVERIFY(outcome.stdErr.endsWith('\n'));
        QCOMPARE(filesIn(dir.path()),
            missing ? QStringList() : QStringList { QFileInfo(input).fileName() });
    }

    void unwritableOutput()
    {
        QTemporaryDir dir;
        const QString input = dir.filePath("in.png");
        QVERIFY(
            !PngFixtures::write(input, { PNG_COLOR_TYPE_GRAY, 8, false, false }, 5, 5).isNull());
        const QString output = dir.filePath("missing/out.bmp");
        const Outcome outcome = convert("png2bmp", output, input);
        QCOMPARE(outcome.exitCode, 1);
        QVERIFY2(
            outcome.stdErr.startsWith("png2bmp: " + output + ": "), qPrintable(outcome.stdErr));
        QCOMPARE(filesIn(dir.path()), QStringList { "in.png" });
    }

    // The window may stop a converter mid-way: its scratch output must go with it. The input
    // comes through a pipe that stays open, so the converter waits with its output begun.
    void stoppedConverterLeavesNothing()
    {
        QTemporaryDir dir;
        const QString png = dir.filePath("whole.png");
        QVERIFY(
            !PngFixtures::write(png, { PNG_COLOR_TYPE_RGB, 8, false, false }, 300, 200).isNull());
        const QByteArray bytes = readAll(png);
        const QString pipe = dir.filePath("in.png");
        QCOMPARE(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
        const QString outFolder = dir.filePath("out");
        QVERIFY(QDir(dir.path()).mkdir("out"));

        QProcess process;
        process.start(TestUtils::binDir() + "/png2bmp", { "-O", outFolder + "/temp1.bmp", pipe });
        const int fd = ::open(QFile::encodeName(pipe).constData(), O_WRONLY);
        QVERIFY(fd >= 0);
        const QByteArray part = bytes.left(bytes.indexOf("IDAT") + 200);
        QCOMPARE(::write(fd, part.constData(), size_t(part.size())), ssize_t(part.size()));
        QTRY_VERIFY_WITH_TIMEOUT(writesIn(process.processId(), outFolder), 20000);

        process.terminate();
        QVERIFY(process.waitForFinished(20000));
        ::close(fd);
        QCOMPARE(process.exitStatus(), QProcess::CrashExit);
        QCOMPARE(filesIn(outFolder), QStringList());
    }

    void awkwardNames_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("output");
        QTest::newRow("blanks") << "my photo.png"
                                << "my photo.bmp";
        QTest::newRow("quotes") << "say \"cheese\" 'now'.png"
                                << "out \".bmp";
        QTest::newRow("shell words") << "$(touch injected) `touch injected`; x.png"
                                     << "$HOME;.bmp";
        QTest::newRow("non-ASCII") << "Grüße 日本.png"
                                   << "Ærø.bmp";
        QTest::newRow("option as input") << "-O"
                                         << "out.bmp";
        QTest::newRow("option as output") << "in.png"
                                          << "-O";
        QTest::newRow("leading dash") << "-x.png"
                                      << "--.bmp";
    }

    // Arguments are files by position; no shell ever sees them.
    void awkwardNames()
    {
        QFETCH(QString, input);
        QFETCH(QString, output);
        QTemporaryDir dir;
        const QImage expected = PngFixtures::write(
            dir.filePath(input), { PNG_COLOR_TYPE_RGB, 8, false, false }, 6, 4);
        QVERIFY(!expected.isNull());

        // Relative names, run in the folder: a name starting with "-" reaches argv as is.
        QCOMPARE(convert("png2bmp", output, input, dir.path()).exitCode, 0);
        QCOMPARE(convert("bmp2png", "back.png", output, dir.path()).exitCode, 0);
        const QImage back = QImage(dir.filePath("back.png")).convertToFormat(QImage::Format_ARGB32);
        QVERIFY2(
            firstDifference(back, expected).isEmpty(), qPrintable(firstDifference(back, expected)));
        QStringList files { input, output, "back.png" };
        files.sort();
        QCOMPARE(filesIn(dir.path()), files);
    }

    void usage_data()
    {
        QTest::addColumn<QString>("tool");
        QTest::addColumn<QStringList>("arguments");
        for (const QString tool : { "png2bmp", "bmp2png" }) {
            QTest::addRow("%s: none", qPrintable(tool)) << tool << QStringList();
            QTest::addRow("%s: -O only", qPrintable(tool)) << tool << QStringList { "-O" };
            QTest::addRow("%s: no input", qPrintable(tool)) << tool << QStringList { "-O", "out" };
            QTest::addRow("%s: no -O", qPrintable(tool)) << tool << QStringList { "out", "in" };
            QTest::addRow("%s: -O last", qPrintable(tool))
                << tool << QStringList { "in", "out", "-O" };
            QTest::addRow("%s: extra", qPrintable(tool))
                << tool << QStringList { "-O", "a", "b", "c" };
        }
    }

    void usage()
    {
        QFETCH(QString, tool);
        QFETCH(QStringList, arguments);
        QTemporaryDir dir;
        const Outcome outcome = runTool(tool, arguments, dir.path());
        QCOMPARE(outcome.exitCode, 2);
        QVERIFY2(outcome.stdErr.startsWith("usage: " + tool + " -O "), qPrintable(outcome.stdErr));
        QVERIFY(filesIn(dir.path()).isEmpty());
    }

    // A converter starts for every PNG entry of a run; Qt's libraries would take most of a
    // small picture's time just to load.
    void loadsNoQt_data()
    {
        QTest::addColumn<QString>("tool");
        QTest::addColumn<QString>("library"); // one it must load
        QTest::newRow("png2bmp") << "png2bmp"
                                 << "libpng";
        QTest::newRow("bmp2png") << "bmp2png"
                                 << "libpng";
        QTest::newRow("pictelle-read") << "pictelle-read"
                                       << "libwebp";
    }

    void loadsNoQt()
    {
        QFETCH(QString, tool);
        QFETCH(QString, library);
        QProcess ldd;
        ldd.start("ldd", { TestUtils::binDir() + "/" + tool });
        QVERIFY2(ldd.waitForFinished(60000), "ldd did not run");
        QCOMPARE(ldd.exitCode(), 0);
        const QString libraries = QString::fromLocal8Bit(ldd.readAllStandardOutput());
        // The libraries it must load show that ldd listed them at all.
        QVERIFY2(libraries.contains(library), qPrintable(libraries));
        QVERIFY2(!libraries.contains("libQt"), qPrintable(libraries));
    }
};

QTEST_GUILESS_MAIN(TestConverters)
#include "tst_converters.moc"
