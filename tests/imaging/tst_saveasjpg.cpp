// SPDX-License-Identifier: MIT

#include "imaging/JpegEncoder.h"
#include "imaging/SaveAsJPG.h"
#include "runtime/AppError.h"
#include "tests/common/OrdinaryUserAccess.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <array>
#include <csetjmp>
#include <cstdio>
#include <jpeglib.h>
#include <sys/stat.h>
#include <vector>

namespace {

using Table = std::array<quint16, DCTSIZE2>;

struct JpegErrors
{
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

void jumpBack(j_common_ptr cinfo)
{
    std::longjmp(reinterpret_cast<JpegErrors*>(cinfo->err)->jump, 1);
}

// What a reader of the written file sees.
struct ReadBack
{
    bool ok = false;
    int components = 0;
    Table luma {};
    Table chroma {};
    QImage image; // Format_RGB32
};

struct Decoding
{
    jpeg_decompress_struct* cinfo;
    FILE* file;
    ReadBack* out; // filled in with the header
    uchar* pixels; // null: header only
    qsizetype bytesPerLine;
};

// No C++ object with a destructor lives here: libjpeg leaves by longjmp.
bool decodeGuarded(const Decoding& job)
{
    jpeg_decompress_struct* cinfo = job.cinfo;
    if (setjmp(reinterpret_cast<JpegErrors*>(cinfo->err)->jump))
        return false;
    jpeg_create_decompress(cinfo);
    jpeg_stdio_src(cinfo, job.file);
    jpeg_read_header(cinfo, TRUE);
    job.out->components = cinfo->num_components;
    for (int i = 0; i < DCTSIZE2; ++i) {
        job.out->luma[i] = cinfo->quant_tbl_ptrs[0] ? cinfo->quant_tbl_ptrs[0]->quantval[i] : 0;
        job.out->chroma[i] = cinfo->quant_tbl_ptrs[1] ? cinfo->quant_tbl_ptrs[1]->quantval[i] : 0;
    }
    cinfo->out_color_space = JCS_EXT_BGRX;
    jpeg_start_decompress(cinfo);
    while (cinfo->output_scanline < cinfo->output_height) {
        JSAMPROW row = job.pixels + cinfo->output_scanline * job.bytesPerLine;
        jpeg_read_scanlines(cinfo, &row, 1);
    }
    jpeg_finish_decompress(cinfo);
    return true;
}

ReadBack readJpeg(const QString& path, QSize size)
{
    ReadBack result;
    result.image = QImage(size, QImage::Format_RGB32);
    FILE* file = std::fopen(QFile::encodeName(path).constData(), "rb");
    if (!file)
        return result;
    jpeg_decompress_struct cinfo {};
    JpegErrors errors {};
    cinfo.err = jpeg_std_error(&errors.pub);
    errors.pub.error_exit = jumpBack;
    result.ok = decodeGuarded(
        { &cinfo, file, &result, result.image.bits(), result.image.bytesPerLine() });
    result.ok = result.ok && int(cinfo.output_width) == size.width()
        && int(cinfo.output_height) == size.height();
    jpeg_destroy_decompress(&cinfo);
    std::fclose(file);
    return result;
}

// The tables libjpeg's own quality scaling gives for `quality`.
std::pair<Table, Table> libjpegTables(int quality)
{
    jpeg_compress_struct cinfo {};
    JpegErrors errors {};
    cinfo.err = jpeg_std_error(&errors.pub);
    jpeg_create_compress(&cinfo);
    cinfo.in_color_space = JCS_RGB;
    cinfo.input_components = 3;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    std::pair<Table, Table> tables;
    for (int i = 0; i < DCTSIZE2; ++i) {
        tables.first[i] = cinfo.quant_tbl_ptrs[0]->quantval[i];
        tables.second[i] = cinfo.quant_tbl_ptrs[1]->quantval[i];
    }
    jpeg_destroy_compress(&cinfo);
    return tables;
}

// Smooth whatever the size, so that chroma subsampling costs little; the channels differ
// so that a swapped channel order shows.
QImage gradient(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb(40 + 4 * (x % 40), 60 + 3 * (y % 40), 220 - 3 * (x % 40)));
    return image;
}

// Passes every call on to the real encoder, records it, and can fail one step instead.
class RecordingFacade : public JpegEncoder::Facade
{
public:
    QStringList calls;
    QString failStep;
    int failStatus = 0;
    bool handlesMatch = true;

