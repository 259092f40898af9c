// SPDX-License-Identifier: MIT

#include "conversion/PictureScaling.h"

#include <QTest>

using namespace PictureScaling;

class TestPictureScaling : public QObject
{
    Q_OBJECT

private slots:
    void factorIsSinglePrecision();
    void sizes_data();
    void sizes();
    void zeroSidesStoredAsOnePixel();
    void exactSizeAndNoDarkEdges_data();
    void exactSizeAndNoDarkEdges();
    void fullSizeCopiesPixels();
    void averagesCoveredArea();
    void keepsMeanBrightness();
    void transparentPixelsDoNotBleed();
};

void TestPictureScaling::factorIsSinglePrecision()
{
    QCOMPARE(double(scaleFactor(40)), 0.4000000059604645);
    QCOMPARE(double(scaleFactor(1)), 0.009999999776482582);
    QCOMPARE(double(scaleFactor(33)), 0.33000001311302185);
    QCOMPARE(double(scaleFactor(50)), 0.5);
    QCOMPARE(double(scaleFactor(100)), 1.0);
}

void TestPictureScaling::sizes_data()
{
    QTest::addColumn<int>("percentage");
    QTest::addColumn<QSize>("picture");
    QTest::addColumn<QSize>("thumbnail");

    QTest::newRow("40: products just above round down") << 40 << QSize(640, 480) << QSize(256, 192);
    QTest::newRow("50: ties go to even") << 50 << QSize(101, 75) << QSize(50, 38);
    QTest::newRow("25: 2.5 and 1.5 to even") << 25 << QSize(10, 6) << QSize(2, 2);
    QTest::newRow("1: factor below 0.01") << 1 << QSize(150, 49) << QSize(1, 0);
    QTest::newRow("100: unchanged") << 100 << QSize(640, 480) << QSize(640, 480);
    QTest::newRow("33 on a 12 MP photo") << 33 << QSize(4000, 3000) << QSize(1320, 990);
    QTest::newRow("10: one pixel wide") << 10 << QSize(1, 1000) << QSize(0, 100);
}

void TestPictureScaling::sizes()
{
    QFETCH(int, percentage);
    QFETCH(QSize, picture);
    QFETCH(QSize, thumbnail);
    QCOMPARE(thumbnailSize(picture, scaleFactor(percentage)), thumbnail);
}

void TestPictureScaling::zeroSidesStoredAsOnePixel()
{
    QCOMPARE(storedSize(QSize(1, 0)), QSize(1, 1));
    QCOMPARE(storedSize(QSize(0, 100)), QSize(1, 100));
    QCOMPARE(storedSize(QSize(256, 192)), QSize(256, 192));

    QImage tall(1, 1000, QImage::Format_RGB32);
    tall.fill(qRgb(10, 200, 30));
    const QImage scaled = scale(tall, storedSize(thumbnailSize(tall.size(), scaleFactor(10))));
    QCOMPARE(scaled.size(), QSize(1, 100));
    QCOMPARE(scaled.pixel(0, 50), qRgb(10, 200, 30));
}

void TestPictureScaling::exactSizeAndNoDarkEdges_data()
{
    QTest::addColumn<QSize>("source");
    QTest::addColumn<QSize>("target");

    QTest::newRow("2:1") << QSize(640, 480) << QSize(320, 240);
    QTest::newRow("odd ratio") << QSize(101, 75) << QSize(50, 38);
    QTest::newRow("primes") << QSize(997, 409) << QSize(331, 127);
    QTest::newRow("just below source") << QSize(64, 64) << QSize(63, 61);
    QTest::newRow("to one pixel") << QSize(150, 49) << QSize(1, 1);
    QTest::newRow("1xN") << QSize(1, 777) << QSize(1, 311);
    QTest::newRow("Nx1") << QSize(777, 1) << QSize(311, 1);
    QTest::newRow("enlarged") << QSize(10, 10) << QSize(15, 12);
}

// A uniform picture must stay uniform: edge rows or columns that lose weight come out
// darker, which is what sloppy boundary handling does.
void TestPictureScaling::exactSizeAndNoDarkEdges()
{
    QFETCH(QSize, source);
    QFETCH(QSize, target);
    QImage image(source, QImage::Format_RGB32);
    image.fill(qRgb(255, 255, 255));
    const QImage scaled = scale(image, target);
    QCOMPARE(scaled.size(), target);
    QCOMPARE(scaled.format(), QImage::Format_RGB32);
    for (int y = 0; y < scaled.height(); ++y)
        for (int x = 0; x < scaled.width(); ++x)
            QCOMPARE(scaled.pixel(x, y), qRgb(255, 255, 255));
}

