// SPDX-License-Identifier: MIT

#include "conversion/ConversionRun.h"
#include "imaging/core/AreaScaling.h"
#include "imaging/core/Kinds.h"
#include "imaging/core/ScaledFrames.h"
#include "tests/common/ColourFixtures.h"
#include "tests/common/FakeRunHost.h"
#include "tests/common/KindFixtures.h"
#include "tests/common/Sandbox.h"
#include "tests/common/TestUtils.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <gif_lib.h>
#include <memory>

Q_DECLARE_METATYPE(KindFixtures::Options)

namespace {
// A pixel of a frame of an animated thumbnail and the colour it must show.
struct Probe
{
    int frame;
    QPoint at;
    QRgb colour;
};
} // namespace
Q_DECLARE_METATYPE(QList<Probe>)

namespace {

using KindFixtures::photo;

QImage filled(QSize size, QRgb colour)
{
    QImage image(size, QImage::Format_ARGB32);
    image.fill(colour);
    return image;
}

bool writeSource(const QString& path, const QByteArray& kind, const QImage& image,
    const KindFixtures::Options& options)
{
    if (kind == "webp")
        return KindFixtures::writeWebP(path, image, options);
    if (kind == "tiff")
        return KindFixtures::writeTiff(path, image, options);
    if (kind == "heif" || kind == "avif")
        return KindFixtures::writeHeif(path, image, options, kind == "avif");
    if (kind == "jxl")
        return KindFixtures::writeJxl(path, image, options);
    if (kind == "gif")
        return KindFixtures::writeGif(
            path, image.convertToFormat(QImage::Format_Indexed8).convertToFormat(image.format()));
    return image.save(path, kind.constData());
}

} // namespace

class TestKinds : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void thumbnailKeepsKind_data();
    void thumbnailKeepsKind();
    void animationKept_data();
    void animationKept();
    void scaledAsWhole_data();
    void scaledAsWhole();
    void hostileFileFailsOnlyItsEntry_data();
    void hostileFileFailsOnlyItsEntry();
    void misbehavingReaderEndsOnlyItsEntry_data();
    void misbehavingReaderEndsOnlyItsEntry();
    void scratchFileChecked_data();
    void scratchFileChecked();

private:
    bool run(const QStringList& entries) { return m_box->run(entries); }
    QString pics(const QString& name) const { return m_box->pic(name); }

    std::unique_ptr<Sandbox> m_box;
};

void TestKinds::init()
{
    m_box = std::make_unique<Sandbox>();
    QVERIFY(m_box->setUp());
}

