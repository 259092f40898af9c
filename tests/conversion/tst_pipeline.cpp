// SPDX-License-Identifier: MIT

#include "conversion/ConversionRun.h"
#include "conversion/DecodeAhead.h"
#include "runtime/AppError.h"
#include "tests/common/FakeRunHost.h"
#include "tests/common/KindFixtures.h"
#include "tests/common/Sandbox.h"
#include "tests/common/TestUtils.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QMap>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <mutex>
#include <new>
#include <thread>

namespace {

constexpr qint64 anyBytes = qint64(1) << 40;

DecodeAhead::Prepared held(const QImage& image)
{
    DecodeAhead::Prepared prepared;
    prepared.picture = { image, {} };
    return prepared;
}

// A picture with detail in it, so that any difference in reading or scaling shows.
QImage photo(int width, int height, int seed, bool alpha = false)
{
    QImage image(width, height, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y,
                qRgba((x * 7 + seed * 31) & 255, (y * 5 + x * y / 9) & 255, (seed * 50 + y) & 255,
                    alpha ? (x * 255) / width : 255));
    return image;
}

// A GIF's picture: at most 256 colours.
QImage fewColours(int width, int height, int seed)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb(((x / 7 + seed) % 5) * 60, ((y / 5) % 4) * 80, seed * 20));
    return image;
}

// Every file of a folder (hidden ones too) with a digest of its bytes.
QMap<QString, QByteArray> contents(const QString& folder)
{
    QMap<QString, QByteArray> result;
    const auto names = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& name : names) {
        QFile f(folder + QLatin1Char('/') + name);
        if (f.open(QIODevice::ReadOnly))
            result.insert(name, QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha1));
        else
            result.insert(name, "unreadable");
    }
    return result;
}

// A mixed list: every kind (an animation, and a PNG under another kind's name, too),
// duplicates, entries passed over, and entries whose files an earlier entry of the same run
// rewrites (thumbnails listed again, stale beforehand, and a link to a thumbnail that does
// not exist yet).
QStringList makeMixedList(const Sandbox& box)
{
    QStringList list;
    const auto add = [&](const QString& name) { list << box.pic(name); };
    for (int i = 0; i < 4; ++i) {
        photo(301 + i * 17, 203 + i * 5, i)
            .save(box.pic(QStringLiteral("j%1.jpg").arg(i)), "JPG", 90);
        photo(157 + i, 99 + i * 3, i + 10).save(box.pic(QStringLiteral("b%1.BMP").arg(i)), "BMP");
        photo(120 + i, 80, i + 20, i % 2).save(box.pic(QStringLiteral("p%1.png").arg(i)), "PNG");
    }
    photo(64, 64, 40).save(box.pic("tj0.jpg"), "JPG", 50); // stale thumbnail
    photo(64, 64, 41).save(box.pic("tb1.BMP"), "BMP");
    if (!QFile::link(box.pic("tj2.jpg"), box.pic("later.jpg"))) // dangling until j2 is done
        return {};
    QFile(box.pic("clip.mp4")).open(QIODevice::WriteOnly);
    KindFixtures::Options lossy;
    lossy.lossy = true;
    if (!KindFixtures::writeWebP(box.pic("w0.webp"), photo(210, 140, 50, true), lossy)
        || !KindFixtures::writeWebP(box.pic("tw0.webp"), photo(64, 64, 51))
        || !KindFixtures::writeTiff(box.pic("f0.tif"), photo(190, 120, 52))
        || !KindFixtures::writeGif(box.pic("g0.gif"), fewColours(150, 100, 3))
        || !KindFixtures::writeAnimatedGif(box.pic("a0.gif"), { 80, 60 },
            { { fewColours(80, 60, 4), {}, 100, 0 }, { fewColours(80, 60, 5), {}, 50, 0 } }, 0)
        || !photo(100, 70, 56).save(box.pic("png.webp"), "PNG"))
        return {};

    add("j0.jpg");
    add("b0.BMP");
    add("p0.png");
    add("tj0.jpg");
    add("clip.mp4");
    add("j1.jpg");
    add("b1.BMP");
    add("tb1.BMP");
    add("p1.png");
    add("j2.jpg");
    add("later.jpg");
    add("j1.jpg");
    add("b2.BMP");
    add("p2.png");
    add("j3.jpg");
    add("b3.BMP");
    add("p3.png");
    add("tj3.jpg");
    add("w0.webp");
    add("f0.tif");
    add("tw0.webp");
    add("g0.gif");
    add("png.webp");
    add("a0.gif");
    add("w0.webp");
    add("tf0.tif");
    return list;
}

} // namespace

