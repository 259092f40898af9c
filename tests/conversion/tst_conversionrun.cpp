// SPDX-License-Identifier: MIT

#include "conversion/ConversionRun.h"
#include "runtime/AppError.h"
#include "tests/common/FakeRunHost.h"
#include "tests/common/TestUtils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <fcntl.h>
#include <jpeglib.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

QImage photo(int width, int height, bool alpha = false)
{
    QImage image(width, height, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y,
                qRgba((x * 255) / width, (y * 255) / height, 128,
                    alpha ? (x < width / 2 ? 0 : 255) : 255));
    return image;
}

// The luminance quantisation table libjpeg writes for `quality`.
QList<int> tableForQuality(int quality)
{
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    c.in_color_space = JCS_RGB;
    c.input_components = 3;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, quality, TRUE);
    QList<int> table;
    for (int i = 0; i < DCTSIZE2; ++i)
        table.append(c.quant_tbl_ptrs[0]->quantval[i]);
    jpeg_destroy_compress(&c);
    return table;
}

QList<int> tableOfFile(const QString& path)
{
    QList<int> table;
    FILE* f = std::fopen(QFile::encodeName(path).constData(), "rb");
    if (!f)
        return table;
    jpeg_decompress_struct d;
    jpeg_error_mgr err;
    d.err = jpeg_std_error(&err);
    jpeg_create_decompress(&d);
    jpeg_stdio_src(&d, f);
    jpeg_read_header(&d, TRUE);
    if (d.quant_tbl_ptrs[0])
        for (int i = 0; i < DCTSIZE2; ++i)
            table.append(d.quant_tbl_ptrs[0]->quantval[i]);
    jpeg_destroy_decompress(&d);
    std::fclose(f);
    return table;
}

} // namespace

class TestConversionRun : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void jpegEntry();
    void bmpEntry();
    void pngEntryKeepsTransparency();
    void otherEntriesPassedOver();
    void thumbnailOfThumbnailAndDuplicates();
    void emptyList();
    void failedEntryEndsOrGoesOn_data();
    void failedEntryEndsOrGoesOn();
    void corruptJpegLeavesNoScratch();
    void missingConverter();
    void unwritableThumbnail();
    void awkwardNames_data();
    void awkwardNames();
    void readOnlyProgramFolderUsesCache();
    void busyProgramFolderUsesPrivateScratch();
    void userFileNamedLikeScratchIsSafe();
    void thumbnailInOutputFolderNamedLikeScratch();
    void thumbnailNames_data();
    void thumbnailNames();
    void batchProgram();

private:
    bool run(const QStringList& entries);
    QString pics(const QString& name) const { return m_pics->filePath(name); }
    QString prog(const QString& name) const { return m_program->filePath(name); }

    std::unique_ptr<QTemporaryDir> m_program;
    std::unique_ptr<QTemporaryDir> m_pics;
    FakeRunHost m_host;
};

void TestConversionRun::init()
{
    // A program folder of our own, so parallel tests never share scratch files.
    m_program = std::make_unique<QTemporaryDir>();
    m_pics = std::make_unique<QTemporaryDir>();
    QVERIFY(m_program->isValid() && m_pics->isValid());
    for (const char* tool : { "png2bmp", "bmp2png" })
        QVERIFY(QFile::link(TestUtils::binDir() + "/" + tool, prog(tool)));
    m_host = FakeRunHost();
}

bool TestConversionRun::run(const QStringList& entries)
{
    m_host.entries = int(entries.size());
    return ConversionRun::run({ entries, m_program->path() }, m_host);
}

void TestConversionRun::jpegEntry()
{
    QVERIFY(photo(640, 480).save(pics("Cat.JPG"), "JPG", 95));
    QVERIFY(run({ pics("Cat.JPG") }));

    QImageReader reader(pics("tCat.JPG"), "jpg");
    QCOMPARE(reader.size(), QSize(256, 192));
    QCOMPARE(tableOfFile(pics("tCat.JPG")), tableForQuality(40));
    QCOMPARE(m_host.progress, QList<float> { 100.0f });
    QCOMPARE(m_host.doneShown, 1);
    QVERIFY(m_host.errors.isEmpty());
    // temp.bmp stays after a JPEG entry and holds the scaled picture.
    QCOMPARE(QImage(prog("temp.bmp")).size(), QSize(256, 192));
    QVERIFY(!QFile::exists(prog("temp.JPG")));
    QVERIFY(!QFile::exists(prog("temp1.bmp")));
}