void TestKinds::thumbnailKeepsKind_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content"); // the kind the file really holds
    QTest::addColumn<bool>("alpha");
    QTest::addColumn<KindFixtures::Options>("options");
    QTest::addColumn<QSize>("size"); // of the thumbnail, 40 % of 100 x 60 upright
    QTest::addColumn<QByteArray>("kind"); // the thumbnail's
    QTest::addColumn<bool>("lossy");
    QTest::addColumn<int>("bits");
    QTest::addColumn<int>("compression"); // TIFF only
    QTest::addColumn<QPoint>("topLeftFrom"); // the source pixel the top left pixel shows

    const QByteArray icc = ColourFixtures::rgbProfile();
    const QSize wide(40, 24), tall(24, 40);
    const QPoint origin(0, 0);
    KindFixtures::Options o;

    o = {};
    o.lossy = true;
    QTest::newRow("lossy webp") << "a.webp" << QByteArray("webp") << false << o << wide
                                << QByteArray("webp") << true << 8 << 0 << origin;
    o = {};
    o.iccProfile = icc;
    QTest::newRow("lossless webp, alpha, profile")
        << "b.WEBP" << QByteArray("webp") << true << o << wide << QByteArray("webp") << false << 8
        << 0 << origin;
    o = {};
    o.lossy = true;
    o.orientation = 6;
    QTest::newRow("webp turned by EXIF") << "c.webp" << QByteArray("webp") << false << o << tall
                                         << QByteArray("webp") << true << 8 << 0 << QPoint(0, 59);
    o = {};
    o.compression = 5;
    QTest::newRow("tiff 8-bit LZW") << "d.tif" << QByteArray("tiff") << false << o << wide
                                    << QByteArray("tiff") << false << 8 << 5 << origin;
    o = {};
    o.bits = 16;
    o.compression = 8;
    o.iccProfile = icc;
    QTest::newRow("tiff 16-bit Deflate, alpha, profile")
        << "e.TIFF" << QByteArray("tiff") << true << o << wide << QByteArray("tiff") << false << 16
        << 8 << origin;
    o = {};
    o.lossy = true;
    QTest::newRow("tiff JPEG") << "f.tif" << QByteArray("tiff") << false << o << wide
                               << QByteArray("tiff") << true << 8 << 7 << origin;
    o = {};
    o.compression = 32773;
    o.orientation = 8;
    QTest::newRow("tiff PackBits turned")
        << "g.tiff" << QByteArray("tiff") << false << o << tall << QByteArray("tiff") << false << 8
        << 32773 << QPoint(99, 0);
    // Every other orientation, through TIFF; the corner of the source the top left shows.
    const struct
    {
        int orientation;
        QPoint from;
    } turns[] = { { 2, { 99, 0 } }, { 3, { 99, 59 } }, { 4, { 0, 59 } }, { 5, { 0, 0 } },
        { 7, { 99, 59 } } };
    for (const auto& turn : turns) {
        o = {};
        o.orientation = turn.orientation;
        o.bits = turn.orientation == 3 ? 16 : 8;
        QTest::addRow("tiff orientation %d, %d-bit", turn.orientation, o.bits)
            << "o.tif" << QByteArray("tiff") << false << o << (turn.orientation >= 5 ? tall : wide)
            << QByteArray("tiff") << false << o.bits << 1 << turn.from;
    }
    o = {};
    o.compression = 32946; // Deflate's old code, written under its new one
    o.pages = 3;
    QTest::newRow("tiff three pages: the first")
        << "h.tif" << QByteArray("tiff") << false << o << wide << QByteArray("tiff") << false << 8
        << 8 << origin;
    o = {};
    o.compression = 34925; // LZMA: read, but not written
    QTest::newRow("tiff LZMA becomes Deflate")
        << "i.tif" << QByteArray("tiff") << false << o << wide << QByteArray("tiff") << false << 8
        << 8 << origin;
    QTest::newRow("gif with transparency")
        << "j.gif" << QByteArray("gif") << true << KindFixtures::Options() << wide
        << QByteArray("gif") << false << 8 << 0 << origin;
    QTest::newRow("png named webp")
        << "k.webp" << QByteArray("png") << true << KindFixtures::Options() << wide
        << QByteArray("webp") << false << 8 << 0 << origin;
    QTest::newRow("jpeg named tiff")
        << "l.tif" << QByteArray("jpg") << false << KindFixtures::Options() << wide
        << QByteArray("tiff") << true << 8 << 7 << origin;
    o = {};
    o.lossy = true;
    QTest::newRow("lossy jxl") << "n.jxl" << QByteArray("jxl") << false << o << wide
                               << QByteArray("jxl") << true << 8 << 0 << origin;
    o = {};
    o.iccProfile = icc;
    QTest::newRow("lossless jxl, alpha, profile")
        << "o.JXL" << QByteArray("jxl") << true << o << wide << QByteArray("jxl") << false << 8 << 0
        << origin;
    o = {};
    o.iccProfile = ColourFixtures::greyProfile();
    QTest::newRow("lossless grey jxl, grey profile")
        << "u.jxl" << QByteArray("jxl") << false << o << wide << QByteArray("jxl") << false << 8
        << 0 << origin;
    o = {};
    o.bits = 16;
    QTest::newRow("jxl 16-bit lossless") << "p.jxl" << QByteArray("jxl") << false << o << wide
                                         << QByteArray("jxl") << false << 16 << 0 << origin;
    o = {};
    o.bits = 10;
    o.lossy = true;
    o.cicp = { 9, 16 };
    QTest::newRow("jxl 10-bit lossy PQ: code points kept")
        << "q.jxl" << QByteArray("jxl") << false << o << wide << QByteArray("jxl") << true << 10
        << 0 << origin;
    o = {};
    o.lossy = true;
    o.orientation = 6;
    QTest::newRow("jxl turned by its header")
        << "r.jxl" << QByteArray("jxl") << false << o << tall << QByteArray("jxl") << true << 8 << 0
        << QPoint(0, 59);
    o = {};
    o.fromJpeg = true;
    QTest::newRow("jpeg recompressed in jxl: lossy")
        << "s.jxl" << QByteArray("jxl") << false << o << wide << QByteArray("jxl") << true << 8 << 0
        << origin;
    QTest::newRow("jxl named webp")
        << "t.webp" << QByteArray("jxl") << true << KindFixtures::Options() << wide
        << QByteArray("webp") << false << 8 << 0 << origin;
    o = {};
    QTest::newRow("gif named jpg") << "m.jpg" << QByteArray("gif") << false << o << wide
                                   << QByteArray() << true << 8 << 0 << origin;
    o = {};
    o.iccProfile = icc;
    QTest::newRow("heic, profile") << "n.heic" << QByteArray("heif") << false << o << wide
                                   << QByteArray("heif") << true << 8 << 0 << origin;
    o = {};
    QTest::newRow("heic with alpha") << "o.HEIF" << QByteArray("heif") << true << o << wide
                                     << QByteArray("heif") << true << 8 << 0 << origin;
    o = {};
    o.bits = 10;
    QTest::newRow("heic 10-bit") << "p.hif" << QByteArray("heif") << false << o << wide
                                 << QByteArray("heif") << true << 10 << 0 << origin;
    o = {};
    o.orientation = 6;
    QTest::newRow("heic turned by irot") << "q.heic" << QByteArray("heif") << false << o << tall
                                         << QByteArray("heif") << true << 8 << 0 << QPoint(0, 59);
    o = {};
    o.orientation = 2;
    QTest::newRow("heic mirrored by imir") << "r.heic" << QByteArray("heif") << false << o << wide
                                           << QByteArray("heif") << true << 8 << 0 << QPoint(99, 0);
    // The fixture's thumbnail picture is the picture mirrored: read when it is large enough.
    o = {};
    o.thumbnail = 50;
    QTest::newRow("heic thumbnail picture read in its place")
        << "s.heic" << QByteArray("heif") << false << o << wide << QByteArray("heif") << true << 8
        << 0 << QPoint(99, 0);
    o = {};
    o.thumbnail = 32;
    QTest::newRow("heic thumbnail picture too small")
        << "t.heic" << QByteArray("heif") << false << o << wide << QByteArray("heif") << true << 8
        << 0 << origin;
    o = {};
    QTest::newRow("avif") << "u.avif" << QByteArray("avif") << false << o << wide
                          << QByteArray("avif") << true << 8 << 0 << origin;
    o = {};
    o.bits = 10;
    o.cicp = { 9, 18 }; // BT.2020, HLG: kept as coded, not tone-mapped
    QTest::newRow("avif 10-bit HLG") << "v.AVIF" << QByteArray("avif") << false << o << wide
                                     << QByteArray("avif") << true << 10 << 0 << origin;
    o = {};
    o.bits = 10;
    QTest::newRow("heic 10-bit, alpha, named avif: 12-bit avif")
        << "x.avif" << QByteArray("heif") << true << o << wide << QByteArray("avif") << true << 12
        << 0 << origin;
    o = {};
    o.bits = 12;
    QTest::newRow("avif 12-bit named heic: 10-bit heic")
        << "w.heic" << QByteArray("avif") << false << o << wide << QByteArray("heif") << true << 10
        << 0 << origin;
}

