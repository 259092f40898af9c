// SPDX-License-Identifier: MIT

#include "background/WhiteSlider.h"
#include "runtime/AppError.h"

#include <QGuiApplication>
#include <QImage>
#include <QPalette>
#include <QTest>
#include <limits>
#include <vector>

using namespace WhiteSlider;

namespace {

constexpr qint32 Max = std::numeric_limits<qint32>::max();
constexpr qint32 Min = std::numeric_limits<qint32>::min();

} // namespace

class TestColors : public QObject
{
    Q_OBJECT

private slots:
    void translateColor();
    void colorToVertex_data();
    void colorToVertex();
    void shiftColor_data();
    void shiftColor();
    void shiftByZeroKeepsPlainColours();
    void fadeSequence();
    void gradient_data();
    void gradient();
    void gradientRefusalsAndClipping();
};

void TestColors::translateColor()
{
    QCOMPARE(TranslateColor(0xFFFFFF), 0xFFFFFFu);
    QCOMPARE(TranslateColor(0x123456), 0x123456u);

    // System colours follow the palette as it is now; red lands in the low byte.
    QPalette palette = QGuiApplication::palette();
    palette.setColor(QPalette::Button, QColor(0x10, 0x20, 0x30));
    palette.setColor(QPalette::Base, QColor(0x40, 0x50, 0x60));
    palette.setColor(QPalette::Text, QColor(0x70, 0x80, 0x90));
    QGuiApplication::setPalette(palette);
    QCOMPARE(TranslateColor(0x8000000F), 0x302010u);
    QCOMPARE(TranslateColor(0x80000005), 0x605040u);
    QCOMPARE(TranslateColor(0x80000008), 0x908070u);
    palette.setColor(QPalette::Button, QColor(0xAB, 0xCD, 0xEF));
    QGuiApplication::setPalette(palette);
    QCOMPARE(TranslateColor(ButtonFace), 0xEFCDABu);

    QCOMPARE(TranslateColor(0x80000063), 0u); // an index the desktop has nothing for
}

void TestColors::colorToVertex_data()
{
    QTest::addColumn<quint32>("color");
    QTest::addColumn<int>("red"); // -1: refused with error 5
    QTest::addColumn<int>("green");
    QTest::addColumn<int>("blue");

    QTest::newRow("0x123456") << 0x123456u << 0x5600 << 0x3400 << 0x1200;
    QTest::newRow("red only") << 0xFFu << 0xFF00 << 0 << 0;
    QTest::newRow("black") << 0u << 0 << 0 << 0;
    QTest::newRow("white keeps 0xFF00") << 0xFFFFFFu << 0xFF00 << 0xFF00 << 0xFF00;
    QTest::newRow("short hex text") << 0x00A00Bu << 0x0B00 << 0xA000 << 0;
    QTest::newRow("seven digits") << 0x1000000u << -1 << 0 << 0;
    QTest::newRow("system colour") << ButtonFace << -1 << 0 << 0;
    QTest::newRow("all bits") << 0xFFFFFFFFu << -1 << 0 << 0;
}

void TestColors::colorToVertex()
{
    QFETCH(quint32, color);
    QFETCH(int, red);
    QFETCH(int, green);
    QFETCH(int, blue);

    try {
        const VertexColor v = ColorToVertex(color);
        QVERIFY2(red >= 0, "accepted a colour above 0xFFFFFF");
        QCOMPARE(v, (VertexColor { quint16(red), quint16(green), quint16(blue) }));
    } catch (const AppError& e) {
        QCOMPARE(red, -1);
        QCOMPARE(e.number(), int(ErrorNumber::InvalidCall));
    }
}

void TestColors::shiftColor_data()
{
    QTest::addColumn<quint32>("color");
    QTest::addColumn<qint32>("amount");
    QTest::addColumn<quint32>("expected"); // ignored where an error is expected
    QTest::addColumn<int>("error");

    QTest::newRow("black by 64, no blue") << 0x000000u << 64 << 0x004040u << 0;
    QTest::newRow("blue scaled by itself") << 0x600000u << 96 << 0x906060u << 0;
    QTest::newRow("all cut to 255") << 0x808080u << 255 << 0xFFFFFFu << 0;
    QTest::newRow("mixed") << 0xC08040u << 100 << 0xFFE4A4u << 0;
    QTest::newRow("darker, toward zero") << 0xFFFFFFu << -10 << 0xF2F5F5u << 0;
    QTest::newRow("darker") << 0x204060u << -32 << 0x1B2040u << 0;
    QTest::newRow("cut to 0") << 0x102030u << -255 << 0x000000u << 0;
    QTest::newRow("max amount fits") << 0u << Max << 0x00FFFFu << 0;
    // A value with bit 31 set is negative: its blue comes out as -1, which only a darkening
    // shift clamps.
    QTest::newRow("negative blue, brighter") << 0xFFFF0000u << 10 << 0xFFFF0A0Au << 0;
    QTest::newRow("negative blue, darker") << 0xFFFF0000u << -10 << 0u << 0;
    QTest::newRow("red overflows") << 0x000001u << Max << 0u << int(ErrorNumber::Overflow);
    QTest::newRow("blue product overflows")
        << 0x800000u << (1 << 24) << 0u << int(ErrorNumber::Overflow);
    QTest::newRow("blue times min") << 0x020000u << Min << 0u << int(ErrorNumber::Overflow);
}