void TestPictureScaling::fullSizeCopiesPixels()
{
    QImage image(37, 23, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, qRgb(x * 7, y * 11, (x * y) & 255));
    QCOMPARE(scale(image, image.size()), image);
}

void TestPictureScaling::averagesCoveredArea()
{
    // Four columns to two: each target pixel is the mean of two whole source pixels.
    QImage stripes(4, 1, QImage::Format_RGB32);
    stripes.setPixel(0, 0, qRgb(0, 0, 0));
    stripes.setPixel(1, 0, qRgb(200, 100, 50));
    stripes.setPixel(2, 0, qRgb(100, 100, 100));
    stripes.setPixel(3, 0, qRgb(100, 100, 100));
    QImage half = scale(stripes, QSize(2, 1));
    QCOMPARE(half.pixel(0, 0), qRgb(100, 50, 25));
    QCOMPARE(half.pixel(1, 0), qRgb(100, 100, 100));

    // Three columns to two: the middle pixel is shared half and half.
    QImage three(3, 1, QImage::Format_RGB32);
    three.setPixel(0, 0, qRgb(0, 0, 0));
    three.setPixel(1, 0, qRgb(90, 90, 90));
    three.setPixel(2, 0, qRgb(180, 180, 180));
    QImage two = scale(three, QSize(2, 1));
    QCOMPARE(two.pixel(0, 0), qRgb(30, 30, 30)); // (0 + 0.5 * 90) / 1.5
    QCOMPARE(two.pixel(1, 0), qRgb(150, 150, 150)); // (0.5 * 90 + 180) / 1.5

    // The same in the other direction.
    QImage column = three.transformed(QTransform().rotate(90));
    QImage rows = scale(column, QSize(1, 2));
    QCOMPARE(rows.pixel(0, 0), qRgb(30, 30, 30));
    QCOMPARE(rows.pixel(0, 1), qRgb(150, 150, 150));
}

void TestPictureScaling::keepsMeanBrightness()
{
    // A fine checkerboard averages to mid-grey; sampling would give black or white.
    QImage board(400, 300, QImage::Format_RGB32);
    for (int y = 0; y < board.height(); ++y)
        for (int x = 0; x < board.width(); ++x)
            board.setPixel(x, y, (x + y) % 2 ? qRgb(255, 255, 255) : qRgb(0, 0, 0));
    const QImage scaled = scale(board, thumbnailSize(board.size(), scaleFactor(33)));
    QCOMPARE(scaled.size(), QSize(132, 99));
    double sum = 0;
    for (int y = 0; y < scaled.height(); ++y)
        for (int x = 0; x < scaled.width(); ++x) {
            const int grey = qGray(scaled.pixel(x, y));
            // One covered area holds at most one pixel more of one colour than the other.
            QVERIFY2(grey > 90 && grey < 165, qPrintable(QString::number(grey)));
            sum += grey;
        }
    QVERIFY(qAbs(sum / (scaled.width() * scaled.height()) - 127.5) < 1.0);

    // Whole 10 x 10 blocks hold exactly as much white as black.
    const QImage tenth = scale(board, thumbnailSize(board.size(), scaleFactor(10)));
    QCOMPARE(tenth.size(), QSize(40, 30));
    for (int y = 0; y < tenth.height(); ++y)
        for (int x = 0; x < tenth.width(); ++x)
            QVERIFY(qAbs(qGray(tenth.pixel(x, y)) - 128) <= 1);
}

void TestPictureScaling::transparentPixelsDoNotBleed()
{
    QImage image(2, 1, QImage::Format_ARGB32);
    image.setPixel(0, 0, qRgba(255, 0, 0, 0)); // invisible red
    image.setPixel(1, 0, qRgba(0, 0, 255, 255));
    const QImage scaled = scale(image, QSize(1, 1));
    QCOMPARE(scaled.format(), QImage::Format_ARGB32);
    const QRgb p = scaled.pixel(0, 0);
    QCOMPARE(qRed(p), 0);
    QCOMPARE(qBlue(p), 255);
    QVERIFY(qAbs(qAlpha(p) - 128) <= 1);
}

QTEST_GUILESS_MAIN(TestPictureScaling)
#include "tst_picturescaling.moc"