void TestKinds::thumbnailKeepsKind()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(bool, alpha);
    QFETCH(KindFixtures::Options, options);
    QFETCH(QSize, size);
    QFETCH(QByteArray, kind);
    QFETCH(bool, lossy);
    QFETCH(int, bits);
    QFETCH(int, compression);
    QFETCH(QPoint, topLeftFrom);

    const QImage source = photo(100, 60, alpha);
    QVERIFY(writeSource(pics(name), content, source, options));
    QVERIFY(run({ pics(name) }));
    QVERIFY2(m_box->host.errors.isEmpty(), qPrintable(m_box->host.events.join('\n')));

    const QString thumbnail = pics("t" + name);
    if (kind.isEmpty()) { // a name of the Parts' kinds: its own writer, checked elsewhere
        QCOMPARE(QImage(thumbnail).size(), size);
        return;
    }
    const KindFixtures::Read read = KindFixtures::read(thumbnail);
    QCOMPARE(read.kind, kind);
    QCOMPARE(read.image.size(), size);
    QCOMPARE(read.lossy, lossy);
    QCOMPARE(read.bits, bits);
    if (kind == "tiff")
        QCOMPARE(int(read.compression), compression);
    QCOMPARE(read.iccProfile, options.iccProfile);
    if (!options.cicp.isEmpty())
        QCOMPARE(read.cicp, options.cicp);
    QVERIFY(!read.hasExif);
    // Upright, and the colours where they belong (a palette and lossy coding move them a
    // little; JPEG XL at 40 %, distance 5.5, some 30 in a corner of so small a picture, while
    // the corners differ by 255).
    const QRgb want = source.pixel(topLeftFrom);
    const QRgb got = read.image.pixel(0, 0);
    const int near = kind == "jxl" && lossy ? 40 : 24;
    QVERIFY2(qAbs(qRed(got) - qRed(want)) <= near && qAbs(qGreen(got) - qGreen(want)) <= near,
        qPrintable(QStringLiteral("%1 against %2").arg(got, 8, 16).arg(want, 8, 16)));
    QCOMPARE(qAlpha(read.image.pixel(size.width() - 1, size.height() / 2)), alpha ? 0 : 255);
    QVERIFY(qAlpha(got) >= (lossy && alpha ? 248 : 255)); // lossy alpha moves a little
    QCOMPARE(QDir(m_box->program.path()).entryList(QDir::Files).size(), 3); // no scratch left
}