void TestConversionRun::bmpEntry()
{
    const QImage source = photo(101, 75);
    QVERIFY(source.save(pics("logo.BMP"), "BMP"));
    m_host.percent = 50;
    QVERIFY(run({ pics("logo.BMP") }));

    const QImage thumb(pics("tlogo.BMP"), "BMP");
    QCOMPARE(thumb.size(), QSize(50, 38));
    // A smooth gradient shrinks to about the same colours.
    QVERIFY(qAbs(qRed(thumb.pixel(25, 19)) - qRed(source.pixel(50, 37))) <= 4);
    QCOMPARE(QDir(m_program->path()).entryList(QDir::Files), QStringList({ "bmp2png", "png2bmp" }));
}

void TestConversionRun::pngEntryKeepsTransparency()
{
    QVERIFY(photo(200, 100, true).save(pics("my.photo.png"), "PNG"));
    QVERIFY(run({ pics("my.photo.png") }));

    const QImage thumb(pics("tmy.photo.png"), "PNG");
    QCOMPARE(thumb.size(), QSize(80, 40));
    QVERIFY(thumb.hasAlphaChannel());
    QCOMPARE(qAlpha(thumb.pixel(5, 20)), 0);
    QCOMPARE(qAlpha(thumb.pixel(75, 20)), 255);
    for (const char* scratch : { "temp1.bmp", "temp.png", "temp.bmp" })
        QVERIFY2(!QFile::exists(prog(scratch)), scratch);
    QCOMPARE(m_host.doneShown, 1);
}

void TestConversionRun::otherEntriesPassedOver()
{
    for (const char* name : { "clip.mp4", "icon.ico", "README" }) {
        QFile f(pics(name));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("not converted");
    }
    QVERIFY(photo(10, 10).save(pics("a.jpeg"), "JPG"));
    const QStringList entries { pics("clip.mp4"), pics("icon.ico"), pics("a.jpeg"),
        pics("README") };
    QVERIFY(run(entries));

    QCOMPARE(m_host.progress, QList<float>({ 25.0f, 50.0f, 75.0f, 100.0f }));
    QCOMPARE(m_host.doneShown, 1);
    QVERIFY(m_host.errors.isEmpty());
    QVERIFY(QFile::exists(pics("ta.jpeg")));
    for (const char* name : { "tclip.mp4", "ticon.ico", "tREADME" })
        QVERIFY2(!QFile::exists(pics(name)), name);
}

void TestConversionRun::thumbnailOfThumbnailAndDuplicates()
{
    QVERIFY(photo(640, 480).save(pics("Cat.JPG"), "JPG"));
    {
        QFile stale(pics("tCat.JPG"));
        QVERIFY(stale.open(QIODevice::WriteOnly));
        stale.write("an older file under the thumbnail's name");
    }
    QVERIFY(run({ pics("Cat.JPG"), pics("Cat.JPG"), pics("tCat.JPG") }));
    QCOMPARE(m_host.progress.size(), 3);
    QCOMPARE(QImageReader(pics("tCat.JPG")).size(), QSize(256, 192));
    QCOMPARE(QImageReader(pics("ttCat.JPG")).size(), QSize(102, 77));
}

void TestConversionRun::emptyList()
{
    QVERIFY(run({}));
    QVERIFY(m_host.progress.isEmpty());
    QCOMPARE(m_host.doneShown, 0);
    QCOMPARE(QDir(m_program->path()).entryList(QDir::Files).size(), 2);
}

void TestConversionRun::failedEntryEndsOrGoesOn_data()
{
    QTest::addColumn<bool>("goOn");
    QTest::newRow("ends") << false;
    QTest::newRow("goes on") << true;
}

