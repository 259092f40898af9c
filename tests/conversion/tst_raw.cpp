// SPDX-License-Identifier: MIT

#include "conversion/ConversionRun.h"
#include "imaging/core/Kinds.h"
#include "tests/common/DngWriter.h"
#include "tests/common/FakeRunHost.h"
#include "tests/common/KindFixtures.h"
#include "tests/common/Sandbox.h"
#include "tests/common/TestUtils.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace {

using KindFixtures::photo;

// The picture as a DNG of its size; with a preview, `preview`'s size of the same picture but
// with full blue, so that the thumbnail shows which one it was made from.
QByteArray dng(const QImage& picture, int orientation, QSize preview)
{
    DngWriter::Options options;
    options.orientation = orientation;
    if (!preview.isEmpty()) {
        QImage shown = picture.scaled(preview).convertToFormat(QImage::Format_RGB32);
        for (int y = 0; y < shown.height(); ++y)
            for (int x = 0; x < shown.width(); ++x)
                shown.setPixel(x, y, shown.pixel(x, y) | 0xff);
        QByteArray jpeg;
        QBuffer buffer(&jpeg);
        buffer.open(QIODevice::WriteOnly);
        shown.save(&buffer, "JPG", 95);
        options.preview.assign(jpeg.begin(), jpeg.end());
        options.previewWidth = preview.width();
        options.previewHeight = preview.height();
    }
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
    const std::vector<std::uint8_t> bytes
        = DngWriter::write(rgb.constBits(), rgb.width(), rgb.height(), options);
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
}

bool save(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

class TestRaw : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void readAs_data();
    void readAs();
    void thumbnail_data();
    void thumbnail();
    void damagedFileFailsAlone_data();
    void damagedFileFailsAlone();
    void implausiblePreviewPassedOver();
    void sharedThumbnailNeverReplaced();

private:
    bool run(const QStringList& entries) { return m_box->run(entries); }
    QString pics(const QString& name) const { return m_box->pic(name); }

    std::unique_ptr<Sandbox> m_box;
};

void TestRaw::init()
{
    m_box = std::make_unique<Sandbox>();
    QVERIFY(m_box->setUp());
}

void TestRaw::readAs_data()
{
    QTest::addColumn<QString>("extension");
    QTest::addColumn<QByteArray>("head"); // the file's first bytes
    QTest::addColumn<int>("kind"); // Kinds::Kind it is read as

    // A TIFF inside, named raw or tif, is met by the runs of the thumbnail tests.
    const int raw = int(Kinds::Kind::Raw);
    QTest::newRow("unknown content, named 3fr") << "3fr" << QByteArray("\0\0\0\0", 4) << raw;
    QTest::newRow("a JPEG named CR2")
        << "CR2" << QByteArray("\xff\xd8\xff\xe0") << int(Kinds::Kind::Jpeg);
    QTest::newRow("ORF, named jpg") << "jpg" << QByteArray("IIRO\x08\0\0\0") << raw;
    QTest::newRow("RW2") << "rw2" << QByteArray("IIU\0\x18\0\0\0", 8) << raw;
    QTest::newRow("RAF") << "raf" << QByteArray("FUJIFILMCCD-RAW ") << raw;
    QTest::newRow("CR3") << "cr3"
                         << QByteArray("\0\0\0\x18"
                                       "ftypcrx ",
                                12)
                         << raw;
    QTest::newRow("MRW") << "mrw" << QByteArray("\0MRM\0\0", 6) << raw;

    // An ISO base media file by the brands of its 'ftyp' box (CR3's is one too); `size` 0:
    // the box holds exactly the brands.
    const auto ftyp = [](const char* major, const QByteArray& compatible, int size = 0) {
        QByteArray head(4, '\0');
        head[3] = char(size ? size : 16 + compatible.size());
        return head + "ftyp" + major + QByteArray(4, '\0') + compatible
            + QByteArray("\0\0\0\x10mdat", 8);
    };
    const int heif = int(Kinds::Kind::Heif), avif = int(Kinds::Kind::Avif);
    QTest::newRow("heic") << "heic" << ftyp("heic", "mif1heic") << heif;
    QTest::newRow("hevc sequence") << "heic" << ftyp("hevc", "msf1") << heif;
    QTest::newRow("avif, named heic") << "heic" << ftyp("avif", "mif1miaf") << avif;
    QTest::newRow("avis") << "avif" << ftyp("avis", "msf1") << avif;
    QTest::newRow("mif1 listing avif") << "heic" << ftyp("mif1", "mif1miafavif") << avif;
    QTest::newRow("mif1 listing heic") << "avif" << ftyp("mif1", "heicmif1") << heif;
    QTest::newRow("mif1 alone: HEIF, which libheif tries")
        << "avif" << ftyp("mif1", "mif1") << heif;
    QTest::newRow("avif beyond the box") << "avif" << ftyp("msf1", "mif1avif", 20) << heif;
    QTest::newRow("a video") << "heic" << ftyp("isom", "isomavc1") << int(Kinds::Kind::None);
}