void TestKinds::animationKept_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("lossy"); // a WebP source's
    QTest::addColumn<QByteArray>("kind"); // the thumbnail's
    QTest::addColumn<QList<int>>("delays");
    QTest::addColumn<int>("loopCount");
    QTest::addColumn<QList<Probe>>("probes"); // on the 40 x 24 thumbnail of 100 x 60

    const QRgb red = qRgb(255, 0, 0), green = qRgb(0, 255, 0), blue = qRgb(0, 0, 255),
               yellow = qRgb(255, 255, 0);
    // GIF: red kept; green at the top left, restored to before it; blue at the bottom right,
    // its left half transparent, cleared to the background; yellow reaching outside.
    const QList<Probe> gif { { 1, { 5, 5 }, green }, { 2, { 5, 5 }, red }, { 2, { 22, 18 }, red },
        { 2, { 35, 18 }, blue }, { 3, { 24, 20 }, 0 }, { 3, { 36, 20 }, yellow },
        { 3, { 5, 5 }, red } };
    QTest::newRow("gif: disposal, transparency, clipping")
        << "a.gif" << QByteArray("gif") << false << QByteArray("gif")
        << QList<int> { 100, 200, 300, 400 } << 3 << gif;
    QTest::newRow("gif named webp") << "b.webp" << QByteArray("gif") << false << QByteArray("webp")
                                    << QList<int> { 100, 200, 300, 400 } << 3 << gif;
    // WebP: the encoder stores only what changes, blended on the frame before.
    const QList<Probe> webp { { 1, { 5, 5 }, green }, { 1, { 35, 18 }, red }, { 2, { 5, 5 }, red },
        { 2, { 35, 18 }, blue } };
    QTest::newRow("lossy webp") << "c.webp" << QByteArray("webp") << true << QByteArray("webp")
                                << QList<int> { 100, 250, 400 } << 0 << webp;
    QTest::newRow("lossless webp played twice")
        << "d.webp" << QByteArray("webp") << false << QByteArray("webp")
        << QList<int> { 100, 250, 400 } << 2 << webp;
    QTest::newRow("lossy jxl played twice")
        << "e.jxl" << QByteArray("jxl") << true << QByteArray("jxl") << QList<int> { 100, 250, 400 }
        << 2 << webp;
}