void TestConversionRun::failedEntryEndsOrGoesOn()
{
    QFETCH(bool, goOn);
    m_host.goOn = goOn;
    QVERIFY(photo(50, 50).save(pics("one.jpg"), "JPG"));
    QVERIFY(photo(50, 50).save(pics("three.bmp"), "BMP"));
    QCOMPARE(run({ pics("one.jpg"), pics("missing.jpg"), pics("three.bmp") }), goOn);

    QCOMPARE(m_host.errors.size(), 1);
    QCOMPARE(m_host.errors.first().number(), 53);
    QVERIFY(m_host.errors.first().description().contains(pics("missing.jpg")));
    QCOMPARE(m_host.remainFlags, QList<bool> { true });
    QVERIFY(QFile::exists(pics("tone.jpg")));
    QCOMPARE(QFile::exists(pics("tthree.bmp")), goOn);
    QCOMPARE(m_host.doneShown, goOn ? 1 : 0);
}

void TestConversionRun::corruptJpegLeavesNoScratch()
{
    QFile f(pics("broken.jpg"));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("\xff\xd8\xff\xe0 this is no picture at all");
    f.close();
    QVERIFY(!run({ pics("broken.jpg") }));
    QCOMPARE(m_host.errors.size(), 1);
    QCOMPARE(m_host.errors.first().number(), 481);
    QVERIFY(m_host.errors.first().description().contains(pics("broken.jpg")));
    QCOMPARE(m_host.remainFlags, QList<bool> { false });
    QVERIFY(!QFile::exists(pics("tbroken.jpg")));
    QCOMPARE(QDir(m_program->path()).entryList(QDir::Files).size(), 2);
}

void TestConversionRun::missingConverter()
{
    QVERIFY(QFile::remove(prog("png2bmp")));
    QVERIFY(photo(20, 20).save(pics("a.png"), "PNG"));
    QVERIFY(!run({ pics("a.png") }));
    QCOMPARE(m_host.errors.size(), 1);
    QVERIFY(m_host.errors.first().description().contains(prog("png2bmp")));
    QVERIFY(!QFile::exists(pics("ta.png")));
}

void TestConversionRun::unwritableThumbnail()
{
    // A folder in the thumbnail's place cannot be replaced, even by root.
    QVERIFY(photo(30, 30).save(pics("a.jpg"), "JPG"));
    QVERIFY(photo(30, 30).save(pics("b.bmp"), "BMP"));
    QVERIFY(QDir(m_pics->path()).mkpath("ta.jpg/inside"));
    QVERIFY(QDir(m_pics->path()).mkpath("tb.bmp/inside"));
    m_host.goOn = true;
    QVERIFY(run({ pics("a.jpg"), pics("b.bmp") }));
    QCOMPARE(m_host.errors.size(), 2);
    QVERIFY(m_host.errors.at(0).description().startsWith("Cannot save the image. GDI+ Error:"));
    QVERIFY(m_host.errors.at(0).description().contains(pics("ta.jpg")));
    QVERIFY(m_host.errors.at(1).description().contains(pics("tb.bmp")));
    QVERIFY(QFileInfo(pics("ta.jpg/inside")).isDir());
    QCOMPARE(QDir(m_program->path()).entryList(QDir::Files).size(), 2);
}

void TestConversionRun::awkwardNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("blanks") << "my holiday photo.png";
    QTest::newRow("double quotes") << "say \"cheese\".png";
    QTest::newRow("command substitution") << "$(touch pwned) `touch pwned`; echo.png";
    QTest::newRow("non-ASCII") << "Фото Ääkköset 猫.JPG";
    QTest::newRow("leading dash") << "-O.png";
}

void TestConversionRun::awkwardNames()
{
    QFETCH(QString, name);
    const bool jpeg = name.endsWith(".JPG");
    QVERIFY(photo(40, 20).save(pics(name), jpeg ? "JPG" : "PNG"));
    QVERIFY(run({ pics(name) }));
    QVERIFY(m_host.errors.isEmpty());
    QCOMPARE(QImageReader(pics("t" + name)).size(), QSize(16, 8));
    QVERIFY(!QFile::exists(pics("pwned")));
    QVERIFY(!QFile::exists(QDir::current().filePath("pwned")));
}