// The content decides the kind, but most raw formats look like a TIFF inside: the name
// decides between the two, and only then.
void TestRaw::readAs()
{
    QFETCH(QString, extension);
    QFETCH(QByteArray, head);
    QFETCH(int, kind);
    const Kinds::Kind content = Kinds::fromContent(
        reinterpret_cast<const unsigned char*>(head.constData()), std::size_t(head.size()));
    QCOMPARE(int(Kinds::readAs(Kinds::fromExtension(extension.toStdString()), content)), kind);
}

void TestRaw::thumbnail_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("orientation");
    QTest::addColumn<QSize>("preview"); // empty: none
    QTest::addColumn<int>("percent");
    QTest::addColumn<QSize>("size"); // of the thumbnail of 200 x 120, upright
    QTest::addColumn<QPoint>("topLeftFrom"); // the source pixel the top left pixel shows
    QTest::addColumn<bool>("fromPreview");

    const QSize none, wide(80, 48), tall(48, 80);
    const QPoint origin(0, 0);
    QTest::newRow("large preview")
        << "a.dng" << 1 << QSize(200, 120) << 40 << wide << origin << true;
    QTest::newRow("preview just the thumbnail's size, named CR2")
        << "IMG_0001.CR2" << 1 << wide << 40 << wide << origin << true;
    QTest::newRow("preview smaller than the thumbnail")
        << "b.NEF" << 1 << QSize(60, 36) << 40 << wide << origin << false;
    QTest::newRow("preview of another aspect")
        << "c.arw" << 1 << QSize(200, 100) << 40 << wide << origin << false;
    QTest::newRow("no preview: half size") << "d.dng" << 1 << none << 40 << wide << origin << false;
    QTest::newRow("no preview, 70 %: whole size")
        << "e.pef" << 1 << none << 70 << QSize(140, 84) << origin << false;
    QTest::newRow("turned, developed")
        << "f.dng" << 6 << none << 40 << tall << QPoint(0, 119) << false;
    QTest::newRow("turned, preview lying as the sensor")
        << "g.orf" << 8 << QSize(200, 120) << 40 << tall << QPoint(199, 0) << true;
    QTest::newRow("upside down, preview too small")
        << "h.rw2" << 3 << QSize(20, 12) << 40 << wide << QPoint(199, 119) << false;
}

// Every raw thumbnail is an upright JPEG named after the whole source name, made from the
// preview only when that holds the thumbnail.
void TestRaw::thumbnail()
{
    QFETCH(QString, name);
    QFETCH(int, orientation);
    QFETCH(QSize, preview);
    QFETCH(int, percent);
    QFETCH(QSize, size);
    QFETCH(QPoint, topLeftFrom);
    QFETCH(bool, fromPreview);

    const QImage source = photo(200, 120);
    const QByteArray bytes = dng(source, orientation, preview);
    QVERIFY(save(pics(name), bytes));
    m_box->host.percent = percent;
    QVERIFY(run({ pics(name) }));
    QVERIFY2(m_box->host.errors.isEmpty(), qPrintable(m_box->host.events.join('\n')));

    QImageReader reader(pics("t" + name + ".jpg"));
    QCOMPARE(reader.format(), QByteArray("jpeg"));
    const QImage thumbnail = reader.read();
    QCOMPARE(thumbnail.size(), size);
    // The corner where it belongs, brightened a little as a raw developer does.
    const QRgb want = source.pixel(topLeftFrom), got = thumbnail.pixel(1, 1);
    QVERIFY2(qAbs(qRed(got) - qRed(want)) <= 40 && qAbs(qGreen(got) - qGreen(want)) <= 40,
        qPrintable(QStringLiteral("%1 against %2").arg(got, 8, 16).arg(want, 8, 16)));
    QCOMPARE(qBlue(got) > 200, fromPreview);
    QCOMPARE(QFile(pics(name)).size(), bytes.size()); // the source unchanged
}