void TestKinds::animationKept()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(bool, lossy);
    QFETCH(QByteArray, kind);
    QFETCH(QList<int>, delays);
    QFETCH(int, loopCount);
    QFETCH(QList<Probe>, probes);

    const QSize canvas(100, 60), quarter(50, 30);
    const QRgb red = qRgb(255, 0, 0), green = qRgb(0, 255, 0), blue = qRgb(0, 0, 255);
    if (content == "gif") {
        QImage blueRight = filled(quarter, blue);
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 25; ++x)
                blueRight.setPixel(x, y, 0);
        QVERIFY(KindFixtures::writeAnimatedGif(pics(name), canvas,
            { { filled(canvas, red), {}, 100, DISPOSE_DO_NOT },
                { filled(quarter, green), {}, 200, DISPOSE_PREVIOUS },
                { blueRight, { 50, 30 }, 300, DISPOSE_BACKGROUND },
                { filled({ 40, 40 }, qRgb(255, 255, 0)), { 80, 40 }, 400, DISPOSE_DO_NOT } },
            loopCount));
    } else {
        QImage second = filled(canvas, red), third = filled(canvas, red);
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 50; ++x) {
                second.setPixel(x, y, green);
                third.setPixel(x + 50, y + 30, blue);
            }
        const QList<KindFixtures::AnimationFrame> frames { { filled(canvas, red), {}, 100 },
            { second, {}, 250 }, { third, {}, 400 } };
        QVERIFY(content == "jxl"
                ? KindFixtures::writeAnimatedJxl(pics(name), frames, loopCount, lossy)
                : KindFixtures::writeAnimatedWebP(pics(name), frames, loopCount, lossy));
    }
    QVERIFY(run({ pics(name) }));
    QVERIFY2(m_box->host.errors.isEmpty(), qPrintable(m_box->host.events.join('\n')));

    const KindFixtures::Read read = KindFixtures::read(pics("t" + name));
    QCOMPARE(read.kind, kind);
    QCOMPARE(read.lossy, lossy);
    QCOMPARE(read.delays, delays);
    QCOMPARE(read.loopCount, loopCount);
    QCOMPARE(read.frames.size(), delays.size());
    QCOMPARE(read.frames.front().size(), QSize(40, 24));
    for (const Probe& probe : probes) {
        const QRgb got = read.frames[probe.frame].pixel(probe.at);
        const QRgb want = probe.colour;
        // Where nothing shows, only that counts.
        const bool near = qAlpha(want) == 0
            ? qAlpha(got) == 0
            : qAbs(qRed(got) - qRed(want)) <= 24 && qAbs(qGreen(got) - qGreen(want)) <= 24
                && qAbs(qBlue(got) - qBlue(want)) <= 24 && qAlpha(got) == 255;
        QVERIFY2(near,
            qPrintable(QStringLiteral("frame %1 at %2,%3: %4 against %5")
                           .arg(probe.frame)
                           .arg(probe.at.x())
                           .arg(probe.at.y())
                           .arg(got, 8, 16)
                           .arg(want, 8, 16)));
    }
}

void TestKinds::scaledAsWhole_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("tileSize"); // TIFF; 0: strips of 16 rows
    QTest::addColumn<int>("tolerance"); // per sample, against the whole picture's average
    QTest::newRow("tiff striped") << "a.tif" << 0 << 0;
    QTest::newRow("tiff tiled, partial tiles at the edges") << "a.tif" << 32 << 0;
    // libwebp scales as it decodes, in fixed point.
    QTest::newRow("lossless webp") << "a.webp" << 0 << 1;
}