class TestPipeline : public QObject
{
    Q_OBJECT

private slots:
    void sameFilesAsOneAtATime_data();
    void sameFilesAsOneAtATime();
    void stopLeavesNothingOfLaterEntries();
    void heldPicturesBounded_data();
    void heldPicturesBounded();
    void changedFileReadAgain();
    void errorsAtTheirEntry();
};

void TestPipeline::sameFilesAsOneAtATime_data()
{
    QTest::addColumn<int>("percent");
    QTest::newRow("40") << 40;
    QTest::newRow("10") << 10;
    QTest::newRow("100") << 100;
}

// The whole list in one run (read ahead) against one run per entry (nothing to read
// ahead): every thumbnail and the scratch folder come out byte for byte the same.
void TestPipeline::sameFilesAsOneAtATime()
{
    QFETCH(int, percent);
    Sandbox together;
    Sandbox alone;
    QVERIFY(together.setUp() && alone.setUp());
    const QStringList listTogether = makeMixedList(together);
    const QStringList listAlone = makeMixedList(alone);
    QVERIFY(!listTogether.isEmpty() && !listAlone.isEmpty());

    FakeRunHost host;
    host.percent = percent;
    host.entries = int(listTogether.size());
    QVERIFY(ConversionRun::run({ listTogether, together.program.path() }, host));
    QVERIFY(!host.events.join('\n').contains("error"));

    for (const QString& entry : listAlone) {
        FakeRunHost single;
        single.percent = percent;
        single.entries = 1;
        QVERIFY(ConversionRun::run({ { entry }, alone.program.path() }, single));
    }

    const auto picsTogether = contents(together.pics.path());
    QCOMPARE(picsTogether, contents(alone.pics.path()));
    QCOMPARE(contents(together.program.path()), contents(alone.program.path()));
    for (const char* name : { "ttj0.jpg", "tlater.jpg", "ttw0.webp", "ttf0.tif", "ta0.gif" })
        QVERIFY2(picsTogether.contains(name), name);
}

void TestPipeline::stopLeavesNothingOfLaterEntries()
{
    Sandbox box;
    QVERIFY(box.setUp());
    QStringList list;
    for (int i = 0; i < 6; ++i) {
        const QString name = QStringLiteral("a%1.jpg").arg(i);
        QVERIFY(photo(200, 150, i).save(box.pic(name), "JPG"));
        list << box.pic(name);
    }
    QFile bad(box.pic("bad.bmp"));
    QVERIFY(bad.open(QIODevice::WriteOnly));
    bad.write("BM but nothing else");
    bad.close();
    list.insert(2, box.pic("bad.bmp"));
    const auto before = contents(box.pics.path());

    FakeRunHost host;
    host.entries = int(list.size());
    QVERIFY(!ConversionRun::run({ list, box.program.path() }, host));

    // Three progress steps, then the error of the third entry, and nothing after it.
    QCOMPARE(host.events.size(), 4);
    QCOMPARE(host.events.count("progress"), 3);
    QVERIFY(host.events.last().startsWith("error ") && host.events.last().contains("bad.bmp"));
    auto after = contents(box.pics.path());
    QVERIFY(after.remove("ta0.jpg") && after.remove("ta1.jpg"));
    QCOMPARE(after, before);
    QCOMPARE(QDir(box.program.path()).entryList(QDir::Files | QDir::Hidden).size(), 3);
}

void TestPipeline::heldPicturesBounded_data()
{
    QTest::addColumn<int>("workers");
    QTest::addColumn<int>("maxHeld");
    QTest::addColumn<qint64>("maxBytes");
    QTest::addColumn<int>("bound"); // results held or being made, at most
    QTest::newRow("by count") << 2 << 3 << anyBytes << 3;
    // A worker begins while less than 800 bytes are held, a picture being made counted as
    // the largest yet (400): two pictures, made at once.
    QTest::newRow("by bytes") << 2 << 100 << qint64(800) << 2;
}