void TestConversionRun::readOnlyProgramFolderUsesCache()
{
    // No file can be made in /proc, not even by root.
    QVERIFY(photo(100, 100).save(pics("a.jpg"), "JPG"));
    m_host.entries = 1;
    QVERIFY(ConversionRun::run({ { pics("a.jpg") }, QStringLiteral("/proc") }, m_host));
    QVERIFY(QFile::exists(pics("ta.jpg")));
    const QString cache = qEnvironmentVariable("XDG_CACHE_HOME") + "/Pictelle";
    QVERIFY2(QFile::exists(cache + "/temp.bmp"), qPrintable(cache));
    QCOMPARE(QFileInfo(cache).permissions() & (QFile::ReadOther | QFile::ReadGroup),
        QFile::Permissions());
}

void TestConversionRun::busyProgramFolderUsesPrivateScratch()
{
    // Another Pictelle holding the program folder: this run must not touch its files.
    const int fd = ::open(QFile::encodeName(m_program->path()).constData(), O_RDONLY | O_DIRECTORY);
    QVERIFY(fd >= 0);
    QCOMPARE(::flock(fd, LOCK_EX | LOCK_NB), 0);
    QVERIFY(photo(50, 50).save(pics("a.png"), "PNG"));
    QVERIFY(photo(50, 50).save(pics("b.jpg"), "JPG"));
    const bool ok = run({ pics("a.png"), pics("b.jpg") });
    ::close(fd);
    QVERIFY(ok);
    QVERIFY(QFile::exists(pics("ta.png")));
    QVERIFY(QFile::exists(pics("tb.jpg")));
    QCOMPARE(QDir(m_program->path()).entryList(QDir::Files).size(), 2);
}

void TestConversionRun::userFileNamedLikeScratchIsSafe()
{
    // The user's own temp.bmp in the program folder is a picture to convert, not scratch.
    const QImage mine = photo(60, 40);
    QVERIFY(mine.save(prog("temp.bmp"), "BMP"));
    const QByteArray before = [&] {
        QFile f(prog("temp.bmp"));
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }();
    m_host.entries = 1;
    QVERIFY(run({ prog("temp.bmp") }));
    QFile after(prog("temp.bmp"));
    QVERIFY(after.open(QIODevice::ReadOnly));
    QCOMPARE(after.readAll(), before);
    QCOMPARE(QImageReader(prog("ttemp.bmp")).size(), QSize(24, 16));
}

void TestConversionRun::thumbnailInOutputFolderNamedLikeScratch()
{
    // emp.bmp's thumbnail in the program folder is temp.bmp: the scratch files go elsewhere.
    QVERIFY(photo(60, 40).save(pics("emp.bmp"), "BMP"));
    m_host.entries = 1;
    QVERIFY(
        ConversionRun::run({ { pics("emp.bmp") }, m_program->path(), m_program->path() }, m_host));
    QCOMPARE(QImageReader(prog("temp.bmp")).size(), QSize(24, 16));
}