// The reader scales a TIFF as its strips or rows of tiles come, a WebP as it decodes: the
// thumbnail is the whole picture's area average all the same.
void TestKinds::scaledAsWhole()
{
    QFETCH(QString, name);
    QFETCH(int, tileSize);
    QFETCH(int, tolerance);
    // Detail finer than the thumbnail's pixels, which only averaging the areas keeps.
    QImage source(300, 190, QImage::Format_RGB32);
    for (int y = 0; y < source.height(); ++y)
        for (int x = 0; x < source.width(); ++x)
            source.setPixel(x, y, qRgb(x * 255 / 299, x % 3 ? 0 : 255, y % 2 ? 0 : 255));
    KindFixtures::Options options;
    options.compression = 5;
    options.tileSize = tileSize;
    QVERIFY(name.endsWith(".tif") ? KindFixtures::writeTiff(pics(name), source, options)
                                  : KindFixtures::writeWebP(pics(name), source));
    QVERIFY(run({ pics(name) }));
    QVERIFY2(m_box->host.errors.isEmpty(), qPrintable(m_box->host.events.join('\n')));

    const ImageCore::Size size = ImageCore::thumbnailSize(
        { source.width(), source.height() }, ImageCore::scaleFactor(m_box->host.percent));
    QImage want(size.width, size.height, QImage::Format_RGB32);
    ImageCore::AreaAverager<std::uint8_t> averager(
        { source.width(), source.height() }, size, want.bits(), want.bytesPerLine());
    for (int y = 0; y < source.height(); ++y)
        averager.add(source.constScanLine(y));
    averager.finish();
    const QImage got
        = KindFixtures::read(pics("t" + name)).image.convertToFormat(QImage::Format_RGB32);
    QCOMPARE(got.size(), want.size());
    int worst = 0;
    for (int y = 0; y < want.height(); ++y) {
        for (int x = 0; x < want.width(); ++x) {
            const QRgb a = got.pixel(x, y), b = want.pixel(x, y);
            worst = std::max({ worst, qAbs(qRed(a) - qRed(b)), qAbs(qGreen(a) - qGreen(b)),
                qAbs(qBlue(a) - qBlue(b)) });
        }
    }
    QVERIFY2(worst <= tolerance, qPrintable(QStringLiteral("off by %1").arg(worst)));
}

void TestKinds::hostileFileFailsOnlyItsEntry_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("reason");

    QTest::newRow("not a picture")
        << "a.webp" << QByteArray("just some text") << "not a picture of a kind this reader reads";
    QTest::newRow("cut short") << "b.webp" << QByteArray("RIFF\x40\0\0\0WEBPVP8 ", 16)
                               << "not a whole WebP picture";
    // A logical screen of 65535 x 65535 and a 1-pixel frame: refused before the canvas is
    // allocated.
    QTest::newRow("gif canvas") << "c.gif"
                                << QByteArray("GIF89a\xff\xff\xff\xff\x80\0\0"
                                              "\0\0\0\xff\xff\xff"
                                              ",\0\0\0\0\1\0\1\0\0\2\2D\1\0;",
                                       35)
                                << "larger than 134217728 pixels";
    // 5001 frames of one pixel: refused at the frame beyond the limit.
    QByteArray frames("GIF89a\1\0\1\0\x80\0\0\0\0\0\xff\xff\xff", 19);
    for (int i = 0; i < 5001; ++i)
        frames += QByteArray(",\0\0\0\0\1\0\1\0\0\2\2D\1\0", 15);
    QTest::newRow("gif of 5001 frames") << "d.gif" << frames + ';' << "more than 5000 frames";
}

void TestKinds::hostileFileFailsOnlyItsEntry()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, reason);

    QFile f(pics(name));
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
    f.close();
    QVERIFY(photo(20, 20, false).save(pics("z.png"), "PNG"));
    QVERIFY(run({ pics(name), pics("z.png") }));

    QCOMPARE(m_box->host.errors.size(), 1);
    const QString message = m_box->host.errors.first().description();
    QVERIFY2(message.contains(pics(name)) && message.contains(reason), qPrintable(message));
    QVERIFY(!QFile::exists(pics("t" + name)));
    QVERIFY(QFile::exists(pics("tz.png")));
    QCOMPARE(m_box->host.doneShown, 1);
}

void TestKinds::misbehavingReaderEndsOnlyItsEntry_data()
{
    QTest::addColumn<bool>("goOn");
    QTest::newRow("going on") << true;
    // The hanging read ahead is under way when the run stops at the crash before it.
    QTest::newRow("stopping while a read ahead hangs") << false;
}