void TestRaw::damagedFileFailsAlone_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("reason");

    const QByteArray whole = dng(photo(64, 48), 1, {});
    QTest::newRow("cut short") << whole.left(whole.size() - 600) << "cut short or damaged";
    QByteArray huge = whole; // ImageWidth and ImageLength of the first IFD: 16384 each
    huge[30] = huge[42] = 0;
    huge[31] = huge[43] = 0x40;
    QTest::newRow("beyond the pixel limit") << huge << "larger than 134217728 pixels";
    QTemporaryDir folder;
    QFile tiff(folder.filePath("a.tif"));
    QVERIFY(
        KindFixtures::writeTiff(tiff.fileName(), photo(64, 48)) && tiff.open(QIODevice::ReadOnly));
    QTest::newRow("a TIFF picture") << tiff.readAll() << "is not supported by LibRaw";
    QTest::newRow("only a header") << QByteArray("II*\0\x08\0\0\0\0\0", 10) << "cannot be opened";
}

void TestRaw::damagedFileFailsAlone()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, reason);

    QVERIFY(save(pics("x.nef"), bytes));
    QVERIFY(save(pics("z.dng"), dng(photo(64, 48), 1, {})));
    QVERIFY(run({ pics("x.nef"), pics("z.dng") }));

    QCOMPARE(m_box->host.errors.size(), 1);
    const QString message = m_box->host.errors.first().description();
    QVERIFY2(message.contains(pics("x.nef")) && message.contains(reason), qPrintable(message));
    QVERIFY(!QFile::exists(pics("tx.nef.jpg")));
    QCOMPARE(QImage(pics("tz.dng.jpg")).size(), QSize(26, 19));
    QCOMPARE(QDir(m_box->program.path()).entryList(QDir::Files).size(), 3); // no scratch left
}

// A preview whose frame header claims 60000 x 36000 pixels (of the picture's aspect) in a few
// KiB is no real preview: the raw data is developed instead of gigabytes being taken.
void TestRaw::implausiblePreviewPassedOver()
{
    QByteArray bytes = dng(photo(200, 120), 1, QSize(200, 120));
    const qsizetype frame = bytes.indexOf(QByteArray("\xff\xc0\0\x11\x08", 5));
    QVERIFY(frame > 0);
    const char size[4]
        = { char(36000 >> 8), char(36000 & 255), char(60000 >> 8), char(60000 & 255) };
    bytes.replace(frame + 5, 4, size, 4);
    QVERIFY(save(pics("a.dng"), bytes));
    QVERIFY(run({ pics("a.dng") }));
    QVERIFY2(m_box->host.errors.isEmpty(), qPrintable(m_box->host.events.join('\n')));
    const QImage thumbnail(pics("ta.dng.jpg"));
    QCOMPARE(thumbnail.size(), QSize(80, 48));
    QVERIFY(qBlue(thumbnail.pixel(1, 1)) < 200);
}

// The window has no up-front check: the second source of one thumbnail fails by itself.
void TestRaw::sharedThumbnailNeverReplaced()
{
    QVERIFY(save(pics("IMG_1.CR2"), dng(photo(64, 48), 1, {})));
    QVERIFY(photo(30, 20).save(pics("IMG_1.CR2.jpg"), "JPG"));
    QVERIFY(run({ pics("IMG_1.CR2"), pics("IMG_1.CR2.jpg"), pics("IMG_1.CR2") }));

    QCOMPARE(m_box->host.errors.size(), 1);
    const QString message = m_box->host.errors.first().description();
    QVERIFY2(message.contains(pics("IMG_1.CR2.jpg")) && message.contains("would replace"),
        qPrintable(message));
    QCOMPARE(QImage(pics("tIMG_1.CR2.jpg")).size(), QSize(26, 19));
}

QTEST_GUILESS_MAIN(TestRaw)
#include "tst_raw.moc"