    int startup(JpegEncoder::Token* token, const JpegEncoder::StartupInput& input) noexcept override
    {
        calls << "startup";
        if (failStep == "startup")
            return failStatus;
        const int status = real().startup(token, input);
        m_token = *token;
        return status;
    }
    int createBitmapFromPicture(
        const QImage& picture, JpegEncoder::Bitmap** bitmap) noexcept override
    {
        calls << "createBitmap";
        if (failStep == "createBitmap")
            return failStatus;
        const int status = real().createBitmapFromPicture(picture, bitmap);
        m_bitmap = *bitmap;
        return status;
    }
    int setIccProfile(JpegEncoder::Bitmap* bitmap, const QByteArray& profile) noexcept override
    {
        calls << "setIccProfile";
        handlesMatch = handlesMatch && bitmap == m_bitmap;
        if (failStep == "setIccProfile")
            return failStatus;
        return real().setIccProfile(bitmap, profile);
    }
    int saveImageToFile(JpegEncoder::Bitmap* bitmap, const QString& path, const QUuid& clsid,
        const JpegEncoder::EncoderParameters* parameters) noexcept override
    {
        calls << "save";
        handlesMatch = handlesMatch && bitmap == m_bitmap;
        if (failStep == "save")
            return failStatus;
        return real().saveImageToFile(bitmap, path, clsid, parameters);
    }
    int disposeImage(JpegEncoder::Bitmap* bitmap) noexcept override
    {
        calls << "dispose";
        handlesMatch = handlesMatch && bitmap == m_bitmap;
        return real().disposeImage(bitmap);
    }
    int shutdown(JpegEncoder::Token token) noexcept override
    {
        calls << "shutdown";
        handlesMatch = handlesMatch && token == m_token;
        return real().shutdown(token);
    }

private:
    static JpegEncoder::Facade& real() { return JpegEncoder::libjpeg(); }
    JpegEncoder::Token m_token = 0;
    JpegEncoder::Bitmap* m_bitmap = nullptr;
};

QString errorOf(JpegEncoder::Facade& facade, const QImage& picture, const QString& path)
{
    try {
        SaveAsJPG::SaveJPEG(facade, picture, path, 40);
    } catch (const AppError& error) {
        return QString::number(error.number()) + " " + error.description();
    }
    return QString();
}

} // namespace

class TestSaveAsJpg : public QObject
{
    Q_OBJECT

private slots:
    void qualityReachesTheEncoder_data()
    {
        QTest::addColumn<int>("quality");
        QTest::newRow("1") << 1;
        QTest::newRow("40") << 40;
        QTest::newRow("100") << 100;
    }

    // A reader judges the quality by the quantisation tables; they must be libjpeg's own
    // for exactly that quality.
    void qualityReachesTheEncoder()
    {
        QFETCH(int, quality);
        QTemporaryDir dir;
        const QString path = dir.filePath("tCat.jpg");
        SaveAsJPG::SaveJPEG(gradient(33, 20), path, quint8(quality));

        const ReadBack back = readJpeg(path, QSize(33, 20));
        QVERIFY(back.ok);
        QCOMPARE(back.components, 3);
        const auto expected = libjpegTables(quality);
        QCOMPARE(back.luma, expected.first);
        QCOMPARE(back.chroma, expected.second);
    }

    void pixelsSurvive_data()
    {
        QTest::addColumn<QImage>("picture");
        for (int width = 1; width <= 8; ++width)
            QTest::addRow("RGB32 %dx3", width) << gradient(width, 3);
        QTest::newRow("RGB32 prime 17x13") << gradient(17, 13);
        QTest::newRow("ARGB32") << gradient(19, 7).convertToFormat(QImage::Format_ARGB32);
        QTest::newRow("RGB888") << gradient(23, 9).convertToFormat(QImage::Format_RGB888);
        QTest::newRow("Grayscale8") << gradient(11, 11).convertToFormat(QImage::Format_Grayscale8);
        QTest::newRow("Indexed8") << gradient(16, 5).convertToFormat(QImage::Format_Indexed8);

        // Rows further apart than width * 4 bytes, as in an image over a larger buffer.
        static QImage big = gradient(40, 10);
        QTest::newRow("RGB32 with wide stride")
            << QImage(big.constBits(), 29, 10, big.bytesPerLine(), QImage::Format_RGB32);
    }