// However fast the workers are, they never hold more than allowed ahead of the entry last
// taken; each worker is told its own number, the taker 0.
void TestPipeline::heldPicturesBounded()
{
    QFETCH(int, workers);
    QFETCH(int, maxHeld);
    QFETCH(qint64, maxBytes);
    QFETCH(int, bound);
    const int count = 40;
    QStringList paths;
    for (int i = 0; i < count; ++i)
        paths << QString::number(i);
    std::atomic<int> startedAhead { 0 };
    std::atomic<int> takesBegun { 0 };
    std::atomic<int> worstLead { 0 };
    std::atomic<bool> wrongNumber { false };
    const auto mainThread = std::this_thread::get_id();
    DecodeAhead ahead(
        paths, std::vector<bool>(count, true),
        [&](const QString& path, int worker) {
            if (std::this_thread::get_id() != mainThread) {
                const int lead = ++startedAhead - takesBegun;
                int worst = worstLead;
                while (lead > worst && !worstLead.compare_exchange_weak(worst, lead)) { }
            }
            if ((std::this_thread::get_id() == mainThread) != (worker == 0) || worker > workers)
                wrongNumber = true;
            QImage image(100, 1, QImage::Format_RGB32);
            image.fill(path.toUInt());
            return held(image);
        },
        workers, maxHeld, maxBytes);
    // Let the workers fill what they may before anything is taken.
    QTRY_COMPARE(startedAhead.load(), bound);
    for (int i = 0; i < count; ++i) {
        ++takesBegun;
        QCOMPARE(ahead.take(i).picture.image.pixel(0, 0) & 0xffffffu, quint32(i));
    }
    QVERIFY(worstLead.load() <= bound);
    QVERIFY(!wrongNumber);
}

// A file rewritten after it was read ahead (as a thumbnail is, when listed after its
// source) is read again; a read ahead that ran out of memory is tried again.
void TestPipeline::changedFileReadAgain()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("picture");
    const auto write = [&](const QByteArray& bytes) {
        QFile f(path);
        return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
    };
    QVERIFY(write("1234"));
    std::atomic<int> reads { 0 };
    std::atomic<bool> starveWorkers { false };
    const auto mainThread = std::this_thread::get_id();
    const auto decode = [&](const QString& p, int) {
        ++reads;
        if (starveWorkers && std::this_thread::get_id() != mainThread)
            throw std::bad_alloc();
        QFile f(p);
        if (!f.open(QIODevice::ReadOnly))
            throw AppError(ErrorNumber::FileNotFound, "File not found: " + p);
        return held(QImage(int(f.size()), 1, QImage::Format_RGB32));
    };
    {
        DecodeAhead ahead({ path }, { true }, decode, 1, 1, anyBytes);
        QTRY_COMPARE(reads.load(), 1);
        QVERIFY(write("123456789"));
        QCOMPARE(ahead.take(0).picture.image.width(), 9);
    }
    {
        reads = 0;
        DecodeAhead ahead({ path }, { true }, decode, 1, 1, anyBytes);
        QTRY_COMPARE(reads.load(), 1);
        QVERIFY(QFile::remove(path));
        QVERIFY_THROWS_EXCEPTION(AppError, ahead.take(0));
    }
    {
        reads = 0;
        starveWorkers = true;
        QVERIFY(write("12"));
        DecodeAhead ahead({ path }, { true }, decode, 1, 1, anyBytes);
        QTRY_COMPARE(reads.load(), 1);
        QCOMPARE(ahead.take(0).picture.image.width(), 2);
    }
}

// An entry's failure reaches the caller at that entry only, with its own error; entries
// not eligible are never read ahead.
void TestPipeline::errorsAtTheirEntry()
{
    const QStringList paths { "ok", "bad", "skip", "ok" };
    std::mutex mutex;
    QStringList readPaths;
    DecodeAhead ahead(
        paths, { true, true, false, true },
        [&](const QString& p, int) {
            {
                const std::lock_guard lock(mutex);
                readPaths << p;
            }
            if (p == "bad")
                throw AppError(ErrorNumber::InvalidPicture, "Invalid picture: " + p);
            return held(QImage(3, 3, QImage::Format_RGB32));
        },
        DecodeAhead::defaultWorkers(), 2, anyBytes);
    QCOMPARE(ahead.take(0).picture.image.width(), 3);
    try {
        ahead.take(1);
        QFAIL("the failed entry gave a picture");
    } catch (const AppError& e) {
        QCOMPARE(e.number(), int(ErrorNumber::InvalidPicture));
        QCOMPARE(e.description(), QStringLiteral("Invalid picture: bad"));
    }
    QCOMPARE(ahead.take(3).picture.image.width(), 3);
    const std::lock_guard lock(mutex);
    QVERIFY(!readPaths.contains("skip"));
    QCOMPARE(readPaths.count("ok"), 2);
}

QTEST_GUILESS_MAIN(TestPipeline)
#include "tst_pipeline.moc"