void TestKinds::misbehavingReaderEndsOnlyItsEntry()
{
    QFETCH(bool, goOn);
    m_box->host.goOn = goOn;
    QVERIFY(QFile::remove(m_box->program.filePath("pictelle-read")));
    QVERIFY(QFile::link(TestUtils::buildDir() + "/tests/misbehaving-reader",
        m_box->program.filePath("pictelle-read")));
    const QStringList names { "crash.gif", "hang.tif", "garbage.webp" };
    for (const QString& name : names) {
        QFile f(pics(name));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(name.section('.', 0, 0).toLatin1());
    }
    QVERIFY(photo(30, 20, false).save(pics("ok.jpg"), "JPG"));
    QElapsedTimer sinceHanging;
    if (!goOn) {
        m_box->host.beforeEntry = [&](int entry) {
            // The hanging reader says it has begun; without being ended it would spin for a
            // second of processor time.
            if (entry == 1
                && QTest::qWaitFor([&] { return QFile::exists(pics("hang.tif.hanging")); }))
                sinceHanging.start();
        };
    }
    QCOMPARE(run(goOn ? QStringList { pics("crash.gif"), pics("ok.jpg"), pics("hang.tif"),
                     pics("garbage.webp") }
                      : QStringList { pics("crash.gif"), pics("hang.tif"), pics("ok.jpg") }),
        goOn);

    const QStringList why { "signal 6", "signal 24", "handed back no picture" };
    QCOMPARE(m_box->host.errors.size(), goOn ? 3 : 1);
    for (int i = 0; i < m_box->host.errors.size(); ++i) {
        const QString message = m_box->host.errors.at(i).description();
        QVERIFY2(message.contains(pics(names.at(i))) && message.contains(why.at(i)),
            qPrintable(message));
    }
    for (const QString& name : names)
        QVERIFY(!QFile::exists(pics("t" + name)));
    if (!goOn) {
        QVERIFY(sinceHanging.isValid());
        QVERIFY2(sinceHanging.elapsed() < 700, qPrintable(QString::number(sinceHanging.elapsed())));
    }
    QCOMPARE(QFile::exists(pics("tok.jpg")), goOn);
    QCOMPARE(m_box->host.doneShown, goOn ? 1 : 0);
    QCOMPARE(QDir(m_box->program.path()).entryList(QDir::Files).size(), 3); // no scratch left
}

void TestKinds::scratchFileChecked_data()
{
    QTest::addColumn<int>("cut"); // bytes taken off the end
    QTest::addColumn<int>("at"); // a byte changed, -1 for none
    QTest::addColumn<quint8>("value");
    QTest::addColumn<bool>("valid");

    QTest::newRow("whole") << 0 << -1 << quint8(0) << true;
    QTest::newRow("one byte short") << 1 << -1 << quint8(0) << false;
    QTest::newRow("other magic") << 0 << 0 << quint8('X') << false;
    QTest::newRow("huge width") << 0 << 11 << quint8(0x7f) << false;
    QTest::newRow("12 bits") << 0 << 16 << quint8(12) << false;
    QTest::newRow("unknown kind") << 0 << 18 << quint8(99) << false;
    QTest::newRow("source of 17 bits") << 0 << 28 << quint8(17) << false;
    QTest::newRow("no frame") << 0 << 34 << quint8(0) << false;
    QTest::newRow("two frames announced") << 0 << 34 << quint8(2) << false;
}

void TestKinds::scratchFileChecked()
{
    QFETCH(int, cut);
    QFETCH(int, at);
    QFETCH(quint8, value);
    QFETCH(bool, valid);

    ImageCore::ScaledFrames frames;
    frames.width = 3;
    frames.height = 2;
    frames.kind = Kinds::Kind::Tiff;
    frames.iccProfile = { 1, 2, 3 };
    frames.frames.push_back({ 0, std::vector<std::uint8_t>(frames.frameBytes(), 7) });
    std::vector<std::uint8_t> bytes = ImageCore::encodeScaledFrames(frames);
    bytes.resize(bytes.size() - std::size_t(cut));
    if (at >= 0)
        bytes[std::size_t(at)] = value;

    ImageCore::ScaledFrames decoded;
    std::string reason;
    QCOMPARE(ImageCore::decodeScaledFrames(bytes, decoded, reason), valid);
    QCOMPARE(reason.empty(), valid);
    if (valid)
        QCOMPARE(decoded.frames.front().pixels, frames.frames.front().pixels);
}

QTEST_GUILESS_MAIN(TestKinds)
#include "tst_kinds.moc"