    void pixelsSurvive()
    {
        QFETCH(QImage, picture);
        QTemporaryDir dir;
        const QString path = dir.filePath("t.jpg");
        SaveAsJPG::SaveJPEG(picture, path, 100);

        const ReadBack back = readJpeg(path, picture.size());
        QVERIFY(back.ok);
        const QImage expected = picture.convertToFormat(QImage::Format_RGB32);
        qint64 total = 0;
        for (int y = 0; y < expected.height(); ++y)
            for (int x = 0; x < expected.width(); ++x) {
                const QRgb a = expected.pixel(x, y);
                const QRgb b = back.image.pixel(x, y);
                total += qAbs(qRed(a) - qRed(b)) + qAbs(qGreen(a) - qGreen(b))
                    + qAbs(qBlue(a) - qBlue(b));
            }
        const double meanError = double(total) / (3.0 * expected.width() * expected.height());
        QVERIFY2(meanError < 4.0, qPrintable(QString::number(meanError)));
    }

    // The file appears complete under its name, replacing what was there, with the usual
    // permissions and no scratch file left in the folder.
    void replacesInPlace()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("tCat.JPG");
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(100000, 'x'));
        old.close();

        const mode_t previous = ::umask(022);
        SaveAsJPG::SaveJPEG(gradient(10, 10), path, 40);
        ::umask(previous);

        QCOMPARE(
            QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList { "tCat.JPG" });
        QVERIFY(readJpeg(path, QSize(10, 10)).ok);
        struct stat info
        {
        };
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &info), 0);
        QCOMPARE(info.st_mode & 0777, mode_t(0644));
    }

    void saveIntoMissingFolder()
    {
        QTemporaryDir dir;
        RecordingFacade facade;
        const QString error = errorOf(facade, gradient(4, 4), dir.filePath("nowhere/tCat.jpg"));
        QCOMPARE(error, QString("5 Cannot save the image. GDI+ Error:7"));
        QCOMPARE(facade.calls,
            QStringList({ "startup", "createBitmap", "save", "dispose", "shutdown" }));
        QVERIFY(facade.handlesMatch);
        QVERIFY(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());
    }

    // The last step fails: the finished file cannot take the place of a folder.
    void failedRenameLeavesNoScratchFile()
    {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir("tCat.jpg"));
        const QString error
            = errorOf(JpegEncoder::libjpeg(), gradient(4, 4), dir.filePath("tCat.jpg"));
        QCOMPARE(error, QString("5 Cannot save the image. GDI+ Error:7: Is a directory"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            QStringList { "tCat.jpg" });
        QVERIFY(QFileInfo(dir.filePath("tCat.jpg")).isDir());
    }

    void readOnlyFolder()
    {
        QTemporaryDir dir;
        // Open to others but writable by no one, so that root, checked as nobody, reaches it.
        QVERIFY(QFile::setPermissions(
            dir.path(), QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther));
        QString error;
        {
            OrdinaryUserAccess access;
            QVERIFY2(access.ok(), "root could not check files as another user");
            error = errorOf(JpegEncoder::libjpeg(), gradient(4, 4), dir.filePath("t.jpg"));
        }
        QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(error, QString("5 Cannot save the image. GDI+ Error:12: Permission denied"));
    }

    void failingSteps_data()
    {
        QTest::addColumn<QString>("failStep");
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("calls");
        QTest::newRow("start-up") << "startup" << 3 << QStringList { "startup" };
        QTest::newRow("bitmap") << "createBitmap" << 2
                                << QStringList { "startup", "createBitmap", "shutdown" };
        QTest::newRow("save") << "save" << 12
                              << QStringList { "startup", "createBitmap", "save", "dispose",
                                     "shutdown" };
    }

    void failingSteps()
    {
        QFETCH(QString, failStep);
        QFETCH(int, status);
        QFETCH(QStringList, calls);
        QTemporaryDir dir;
        RecordingFacade facade;
        facade.failStep = failStep;
        facade.failStatus = status;
        const QString error = errorOf(facade, gradient(4, 4), dir.filePath("t.jpg"));
        QCOMPARE(error, "5 Cannot save the image. GDI+ Error:" + QString::number(status));
        QCOMPARE(facade.calls, calls);
        QVERIFY(facade.handlesMatch);
        QVERIFY(!QFileInfo::exists(dir.filePath("t.jpg")));
    }

    // The real encoder refuses a picture with no pixels when the bitmap is made.
    void nullPicture()
    {
        QTemporaryDir dir;
        RecordingFacade facade;
        const QString error = errorOf(facade, QImage(), dir.filePath("t.jpg"));
        QCOMPARE(error, QString("5 Cannot save the image. GDI+ Error:2"));
        QCOMPARE(facade.calls, QStringList({ "startup", "createBitmap", "shutdown" }));
    }
};

QTEST_GUILESS_MAIN(TestSaveAsJpg)
#include "tst_saveasjpg.moc"