void TestConversionRun::thumbnailNames_data()
{
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QString>("outputFolder");
    QTest::addColumn<QStringList>("thumbnails"); // of each entry
    QTest::addColumn<QStringList>("clashes"); // "thumbnail: source, source"

    QTest::newRow("beside, same names in two folders")
        << QStringList { "/a/x.jpg", "/b/x.jpg" } << QString()
        << QStringList { "/a/tx.jpg", "/b/tx.jpg" } << QStringList();
    QTest::newRow("one folder, same names clash")
        << QStringList { "/a/x.jpg", "/b/y.png", "/c/x.jpg" } << "/out"
        << QStringList { "/out/tx.jpg", "/out/ty.png", "/out/tx.jpg" }
        << QStringList { "/out/tx.jpg: /a/x.jpg, /c/x.jpg" };
    QTest::newRow("trailing slash, three clash")
        << QStringList { "/a/x.bmp", "/b/x.bmp", "/c/x.bmp" } << "/out/"
        << QStringList { "/out/tx.bmp", "/out/tx.bmp", "/out/tx.bmp" }
        << QStringList { "/out/tx.bmp: /a/x.bmp, /b/x.bmp, /c/x.bmp" };
    QTest::newRow("one path twice is one source")
        << QStringList { "/a/x.jpg", "/a/./x.jpg", "/a/x.jpg" } << "/out"
        << QStringList { "/out/tx.jpg", "/out/tx.jpg", "/out/tx.jpg" } << QStringList();
    QTest::newRow("letter case and extension differ")
        << QStringList { "/a/x.jpg", "/b/X.jpg", "/c/x.JPG", "/d/x.png" } << "/out"
        << QStringList { "/out/tx.jpg", "/out/tX.jpg", "/out/tx.JPG", "/out/tx.png" }
        << QStringList();
    QTest::newRow("entries passed over never clash")
        << QStringList { "/a/x.mp4", "/b/x.mp4", "/a/README", "/b/README" } << "/out"
        << QStringList { "/out/tx.mp4", "/out/tx.mp4", "/out/tREADME", "/out/tREADME" }
        << QStringList();
    QTest::newRow("root folder") << QStringList { "/x.jpg" } << "/" << QStringList { "/tx.jpg" }
                                 << QStringList();
    QTest::newRow("camera raw: a JPEG after the whole name")
        << QStringList { "/a/IMG_1.CR2", "/a/IMG_1.JPG", "/a/x.Nef", "/a/y.dng.tif" } << ""
        << QStringList { "/a/tIMG_1.CR2.jpg", "/a/tIMG_1.JPG", "/a/tx.Nef.jpg", "/a/ty.dng.tif" }
        << QStringList();
    QTest::newRow("camera raw and a JPEG of its thumbnail's name")
        << QStringList { "/a/IMG_1.CR2", "/a/IMG_1.CR2.jpg" } << ""
        << QStringList { "/a/tIMG_1.CR2.jpg", "/a/tIMG_1.CR2.jpg" }
        << QStringList { "/a/tIMG_1.CR2.jpg: /a/IMG_1.CR2, /a/IMG_1.CR2.jpg" };
}

void TestConversionRun::thumbnailNames()
{
    QFETCH(QStringList, entries);
    QFETCH(QString, outputFolder);
    QFETCH(QStringList, thumbnails);
    QFETCH(QStringList, clashes);
    QStringList made;
    for (const QString& entry : entries)
        made << ConversionRun::thumbnailPath(entry, outputFolder);
    QCOMPARE(made, thumbnails);
    QStringList found;
    for (const ConversionRun::Clash& clash : ConversionRun::thumbnailClashes(entries, outputFolder))
        found << clash.thumbnail + ": " + clash.sources.join(", ");
    QCOMPARE(found, clashes);
}

void TestConversionRun::batchProgram()
{
    QVERIFY(photo(100, 50).save(pics("a.jpg"), "JPG"));
    QProcess batch;
    batch.start(TestUtils::binDir() + "/pictelle-batch", { "-p", "10", pics("a.jpg") });
    QVERIFY(batch.waitForFinished(60000));
    QCOMPARE(batch.exitCode(), 0);
    QCOMPARE(batch.readAllStandardOutput(), QByteArray("done\n"));
    QCOMPARE(QImageReader(pics("ta.jpg")).size(), QSize(10, 5));

    batch.start(
        TestUtils::binDir() + "/pictelle-batch", { "-p", "10", pics("gone.jpg"), pics("a.jpg") });
    QVERIFY(batch.waitForFinished(60000));
    QCOMPARE(batch.exitCode(), 1);
    QVERIFY(batch.readAllStandardOutput().isEmpty());
    QVERIFY(QString::fromLocal8Bit(batch.readAllStandardError()).contains(pics("gone.jpg")));
}

QTEST_GUILESS_MAIN(TestConversionRun)
#include "tst_conversionrun.moc"