void TestColors::shiftColor()
{
    QFETCH(quint32, color);
    QFETCH(qint32, amount);
    QFETCH(quint32, expected);
    QFETCH(int, error);

    try {
        const quint32 shifted = ShiftColor(color, amount);
        QCOMPARE(error, 0);
        QCOMPARE(shifted, expected);
    } catch (const AppError& e) {
        QCOMPARE(e.number(), error);
    }
}

void TestColors::shiftByZeroKeepsPlainColours()
{
    for (quint32 color = 0; color <= 0xFFFFFF; color += 0x010307) {
        if (ShiftColor(color, 0) != color)
            QFAIL(qPrintable(QString::number(color, 16)));
    }
    QCOMPARE(ShiftColor(0xFFFFFF, 0), 0xFFFFFFu);
}

// With a step of 16 the level climbs 16 ... 240, is cut to 255, falls 239 ... 15, is cut to 0
// and climbs again. A step of 0 never moves it.
void TestColors::fadeSequence()
{
    std::vector<int> expected;
    for (int level = 16; level <= 240; level += 16)
        expected.push_back(level);
    expected.push_back(255);
    for (int level = 239; level >= 15; level -= 16)
        expected.push_back(level);
    expected.push_back(0);
    expected.push_back(16);

    FadeState fade;
    for (const int level : expected) {
        StepFade(fade, 16);
        QCOMPARE(fade.level, level);
    }

    FadeState still;
    for (int i = 0; i < 3; ++i)
        StepFade(still, 0);
    QCOMPARE(still.level, 0);

    for (const qint32 step : { Max, Min, -7 }) {
        FadeState odd;
        for (int i = 0; i < 5; ++i) {
            StepFade(odd, step);
            QVERIFY(odd.level >= 0 && odd.level <= 255);
        }
    }
}

void TestColors::gradient_data()
{
    QTest::addColumn<qint32>("direction");
    QTest::addColumn<QSize>("size");
    QTest::newRow("horizontal") << 0 << QSize(425, 41);
    QTest::newRow("vertical") << 1 << QSize(425, 41);
    QTest::newRow("vertical, one row") << 1 << QSize(7, 1);
}

// Colour 1 on the first column or row, colour 2 on the last, steady in between, and every
// line across the direction in one colour.
void TestColors::gradient()
{
    QFETCH(qint32, direction);
    QFETCH(QSize, size);

    QImage image(size, QImage::Format_RGB32);
    FillGradient(image, 0, 0, size.width(), size.height(), 0x10FF20, 0xF00030, direction);

    const auto at = [&](int along, int across) {
        return direction == 0 ? image.pixel(along, across) : image.pixel(across, along);
    };
    const int steps = direction == 0 ? size.width() : size.height();
    const int across = direction == 0 ? size.height() : size.width();
    QCOMPARE(at(0, 0), qRgb(0x20, 0xFF, 0x10));
    if (steps > 1)
        QCOMPARE(at(steps - 1, 0), qRgb(0x30, 0x00, 0xF0));
    for (int i = 0; i < steps; ++i) {
        for (int j = 1; j < across; ++j)
            QCOMPARE(at(i, j), at(i, 0));
        if (i > 0) {
            QVERIFY(qRed(at(i, 0)) >= qRed(at(i - 1, 0)));
            QVERIFY(qGreen(at(i, 0)) <= qGreen(at(i - 1, 0)));
        }
    }
    if (steps > 100) // half way is half way, within the low byte lost
        QVERIFY(qAbs(qGreen(at(steps / 2, 0)) - 0x7F) <= 1);
}

void TestColors::gradientRefusalsAndClipping()
{
    QImage image(20, 10, QImage::Format_RGB32);
    image.fill(Qt::magenta);
    const QImage untouched = image;
    FillGradient(image, 0, 0, 20, 10, 0xFFFFFF, 0, 2); // a direction the fill refuses
    FillGradient(image, 0, 0, -5, 10, 0xFFFFFF, 0, 0);
    FillGradient(image, 0, 0, 20, 0, 0xFFFFFF, 0, 1);
    QCOMPARE(image, untouched);

    // Only the part inside the surface is filled, but the gradient spans the whole rectangle.
    FillGradient(image, -10, 4, 20, 100, 0x0000FF, 0x00FF00, 0);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            QCOMPARE(image.pixel(x, y) != qRgb(255, 0, 255), y >= 4 && x < 10);
    QVERIFY(qRed(image.pixel(0, 4)) < 200 && qGreen(image.pixel(0, 4)) > 60);

    // A colour without a vertex form is taken as black; the other end is unaffected.
    QImage bad(5, 1, QImage::Format_RGB32);
    FillGradient(bad, 0, 0, 5, 1, 0x1000000, 0xFFFFFF, 0);
    QCOMPARE(bad.pixel(0, 0), qRgb(0, 0, 0));
    QCOMPARE(bad.pixel(4, 0), qRgb(255, 255, 255));
}

QTEST_MAIN(TestColors)
#include "tst_colors.moc"
